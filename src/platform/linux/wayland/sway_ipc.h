// sway's own IPC socket (SWAYSOCK), which knows each view's process: the one
// thing the wlroots window list does not tell.
#pragma once

#include <cstdint>
#include <string>

namespace platform::wayland {

// The process of the view sway has focused, when that view shows `appId`
// (its app_id, or its X11 class under XWayland) and `title`: from sway's
// focus event for it, else from its tree. -1 when SWAYSOCK is unset or
// empty, sway does not answer within the reply wait, or its focus is
// elsewhere by now. A connection that has failed is made anew at the next
// question (sway may have been restarted).
std::int32_t swayFocusedPid(const std::string& appId, const std::string& title);

}  // namespace platform::wayland
