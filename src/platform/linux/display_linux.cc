// Linux has no built-in display that this tool can drive yet: the display
// list is empty, and the framework is looked for the same way as on the
// Mac, where it is not found.

#include <dlfcn.h>

#include "platform/display.h"

namespace platform {

void* openLibrary(const char* path, int mode) { return dlopen(path, mode); }

void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }

std::int32_t onlineDisplayList(std::uint32_t, DisplayId*, std::uint32_t* count) {
  *count = 0;
  return 0;
}

bool isBuiltinDisplay(DisplayId) { return false; }

}  // namespace platform
