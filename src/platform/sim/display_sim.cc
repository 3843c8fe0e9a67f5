// The simulated display list and DisplayServices framework.

#include <algorithm>
#include <bit>

#include "platform/display.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"

namespace platform {
namespace {

int frameworkHandle;  // its address stands for the opened framework

std::int32_t getBrightness(DisplayId display, float* level) {
  sim::trace("DisplayServicesGetBrightness", {{"display", display}});
  const auto& state = sim::machine().displayServices;
  if (state.getStatus != 0) return state.getStatus;
  *level = state.level;
  return 0;
}

std::int32_t setBrightness(DisplayId display, float level) {
  sim::trace("DisplayServicesSetBrightness", {{"display", display}, {"level", static_cast<double>(level)}});
  auto& state = sim::machine().displayServices;
  if (state.setChangesLevel) state.level = level;
  return 0;
}

}  // namespace

void* openLibrary(const char* path, int mode) {
  sim::trace("dlopen", {{"path", path}, {"mode", mode}});
  return sim::machine().displayServices.loads ? &frameworkHandle : nullptr;
}

void* findSymbol(void* handle, const char* name) {
  sim::trace("dlsym", {{"symbol", name}});
  if (handle != &frameworkHandle) return nullptr;
  const auto& symbols = sim::machine().displayServices.symbols;
  if (std::find(symbols.begin(), symbols.end(), name) == symbols.end()) return nullptr;
  const std::string_view wanted = name;
  if (wanted == "DisplayServicesGetBrightness") return std::bit_cast<void*>(&getBrightness);
  if (wanted == "DisplayServicesSetBrightness") return std::bit_cast<void*>(&setBrightness);
  return nullptr;
}

std::int32_t onlineDisplayList(std::uint32_t capacity, DisplayId* displays, std::uint32_t* count) {
  sim::trace("CGGetOnlineDisplayList", {{"capacity", capacity}});
  const auto& state = sim::machine().displays;
  if (displays == nullptr) {
    if (state.countStatus != 0) return state.countStatus;
    *count = static_cast<std::uint32_t>(state.online.size());
    return 0;
  }
  if (state.listStatus != 0) return state.listStatus;
  const std::size_t filled = std::min<std::size_t>({state.filled, capacity, state.online.size()});
  for (std::size_t i = 0; i < filled; ++i) displays[i] = state.online[i].id;
  *count = static_cast<std::uint32_t>(filled);
  return 0;
}

bool isBuiltinDisplay(DisplayId display) {
  sim::trace("CGDisplayIsBuiltin", {{"display", display}});
  const auto& online = sim::machine().displays.online;
  return std::any_of(online.begin(), online.end(), [display](const sim::OnlineDisplay& entry) {
    return entry.id == display && entry.builtin;
  });
}

}  // namespace platform
