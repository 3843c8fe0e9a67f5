#include "platform/linux/desktop/desktop_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <vector>

#include "json_line.h"

namespace platform::desktop {
namespace {

// Entries are small; a larger file is not read. Deeper subfolders are not
// searched (and a folder linked into itself ends there).
constexpr std::size_t kMaxEntryBytes = 256 * 1024;
constexpr int kMaxDepth = 8;
constexpr std::string_view kSuffix = ".desktop";
// A folder's mtime moves in clock ticks: a change within the tick in which
// it was read leaves the mtime as it was. A folder changed this close to
// the time it was listed is listed again at the next lookup.
constexpr time_t kRacySeconds = 2;

// A folder as it was when the entries were read: a file added, removed or
// renamed in it changes its mtime.
struct Stamp {
  std::string path;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  timespec mtime{};
};

// An entry file: its name in one of the folders listed.
struct File {
  std::size_t folder;  // index into Catalog::paths
  std::string name;
};

// What an id resolves to: its name, and the class it claims; no name when
// the id has no entry.
struct Resolved {
  std::optional<std::string> name;
  std::optional<std::string> wmClass;
};

// The folders are listed when the catalog is made; a file is read only when
// a lookup needs it. An id's lookup reads its own files; the first lookup by
// StartupWMClass reads them all, once.
struct Catalog {
  bool loaded = false;
  bool racy = false;                 // a folder changed just before it was listed
  std::vector<std::string> folders;  // applications/ folders, highest precedence first
  std::string locale;                // the one the names are chosen for
  std::vector<std::string> keys;     // the Name[...] keys for it, best first
  std::vector<Stamp> stamps;         // every folder listed
  std::vector<std::string> paths;    // every folder that holds entry files
  std::map<std::string, std::vector<File>, std::less<>> files;  // id -> its files, highest precedence first
  std::vector<std::string> order;                               // the ids, in the order found
  std::map<std::string, Resolved, std::less<>> resolved;        // the ids read so far
  bool complete = false;                                        // every id read: wmClasses is whole
  std::map<std::string, std::string, std::less<>> wmClasses;    // StartupWMClass -> desktop id
  std::vector<char> buffer;                                     // one file's bytes, kept for the next
};

Catalog catalog;

bool absolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  // Relative paths are invalid in these variables and count as unset.
  if (absolute(dataHome)) {
    folders.push_back(std::string(dataHome) + "/applications");
  } else if (absolute(home)) {
    folders.push_back(std::string(home) + "/.local/share/applications");
  }
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs =
      dataDirs != nullptr && dataDirs[0] != '\0' ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const std::size_t end = std::min(dirs.find(':'), dirs.size());
    const std::string_view dir = dirs.substr(0, end);
    if (!dir.empty() && dir[0] == '/') folders.push_back(std::string(dir) + "/applications");
    dirs.remove_prefix(std::min(end + 1, dirs.size()));
  }
  return folders;
}

// The locale of messages, from the environment (not the C library's, which
// may be C where the locale is not generated).
std::string messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return {};
}

// The Name[...] keys to try for a locale lang_COUNTRY.ENCODING@MODIFIER,
// best first; the encoding plays no part.
std::vector<std::string> nameKeys(std::string_view locale) {
  std::string_view modifier;
  if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  locale = locale.substr(0, locale.find('.'));
  const std::size_t underscore = locale.find('_');
  const std::string_view lang = locale.substr(0, underscore);
  const std::string_view country = underscore == std::string_view::npos ? "" : locale.substr(underscore + 1);
  std::vector<std::string> keys;
  if (lang.empty() || lang == "C" || lang == "POSIX") return keys;
  const std::string withCountry = std::string(lang) + "_" + std::string(country);
  if (!country.empty() && !modifier.empty()) keys.push_back(withCountry + "@" + std::string(modifier));
  if (!country.empty()) keys.push_back(withCountry);
  if (!modifier.empty()) keys.push_back(std::string(lang) + "@" + std::string(modifier));
  keys.push_back(std::string(lang));
  return keys;
}

// A string value with its escapes (\s \n \t \r \\) replaced; any other
// backslash stays as it is.
std::string unescape(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    const char next = value[++i];
    switch (next) {
      case 's':
        text += ' ';
        break;
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case 'r':
        text += '\r';
        break;
      case '\\':
        text += '\\';
        break;
      default:
        text += '\\';
        text += next;
    }
  }
  return text;
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What an entry file's [Desktop Entry] group says.
struct Parsed {
  bool hidden = false;
  std::optional<std::string> name;
  std::size_t nameRank = 0;  // index of the key it came from in the keys tried; plain Name is last
  std::optional<std::string> wmClass;
};

