#include <cstdio>
#include <cstdlib>

#include "platform/process.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"

namespace platform {

void exitProcess(int status) {
  sim::machine();  // a faulty scenario ends the run with its own status
  // Buffered output is written first: should writing it end the process,
  // the trace records no exit that did not happen.
  std::fflush(stdout);
  sim::recordExit(status);
  std::exit(status);
}

void runInAutoreleasePool(void (*body)()) { body(); }

}  // namespace platform
