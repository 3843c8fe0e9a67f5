#include "platform/linux/backlight.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <tuple>

namespace platform::sysfs {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kFailed = 1;

fs::path drmFolder(const std::string& root) { return fs::path(root) / "sys/class/drm"; }

fs::path backlightFolder(const std::string& root) { return fs::path(root) / "sys/class/backlight"; }

// The first line of a small sysfs file, without its line feed.
std::optional<std::string> readLine(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[64];
  const ssize_t length = read(fd, buffer, sizeof buffer);
  close(fd);
  if (length < 0) return std::nullopt;
  std::string text(buffer, static_cast<size_t>(length));
  return text.substr(0, text.find('\n'));
}

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

fs::path realPath(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  return error ? fs::path() : resolved;
}

bool isUnder(const fs::path& path, const fs::path& folder) {
  if (folder.empty() || path.empty()) return false;
  const std::string prefix = folder.string() + "/";
  return path.string().rfind(prefix, 0) == 0;
}

int typeRank(const std::optional<std::string>& type) {
  if (type == "firmware") return 0;
  if (type == "platform") return 1;
  if (type == "raw") return 2;
  return 3;
}

struct Candidate {
  int nearness;  // 0 under the connector, 1 under its GPU, 2 elsewhere
  int type;
  std::string name;
};

}  // namespace

DisplayId connectorId(const std::string& root, const std::string& name) {
  const auto card = cardNumber(name);
  const auto object = number(readLine(drmFolder(root) / name / "connector_id"));
  if (card && object && *card < 255 && *object > 0 && *object < (1u << 24)) {
    return (*card + 1) << 24 | *object;
  }
  return nameHash(name);
}

std::vector<Connector> connectedConnectors(const std::string& root) {
  std::vector<Connector> connectors;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(drmFolder(root), error)) {
    const std::string name = entry.path().filename().string();
    if (!cardNumber(name)) continue;  // card0, renderD128, version
    if (readLine(entry.path() / "status") != "connected") continue;
    connectors.push_back({name, connectorId(root, name), isBuiltinType(connectorType(name))});
  }
  std::sort(connectors.begin(), connectors.end(),
            [](const Connector& a, const Connector& b) { return a.name < b.name; });
  return connectors;
}

std::optional<std::string> backlightOf(const std::string& root, DisplayId display) {
  const auto connector = connectedConnector(root, display);
  if (!connector || !connector->builtin) return std::nullopt;
  const fs::path connectorPath = realPath(drmFolder(root) / connector->name);
  const fs::path gpuPath = realPath(drmFolder(root) / connector->name / "device/device");
  std::vector<Candidate> candidates;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(backlightFolder(root), error)) {
    const fs::path device = realPath(entry.path());
    const int nearness = isUnder(device, connectorPath) ? 0 : isUnder(device, gpuPath) ? 1 : 2;
    candidates.push_back(
        {nearness, typeRank(readLine(entry.path() / "type")), entry.path().filename().string()});
  }
  // Devices near the panel are the only choices once there is one.
  const bool anyNear =
      std::any_of(candidates.begin(), candidates.end(), [](const Candidate& c) { return c.nearness < 2; });
  if (anyNear) std::erase_if(candidates, [](const Candidate& c) { return c.nearness == 2; });
  if (candidates.empty()) return std::nullopt;
  const auto best =
      std::min_element(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.type, a.nearness, a.name) < std::tie(b.type, b.nearness, b.name);
      });
  return best->name;
}

std::int32_t readLevel(const std::string& root, DisplayId display, float* level) {
  const auto device = backlightOf(root, display);
  if (!device) return kFailed;
  const fs::path folder = backlightFolder(root) / *device;
  const auto value = number(readLine(folder / "brightness"));
  const auto max = number(readLine(folder / "max_brightness"));
  if (!value || !max || *max == 0) return kFailed;
  *level = static_cast<float>(static_cast<double>(*value) / *max);
  return 0;
}

std::int32_t writeLevel(const std::string& root, DisplayId display, float level,
                        const PrivilegedSet& privileged) {
  if (std::isnan(level)) return kFailed;
  const auto device = backlightOf(root, display);
  if (!device) return kFailed;
  const fs::path folder = backlightFolder(root) / *device;
  const auto max = number(readLine(folder / "max_brightness"));
  if (!max || *max == 0) return kFailed;
  const double limited = std::clamp(static_cast<double>(level), 0.0, 1.0);
  const auto value = static_cast<std::uint32_t>(std::lround(limited * *max));
  const std::string text = std::to_string(value);

  errno = 0;
  const int fd = open((folder / "brightness").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int reason = errno;
  if (fd >= 0) close(fd);
  if (written) return 0;
  // Only a refusal is worth asking about: any other error (no such file, a
  // value the driver rejects) would fail there too.
  if (reason == EACCES || reason == EPERM || reason == EROFS) return privileged(*device, value);
  return kFailed;
}

}  // namespace platform::sysfs