void takeName(Parsed& entry, std::string_view locale, std::string_view value,
              const std::vector<std::string>& keys) {
  std::size_t rank = keys.size();
  if (!locale.empty()) {
    rank = static_cast<std::size_t>(std::find(keys.begin(), keys.end(), locale) - keys.begin());
    if (rank == keys.size()) return;  // a locale not asked for
  }
  // The first of equal keys counts; an empty or non-UTF-8 text is no name.
  if (entry.name && entry.nameRank <= rank) return;
  std::string name = unescape(value);
  if (name.empty() || !isUtf8(name)) return;
  entry.name = std::move(name);
  entry.nameRank = rank;
}

void takeLine(Parsed& entry, std::string_view line, const std::vector<std::string>& keys) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = trim(line.substr(0, equals));
  const std::string_view value = trim(line.substr(equals + 1));
  if (key == "Hidden") {
    entry.hidden = value == "true";
  } else if (key == "StartupWMClass") {
    if (!entry.wmClass) entry.wmClass = unescape(value);
  } else if (key == "Name") {
    takeName(entry, "", value, keys);
  } else if (key.starts_with("Name[") && key.ends_with("]")) {
    takeName(entry, key.substr(5, key.size() - 6), value, keys);
  }
}

Parsed parse(std::string_view text, const std::vector<std::string>& keys) {
  Parsed entry;
  bool inEntryGroup = false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      // Only the entry's own group counts; actions and others are skipped.
      inEntryGroup = line == "[Desktop Entry]";
    } else if (inEntryGroup) {
      takeLine(entry, line, keys);
    }
  }
  return entry;
}

// The bytes of the file `name` in the folder `folder`, read into `buffer`
// (grown as needed, never shrunk, so one allocation serves every file);
// none when it cannot be read or is too large for an entry. A short read of
// a regular file is its end, so a small entry takes one read.
std::optional<std::string_view> readFile(int folder, const char* name, std::vector<char>& buffer) {
  const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  constexpr std::size_t kChunk = 16 * 1024;
  std::size_t length = 0;
  for (;;) {
    if (buffer.size() < length + kChunk) buffer.resize(length + kChunk);
    const ssize_t got = read(fd, buffer.data() + length, kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < kChunk || length > kMaxEntryBytes) break;
  }
  close(fd);
  if (length > kMaxEntryBytes) return std::nullopt;
  return std::string_view(buffer.data(), length);
}

Stamp stampOf(const std::string& path) {
  Stamp stamp{path};
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    stamp = Stamp{path, true, info.st_dev, info.st_ino, info.st_mtim};
  }
  return stamp;
}

bool sameStamp(const Stamp& a, const Stamp& b) {
  if (a.exists != b.exists) return false;
  return !a.exists || (a.device == b.device && a.inode == b.inode && a.mtime.tv_sec == b.mtime.tv_sec &&
                       a.mtime.tv_nsec == b.mtime.tv_nsec);
}

// Lists the entry files of a folder and its subfolders into the catalog.
struct Lister {
  Catalog& into;

  void folder(const std::string& path, const std::string& idPrefix, int depth) {
    into.stamps.push_back(stampOf(path));
    if (!into.stamps.back().exists) return;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    std::vector<std::pair<std::string, unsigned char>> children;
    while (const dirent* child = readdir(dir)) {
      const std::string_view name = child->d_name;
      if (name != "." && name != "..") children.emplace_back(name, child->d_type);
    }
    std::sort(children.begin(), children.end());
    const std::size_t index = into.paths.size();
    into.paths.push_back(path);
    for (const auto& [name, type] : children) {
      if (isFolder(dirfd(dir), name, type)) {
        if (depth + 1 < kMaxDepth) folder(path + "/" + name, idPrefix + name + "-", depth + 1);
      } else if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) {
        std::string id = idPrefix + name.substr(0, name.size() - kSuffix.size());
        std::vector<File>& files = into.files[id];
        if (files.empty()) into.order.push_back(std::move(id));
        files.push_back(File{index, name});
      }
    }
    closedir(dir);
  }

  static bool isFolder(int parent, const std::string& name, unsigned char type) {
    if (type == DT_DIR) return true;
    if (type != DT_LNK && type != DT_UNKNOWN) return false;
    struct stat info {};
    return fstatat(parent, name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
  }
};

