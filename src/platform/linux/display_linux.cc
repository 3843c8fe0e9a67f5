// Linux has no built-in display that this tool can drive yet: the online
// display list is empty.

#include "platform/display.h"

namespace platform {

std::int32_t onlineDisplayList(std::uint32_t, DisplayId*, std::uint32_t* count) {
  *count = 0;
  return 0;
}

bool isBuiltinDisplay(DisplayId) { return false; }

}  // namespace platform
