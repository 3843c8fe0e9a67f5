// How a program ends on the Mac. Apart from the autorelease pool, so that
// the control tool, which needs no pool, links no Objective-C.

#include <cstdlib>

#include "platform/process.h"

namespace platform {

void exitProcess(int status) { std::exit(status); }

}  // namespace platform
