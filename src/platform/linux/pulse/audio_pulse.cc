// The audio property interface on Linux, answered by the sound server over
// libpulse (PulseAudio, or PipeWire through pipewire-pulse). Every sink and
// every source is a device; a sink has output streams, a source has none.
//
// libpulse is opened on the first audio query, so a run that never asks
// (`brightness`) neither loads it nor connects. A run makes at most one
// connection, never starts a server, and gives up on the server once it has
// been silent for a bound, counted from the first connection attempt: once it
// has failed, every later query fails at once. Only a server that refuses for
// now (its queue of waiting connections is full) is asked again within the
// bound.

#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/utf8.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/linux/runtime_library.h"

namespace platform {
namespace {

constexpr AudioObjectId kSystemObject = 1;

// The platform's own error codes for these cases.
constexpr std::int32_t kBadObject = 0x216F626A;        // '!obj'
constexpr std::int32_t kUnknownProperty = 0x77686F3F;  // 'who?'
constexpr std::int32_t kBadSize = 0x2173697A;          // '!siz'
constexpr std::int32_t kBadDevice = 0x21646576;        // '!dev'
constexpr std::int32_t kNotRunning = 0x73746F70;       // 'stop': no sound server to ask
constexpr std::int32_t kUnspecified = 0x77686174;      // 'what': the server refused

// How long the run waits for a silent sound server; libpulse alone would
// wait 30 s for one that accepts connections but does not answer.
constexpr auto kServerBound = std::chrono::seconds(1);
// The most a run ever spends on the server, for one that keeps sending.
constexpr auto kLastResort = std::chrono::seconds(10);
// The first and the longest pause before a refused-for-now connection is
// tried again.
constexpr auto kFirstRetryPause = std::chrono::milliseconds(1);
constexpr auto kLongestRetryPause = std::chrono::milliseconds(32);

// The part of that bound kept for the reply's own read when a new default
// is slow to show, and the longest pause between two reads while waiting
// for it should a change event not come.
constexpr auto kReplyReserve = std::chrono::milliseconds(250);
constexpr auto kRereadPause = std::chrono::milliseconds(50);

// The libpulse entry points, typed by their header declarations.
struct Pulse {
  decltype(pa_mainloop_new)* mainloopNew;
  decltype(pa_mainloop_get_api)* mainloopApi;
  decltype(pa_mainloop_prepare)* prepare;
  decltype(pa_mainloop_poll)* poll;
  decltype(pa_mainloop_dispatch)* dispatch;
  decltype(pa_context_new)* contextNew;
  decltype(pa_context_connect)* connect;
  decltype(pa_context_get_state)* contextState;
  decltype(pa_context_errno)* contextError;
  decltype(pa_context_disconnect)* disconnect;
  decltype(pa_context_unref)* contextUnref;
  decltype(pa_context_get_sink_info_list)* sinks;
  decltype(pa_context_get_source_info_list)* sources;
  decltype(pa_context_get_server_info)* serverInfo;
  decltype(pa_context_set_default_sink)* setDefaultSink;
  decltype(pa_context_set_subscribe_callback)* onEvent;
  decltype(pa_context_subscribe)* subscribe;
  decltype(pa_operation_get_state)* operationState;
  decltype(pa_operation_cancel)* cancel;
  decltype(pa_operation_unref)* unref;
  decltype(pa_proplist_contains)* hasProperty;
  decltype(pa_proplist_gets)* propertyText;
  decltype(pa_utf8_valid)* utf8Valid;
};

bool bindPulse(void* library, Pulse& pa) {
  using runtime::bindSymbol;
  return bindSymbol(library, "pa_mainloop_new", pa.mainloopNew) &&
         bindSymbol(library, "pa_mainloop_get_api", pa.mainloopApi) &&
         bindSymbol(library, "pa_mainloop_prepare", pa.prepare) &&
         bindSymbol(library, "pa_mainloop_poll", pa.poll) &&
         bindSymbol(library, "pa_mainloop_dispatch", pa.dispatch) &&
         bindSymbol(library, "pa_context_new", pa.contextNew) &&
         bindSymbol(library, "pa_context_connect", pa.connect) &&
         bindSymbol(library, "pa_context_get_state", pa.contextState) &&
         bindSymbol(library, "pa_context_errno", pa.contextError) &&
         bindSymbol(library, "pa_context_disconnect", pa.disconnect) &&
         bindSymbol(library, "pa_context_unref", pa.contextUnref) &&
         bindSymbol(library, "pa_context_get_sink_info_list", pa.sinks) &&
         bindSymbol(library, "pa_context_get_source_info_list", pa.sources) &&
         bindSymbol(library, "pa_context_get_server_info", pa.serverInfo) &&
         bindSymbol(library, "pa_context_set_default_sink", pa.setDefaultSink) &&
         bindSymbol(library, "pa_context_set_subscribe_callback", pa.onEvent) &&
         bindSymbol(library, "pa_context_subscribe", pa.subscribe) &&
         bindSymbol(library, "pa_operation_get_state", pa.operationState) &&
         bindSymbol(library, "pa_operation_cancel", pa.cancel) &&
         bindSymbol(library, "pa_operation_unref", pa.unref) &&
         bindSymbol(library, "pa_proplist_contains", pa.hasProperty) &&
         bindSymbol(library, "pa_proplist_gets", pa.propertyText) &&
         bindSymbol(library, "pa_utf8_valid", pa.utf8Valid);
}

// Sinks take the even ids from 2 and sources the odd ids from 3, so the two
// never collide, 0 and 1 are never used, and an id lasts as long as the
// server's index does. An index too large for that has no id.
std::optional<AudioObjectId> deviceId(std::uint32_t index, bool sink) {
  if (index > (UINT32_MAX - 3) / 2) return std::nullopt;
  return 2 * index + (sink ? 2 : 3);
}

struct Device {
  AudioObjectId id;
  bool sink;
  std::string serverName;           // the server's own name, used to make it the default
  std::optional<std::string> name;  // the description, shown to the user
};

// What the server reported, in one round trip: sinks, then sources.
struct Snapshot {
  const Pulse* pa = nullptr;  // for reading the devices' properties
  std::vector<Device> devices;
  std::optional<std::string> defaultSink;
  bool sinksDone = false, sourcesDone = false, serverDone = false, failed = false;

