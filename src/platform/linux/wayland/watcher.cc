#include "platform/linux/wayland/watcher.h"

#include <unistd.h>

#include <memory>

#include "json_line.h"
#include "platform/linux/background_attempt.h"
#include "platform/linux/desktop/desktop_entries.h"
#include "platform/linux/wayland/sway_ipc.h"
#include "platform/linux/wayland/windows.h"
#include "platform/linux/wayland/wire.h"

namespace platform::wayland {
namespace {

constexpr std::chrono::seconds kRetryEvery{1};

// The compositor followed: the connection and the windows it has told of.
struct Source {
  Connection connection;
  Windows windows;
};

bool asked = false;
bool following = false;
std::unique_ptr<Source> source = std::make_unique<Source>();

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
bool start(Source& s) {
  if (!s.connection.open()) return false;
  if (!followWlrToplevels(s.connection, s.windows) && !followPlasmaWindows(s.connection, s.windows)) return false;
  // The window list's first state; KDE's windows are asked for only when
  // announced, so their state comes one round trip later.
  if (!s.connection.roundTrip(kReplyWait) || !s.connection.roundTrip(kReplyWait)) s.windows.clear();
  return true;
}

// Once the compositor has gone, a new connection is tried in the
// background, as for X11.
BackgroundAttempt<std::unique_ptr<Source>> attempt;
Clock::time_point nextAttempt;

void startAttempt() {
  nextAttempt = Clock::now() + kRetryEvery;
  attempt.start([] {
    auto candidate = std::make_unique<Source>();
    if (!start(*candidate) || candidate->connection.failed()) candidate.reset();
    return candidate;
  });
}

// True when the finished attempt follows a compositor, which is then the one.
bool finishAttempt() {
  std::unique_ptr<Source> result = attempt.finish();
  if (!result) return false;
  source = std::move(result);
  last.reset();
  return true;
}

}  // namespace

bool startWatching() {
  if (!asked) {
    asked = true;
    following = start(*source);
    if (!following) source->connection.close();
  }
  return following;
}

bool chosen() { return following; }

bool serve() {
  Connection& connection = source->connection;
  if (!following || connection.failed()) return false;
  const std::size_t before = connection.handled();
  if (!connection.serve()) source->windows.clear();
  return connection.failed() || connection.handled() != before;
}

std::pair<int, int> nextWait(bool busy) {
  if (!source->connection.failed()) return {source->connection.descriptor(), busy ? 0 : -1};
  if (attempt.running()) return {attempt.descriptor(), -1};
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextAttempt - Clock::now()).count();
  return {-1, left > 0 ? static_cast<int>(left) : 0};
}

bool afterWake(bool otherReady) {
  if (!source->connection.failed()) return false;
  if (attempt.running()) return otherReady && finishAttempt();
  if (Clock::now() >= nextAttempt) startAttempt();
  return false;
}

std::optional<Application> frontmost() {
  const Window* window = source->windows.frontmost();
  if (window == nullptr) return std::nullopt;
  if (!last || last->window != window->id || last->activeSince != window->activeSince ||
      last->appId != window->appId) {
    last = Identified{window->id, window->activeSince, window->appId, identify(*window)};
  }
  return last->application;
}

}  // namespace platform::wayland
