#include <cstdlib>

#include "platform/process.h"

namespace platform {

void exitProcess(int status) { std::exit(status); }

// Nothing here is reference counted through a pool.
void runInAutoreleasePool(void (*body)()) { body(); }

}  // namespace platform
