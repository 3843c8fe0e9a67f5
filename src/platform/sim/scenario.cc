#include "platform/sim/scenario.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/sim/trace.h"

namespace sim {
namespace {

using Kind = JsonValue::Kind;

[[noreturn]] void wrongType(const std::string& path, const char* expected) {
  throw Fault(path + ": expected " + expected);
}

// The members of one JSON object, taken one by one; whatever is left when
// the reading is done is an unknown key.
class Fields {
 public:
  Fields(const JsonValue& value, std::string path) : value_(value), path_(std::move(path)) {
    if (value.kind != Kind::Object) wrongType(path_, "an object");
    taken_.assign(value.members.size(), false);
  }

  const JsonValue* take(const char* key) {
    for (std::size_t i = 0; i < value_.members.size(); ++i) {
      if (value_.members[i].name == key) {
        taken_[i] = true;
        return &value_.members[i].value;
      }
    }
    return nullptr;
  }

  const JsonValue& require(const char* key) {
    const JsonValue* value = take(key);
    if (value == nullptr) throw Fault(path(key) + ": missing");
    return *value;
  }

  std::string path(const char* key) const { return path_.empty() ? key : path_ + "." + key; }

  void finish() const {
    for (std::size_t i = 0; i < value_.members.size(); ++i) {
      if (!taken_[i]) throw Fault(path(value_.members[i].name.c_str()) + ": unknown key");
    }
  }

