// The screens as the notch probe sees them on a Wayland compositor.
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/wayland/outputs.h"

namespace platform::wayland {

struct Screen {
  Frame frame;
  bool main;  // the output of the active window, else the first one announced
};

// The compositor's outputs, read once per run. None when WAYLAND_DISPLAY is
// unset or empty or nothing answers there in time (X11 may then answer); an
// empty list when the compositor answered and then failed or fell silent,
// so that no partial answer is given.
const std::optional<std::vector<Screen>>& screens();

}  // namespace platform::wayland
