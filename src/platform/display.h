// The dynamic loader and the online display list, as the brightness
// commands reach them. Each call forwards to one platform call.
#pragma once

#include <cstdint>

namespace platform {

using DisplayId = std::uint32_t;

// Where the private framework that holds the built-in display's brightness
// is opened from. Linux's loader answers this path itself.
inline constexpr const char* kDisplayServicesPath =
    "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";

// dlopen: a handle, or null when the library cannot be opened.
void* openLibrary(const char* path, int mode);

// dlsym: the symbol's address, or null.
void* findSymbol(void* handle, const char* name);

// CGGetOnlineDisplayList: status 0 on success. With a capacity of 0 and no
// buffer it only counts; otherwise it fills at most `capacity` slots and
// sets `count` to how many it filled.
std::int32_t onlineDisplayList(std::uint32_t capacity, DisplayId* displays, std::uint32_t* count);

// CGDisplayIsBuiltin.
bool isBuiltinDisplay(DisplayId display);

}  // namespace platform
