#include "notch/probe.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "notch/whole_number.h"
#include "platform/screens.h"

namespace notch {
namespace {

platform::ScreenHandle screen = nullptr;
double top = 0;
double screenWidth = 0;
double notchWidth = 0;
bool notched = false;

// The first screen whose top inset is strictly positive; a NaN inset fails
// the test like 0 does. Without one, the main screen, which may be none.
platform::ScreenHandle chosenScreen() {
  for (const platform::ScreenHandle candidate : platform::screens()) {
    if (platform::safeAreaTop(candidate) > 0) return candidate;
  }
  return platform::mainScreen();
}

// Reads the chosen screen afresh, whichever way it was found.
void measure() {
  top = platform::safeAreaTop(screen);
  screenWidth = platform::rectWidth(platform::frame(screen));
  notchWidth = 0;
  if (top > 0) {
    // Both areas are read before either width is taken. The result is left
    // unclamped, so areas wider than the screen show as a negative width.
    const auto left = platform::auxiliaryTopLeftArea(screen);
    if (left) {
      const auto right = platform::auxiliaryTopRightArea(screen);
      if (right) notchWidth = (screenWidth - platform::rectWidth(*left)) - platform::rectWidth(*right);
    }
  }
  notched = top > 0;
}

std::string reportLine() {
  std::string line = "{\"notched\":";
  line += notched ? "true" : "false";
  line += ",\"notchWidth\":";
  line += wholeNumberText(notchWidth);
  line += ",\"notchHeight\":";
  line += wholeNumberText(top);
  line += ",\"screenWidth\":";
  line += wholeNumberText(screenWidth);
  line += "}\n";
  return line;
}

// The whole line goes to buffered standard output in one call, so a reader
// sees all of it or nothing; it is flushed as the process exits.
void writeLine(std::string_view line) {
  const std::size_t written = std::fwrite(line.data(), 1, line.size(), stdout);
  static_cast<void>(written);  // there is nowhere to report a failed write
}

}  // namespace

void probe() {
  screen = chosenScreen();
  if (screen == nullptr) {
    writeLine("{\"notched\":false}\n");
  } else {
    measure();
    writeLine(reportLine());
  }
}

}  // namespace notch
