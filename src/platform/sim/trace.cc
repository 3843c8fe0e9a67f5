#include "platform/sim/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "json_line.h"
#include "platform/sim/scenario.h"

namespace sim {
namespace {

void writeLine(std::string_view call, std::initializer_list<TraceField> fields) {
  static const int fd = [] {
    const char* path = std::getenv("SIM_TRACE");
    return path == nullptr ? -1 : openDescriptor(path, O_WRONLY | O_APPEND | O_CREAT);
  }();
  if (fd < 0) return;
  std::string line = "{\"call\":";
  appendJsonString(line, call);
  for (const TraceField& field : fields) {
    line += ',';
    appendJsonString(line, field.key);
    line += ':';
    if (const auto* integer = std::get_if<std::int64_t>(&field.value)) {
      line += std::to_string(*integer);
    } else if (const auto* number = std::get_if<double>(&field.value)) {
      line += traceNumber(*number);
    } else {
      const std::size_t before = line.size();
      // Paths read as they are written, as in the scenario files.
      if (!appendJsonString(line, std::get<std::string_view>(field.value), false)) {
        // Text that is not UTF-8 still leaves a readable trace line.
        line.resize(before);
        line += "null";
      }
    }
  }
  line += "}\n";
  // One write per line: the file holds whole lines at every moment.
  const ssize_t written = write(fd, line.data(), line.size());
  static_cast<void>(written);
}

}  // namespace

std::string traceNumber(double value) {
  if (std::isnan(value)) return "\"nan\"";
  if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
  std::string text;
  appendJsonNumber(text, value);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

void trace(std::string_view call, std::initializer_list<TraceField> fields) {
  machine();
  writeLine(call, fields);
}

void recordExit(int status) { writeLine("exit", {{"status", status}}); }

}  // namespace sim
