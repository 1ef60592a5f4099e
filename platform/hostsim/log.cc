// The trace of calls, and the count of parameter lists that processes left
// undestroyed; the tracing switch and the count live in the host's one row.
#include "platform/hostsim/sql.h"

namespace hostsim {

void Log::SetTracing(bool on) { Stmt(state_, "UPDATE host SET tracing = ?1", on).Run(); }

void Log::Record(const TraceEntry& e) {
  Stmt tracing(state_, "SELECT tracing FROM host");
  if (!tracing.Step() || tracing.Int(0) == 0) return;
  Stmt(state_, "INSERT INTO trace (call, node, ids, inputs, result) VALUES (?1, ?2, ?3, ?4, ?5)",
       e.call, e.node, e.ids, e.inputs, e.result)
      .Run();
}

std::vector<TraceEntry> Log::Entries() {
  Stmt q(state_, "SELECT call, node, ids, inputs, result FROM trace ORDER BY seq");
  std::vector<TraceEntry> entries;
  while (q.Step()) entries.push_back({q.Text(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4)});
  return entries;
}

void Log::Clear() { Stmt(state_, "DELETE FROM trace").Run(); }

uint64_t Log::Leaks() {
  Stmt q(state_, "SELECT leaks FROM host");
  return q.Step() ? q.UInt(0) : 0;
}

void Log::AddLeaks(uint64_t count) {
  Stmt(state_, "UPDATE host SET leaks = leaks + ?1", count).Run();
}

void Log::ClearLeaks() { Stmt(state_, "UPDATE host SET leaks = 0").Run(); }

}  // namespace hostsim
