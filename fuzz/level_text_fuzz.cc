// The level text rule against a reference: the rule's grammar written as a
// POSIX regular expression, and strtof of the whole validated text as the
// rounding (the same bits; for NaN, NaN-ness).

#include <regex.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "controls/text_rules.h"

namespace {

constexpr const char* kGrammar =
    "^[+-]?("
    "inf|infinity"
    "|nan(\\([0-9a-z_]*\\))?"
    "|0x([0-9a-f]+\\.?[0-9a-f]*|\\.[0-9a-f]+)(p[+-]?[0-9]+)?"
    "|([0-9]+\\.?[0-9]*|\\.[0-9]+)(e[+-]?[0-9]+)?"
    ")$";

const regex_t& grammar() {
  static regex_t compiled = [] {
    regex_t result;
    if (regcomp(&result, kGrammar, REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) std::abort();
    return result;
  }();
  return compiled;
}

// What the rule must give for `text`: none when it is outside the grammar.
bool reference(const std::string& text, float& value) {
  // The grammar has no NUL; a text holding one is not one number.
  if (text.find('\0') != std::string::npos) return false;
  if (regexec(&grammar(), text.c_str(), 0, nullptr, 0) != 0) return false;
  value = std::strtof(text.c_str(), nullptr);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  float expected = 0;
  const bool accepted = reference(text, expected);
  const auto got = controls::levelFromText(text);
  if (got.has_value() != accepted) std::abort();
  if (!accepted) return 0;
  if (std::isnan(expected)) {
    if (!std::isnan(*got)) std::abort();
  } else if (std::bit_cast<std::uint32_t>(*got) != std::bit_cast<std::uint32_t>(expected)) {
    std::abort();
  }
  return 0;
}
