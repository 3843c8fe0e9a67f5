// The process's one connection to the X display, shared by the focus watcher
// and the notch probe. libxcb is opened at run time, and only when DISPLAY
// names a display, so a run without one loads nothing.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <cstdint>
#include <optional>
#include <string>

namespace platform::x11 {

// The entry points of libxcb.so.1 this backend calls, typed by its headers.
struct Xcb {
  decltype(&::xcb_connect) connect;
  decltype(&::xcb_connection_has_error) connection_has_error;
  decltype(&::xcb_disconnect) disconnect;
  decltype(&::xcb_get_setup) get_setup;
  decltype(&::xcb_setup_roots_iterator) setup_roots_iterator;
  decltype(&::xcb_screen_next) screen_next;
  decltype(&::xcb_get_file_descriptor) get_file_descriptor;
  decltype(&::xcb_flush) flush;
  decltype(&::xcb_poll_for_event) poll_for_event;
  decltype(&::xcb_get_extension_data) get_extension_data;
  decltype(&::xcb_prefetch_extension_data) prefetch_extension_data;
  decltype(&::xcb_intern_atom) intern_atom;
  decltype(&::xcb_intern_atom_reply) intern_atom_reply;
  decltype(&::xcb_change_window_attributes) change_window_attributes;
  decltype(&::xcb_get_property) get_property;
  decltype(&::xcb_get_property_reply) get_property_reply;
  decltype(&::xcb_get_property_value) get_property_value;
  decltype(&::xcb_get_property_value_length) get_property_value_length;
};

struct Session {
  const Xcb* xcb;
  xcb_connection_t* connection;
  xcb_window_t root;  // the root window of the display's default screen
};

// The connection to the display that DISPLAY names, made on the first call.
// Null when DISPLAY is unset or empty, libxcb is not installed, the display
// cannot be reached, or the connection has been dropped.
Session* session();

// Closes the connection for good once it has failed (the server went away):
// later calls of session() give null.
void dropSession();

// True when the session is gone or its connection has failed; a failed
// connection is dropped on the way.
bool lost();

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
