#include <cstdlib>

#include "platform/process.h"

namespace platform {

void exitProcess(int status) { std::exit(status); }

}  // namespace platform
