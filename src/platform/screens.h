// The screens, as the notch probe reaches them. Each call forwards to one
// platform call; the caller makes every decision.
#pragma once

#include <optional>
#include <vector>

namespace platform {

// A screen of the platform (an NSScreen), opaque to the caller. Handles stay
// valid until the process ends.
struct ScreenObject;
using ScreenHandle = ScreenObject*;

// A rectangle in screen points, as the platform gives it (not standardised).
struct Rect {
  double x;
  double y;
  double width;
  double height;
};

// NSScreen screens: every screen, in the platform's order.
std::vector<ScreenHandle> screens();

// NSScreen mainScreen, or null when there is none.
ScreenHandle mainScreen();

// The top member of the screen's safeAreaInsets.
double safeAreaTop(ScreenHandle screen);

// The screen's frame.
Rect frame(ScreenHandle screen);

// The screen's auxiliaryTopLeftArea / auxiliaryTopRightArea, or none when the
// screen has no such area.
std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle screen);
std::optional<Rect> auxiliaryTopRightArea(ScreenHandle screen);

// CGRectGetWidth: the width of the standardised rectangle, so never negative.
double rectWidth(const Rect& rect);

}  // namespace platform
