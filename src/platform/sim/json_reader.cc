#include "platform/sim/json_reader.h"

#include <utility>

#include "json_line.h"

namespace sim {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document(std::string& error) {
    JsonValue value;
    skipSpace();
    if (!parseValue(value, 0)) {
      error = error_;
      return std::nullopt;
    }
    skipSpace();
    if (pos_ != text_.size()) {
      error = "unexpected text after the value at offset " + std::to_string(pos_);
      return std::nullopt;
    }
    return value;
  }

 private:
  static constexpr int kMaxDepth = 64;

  bool fail(const std::string& message) {
    error_ = message + " at offset " + std::to_string(pos_);
    return false;
  }

  void skipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool consumeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool parseValue(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (pos_ >= text_.size()) return fail("unexpected end of text");
    const char c = text_[pos_];
    if (c == '{') return parseObject(value, depth);
    if (c == '[') return parseArray(value, depth);
    if (c == '"') {
      value.kind = JsonValue::Kind::String;
      return parseString(value.text);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return parseNumber(value);
    if (consumeWord("true")) {
      value.kind = JsonValue::Kind::Bool;
      value.boolean = true;
      return true;
    }
    if (consumeWord("false")) {
      value.kind = JsonValue::Kind::Bool;
      return true;
    }
    if (consumeWord("null")) return true;
    return fail("unexpected character");
  }

  bool parseObject(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Object;
    ++pos_;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected a member name");
      std::string key;
      if (!parseString(key)) return false;
      for (const auto& member : value.members) {
        if (member.name == key) return fail("duplicate member \"" + key + "\"");
      }
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      skipSpace();
      JsonValue member;
      if (!parseValue(member, depth + 1)) return false;
      value.members.push_back({std::move(key), std::move(member)});
      skipSpace();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  bool parseArray(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Array;
    ++pos_;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      skipSpace();
      JsonValue item;
      if (!parseValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
      skipSpace();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool digits() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }

  bool parseNumber(JsonValue& value) {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '0') {
      ++pos_;
    } else if (!digits()) {
      return fail("bad number");
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!digits()) return fail("bad number");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digits()) return fail("bad number");
    }
    value.kind = JsonValue::Kind::Number;
    value.text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  bool hex4(unsigned& code) {
    if (pos_ + 4 > text_.size()) return fail("bad \\u escape");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return fail("bad \\u escape");
      }
    }
    return true;
  }

  static void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool parseString(std::string& out) {
    ++pos_;
    while (true) {
      if (pos_ >= text_.size()) return fail("unterminated string");
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return fail("unterminated string");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          if (!hex4(code)) return false;
          // A surrogate pair makes one character. A lone surrogate is valid
          // JSON but no character: it is kept in its three-byte form, which
          // is not UTF-8, so text holding it can be refused where it is
          // written.
          const std::size_t afterFirst = pos_;
          unsigned low = 0;
          if (code >= 0xD800 && code <= 0xDBFF && consumeWord("\\u") && hex4(low) && low >= 0xDC00 &&
              low <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else {
            pos_ = afterFirst;
          }
          appendUtf8(out, code);
          break;
        }
        default:
          return fail("bad escape");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

std::optional<JsonValue> parseJson(std::string_view text, std::string& error) {
  if (!isUtf8(text)) {
    error = "the text is not UTF-8";
    return std::nullopt;
  }
  return Parser(text).document(error);
}

}  // namespace sim
