#include "platform/linux/wayland/wire.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform::wayland {
namespace {

constexpr std::uint32_t kDisplay = 1;
constexpr std::uint16_t kSync = 0, kGetRegistry = 1;                 // wl_display requests
constexpr std::uint16_t kError = 0, kDeleteId = 1;                   // wl_display events
constexpr std::uint16_t kGlobal = 0, kGlobalRemove = 1;              // wl_registry events
constexpr std::uint16_t kBind = 0;                                   // wl_registry request
constexpr std::size_t kHeader = 8;
constexpr std::size_t kMostDescriptors = 28;  // the most one message may carry

std::size_t padded(std::size_t size) { return (size + 3) & ~std::size_t{3}; }

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The socket's path: WAYLAND_DISPLAY itself when absolute, else in
// XDG_RUNTIME_DIR. Empty when it cannot be known.
std::string socketPath() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || name[0] == '\0') return {};
  if (name[0] == '/') return name;
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  if (folder == nullptr || folder[0] != '/') return {};
  return std::string(folder) + "/" + name;
}

// A connected socket, or -1. A compositor whose queue of connections is
// full answers EAGAIN at once rather than making us wait.
int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  close(fd);
  return -1;
}

// Closes the descriptors a message brought; none is wanted here.
void closeDescriptors(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof fd, sizeof fd);
      close(fd);
    }
  }
}

}  // namespace

const std::uint8_t* Reader::bytes(std::size_t count) {
  if (!ok_ || count > size_ - at_) {
    ok_ = false;
    return nullptr;
  }
  const std::uint8_t* start = data_ + at_;
  at_ += padded(count) <= size_ - at_ ? padded(count) : count;
  return start;
}

std::uint32_t Reader::uint() {
  const std::uint8_t* p = bytes(4);
  std::uint32_t value = 0;
  if (p != nullptr) std::memcpy(&value, p, 4);
  return value;
}

std::string Reader::string() {
  const std::uint32_t length = uint();  // with the terminating NUL; 0 for null
  if (length == 0) return {};
  const std::uint8_t* p = bytes(length);
  if (p == nullptr || p[length - 1] != 0) {
    ok_ = false;
    return {};
  }
  return std::string(reinterpret_cast<const char*>(p), length - 1);
}

std::vector<std::uint32_t> Reader::uintArray() {
  const std::uint32_t length = uint();
  const std::uint8_t* p = bytes(length);
  std::vector<std::uint32_t> values(p != nullptr ? length / 4 : 0);
  if (!values.empty()) std::memcpy(values.data(), p, values.size() * 4);
  return values;
}

Writer& Writer::uint(std::uint32_t value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  bytes_.insert(bytes_.end(), p, p + 4);
  return *this;
}

Writer& Writer::string(const std::string& text) {
  uint(static_cast<std::uint32_t>(text.size() + 1));
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  bytes_.resize(bytes_.size() + padded(text.size() + 1) - text.size(), 0);
  return *this;
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::open() {
  fail();
  nextId_ = 2;
  globals_.clear();
  handlers_.clear();
  fd_ = connectTo(socketPath());
  if (fd_ < 0) return false;
  handlers_[kDisplay] = std::make_shared<Handler>(
      [this](std::uint32_t, std::uint16_t opcode, Reader& args) { displayEvent(opcode, args); });
  registry_ = create([this](std::uint32_t, std::uint16_t opcode, Reader& args) { registryEvent(opcode, args); });
  request(kDisplay, kGetRegistry, Writer().uint(registry_));
  return roundTrip(kSetupWait);
}

const Global* Connection::find(const std::string& interface) const {
  for (const Global& global : globals_) {
    if (global.interface == interface) return &global;
  }
  return nullptr;
}

std::vector<Global> Connection::all(const std::string& interface) const {
  std::vector<Global> found;
  for (const Global& global : globals_) {
    if (global.interface == interface) found.push_back(global);
  }
  return found;
}

std::uint32_t Connection::create(Handler handler) {
  const std::uint32_t id = nextId_++;
  adopt(id, std::move(handler));
  return id;
}

void Connection::adopt(std::uint32_t id, Handler handler) {
  handlers_[id] = std::make_shared<Handler>(std::move(handler));
}

std::uint32_t Connection::bind(const Global& global, std::uint32_t version, Handler handler) {
  const std::uint32_t id = create(std::move(handler));
  const std::uint32_t offered = global.version < version ? global.version : version;
  request(registry_, kBind, Writer().uint(global.name).string(global.interface).uint(offered).uint(id));
  return id;
}

void Connection::request(std::uint32_t object, std::uint16_t opcode, const Writer& args) {
  if (fd_ < 0) return;
  const auto size = static_cast<std::uint32_t>(kHeader + args.bytes().size());
  Writer header;
  header.uint(object).uint(size << 16 | opcode);
  out_.insert(out_.end(), header.bytes().begin(), header.bytes().end());
  out_.insert(out_.end(), args.bytes().begin(), args.bytes().end());
}

void Connection::fail() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  out_.clear();
  in_.clear();
}

