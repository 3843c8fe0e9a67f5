// A strict JSON reader (RFC 8259) for the fuzz targets, written apart from
// the project's own reader and writer so that it can judge them. Used both
// to read the writer's lines back and as the reference for the simulated
// machine's reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strict {

struct Value {
  enum class Kind { Null, True, False, Number, String, Array, Object };
  Kind kind = Kind::Null;
  std::string text;               // a string's bytes, or a number as written
  std::vector<std::string> keys;  // an object's member names, in order
  std::vector<Value> items;       // an array's elements, or an object's values
};

struct Rules {
  // A \u escape of a lone surrogate is kept as its three-byte form (the
  // simulated machine's choice); otherwise it is refused.
  bool loneSurrogates = false;
  // At most this many arrays and objects around any value.
  std::size_t maxDepth = 1000;
  // Only the writer's form: no white space outside strings, every solidus
  // escaped, and \u escapes only for characters below U+0020; the short
  // escapes need not be used.
  bool writerForm = false;
};

// The code point of the UTF-8 sequence at text[i], advancing i past it; none
// when the bytes there are not one well-formed sequence (RFC 3629).
inline std::optional<std::uint32_t> decodeUtf8(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  std::uint32_t code;
  std::uint32_t smallest;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1Fu, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0Fu, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07u, smallest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - i < length) return std::nullopt;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  i += length;
  return code;
}

inline bool validUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (!decodeUtf8(text, i)) return false;
  }
  return true;
}

// The UTF-8 form of a code point; a surrogate gets the three-byte form that
// UTF-8 itself forbids.
inline void encode(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
    return;
  }
  std::size_t length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  static const unsigned char marks[] = {0, 0, 0xC0, 0xE0, 0xF0};
  char bytes[4];
  for (std::size_t k = length; k-- > 1;) {
    bytes[k] = static_cast<char>(0x80 | (code & 0x3F));
    code >>= 6;
  }
  bytes[0] = static_cast<char>(marks[length] | code);
  out.append(bytes, length);
}

class Reader {
 public:
  Reader(std::string_view text, Rules rules) : text_(text), rules_(rules) {}

  std::optional<Value> document() {
    Value value;
    space();
    if (!value_(value, 0)) return std::nullopt;
    space();
    if (at_ != text_.size() || sawSpace_) return std::nullopt;
    return value;
  }

 private:
  bool more() const { return at_ < text_.size(); }
  char peek() const { return text_[at_]; }

  bool take(char c) {
    if (!more() || peek() != c) return false;
    ++at_;
    return true;
  }

  void space() {
    while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      sawSpace_ = sawSpace_ || rules_.writerForm;
      ++at_;
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  // `depth`: how many arrays and objects are around this value.
  bool value_(Value& out, std::size_t depth) {
    if (!more() || depth > rules_.maxDepth) return false;
    switch (peek()) {
      case '{':
        return object(out, depth + 1);
      case '[':
        return array(out, depth + 1);
      case '"':
        out.kind = Value::Kind::String;
        return string(out.text);
      case 't':
        out.kind = Value::Kind::True;
        return literal("true");
      case 'f':
        out.kind = Value::Kind::False;
        return literal("false");
      case 'n':
        out.kind = Value::Kind::Null;
        return literal("null");
      default:
        out.kind = Value::Kind::Number;
        return number(out.text);
    }
  }

  // Members and elements sit inside `depth` containers, this one included.
  bool object(Value& out, std::size_t depth) {
    out.kind = Value::Kind::Object;
    ++at_;
    space();
    if (take('}')) return true;
    do {
      space();
      std::string key;
      if (!more() || peek() != '"' || !string(key)) return false;
      for (const std::string& seen : out.keys) {
        if (seen == key) return false;
      }
      space();
      if (!take(':')) return false;
      space();
      Value member;
      if (!value_(member, depth)) return false;
      out.keys.push_back(std::move(key));
      out.items.push_back(std::move(member));
      space();
    } while (take(','));
    return take('}');
  }

  bool array(Value& out, std::size_t depth) {
    out.kind = Value::Kind::Array;
    ++at_;
    space();
    if (take(']')) return true;
    do {
      space();
      Value item;
      if (!value_(item, depth)) return false;
      out.items.push_back(std::move(item));
      space();
    } while (take(','));
    return take(']');
  }

  bool digitRun() {
    const std::size_t from = at_;
    while (more() && peek() >= '0' && peek() <= '9') ++at_;
    return at_ > from;
  }

  bool number(std::string& out) {
    const std::size_t from = at_;
    take('-');
    if (!take('0') && !(more() && peek() >= '1' && peek() <= '9' && digitRun())) return false;
    if (take('.') && !digitRun()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digitRun()) return false;
    }
    out = std::string(text_.substr(from, at_ - from));
    return true;
  }

  std::optional<std::uint32_t> hexQuad() {
    if (text_.size() - at_ < 4) return std::nullopt;
    std::uint32_t code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[at_++];
      const std::string_view digits = "0123456789abcdef0123456789ABCDEF";
      const std::size_t place = digits.find(c);
      if (place == std::string_view::npos) return std::nullopt;
      code = code * 16 + static_cast<std::uint32_t>(place % 16);
    }
    return code;
  }

  bool string(std::string& out) {
    ++at_;
    for (;;) {
      if (!more()) return false;
      const auto byte = static_cast<unsigned char>(peek());
      if (byte == '"') {
        ++at_;
        return true;
      }
      if (byte < 0x20) return false;
      if (byte != '\\') {
        if (rules_.writerForm && byte == '/') return false;
        const std::size_t from = at_;
        if (!decodeUtf8(text_, at_)) return false;
        out.append(text_.substr(from, at_ - from));
        continue;
      }
      ++at_;
      if (!more()) return false;
      const char kind = text_[at_++];
      const std::string_view shortForms = "\"\\/bfnrt";
      const std::string_view meanings = "\"\\/\b\f\n\r\t";
      if (const std::size_t place = shortForms.find(kind); place != std::string_view::npos) {
        out += meanings[place];
        continue;
      }
      if (kind != 'u') return false;
      if (!escape(out)) return false;
    }
  }

  // The rest of a \u escape, after the letter u.
  bool escape(std::string& out) {
    const auto code = hexQuad();
    if (!code) return false;
    if (rules_.writerForm && *code >= 0x20) return false;
    if (*code < 0xD800 || *code > 0xDFFF) {
      encode(out, *code);
      return true;
    }
    if (*code <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
      const std::size_t afterHigh = at_;
      at_ += 2;
      const auto low = hexQuad();
      if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
        encode(out, 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00));
        return true;
      }
      at_ = afterHigh;  // the next escape is read on its own
    }
    if (!rules_.loneSurrogates) return false;
    encode(out, *code);
    return true;
  }

  std::string_view text_;
  Rules rules_;
  std::size_t at_ = 0;
  bool sawSpace_ = false;
};

inline std::optional<Value> read(std::string_view text, Rules rules = {}) {
  return Reader(text, rules).document();
}

}  // namespace strict
