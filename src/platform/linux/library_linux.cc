// The dynamic loader on Linux. The brightness entry points that the Mac
// finds in DisplayServices are answered here, from sysfs and logind, under
// the same path and names; no library is opened for them. Any other path is
// a plain dlopen.

#include <dlfcn.h>

#include <cstring>

#include "platform/display.h"
#include "platform/linux/backlight/backlight.h"
#include "platform/linux/backlight/logind.h"

namespace platform {

namespace {

// Stands for the opened DisplayServices; only its address is used.
char displayServicesHandle;

constexpr std::int32_t kNoSuchDisplay = 1;

// The display among this run's connectors (sysfs is read once per run).
const sysfs::Connector* connectedDisplay(DisplayId display) {
  for (const sysfs::Connector& connector : sysfs::machineConnectors()) {
    if (connector.id == display) return &connector;
  }
  return nullptr;
}

std::int32_t getBrightness(DisplayId display, float* level) {
  const sysfs::Connector* connector = connectedDisplay(display);
  return connector != nullptr ? sysfs::readLevel("/", *connector, level) : kNoSuchDisplay;
}

std::int32_t setBrightness(DisplayId display, float level) {
  const sysfs::Connector* connector = connectedDisplay(display);
  return connector != nullptr ? sysfs::writeLevel("/", *connector, level, logind::setBrightness)
                              : kNoSuchDisplay;
}

}  // namespace

void* openLibrary(const char* path, int mode) {
  if (std::strcmp(path, kDisplayServicesPath) == 0) return &displayServicesHandle;
  return dlopen(path, mode);
}

void* findSymbol(void* handle, const char* name) {
  if (handle != &displayServicesHandle) return dlsym(handle, name);
  if (std::strcmp(name, "DisplayServicesGetBrightness") == 0) return reinterpret_cast<void*>(&getBrightness);
  if (std::strcmp(name, "DisplayServicesSetBrightness") == 0) return reinterpret_cast<void*>(&setBrightness);
  return nullptr;
}

}  // namespace platform