  bool done() const { return failed || (sinksDone && sourcesDone && serverDone); }

  const Device* find(AudioObjectId id) const {
    for (const Device& device : devices)
      if (device.id == id) return &device;
    return nullptr;
  }
};

// The server writes a missing or non-text description as "(null)", so the
// device's own property decides where it has one; a device without one has
// no name.
template <typename Info>
std::optional<std::string> description(const Pulse& pa, const Info& info) {
  const char* text = info.description;
  if (info.proplist != nullptr && pa.hasProperty(info.proplist, PA_PROP_DEVICE_DESCRIPTION) == 1)
    text = pa.propertyText(info.proplist, PA_PROP_DEVICE_DESCRIPTION);
  if (text == nullptr) return std::nullopt;
  return text;
}

template <typename Info>
void addDevice(Snapshot& snapshot, const Info& info, bool sink) {
  const auto id = deviceId(info.index, sink);
  if (!id) return;
  snapshot.devices.push_back(
      Device{*id, sink, info.name != nullptr ? info.name : "", description(*snapshot.pa, info)});
}

void onSink(pa_context*, const pa_sink_info* info, int last, void* userdata) {
  auto& snapshot = *static_cast<Snapshot*>(userdata);
  if (last < 0) snapshot.failed = true;
  if (last != 0) {
    snapshot.sinksDone = true;
    return;
  }
  addDevice(snapshot, *info, true);
}

void onSource(pa_context*, const pa_source_info* info, int last, void* userdata) {
  auto& snapshot = *static_cast<Snapshot*>(userdata);
  if (last < 0) snapshot.failed = true;
  if (last != 0) {
    snapshot.sourcesDone = true;
    return;
  }
  addDevice(snapshot, *info, false);
}

void onServer(pa_context*, const pa_server_info* info, void* userdata) {
  auto& snapshot = *static_cast<Snapshot*>(userdata);
  snapshot.serverDone = true;
  if (info == nullptr) {
    snapshot.failed = true;
    return;
  }
  if (info->default_sink_name != nullptr) snapshot.defaultSink = info->default_sink_name;
}

struct Outcome {
  bool done = false;
  bool success = false;
};

void onSuccess(pa_context*, int success, void* userdata) {
  auto& outcome = *static_cast<Outcome*>(userdata);
  outcome.done = true;
  outcome.success = success != 0;
}

// The unix sockets libpulse would try where a server could be busy: those
// PULSE_SERVER names ("unix:PATH" or "/PATH", each perhaps after a
// "{machine}" prefix); else the user's own and the system-wide one.
std::vector<std::string> serverSockets() {
  std::vector<std::string> paths;
  if (const char* servers = std::getenv("PULSE_SERVER"); servers != nullptr && *servers != '\0') {
    std::string_view rest = servers;
    while (!rest.empty()) {
      const std::size_t start = rest.find_first_not_of(" \t\n");
      if (start == std::string_view::npos) break;
      rest.remove_prefix(start);
      std::string_view entry = rest.substr(0, rest.find_first_of(" \t\n"));
      rest.remove_prefix(entry.size());
      if (entry.front() == '{') entry.remove_prefix(std::min(entry.find('}') + 1, entry.size()));
      if (entry.starts_with("unix:")) entry.remove_prefix(5);
      if (entry.starts_with("/")) paths.emplace_back(entry);
    }
    return paths;
  }
  if (const char* runtime = std::getenv("PULSE_RUNTIME_PATH"); runtime != nullptr && *runtime != '\0')
    paths.push_back(std::string(runtime) + "/native");
  else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0')
    paths.push_back(std::string(xdg) + "/pulse/native");
  paths.emplace_back("/var/run/pulse/native");
  return paths;
}

// A server listens at `path`: a connection is taken at once, or refused
// for now because the server has not yet taken the ones before it.
bool listening(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                        errno == EAGAIN || errno == EINPROGRESS;
  close(fd);
  return answered;
}

bool anyServerListening() {
  const auto paths = serverSockets();
  return std::any_of(paths.begin(), paths.end(), listening);
}

void onServerChange(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* userdata) {
  *static_cast<bool*>(userdata) = true;
}

class Operations;

// The one connection of the run.
class Server {
 public:
  // The server's current devices and default, read once per change; null
  // when the server cannot be reached.
  const Snapshot* snapshot();

