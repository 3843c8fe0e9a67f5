// How a program ends. Every program leaves through here, so that the
// simulated machine can record the status it ends with.
#pragma once

namespace platform {

// Ends the process with `status`; buffered standard output is flushed.
[[noreturn]] void exitProcess(int status);

// Runs `body` inside an autorelease pool where the platform has them, so
// that the objects a program's platform calls hand out are released.
void runInAutoreleasePool(void (*body)());

}  // namespace platform
