// Times the scheduler group operations on the simulated host against the
// cost that bounds them: one bare SQLite write transaction with the same
// settings, measured in the same run. Usage: sched_bench [count]
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/hostsim/hostsim_testing.h"
#include "sched/sched.h"

namespace {

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

// The floor under every simulated kernel call that writes.
double BareTransactions(const std::string& path, int count) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::exit(1);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
           "CREATE TABLE t(id INTEGER PRIMARY KEY, v INTEGER); INSERT INTO t VALUES(1, 0);");
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
  sqlite3_prepare_v2(db, "UPDATE t SET v = v + 1 WHERE id = 1", -1, &update, nullptr);
  sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
  double s = Seconds([&] {
    for (int i = 0; i < count; ++i) {
      for (sqlite3_stmt* st : {begin, update, commit}) {
        sqlite3_step(st);
        sqlite3_reset(st);
      }
    }
  });
  for (sqlite3_stmt* st : {begin, update, commit}) sqlite3_finalize(st);
  sqlite3_close(db);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  char dir[] = "/tmp/sched-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  std::string base = dir;
  hostsim::UseStateFile(base + "/host.db");

  const Sched::MemAllocation mem = {512, 1024, -1, -1, 0};
  const Sched::CpuAllocation cpu = {0, -1, 1000, -1, 0};

  double bare = BareTransactions(base + "/bare.db", count);
  double create = Seconds([&] {
    for (int i = 0; i < count; ++i) Sched::CreateGroup("host/opt/g" + std::to_string(i), mem, cpu);
  });
  double lookup = Seconds([&] {
    for (int i = 0; i < count; ++i) Sched::GroupPathToId("host/opt/g" + std::to_string(i));
  });
  double remove = Seconds([&] {
    for (int i = 0; i < count; ++i) {
      Sched::DeleteGroup(Sched::GroupPathToId("host/opt/g" + std::to_string(i)));
    }
  });

  std::printf("%d operations each on the simulated host\n", count);
  std::printf("%-32s %10s %10s %14s\n", "operation", "total s", "us/op", "x bare write");
  auto row = [&](const char* what, double s) {
    std::printf("%-32s %10.3f %10.2f %14.2f\n", what, s, s * 1e6 / count, s / bare);
  };
  row("bare SQLite write transaction", bare);
  row("CreateGroup (4 kernel calls)", create);
  row("GroupPathToId (1 kernel call)", lookup);
  row("GroupPathToId + DeleteGroup (2)", remove);

  for (const char* f : {"/host.db", "/host.db-wal", "/host.db-shm", "/bare.db", "/bare.db-wal",
                        "/bare.db-shm"}) {
    unlink((base + f).c_str());
  }
  rmdir(dir);
  return 0;
}
