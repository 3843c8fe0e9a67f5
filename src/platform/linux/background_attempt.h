// A connection attempt on a short-lived thread of its own. A server that
// takes the connection and then says nothing holds an attempt for its whole
// bound; the watcher's poll loop must serve standard input meanwhile. The
// thread's last act is to write one byte into a pipe that the loop watches,
// and the result is taken on the main thread once that byte has come.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

namespace platform {

template <typename Result>
class BackgroundAttempt {
 public:
  // Runs `work` (returning a Result) on a thread of its own; nothing is
  // started when no pipe or thread can be had, and the caller tries again
  // later.
  template <typename Work>
  void start(Work work) {
    auto state = std::make_shared<State>();
    if (pipe2(state->done, O_CLOEXEC) != 0) return;
    try {
      std::thread([state, work] {
        state->result = work();
        const char byte = 0;
        while (write(state->done[1], &byte, 1) < 0 && errno == EINTR) {
        }
      }).detach();
    } catch (const std::system_error&) {
      return;
    }
    state_ = std::move(state);
  }

  bool running() const { return state_ != nullptr; }

  // Readable once the attempt has finished.
  int descriptor() const { return state_->done[0]; }

  // The finished attempt's result; call once descriptor() is readable.
  Result finish() {
    Result result = std::move(state_->result);
    state_.reset();
    return result;
  }

 private:
  struct State {
    int done[2] = {-1, -1};
    Result result{};
    ~State() {
      for (const int fd : done) {
        if (fd >= 0) close(fd);
      }
    }
  };
  std::shared_ptr<State> state_;  // the attempt under way, if any
};

}  // namespace platform
