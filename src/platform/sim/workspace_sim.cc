// The simulated workspace: the frontmost application and the clock come
// from the scenario, activations from the lines of SIM_EVENTS. Standard
// output and standard input are the process's own, so buffering and the
// lifeline behave as on the platform.
//
// The events source is opened when the main loop starts, so nothing is read
// from it before start-up is done. A regular file is read whole then: its
// notifications have all arrived, like ones already queued when the loop
// starts, and are handled before standard input is served. Lines from a
// source that is still open (a FIFO) wait behind standard input: once the
// host closes the lifeline no further live event is handled.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/poll_loop.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"
#include "platform/workspace.h"

namespace platform {
namespace {

int workspaceObject;  // its address stands for the one workspace
ReadSource stdinReadSource;
NotificationHandler activationHandler = nullptr;
std::size_t clockReadings = 0;

template <typename Handle, typename Object>
Handle* handle(Object* object) {
  return reinterpret_cast<Handle*>(object);
}

template <typename Object, typename Handle>
Object* object(Handle* handle) {
  return reinterpret_cast<Object*>(handle);
}

// The lines of SIM_EVENTS, read as they arrive.
class Events {
 public:
  Events() {
    const char* path = std::getenv("SIM_EVENTS");
    if (path == nullptr) return;
    // A FIFO's open waits for a writer; the test holds one open beforehand.
    fd_ = sim::openDescriptor(path, O_RDONLY);
    struct stat status;
    // A directory opens, but no line can ever be read from it.
    if (fd_ < 0 || fstat(fd_, &status) != 0 || S_ISDIR(status.st_mode))
      sim::failWithFault(std::string("cannot read ") + path);
    if (S_ISREG(status.st_mode)) {
      while (fd_ >= 0) readMore();
    }
  }

  // Every line has arrived: the source has ended.
  bool complete() const { return fd_ < 0; }

  int fd() const { return fd_; }

  // A whole line is buffered, or the last one, unended, is left at the end.
  bool hasLine() { return lineEnd() != std::string::npos || (fd_ < 0 && start_ < buffered_.size()); }

  // Reads what has arrived; at the end (or on a failed read) stops reading.
  void readMore() {
    // Lines already taken are dropped only here, once per read rather than
    // once per line, so taking lines costs time in proportion to their size.
    buffered_.erase(0, start_);
    scanned_ -= start_;
    start_ = 0;
    char chunk[4096];
    const ssize_t count = read(fd_, chunk, sizeof chunk);
    if (count > 0) {
      buffered_.append(chunk, static_cast<std::size_t>(count));
      return;
    }
    if (count < 0 && errno == EINTR) return;  // the loop waits again
    close(fd_);
    fd_ = -1;
  }

  std::string takeLine() {
    const std::size_t end = lineEnd();
    const std::size_t stop = end == std::string::npos ? buffered_.size() : end;
    std::string line = buffered_.substr(start_, stop - start_);
    start_ = end == std::string::npos ? stop : stop + 1;
    scanned_ = start_;
    ++lineNumber_;
    return line;
  }

  int lineNumber() const { return lineNumber_; }

 private:
  // The offset of the line feed that ends the first line not yet taken, or
  // npos. Bytes already searched are not searched again.
  std::size_t lineEnd() {
    const std::size_t end = buffered_.find('\n', scanned_);
    scanned_ = end == std::string::npos ? buffered_.size() : end;
    return end;
  }

  int fd_ = -1;
  std::string buffered_;
  std::size_t start_ = 0;    // where the first line not yet taken begins
  std::size_t scanned_ = 0;  // no line feed lies between start_ and here
  int lineNumber_ = 0;
};

void deliver(const std::string& line, int lineNumber) {
  // A blank line carries no notification.
  if (line.find_first_not_of(" \t\r") == std::string::npos) return;
  sim::Notification notification;
  try {
    notification = sim::parseNotification(line);
  } catch (const sim::Fault& fault) {
    sim::failWithFault("SIM_EVENTS line " + std::to_string(lineNumber) + ": " + fault.what());
  }
  if (activationHandler != nullptr) activationHandler(handle<Notification>(&notification));
}

}  // namespace

void setLineBuffered() {
  sim::trace("setvbuf", {{"mode", _IOLBF}});
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

Workspace* sharedWorkspace() {
  sim::trace("sharedWorkspace");
  return handle<Workspace>(&workspaceObject);
}

Application* frontmostApplication(Workspace*) {
  sim::trace("frontmostApplication");
  auto& frontmost = sim::machine().focus.frontmost;
  return frontmost ? handle<Application>(&*frontmost) : nullptr;
}

void addActivationObserver(Workspace*, NotificationHandler handler) {
  sim::trace("addObserver", {{"name", "NSWorkspaceDidActivateApplicationNotification"}, {"queue", "main"}});
  activationHandler = handler;
}

UserInfo* userInfo(Notification* notification) {
  return object<sim::Notification>(notification)->hasUserInfo ? handle<UserInfo>(notification) : nullptr;
}

UserInfoEntry* applicationEntry(UserInfo* info) {
  return object<sim::Notification>(info)->hasApplicationEntry ? handle<UserInfoEntry>(info) : nullptr;
}

Application* runningApplication(UserInfoEntry* entry) {
  auto& application = object<sim::Notification>(entry)->application;
  return application ? handle<Application>(&*application) : nullptr;
}

std::optional<std::string> bundleIdentifier(Application* application) {
  return object<sim::Application>(application)->bundleId;
}

std::optional<std::string> localizedName(Application* application) {
  return object<sim::Application>(application)->name;
}

std::int32_t processIdentifier(Application* application) {
  return object<sim::Application>(application)->pid;
}

double currentTime() {
  const auto& readings = sim::machine().focus.clock;
  if (clockReadings < readings.size()) return readings[clockReadings++];
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int standardInputDescriptor() { return STDIN_FILENO; }

ReadSource* makeReadSource(int fd) {
  sim::trace("makeReadSource", {{"fd", fd}, {"queue", "main"}});
  stdinReadSource = ReadSource{fd, nullptr, false};
  return &stdinReadSource;
}

void setEventHandler(ReadSource* source, EventHandler handler) {
  sim::trace("setEventHandler");
  source->handler = handler;
}

void resume(ReadSource* source) {
  sim::trace("resume");
  source->resumed = true;
}

std::int64_t readInput(int fd, void* buffer, std::size_t size) {
  const ssize_t result = read(fd, buffer, size);
  sim::trace("read", {{"fd", fd}, {"size", size}, {"result", result < 0 ? -1 : result}});
  return result;
}

void setActivationPolicy(int policy) { sim::trace("setActivationPolicy", {{"policy", policy}}); }

void runMainLoop() {
  sim::trace("runMainLoop");
  Events events;
  for (;;) {
    if (events.complete() && events.hasLine()) {
      const std::string line = events.takeLine();
      deliver(line, events.lineNumber());
      continue;
    }
    // While a line is waiting, standard input is only looked at, not waited
    // for, and the line is handled next.
    const bool pending = events.hasLine();
    const posix::Wake wake =
        posix::waitAndServe(stdinReadSource, pending ? -1 : events.fd(), pending ? 0 : -1);
    if (wake == posix::Wake::Failed) return;
    if (pending) {
      const std::string line = events.takeLine();
      deliver(line, events.lineNumber());
    } else if (wake == posix::Wake::OtherReady) {
      events.readMore();
    }
  }
}

}  // namespace platform
