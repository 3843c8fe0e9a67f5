// zwlr_foreign_toplevel_manager_v1, version 3 or lower as offered. A handle's
// events are pending until its `done`, which applies them at once.

#include <algorithm>
#include <memory>

#include "platform/linux/wayland/windows.h"

namespace platform::wayland {
namespace {

constexpr std::uint32_t kVersion = 3;
constexpr std::uint16_t kToplevel = 0;  // manager event
enum : std::uint16_t { kTitle, kAppId, kOutputEnter, kOutputLeave, kState, kDone, kClosed };
constexpr std::uint16_t kDestroy = 7;  // handle request
constexpr std::uint32_t kActivated = 2;

void handleEvent(Connection& connection, Windows& windows, std::uint32_t id, Window& pending,
                 std::uint16_t opcode, Reader& args) {
  switch (opcode) {
    case kTitle:
      pending.title = args.string();
      break;
    case kAppId:
      pending.appId = args.string();
      break;
    case kOutputEnter:
      pending.outputs.insert(args.uint());
      break;
    case kOutputLeave:
      pending.outputs.erase(args.uint());
      break;
    case kState: {
      const std::vector<std::uint32_t> states = args.uintArray();
      pending.active = std::find(states.begin(), states.end(), kActivated) != states.end();
      break;
    }
    case kDone:
      windows.update(id, pending);
      if (const Window* applied = windows.find(id)) pending = *applied;
      break;
    case kClosed:
      windows.remove(id);
      connection.request(id, kDestroy);
      connection.forget(id);
      break;
  }
}

void watchToplevel(Connection& connection, Windows& windows, Reader& args) {
  // The new handle's id is the compositor's; its state lives with its handler.
  const std::uint32_t id = args.uint();
  auto pending = std::make_shared<Window>();
  connection.adopt(id, [&connection, &windows, pending](std::uint32_t self, std::uint16_t opcode, Reader& r) {
    handleEvent(connection, windows, self, *pending, opcode, r);
  });
}

}  // namespace

bool followWlrToplevels(Connection& connection, Windows& windows) {
  const Global* manager = connection.find("zwlr_foreign_toplevel_manager_v1");
  if (manager == nullptr) return false;
  connection.bind(*manager, kVersion, [&connection, &windows](std::uint32_t, std::uint16_t opcode, Reader& args) {
    if (opcode == kToplevel) watchToplevel(connection, windows, args);
  });
  return true;
}

}  // namespace platform::wayland
