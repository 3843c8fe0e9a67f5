#include "platform/linux/x11/window_application.h"

#include <xcb/res.h>

#include <cstdlib>
#include <string_view>

#include "json_line.h"
#include "platform/linux/runtime_library.h"

namespace platform::x11 {
namespace {

using runtime::bindSymbol;

// A property is read whole up to this size, so a long instance in WM_CLASS
// keeps the class after it; longer texts are cut there.
constexpr std::uint32_t kMaxTextBytes = 64 * 1024;

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

}  // namespace

std::optional<Atoms> internAtoms(Session& x) {
  if (!xresBound) xresBound = bindXRes(runtime::openLibrary("libxcb-res.so.0"));
  if (xresBound) x.xcb->prefetch_extension_data(x.connection, xres.id);
  constexpr std::string_view kNames[] = {"_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_GTK_APPLICATION_ID",
                                         "_KDE_NET_WM_DESKTOP_FILE", "UTF8_STRING"};
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
  return Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4]};
}

std::optional<Application> windowApplication(Session& x, const Atoms& atoms, xcb_window_t window) {
  // Every request goes out before the first answer is awaited: one round
  // trip per activation.
  const auto wmClassCookie = requestProperty(x, window, XCB_ATOM_WM_CLASS, kMaxTextBytes);
  const auto gtkCookie = requestProperty(x, window, atoms.gtkApplicationId, kMaxTextBytes);
  const auto kdeCookie = requestProperty(x, window, atoms.kdeDesktopFile, kMaxTextBytes);
  const auto pidCookie = requestProperty(x, window, atoms.wmPid, 4);
  std::optional<xcb_res_query_client_ids_cookie_t> clientCookie;
  if (xresPresent(x)) {
    const xcb_res_client_id_spec_t wanted{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    clientCookie = xres.query_client_ids(x.connection, 1, &wanted);
  }

  bool gone = false;
  const std::optional<Property> wmClass = textProperty(x, wmClassCookie, gone);
  const std::optional<Property> gtkId = textProperty(x, gtkCookie, gone);
  const std::optional<Property> kdeFile = textProperty(x, kdeCookie, gone);
  const std::optional<std::int32_t> ownPid = windowPid(cardinalProperty(x, pidCookie));
  const std::optional<std::int32_t> client = clientCookie ? clientPid(x, *clientCookie) : std::nullopt;
  if (gone || failed(x)) return std::nullopt;

  Application application;
  if (wmClass) {
    // WM_CLASS holds the instance and then the class, each ended by a NUL.
    const std::string_view bytes = wmClass->bytes;
    const std::size_t end = bytes.find('\0');
    const bool latin1 = wmClass->type == XCB_ATOM_STRING;
    application.bundleId = text(bytes, latin1);
    if (end != std::string_view::npos) application.name = text(bytes.substr(end + 1), latin1);
  }
  if (auto id = desktopId(gtkId)) {
    application.bundleId = std::move(id);
  } else if (auto file = desktopId(kdeFile)) {
    application.bundleId = std::move(file);
  }
  application.pidFromWindow = ownPid.has_value();
  application.pid = ownPid.value_or(client.value_or(-1));
  return application;
}

bool sameApplication(const Application& a, const Application& b) {
  if (a.pidFromWindow && b.pidFromWindow) return a.pid == b.pid;
  return a.bundleId == b.bundleId && a.name == b.name && a.pid == b.pid;
}

}  // namespace platform::x11
