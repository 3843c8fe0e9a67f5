// A small JSON reader for the simulated machine's scenario and event files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct JsonMember;

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's value, or a number's text as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in the order written
};

// Declared apart so that JsonValue is complete wherever a member is built.
struct JsonMember {
  std::string key;
  JsonValue value;
};

// Parses one JSON value that fills `text` (white space around it allowed).
// On failure returns none and says why in `error`.
std::optional<JsonValue> parseJson(std::string_view text, std::string& error);

}  // namespace sim
