// The compositor's toplevel windows as one of the window-list protocols
// describes them, whichever protocol that is.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/linux/wayland/wire.h"

namespace platform::wayland {

struct Window {
  std::uint32_t id = 0;  // the protocol's object for it
  std::string appId;  // empty: none given
  std::string title;
  std::int32_t pid = -1;  // -1: the protocol gives none
  bool active = false;
  std::uint64_t activeSince = 0;  // when it last became active, in the list's own count
  std::set<std::uint32_t> outputs;  // the wl_output objects it is on
};

class Windows {
 public:
  // The window that became active last among those active now: while a
  // batch of changes is only partly handled, two may be active at once.
  const Window* frontmost() const;
  // Stores `window` under `id`, as a whole (a protocol applies a window's
  // changes at once).
  void update(std::uint32_t id, Window window);
  void remove(std::uint32_t id) { windows_.erase(id); }
  const Window* find(std::uint32_t id) const;
  void clear() { windows_.clear(); }

 private:
  std::map<std::uint32_t, Window> windows_;
  std::uint64_t activations_ = 0;
};

// Follows zwlr_foreign_toplevel_manager_v1 (wlroots compositors); false
// when the compositor does not offer it.
bool followWlrToplevels(Connection& connection, Windows& windows);

// Follows org_kde_plasma_window_management (KDE Plasma's kwin, which offers
// it to the programs it trusts); false when the compositor does not offer it.
bool followPlasmaWindows(Connection& connection, Windows& windows);

}  // namespace platform::wayland