  // Makes `sink` the server's default sink; the next snapshot reads again.
  bool setDefaultSink(const std::string& sink);

  const Pulse& pulse() const { return pa_; }

 private:
  bool connected();
  bool open();
  bool attempt();
  bool refusedForNow() const;
  bool wait(const Outcome& outcome);
  template <typename Done>
  bool waitUntil(Done done);
  void fail();
  bool watchServer(Operations& operations);
  void awaitDefault(const std::string& sink);
  bool pause(std::chrono::steady_clock::time_point until);

  enum class State { unopened, ready, failed };
  State state_ = State::unopened;
  Pulse pa_{};
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::chrono::steady_clock::time_point deadline_;    // the server's silence ends the run's wait here
  std::chrono::steady_clock::time_point lastResort_;  // and the wait ends here whatever happens
  std::optional<Snapshot> snapshot_;
  bool serverChanged_ = false;  // a server change event came since it was cleared
};

// Releases the operations of one request; one still running when the
// request gives up is cancelled, so its callback never sees freed data.
class Operations {
 public:
  explicit Operations(const Pulse& pa) : pa_(pa) {}
  Operations(const Operations&) = delete;
  Operations& operator=(const Operations&) = delete;
  ~Operations() {
    for (pa_operation* operation : operations_) {
      if (pa_.operationState(operation) == PA_OPERATION_RUNNING) pa_.cancel(operation);
      pa_.unref(operation);
    }
  }

  // Keeps `operation`; false when libpulse could not start it.
  bool add(pa_operation* operation) {
    if (operation == nullptr) return false;
    operations_.push_back(operation);
    return true;
  }

