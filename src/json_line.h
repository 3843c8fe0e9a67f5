// The JSON line writer: one reply object in, one compact JSON line out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

struct Reply;
struct JsonNull {};
using ReplyList = std::vector<Reply>;
using ReplyValue = std::variant<JsonNull, double, std::int64_t, std::int32_t, std::string, ReplyList>;

// A reply object. Members keep the order they were first set in; setting a
// key again replaces its value, so keys stay unique.
struct Reply {
  std::vector<std::pair<std::string, ReplyValue>> members;

  Reply& set(std::string key, ReplyValue value);
};

// Appends `text` as a JSON string; the solidus is escaped unless
// `escapeSolidus` is false. Returns false, leaving `out` in an unspecified
// state, when `text` is not valid UTF-8.
bool appendJsonString(std::string& out, std::string_view text, bool escapeSolidus = true);

// Whether `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

// Appends the shortest decimal form that reads back as the same double.
// Returns false for NaN and the infinities, which JSON cannot carry.
bool appendJsonNumber(std::string& out, double value);

// The reply as one line of compact JSON without the line feed, or false when
// it holds a non-finite number or text that is not valid UTF-8.
bool formatJSON(const Reply& reply, std::string& line);

// Prints the reply and a line feed to standard output in one write, or
// nothing at all when the reply cannot be written. Never flushes.
void printJSON(const Reply& reply);