 private:
  const JsonValue& value_;
  std::string path_;
  std::vector<bool> taken_;
};

template <typename Integer>
Integer integer(const JsonValue& value, const std::string& path, const char* expected) {
  Integer result{};
  if (value.kind == Kind::Number) {
    const char* first = value.text.data();
    const char* last = first + value.text.size();
    const auto parsed = std::from_chars(first, last, result);
    if (parsed.ec == std::errc() && parsed.ptr == last) return result;
  }
  wrongType(path, expected);
}

std::uint32_t u32(const JsonValue& value, const std::string& path) {
  return integer<std::uint32_t>(value, path, "an integer from 0 to 4294967295");
}

std::int32_t i32(const JsonValue& value, const std::string& path) {
  return integer<std::int32_t>(value, path, "a 32-bit signed integer");
}

double number(const JsonValue& value, const std::string& path) {
  if (value.kind == Kind::Number) return std::strtod(value.text.c_str(), nullptr);
  if (value.kind == Kind::String) {
    if (value.text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (value.text == "inf") return std::numeric_limits<double>::infinity();
    if (value.text == "-inf") return -std::numeric_limits<double>::infinity();
  }
  wrongType(path, "a number, \"nan\", \"inf\" or \"-inf\"");
}

bool boolean(const JsonValue& value, const std::string& path) {
  if (value.kind != Kind::Bool) wrongType(path, "true or false");
  return value.boolean;
}

std::optional<std::string> optionalText(const JsonValue& value, const std::string& path) {
  if (value.kind == Kind::Null) return std::nullopt;
  if (value.kind != Kind::String) wrongType(path, "a string or null");
  return value.text;
}

const std::vector<JsonValue>& array(const JsonValue& value, const std::string& path) {
  if (value.kind != Kind::Array) wrongType(path, "an array");
  return value.items;
}

std::string indexed(const std::string& path, std::size_t i) { return path + "[" + std::to_string(i) + "]"; }

// Reads the member `key` with `read` when it is present.
template <typename T, typename Read>
void optionalField(Fields& fields, const char* key, T& target, Read read) {
  if (const JsonValue* value = fields.take(key)) target = read(*value, fields.path(key));
}

// Each element of the array `value`, read with `read`.
template <typename Read>
auto listOf(const JsonValue& value, const std::string& path, Read read) {
  std::vector<decltype(read(value, path))> result;
  const auto& items = array(value, path);
  for (std::size_t i = 0; i < items.size(); ++i) result.push_back(read(items[i], indexed(path, i)));
  return result;
}

std::string text(const JsonValue& value, const std::string& path) {
  if (value.kind != Kind::String) wrongType(path, "a string");
  return value.text;
}

OnlineDisplay onlineDisplay(const JsonValue& value, const std::string& path) {
  Fields fields(value, path);
  OnlineDisplay display;
  display.id = u32(fields.require("id"), fields.path("id"));
  optionalField(fields, "builtin", display.builtin, boolean);
  fields.finish();
  return display;
}

DisplayServicesState displayServicesState(const JsonValue& value, const std::string& path) {
  DisplayServicesState state;
  Fields fields(value, path);
  optionalField(fields, "loads", state.loads, boolean);
  if (const JsonValue* symbols = fields.take("symbols")) {
    state.symbols = listOf(*symbols, fields.path("symbols"), text);
  }
  optionalField(fields, "getStatus", state.getStatus, i32);
  if (const JsonValue* level = fields.take("level")) {
    state.level = static_cast<float>(number(*level, fields.path("level")));
  }
  optionalField(fields, "setChangesLevel", state.setChangesLevel, boolean);
  fields.finish();
  return state;
}

DisplaysState displaysState(const JsonValue& value, const std::string& path) {
  DisplaysState state;
  Fields fields(value, path);
  optionalField(fields, "countStatus", state.countStatus, i32);
  optionalField(fields, "listStatus", state.listStatus, i32);
  if (const JsonValue* online = fields.take("online")) {
    state.online = listOf(*online, fields.path("online"), onlineDisplay);
  }
  state.filled = static_cast<std::uint32_t>(state.online.size());
  optionalField(fields, "filled", state.filled, u32);
  fields.finish();
  return state;
}

AudioDevice audioDevice(const JsonValue& value, const std::string& path) {
  AudioDevice device;
  Fields fields(value, path);
  device.id = u32(fields.require("id"), fields.path("id"));
  optionalField(fields, "outputStreamsStatus", device.outputStreamsStatus, i32);
  optionalField(fields, "outputStreamsSize", device.outputStreamsSize, u32);
  optionalField(fields, "nameStatus", device.nameStatus, i32);
  device.name = optionalText(fields.require("name"), fields.path("name"));
  fields.finish();
  return device;
}

AudioState audioState(const JsonValue& value, const std::string& path) {
  AudioState state;
  Fields fields(value, path);
  if (const JsonValue* devices = fields.take("devices")) {
    state.devices = listOf(*devices, fields.path("devices"), audioDevice);
  }
  optionalField(fields, "devicesSizeStatus", state.devicesSizeStatus, i32);
  state.devicesSize = static_cast<std::uint32_t>(4 * state.devices.size());
  optionalField(fields, "devicesSize", state.devicesSize, u32);
  optionalField(fields, "devicesStatus", state.devicesStatus, i32);
  if (const JsonValue* filled = fields.take("devicesFilled")) {
    state.devicesFilled = u32(*filled, fields.path("devicesFilled"));
  }
  optionalField(fields, "defaultStatus", state.defaultStatus, i32);
  optionalField(fields, "defaultOutput", state.defaultOutput, u32);
  optionalField(fields, "setChangesDefault", state.setChangesDefault, boolean);
  fields.finish();
  return state;
}

Application application(const JsonValue& value, const std::string& path) {
  Application app;
  Fields fields(value, path);
  optionalField(fields, "bundleId", app.bundleId, optionalText);
  optionalField(fields, "name", app.name, optionalText);
  app.pid = i32(fields.require("pid"), fields.path("pid"));
  fields.finish();
  return app;
}

Screen screen(const JsonValue& value, const std::string& path) {
  Screen result;
  Fields fields(value, path);
  optionalField(fields, "top", result.top, number);
  result.frameWidth = number(fields.require("frameWidth"), fields.path("frameWidth"));
  const auto optionalNumber = [](const JsonValue& side,
                                 const std::string& sidePath) -> std::optional<double> {
    if (side.kind == Kind::Null) return std::nullopt;
    return number(side, sidePath);
  };
  optionalField(fields, "left", result.left, optionalNumber);
  optionalField(fields, "right", result.right, optionalNumber);
  fields.finish();
  return result;
}

void readScreens(Fields& fields, ScreensState& state) {
  if (const JsonValue* screens = fields.take("screens")) {
    state.screens = listOf(*screens, fields.path("screens"), screen);
  }
  state.main = state.screens.empty() ? ScreensState::Main::None : ScreensState::Main::Listed;
  const JsonValue* main = fields.take("mainScreen");
  if (main == nullptr) return;
  const std::string path = fields.path("mainScreen");
  if (main->kind == Kind::Null) {
    state.main = ScreensState::Main::None;
  } else if (main->kind == Kind::Object) {
    state.main = ScreensState::Main::Own;
    state.mainOwn = screen(*main, path);
  } else {
    const std::uint32_t index = u32(*main, path);
    if (index >= state.screens.size()) throw Fault(path + ": no screen has index " + std::to_string(index));
    state.main = ScreensState::Main::Listed;
    state.mainIndex = index;
  }
}

std::string readFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Fault(std::string("cannot read ") + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

JsonValue parseOrFault(std::string_view text, const char* what) {
  std::string error;
  auto value = parseJson(text, error);
  if (!value) throw Fault(std::string(what) + " is not valid JSON: " + error);
  return std::move(*value);
}

}  // namespace

Scenario parseScenario(std::string_view text) {
  const JsonValue root = parseOrFault(text, "scenario");
  Scenario scenario;
  Fields fields(root, "");
  if (const JsonValue* value = fields.take("displayServices")) {
    scenario.displayServices = displayServicesState(*value, "displayServices");
  }
  if (const JsonValue* value = fields.take("displays")) scenario.displays = displaysState(*value, "displays");
  if (const JsonValue* value = fields.take("audio")) scenario.audio = audioState(*value, "audio");
  if (const JsonValue* value = fields.take("frontmost"); value != nullptr && value->kind != Kind::Null) {
    scenario.focus.frontmost = application(*value, "frontmost");
  }
  if (const JsonValue* value = fields.take("clock")) scenario.focus.clock = listOf(*value, "clock", number);
  readScreens(fields, scenario.screens);
  fields.finish();
  return scenario;
}

Notification parseNotification(std::string_view line) {
  const JsonValue root = parseOrFault(line, "event line");
  Notification notification;
  Fields fields(root, "event");
  const JsonValue& userInfo = fields.require("userInfo");
  fields.finish();
  if (userInfo.kind == Kind::Null) return notification;
  if (userInfo.kind != Kind::Object) wrongType("event.userInfo", "an object or null");
  notification.hasUserInfo = true;
  // The user info is the platform's own dictionary: keys other than the
  // application's are data, not typos.
  for (const auto& [key, value] : userInfo.members) {
    if (key != "NSWorkspaceApplicationKey") continue;
    notification.hasApplicationEntry = true;
    if (value.kind == Kind::Object) {
      notification.application = application(value, "event.userInfo.NSWorkspaceApplicationKey");
    }
  }
  return notification;
}

void failWithFault(const std::string& what) {
  // Key names and paths come from the test's files; escaping their control
  // characters keeps the report on one line.
  std::string line = "simulated machine: ";
  for (const char c : what) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char hex[] = "0123456789abcdef";
      line += "\\x";
      line += hex[byte >> 4];
      line += hex[byte & 0xF];
    } else {
      line += c;
    }
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
  recordExit(3);
  std::exit(3);
}

int openDescriptor(const char* path, int flags) {
  const int fd = open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

Scenario& machine() {
  static Scenario* loaded = [] {
    const char* path = std::getenv("SIM_SCENARIO");
    try {
      return new Scenario(path == nullptr ? Scenario{} : parseScenario(readFile(path)));
    } catch (const Fault& fault) {
      failWithFault(fault.what());
    }
  }();
  return *loaded;
}

}  // namespace sim
