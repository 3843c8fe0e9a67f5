// The process's one connection to the X display, shared by the focus watcher
// and the notch probe. libxcb is opened at run time, and only when DISPLAY
// names a display, so a run without one loads nothing.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply
#include <xcb/xproto.h>

#include <cstdint>
#include <optional>
#include <string>

namespace platform::x11 {

// The entry points of libxcb.so.1 this backend calls, typed by its headers.
struct Xcb {
  decltype(&::xcb_parse_display) parse_display;
  decltype(&::xcb_connect_to_fd) connect_to_fd;
  decltype(&::xcb_connection_has_error) connection_has_error;
  decltype(&::xcb_disconnect) disconnect;
  decltype(&::xcb_get_setup) get_setup;
  decltype(&::xcb_setup_roots_iterator) setup_roots_iterator;
  decltype(&::xcb_screen_next) screen_next;
  decltype(&::xcb_get_file_descriptor) get_file_descriptor;
  decltype(&::xcb_flush) flush;
  decltype(&::xcb_poll_for_event) poll_for_event;
  decltype(&::xcb_poll_for_queued_event) poll_for_queued_event;
  decltype(&::xcb_poll_for_reply) poll_for_reply;
  decltype(&::xcb_get_input_focus) get_input_focus;
  decltype(&::xcb_get_extension_data) get_extension_data;
  decltype(&::xcb_prefetch_extension_data) prefetch_extension_data;
  decltype(&::xcb_intern_atom) intern_atom;
  decltype(&::xcb_change_window_attributes) change_window_attributes;
  decltype(&::xcb_get_property) get_property;
  decltype(&::xcb_get_property_value) get_property_value;
  decltype(&::xcb_get_property_value_length) get_property_value_length;
};

struct Session {
  const Xcb* xcb;
  xcb_connection_t* connection;
  xcb_window_t root;     // the root window of the display's default screen
  bool stalled = false;  // a reply did not come in time
};

// The process's connection to the display that DISPLAY names, made on the
// first call. Null when DISPLAY is unset or empty, libxcb is not installed,
// the display cannot be reached, does not answer or refuses us, or the
// connection has been dropped (until adopt() gives it another).
Session* session();

// True when DISPLAY names a display in a form xcb reads and libxcb is there
// to reach it; loads libxcb on the first call.
bool displayNamed();

// A new connection to the display DISPLAY names, set up within a bound of
// about a second that covers the name's resolution, the connection and the
// handshake; none when it fails or runs out of time. A server's refusal
// writes nothing to standard error. Safe on any thread once displayNamed()
// has said true.
std::optional<Session> connect();

// Makes `x` the process's connection, dropping the one before.
void adopt(const Session& x);

// Closes the connection once it has failed (the server went away or stalled):
// session() gives null until adopt() is called.
void dropSession();

// True when the connection has failed or a reply did not come in time.
bool failed(const Session& x);

// True when the session is gone or has failed; a failed connection is
// dropped on the way.
bool lost();

// The reply to request `sequence` (the cookie's), as xcb's typed *_reply
// functions give it, but waited for no longer than a working server takes.
// A server that does not answer in time counts as gone: the session is
// failed from then on, and every later wait gives null at once. An error
// goes to `error` when it is not null, else it is dropped.
void* awaitReply(Session& x, unsigned int sequence, xcb_generic_error_t** error);

// Waits (as awaitReply does) until the server has answered every request
// sent so far; false when it has not.
bool roundTrip(Session& x);

// An 8-bit property of a window.
struct Property {
  xcb_atom_t type;
  std::string bytes;
};

// The reply to a GetProperty request: the property when the window has it
// in 8-bit form; `windowGone` is set when the window does not exist.
std::optional<Property> textProperty(Session& x, xcb_get_property_cookie_t cookie, bool& windowGone);

// The first 32-bit item of a property, when the window has one.
std::optional<std::uint32_t> cardinalProperty(Session& x, xcb_get_property_cookie_t cookie);

// Asks for a property of up to `maxBytes` bytes, of any type.
xcb_get_property_cookie_t requestProperty(Session& x, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxBytes);

}  // namespace platform::x11
