// A socket to an X server, opened by us rather than by xcb, so that every
// step of it has a bound: the name's resolution, the connection, and (in
// x11_connection.cc) the set-up that xcb then does on it.
#pragma once

#include <chrono>
#include <string>

namespace platform::x11 {

using Clock = std::chrono::steady_clock;

// A socket connected to the server of `display` on `host` (as
// xcb_parse_display gives them), or -1 when none is reached by `deadline`.
// It is found where xcb looks: for a local display the abstract unix socket,
// then the socket file, then TCP on this machine; for a named host, TCP; a
// protocol before the host ("tcp/host", "unix/") chooses between them. A
// host name is resolved on a resolver thread of the C library, given up at
// the deadline.
int connectToServer(std::string host, int display, Clock::time_point deadline);

// Milliseconds left until `deadline`, 0 once it has passed.
int millisecondsLeft(Clock::time_point deadline);

}  // namespace platform::x11