// Folders opened once for a run of reads, so that each file is opened
// relative to its folder.
struct OpenFolders {
  const std::vector<std::string>& paths;
  std::vector<int> fds = std::vector<int>(paths.size(), -2);  // -2: not opened yet

  int operator[](std::size_t index) {
    if (fds[index] == -2) fds[index] = open(paths[index].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fds[index];
  }
  ~OpenFolders() {
    for (const int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
};

// The entry an id stands for: its file of highest precedence that has a
// name. A file without a name is no entry and hides nothing; a hidden one
// hides its id in the folders below it.
const Resolved& resolve(Catalog& c, const std::string& id, const std::vector<File>& files,
                        OpenFolders& folders) {
  if (const auto found = c.resolved.find(id); found != c.resolved.end()) return found->second;
  Resolved result;
  for (const File& file : files) {
    const std::optional<std::string_view> text = readFile(folders[file.folder], file.name.c_str(), c.buffer);
    if (!text) continue;
    Parsed parsed = parse(*text, c.keys);
    if (parsed.hidden) break;
    if (!parsed.name) continue;
    result = Resolved{std::move(parsed.name), std::move(parsed.wmClass)};
    break;
  }
  return c.resolved.emplace(id, std::move(result)).first->second;
}

bool unchanged(const std::vector<Stamp>& stamps) {
  return std::all_of(stamps.begin(), stamps.end(),
                     [](const Stamp& stamp) { return sameStamp(stamp, stampOf(stamp.path)); });
}

// The catalog, listed again when the folders, the locale or a folder's
// contents have changed since it was listed.
Catalog& current() {
  std::vector<std::string> folders = applicationFolders();
  std::string locale = messagesLocale();
  if (catalog.loaded && !catalog.racy && folders == catalog.folders && locale == catalog.locale &&
      unchanged(catalog.stamps)) {
    return catalog;
  }
  Catalog fresh;
  fresh.loaded = true;
  const time_t listedAt = time(nullptr);
  Lister lister{fresh};
  for (const std::string& folder : folders) lister.folder(folder, "", 0);
  fresh.racy = std::any_of(fresh.stamps.begin(), fresh.stamps.end(), [listedAt](const Stamp& stamp) {
    // A time far ahead (a skewed clock) is no race: the next change sets
    // the present time, which differs from it.
    const time_t age = listedAt - stamp.mtime.tv_sec;
    return stamp.exists && age >= -kRacySeconds && age <= kRacySeconds;
  });
  fresh.keys = nameKeys(locale);
  fresh.folders = std::move(folders);
  fresh.locale = std::move(locale);
  fresh.buffer = std::move(catalog.buffer);
  catalog = std::move(fresh);
  return catalog;
}

std::optional<Entry> entryOf(Catalog& c, std::string_view id, OpenFolders& folders) {
  const auto found = c.files.find(id);
  if (found == c.files.end()) return std::nullopt;
  const Resolved& resolved = resolve(c, found->first, found->second, folders);
  if (!resolved.name) return std::nullopt;
  return Entry{found->first, *resolved.name};
}

// Reads every entry once, for the classes they claim; the first entry in
// order of precedence (then of name) claims a class.
void complete(Catalog& c) {
  if (c.complete) return;
  OpenFolders folders{c.paths};
  for (const std::string& id : c.order) {
    const Resolved& resolved = resolve(c, id, c.files.find(id)->second, folders);
    if (resolved.name && resolved.wmClass && !resolved.wmClass->empty())
      c.wmClasses.try_emplace(*resolved.wmClass, id);
  }
  c.complete = true;
}

}  // namespace

std::optional<Entry> find(std::string_view id) {
  Catalog& c = current();
  OpenFolders folders{c.paths};
  return entryOf(c, id, folders);
}

std::optional<Entry> findByStartupWMClass(std::string_view wmClass) {
  Catalog& c = current();
  complete(c);
  const auto found = c.wmClasses.find(wmClass);
  if (found == c.wmClasses.end()) return std::nullopt;
  OpenFolders folders{c.paths};
  return entryOf(c, found->second, folders);
}

}  // namespace platform::desktop
