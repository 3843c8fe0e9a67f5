#include "platform/linux/backlight/backlight.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>

// Paths are plain strings and folders are read with the C library's calls:
// std::filesystem would add a megabyte of the C++ runtime to the control
// tool, and loading it would cost every run more than the run itself.

namespace platform::sysfs {

namespace {

constexpr std::int32_t kFailed = 1;

// `folder`/`name`, with one separator between them.
std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string drmFolder(const std::string& root) { return join(root, "sys/class/drm"); }

std::string backlightFolder(const std::string& root) { return join(root, "sys/class/backlight"); }

// The names in the open folder `fd`, without "." and "..". Read straight
// into a buffer on the stack: opendir would allocate 32 KiB for these few
// names, a cost that shows in a run this short.
std::vector<std::string> namesIn(int fd) {
  std::vector<std::string> names;
  alignas(dirent64) char buffer[4096];
  ssize_t length;
  while ((length = getdents64(fd, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at < length;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
      at += entry->d_reclen;
    }
  }
  return names;
}

// The names in `folder`; none when it cannot be read.
std::vector<std::string> folderNames(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  std::vector<std::string> names = namesIn(fd);
  close(fd);
  return names;
}

// The first line of a small sysfs file, without its line feed; `path` is
// taken from the open folder `folder` (or the working folder, AT_FDCWD), so
// that the files of one folder are found without walking its path again.
std::optional<std::string> readLineAt(int folder, const std::string& path) {
  const int fd = openat(folder, path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[64];
  const ssize_t length = read(fd, buffer, sizeof buffer);
  close(fd);
  if (length < 0) return std::nullopt;
  std::string text(buffer, static_cast<size_t>(length));
  return text.substr(0, text.find('\n'));
}

std::optional<std::string> readLine(const std::string& path) { return readLineAt(AT_FDCWD, path); }

// A whole decimal number, the whole text.
std::optional<std::uint32_t> number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::uint32_t value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// "card0-eDP-1" has the type "eDP", "card1-HDMI-A-2" "HDMI-A".
std::string connectorType(const std::string& name) {
  const size_t first = name.find('-');
  const size_t last = name.rfind('-');
  if (first == std::string::npos || last <= first) return "";
  return name.substr(first + 1, last - first - 1);
}

bool isBuiltinType(const std::string& type) { return type == "eDP" || type == "LVDS" || type == "DSI"; }

// The N of "cardN-…".
std::optional<std::uint32_t> cardNumber(const std::string& name) {
  if (name.rfind("card", 0) != 0) return std::nullopt;
  const size_t dash = name.find('-');
  if (dash == std::string::npos) return std::nullopt;
  return number(name.substr(4, dash - 4));
}

DisplayId nameHash(const std::string& name) {
  std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
  for (const unsigned char c : name) hash = (hash ^ c) * 16777619u;
  const DisplayId folded = (hash >> 24) ^ (hash & 0xFFFFFFu);
  return folded != 0 ? folded : 1;
}

std::optional<Connector> connectedConnector(const std::string& root, DisplayId display) {
  for (const Connector& connector : connectedConnectors(root)) {
    if (connector.id == display) return connector;
  }
  return std::nullopt;
}

// The path with every link resolved, or "" when it does not exist. The
// kernel names an opened path in one call, where realpath(3) reads each of
// its parts as a link (a dozen calls for a sysfs device); realpath is left
// for a machine without /proc.
std::string realPath(const std::string& path) {
  const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return "";
  char resolved[PATH_MAX];
  const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), resolved, sizeof resolved);
  close(fd);
  if (length > 0 && length < static_cast<ssize_t>(sizeof resolved) && resolved[0] == '/') {
    return std::string(resolved, static_cast<std::size_t>(length));
  }
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

bool isUnder(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.empty()) return false;
  return path.rfind(folder + "/", 0) == 0;
}

int typeRank(const std::optional<std::string>& type) {
  if (type == "firmware") return 0;
  if (type == "platform") return 1;
  if (type == "raw") return 2;
  return 3;
}

// The devices of the best type among `names`: firmware, then platform,
// then raw, then any other.
std::vector<std::string> bestTyped(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<std::string> best;
  int bestRank = INT_MAX;
  for (const std::string& name : names) {
    const int rank = typeRank(readLine(join(folder, name + "/type")));
    if (rank < bestRank) {
      best.clear();
      bestRank = rank;
    }
    if (rank == bestRank) best.push_back(name);
  }
  return best;
}

// Among devices of one type, the one under the panel's connector, else
// under its GPU, else the first by name.
std::string nearest(const std::string& root, const Connector& connector, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  const std::string folder = backlightFolder(root);
  const std::string connectorPath = realPath(join(drmFolder(root), connector.name));
  std::optional<std::string> gpuPath;
  std::optional<std::string> underGpu;
  for (const std::string& name : names) {
    const std::string device = realPath(join(folder, name));
    if (isUnder(device, connectorPath)) return name;
    if (underGpu) continue;
    // The GPU's path is resolved only once a device is not under the connector.
    if (!gpuPath) gpuPath = realPath(join(drmFolder(root), connector.name + "/device/device"));
    if (isUnder(device, *gpuPath)) underGpu = name;
  }
  return underGpu ? *underGpu : names.front();
}

}  // namespace

namespace {

// The id of connector `name` in the open folder `drm`.
DisplayId connectorIdAt(int drm, const std::string& name) {
  const auto card = cardNumber(name);
  const auto object = number(readLineAt(drm, name + "/connector_id"));
  if (card && object && *card < 255 && *object > 0 && *object < (1u << 24)) {
    return (*card + 1) << 24 | *object;
  }
  return nameHash(name);
}

}  // namespace

DisplayId connectorId(const std::string& root, const std::string& name) {
  const int drm = open(drmFolder(root).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  const DisplayId id = connectorIdAt(drm, name);
  if (drm >= 0) close(drm);
  return id;
}

std::vector<Connector> connectedConnectors(const std::string& root) {
  std::vector<Connector> connectors;
  const int drm = open(drmFolder(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (drm < 0) return connectors;
  for (const std::string& name : namesIn(drm)) {
    if (!cardNumber(name)) continue;  // card0, renderD128, version
    if (readLineAt(drm, name + "/status") != "connected") continue;
    connectors.push_back({name, connectorIdAt(drm, name), isBuiltinType(connectorType(name))});
  }
  close(drm);
  std::sort(connectors.begin(), connectors.end(),
            [](const Connector& a, const Connector& b) { return a.name < b.name; });
  return connectors;
}

std::optional<std::string> backlightOf(const std::string& root, DisplayId display) {
  const auto connector = connectedConnector(root, display);
  if (!connector) return std::nullopt;
  return backlightOf(root, *connector);
}

std::optional<std::string> backlightOf(const std::string& root, const Connector& connector) {
  if (!connector.builtin) return std::nullopt;
  // Each sysfs read is a few system calls, which cost a run more than the
  // rest of its work: a lone device is the choice without a look at it,
  // types are read only where there is a choice, and paths are resolved only
  // where devices of the best type still tie.
  const std::string folder = backlightFolder(root);
  const std::vector<std::string> names = folderNames(folder);
  if (names.size() <= 1) return names.empty() ? std::nullopt : std::optional(names.front());
  const std::vector<std::string> best = bestTyped(folder, names);
  if (best.size() == 1) return best.front();
  return nearest(root, connector, best);
}

namespace {

std::int32_t readDeviceLevel(const std::string& root, const std::optional<std::string>& device,
                             float* level) {
  if (!device) return kFailed;
  const std::string folder = join(backlightFolder(root), *device);
  const auto value = number(readLine(join(folder, "brightness")));
  const auto max = number(readLine(join(folder, "max_brightness")));
  if (!value || !max || *max == 0) return kFailed;
  // A driver may report more than its maximum; a level never exceeds 1.
  *level = static_cast<float>(std::min(static_cast<double>(*value) / *max, 1.0));
  return 0;
}

std::int32_t writeDeviceLevel(const std::string& root, const std::optional<std::string>& device, float level,
                              const PrivilegedSet& privileged) {
  if (!device) return kFailed;
  const std::string folder = join(backlightFolder(root), *device);
  const auto max = number(readLine(join(folder, "max_brightness")));
  if (!max || *max == 0) return kFailed;
  const double limited = std::clamp(static_cast<double>(level), 0.0, 1.0);
  const auto value = static_cast<std::uint32_t>(std::lround(limited * *max));
  const std::string text = std::to_string(value);

  errno = 0;
  const int fd = open(join(folder, "brightness").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int reason = errno;
  if (fd >= 0) close(fd);
  if (written) return 0;
  // Only a refusal is worth asking about: any other error (no such file, a
  // value the driver rejects) would fail there too.
  if (reason == EACCES || reason == EPERM || reason == EROFS) return privileged(*device, value);
  return kFailed;
}

}  // namespace

std::int32_t readLevel(const std::string& root, DisplayId display, float* level) {
  return readDeviceLevel(root, backlightOf(root, display), level);
}

std::int32_t readLevel(const std::string& root, const Connector& connector, float* level) {
  return readDeviceLevel(root, backlightOf(root, connector), level);
}

std::int32_t writeLevel(const std::string& root, DisplayId display, float level,
                        const PrivilegedSet& privileged) {
  if (std::isnan(level)) return kFailed;
  return writeDeviceLevel(root, backlightOf(root, display), level, privileged);
}

std::int32_t writeLevel(const std::string& root, const Connector& connector, float level,
                        const PrivilegedSet& privileged) {
  if (std::isnan(level)) return kFailed;
  return writeDeviceLevel(root, backlightOf(root, connector), level, privileged);
}

}  // namespace platform::sysfs
