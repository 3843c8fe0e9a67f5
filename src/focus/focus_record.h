// The focus record: one JSON line about an application that came to the
// front.
#pragma once

#include <cstdint>

#include "platform/workspace.h"

namespace focus {

// Prints the record of `application`: "v", "at", "bundleId", "name", "pid".
void emit(platform::Application* application);

// A clock reading in seconds as whole milliseconds, truncated toward zero.
// Readings whose product is out of the 64-bit range saturate, and a NaN
// gives 0, so a scripted clock can never make the conversion undefined.
std::int64_t wholeMilliseconds(double seconds);

}  // namespace focus
