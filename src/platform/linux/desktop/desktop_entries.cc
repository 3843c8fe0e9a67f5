#include "platform/linux/desktop/desktop_entries.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace platform::desktop {
namespace {

struct Parsed {
  bool hidden = false;
  std::string name;
  std::string startupWMClass;
};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The applications/ folders, the most important first.
std::vector<std::string> folders() {
  std::vector<std::string> list;
  std::string home = environment("XDG_DATA_HOME");
  if (home.empty() && !environment("HOME").empty()) home = environment("HOME") + "/.local/share";
  if (!home.empty()) list.push_back(home + "/applications/");
  std::string dirs = environment("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    if (end > start) list.push_back(dirs.substr(start, end - start) + "/applications/");
    start = end + 1;
  }
  return list;
}

// The locale's keys for Name, the most specific first: lang_COUNTRY@MODIFIER,
// lang_COUNTRY, lang@MODIFIER, lang.
std::vector<std::string> nameKeys() {
  std::string locale = environment("LC_ALL");
  if (locale.empty()) locale = environment("LC_MESSAGES");
  if (locale.empty()) locale = environment("LANG");
  locale = locale.substr(0, locale.find('.')) + (locale.find('@') != std::string::npos
                                                     ? locale.substr(locale.find('@')) : "");
  const std::size_t at = locale.find('@');
  const std::string modifier = at != std::string::npos ? locale.substr(at) : "";
  const std::string base = locale.substr(0, at);
  const std::string lang = base.substr(0, base.find('_'));
  std::vector<std::string> keys;
  if (!lang.empty() && lang != "C" && lang != "POSIX") {
    for (const std::string& k : {base + modifier, base, lang + modifier, lang}) {
      if (keys.empty() || keys.back() != k) keys.push_back("Name[" + k + "]");
    }
  }
  keys.push_back("Name");
  return keys;
}

std::optional<Parsed> parse(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  Parsed parsed;
  const std::vector<std::string> keys = nameKeys();
  std::size_t best = keys.size();
  bool inMain = false;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with('[')) {
      inMain = line == "[Desktop Entry]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inMain || equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string value = line.substr(equals + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (key == "Hidden") parsed.hidden = value == "true";
    if (key == "StartupWMClass") parsed.startupWMClass = value;
    for (std::size_t i = 0; i < best; ++i) {
      if (key == keys[i]) {
        parsed.name = value;
        best = i;
      }
    }
  }
  return parsed;
}

}  // namespace

std::optional<Entry> find(std::string_view id) {
  if (id.empty() || id.find('/') != std::string_view::npos) return std::nullopt;
  for (const std::string& folder : folders()) {
    const std::optional<Parsed> parsed = parse(folder + std::string(id) + ".desktop");
    if (!parsed) continue;
    if (parsed->hidden) return std::nullopt;  // hides the same id further down too
    return Entry{std::string(id), parsed->name};
  }
  return std::nullopt;
}

std::optional<Entry> findByStartupWMClass(std::string_view wmClass) {
  for (const std::string& folder : folders()) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) continue;
    std::optional<Entry> found;
    while (const dirent* item = readdir(dir)) {
      const std::string file = item->d_name;
      if (!file.ends_with(".desktop")) continue;
      const std::optional<Parsed> parsed = parse(folder + file);
      if (parsed && !parsed->hidden && parsed->startupWMClass == wmClass) {
        found = Entry{file.substr(0, file.size() - 8), parsed->name};
        break;
      }
    }
    closedir(dir);
    if (found) return found;
  }
  return std::nullopt;
}

}  // namespace platform::desktop
