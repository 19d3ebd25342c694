#include "commands/outgoing.h"

#include "commands/command_text.h"
#include "commands/secure_text.h"
#include "config/format.h"
#include "output/show_text.h"
#include "platform/ui_loop.h"
#include "sessions/send_queue.h"
#include "sessions/window_table.h"
#include "ui/frontend.h"

namespace vanta::commands {

using sessions::WindowTable;

namespace {

void TooLong(std::size_t length, int server, int report_window) {
  Report(report_window, server,
         config::Msg(1150, {static_cast<unsigned>(length), static_cast<unsigned>(kMaxProtocolLine)}),
         output::Colours().error);
}

}  // namespace

void SendLines(int server, std::string_view lines, int report_window) {
  while (!lines.empty()) {
    const std::size_t end = lines.find("\r\n");
    const std::size_t len = end == std::string_view::npos ? lines.size() : end + 2;
    const int overflows = sessions::QueueOverflows();
    const int result = sessions::SendToServer(lines.substr(0, len), server);
    if (result == 0 && sessions::QueueOverflows() != overflows) {
      Report(report_window, server, config::Msg(1154, {static_cast<unsigned>(lines.size())}),
             output::Colours().error);
      return;
    }
    lines.remove_prefix(len);
  }
}

bool SendLine(int server, std::string_view body, int report_window) {
  std::string line = ProtocolLine(body);
  if (line.size() - 2 > kMaxProtocolLine) {
    TooLong(line.size() - 2, server, report_window);
    return false;
  }
  SendLines(server, line, report_window);
  return true;
}

bool SendSplit(int server, std::string_view head, std::string_view text, std::string_view tail, int report_window) {
  const std::string h = ProtocolLine(head), t = ProtocolLine(tail), x = ProtocolLine(text);
  const std::string_view hv = StripLineEnd(h), tv = std::string_view(t).substr(0, t.size() - 2),
                         xv = std::string_view(x).substr(0, x.size() - 2);
  auto pieces = SplitToFit(hv, xv, tv);
  if (pieces.empty()) {
    TooLong(hv.size() + xv.size() + tv.size(), server, report_window);
    return false;
  }
  std::string lines;
  for (auto& p : pieces) {
    lines.append(hv);
    lines += p;
    lines.append(tv);
    lines += "\r\n";
  }
  SendLines(server, lines, report_window);
  return true;
}

long SendDccText(int m, std::string_view text) {
  auto slot = WindowTable::Get().Slot(m);
  if (!slot || slot->kind != sessions::kDccWindow) return 0;
  text = StripLineEnd(text.substr(0, text.find('\0')));
  if (slot->secure_message.load()) {
    std::string key;
    {
      std::lock_guard lock(slot->mutex);
      key = slot->secure_key;
    }
    std::string cipher = CipherEncrypt(text, key);
    if (cipher.size() > 0xFFFF) cipher.resize(0xFFFF);  // what the 16-bit length can carry
    std::string frame;
    frame += static_cast<char>(cipher.size() & 0xFF);
    frame += static_cast<char>((cipher.size() >> 8) & 0xFF);
    frame += cipher;
    return sessions::SendToDcc(m, frame.data(), frame.size());
  }
  const std::string line = std::string(text) + "\r\n";
  return sessions::SendToDcc(m, line.data(), line.size());
}

void Report(int window, int fallback, std::string_view text, uint32_t colour) {
  if (sessions::Valid(window) || sessions::Valid(fallback)) {
    output::ShowText(window, text, fallback, colour);
    return;
  }
  std::string copy(StripLineEnd(text));
  platform::UiLoop::Get().CallSync([&] { ui::Current().MessageBox(kProductName, copy); });
}

std::string OwnNickOf(int server) {
  if (WindowTable::Get().Kind(server) == sessions::kServerWindow)
    if (auto s = WindowTable::Get().Session(server)) {
      std::string nick = s->Get(&sessions::ServerSession::nick);
      if (!nick.empty()) return nick;
    }
  return "-Me-";
}

std::optional<std::string> AskTextOnUi(std::string_view title, std::string_view prompt, std::string_view initial,
                                       bool password) {
  std::optional<std::string> answer;
  const std::string t(title), p(prompt), i(initial);
  platform::UiLoop::Get().CallSync([&] { answer = ui::Current().AskText(t, p, i, password); });
  return answer;
}

void ActivateOnUi(int n) {
  platform::UiLoop::Get().CallSync([n] { WindowTable::Get().Activate(n); });
}

}  // namespace vanta::commands
