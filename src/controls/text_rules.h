// How the control tool reads the value that follows its command word.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace controls {

// A brightness level: the whole text must be one strtof number of the POSIX
// locale (decimal, hexadecimal, inf/infinity or nan[(...)], with one optional
// sign), with no leading white space. Gives the nearest float.
std::optional<float> levelFromText(std::string_view text);

// An audio object id: an optional sign and ASCII digits, built digit by
// digit in 32-bit unsigned arithmetic and rejected as soon as a step leaves
// that range (so after "-" only zeros are accepted).
std::optional<std::uint32_t> idFromText(std::string_view text);

}  // namespace controls
