// Standard output's buffering and the read of standard input are the same
// C library calls on every native platform.

#include <unistd.h>

#include <cstdio>

#include "platform/workspace.h"

namespace platform {

void setLineBuffered() { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

std::int64_t readInput(int fd, void* buffer, std::size_t size) { return read(fd, buffer, size); }

}  // namespace platform
