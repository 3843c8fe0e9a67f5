// What X tells about the application behind a top-level window: its
// identifier, its name and its process.
#pragma once

#include <optional>

#include "platform/linux/application.h"
#include "platform/linux/x11/x11_connection.h"

namespace platform::x11 {

struct Atoms {
  xcb_atom_t activeWindow;      // _NET_ACTIVE_WINDOW
  xcb_atom_t wmPid;             // _NET_WM_PID
  xcb_atom_t gtkApplicationId;  // _GTK_APPLICATION_ID
  xcb_atom_t kdeDesktopFile;    // _KDE_NET_WM_DESKTOP_FILE
  xcb_atom_t utf8String;        // UTF8_STRING
  xcb_atom_t clientLeader;      // WM_CLIENT_LEADER
};

// Looks up the atoms (and asks whether the X-Resource extension is there);
// none when the connection fails.
std::optional<Atoms> internAtoms(Session& x);

// The application of `window`; none when the window does not exist or the
// connection fails on the way. A window without an application id of its
// own takes the one of the window it is transient for, else of its group
// leader; the desktop's entry for the window then gives the bundle id and
// the name.
std::optional<Application> windowApplication(Session& x, const Atoms& atoms, xcb_window_t window);

}  // namespace platform::x11
