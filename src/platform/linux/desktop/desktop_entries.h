// The desktop's entries for its applications (the .desktop files under each
// XDG data folder's applications/), which give an application the id and
// the name that the desktop itself shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::desktop {

struct Entry {
  std::string id;    // desktop id: the path under applications/ with '/' as '-', no .desktop ending
  std::string name;  // Name, localized for LC_ALL, LC_MESSAGES or LANG
};

// The entry whose desktop id is `id` (exact match), if any, with
// XDG_DATA_HOME/XDG_DATA_DIRS, Hidden, subfolder ids and the locale rules
// applied. Entries are read once and cached; a cheap check per call
// (folders' mtimes) re-reads them when an applications/ folder changed.
std::optional<Entry> find(std::string_view id);

// The entry whose StartupWMClass equals `wmClass`, if any.
std::optional<Entry> findByStartupWMClass(std::string_view wmClass);

}  // namespace platform::desktop
