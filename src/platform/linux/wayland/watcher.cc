#include "platform/linux/wayland/watcher.h"

#include "json_line.h"
#include "platform/linux/desktop/desktop_entries.h"
#include "platform/linux/wayland/sway_ipc.h"
#include "platform/linux/wayland/windows.h"
#include "platform/linux/wayland/wire.h"

namespace platform::wayland {
namespace {

constexpr std::chrono::seconds kRetryEvery{1};

bool asked = false;
bool following = false;
Connection connection;
Windows windows;

// The application last identified, for the window (and the activation of
// it) it was identified for: asking sway for a pid costs a round trip.
struct Identified {
  std::uint32_t window;
  std::uint64_t activeSince;
  std::string appId;
  Application application;
};
std::optional<Identified> last;

// The app_id names a desktop entry, which gives the bundle id and the
// name; without one both are the app_id. An empty app_id is none.
Application identify(const Window& window) {
  Application application;
  if (!window.appId.empty() && isUtf8(window.appId)) {
    const std::optional<desktop::Entry> entry = desktop::find(window.appId);
    application.bundleId = entry ? entry->id : window.appId;
    application.name = entry && !entry->name.empty() && isUtf8(entry->name) ? entry->name : window.appId;
  }
  application.pid = window.pid >= 0 ? window.pid : swayFocusedPid(window.appId, window.title);
  return application;
}

// A compositor that offers a window list decides, even when it falls silent
// before its first state has come: it is then gone, as it would be later.
bool start() {
  if (!connection.open()) return false;
  if (!followWlrToplevels(connection, windows) && !followPlasmaWindows(connection, windows)) return false;
  // The window list's first state; KDE's windows are asked for only when
  // announced, so their state comes one round trip later.
  if (!connection.roundTrip(kReplyWait) || !connection.roundTrip(kReplyWait)) windows.clear();
  return true;
}

}  // namespace

bool startWatching() {
  if (!asked) {
    asked = true;
    following = start();
    if (!following) connection.close();
  }
  return following;
}

bool chosen() { return following; }

int descriptor() { return following ? connection.descriptor() : -1; }

bool serve() {
  if (!following || connection.failed()) return false;
  const std::size_t before = connection.handled();
  if (!connection.serve()) windows.clear();
  return connection.failed() || connection.handled() != before;
}

bool reconnect() {
  static Clock::time_point lastTry;
  if (!following || !connection.failed() || Clock::now() - lastTry < kRetryEvery) return false;
  lastTry = Clock::now();
  windows.clear();
  last.reset();
  if (start() && !connection.failed()) return true;
  connection.close();
  return false;
}

std::optional<Application> frontmost() {
  const Window* window = windows.frontmost();
  if (window == nullptr) return std::nullopt;
  if (!last || last->window != window->id || last->activeSince != window->activeSince ||
      last->appId != window->appId) {
    last = Identified{window->id, window->activeSince, window->appId, identify(*window)};
  }
  return last->application;
}

}  // namespace platform::wayland
