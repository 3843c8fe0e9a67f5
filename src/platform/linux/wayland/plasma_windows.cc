// org_kde_plasma_window_management: kwin announces each window by an id
// (from version 13 on with a uuid, which then names it); a window object
// made for it reports its title, app id, process and state. It has no event
// that closes a batch, so a window is listed once its initial state is
// complete and changed by each event after that.

#include "platform/linux/wayland/windows.h"

namespace platform::wayland {
namespace {

constexpr std::uint32_t kVersion = 16;
constexpr std::uint32_t kUuidSince = 13;
enum : std::uint16_t { kWindowEvent = 1, kWindowWithUuid = 4 };  // manager events
enum : std::uint16_t { kGetWindow = 1, kGetWindowByUuid = 2 };  // manager requests
enum : std::uint16_t { kTitle = 0, kAppId = 1, kState = 2, kUnmapped = 5, kInitialState = 6, kPid = 10 };
constexpr std::uint16_t kDestroy = 8;  // window request
constexpr std::uint32_t kActive = 1;   // state flag

struct Tracked {
  Window window;
  bool listed = false;  // its initial state has arrived
};

void handleEvent(Connection& connection, Windows& windows, std::uint32_t id, Tracked& tracked,
                 std::uint16_t opcode, Reader& args) {
  Window& window = tracked.window;
  switch (opcode) {
    case kTitle:
      window.title = args.string();
      break;
    case kAppId:
      window.appId = args.string();
      break;
    case kState:
      window.active = (args.uint() & kActive) != 0;
      break;
    case kPid: {
      const std::uint32_t pid = args.uint();
      window.pid = pid > 0 && pid <= 0x7FFFFFFF ? static_cast<std::int32_t>(pid) : -1;
      break;
    }
    case kInitialState:
      tracked.listed = true;
      break;
    case kUnmapped:
      windows.remove(id);
      connection.request(id, kDestroy);
      connection.forget(id);
      return;
    default:
      return;
  }
  if (!tracked.listed) return;
  windows.update(id, window);
  if (const Window* applied = windows.find(id)) window = *applied;
}

// Asks for the window object of a window the manager announced.
void watchWindow(Connection& connection, Windows& windows, std::uint32_t manager, bool byUuid, Reader& args) {
  const std::uint32_t internalId = args.uint();
  const std::string uuid = byUuid ? args.string() : std::string();
  auto tracked = std::make_shared<Tracked>();
  const std::uint32_t id =
      connection.create([&connection, &windows, tracked](std::uint32_t self, std::uint16_t opcode, Reader& r) {
        handleEvent(connection, windows, self, *tracked, opcode, r);
      });
  if (byUuid) {
    connection.request(manager, kGetWindowByUuid, Writer().uint(id).string(uuid));
  } else {
    connection.request(manager, kGetWindow, Writer().uint(id).uint(internalId));
  }
}

}  // namespace

bool followPlasmaWindows(Connection& connection, Windows& windows) {
  const Global* manager = connection.find("org_kde_plasma_window_management");
  if (manager == nullptr) return false;
  const bool byUuid = manager->version >= kUuidSince;
  connection.bind(*manager, kVersion, [&connection, &windows, byUuid](std::uint32_t self, std::uint16_t opcode,
                                                                     Reader& args) {
    if (opcode == (byUuid ? kWindowWithUuid : kWindowEvent)) watchWindow(connection, windows, self, byUuid, args);
  });
  return true;
}

}  // namespace platform::wayland
