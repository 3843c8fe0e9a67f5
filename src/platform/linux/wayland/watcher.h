// The focus watcher's source on a Wayland compositor: the window list of
// wlroots compositors or of KDE Plasma, whichever it offers.
#pragma once

#include <optional>

#include "platform/linux/application.h"

namespace platform::wayland {

// Follows the compositor WAYLAND_DISPLAY names, when it answers and offers
// a window list; false otherwise (X11 then decides). Asked once per
// process: later calls give the first answer.
bool startWatching();

// True when startWatching() has chosen the compositor.
bool chosen();

// The connection's descriptor; -1 once the compositor has gone.
int descriptor();

// Handles every event that has arrived, without waiting; true when any did
// (the frontmost window may have changed, and more may come at once) or the
// compositor has just failed: it is then given up and leaves no window.
bool serve();

// Once the compositor has gone: connects again when it answers (a new one
// on the same socket, say), trying at most about once a second; true when
// it is followed again.
bool reconnect();

// The application of the frontmost window; none when no window is active or
// the compositor has gone.
std::optional<Application> frontmost();

}  // namespace platform::wayland
