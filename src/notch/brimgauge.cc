// Brimgauge: finds the screen with a notch in its top edge (or else the main
// screen) and prints one line with the notch's width and height and the
// screen's width. Runs once; always ends with status 0.

#include <csignal>

#include "notch/probe.h"
#include "platform/process.h"

int main() {
  // A host that has stopped reading must not end the program by a signal:
  // the write fails quietly and the run ends with its own status.
  std::signal(SIGPIPE, SIG_IGN);
  platform::runInAutoreleasePool(notch::probe);
  platform::exitProcess(0);
}
