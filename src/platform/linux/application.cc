#include "platform/linux/application.h"

namespace platform {

bool sameApplication(const Application& a, const Application& b) {
  if (a.pid != -1 && b.pid != -1) return a.pid == b.pid;
  return a.bundleId == b.bundleId && a.name == b.name;
}

}  // namespace platform
