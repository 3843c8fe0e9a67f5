#include "platform/linux/x11/window_application.h"

#include <xcb/res.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "json_line.h"
#include "platform/linux/desktop/desktop_entries.h"
#include "platform/linux/runtime_library.h"

namespace platform::x11 {
namespace {

using runtime::bindSymbol;

// A property is read whole up to this size, so a long instance in WM_CLASS
// keeps the class after it; longer texts are cut there.
constexpr std::uint32_t kMaxTextBytes = 64 * 1024;
// Dialogs of dialogs are followed this far for an application id; a chain
// that goes on (or loops) ends there.
constexpr int kMaxTransientLevels = 4;
// WM_HINTS: nine 32-bit fields; the window group is the last, valid when
// its flag is set.
constexpr std::uint32_t kWmHintsBytes = 9 * 4;
constexpr std::uint32_t kWindowGroupHint = 1u << 6;

// The entry points of libxcb-res.so.0, for the pid of a window's client.
struct XRes {
  xcb_extension_t* id;
  decltype(&::xcb_res_query_client_ids) query_client_ids;
  decltype(&::xcb_res_query_client_ids_ids_iterator) query_client_ids_ids_iterator;
  decltype(&::xcb_res_client_id_value_next) client_id_value_next;
  decltype(&::xcb_res_client_id_value_value) client_id_value_value;
};

XRes xres;
bool xresBound = false;

bool bindXRes(void* library) {
  return bindSymbol(library, "xcb_res_id", xres.id) &&
         bindSymbol(library, "xcb_res_query_client_ids", xres.query_client_ids) &&
         bindSymbol(library, "xcb_res_query_client_ids_ids_iterator", xres.query_client_ids_ids_iterator) &&
         bindSymbol(library, "xcb_res_client_id_value_next", xres.client_id_value_next) &&
         bindSymbol(library, "xcb_res_client_id_value_value", xres.client_id_value_value);
}

bool xresPresent(Session& x) {
  if (!xresBound) return false;
  const xcb_query_extension_reply_t* extension = x.xcb->get_extension_data(x.connection, xres.id);
  return extension != nullptr && extension->present != 0;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string utf8;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// One NUL-ended text of a property as UTF-8: STRING is Latin-1 (ICCCM);
// any other type must be UTF-8 already. None when it is empty or not UTF-8.
std::optional<std::string> text(std::string_view bytes, bool latin1) {
  bytes = bytes.substr(0, bytes.find('\0'));
  if (bytes.empty()) return std::nullopt;
  if (latin1) return latin1ToUtf8(bytes);
  if (!isUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

// A desktop-file id names its file; the application is the name without
// the ".desktop" ending.
std::optional<std::string> desktopId(const std::optional<Property>& property) {
  if (!property) return std::nullopt;
  std::optional<std::string> id = text(property->bytes, property->type == XCB_ATOM_STRING);
  constexpr std::string_view kSuffix = ".desktop";
  if (id && id->size() > kSuffix.size() && id->ends_with(kSuffix)) id->resize(id->size() - kSuffix.size());
  return id;
}

// _NET_WM_PID, when it names a possible process.
std::optional<std::int32_t> windowPid(std::optional<std::uint32_t> value) {
  if (!value || *value == 0 || *value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

// The process of the X client that made the window, from the X-Resource
// extension's answer; none for a remote client.
std::optional<std::int32_t> clientPid(Session& x, xcb_res_query_client_ids_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  auto* reply = static_cast<xcb_res_query_client_ids_reply_t*>(awaitReply(x, cookie.sequence, &error));
  std::free(error);
  if (reply == nullptr) return std::nullopt;
  std::optional<std::int32_t> pid;
  for (xcb_res_client_id_value_iterator_t it = xres.query_client_ids_ids_iterator(reply); it.rem > 0;
       xres.client_id_value_next(&it)) {
    // The value's length is in bytes; a pid takes one 32-bit word.
    const auto& [client, valueBytes] = *it.data;
    if ((client.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 && valueBytes >= 4) {
      pid = windowPid(*xres.client_id_value_value(it.data));
      break;
    }
  }
  std::free(reply);
  return pid;
}

// The application id a window names itself: _GTK_APPLICATION_ID, else
// _KDE_NET_WM_DESKTOP_FILE.
struct AppIdCookies {
  xcb_get_property_cookie_t gtk;
  xcb_get_property_cookie_t kde;
};

AppIdCookies requestAppId(Session& x, const Atoms& atoms, xcb_window_t window) {
  return {requestProperty(x, window, atoms.gtkApplicationId, kMaxTextBytes),
          requestProperty(x, window, atoms.kdeDesktopFile, kMaxTextBytes)};
}

std::optional<std::string> appId(Session& x, const AppIdCookies& cookies, bool& gone) {
  std::optional<std::string> gtk = desktopId(textProperty(x, cookies.gtk, gone));
  std::optional<std::string> kde = desktopId(textProperty(x, cookies.kde, gone));
  return gtk ? gtk : kde;
}

// A window named by a 32-bit property (WM_TRANSIENT_FOR, WM_CLIENT_LEADER).
xcb_window_t windowProperty(Session& x, xcb_get_property_cookie_t cookie) {
  return cardinalProperty(x, cookie).value_or(XCB_WINDOW_NONE);
}

// The group leader WM_HINTS names, when its flag says it is there.
xcb_window_t hintedGroup(Session& x, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  auto* reply = static_cast<xcb_get_property_reply_t*>(awaitReply(x, cookie.sequence, &error));
  std::free(error);
  if (reply == nullptr) return XCB_WINDOW_NONE;
  std::uint32_t hints[9] = {};
  const bool complete = reply->format == 32 && x.xcb->get_property_value_length(reply) >= 36;
  if (complete) std::memcpy(hints, x.xcb->get_property_value(reply), sizeof hints);
  std::free(reply);
  if ((hints[0] & kWindowGroupHint) == 0) return XCB_WINDOW_NONE;
  return hints[8];
}

// The application id `window` inherits: from the chain of windows it is
// transient for, else from its group leader. Errors on the way (a parent
// that is gone) give nothing.
std::optional<std::string> inheritedAppId(Session& x, const Atoms& atoms, xcb_window_t window,
                                          xcb_window_t transientFor, xcb_window_t leader) {
  bool gone = false;
  xcb_window_t next = transientFor;
  for (int level = 0; level < kMaxTransientLevels && next != XCB_WINDOW_NONE && next != window; ++level) {
    const AppIdCookies cookies = requestAppId(x, atoms, next);
    const auto parentCookie = requestProperty(x, next, XCB_ATOM_WM_TRANSIENT_FOR, 4);
    std::optional<std::string> id = appId(x, cookies, gone);
    next = windowProperty(x, parentCookie);
    if (id) return id;
  }
  if (leader == XCB_WINDOW_NONE || leader == window) return std::nullopt;
  return appId(x, requestAppId(x, atoms, leader), gone);
}

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The desktop's entry for a window: its application id, an entry that
// claims its class through StartupWMClass, then its instance and its class
// as ids, each as it is and in lower case.
std::optional<desktop::Entry> entryFor(const std::optional<std::string>& id,
                                       const std::optional<std::string>& instance,
                                       const std::optional<std::string>& wmClass) {
  if (id) {
    if (auto entry = desktop::find(*id)) return entry;
  }
  if (wmClass) {
    if (auto entry = desktop::findByStartupWMClass(*wmClass)) return entry;
  }
  for (const std::optional<std::string>* candidate : {&instance, &wmClass}) {
    if (!*candidate) continue;
    if (auto entry = desktop::find(**candidate)) return entry;
    const std::string lower = lowerCase(**candidate);
    if (lower != **candidate) {
      if (auto entry = desktop::find(lower)) return entry;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Atoms> internAtoms(Session& x) {
  if (!xresBound) xresBound = bindXRes(runtime::openLibrary("libxcb-res.so.0"));
  if (xresBound) x.xcb->prefetch_extension_data(x.connection, xres.id);
  constexpr std::string_view kNames[] = {"_NET_ACTIVE_WINDOW",       "_NET_WM_PID", "_GTK_APPLICATION_ID",
                                         "_KDE_NET_WM_DESKTOP_FILE", "UTF8_STRING", "WM_CLIENT_LEADER"};
  xcb_intern_atom_cookie_t cookies[std::size(kNames)];
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    cookies[i] =
        x.xcb->intern_atom(x.connection, 0, static_cast<std::uint16_t>(kNames[i].size()), kNames[i].data());
  }
  xcb_atom_t atoms[std::size(kNames)];
  bool complete = true;
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    auto* reply = static_cast<xcb_intern_atom_reply_t*>(awaitReply(x, cookies[i].sequence, nullptr));
    complete = complete && reply != nullptr;
    atoms[i] = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
  }
  if (!complete) return std::nullopt;
  return Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5]};
}

std::optional<Application> windowApplication(Session& x, const Atoms& atoms, xcb_window_t window) {
  // Every request goes out before the first answer is awaited: one round
  // trip per activation, and one more per window an id is inherited from.
  const auto wmClassCookie = requestProperty(x, window, XCB_ATOM_WM_CLASS, kMaxTextBytes);
  const AppIdCookies appIdCookies = requestAppId(x, atoms, window);
  const auto pidCookie = requestProperty(x, window, atoms.wmPid, 4);
  const auto transientCookie = requestProperty(x, window, XCB_ATOM_WM_TRANSIENT_FOR, 4);
  const auto hintsCookie = requestProperty(x, window, XCB_ATOM_WM_HINTS, kWmHintsBytes);
  const auto leaderCookie = requestProperty(x, window, atoms.clientLeader, 4);
  std::optional<xcb_res_query_client_ids_cookie_t> clientCookie;
  if (xresPresent(x)) {
    const xcb_res_client_id_spec_t wanted{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    clientCookie = xres.query_client_ids(x.connection, 1, &wanted);
  }

  bool gone = false;
  const std::optional<Property> wmClass = textProperty(x, wmClassCookie, gone);
  std::optional<std::string> id = appId(x, appIdCookies, gone);
  const std::optional<std::int32_t> ownPid = windowPid(cardinalProperty(x, pidCookie));
  const xcb_window_t transientFor = windowProperty(x, transientCookie);
  const xcb_window_t group = hintedGroup(x, hintsCookie);
  const xcb_window_t clientLeader = windowProperty(x, leaderCookie);
  const std::optional<std::int32_t> client = clientCookie ? clientPid(x, *clientCookie) : std::nullopt;
  if (gone || failed(x)) return std::nullopt;
  if (!id) {
    id = inheritedAppId(x, atoms, window, transientFor, group != XCB_WINDOW_NONE ? group : clientLeader);
    if (failed(x)) return std::nullopt;
  }

  // WM_CLASS holds the instance and then the class, each ended by a NUL.
  std::optional<std::string> instance;
  std::optional<std::string> name;
  if (wmClass) {
    const std::string_view bytes = wmClass->bytes;
    const std::size_t end = bytes.find('\0');
    const bool latin1 = wmClass->type == XCB_ATOM_STRING;
    instance = text(bytes, latin1);
    if (end != std::string_view::npos) name = text(bytes.substr(end + 1), latin1);
  }

  Application application;
  // The X server knows the real process; a sandboxed application's own
  // _NET_WM_PID counts in its sandbox only.
  application.pid = client.value_or(ownPid.value_or(-1));
  if (std::optional<desktop::Entry> entry = entryFor(id, instance, name)) {
    application.bundleId = std::move(entry->id);
    application.name = std::move(entry->name);
  } else {
    application.bundleId = id ? std::move(id) : std::move(instance);
    application.name = std::move(name);
  }
  return application;
}

}  // namespace platform::x11
