// Standard streams that are open before anything else is.
//
// A program started with descriptor 0, 1 or 2 closed would otherwise hand
// that number to the first file or socket it opens: the display connection
// or the sound library's wake-up pipe would become the watcher's lifeline or
// receive the program's reply. So, before main, each closed one is given the
// null device: a closed standard input reads as at its end, a closed output
// swallows what is written. Built into every native program as an object of
// its own (never through a library, whose unreferenced members are dropped).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// The lowest free descriptor is taken by open(), so filling them in order
// lands each on its own number; dup2 covers any other case.
void fillWithNullDevice(int fd) {
  const int null = open("/dev/null", O_RDWR);
  if (null < 0 || null == fd) return;  // nothing to put there, or done
  dup2(null, fd);
  close(null);
}

__attribute__((constructor)) void openStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (!isOpen(fd)) fillWithNullDevice(fd);
  }
}

}  // namespace
