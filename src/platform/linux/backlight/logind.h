// logind sets a backlight for a process that may not write sysfs itself.
#pragma once

#include <cstdint>
#include <string>

namespace platform::logind {

// Session.SetBrightness("backlight", device, value) for the caller's session
// over the system bus ($DBUS_SYSTEM_BUS_ADDRESS where set). libsystemd is
// opened on this first use. Status 0 on success; nonzero when the library,
// the bus or logind is missing, refuses, or gives no answer within about a
// second.
std::int32_t setBrightness(const std::string& device, std::uint32_t value);

}  // namespace platform::logind
