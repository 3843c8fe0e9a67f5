// Whether an X server answers at all. libxcb waits without limit for the
// answer to its connection set-up, and a server that is alive but stopped
// accepts the connection yet never gives one; so the server is asked once on
// a socket of our own first.
#pragma once

#include <chrono>
#include <string>

namespace platform::x11 {

// True when the server of `display` on `host` (as xcb_parse_display gives
// them) answers a connection set-up within `wait`, whatever the answer. It is
// found where libxcb looks: for a local display the abstract unix socket, then
// the socket file, then TCP on this machine; for a named host, TCP.
bool serverAnswers(const std::string& host, int display, std::chrono::milliseconds wait);

}  // namespace platform::x11
