#include "json_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace {

std::string format(const Reply& reply) {
  std::string line;
  EXPECT_TRUE(formatJSON(reply, line));
  return line;
}

std::string text(std::string_view value) { return format(Reply{}.set("k", std::string(value))); }

TEST(JsonLineTest, WritesEachKindCompactly) {
  struct Case {
    ReplyValue value;
    const char* expected;
  };
  const Case cases[] = {
      {JsonNull{}, R"({"k":null})"},
      {std::int64_t{1}, R"({"k":1})"},
      {std::int64_t{4294967295}, R"({"k":4294967295})"},
      {std::numeric_limits<std::int64_t>::min(), R"({"k":-9223372036854775808})"},
      {std::int32_t{-1}, R"({"k":-1})"},
      {0.5, R"({"k":0.5})"},
      {1.0, R"({"k":1})"},
      {-0.0, R"({"k":-0.0})"},
      {ReplyList{}, R"({"k":[]})"},
      {ReplyList{Reply{}.set("id", std::int64_t{1}), Reply{}}, R"({"k":[{"id":1},{}]})"},
  };
  for (const Case& c : cases) EXPECT_EQ(format(Reply{}.set("k", c.value)), c.expected);
  EXPECT_EQ(format(Reply{}), "{}");
}

TEST(JsonLineTest, KeepsKeysUniqueAndInFirstSetOrder) {
  Reply reply;
  reply.set("current", JsonNull{}).set("outputs", ReplyList{}).set("current", std::int64_t{73});
  EXPECT_EQ(format(reply), R"({"current":73,"outputs":[]})");
}

TEST(JsonLineTest, EscapesStrings) {
  struct Case {
    std::string_view value;
    const char* expected;
  };
  const Case cases[] = {
      {"a/b", R"({"k":"a\/b"})"},
      {"say \"hi\"", R"({"k":"say \"hi\""})"},
      {"back\\slash", R"({"k":"back\\slash"})"},
      {"line\nbreak\ttab\r\b\f", R"({"k":"line\nbreak\ttab\r\b\f"})"},
      {std::string_view("nul\0x\x01\x1f", 7), R"({"k":"nul\u0000x\u0001\u001f"})"},
      {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x8E\xB5", "{\"k\":\"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x8E\xB5\"}"},
      {"\x7f", "{\"k\":\"\x7f\"}"},
      {"", R"({"k":""})"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(c.value), c.expected) << c.value;
  EXPECT_EQ(format(Reply{}.set("a/\"", JsonNull{})), R"({"a\/\"":null})");
}

TEST(JsonLineTest, RefusesTextThatIsNotUtf8) {
  const std::string_view invalid[] = {
      "\x80",              // continuation byte alone
      "\xC3",              // truncated sequence
      "\xC0\xAF",          // overlong solidus
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xED\xA0\x80",      // surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xFF",
      "ok\xE6\x97",  // truncated at the end
  };
  for (std::string_view value : invalid) {
    std::string line;
    EXPECT_FALSE(formatJSON(Reply{}.set("k", std::string(value)), line)) << value;
    EXPECT_FALSE(formatJSON(Reply{}.set("k", ReplyList{Reply{}.set("name", std::string(value))}), line));
  }
}

TEST(JsonLineTest, RefusesNonFiniteNumbers) {
  const double values[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double value : values) {
    std::string line;
    EXPECT_FALSE(formatJSON(Reply{}.set("brightness", value), line));
  }
}

TEST(JsonLineTest, DoublesReadBackExactly) {
  const double fixed[] = {
      0.0,  -0.0,         1.0, 0.1, static_cast<double>(0.7f), 1e21, 1e-7, 5e-324, 1.7976931348623157e308,
      -2.5, 123456789.125};
  std::mt19937_64 random(42);
  std::vector<double> values(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 20000; ++i) {
    double value;
    const std::uint64_t bits = random();
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
    values.push_back(static_cast<double>(static_cast<float>(i) / 997.0f));
  }
  for (double value : values) {
    std::string out;
    ASSERT_TRUE(appendJsonNumber(out, value));
    EXPECT_EQ(out.find_first_not_of("0123456789-+.e"), std::string::npos) << out;
    const double back = std::strtod(out.c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &value, sizeof value), 0) << out;
  }
  std::string shortest;
  appendJsonNumber(shortest, static_cast<double>(0.7f));
  EXPECT_EQ(shortest, "0.699999988079071");
}

TEST(JsonLineTest, PrintsOneLineOrNothing) {
  std::FILE* capture = std::tmpfile();
  ASSERT_NE(capture, nullptr);
  std::FILE* saved = stdout;
  stdout = capture;
  printJSON(Reply{}.set("brightness", JsonNull{}));
  printJSON(Reply{}.set("name", std::string("\xFF")));
  printJSON(Reply{}.set("brightness", std::numeric_limits<double>::quiet_NaN()));
  printJSON(Reply{}.set("v", std::int64_t{1}));
  stdout = saved;
  std::rewind(capture);
  char buffer[128] = {};
  const std::size_t size = std::fread(buffer, 1, sizeof buffer, capture);
  std::fclose(capture);
  EXPECT_EQ(std::string(buffer, size), "{\"brightness\":null}\n{\"v\":1}\n");
}

}  // namespace
