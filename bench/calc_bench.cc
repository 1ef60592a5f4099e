// Times Calc::Evaluate on typical definition expressions against a parser
// that compiles expressions to bytecode (muParser), measured in the same run:
// each iteration sets one expression and evaluates it once, as a definition
// file does with each value. Prints the ratio ours / muParser of the CPU time
// per expression (CPU rather than wall time, as the machine may be shared);
// the aim is at most 0.05.
// Usage: calc_bench [Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <muParser.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "calc/calc.h"

namespace {

struct Case {
  const char* name;
  const char* calc;
  // The same computation in muParser's spelling; only the conditional
  // differs, since muParser writes it as "c ? a : b".
  const char* muparser;
};

const Case kCases[] = {
    {"memory", "physKB / 1024 / 4", "physKB / 1024 / 4"},
    {"cpus", "numPCPUs / 2", "numPCPUs / 2"},
    {"min", "min(physKB / 1024 / 8, 4096)", "min(physKB / 1024 / 8, 4096)"},
    {"max", "max(numPCPUs * 2, maxVMs / 64)", "max(numPCPUs * 2, maxVMs / 64)"},
    {"conditional", "512 if isInstaller else physKB / 2048", "isInstaller ? 512 : physKB / 2048"},
};

// Host facts of a mid-sized host.
const Calc::Variables kFacts = {
    {"numPCPUs", 64},           {"maxVMs", 1024}, {"isInstaller", 0}, {"isVm", 0},
    {"physKB", 268435456.0},    {"zrvdefs.obx86_debug", 0}, {"zrvdefs.GCOV_ZORVEK", 0},
};

// muParser reads its variables through pointers, so they live here.
struct MuParser {
  MuParser() {
    for (const auto& fact : kFacts) {
      // Dotted names are not muParser names; no case uses them.
      if (fact.first.find('.') != std::string::npos) continue;
      values[fact.first] = fact.second;
      parser.DefineVar(fact.first, &values[fact.first]);
    }
  }
  std::map<std::string, double> values;
  mu::Parser parser;
};

void BM_Calc(benchmark::State& state, const Case& c) {
  const std::string expression = c.calc;
  for (auto _ : state) benchmark::DoNotOptimize(Calc::Evaluate(expression, kFacts));
}

void BM_MuParser(benchmark::State& state, const Case& c) {
  MuParser mu;
  const std::string expression = c.muparser;
  for (auto _ : state) {
    mu.parser.SetExpr(expression);
    benchmark::DoNotOptimize(mu.parser.Eval());
  }
}

// The two must agree before their times are compared.
bool SameResults() {
  MuParser mu;
  bool same = true;
  for (const Case& c : kCases) {
    mu.parser.SetExpr(c.muparser);
    double theirs = mu.parser.Eval();
    double ours = Calc::Evaluate(c.calc, kFacts);
    if (ours != theirs) {
      std::fprintf(stderr, "%s: calc gives %g, muParser %g\n", c.name, ours, theirs);
      same = false;
    }
  }
  return same;
}

// Keeps the CPU time per iteration of every run while printing as usual.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) nanoseconds[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanoseconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!SameResults()) return 1;
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark((std::string("calc/") + c.name).c_str(), BM_Calc, c);
    benchmark::RegisterBenchmark((std::string("muparser/") + c.name).c_str(), BM_MuParser, c);
  }
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nCPU time per expression set and evaluated once (aim: calc/muParser <= 0.05)\n");
  std::printf("%-12s %-40s %10s %12s %14s\n", "case", "expression", "calc ns", "muParser ns",
              "calc/muParser");
  for (const Case& c : kCases) {
    auto ours = reporter.nanoseconds.find(std::string("calc/") + c.name);
    auto theirs = reporter.nanoseconds.find(std::string("muparser/") + c.name);
    if (ours == reporter.nanoseconds.end() || theirs == reporter.nanoseconds.end()) continue;
    std::printf("%-12s %-40s %10.1f %12.1f %14.4f\n", c.name, c.calc, ours->second,
                theirs->second, ours->second / theirs->second);
  }
  return 0;
}
