#include "platform/linux/wayland/json_scan.h"

#include <cstdlib>

namespace platform::wayland::json {
namespace {

constexpr int kDeepest = 256;

struct Node {
  bool focused = false;
  std::int64_t pid = 0;
  std::string appId;
  std::string windowClass;
  std::string title;
};

void appendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  // False when the text is not JSON.
  bool run() {
    Node root;
    space();
    return value(root, {}) && (space(), at_ == s_.size());
  }
  const std::optional<View>& found() const { return found_; }
  const std::string& change() const { return change_; }

 private:
  char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
  void space() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
  }
  bool take(char c) {
    if (peek() != c) return false;
    ++at_;
    return true;
  }
  bool literal(std::string_view word) {
    if (s_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<std::uint32_t> hex4() {
    if (s_.size() - at_ < 4) return std::nullopt;
    char digits[5] = {s_[at_], s_[at_ + 1], s_[at_ + 2], s_[at_ + 3], '\0'};
    char* end = nullptr;
    const unsigned long code = std::strtoul(digits, &end, 16);
    if (end != digits + 4) return std::nullopt;
    at_ += 4;
    return static_cast<std::uint32_t>(code);
  }

  bool escape(std::string& out) {
    const char c = peek();
    ++at_;
    switch (c) {
      case '"': case '\\': case '/': out += c; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    std::optional<std::uint32_t> code = hex4();
    if (!code) return false;
    if (*code >= 0xD800 && *code < 0xDC00 && literal("\\u")) {
      const std::optional<std::uint32_t> low = hex4();
      if (!low || *low < 0xDC00 || *low >= 0xE000) return false;
      code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
    }
    appendUtf8(out, *code);
    return true;
  }

  std::optional<std::string> string() {
    if (!take('"')) return std::nullopt;
    std::string out;
    while (at_ < s_.size() && s_[at_] != '"') {
      if (s_[at_] == '\\') {
        ++at_;
        if (!escape(out)) return std::nullopt;
      } else {
        out += s_[at_++];
      }
    }
    if (!take('"')) return std::nullopt;
    return out;
  }

  bool number(std::int64_t& out) {
    const std::size_t start = at_;
    while (at_ < s_.size() && std::string_view("+-0123456789.eE").find(s_[at_]) != std::string_view::npos) ++at_;
    const std::string token(s_.substr(start, at_ - start));
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (token.empty() || end != token.c_str() + token.size()) return false;
    out = value >= 0 && value < 9.0e18 ? static_cast<std::int64_t>(value) : 0;
    return true;
  }

  bool object(Node& node) {
    if (++depth_ > kDeepest) return false;
    ++at_;  // '{'
    space();
    if (!take('}')) {
      do {
        space();
        const std::optional<std::string> key = string();
        space();
        if (!key || !take(':')) return false;
        space();
        if (!value(node, *key)) return false;
        space();
      } while (take(','));
      if (!take('}')) return false;
    }
    --depth_;
    if (node.focused && node.pid > 0 && !found_) found_ = View{node.pid, node.appId, node.windowClass, node.title};
    return true;
  }

  bool array() {
    if (++depth_ > kDeepest) return false;
    ++at_;  // '['
    space();
    if (!take(']')) {
      do {
        space();
        Node element;
        if (!value(element, {})) return false;
        space();
      } while (take(','));
      if (!take(']')) return false;
    }
    --depth_;
    return true;
  }

  // Reads the value of member `key` of `node` (or an array element),
  // keeping what a view node needs.
  bool value(Node& node, std::string_view key) {
    switch (peek()) {
      case '"': {
        std::optional<std::string> text = string();
        if (!text) return false;
        if (key == "app_id") node.appId = std::move(*text);
        if (key == "name") node.title = std::move(*text);
        if (key == "class") node.windowClass = *text;
        if (key == "change" && depth_ == 1) change_ = std::move(*text);
        return true;
      }
      case '{': {
        Node child;
        if (!object(child)) return false;
        if (key == "window_properties") node.windowClass = child.windowClass;
        return true;
      }
      case '[':
        return array();
      case 't':
        if (key == "focused") node.focused = true;
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default: {
        std::int64_t number = 0;
        if (!this->number(number)) return false;
        if (key == "pid") node.pid = number;
        return true;
      }
    }
  }

  std::string_view s_;
  std::size_t at_ = 0;
  int depth_ = 0;
  std::optional<View> found_;
  std::string change_;  // the top object's "change"
};

}  // namespace

std::optional<View> focusedView(std::string_view text) {
  Scanner scanner(text);
  if (!scanner.run()) return std::nullopt;
  return scanner.found();
}

std::optional<Event> windowEvent(std::string_view text) {
  Scanner scanner(text);
  if (!scanner.run()) return std::nullopt;
  return Event{scanner.change(), scanner.found()};
}

}  // namespace platform::wayland::json
