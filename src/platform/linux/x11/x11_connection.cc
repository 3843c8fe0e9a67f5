#include "platform/linux/x11/x11_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/linux/runtime_library.h"
#include "platform/linux/x11/x11_auth.h"
#include "platform/linux/x11/x11_socket.h"

namespace platform::x11 {
namespace {

using runtime::bindSymbol;

// A working server answers in well under a millisecond. The set-up's bound
// covers all of it: the name's resolution, the connection and xcb's
// handshake. A running session is given more time before it is given up.
constexpr std::chrono::milliseconds kSetupWait{1000};
constexpr std::chrono::milliseconds kReplyWait{3000};

Xcb xcb;
Session current;
bool opened = false;  // session() has been asked once; only adopt() connects again

bool bindXcb(void* library) {
  return bindSymbol(library, "xcb_parse_display", xcb.parse_display) &&
         bindSymbol(library, "xcb_connect_to_fd", xcb.connect_to_fd) &&
         bindSymbol(library, "xcb_connection_has_error", xcb.connection_has_error) &&
         bindSymbol(library, "xcb_disconnect", xcb.disconnect) &&
         bindSymbol(library, "xcb_get_setup", xcb.get_setup) &&
         bindSymbol(library, "xcb_setup_roots_iterator", xcb.setup_roots_iterator) &&
         bindSymbol(library, "xcb_screen_next", xcb.screen_next) &&
         bindSymbol(library, "xcb_get_file_descriptor", xcb.get_file_descriptor) &&
         bindSymbol(library, "xcb_flush", xcb.flush) &&
         bindSymbol(library, "xcb_poll_for_event", xcb.poll_for_event) &&
         bindSymbol(library, "xcb_poll_for_queued_event", xcb.poll_for_queued_event) &&
         bindSymbol(library, "xcb_poll_for_reply", xcb.poll_for_reply) &&
         bindSymbol(library, "xcb_get_input_focus", xcb.get_input_focus) &&
         bindSymbol(library, "xcb_get_extension_data", xcb.get_extension_data) &&
         bindSymbol(library, "xcb_prefetch_extension_data", xcb.prefetch_extension_data) &&
         bindSymbol(library, "xcb_intern_atom", xcb.intern_atom) &&
         bindSymbol(library, "xcb_change_window_attributes", xcb.change_window_attributes) &&
         bindSymbol(library, "xcb_get_property", xcb.get_property) &&
         bindSymbol(library, "xcb_get_property_value", xcb.get_property_value) &&
         bindSymbol(library, "xcb_get_property_value_length", xcb.get_property_value_length);
}

// The root window of screen `number`, or none when the server has no such
// screen.
std::optional<xcb_window_t> rootOf(xcb_connection_t* connection, int number) {
  xcb_screen_iterator_t it = xcb.setup_roots_iterator(xcb.get_setup(connection));
  for (; it.rem > 0 && number > 0; --number) xcb.screen_next(&it);
  if (it.rem <= 0 || number < 0) return std::nullopt;
  return it.data->root;
}

// Shuts a socket down at a deadline unless dismissed first: xcb waits for
// the answer to its connection set-up without limit, and a socket shut down
// under it ends that wait with a failed connection. It works on a duplicate,
// so the number it shuts down is never one that xcb has closed meanwhile.
class Watchdog {
 public:
  Watchdog(int fd, Clock::time_point deadline) : fd_(fcntl(fd, F_DUPFD_CLOEXEC, 3)) {
    if (fd_ < 0) return;
    try {
      thread_ = std::thread([this, deadline] { watch(deadline); });
    } catch (const std::system_error&) {
      close(fd_);
      fd_ = -1;
    }
  }
  // False when it could not start: there is no bound then.
  bool armed() const { return fd_ >= 0; }
  ~Watchdog() {
    if (fd_ < 0) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      dismissed_ = true;
    }
    woken_.notify_one();
    thread_.join();
    close(fd_);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void watch(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!woken_.wait_until(lock, deadline, [this] { return dismissed_; })) shutdown(fd_, SHUT_RDWR);
  }

