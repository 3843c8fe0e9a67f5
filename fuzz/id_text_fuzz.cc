// The id text rule against a reference in wider arithmetic: the digits are
// read in 64 bits once their leading zeros are gone, and a value that does
// not fit 32 bits is refused. After a minus sign only zero fits.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "controls/text_rules.h"

namespace {

std::optional<std::uint32_t> reference(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const std::size_t first = text.find_first_not_of('0');
  const std::string_view significant = first == std::string_view::npos ? "" : text.substr(first);
  if (significant.size() > 10) return std::nullopt;  // at least 10^10
  std::uint64_t value = 0;
  for (const char c : significant) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (negative && value != 0) return std::nullopt;
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (controls::idFromText(text) != reference(text)) std::abort();
  return 0;
}
