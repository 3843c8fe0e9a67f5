#include "controls/text_rules.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>

namespace controls {
namespace {

bool sameFloat(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(LevelTextTest, AcceptsEveryNumberForm) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* text;
    float level;
  } cases[] = {
      {"0.5", 0.5f},    {".5", 0.5f},       {"5e-1", 0.5f},    {"+0.5", 0.5f},    {"+0.50", 0.5f},
      {"0x1p-1", 0.5f}, {"0x.8", 0.5f},     {"0X1P-1", 0.5f},  {"5.", 5.0f},      {"-0", -0.0f},
      {"1E0", 1.0f},    {"0.7", 0.7f},      {"inf", inf},      {"INF", inf},      {"Infinity", inf},
      {"-inf", -inf},   {"+iNfInItY", inf}, {"1e39", inf},     {"0x1e5", 485.0f}, {"00.25", 0.25f},
      {"-5", -5.0f},    {"1e-50", 0.0f},    {"0x1.8p1", 3.0f}, {"1.5e+0", 1.5f},
  };
  for (const auto& c : cases) {
    const auto level = levelFromText(c.text);
    ASSERT_TRUE(level) << c.text;
    EXPECT_TRUE(sameFloat(*level, c.level)) << c.text << " gave " << *level;
  }
  for (const char* nan : {"nan", "NaN", "nan(1)", "nan()", "-nan", "NAN(abc_12)"}) {
    const auto level = levelFromText(nan);
    ASSERT_TRUE(level) << nan;
    EXPECT_TRUE(std::isnan(*level)) << nan;
  }
}

TEST(LevelTextTest, RejectsAnythingElse) {
  for (const char* text :
       {"",     " 0.5",  "0.5 ",    "\t1",       "\n1",      "0,5",   "50%",   "1e",       "1e+",
        "0x",   "0x.",   "0xp1",    "1.2.3",     ".",        "+",     "-",     "+-1",      "--1",
        "e5",   "0.5f",  "infinit", "infinityy", "nan(",     "nan(1", "nan)",  "nan(a b)", "nan(-)",
        "snan", "1_000", "0x1p",    "1 000",     "\xD9\xA1", "0.5\n", "1e5.0", "0x1.8g"}) {
    EXPECT_FALSE(levelFromText(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(levelFromText(std::string_view("0.5\0x", 5)));
}

// The reference for the level rule: the C standard's grammar of a strtof
// subject sequence in the "C" locale, matching the whole text (so no leading
// white space, every byte consumed), with strtof giving the value of a text
// the grammar accepts. strtof itself is not asked what it accepts: C
// libraries differ there (Apple's takes any characters between "nan(" and
// ")"), and the rule must not.
std::optional<float> byGrammar(const std::string& text) {
  static const std::regex grammar(
      "[+-]?("
      "([0-9]+\\.?[0-9]*|\\.[0-9]+)(e[+-]?[0-9]+)?"              // decimal
      "|0x([0-9a-f]+\\.?[0-9a-f]*|\\.[0-9a-f]+)(p[+-]?[0-9]+)?"  // hexadecimal
      "|inf|infinity"                                            // infinity
      "|nan(\\([0-9a-z_]*\\))?"                                  // NaN
      ")",
      std::regex::icase | std::regex::optimize);
  if (!std::regex_match(text, grammar)) return std::nullopt;
  return std::strtof(text.c_str(), nullptr);
}

TEST(LevelTextTest, AgreesWithTheStandardGrammarOnGeneratedTexts) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::mt19937 random(7);
  const std::string alphabet = "0123456789.eEpPxX+-nNaAiIfFtTyY()_ ,1";
  const std::string pieces[] = {"0x", "inf", "infinity", "nan", "nan(", ")",   "e", "p", ".", "-",
                                "+",  "1",   "9",        "0",   "f",    "7e8", "a", "x", "(", "_"};
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  int accepted = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    const std::size_t length = pick(7);
    for (std::size_t k = 0; k < length; ++k) {
      if (i % 2) {
        text += alphabet[pick(alphabet.size())];
      } else {
        text += pieces[pick(std::size(pieces))];
      }
    }
    const auto expected = byGrammar(text);
    const auto actual = levelFromText(text);
    ASSERT_EQ(actual.has_value(), expected.has_value()) << '"' << text << '"';
    if (expected) {
      ++accepted;
      ASSERT_TRUE(sameFloat(*actual, *expected)) << '"' << text << '"';
    }
  }
  // The generator must reach the accepting side often enough to mean
  // something, not only the rejecting one.
  EXPECT_GT(accepted, 10000);
}

TEST(LevelTextTest, RoundsToNearestFloatTiesToEven) {
  // 1 + 2^-24 lies halfway between 1 and the next float; even is 1.
  EXPECT_TRUE(sameFloat(*levelFromText("1.000000059604644775390625"), 1.0f));
  // 1 + 3 * 2^-24 lies halfway between two floats; the even one is above.
  EXPECT_TRUE(sameFloat(*levelFromText("1.000000178813934326171875"), 1.0f + 2 * 0x1p-23f));
  EXPECT_TRUE(sameFloat(*levelFromText("0x1.000001p0"), 1.0f));
  EXPECT_TRUE(sameFloat(*levelFromText("0x1.000003p0"), 1.0f + 2 * 0x1p-23f));
}

TEST(IdTextTest, ReadsDigitByDigitIn32Bits) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> id;
  } cases[] = {
      {"7", 7},
      {"+7", 7},
      {"0007", 7},
      {"-0", 0},
      {"-000", 0},
      {"0", 0},
      {"4294967295", 4294967295u},
      {"00004294967295", 4294967295u},
      {"2147483648", 2147483648u},
      {"-1", std::nullopt},
      {"-01", std::nullopt},
      {"4294967296", std::nullopt},
      {"42949672950", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"0x10", std::nullopt},
      {"1e3", std::nullopt},
      {" 7", std::nullopt},
      {"7 ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-7", std::nullopt},
      {"", std::nullopt},
      {"1_000", std::nullopt},
      {"\xD9\xA7", std::nullopt},  // ARABIC-INDIC DIGIT SEVEN
      {"7.0", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(idFromText(c.text), c.id) << '"' << c.text << '"';
}

}  // namespace
}  // namespace controls
