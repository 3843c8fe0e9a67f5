// Drives the sysfs backend, logind included, for the tests that need to see
// its status: `backlight_driver ROOT set LEVEL` sets the built-in panel's
// level and prints the status.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/backlight/backlight.h"
#include "platform/linux/backlight/logind.h"

int main(int argc, char** argv) {
  if (argc != 4 || std::string(argv[2]) != "set") {
    std::fputs("usage: backlight_driver ROOT set LEVEL\n", stderr);
    return 2;
  }
  const std::string root = argv[1];
  for (const auto& connector : platform::sysfs::connectedConnectors(root)) {
    if (!connector.builtin) continue;
    const float level = std::strtof(argv[3], nullptr);
    std::printf("%d\n",
                platform::sysfs::writeLevel(root, connector.id, level, platform::logind::setBrightness));
    return 0;
  }
  std::fputs("no built-in panel\n", stderr);
  return 1;
}
