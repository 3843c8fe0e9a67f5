#include "json_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>

Reply& Reply::set(std::string key, ReplyValue value) {
  for (auto& member : members) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  members.emplace_back(std::move(key), std::move(value));
  return *this;
}

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not a
// well-formed one (overlong forms, surrogates and values past U+10FFFF
// included).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

template <typename Integer>
void appendInteger(std::string& out, Integer value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

bool appendObject(std::string& out, const Reply& reply);

bool appendValue(std::string& out, const ReplyValue& value) {
  if (std::holds_alternative<JsonNull>(value)) {
    out += "null";
    return true;
  }
  if (const auto* number = std::get_if<double>(&value)) return appendJsonNumber(out, *number);
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    appendInteger(out, *number);
    return true;
  }
  if (const auto* number = std::get_if<std::int32_t>(&value)) {
    appendInteger(out, *number);
    return true;
  }
  if (const auto* text = std::get_if<std::string>(&value)) return appendJsonString(out, *text);
  out += '[';
  bool first = true;
  for (const Reply& element : std::get<ReplyList>(value)) {
    if (!first) out += ',';
    first = false;
    if (!appendObject(out, element)) return false;
  }
  out += ']';
  return true;
}

bool appendObject(std::string& out, const Reply& reply) {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : reply.members) {
    if (!first) out += ',';
    first = false;
    if (!appendJsonString(out, key)) return false;
    out += ':';
    if (!appendValue(out, value)) return false;
  }
  out += '}';
  return true;
}

}  // namespace

bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool appendJsonString(std::string& out, std::string_view text, bool escapeSolidus) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8SequenceLength(text, i);
      if (length == 0) return false;
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += escapeSolidus ? "\\/" : "/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return true;
}

bool appendJsonNumber(std::string& out, double value) {
  if (!std::isfinite(value)) return false;
  // "-0" is read back as the integer 0 by readers that tell integers from
  // floats; "-0.0" keeps the sign for all of them.
  if (value == 0 && std::signbit(value)) {
    out += "-0.0";
    return true;
  }
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
  return true;
}

bool formatJSON(const Reply& reply, std::string& line) {
  line.clear();
  return appendObject(line, reply);
}

void printJSON(const Reply& reply) {
  std::string line;
  if (!formatJSON(reply, line)) return;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}
