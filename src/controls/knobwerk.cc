// Knobwerk: reads or sets the built-in display's brightness, lists the audio
// output devices, or makes one of them the default. One request per run.

#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "controls/brightness.h"
#include "controls/outputs.h"
#include "controls/text_rules.h"
#include "platform/process.h"

namespace {

std::vector<std::string> args;

constexpr std::string_view kUsage = "usage: Knobwerk brightness [0-1] | outputs | output <id>\n";

int usage() {
  // One unbuffered write, so the host gets the whole text at once. A failed
  // write has nowhere else to be reported.
  const ssize_t written = write(STDERR_FILENO, kUsage.data(), kUsage.size());
  static_cast<void>(written);
  return 2;
}

int dispatch() {
  if (args.empty()) return usage();
  const std::string& word = args[0];
  if (args.size() == 1) {
    if (word == "brightness") {
      controls::printBrightness();
      return 0;
    }
    if (word == "outputs") {
      controls::printOutputs();
      return 0;
    }
    return usage();
  }
  const std::string& value = args[1];
  if (word == "brightness") {
    if (const auto level = controls::levelFromText(value)) controls::setBrightness(*level);
    controls::printBrightness();
    return 0;
  }
  if (word == "output") {
    if (const auto id = controls::idFromText(value)) controls::setOutput(*id);
    controls::printOutputs();
    return 0;
  }
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  // A host that has stopped reading must not end the program by a signal:
  // the write fails quietly and the run ends with its own status.
  std::signal(SIGPIPE, SIG_IGN);
  controls::displayServices = platform::openLibrary(platform::kDisplayServicesPath, RTLD_LAZY);
  controls::system = platform::kAudioSystemObject;
  // argc may be 0 (an empty argument vector); then there is no program path
  // to skip either.
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  platform::exitProcess(dispatch());
}
