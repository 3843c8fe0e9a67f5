// The autorelease pool a program's body runs in, on the Mac.

#import <Foundation/Foundation.h>

#include "platform/process.h"

namespace platform {

void runInAutoreleasePool(void (*body)()) {
  @autoreleasepool {
    body();
  }
}

}  // namespace platform
