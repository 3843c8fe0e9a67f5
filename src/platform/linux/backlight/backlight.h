// The displays and backlights that the Linux kernel shows in sysfs: the
// connected DRM connectors under sys/class/drm and the backlight devices
// under sys/class/backlight. Every function takes the folder that holds
// `sys` (the programs pass "/"), so that tests can run against fixture trees.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/display.h"

namespace platform::sysfs {

struct Connector {
  std::string name;  // the folder under sys/class/drm, such as card0-eDP-1
  DisplayId id;
  bool builtin;  // an eDP, LVDS or DSI panel
};

// The connected connectors, in name order.
std::vector<Connector> connectedConnectors(const std::string& root);

// The connector's id: the kernel's connector object id (unique within its
// card) under the card's number, as (card + 1) << 24 | connector_id; where
// the kernel has no connector_id file, a 24-bit hash of the name instead.
// Never 0, and the same while the machine runs.
DisplayId connectorId(const std::string& root, const std::string& name);

// The folder name under sys/class/backlight of the device that lights the
// connected built-in display `display`, as the desktops choose it: the best
// type first (firmware, platform, raw, then any other); among devices of
// that type, the one under the display's connector, else under its GPU,
// else the first by name.
std::optional<std::string> backlightOf(const std::string& root, DisplayId display);

// The same for a connector already read (none unless it is built in).
std::optional<std::string> backlightOf(const std::string& root, const Connector& connector);

// Reads the level brightness / max_brightness of the display's backlight:
// status 0, or nonzero when there is none or it cannot be read.
std::int32_t readLevel(const std::string& root, DisplayId display, float* level);
std::int32_t readLevel(const std::string& root, const Connector& connector, float* level);

// Sets backlight `device` to `value` steps on behalf of a process that may
// not write sysfs itself: status 0 on success.
using PrivilegedSet = std::function<std::int32_t(const std::string& device, std::uint32_t value)>;

// Writes the nearest whole step to `level` (limited to 0..1) to the
// display's backlight. Where the file refuses the write for lack of
// permission or a read-only mount, `privileged` is asked instead and its
// status returned. Status 0 on success, nonzero on every failure, NaN
// included.
std::int32_t writeLevel(const std::string& root, DisplayId display, float level,
                        const PrivilegedSet& privileged);
std::int32_t writeLevel(const std::string& root, const Connector& connector, float level,
                        const PrivilegedSet& privileged);

// This machine's connected connectors (root "/"), read on the first call and
// kept for the run: a brightness request asks for the list, each display's
// kind and the panel's level in turn, and every reading walks sysfs again.
// The connector overloads above take them from here.
const std::vector<Connector>& machineConnectors();

}  // namespace platform::sysfs
