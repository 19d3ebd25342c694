// Matches per second for typical address masks and for hostile patterns, plus the cost of
// per-token matching and token extraction. Ratios printed side by side are what to compare;
// the absolute numbers depend on the machine.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "dispatch/masks.h"

namespace {

using Clock = std::chrono::steady_clock;
using vanta::dispatch::Match;
using vanta::dispatch::MaskMatch;
using vanta::dispatch::Token;

volatile long g_sink = 0;  // keeps the optimiser from dropping the calls

template <typename F>
double PerSecond(F&& call, long iterations) {
  const auto start = Clock::now();
  long sum = 0;
  for (long i = 0; i < iterations; ++i) sum += call();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  g_sink = g_sink + sum;
  return seconds > 0 ? static_cast<double>(iterations) / seconds : 0;
}

}  // namespace

int main() {
  const std::vector<std::string> addresses = {
      "nick!~user@host-10-1-2-3.dsl.example.net", "SomeNick!ident@10.1.2.3",
      "bot|away!bot@services.example.org",         "x!y@2001:db8::1",
  };
  const std::vector<std::string> masks = {"*!*@*.example.net", "somenick!*@*", "*!*@10.1.2.*",
                                          "bot?away!*@*", "*!*@*.example.com"};
  const long typical_iterations = 2000000;
  std::size_t k = 0;
  const double typical = PerSecond(
      [&] {
        const std::string& a = addresses[k % addresses.size()];
        const std::string& m = masks[(k / addresses.size()) % masks.size()];
        ++k;
        return static_cast<long>(Match(a, m, false));
      },
      typical_iterations);

  const std::string line = ":nick!user@host.example.com PRIVMSG #channel :hello there, how are you";
  const double per_token = PerSecond(
      [&] { return static_cast<long>(MaskMatch(line, "* PRIVMSG #channel *", false, false)); },
      typical_iterations / 2);

  std::string token;
  const double tokens = PerSecond([&] { return static_cast<long>(Token(line, 3, token)); },
                                  typical_iterations);

  // Hostile: a star-heavy pattern that can never match, against 1000 and 10000 bytes of "a".
  const std::string a1k(1000, 'a');
  const std::string a10k(10000, 'a');
  const std::string evil = "*a*a*a*a*a*a*a*b";
  const double hostile_1k = PerSecond([&] { return static_cast<long>(Match(a1k, evil, false)); }, 20000);
  const double hostile_10k = PerSecond([&] { return static_cast<long>(Match(a10k, evil, false)); }, 2000);
  // Hostile and matching at the very end only: the last segment is retried at every start.
  const std::string tail = std::string(10000, 'a') + "b";
  const double retry_10k =
      PerSecond([&] { return static_cast<long>(Match(tail, "*aaaaaaaaaaaaaaaab", false)); }, 2000);

  std::printf("typical nick!user@host masks: %12.0f matches/s\n", typical);
  std::printf("per-token line mask:          %12.0f matches/s (%.2f x typical)\n", per_token,
              per_token / typical);
  std::printf("token 3 of a line:            %12.0f tokens/s\n", tokens);
  std::printf("pathological, 1000 bytes:     %12.0f matches/s\n", hostile_1k);
  std::printf("pathological, 10000 bytes:    %12.0f matches/s (%.2f x the 1000-byte rate; 0.1 = linear)\n",
              hostile_10k, hostile_10k / hostile_1k);
  std::printf("segment retry, 10000 bytes:   %12.0f matches/s\n", retry_10k);
  return 0;
}
