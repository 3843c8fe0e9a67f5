// The simulated machine's state, read once from the file that SIM_SCENARIO
// names. One scenario describes a whole machine, so every program accepts
// every section and uses the ones it needs.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/json_reader.h"

namespace sim {

// A scenario or event line that breaks the format: the test's fault.
struct Fault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct DisplayServicesState {
  bool loads = false;
  std::vector<std::string> symbols = {"DisplayServicesGetBrightness", "DisplayServicesSetBrightness"};
  std::int32_t getStatus = 0;
  float level = 0.5f;
  bool setChangesLevel = true;
};

struct OnlineDisplay {
  std::uint32_t id = 0;
  bool builtin = false;
};

struct DisplaysState {
  std::int32_t countStatus = 0;
  std::int32_t listStatus = 0;
  std::vector<OnlineDisplay> online;
  std::uint32_t filled = 0;  // defaults to online.size()
};

struct AudioDevice {
  std::uint32_t id = 0;
  std::int32_t outputStreamsStatus = 0;
  std::uint32_t outputStreamsSize = 8;
  std::int32_t nameStatus = 0;
  std::optional<std::string> name;  // none: the read succeeds but hands back no object
};

struct AudioState {
  std::int32_t devicesSizeStatus = 0;
  std::uint32_t devicesSize = 0;  // defaults to 4 × devices.size()
  std::int32_t devicesStatus = 0;
  std::optional<std::uint32_t> devicesFilled;  // none: all that fit
  std::vector<AudioDevice> devices;
  std::int32_t defaultStatus = 0;
  std::uint32_t defaultOutput = 0;
  bool setChangesDefault = true;
};

struct Application {
  std::optional<std::string> bundleId;
  std::optional<std::string> name;
  std::int32_t pid = 0;
};

struct FocusState {
  std::optional<Application> frontmost;
  std::vector<double> clock;  // readings to hand out before the real clock
};

struct Screen {
  double top = 0;
  double frameWidth = 0;
  std::optional<double> left;
  std::optional<double> right;
};

struct ScreensState {
  std::vector<Screen> screens;
  // The main screen: an index into `screens`, or a screen of its own.
  enum class Main { None, Listed, Own } main = Main::None;
  std::size_t mainIndex = 0;
  Screen mainOwn;
};

struct Scenario {
  DisplayServicesState displayServices;
  DisplaysState displays;
  AudioState audio;
  FocusState focus;
  ScreensState screens;
};

// Builds a scenario from JSON text; throws Fault naming the first problem.
Scenario parseScenario(std::string_view text);

// One notification line of SIM_EVENTS.
struct Notification {
  bool hasUserInfo = false;
  bool hasApplicationEntry = false;        // userInfo holds NSWorkspaceApplicationKey
  std::optional<Application> application;  // the entry, when it is a running application
};

// Builds a notification from one event line; throws Fault.
Notification parseNotification(std::string_view line);

// The machine of this process: loaded on first use from SIM_SCENARIO (the
// empty machine when unset). A faulty scenario ends the process with
// status 3 before any platform call is recorded.
Scenario& machine();

// open(2) of one of the machine's own files, on a descriptor above the
// standard three, so that a program started with one of those closed never
// mistakes the file for its own standard stream.
int openDescriptor(const char* path, int flags);

// Reports a fault in the test's input on standard error and ends the
// process with status 3.
[[noreturn]] void failWithFault(const std::string& what);

}  // namespace sim
