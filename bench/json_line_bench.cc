// The JSON line writer's throughput, in lines per second, for the lines the
// programs write most: the watcher's focus record and the control tool's
// list of outputs. The printing cases write to standard output, line
// buffered as the watcher's is, so run this with standard output on
// /dev/null and the results sent to --benchmark_out.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "json_line.h"

namespace {

Reply focusRecord() {
  Reply record;
  record.set("v", std::int64_t{1})
      .set("at", std::int64_t{1733840000123})
      .set("bundleId", std::string("org.example.TextEditor"))
      .set("name", std::string("Text Editor"))
      .set("pid", std::int32_t{4242});
  return record;
}

// Names with the characters that take the writer's slower paths: quotes,
// a solidus, text beyond ASCII.
Reply outputsReply() {
  ReplyList outputs;
  const char* names[] = {"MacBook Pro Speakers", "Studio Display \"HDMI\" / DP", "Kopfhörer (USB)"};
  std::int64_t id = 2;
  for (const char* name : names) {
    outputs.push_back(Reply{}.set("id", id).set("name", std::string(name)));
    id += 2;
  }
  Reply reply;
  reply.set("current", std::int64_t{2}).set("outputs", std::move(outputs));
  return reply;
}

void formatOnly(benchmark::State& state, const Reply& reply) {
  std::string line;
  for (auto _ : state) {
    formatJSON(reply, line);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void printed(benchmark::State& state, const Reply& reply) {
  for (auto _ : state) printJSON(reply);
  state.SetItemsProcessed(state.iterations());
}

void BM_FocusRecordFormat(benchmark::State& state) { formatOnly(state, focusRecord()); }
void BM_FocusRecordPrint(benchmark::State& state) { printed(state, focusRecord()); }
void BM_OutputsFormat(benchmark::State& state) { formatOnly(state, outputsReply()); }
void BM_OutputsPrint(benchmark::State& state) { printed(state, outputsReply()); }

}  // namespace

BENCHMARK(BM_FocusRecordFormat);
BENCHMARK(BM_FocusRecordPrint);
BENCHMARK(BM_OutputsFormat);
BENCHMARK(BM_OutputsPrint);

int main(int argc, char** argv) {
  // Before anything is written, as in the watcher: one write per line.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
