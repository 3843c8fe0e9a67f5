// A client of the Wayland compositor that WAYLAND_DISPLAY names, speaking the
// wire protocol itself: the few interfaces read here pass no descriptors, so
// no library is needed, and every wait is a poll() with a deadline (a stopped
// compositor accepts the connection and then never answers).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::wayland {

using Clock = std::chrono::steady_clock;

// The connection and its first round trip (the registry's) get this long;
// later replies get kReplyWait.
inline constexpr std::chrono::milliseconds kSetupWait{1000};
inline constexpr std::chrono::milliseconds kReplyWait{3000};

// The arguments of one event, read in order. A read past its end, or a
// string without its terminator, marks the event bad and reads as zero/empty.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t uint();
  std::int32_t integer() { return static_cast<std::int32_t>(uint()); }
  std::string string();  // a null string reads as empty
  std::vector<std::uint32_t> uintArray();
  bool ok() const { return ok_; }

 private:
  const std::uint8_t* bytes(std::size_t count);
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// The arguments of one request.
class Writer {
 public:
  Writer& uint(std::uint32_t value);
  Writer& integer(std::int32_t value) { return uint(static_cast<std::uint32_t>(value)); }
  Writer& string(const std::string& text);
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Called with the object an event is for, its opcode and its arguments.
using Handler = std::function<void(std::uint32_t object, std::uint16_t opcode, Reader& args)>;

struct Global {
  std::uint32_t name;
  std::string interface;
  std::uint32_t version;
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Connects to the compositor (anew, forgetting any earlier connection)
  // and learns its globals; false when
  // WAYLAND_DISPLAY is unset or empty, nothing listens there, or the
  // compositor does not answer within kSetupWait.
  bool open();

  // The first global offered under `interface`, or null.
  const Global* find(const std::string& interface) const;
  // Every global offered under `interface`, in the order announced.
  std::vector<Global> all(const std::string& interface) const;

  // A new object of `global`'s interface at `version` (at most the offered
  // one), whose events go to `handler`.
  std::uint32_t bind(const Global& global, std::uint32_t version, Handler handler);
  // A new object id whose events go to `handler`, for a request creating one.
  std::uint32_t create(Handler handler);
  // Sends the events of `id`, an object the compositor made, to `handler`.
  void adopt(std::uint32_t id, Handler handler);
  void forget(std::uint32_t id) { handlers_.erase(id); }
  void request(std::uint32_t object, std::uint16_t opcode, const Writer& args = {});

  // Waits until the compositor has handled every request so far (and every
  // event before its answer has been handled); false when it fails or does
  // not answer within `wait`, which fails the connection for good.
  bool roundTrip(std::chrono::milliseconds wait);
  // Sends what is queued and handles whatever has arrived, without waiting;
  // false once the connection has failed.
  bool serve();

  // Closes the connection; it counts as failed from then on.
  void close() { fail(); }
  int descriptor() const { return fd_; }
  // How many events have been handled so far.
  std::size_t handled() const { return handled_; }
  bool failed() const { return fd_ < 0; }
  // Called with the name of a global the compositor withdraws.
  std::function<void(std::uint32_t name)> onGlobalRemoved;

 private:
  void fail();
  bool flush();
  bool receive();
  void dispatch();
  void displayEvent(std::uint16_t opcode, Reader& args);
  void registryEvent(std::uint16_t opcode, Reader& args);

  int fd_ = -1;
  std::uint32_t nextId_ = 2;  // 1 is the display
  std::uint32_t registry_ = 0;
  std::size_t handled_ = 0;
  std::vector<Global> globals_;
  std::map<std::uint32_t, std::shared_ptr<Handler>> handlers_;
  std::vector<std::uint8_t> in_;
  std::vector<std::uint8_t> out_;
};

}  // namespace platform::wayland