  int fd_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool dismissed_ = false;
  std::thread thread_;
};

// Standard error points at /dev/null while one lives: xcb writes the reason
// of a refused connection there, and the programs never write there.
class QuietErrors {
 public:
  QuietErrors() : saved_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~QuietErrors() {
    if (saved_ < 0) return;  // it was closed: /dev/null stays in its place
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  int saved_;
};

// xcb's connection set-up on our socket `fd`, which xcb owns from then on;
// a failed connection when it has not finished by the deadline, null (and
// the socket closed) when no bound could be set.
xcb_connection_t* setUp(int fd, std::optional<Authorization> authorization, Clock::time_point deadline) {
  xcb_auth_info_t info{};
  if (authorization) {
    info = {static_cast<int>(authorization->name.size()), authorization->name.data(),
            static_cast<int>(authorization->data.size()), authorization->data.data()};
  }
  const Watchdog watchdog(fd, deadline);
  if (!watchdog.armed()) {
    close(fd);
    return nullptr;
  }
  const QuietErrors quiet;
  return xcb.connect_to_fd(fd, authorization ? &info : nullptr);
}

}  // namespace

bool displayNamed() {
  static const bool named = [] {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return false;
    if (!bindXcb(runtime::openLibrary("libxcb.so.1"))) return false;
    // A name xcb cannot make sense of is never worth a connection.
    char* host = nullptr;
    int number = 0;
    if (xcb.parse_display(nullptr, &host, &number, nullptr) == 0) return false;
    std::free(host);
    return true;
  }();
  return named;
}

std::optional<Session> connect() {
  const Clock::time_point deadline = Clock::now() + kSetupWait;
  char* host = nullptr;
  int display = 0;
  int screen = 0;
  if (!displayNamed() || xcb.parse_display(nullptr, &host, &display, &screen) == 0) return std::nullopt;
  const std::string name = host;
  std::free(host);
  const int fd = connectToServer(name, display, deadline);
  if (fd < 0) return std::nullopt;
  xcb_connection_t* connection = setUp(fd, authorizationFor(fd, display), deadline);
  if (connection == nullptr) return std::nullopt;
  const std::optional<xcb_window_t> root =
      xcb.connection_has_error(connection) == 0 ? rootOf(connection, screen) : std::nullopt;
  if (!root) {
    xcb.disconnect(connection);
    return std::nullopt;
  }
  return Session{&xcb, connection, *root};
}

void adopt(const Session& x) {
  dropSession();
  current = x;
}

Session* session() {
  if (!opened) {
    opened = true;
    if (displayNamed()) {
      if (std::optional<Session> x = connect()) adopt(*x);
    }
  }
  return lost() ? nullptr : &current;
}

void dropSession() {
  if (current.connection == nullptr) return;
  xcb.disconnect(current.connection);
  current.connection = nullptr;
}

bool failed(const Session& x) { return x.stalled || x.xcb->connection_has_error(x.connection) != 0; }

bool lost() {
  if (current.connection == nullptr) return true;
  if (!failed(current)) return false;
  dropSession();
  return true;
}

void* awaitReply(Session& x, unsigned int sequence, xcb_generic_error_t** error) {
  if (error != nullptr) *error = nullptr;
  if (x.stalled) return nullptr;
  x.xcb->flush(x.connection);
  const Clock::time_point deadline = Clock::now() + kReplyWait;
  pollfd entry{x.xcb->get_file_descriptor(x.connection), POLLIN, 0};
  for (;;) {
    // Reads what has come without waiting; a failed connection answers at
    // once, with nothing.
    void* reply = nullptr;
    if (x.xcb->poll_for_reply(x.connection, sequence, &reply, error) != 0) return reply;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    if (poll(&entry, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
  }
  x.stalled = true;
  return nullptr;
}

bool roundTrip(Session& x) {
  const xcb_get_input_focus_cookie_t cookie = x.xcb->get_input_focus(x.connection);
  void* reply = awaitReply(x, cookie.sequence, nullptr);
  const bool answered = reply != nullptr;
  std::free(reply);
  return answered;
}

xcb_get_property_cookie_t requestProperty(Session& x, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxBytes) {
  // The length is counted in 32-bit units.
  return x.xcb->get_property(x.connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             (maxBytes + 3) / 4);
}

std::optional<Property> textProperty(Session& x, xcb_get_property_cookie_t cookie, bool& windowGone) {
  xcb_generic_error_t* error = nullptr;
  auto* reply = static_cast<xcb_get_property_reply_t*>(awaitReply(x, cookie.sequence, &error));
  if (error != nullptr) {
    if (error->error_code == XCB_WINDOW) windowGone = true;
    std::free(error);
  }
  if (reply == nullptr) return std::nullopt;
  std::optional<Property> result;
  const int length = x.xcb->get_property_value_length(reply);
  if (reply->type != XCB_NONE && reply->format == 8 && length >= 0) {
    const char* value = static_cast<const char*>(x.xcb->get_property_value(reply));
    result = Property{reply->type, std::string(value, static_cast<std::size_t>(length))};
  }
  std::free(reply);
  return result;
}

std::optional<std::uint32_t> cardinalProperty(Session& x, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  auto* reply = static_cast<xcb_get_property_reply_t*>(awaitReply(x, cookie.sequence, &error));
  std::free(error);
  if (reply == nullptr) return std::nullopt;
  std::optional<std::uint32_t> result;
  if (reply->format == 32 && x.xcb->get_property_value_length(reply) >= 4) {
    std::uint32_t value;
    std::memcpy(&value, x.xcb->get_property_value(reply), sizeof value);
    result = value;
  }
  std::free(reply);
  return result;
}

}  // namespace platform::x11
