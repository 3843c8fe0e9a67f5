#include "platform/linux/x11/x11_auth.h"

#include <X11/Xauth.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xproto.h>

#include <cstring>

#include "platform/linux/runtime_library.h"

namespace platform::x11 {
namespace {

using runtime::bindSymbol;

// The entry points of libXau.so.6 (which libxcb itself needs), typed by its
// header.
struct Xau {
  decltype(&::XauGetBestAuthByAddr) get_best_auth_by_addr;
  decltype(&::XauDisposeAuth) dispose_auth;
};

// Bound on first use (a thread-safe static: the watcher connects again on a
// thread of its own).
const Xau* xau() {
  static const Xau bound = [] {
    Xau x{};
    void* library = runtime::openLibrary("libXau.so.6");
    if (!bindSymbol(library, "XauGetBestAuthByAddr", x.get_best_auth_by_addr) ||
        !bindSymbol(library, "XauDisposeAuth", x.dispose_auth)) {
      x = Xau{};
    }
    return x;
  }();
  return bound.get_best_auth_by_addr != nullptr ? &bound : nullptr;
}

// The address an authority entry is filed under for the server's end of the
// socket: this machine's name for a local server (a unix socket, or TCP to
// 127.0.0.1 or ::1), else the server's IP address.
struct Address {
  unsigned short family = FamilyLocal;
  std::string bytes;
};

std::optional<Address> addressOf(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return std::nullopt;
  Address address;
  if (peer.ss_family == AF_INET6) {
    const in6_addr& ip = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    const char* bytes = reinterpret_cast<const char*>(&ip);
    if (IN6_IS_ADDR_V4MAPPED(&ip)) {
      in_addr_t v4;
      std::memcpy(&v4, bytes + 12, sizeof v4);
      if (v4 != htonl(INADDR_LOOPBACK)) address = {XCB_FAMILY_INTERNET, std::string(bytes + 12, 4)};
    } else if (!IN6_IS_ADDR_LOOPBACK(&ip)) {
      address = {XCB_FAMILY_INTERNET_6, std::string(bytes, 16)};
    }
  } else if (peer.ss_family == AF_INET) {
    const in_addr& ip = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    if (ip.s_addr != htonl(INADDR_LOOPBACK)) {
      address = {XCB_FAMILY_INTERNET, std::string(reinterpret_cast<const char*>(&ip), 4)};
    }
  } else if (peer.ss_family != AF_UNIX) {
    return std::nullopt;
  }
  if (address.family == FamilyLocal) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return std::nullopt;
    address.bytes = host;
  }
  return address;
}

}  // namespace

std::optional<Authorization> authorizationFor(int fd, int display) {
  const Xau* x = xau();
  const std::optional<Address> address = addressOf(fd);
  if (x == nullptr || !address) return std::nullopt;
  const std::string number = std::to_string(display);
  // The one protocol that needs nothing but the cookie; the file is found
  // as libXau finds it (XAUTHORITY, else ~/.Xauthority).
  char protocol[] = "MIT-MAGIC-COOKIE-1";
  char* names[] = {protocol};
  int lengths[] = {static_cast<int>(sizeof protocol - 1)};
  Xauth* entry = x->get_best_auth_by_addr(address->family, static_cast<unsigned short>(address->bytes.size()),
                                          address->bytes.data(), static_cast<unsigned short>(number.size()),
                                          number.data(), 1, names, lengths);
  if (entry == nullptr) return std::nullopt;
  Authorization found{std::string(entry->name, entry->name_length),
                      std::string(entry->data, entry->data_length)};
  x->dispose_auth(entry);
  return found;
}

}  // namespace platform::x11