 private:
  const Pulse& pa_;
  std::vector<pa_operation*> operations_;
};

bool Server::connected() {
  if (state_ == State::unopened) state_ = open() ? State::ready : State::failed;
  if (state_ == State::failed) return false;
  return true;
}

bool Server::open() {
  void* library = runtime::openLibrary("libpulse.so.0");
  if (!bindPulse(library, pa_)) return false;
  loop_ = pa_.mainloopNew();
  if (loop_ == nullptr) return false;
  // The bounds measure the server, not the loading of libpulse and its
  // libraries, which a busy machine can make slow.
  deadline_ = std::chrono::steady_clock::now() + kServerBound;
  lastResort_ = deadline_ - kServerBound + kLastResort;
  auto pause = kFirstRetryPause;
  while (!attempt()) {
    if (!refusedForNow()) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::nanoseconds>(pause, deadline_ - std::chrono::steady_clock::now()));
    pause = std::min<std::chrono::milliseconds>(2 * pause, kLongestRetryPause);
  }
  return true;
}

// One connection attempt, with a context of its own.
bool Server::attempt() {
  if (context_ != nullptr) pa_.contextUnref(context_);  // the attempt before, failed
  context_ = pa_.contextNew(pa_.mainloopApi(loop_), "Knobwerk");
  if (context_ == nullptr) return false;
  if (pa_.connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  return waitUntil([this] { return pa_.contextState(context_) == PA_CONTEXT_READY; });
}

// libpulse reports a server whose queue of waiting connections is full
// (connect fails with EAGAIN) as refusing, like one that is not there; its
// socket tells them apart.
bool Server::refusedForNow() const {
  return context_ != nullptr && pa_.contextState(context_) == PA_CONTEXT_FAILED &&
         pa_.contextError(context_) == PA_ERR_CONNECTIONREFUSED &&
         std::chrono::steady_clock::now() < std::min(deadline_, lastResort_) && anyServerListening();
}

// Runs the main loop until `done`, the connection fails or the server has
// been silent for the whole bound; in the last two cases the server is given
// up for the run. Each step the loop takes renews the bound, and once it has
// passed the loop still takes what has already arrived: a run that a busy
// machine kept from running reads what the server sent meanwhile. A server
// that keeps sending without end is given up at the last resort.
template <typename Done>
bool Server::waitUntil(Done done) {
  using std::chrono::steady_clock;
  while (!done()) {
    const auto now = steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - now).count();
    if (!PA_CONTEXT_IS_GOOD(pa_.contextState(context_)) || now >= lastResort_ ||
        pa_.prepare(loop_, static_cast<int>(std::max<decltype(left)>(left, 0))) < 0 || pa_.poll(loop_) < 0) {
      fail();
      return false;
    }
    const int dispatched = pa_.dispatch(loop_);
    if (dispatched < 0 || (dispatched == 0 && steady_clock::now() >= deadline_)) {
      fail();
      return false;
    }
    if (dispatched > 0) deadline_ = steady_clock::now() + kServerBound;
  }
  return true;
}

bool Server::wait(const Outcome& outcome) {
  return waitUntil([&outcome] { return outcome.done; });
}

// Closes the connection; the loop and the library stay, since nothing that
// could still run through them is left. A connection still being set up
// may wait for a name lookup in libpulse's own thread, which closing it
// would wait for: it is left to end with the process.
void Server::fail() {
  state_ = State::failed;
  if (context_ != nullptr && pa_.contextState(context_) == PA_CONTEXT_READY) pa_.disconnect(context_);
}

const Snapshot* Server::snapshot() {
  if (snapshot_) return &*snapshot_;
  if (!connected()) return nullptr;
  Snapshot read;
  read.pa = &pa_;
  {
    Operations operations(pa_);
    if (!operations.add(pa_.sinks(context_, onSink, &read)) ||
        !operations.add(pa_.sources(context_, onSource, &read)) ||
        !operations.add(pa_.serverInfo(context_, onServer, &read))) {
      fail();
      return nullptr;
    }
    if (!waitUntil([&read] { return read.done(); })) return nullptr;
  }
  if (read.failed) return nullptr;
  snapshot_ = std::move(read);
  return &*snapshot_;
}

bool Server::setDefaultSink(const std::string& sink) {
  if (!connected()) return false;
  snapshot_.reset();
  Outcome outcome;
  Operations operations(pa_);
  if (!watchServer(operations) ||
      !operations.add(pa_.setDefaultSink(context_, sink.c_str(), onSuccess, &outcome))) {
    fail();
    return false;
  }
  if (!wait(outcome) || !outcome.success) return false;
  awaitDefault(sink);
  return true;
}

// Asks for the server's change events (the default sink is the server's),
// without waiting for the answer: the server handles requests in order.
bool Server::watchServer(Operations& operations) {
  pa_.onEvent(context_, onServerChange, &serverChanged_);
  return operations.add(pa_.subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
}

// A server may acknowledge a new default before it is in effect (on
// pipewire-pulse the session manager makes it so a moment later), so the
// server is read again after each change event, or a short pause, until its
// default is `sink`. A server that is slow to show it keeps the reply's
// share of the bound, and the reply then reads it as it is.
void Server::awaitDefault(const std::string& sink) {
  const auto until = deadline_ - kReplyReserve;
  for (;;) {
    serverChanged_ = false;
    const Snapshot* read = snapshot();
    if (read == nullptr || read->defaultSink == sink) return;
    snapshot_.reset();
    if (!pause(until)) return;
  }
}

// Runs the main loop until a change event, a short pause or `until`; false
// at `until` or when the connection failed.
bool Server::pause(std::chrono::steady_clock::time_point until) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= until) return false;
  const auto end = std::min(until, now + kRereadPause);
  while (!serverChanged_) {
    if (!PA_CONTEXT_IS_GOOD(pa_.contextState(context_))) {
      fail();
      return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    if (pa_.prepare(loop_, static_cast<int>(left.count())) < 0 || pa_.poll(loop_) < 0 ||
        pa_.dispatch(loop_) < 0) {
      fail();
      return false;
    }
  }
  return true;
}

Server& server() {
  static Server instance;
  return instance;
}

bool is(const PropertyAddress& address, std::uint32_t selector, std::uint32_t scope) {
  return address.selector == selector && address.scope == scope && address.element == 0;
}

// The status of a query of a device's property: '!obj' for an object the
// server does not have, 'who?' for a property devices do not have here.
std::int32_t deviceStatus(const Snapshot& snapshot, AudioObjectId object) {
  return snapshot.find(object) == nullptr ? kBadObject : kUnknownProperty;
}

std::int32_t defaultOutput(const Snapshot& snapshot, std::uint32_t* size, void* data) {
  if (*size < sizeof(AudioObjectId)) return kBadSize;
  if (!snapshot.defaultSink) return kUnspecified;
  for (const Device& device : snapshot.devices) {
    if (!device.sink || device.serverName != *snapshot.defaultSink) continue;
    std::memcpy(data, &device.id, sizeof device.id);
    *size = sizeof device.id;
    return 0;
  }
  return kUnspecified;
}

std::int32_t deviceList(const Snapshot& snapshot, std::uint32_t* size, void* data) {
  const std::size_t fit = std::min<std::size_t>(*size / sizeof(AudioObjectId), snapshot.devices.size());
  auto* ids = static_cast<AudioObjectId*>(data);
  for (std::size_t i = 0; i < fit; ++i) ids[i] = snapshot.devices[i].id;
  *size = static_cast<std::uint32_t>(fit * sizeof(AudioObjectId));
  return 0;
}

// The name is handed out as an owned copy of the description; a device
// without one reads as no name.
std::int32_t deviceName(const Device& device, std::uint32_t* size, void* data) {
  if (*size < sizeof(StringRef)) return kBadSize;
  StringRef name = device.name ? new std::string(*device.name) : nullptr;
  std::memcpy(data, &name, sizeof name);
  *size = sizeof name;
  return 0;
}

}  // namespace

