// The simulated screens. A handle points at the screen's entry in the
// scenario: one of the listed screens, or the main screen given as a screen
// of its own. The scenario gives only widths, so every rectangle here has
// its origin at 0,0 and a height of 0.

#include <cmath>
#include <cstddef>

#include "platform/screens.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"

namespace platform {
namespace {

sim::Screen& entry(ScreenHandle screen) { return *reinterpret_cast<sim::Screen*>(screen); }

ScreenHandle handle(sim::Screen& screen) { return reinterpret_cast<ScreenHandle>(&screen); }

// Records a call on one screen: its index in the list, or "main" for the
// main screen of its own.
void traceScreenCall(std::string_view call, ScreenHandle screen) {
  auto& state = sim::machine().screens;
  const sim::Screen* target = &entry(screen);
  if (target == &state.mainOwn) {
    sim::trace(call, {{"screen", "main"}});
  } else {
    sim::trace(call, {{"screen", target - state.screens.data()}});
  }
}

std::optional<Rect> area(const std::optional<double>& width) {
  if (!width) return std::nullopt;
  return Rect{0, 0, *width, 0};
}

}  // namespace

std::vector<ScreenHandle> screens() {
  sim::trace("screens");
  std::vector<ScreenHandle> result;
  for (sim::Screen& screen : sim::machine().screens.screens) result.push_back(handle(screen));
  return result;
}

ScreenHandle mainScreen() {
  sim::trace("mainScreen");
  auto& state = sim::machine().screens;
  switch (state.main) {
    case sim::ScreensState::Main::Listed:
      return handle(state.screens[state.mainIndex]);
    case sim::ScreensState::Main::Own:
      return handle(state.mainOwn);
    case sim::ScreensState::Main::None:
      break;
  }
  return nullptr;
}

double safeAreaTop(ScreenHandle screen) {
  traceScreenCall("safeAreaInsets", screen);
  return entry(screen).top;
}

Rect frame(ScreenHandle screen) {
  traceScreenCall("frame", screen);
  return Rect{0, 0, entry(screen).frameWidth, 0};
}

std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle screen) {
  traceScreenCall("auxiliaryTopLeftArea", screen);
  return area(entry(screen).left);
}

std::optional<Rect> auxiliaryTopRightArea(ScreenHandle screen) {
  traceScreenCall("auxiliaryTopRightArea", screen);
  return area(entry(screen).right);
}

// Not a call on the machine, so not traced. A negative width is what a
// standardised rectangle turns positive; a NaN width stays NaN.
double rectWidth(const Rect& rect) { return std::fabs(rect.width); }

}  // namespace platform
