// The i3-style framing: "i3-ipc", the payload's length and the message type
// (32 bits each, native order), then JSON. GET_TREE answers with the whole
// tree, whose view nodes carry "pid", "app_id" (null under XWayland),
// "name" (the title), "window_properties"."class" and "focused".

#include "platform/linux/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/linux/wayland/json_scan.h"
#include "platform/linux/wayland/wire.h"

namespace platform::wayland {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;
constexpr std::uint32_t kGetTree = 4;
constexpr std::uint32_t kLargestTree = 64 << 20;

int socketFd = -1;

void giveUp() {
  if (socketFd >= 0) close(socketFd);
  socketFd = -1;
}

// sway says nothing unasked: a connection that is readable between
// questions has been closed (sway has gone), and is made anew.
bool connectOnce() {
  pollfd entry{socketFd, POLLIN, 0};
  if (socketFd >= 0 && poll(&entry, 1, 0) == 0) return true;
  giveUp();
  const char* path = std::getenv("SWAYSOCK");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, std::strlen(path));
  socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socketFd < 0 || connect(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    giveUp();
    return false;
  }
  return true;
}

// Moves `size` bytes through the socket before `deadline`: sends `out` when
// it is set, else reads into `in`.
bool transfer(const char* out, char* in, std::size_t size, Clock::time_point deadline) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = out != nullptr ? send(socketFd, out + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                                     : recv(socketFd, in + done, size - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{socketFd, static_cast<short>(out != nullptr ? POLLOUT : POLLIN), 0};
    if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) == 0) return false;
  }
  return true;
}

std::optional<std::string> tree() {
  if (!connectOnce()) return std::nullopt;
  const Clock::time_point deadline = Clock::now() + kReplyWait;
  char header[kHeader];
  std::memcpy(header, kMagic, sizeof kMagic);
  const std::uint32_t words[2] = {0, kGetTree};
  std::memcpy(header + sizeof kMagic, words, sizeof words);
  std::uint32_t reply[2];
  if (transfer(header, nullptr, kHeader, deadline) && transfer(nullptr, header, kHeader, deadline)) {
    std::memcpy(reply, header + sizeof kMagic, sizeof reply);
    if (std::memcmp(header, kMagic, sizeof kMagic) == 0 && reply[1] == kGetTree && reply[0] <= kLargestTree) {
      std::string payload(reply[0], '\0');
      if (transfer(nullptr, payload.data(), payload.size(), deadline)) return payload;
    }
  }
  giveUp();
  return std::nullopt;
}

}  // namespace

std::int32_t swayFocusedPid(const std::string& appId, const std::string& title) {
  const std::optional<std::string> text = tree();
  if (!text) return -1;
  const std::optional<json::View> view = json::focusedView(*text);
  if (!view || view->pid <= 0 || view->pid > 0x7FFFFFFF) return -1;
  const std::string& shown = view->appId.empty() ? view->windowClass : view->appId;
  if (shown != appId || view->title != title) return -1;
  return static_cast<std::int32_t>(view->pid);
}

}  // namespace platform::wayland