// Sends what the socket takes now; false when the connection has failed.
bool Connection::flush() {
  while (fd_ >= 0 && !out_.empty()) {
    const ssize_t sent = send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      out_.erase(out_.begin(), out_.begin() + sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      fail();
    }
  }
  return fd_ >= 0;
}

// Reads everything that has arrived; false when the connection has failed.
bool Connection::receive() {
  std::uint8_t chunk[4096];
  alignas(cmsghdr) char control[CMSG_SPACE(kMostDescriptors * sizeof(int))];
  while (fd_ >= 0) {
    iovec part{chunk, sizeof chunk};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd_, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (got > 0) {
      closeDescriptors(message);
      in_.insert(in_.end(), chunk, chunk + got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      fail();  // the compositor has gone
    }
  }
  return false;
}

// Handles every whole event received. A handler may create objects (the map
// keeps each handler in place) or forget its own (the call holds it).
void Connection::dispatch() {
  std::size_t at = 0;
  while (fd_ >= 0 && in_.size() - at >= kHeader) {
    std::uint32_t object, word;
    std::memcpy(&object, in_.data() + at, 4);
    std::memcpy(&word, in_.data() + at + 4, 4);
    const std::size_t size = word >> 16;
    if (size < kHeader || size % 4 != 0) return fail();
    if (in_.size() - at < size) break;
    ++handled_;
    const auto found = handlers_.find(object);
    if (found != handlers_.end() && *found->second) {
      const std::shared_ptr<Handler> handler = found->second;
      Reader args(in_.data() + at + kHeader, size - kHeader);
      (*handler)(object, static_cast<std::uint16_t>(word & 0xFFFF), args);
      if (fd_ < 0) return;
    }
    at += size;
  }
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(at));
}

void Connection::displayEvent(std::uint16_t opcode, Reader& args) {
  if (opcode == kError) fail();
  if (opcode == kDeleteId) handlers_.erase(args.uint());
}

void Connection::registryEvent(std::uint16_t opcode, Reader& args) {
  if (opcode == kGlobal) {
    Global global;
    global.name = args.uint();
    global.interface = args.string();
    global.version = args.uint();
    if (args.ok()) globals_.push_back(std::move(global));
  } else if (opcode == kGlobalRemove) {
    const std::uint32_t name = args.uint();
    std::erase_if(globals_, [name](const Global& g) { return g.name == name; });
    if (onGlobalRemoved) onGlobalRemoved(name);
  }
}

bool Connection::serve() {
  if (!flush() || !receive()) return false;
  dispatch();
  return flush();
}

bool Connection::roundTrip(std::chrono::milliseconds wait) {
  if (fd_ < 0) return false;
  const Clock::time_point deadline = Clock::now() + wait;
  bool done = false;
  const std::uint32_t callback = create([&done](std::uint32_t, std::uint16_t, Reader&) { done = true; });
  request(kDisplay, kSync, Writer().uint(callback));
  while (serve() && !done) {
    pollfd entry{fd_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
    const int left = millisecondsLeft(deadline);
    const int ready = left > 0 ? poll(&entry, 1, left) : 0;
    if (ready == 0 || (ready < 0 && errno != EINTR)) fail();
  }
  forget(callback);
  return done && fd_ >= 0;
}

}  // namespace platform::wayland
