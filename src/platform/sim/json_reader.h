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
  // A vector may hold a type that is still incomplete here; a std::pair may
  // not, so an object's members are a struct of their own.
  std::vector<JsonMember> members;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// Parses one JSON value that fills `text` (white space around it allowed).
// On failure returns none and says why in `error`.
std::optional<JsonValue> parseJson(std::string_view text, std::string& error);

}  // namespace sim
