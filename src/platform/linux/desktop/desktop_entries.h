// The installed desktop entries (the applications/ folders of the XDG data
// folders), which name applications for the display systems that give only
// an id or a class.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::desktop {

struct Entry {
  std::string id;    // the desktop id, without ".desktop"
  std::string name;  // Name, localized
};

// The entry whose desktop id is `id`, if any and not Hidden.
std::optional<Entry> find(std::string_view id);

// The entry whose StartupWMClass equals `wmClass`, if any.
std::optional<Entry> findByStartupWMClass(std::string_view wmClass);

}  // namespace platform::desktop
