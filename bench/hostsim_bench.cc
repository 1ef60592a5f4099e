// The cost of one simulated kernel call on a warm connection, against the
// floor under it: one bare SQLite write transaction with the same settings,
// measured in the same run. Lists are built once, outside the timed loops.
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "benchmark/benchmark.h"
#include "kni.h"
#include "platform/hostsim/hostsim_testing.h"

namespace {

std::string g_dir;

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

void BM_BareWriteTransaction(benchmark::State& state) {
  sqlite3* db = nullptr;
  if (sqlite3_open((g_dir + "/bare.db").c_str(), &db) != SQLITE_OK) std::exit(1);
  Exec(db,
       "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
       "CREATE TABLE IF NOT EXISTS t(id INTEGER PRIMARY KEY, v INTEGER);"
       "INSERT OR REPLACE INTO t VALUES(1, 0);");
  sqlite3_stmt* steps[3];
  const char* sql[] = {"BEGIN IMMEDIATE", "UPDATE t SET v = v + 1 WHERE id = 1", "COMMIT"};
  for (int i = 0; i < 3; ++i) sqlite3_prepare_v2(db, sql[i], -1, &steps[i], nullptr);
  for (auto _ : state) {
    for (sqlite3_stmt* st : steps) {
      sqlite3_step(st);
      sqlite3_reset(st);
    }
  }
  for (sqlite3_stmt* st : steps) sqlite3_finalize(st);
  sqlite3_close(db);
}

KNI_ParamList* Instance(uint64_t id) {
  KNI_ParamList* list = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
  KNI_ParamListAddInt(list, id);
  return list;
}

KNI_ParamList* Input(const char* text) {
  KNI_ParamList* list = KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, 1);
  KNI_ParamListAddString(list, text);
  return list;
}

// Alternates between two values, so that every call really writes.
void BM_KniSetMemAllocation(benchmark::State& state) {
  KNI_ParamList* group = Instance(3);
  KNI_ParamList* inputs[2] = {Input("min=1"), Input("min=2")};
  size_t i = 0;
  for (auto _ : state) {
    if (KNI_Set(KNI_NODE_sched_groups_memAllocationInMB, group, inputs[i++ & 1], nullptr, 0) !=
        ZRV_OK) {
      state.SkipWithError("KNI_Set failed");
    }
  }
  for (KNI_ParamList* list : {group, inputs[0], inputs[1]}) KNI_ParamListDestroy(list);
}

void BM_KniGetMemAllocation(benchmark::State& state) {
  KNI_ParamList* group = Instance(3);
  unsigned char record[KNI_MEM_ALLOCATION_SIZE];
  for (auto _ : state) {
    if (KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, group, record, sizeof record) != ZRV_OK) {
      state.SkipWithError("KNI_Get failed");
    }
    benchmark::DoNotOptimize(record);
  }
  KNI_ParamListDestroy(group);
}

// A list call consults the fault rules in the state file too.
void BM_KniParamListAddInt(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    KNI_ParamList* list = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
    state.ResumeTiming();
    KNI_ParamListAddInt(list, 3);
    state.PauseTiming();
    KNI_ParamListDestroy(list);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_BareWriteTransaction);
BENCHMARK(BM_KniSetMemAllocation);
BENCHMARK(BM_KniGetMemAllocation);
BENCHMARK(BM_KniParamListAddInt);

// Keeps each benchmark's time per iteration for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        nanos_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
  }
  const std::map<std::string, double>& nanos() const { return nanos_; }

 private:
  std::map<std::string, double> nanos_;
};

}  // namespace

int main(int argc, char** argv) {
  char dir[] = "/tmp/hostsim-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  g_dir = dir;
  hostsim::UseStateFile(g_dir + "/host.db");
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& nanos = reporter.nanos();
  auto bare = nanos.find("BM_BareWriteTransaction");
  if (bare != nanos.end()) {
    for (const auto& [name, ns] : nanos) {
      if (name == bare->first) continue;
      std::printf("%-28s %8.2f us = %5.2f x one bare write transaction (%.2f us)\n", name.c_str(),
                  ns / 1000, ns / bare->second, bare->second / 1000);
    }
  }
  std::filesystem::remove_all(g_dir);
  return 0;
}
