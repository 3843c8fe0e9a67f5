// Just enough of a JSON reader to find the focused view in sway's tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::wayland::json {

struct View {
  std::int64_t pid = 0;
  std::string appId;        // empty when null or missing
  std::string windowClass;  // window_properties.class, for XWayland views
  std::string title;        // "name"
};

// The first object, in document order of its end, whose "focused" is true
// and which has a "pid"; none when there is none or `text` is not JSON.
std::optional<View> focusedView(std::string_view text);

// A window event: its "change" and the focused view it carries, if any.
struct Event {
  std::string change;
  std::optional<View> view;
};
std::optional<Event> windowEvent(std::string_view text);

}  // namespace platform::wayland::json
