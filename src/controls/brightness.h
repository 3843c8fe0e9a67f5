// The built-in display's brightness, held by the private DisplayServices
// framework that start-up opens by path.
#pragma once

#include <bit>
#include <optional>
#include <type_traits>

#include "platform/display.h"

namespace controls {

// The opened framework, or null when it could not be opened. Set once by
// start-up and never closed.
extern void* displayServices;

// The framework's entry point `name` as a function pointer of type
// `Function`, looked up afresh at every use; none when the framework is not
// open or lacks the symbol.
template <typename Function>
std::optional<Function> function(const char* name) {
  static_assert(std::is_pointer_v<Function> && std::is_function_v<std::remove_pointer_t<Function>>,
                "an entry point is a plain function pointer");
  static_assert(sizeof(Function) == sizeof(void*), "an entry point has the size of an address");
  if (displayServices == nullptr) return std::nullopt;
  void* address = platform::findSymbol(displayServices, name);
  if (address == nullptr) return std::nullopt;
  return std::bit_cast<Function>(address);
}

// The first built-in display of the online display list.
std::optional<platform::DisplayId> builtInDisplay();

// The built-in display's level as the framework reports it.
std::optional<float> brightness();

// Asks the framework for `level`, limited to 0..1 (NaN becomes 0).
void setBrightness(float level);

// Prints {"brightness":level}, or null when there is no finite level.
void printBrightness();

}  // namespace controls
