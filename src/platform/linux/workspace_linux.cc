// The workspace on a Wayland compositor that offers a window list
// (wayland/), else on an X11 desktop (XWayland included). The frontmost
// application is the one whose window the window manager has named in the
// root window's _NET_ACTIVE_WINDOW; each write of that property arrives as a
// PropertyNotify, and a change to another application than the one reported
// last is posted as an activation; a change to no window changes nothing.
// One poll() loop on the main thread serves the X connection and standard
// input. Without an X display, or once it has gone away or stalled, nothing
// is posted, while standard input stays the lifeline; the display is tried
// again about once a second, and followed again when it answers.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/linux/application.h"
#include "platform/linux/background_attempt.h"
#include "platform/linux/wayland/watcher.h"
#include "platform/linux/x11/window_application.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/posix/poll_loop.h"
#include "platform/workspace.h"

namespace platform {

// An activation notification carries its application in its user info.
struct UserInfoEntry {
  Application application;
};
struct UserInfo {
  UserInfoEntry entry;
};
struct Notification {
  UserInfo info;
};

namespace {

using Clock = std::chrono::steady_clock;

// The pace of new connection attempts once the display is lost.
constexpr std::chrono::seconds kRetryPace{1};

int workspaceObject;  // its address stands for the one workspace
ReadSource stdinReadSource;
NotificationHandler activationHandler = nullptr;

std::optional<x11::Atoms> atoms;
// The application reported last, at start-up or by the last activation. A
// window manager may name no window for an instant between two windows, and
// the desktop is no application: neither replaces it. Nor does a reading
// that the connection's failure cut short, so a new connection is compared
// with it too.
std::optional<Application> reported;
Application frontmost;          // handed out at start-up; lives as long as the process
Clock::time_point nextAttempt;  // no connection attempt starts before it

// The X connection, or null when there is none (any more).
x11::Session* watchedSession() {
  if (!atoms || x11::lost()) return nullptr;
  return x11::session();
}

// Subscribes to the root window's property changes, before anything is
// read, so no change after the first reading is missed. Atoms belong to
// one server: each new connection asks for them again.
void watchRootWindow() {
  atoms.reset();
  x11::Session* x = x11::session();
  if (x == nullptr) return;
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  x->xcb->change_window_attributes(x->connection, x->root, XCB_CW_EVENT_MASK, &mask);
  atoms = x11::internAtoms(*x);
  if (!atoms) x11::dropSession();
}

// The application of the active window now; none when no window is active,
// the window no longer exists, or the connection has failed.
std::optional<Application> activeApplication() {
  if (wayland::chosen()) return wayland::frontmost();
  x11::Session* x = watchedSession();
  if (x == nullptr) return std::nullopt;
  const auto cookie = x11::requestProperty(*x, x->root, atoms->activeWindow, 4);
  const std::optional<std::uint32_t> window = x11::cardinalProperty(*x, cookie);
  // The root window is no application's window.
  if (!window || *window == XCB_WINDOW_NONE || *window == x->root) return std::nullopt;
  return x11::windowApplication(*x, *atoms, *window);
}

// Reads the active window again and posts an activation when it belongs to
// another application than the one reported last.
void activeWindowChanged() {
  std::optional<Application> application = activeApplication();
  if (!application || (reported && sameApplication(*application, *reported))) return;
  reported = application;
  if (activationHandler == nullptr) return;
  Notification notification{UserInfo{UserInfoEntry{std::move(*application)}}};
  activationHandler(&notification);
}

bool isActiveWindowChange(const xcb_generic_event_t& event, xcb_window_t root) {
  if ((event.response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
  const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
  return notify.window == root && notify.atom == atoms->activeWindow;
}

// Takes every event xcb holds, reading the connection at most once, and
// answers them with one reading of the active window when any of them
// changed it: in a flood only the latest window matters. Errors of requests
// sent without a reply arrive here too and are dropped. True when there was
// any event: more may have come in meanwhile.
bool serveDisplay() {
  if (wayland::chosen()) {
    const bool any = wayland::serve();
    if (any) activeWindowChanged();
    return any;
  }
  x11::Session* x = watchedSession();
  if (x == nullptr) return false;
  x->xcb->flush(x->connection);
  bool any = false;
  bool changed = false;
  xcb_generic_event_t* event = x->xcb->poll_for_event(x->connection);
  while (event != nullptr) {
    any = true;
    changed = changed || isActiveWindowChange(*event, x->root);
    std::free(event);
    event = x->xcb->poll_for_queued_event(x->connection);
  }
  if (changed) activeWindowChanged();
  return any;
}

BackgroundAttempt<std::optional<x11::Session>> attempt;

void startAttempt() {
  nextAttempt = Clock::now() + kRetryPace;
  attempt.start([] { return x11::connect(); });
}

// Takes the finished attempt's connection, if it made one: the root window
// is watched again, and the active window read and posted when it belongs to
// another application than the one last reported.
void finishAttempt() {
  const std::optional<x11::Session> x = attempt.finish();
  if (!x) return;
  x11::adopt(*x);
  watchRootWindow();
  activeWindowChanged();
}

// What the loop waits on besides standard input, and for how long (-1:
// without limit): the X connection; else a running attempt; else the time
// of the next one. Events already read wait for nobody.
std::pair<int, int> nextWait(bool busy) {
  if (wayland::chosen()) return wayland::nextWait(busy);
  if (x11::Session* x = watchedSession()) return {x->xcb->get_file_descriptor(x->connection), busy ? 0 : -1};
  if (attempt.running()) return {attempt.descriptor(), -1};
  if (!x11::displayNamed()) return {-1, -1};
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextAttempt - Clock::now()).count();
  return {-1, left > 0 ? static_cast<int>(left) : 0};
}

}  // namespace

Workspace* sharedWorkspace() {
  if (!wayland::startWatching() && !atoms) {
    nextAttempt = Clock::now() + kRetryPace;
    watchRootWindow();
  }
  return reinterpret_cast<Workspace*>(&workspaceObject);
}

Application* frontmostApplication(Workspace*) {
  reported = activeApplication();
  if (!reported) return nullptr;
  frontmost = *reported;
  return &frontmost;
}

void addActivationObserver(Workspace*, NotificationHandler handler) { activationHandler = handler; }

UserInfo* userInfo(Notification* notification) { return &notification->info; }

UserInfoEntry* applicationEntry(UserInfo* info) { return &info->entry; }

Application* runningApplication(UserInfoEntry* entry) { return &entry->application; }

std::optional<std::string> bundleIdentifier(Application* application) { return application->bundleId; }

std::optional<std::string> localizedName(Application* application) { return application->name; }

std::int32_t processIdentifier(Application* application) { return application->pid; }

double currentTime() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int standardInputDescriptor() { return STDIN_FILENO; }

// One source is all the watcher makes; it lives as long as the process.
ReadSource* makeReadSource(int fd) {
  stdinReadSource = ReadSource{fd, nullptr, false};
  return &stdinReadSource;
}

void setEventHandler(ReadSource* source, EventHandler handler) { source->handler = handler; }

void resume(ReadSource* source) { source->resumed = true; }

// There is no Dock here to stay out of.
void setActivationPolicy(int) {}

// Standard input is served first at every wake, so its end is seen before
// any further X event is handled; between two batches of events it is looked
// at without waiting.
void runMainLoop() {
  for (;;) {
    const bool busy = serveDisplay();
    const auto [other, timeoutMs] = nextWait(busy);
    const posix::Wake wake = posix::waitAndServe(stdinReadSource, other, timeoutMs);
    if (wake == posix::Wake::Failed) return;
    if (wayland::chosen()) {
      if (wayland::afterWake(wake == posix::Wake::OtherReady)) activeWindowChanged();
      continue;
    }
    if (watchedSession() != nullptr) continue;
    if (attempt.running()) {
      if (wake == posix::Wake::OtherReady) finishAttempt();
    } else if (x11::displayNamed() && Clock::now() >= nextAttempt) {
      startAttempt();
    }
  }
}

}  // namespace platform
