#include "sessions/server_session.h"

#include "platform/net.h"

namespace vanta::sessions {

namespace {
std::string Cut(std::string_view v, std::size_t cap) { return std::string(v.substr(0, cap - 1)); }
}  // namespace

std::shared_ptr<ServerSession> MakeSession(std::string_view address, uint16_t port, std::string_view nick,
                                           std::string_view email, std::string_view full_name,
                                           std::string_view password) {
  auto s = std::make_shared<ServerSession>();
  s->address_as_entered = Cut(address, ServerSession::kAddress);
  s->address_list = s->address_as_entered;
  s->current_host = Cut(address.substr(0, address.find(' ')), ServerSession::kHost);
  s->port.store(port ? port : 6667);
  s->nick = Cut(nick, ServerSession::kName);
  s->email = Cut(email, ServerSession::kQuoted);
  s->user_name = Cut(email.substr(0, email.find('@')), ServerSession::kQuoted);
  s->full_name = Cut(full_name, ServerSession::kName);
  s->password = Cut(password, ServerSession::kName);
  s->quoted_local_host = Cut("\"" + platform::net::HostName() + "\"", ServerSession::kQuoted);
  s->quoted_server_address = Cut("\"" + s->current_host + "\"", ServerSession::kQuoted);
  return s;
}

}  // namespace vanta::sessions
