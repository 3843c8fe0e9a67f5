// A read source served by a poll() loop on the main thread: how the
// simulated machine and the Linux build stand in for a Dispatch read source
// on the main queue.
#pragma once

#include "platform/workspace.h"

namespace platform {

struct ReadSource {
  int fd = -1;
  EventHandler handler = nullptr;
  bool resumed = false;
};

namespace posix {

enum class Wake {
  Idle,        // the time ran out, or only the source was served
  OtherReady,  // `other` has data or is at end of file
  Failed,      // poll itself failed; waiting again would not help
};

// Waits up to `timeoutMs` (-1: without limit) until the source's descriptor
// has data, is at end of file or is in error, or `other` (-1: none) is
// readable. A ready source is served first, by one call of its handler, so
// the end of standard input is seen before anything else is handled. A
// source that is not resumed, or has no handler, is not waited for.
Wake waitAndServe(ReadSource& source, int other, int timeoutMs);

}  // namespace posix
}  // namespace platform
