// How a program ends, and the autorelease pool its body runs in, on the Mac.

#import <Foundation/Foundation.h>

#include <cstdlib>

#include "platform/process.h"

namespace platform {

void exitProcess(int status) { std::exit(status); }

void runInAutoreleasePool(void (*body)()) {
  @autoreleasepool {
    body();
  }
}

}  // namespace platform
