#include <cstdlib>

#include "platform/process.h"
#include "platform/sim/scenario.h"
#include "platform/sim/trace.h"

namespace platform {

void exitProcess(int status) {
  sim::machine();  // a faulty scenario ends the run with its own status
  sim::recordExit(status);
  std::exit(status);
}

void runInAutoreleasePool(void (*body)()) { body(); }

}  // namespace platform
