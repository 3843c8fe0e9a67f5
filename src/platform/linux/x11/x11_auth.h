// The authorization a client shows the X server in its connection set-up,
// taken from the user's authority file as xcb takes it: the socket is ours,
// so xcb is handed the entry instead of finding it itself.
#pragma once

#include <optional>
#include <string>

namespace platform::x11 {

struct Authorization {
  std::string name;  // the protocol, MIT-MAGIC-COOKIE-1
  std::string data;  // the cookie
};

// The entry for display number `display` of the server at the other end of
// `fd`; none when libXau is missing or the file has no such entry (the
// server may well need none).
std::optional<Authorization> authorizationFor(int fd, int display);

}  // namespace platform::x11