std::int32_t propertyDataSize(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size) {
  const Snapshot* snapshot = server().snapshot();
  if (snapshot == nullptr) return kNotRunning;
  if (object == kSystemObject) {
    if (!is(address, kDevices, kScopeGlobal)) return kUnknownProperty;
    *size = static_cast<std::uint32_t>(snapshot->devices.size() * sizeof(AudioObjectId));
    return 0;
  }
  const Device* device = snapshot->find(object);
  if (device == nullptr || !is(address, kStreams, kScopeOutput)) return deviceStatus(*snapshot, object);
  // One stream for a sink; its id is never asked for.
  *size = device->sink ? sizeof(AudioObjectId) : 0;
  return 0;
}

std::int32_t propertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t* size,
                          void* data) {
  const Snapshot* snapshot = server().snapshot();
  if (snapshot == nullptr) return kNotRunning;
  if (object == kSystemObject) {
    if (is(address, kDevices, kScopeGlobal)) return deviceList(*snapshot, size, data);
    if (is(address, kDefaultOutput, kScopeGlobal)) return defaultOutput(*snapshot, size, data);
    return kUnknownProperty;
  }
  const Device* device = snapshot->find(object);
  if (device == nullptr || !is(address, kName, kScopeGlobal)) return deviceStatus(*snapshot, object);
  return deviceName(*device, size, data);
}

std::int32_t setPropertyData(AudioObjectId object, const PropertyAddress& address, std::uint32_t size,
                             const void* data) {
  const Snapshot* snapshot = server().snapshot();
  if (snapshot == nullptr) return kNotRunning;
  if (object != kSystemObject) return deviceStatus(*snapshot, object);
  if (!is(address, kDefaultOutput, kScopeGlobal)) return kUnknownProperty;
  AudioObjectId id = 0;
  if (size != sizeof id) return kBadSize;
  std::memcpy(&id, data, sizeof id);
  const Device* device = snapshot->find(id);
  if (device == nullptr || !device->sink) return kBadDevice;
  // A copy: the set drops the snapshot the device lives in.
  const std::string sink = device->serverName;
  return server().setDefaultSink(sink) ? 0 : kUnspecified;
}

// Text that is not valid UTF-8 has no UTF-8 form, as on the Mac.
std::optional<std::string> stringText(StringRef string) {
  const auto& text = *static_cast<const std::string*>(string);
  if (server().pulse().utf8Valid(text.c_str()) == nullptr) return std::nullopt;
  return text;
}

void releaseString(StringRef string) { delete static_cast<const std::string*>(string); }

}  // namespace platform
