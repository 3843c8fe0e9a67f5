#include "platform/linux/x11/x11_connection.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/linux/runtime_library.h"
#include "platform/linux/x11/x11_probe.h"

namespace platform::x11 {
namespace {

using runtime::bindSymbol;
using Clock = std::chrono::steady_clock;

// A working server answers in well under a millisecond. A running session is
// given more time than the set-up before it is given up for good.
constexpr std::chrono::milliseconds kSetupWait{1000};
constexpr std::chrono::milliseconds kReplyWait{3000};

Xcb xcb;
Session current;
bool opened = false;  // session() has been asked once; it never reconnects

bool bindXcb(void* library) {
  return bindSymbol(library, "xcb_parse_display", xcb.parse_display) &&
         bindSymbol(library, "xcb_connect", xcb.connect) &&
         bindSymbol(library, "xcb_connection_has_error", xcb.connection_has_error) &&
         bindSymbol(library, "xcb_disconnect", xcb.disconnect) &&
         bindSymbol(library, "xcb_get_setup", xcb.get_setup) &&
         bindSymbol(library, "xcb_setup_roots_iterator", xcb.setup_roots_iterator) &&
         bindSymbol(library, "xcb_screen_next", xcb.screen_next) &&
         bindSymbol(library, "xcb_get_file_descriptor", xcb.get_file_descriptor) &&
         bindSymbol(library, "xcb_flush", xcb.flush) &&
         bindSymbol(library, "xcb_poll_for_event", xcb.poll_for_event) &&
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

// False too when xcb cannot make sense of DISPLAY: it would not connect.
bool displayAnswers() {
  char* host = nullptr;
  int display = 0;
  int screen = 0;
  if (xcb.parse_display(nullptr, &host, &display, &screen) == 0) return false;
  const std::string name = host;
  std::free(host);
  return serverAnswers(name, display, kSetupWait);
}

void open() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] == '\0') return;
  if (!bindXcb(runtime::openLibrary("libxcb.so.1"))) return;
  if (!displayAnswers()) return;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb.connect(nullptr, &screenNumber);
  const std::optional<xcb_window_t> root =
      xcb.connection_has_error(connection) == 0 ? rootOf(connection, screenNumber) : std::nullopt;
  if (!root) {
    xcb.disconnect(connection);
    return;
  }
  current = Session{&xcb, connection, *root};
}

}  // namespace

Session* session() {
  if (!opened) {
    opened = true;
    open();
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
