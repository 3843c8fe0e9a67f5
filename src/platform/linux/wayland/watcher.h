// The focus watcher's source on a Wayland compositor: the window list of
// wlroots compositors or of KDE Plasma, whichever it offers.
#pragma once

#include <optional>
#include <utility>

#include "platform/linux/application.h"

namespace platform::wayland {

// Follows the compositor WAYLAND_DISPLAY names, when it answers and offers
// a window list; false otherwise (X11 then decides). Asked once per
// process: later calls give the first answer.
bool startWatching();

// True when startWatching() has chosen the compositor.
bool chosen();

// Handles every event that has arrived, without waiting; true when any did
// (the frontmost window may have changed, and more may come at once) or the
// compositor has just failed: it is then given up and leaves no window.
bool serve();

// What the main loop waits on besides standard input, and for how long (-1:
// without limit): the compositor's connection (not at all when `busy`, as
// more events may have come); once it has gone, a running attempt to
// connect again, else the time of the next attempt.
std::pair<int, int> nextWait(bool busy);

// Called after each wake of the main loop, `otherReady` when what
// nextWait() named is ready. Once the compositor has gone, starts an
// attempt to connect again about once a second, on a thread of its own;
// true when an attempt has just found a compositor, which is then followed
// from its current state.
bool afterWake(bool otherReady);

// The application of the frontmost window; none when no window is active or
// the compositor has gone.
std::optional<Application> frontmost();

}  // namespace platform::wayland
