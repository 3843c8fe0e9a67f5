#include "controls/text_rules.h"

#include <cstdlib>
#include <limits>
#include <string>

namespace controls {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lower(text[i]) != word[i]) return false;
  }
  return true;
}

bool equalsWord(std::string_view text, std::string_view word) {
  return text.size() == word.size() && startsWithWord(text, word);
}

// Digits with at most one full stop and at least one digit, then an
// optional exponent (the letter, a sign, decimal digits). True when that
// is all of `text`.
bool isMantissaAndExponent(std::string_view text, bool (*digit)(char), char exponentLetter) {
  std::size_t i = 0;
  bool sawDigit = false, sawStop = false;
  for (; i < text.size(); ++i) {
    if (digit(text[i])) {
      sawDigit = true;
    } else if (text[i] == '.' && !sawStop) {
      sawStop = true;
    } else {
      break;
    }
  }
  if (!sawDigit) return false;
  if (i == text.size()) return true;
  if (lower(text[i]) != exponentLetter) return false;
  ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (!isDigit(text[i])) return false;
  }
  return true;
}

bool isNanPayload(std::string_view text) {
  if (text.empty()) return true;
  if (text.front() != '(' || text.back() != ')') return false;
  for (char c : text.substr(1, text.size() - 2)) {
    if (!isDigit(c) && !(lower(c) >= 'a' && lower(c) <= 'z') && c != '_') return false;
  }
  return true;
}

}  // namespace

std::optional<float> levelFromText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char first = text.front();
  if ((first >= '\t' && first <= '\r') || first == ' ') return std::nullopt;

  const bool negative = first == '-';
  const std::string_view unsigned_part = (first == '+' || first == '-') ? text.substr(1) : text;
  if (equalsWord(unsigned_part, "inf") || equalsWord(unsigned_part, "infinity")) {
    const float infinity = std::numeric_limits<float>::infinity();
    return negative ? -infinity : infinity;
  }
  if (startsWithWord(unsigned_part, "nan")) {
    if (!isNanPayload(unsigned_part.substr(3))) return std::nullopt;
    return std::numeric_limits<float>::quiet_NaN();
  }
  const bool hex = startsWithWord(unsigned_part, "0x");
  const bool valid = hex ? isMantissaAndExponent(unsigned_part.substr(2), isHexDigit, 'p')
                         : isMantissaAndExponent(unsigned_part, isDigit, 'e');
  if (!valid) return std::nullopt;
  // The text is now known to be one complete number, so strtof only does
  // the rounding. No program here calls setlocale, so strtof runs in the
  // "C" locale and the full stop is the decimal separator.
  const std::string terminated(text);
  return std::strtof(terminated.c_str(), nullptr);
}

std::optional<std::uint32_t> idFromText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const bool negative = text.front() == '-';
  if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::uint64_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    value *= 10;
    if (value > kMax) return std::nullopt;
    if (negative) {
      if (value < digit) return std::nullopt;
      value -= digit;
    } else {
      value += digit;
      if (value > kMax) return std::nullopt;
    }
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace controls
