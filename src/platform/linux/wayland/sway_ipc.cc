// The i3-style framing: "i3-ipc", the payload's length and the message type
// (32 bits each, native order), then JSON. Two connections: one subscribed
// to window events, whose "focus" events carry the newly focused view with
// its "pid", "app_id" (null under XWayland), "name" (the title) and
// "window_properties"."class"; and one that asks for the whole tree
// (GET_TREE), where such an event has not come.

#include "platform/linux/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string_view>

#include "platform/linux/wayland/json_scan.h"
#include "platform/linux/wayland/wire.h"

namespace platform::wayland {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;
constexpr std::uint32_t kSubscribe = 2, kGetTree = 4, kWindowEvent = 0x80000003;
constexpr std::uint32_t kLargestMessage = 64 << 20;
// sway sends a focus event as it moves the focus, a moment after the
// window list's event or before it; a wait this long means it is not coming.
constexpr std::chrono::milliseconds kEventWait{100};

struct Message {
  std::uint32_t type;
  std::string payload;
};

struct Channel {
  int fd = -1;
  std::string in;  // received, not yet taken as messages
};

Channel questions;
Channel events;
std::deque<json::View> focused;  // from focus events not yet matched, oldest first

void closeChannel(Channel& c) {
  if (c.fd >= 0) close(c.fd);
  c.fd = -1;
  c.in.clear();
}

bool openChannel(Channel& c) {
  const char* path = std::getenv("SWAYSOCK");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, std::strlen(path));
  c.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (c.fd < 0 || connect(c.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    closeChannel(c);
    return false;
  }
  return true;
}

bool waitFor(int fd, short events, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd entry{fd, events, 0};
  const int ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
  return ready > 0 || (ready < 0 && errno == EINTR);
}

bool sendMessage(Channel& c, std::uint32_t type, std::string_view payload, Clock::time_point deadline) {
  std::string bytes(kMagic, sizeof kMagic);
  const std::uint32_t words[2] = {static_cast<std::uint32_t>(payload.size()), type};
  bytes.append(reinterpret_cast<const char*>(words), sizeof words);
  bytes.append(payload);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = send(c.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || !waitFor(c.fd, POLLOUT, deadline)) {
      return false;
    }
  }
  return true;
}

// Reads what has arrived, waiting until `deadline` for something; false
// when nothing came or the connection failed (then it is closed).
bool receive(Channel& c, Clock::time_point deadline) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      c.in.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    if (!waitFor(c.fd, POLLIN, deadline)) return false;
  }
  closeChannel(c);
  return false;
}

// The next whole message received, if any; a channel that does not speak
// the framing is closed.
std::optional<Message> takeMessage(Channel& c) {
  if (c.in.size() < kHeader) return std::nullopt;
  std::uint32_t words[2];
  std::memcpy(words, c.in.data() + sizeof kMagic, sizeof words);
  if (c.in.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0 || words[0] > kLargestMessage) {
    closeChannel(c);
    return std::nullopt;
  }
  if (c.in.size() - kHeader < words[0]) return std::nullopt;
  Message message{words[1], c.in.substr(kHeader, words[0])};
  c.in.erase(0, kHeader + words[0]);
  return message;
}

// The reply of type `type` on `c`, awaited until `deadline`.
std::optional<std::string> reply(Channel& c, std::uint32_t type, Clock::time_point deadline) {
  for (;;) {
    if (std::optional<Message> message = takeMessage(c)) {
      if (message->type == type) return std::move(message->payload);
      continue;
    }
    if (c.fd < 0 || !receive(c, deadline)) return std::nullopt;
  }
}

bool subscribed() {
  if (events.fd >= 0) return true;
  focused.clear();
  const Clock::time_point deadline = Clock::now() + kReplyWait;
  if (openChannel(events) && sendMessage(events, kSubscribe, R"(["window"])", deadline)) {
    const std::optional<std::string> answer = reply(events, kSubscribe, deadline);
    if (answer && answer->find("true") != std::string::npos) return true;
  }
  closeChannel(events);
  return false;
}

// Reads the events that arrive until `deadline` (at least one batch, when
// any comes) and keeps the views of the focus events; false when none came.
bool readEvents(Clock::time_point deadline) {
  if (events.fd < 0 || !receive(events, deadline)) return false;
  while (std::optional<Message> message = takeMessage(events)) {
    if (message->type != kWindowEvent) continue;
    std::optional<json::Event> event = json::windowEvent(message->payload);
    if (event && event->change == "focus" && event->view) focused.push_back(std::move(*event->view));
  }
  return true;
}

bool shows(const json::View& view, const std::string& appId, const std::string& title) {
  const std::string& shown = view.appId.empty() ? view.windowClass : view.appId;
  return shown == appId && view.title == title;
}

std::int32_t pidOf(const json::View& view) {
  return view.pid > 0 && view.pid <= 0x7FFFFFFF ? static_cast<std::int32_t>(view.pid) : -1;
}

// The latest focus event for the window, which uses up every event before it.
std::optional<std::int32_t> takeFocusEvent(const std::string& appId, const std::string& title) {
  for (auto it = focused.rbegin(); it != focused.rend(); ++it) {
    if (!shows(*it, appId, title)) continue;
    const std::int32_t pid = pidOf(*it);
    focused.erase(focused.begin(), it.base());
    return pid;
  }
  return std::nullopt;
}

// sway says nothing unasked on this connection: one that is readable between
// questions has been closed (sway has gone), and is made anew.
std::int32_t pidFromTree(const std::string& appId, const std::string& title) {
  pollfd entry{questions.fd, POLLIN, 0};
  if (questions.fd >= 0 && poll(&entry, 1, 0) != 0) closeChannel(questions);
  if (questions.fd < 0 && !openChannel(questions)) return -1;
  const Clock::time_point deadline = Clock::now() + kReplyWait;
  std::optional<std::string> tree;
  if (sendMessage(questions, kGetTree, {}, deadline)) tree = reply(questions, kGetTree, deadline);
  if (!tree) closeChannel(questions);
  const std::optional<json::View> view = tree ? json::focusedView(*tree) : std::nullopt;
  return view && shows(*view, appId, title) ? pidOf(*view) : -1;
}

}  // namespace

std::int32_t swayFocusedPid(const std::string& appId, const std::string& title) {
  const char* path = std::getenv("SWAYSOCK");
  if (path == nullptr || path[0] == '\0') return -1;
  // Just subscribed, no event has come yet: the tree tells.
  const bool wasSubscribed = events.fd >= 0;
  if (subscribed() && wasSubscribed) {
    readEvents(Clock::now());
    const Clock::time_point deadline = Clock::now() + kEventWait;
    do {
      if (const std::optional<std::int32_t> pid = takeFocusEvent(appId, title)) return *pid;
    } while (readEvents(deadline));
    focused.clear();
  }
  return pidFromTree(appId, title);
}

}  // namespace platform::wayland
