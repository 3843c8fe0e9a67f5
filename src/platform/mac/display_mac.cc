// The online display list on the Mac.

#include <CoreGraphics/CoreGraphics.h>

#include "platform/display.h"

namespace platform {

std::int32_t onlineDisplayList(std::uint32_t capacity, DisplayId* displays, std::uint32_t* count) {
  return CGGetOnlineDisplayList(capacity, displays, count);
}

bool isBuiltinDisplay(DisplayId display) { return CGDisplayIsBuiltin(display) != 0; }

}  // namespace platform
