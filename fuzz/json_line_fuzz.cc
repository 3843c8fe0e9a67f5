// The JSON line writer: a reply object built from the input (every kind of
// value, nesting, arbitrary bytes as text and as keys, any double) is printed
// either not at all (text that is not UTF-8, a number that is not finite) or
// as exactly one line that a strict reader reads back to the same object.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "captured_output.h"
#include "json_line.h"
#include "strict_json.h"

namespace {

constexpr int kMaxDepth = 4;
constexpr std::size_t kMaxMembers = 6;

// Whether a reply can be written at all, judged apart from the writer.
bool writable(const Reply& reply);

bool writable(const ReplyValue& value) {
  if (const auto* number = std::get_if<double>(&value)) return std::isfinite(*number);
  if (const auto* text = std::get_if<std::string>(&value)) return strict::validUtf8(*text);
  if (const auto* list = std::get_if<ReplyList>(&value)) {
    for (const Reply& element : *list) {
      if (!writable(element)) return false;
    }
  }
  return true;
}

bool writable(const Reply& reply) {
  for (const auto& [key, value] : reply.members) {
    if (!strict::validUtf8(key) || !writable(value)) return false;
  }
  return true;
}

Reply object(FuzzedDataProvider& input, int depth);

ReplyValue value(FuzzedDataProvider& input, int depth) {
  switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return JsonNull{};
    case 1:
      return std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>());
    case 2:
      return input.ConsumeIntegral<std::int64_t>();
    case 3:
      return input.ConsumeIntegral<std::int32_t>();
    case 4:
      return input.ConsumeRandomLengthString(64);
    default: {
      ReplyList list;
      const std::size_t count = depth < kMaxDepth ? input.ConsumeIntegralInRange<std::size_t>(0, 3) : 0;
      for (std::size_t i = 0; i < count; ++i) list.push_back(object(input, depth + 1));
      return list;
    }
  }
}

Reply object(FuzzedDataProvider& input, int depth) {
  Reply reply;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, kMaxMembers);
  for (std::size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    std::string key = input.ConsumeRandomLengthString(16);
    reply.set(std::move(key), value(input, depth));
  }
  return reply;
}

bool same(const Reply& reply, const strict::Value& read);

bool same(const ReplyValue& value, const strict::Value& read) {
  using Kind = strict::Value::Kind;
  if (std::holds_alternative<JsonNull>(value)) return read.kind == Kind::Null;
  if (const auto* text = std::get_if<std::string>(&value))
    return read.kind == Kind::String && read.text == *text;
  if (const auto* number = std::get_if<std::int64_t>(&value)) {
    return read.kind == Kind::Number && read.text == std::to_string(*number);
  }
  if (const auto* number = std::get_if<std::int32_t>(&value)) {
    return read.kind == Kind::Number && read.text == std::to_string(*number);
  }
  if (const auto* number = std::get_if<double>(&value)) {
    return read.kind == Kind::Number &&
           std::bit_cast<std::uint64_t>(std::strtod(read.text.c_str(), nullptr)) ==
               std::bit_cast<std::uint64_t>(*number);
  }
  const auto& list = std::get<ReplyList>(value);
  if (read.kind != Kind::Array || read.items.size() != list.size()) return false;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!same(list[i], read.items[i])) return false;
  }
  return true;
}

// Same members, found by key: their order is free.
bool same(const Reply& reply, const strict::Value& read) {
  if (read.kind != strict::Value::Kind::Object || read.keys.size() != reply.members.size()) return false;
  for (const auto& [key, value] : reply.members) {
    std::size_t i = 0;
    while (i < read.keys.size() && read.keys[i] != key) ++i;
    if (i == read.keys.size() || !same(value, read.items[i])) return false;
  }
  return true;
}

// What printJSON writes to standard output for `reply`.
std::string printed(const Reply& reply) { return capturedOutput([&] { printJSON(reply); }); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Reply reply = object(input, 0);
  const std::string out = printed(reply);
  if (!writable(reply)) {
    if (!out.empty()) std::abort();
    return 0;
  }
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) std::abort();
  strict::Rules rules;
  rules.writerForm = true;
  const auto read = strict::read(std::string_view(out).substr(0, out.size() - 1), rules);
  if (!read || !same(reply, *read)) std::abort();
  return 0;
}
