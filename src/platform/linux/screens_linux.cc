// Linux has no screen backend yet: the list is empty and there is no main
// screen, so no handle ever reaches the per-screen reads below.

#include <cmath>

#include "platform/screens.h"

namespace platform {

std::vector<ScreenHandle> screens() { return {}; }

ScreenHandle mainScreen() { return nullptr; }

double safeAreaTop(ScreenHandle) { return 0; }

Rect frame(ScreenHandle) { return {}; }

std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle) { return std::nullopt; }

std::optional<Rect> auxiliaryTopRightArea(ScreenHandle) { return std::nullopt; }

double rectWidth(const Rect& rect) { return std::fabs(rect.width); }

}  // namespace platform
