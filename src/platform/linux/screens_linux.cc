// On a Wayland compositor the screens are its outputs (wayland/); elsewhere
// the screens of an X11 desktop are its RandR monitors, in the server's
// order; the main screen is the primary monitor, or the first one when none
// is primary. Sizes are in pixels. Nothing here has a notch: the top inset
// is 0 and there are no auxiliary top areas. Without an X display (or
// without RandR 1.5) there is no screen and no main screen.

#include <xcb/randr.h>

#include <cmath>
#include <cstdlib>
#include <deque>

#include "platform/linux/runtime_library.h"
#include "platform/linux/wayland/output_probe.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/screens.h"

namespace platform {

struct ScreenObject {
  Rect frame;
  bool primary;
};

namespace {

using runtime::bindSymbol;

// The entry points of libxcb-randr.so.0, typed by its header.
struct RandR {
  xcb_extension_t* id;
  decltype(&::xcb_randr_query_version) query_version;
  decltype(&::xcb_randr_get_monitors) get_monitors;
  decltype(&::xcb_randr_get_monitors_monitors_iterator) get_monitors_monitors_iterator;
  decltype(&::xcb_randr_monitor_info_next) monitor_info_next;
};

RandR randr;
bool randrBound = false;
bool randrAsked = false;  // the extension's presence is in xcb's cache

// Every screen handed out stays valid until the process ends.
std::deque<ScreenObject> handedOut;

bool bindRandR(void* library) {
  return bindSymbol(library, "xcb_randr_id", randr.id) &&
         bindSymbol(library, "xcb_randr_query_version", randr.query_version) &&
         bindSymbol(library, "xcb_randr_get_monitors", randr.get_monitors) &&
         bindSymbol(library, "xcb_randr_get_monitors_monitors_iterator",
                    randr.get_monitors_monitors_iterator) &&
         bindSymbol(library, "xcb_randr_monitor_info_next", randr.monitor_info_next);
}

// A RandR request on a server without the extension would break the
// connection, so its presence is asked first. xcb would wait for that answer
// without limit: the round trip after the question brings it in (or gives
// the server up), and xcb keeps it from then on.
bool randrPresent(x11::Session& x) {
  if (!randrAsked) {
    x.xcb->prefetch_extension_data(x.connection, randr.id);
    if (!x11::roundTrip(x)) return false;
    randrAsked = true;
  }
  const xcb_query_extension_reply_t* extension = x.xcb->get_extension_data(x.connection, randr.id);
  return extension != nullptr && extension->present != 0;
}

// The reply listing the active monitors, or null.
xcb_randr_get_monitors_reply_t* monitorsReply(x11::Session& x) {
  if (!randrBound) randrBound = bindRandR(runtime::openLibrary("libxcb-randr.so.0"));
  if (!randrBound || !randrPresent(x)) return nullptr;
  // Monitors came with RandR 1.5; the version is announced before they are
  // asked for.
  const auto version = randr.query_version(x.connection, 1, 5);
  const auto monitors = randr.get_monitors(x.connection, x.root, 1);
  std::free(x11::awaitReply(x, version.sequence, nullptr));
  xcb_generic_error_t* error = nullptr;
  void* reply = x11::awaitReply(x, monitors.sequence, &error);
  std::free(error);
  return static_cast<xcb_randr_get_monitors_reply_t*>(reply);
}

// Asks the server afresh for its monitors.
std::vector<ScreenHandle> monitors() {
  x11::Session* x = x11::session();
  if (x == nullptr) return {};
  std::vector<ScreenHandle> list;
  xcb_randr_get_monitors_reply_t* reply = monitorsReply(*x);
  if (reply == nullptr) return {};
  for (auto it = randr.get_monitors_monitors_iterator(reply); it.rem > 0; randr.monitor_info_next(&it)) {
    const xcb_randr_monitor_info_t& m = *it.data;
    const Rect frame{double(m.x), double(m.y), double(m.width), double(m.height)};
    handedOut.push_back({frame, m.primary != 0});
    list.push_back(&handedOut.back());
  }
  std::free(reply);
  return list;
}

std::vector<ScreenHandle> outputs(const std::vector<wayland::Screen>& list) {
  std::vector<ScreenHandle> handles;
  for (const wayland::Screen& screen : list) {
    const wayland::Frame& f = screen.frame;
    handedOut.push_back({Rect{f.x, f.y, f.width, f.height}, screen.main});
    handles.push_back(&handedOut.back());
  }
  return handles;
}

}  // namespace

// X11 answers only where no Wayland compositor does.
std::vector<ScreenHandle> screens() {
  if (const auto& list = wayland::screens()) return outputs(*list);
  return monitors();
}

ScreenHandle mainScreen() {
  const std::vector<ScreenHandle> list = screens();
  for (const ScreenHandle screen : list) {
    if (screen->primary) return screen;
  }
  return list.empty() ? nullptr : list.front();
}

double safeAreaTop(ScreenHandle) { return 0; }

Rect frame(ScreenHandle screen) { return screen->frame; }

std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle) { return std::nullopt; }

std::optional<Rect> auxiliaryTopRightArea(ScreenHandle) { return std::nullopt; }

double rectWidth(const Rect& rect) { return std::fabs(rect.width); }

}  // namespace platform
