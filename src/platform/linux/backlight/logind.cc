#include "platform/linux/backlight/logind.h"

#include <systemd/sd-bus.h>

#include <chrono>

#include "platform/linux/runtime_library.h"

namespace platform::logind {

namespace {

constexpr std::int32_t kFailed = 1;
constexpr auto kAnswerBound = std::chrono::seconds(1);

struct SdBus {
  decltype(sd_bus_open_system)* openSystem;
  decltype(sd_bus_call_method_async)* callMethodAsync;
  decltype(sd_bus_process)* process;
  decltype(sd_bus_wait)* wait;
  decltype(sd_bus_message_is_method_error)* isMethodError;
  decltype(sd_bus_close_unref)* closeUnref;
};

bool bind(SdBus& bus) {
  void* library = runtime::openLibrary("libsystemd.so.0");
  return runtime::bindSymbol(library, "sd_bus_open_system", bus.openSystem) &&
         runtime::bindSymbol(library, "sd_bus_call_method_async", bus.callMethodAsync) &&
         runtime::bindSymbol(library, "sd_bus_process", bus.process) &&
         runtime::bindSymbol(library, "sd_bus_wait", bus.wait) &&
         runtime::bindSymbol(library, "sd_bus_message_is_method_error", bus.isMethodError) &&
         runtime::bindSymbol(library, "sd_bus_close_unref", bus.closeUnref);
}

struct Call {
  const SdBus* functions;
  bool answered = false;
  bool succeeded = false;
};

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* call = static_cast<Call*>(userdata);
  call->answered = true;
  call->succeeded = call->functions->isMethodError(reply, nullptr) == 0;
  return 0;
}

// Runs the connection until the call is answered or the bound has passed.
// The whole exchange (authentication and Hello included) counts against the
// bound, so a stalled bus cannot hold the caller either.
bool awaitAnswer(const SdBus& functions, sd_bus* bus, const Call& call) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kAnswerBound;
  while (!call.answered) {
    const int processed = functions.process(bus, nullptr);
    if (processed < 0) return false;
    if (processed > 0) continue;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (functions.wait(bus, static_cast<std::uint64_t>(left.count())) < 0) return false;
  }
  return true;
}

}  // namespace

std::int32_t setBrightness(const std::string& device, std::uint32_t value) {
  SdBus functions{};
  if (!bind(functions)) return kFailed;
  sd_bus* bus = nullptr;
  if (functions.openSystem(&bus) < 0) return kFailed;
  Call call{&functions};
  const int sent =
      functions.callMethodAsync(bus, nullptr, "org.freedesktop.login1",
                                "/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session",
                                "SetBrightness", onReply, &call, "ssu", "backlight", device.c_str(), value);
  const bool done = sent >= 0 && awaitAnswer(functions, bus, call);
  functions.closeUnref(bus);
  return done && call.succeeded ? 0 : kFailed;
}

}  // namespace platform::logind
