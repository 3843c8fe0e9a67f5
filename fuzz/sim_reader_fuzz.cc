// The simulated machine's reader of scenarios and event lines: it accepts
// exactly the texts that a strict JSON reader accepts under the machine's
// documented choices (lone surrogate escapes kept, duplicate keys refused,
// at most 64 arrays and objects around a value), reads them to the same
// values, and a scenario or event line it builds from any text either comes
// out whole or is refused as a fault, never a crash.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/sim/json_reader.h"
#include "platform/sim/scenario.h"
#include "strict_json.h"

namespace {

bool same(const sim::JsonValue& got, const strict::Value& expected) {
  using Got = sim::JsonValue::Kind;
  using Expected = strict::Value::Kind;
  switch (expected.kind) {
    case Expected::Null:
      return got.kind == Got::Null;
    case Expected::True:
    case Expected::False:
      return got.kind == Got::Bool && got.boolean == (expected.kind == Expected::True);
    case Expected::Number:
      return got.kind == Got::Number && got.text == expected.text;
    case Expected::String:
      return got.kind == Got::String && got.text == expected.text;
    case Expected::Array:
      if (got.kind != Got::Array || got.items.size() != expected.items.size()) return false;
      for (std::size_t i = 0; i < got.items.size(); ++i) {
        if (!same(got.items[i], expected.items[i])) return false;
      }
      return true;
    case Expected::Object:
      if (got.kind != Got::Object || got.members.size() != expected.keys.size()) return false;
      for (std::size_t i = 0; i < got.members.size(); ++i) {
        if (got.members[i].key != expected.keys[i] || !same(got.members[i].value, expected.items[i]))
          return false;
      }
      return true;
  }
  return false;
}

// Builds with `parse`; a refusal must be a fault, and a text that is not
// JSON must be refused.
template <typename Parse>
void build(Parse parse, std::string_view text, bool json) {
  try {
    parse(text);
  } catch (const sim::Fault&) {
    return;
  }
  if (!json) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  strict::Rules rules;
  rules.loneSurrogates = true;
  rules.maxDepth = 64;
  const auto expected = strict::read(text, rules);
  std::string error;
  const auto got = sim::parseJson(text, error);
  if (got.has_value() != expected.has_value()) std::abort();
  if (got && !same(*got, *expected)) std::abort();
  if (!got && error.empty()) std::abort();  // a fault always says what is wrong
  build(sim::parseScenario, text, expected.has_value());
  build(sim::parseNotification, text, expected.has_value());
  return 0;
}
