#include "platform/linux/x11/x11_probe.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

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

int connectTcp(std::string host, int display, Clock::time_point deadline) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  const std::string port = std::to_string(static_cast<std::uint16_t>(6000 + display));
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return -1;
  int fd = -1;
  for (const addrinfo* item = list; item != nullptr && fd < 0; item = item->ai_next) {
    fd = connectTo(item->ai_addr, item->ai_addrlen, deadline);
  }
  freeaddrinfo(list);
  return fd;
}

int connectToServer(const std::string& host, int display, Clock::time_point deadline) {
  if (!host.empty() && host != "unix") return connectTcp(host, display, deadline);
  const int fd = connectLocal(display, deadline);
  if (fd >= 0 || !host.empty()) return fd;
  return connectTcp("localhost", display, deadline);
}

// Sends a set-up request without authorization and waits for the first byte
// of the answer: success, refusal and a demand for authentication all show
// a server at work, and so does its closing the connection.
bool answers(int fd, Clock::time_point deadline) {
  const std::uint8_t byteOrder = std::endian::native == std::endian::little ? 'l' : 'B';
  std::uint8_t request[12] = {byteOrder};
  const std::uint16_t majorVersion = 11;  // minor version 0, no authorization
  std::memcpy(request + 2, &majorVersion, sizeof majorVersion);
  if (send(fd, request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) return false;
  return waitFor(fd, POLLIN, deadline);
}

}  // namespace

bool serverAnswers(const std::string& host, int display, std::chrono::milliseconds wait) {
  const Clock::time_point deadline = Clock::now() + wait;
  const int fd = connectToServer(host, display, deadline);
  if (fd < 0) return false;
  const bool answered = answers(fd, deadline);
  close(fd);
  return answered;
}

}  // namespace platform::x11
