// The dynamic loader on Linux. The brightness entry points that the Mac
// finds in DisplayServices are answered here, from sysfs and logind, under
// the same path and names; no library is opened for them. Any other path is
// a plain dlopen.

#include <dlfcn.h>

#include <cstring>

#include "controls/brightness.h"
#include "platform/display.h"
#include "platform/linux/backlight.h"
#include "platform/linux/logind.h"

namespace platform {

namespace {

// Stands for the opened DisplayServices; only its address is used.
char displayServicesHandle;

std::int32_t getBrightness(DisplayId display, float* level) { return sysfs::readLevel("/", display, level); }

std::int32_t setBrightness(DisplayId display, float level) {
  return sysfs::writeLevel("/", display, level, logind::setBrightness);
}

}  // namespace

void* openLibrary(const char* path, int mode) {
  if (std::strcmp(path, controls::kDisplayServicesPath) == 0) return &displayServicesHandle;
  return dlopen(path, mode);
}

void* findSymbol(void* handle, const char* name) {
  if (handle != &displayServicesHandle) return dlsym(handle, name);
  if (std::strcmp(name, "DisplayServicesGetBrightness") == 0) return reinterpret_cast<void*>(&getBrightness);
  if (std::strcmp(name, "DisplayServicesSetBrightness") == 0) return reinterpret_cast<void*>(&setBrightness);
  return nullptr;
}

}  // namespace platform
