// Quelmark: prints a focus record for the frontmost application, then one
// per application activation, until its standard input ends.

#include <csignal>
#include <cstdint>
#include <vector>

#include "focus/focus_record.h"
#include "platform/process.h"
#include "platform/workspace.h"

namespace focus {
namespace {

platform::Workspace* ws = nullptr;
platform::ReadSource* stdinSource = nullptr;

// Only a notification that carries a running application makes a record;
// every other one is dropped without a word. Nothing is remembered between
// notifications, so repeated activations each get their record.
void handleActivation(platform::Notification* notification) {
  platform::UserInfo* info = platform::userInfo(notification);
  if (info == nullptr) return;
  platform::UserInfoEntry* entry = platform::applicationEntry(info);
  if (entry == nullptr) return;
  platform::Application* application = platform::runningApplication(entry);
  if (application == nullptr) return;
  emit(application);
}

// Standard input is the host's lifeline: its bytes are dropped unseen, and
// its end (or a failed read) ends the watcher.
void handleLifeline() {
  std::int64_t result;
  {
    std::vector<char> buffer(1024, 0);
    result = platform::readInput(platform::standardInputDescriptor(), buffer.data(), buffer.size());
  }
  if (result <= 0) platform::exitProcess(0);
}

// The order matters: output is line buffered before the first record, and
// the initial record is printed before any notification can be observed.
// No handler runs before the main loop does.
void startUp() {
  platform::setLineBuffered();
  ws = platform::sharedWorkspace();
  if (platform::Application* front = platform::frontmostApplication(ws)) emit(front);
  platform::addActivationObserver(ws, handleActivation);
  stdinSource = platform::makeReadSource(platform::standardInputDescriptor());
  platform::setEventHandler(stdinSource, handleLifeline);
  platform::resume(stdinSource);
  platform::setActivationPolicy(platform::kActivationPolicyProhibited);
  platform::runMainLoop();
}

}  // namespace
}  // namespace focus

// The command line is not read: arguments change nothing.
int main() {
  // A host that has stopped reading must not end the program by a signal:
  // the write fails quietly and the run ends with its own status.
  std::signal(SIGPIPE, SIG_IGN);
  platform::runInAutoreleasePool(focus::startUp);
  // The main loop does not end in normal operation; should it, so does the
  // watcher, quietly.
  platform::exitProcess(0);
}
