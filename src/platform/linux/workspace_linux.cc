// Linux has no workspace backend yet: there is never a frontmost
// application and no activation is ever reported. Standard input is a real
// lifeline, served by a poll() loop on the main thread, so the watcher runs
// here and ends when its standard input does.

#include <unistd.h>

#include <chrono>

#include "platform/posix/poll_loop.h"
#include "platform/workspace.h"

namespace platform {
namespace {

int workspaceObject;  // its address stands for the one workspace
ReadSource stdinReadSource;

}  // namespace

Workspace* sharedWorkspace() { return reinterpret_cast<Workspace*>(&workspaceObject); }

Application* frontmostApplication(Workspace*) { return nullptr; }

// Nothing posts activations here, so there is nothing to register with.
void addActivationObserver(Workspace*, NotificationHandler) {}

UserInfo* userInfo(Notification*) { return nullptr; }

UserInfoEntry* applicationEntry(UserInfo*) { return nullptr; }

Application* runningApplication(UserInfoEntry*) { return nullptr; }

std::optional<std::string> bundleIdentifier(Application*) { return std::nullopt; }

std::optional<std::string> localizedName(Application*) { return std::nullopt; }

std::int32_t processIdentifier(Application*) { return -1; }

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

void runMainLoop() {
  while (posix::waitAndServe(stdinReadSource, -1, -1) != posix::Wake::Failed) {
  }
}

}  // namespace platform
