#include "platform/posix/poll_loop.h"

#include <poll.h>

#include <cerrno>

namespace platform::posix {

Wake waitAndServe(ReadSource& source, int other, int timeoutMs) {
  const bool armed = source.resumed && source.handler != nullptr;
  pollfd fds[2];
  nfds_t count = 0;
  // A negative descriptor is skipped by poll, which keeps the indexes fixed.
  fds[count++] = {armed ? source.fd : -1, POLLIN, 0};
  fds[count++] = {other, POLLIN, 0};
  int ready;
  do {
    ready = poll(fds, count, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return Wake::Failed;
  // POLLHUP, POLLERR and POLLNVAL count as ready too: the handler's read
  // then sees the end or the failure.
  if (armed && fds[0].revents != 0) source.handler();
  return other >= 0 && fds[1].revents != 0 ? Wake::OtherReady : Wake::Idle;
}

}  // namespace platform::posix
