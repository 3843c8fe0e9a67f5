// The compositor's outputs: wl_output, with zxdg_output_manager_v1 for each
// one's logical position and size (pixels divided by the scale, fractional
// scales included).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/wayland/wire.h"

namespace platform::wayland {

struct Output {
  std::uint32_t id = 0;  // our wl_output object
  // From xdg-output: the logical rectangle.
  bool logical = false;
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  // From wl_output: the current mode, the integer scale (rounded up) and the
  // transform, for a compositor without xdg-output.
  std::int32_t modeWidth = 0, modeHeight = 0, scale = 1, transform = 0;
};

// The rectangle in logical units: xdg-output's, else the mode divided by
// the scale, turned with the transform.
struct Frame {
  double x, y, width, height;
};
Frame frameOf(const Output& output);

// Binds every output the compositor has announced (the registry's round trip
// is done), in the order announced; their descriptions arrive with the next
// round trip.
std::vector<std::shared_ptr<Output>> followOutputs(Connection& connection);

}  // namespace platform::wayland
