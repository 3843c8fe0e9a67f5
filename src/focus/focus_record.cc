#include "focus/focus_record.h"

#include <string>

#include "json_line.h"
#include "saturating.h"

namespace focus {

std::int64_t wholeMilliseconds(double seconds) { return saturatingInt64(seconds * 1000.0); }

void emit(platform::Application* application) {
  // The moment comes first, before any property is read; each property is
  // read once.
  const std::int64_t at = wholeMilliseconds(platform::currentTime());
  std::string bundleId = platform::bundleIdentifier(application).value_or("unknown");
  std::string name = platform::localizedName(application).value_or("unknown");
  const std::int32_t pid = platform::processIdentifier(application);

  Reply record;
  record.set("v", std::int64_t{1})
      .set("at", at)
      .set("bundleId", std::move(bundleId))
      .set("name", std::move(name))
      .set("pid", pid);
  printJSON(record);
}

}  // namespace focus
