// The trace of platform calls that the simulated machine writes to the file
// SIM_TRACE names: one JSON object per call, appended as the call is made.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

namespace sim {

// One member of a trace line after "call".
struct TraceField {
  template <std::integral Integer>
  TraceField(std::string_view k, Integer v) : key(k), value(static_cast<std::int64_t>(v)) {}
  TraceField(std::string_view k, double v) : key(k), value(v) {}
  TraceField(std::string_view k, std::string_view v) : key(k), value(v) {}
  TraceField(std::string_view k, const char* v) : key(k), value(std::string_view(v)) {}

  std::string_view key;
  std::variant<std::int64_t, double, std::string_view> value;
};

// Records one platform call. The scenario is loaded first, so a faulty one
// ends the process before anything is recorded.
void trace(std::string_view call, std::initializer_list<TraceField> fields = {});

// Records the status the process ends with; the last line of every trace.
void recordExit(int status);

// A double as the trace writes it: the shortest text that reads back the
// same value, always with a fraction or an exponent; "nan", "inf" and
// "-inf" as strings.
std::string traceNumber(double value);

}  // namespace sim
