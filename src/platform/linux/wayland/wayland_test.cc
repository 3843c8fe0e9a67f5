// What a compositor or sway may send that the tests against the real ones
// do not: malformed event arguments and unusual JSON.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/wayland/json_scan.h"
#include "platform/linux/wayland/wire.h"

namespace platform::wayland {
namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<std::uint32_t> words, std::string tail = {}) {
  std::vector<std::uint8_t> out(words.size() * 4);
  std::memcpy(out.data(), std::data(words), out.size());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(Reader, StringsAndArrays) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> data;
    std::string text;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"padded string", bytes({3}, std::string("ab\0\0", 4)), "ab", true},
      {"null string", bytes({0}), "", true},
      {"no terminator", bytes({4}, "abcd"), "", false},
      {"longer than the event", bytes({40}, std::string("ab\0\0", 4)), "", false},
      {"no length", {}, "", false},
  };
  for (const Case& c : cases) {
    Reader reader(c.data.data(), c.data.size());
    EXPECT_EQ(reader.string(), c.text) << c.label;
    EXPECT_EQ(reader.ok(), c.ok) << c.label;
  }
  const std::vector<std::uint8_t> states = bytes({8, 2, 1, 7});
  Reader reader(states.data(), states.size());
  EXPECT_EQ(reader.uintArray(), (std::vector<std::uint32_t>{2, 1}));
  EXPECT_EQ(reader.uint(), 7u);
  EXPECT_TRUE(reader.ok());
  EXPECT_EQ(reader.uint(), 0u);  // past the end
  EXPECT_FALSE(reader.ok());
}

TEST(Writer, PadsStrings) {
  Writer writer;
  writer.uint(7).string("abcd");
  EXPECT_EQ(writer.bytes(), bytes({7, 5}, std::string("abcd\0\0\0\0", 8)));
}

TEST(SwayTree, FocusedView) {
  struct Case {
    const char* label;
    std::string json;
    std::optional<std::int64_t> pid;
    std::string appId, windowClass, title;
  };
  const std::vector<Case> cases = {
      {"nested view", R"({"nodes":[{"focused":false,"pid":1,"nodes":[{"focused":true,"pid":42,"app_id":"foot",)"
                      R"("name":"a \"b\" \u00e9 \ud83d\ude00","nodes":[]}]}]})",
       42, "foot", "", "a \"b\" é 😀"},
      {"XWayland view", R"({"focused":true,"pid":7,"app_id":null,"name":"x",)"
                        R"("window_properties":{"class":"XTerm","title":"x"}})",
       7, "", "XTerm", "x"},
      {"focused workspace, no pid", R"({"nodes":[{"focused":true,"name":"1"}],"floating_nodes":[]})",
       std::nullopt, "", "", ""},
      {"not JSON", R"({"focused":true,"pid":3,)", std::nullopt, "", "", ""},
      {"bad escape", R"({"focused":true,"pid":3,"name":"\x"})", std::nullopt, "", "", ""},
      {"too deep", std::string(300, '[') + std::string(300, ']'), std::nullopt, "", "", ""},
  };
  for (const Case& c : cases) {
    const std::optional<json::View> view = json::focusedView(c.json);
    ASSERT_EQ(view.has_value(), c.pid.has_value()) << c.label;
    if (!view) continue;
    EXPECT_EQ(view->pid, *c.pid) << c.label;
    EXPECT_EQ(view->appId, c.appId) << c.label;
    EXPECT_EQ(view->windowClass, c.windowClass) << c.label;
    EXPECT_EQ(view->title, c.title) << c.label;
  }
}

TEST(SwayTree, WindowEvent) {
  const auto event = json::windowEvent(
      R"({"change":"focus","container":{"focused":true,"pid":9,"app_id":"a","name":"t","change":"x"}})");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->change, "focus");  // the event's own, not a nested key's
  ASSERT_TRUE(event->view);
  EXPECT_EQ(event->view->pid, 9);
}

}  // namespace
}  // namespace platform::wayland
