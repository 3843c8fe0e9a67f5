#include "platform/linux/x11/x11_socket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::x11 {
namespace {

// False when the time runs out first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, millisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// A socket connected to `address`, or -1. The connection is made without
// blocking: a stopped server's full backlog, or a slow host, cannot hold it
// past the deadline.
int connectTo(const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, address, length) == 0) return fd;
  int error = errno;
  if (error == EINPROGRESS && waitFor(fd, POLLOUT, deadline)) {
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error == 0) return fd;
  }
  close(fd);
  return -1;
}

int connectLocal(int display, Clock::time_point deadline) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
  for (const std::size_t nameStart : {1, 0}) {  // the abstract name (a leading NUL) first
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (nameStart + path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path + nameStart, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + nameStart + path.size());
    const int fd = connectTo(reinterpret_cast<const sockaddr*>(&address), length, deadline);
    if (fd >= 0) return fd;
  }
  return -1;
}

// getaddrinfo's answer, or null when it fails or has not come by the
// deadline. The request runs on a thread of the C library's; one still
// running at the deadline is left to end on its own, and keeps its memory.
addrinfo* resolve(const std::string& host, const std::string& port, Clock::time_point deadline) {
  struct Request {
    std::string host, port;
    addrinfo hints{};
    gaicb block{};
  };
  auto* request = new Request{host, port};
  request->hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  request->hints.ai_socktype = SOCK_STREAM;
  request->block.ar_name = request->host.c_str();
  request->block.ar_service = request->port.c_str();
  request->block.ar_request = &request->hints;
  gaicb* list[] = {&request->block};
  if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
    delete request;
    return nullptr;
  }
  while (gai_error(&request->block) == EAI_INPROGRESS) {
    const int left = millisecondsLeft(deadline);
    if (left == 0) {
      if (gai_cancel(&request->block) == EAI_NOTCANCELED) return nullptr;
      break;
    }
    const timespec wait{left / 1000, (left % 1000) * 1000000L};
    const gaicb* waited[] = {&request->block};
    gai_suspend(waited, 1, &wait);
  }
  addrinfo* result = gai_error(&request->block) == 0 ? request->block.ar_result : nullptr;
  delete request;
  return result;
}

int connectTcp(std::string host, int display, Clock::time_point deadline) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = std::to_string(static_cast<std::uint16_t>(6000 + display));
  addrinfo* list = resolve(host, port, deadline);
  int fd = -1;
  for (const addrinfo* item = list; item != nullptr && fd < 0; item = item->ai_next) {
    fd = connectTo(item->ai_addr, item->ai_addrlen, deadline);
  }
  if (list != nullptr) freeaddrinfo(list);
  return fd;
}

}  // namespace

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int connectToServer(std::string host, int display, Clock::time_point deadline) {
  // A protocol before the host ("tcp/host"): unix means this machine's
  // socket, any other TCP.
  const std::size_t slash = host.rfind('/');
  if (slash != std::string::npos) {
    const bool local = host.compare(0, slash, "unix") == 0;
    host = host.substr(slash + 1);
    if (local) return connectLocal(display, deadline);
    return connectTcp(host.empty() ? "localhost" : host, display, deadline);
  }
  if (!host.empty() && host != "unix") return connectTcp(host, display, deadline);
  const int fd = connectLocal(display, deadline);
  if (fd >= 0 || !host.empty()) return fd;
  return connectTcp("localhost", display, deadline);
}

}  // namespace platform::x11
