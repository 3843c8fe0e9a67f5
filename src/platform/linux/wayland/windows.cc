#include "platform/linux/wayland/windows.h"

namespace platform::wayland {

const Window* Windows::frontmost() const {
  const Window* best = nullptr;
  for (const auto& [id, window] : windows_) {
    if (window.active && (best == nullptr || window.activeSince > best->activeSince)) best = &window;
  }
  return best;
}

void Windows::update(std::uint32_t id, Window window) {
  const auto found = windows_.find(id);
  const bool wasActive = found != windows_.end() && found->second.active;
  if (window.active && !wasActive) window.activeSince = ++activations_;
  window.id = id;
  windows_[id] = std::move(window);
}

const Window* Windows::find(std::uint32_t id) const {
  const auto found = windows_.find(id);
  return found != windows_.end() ? &found->second : nullptr;
}

}  // namespace platform::wayland
