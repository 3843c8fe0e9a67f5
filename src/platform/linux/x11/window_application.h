// What X tells about the application behind a top-level window: its
// identifier, its name and its process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/x11/x11_connection.h"
#include "platform/workspace.h"

namespace platform {

// A running application, as seen through one of its windows when it was
// activated. The texts are UTF-8.
struct Application {
  std::optional<std::string> bundleId;  // desktop-file id, else WM_CLASS instance
  std::optional<std::string> name;      // WM_CLASS class
  std::int32_t pid = -1;                // _NET_WM_PID, else the X client's process; -1: unknown
  bool pidFromWindow = false;           // the pid came from _NET_WM_PID
};

namespace x11 {

struct Atoms {
  xcb_atom_t activeWindow;      // _NET_ACTIVE_WINDOW
  xcb_atom_t wmPid;             // _NET_WM_PID
  xcb_atom_t gtkApplicationId;  // _GTK_APPLICATION_ID
  xcb_atom_t kdeDesktopFile;    // _KDE_NET_WM_DESKTOP_FILE
  xcb_atom_t utf8String;        // UTF8_STRING
};

// Looks up the atoms (and asks whether the X-Resource extension is there);
// none when the connection fails.
std::optional<Atoms> internAtoms(Session& x);

// The application of `window`; none when the window does not exist or the
// connection fails on the way.
std::optional<Application> windowApplication(Session& x, const Atoms& atoms, xcb_window_t window);

// Windows belong to one application when both carry _NET_WM_PID and it
// matches; otherwise when identifier, name and process all match.
bool sameApplication(const Application& a, const Application& b);

}  // namespace x11
}  // namespace platform
