// The group tree: one row per group, its path stored whole beside its parent
// and name, so that a lookup by path is one indexed read.
#include <map>
#include <set>

#include "platform/hostsim/sql.h"
#include "platform/hostsim/text.h"

namespace hostsim {
namespace {

// Every query of whole groups selects `*`: the columns in the table's order.
Group ReadGroup(Stmt& q) {
  return {q.UInt(0),  q.IsNull(1) ? std::nullopt : std::optional<uint64_t>(q.UInt(1)),
          q.Text(2),  q.Text(3),
          {q.Int(4), q.Int(5), q.Int(6), q.Int(7)},  {q.Int(8), q.Int(9), q.Int(10), q.Int(11)},
          q.UInt(12), q.UInt(13), q.UInt(14)};
}

// Setting a record keeps its maximum at or above its minimum, but raising a
// memory minimum (an annex reservation, also in a parent disabled to 0,0)
// moves the maximum only by its own amount: a memory maximum may then lie
// below the minimum.
bool ValidRecord(const Allocation& a, int64_t lo, int64_t hi, bool maxBelowMin) {
  for (int64_t v : {a.min, a.max, a.shares, a.minLimit}) {
    if (v < lo || v > hi) return false;
  }
  return a.min >= 0 && (a.max == -1 || a.max >= (maxBelowMin ? 0 : a.min));
}

std::string RecordText(const Allocation& a) {
  return std::to_string(a.min) + "," + std::to_string(a.max) + "," + std::to_string(a.shares) +
         "," + std::to_string(a.minLimit);
}

}  // namespace

std::optional<Group> Groups::Find(uint64_t id) {
  Stmt q(state_, "SELECT * FROM groups WHERE id = ?1", id);
  if (!q.Step()) return std::nullopt;
  return ReadGroup(q);
}

std::optional<Group> Groups::Find(const std::string& path) {
  Stmt q(state_, "SELECT * FROM groups WHERE path = ?1", path);
  if (!q.Step()) return std::nullopt;
  return ReadGroup(q);
}

std::vector<uint64_t> Groups::ChildIds(uint64_t id) {
  Stmt q(state_, "SELECT id FROM groups WHERE parent = ?1 ORDER BY id", id);
  std::vector<uint64_t> ids;
  while (q.Step()) ids.push_back(q.UInt(0));
  return ids;
}

std::vector<Group> Groups::All() {
  Stmt q(state_, "SELECT * FROM groups ORDER BY path");
  std::vector<Group> groups;
  while (q.Step()) groups.push_back(ReadGroup(q));
  return groups;
}

uint64_t Groups::Add(const Group& parent, const std::string& name, const Allocation& mem,
                     const Allocation& cpu) {
  const uint64_t id = Stmt(state_, "SELECT next_group_id FROM host").HostRow().UInt(0);
  Stmt(state_,
       "INSERT INTO groups VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 0, 0, 0)",
       id, parent.id, name, ChildPath(parent.path, name), mem, cpu)
      .Run();
  Stmt(state_, "UPDATE host SET next_group_id = ?1", id + 1).Run();
  return id;
}

void Groups::DeleteSubtree(const Group& group) {
  Stmt(state_,
       "WITH RECURSIVE below(id) AS (SELECT ?1 UNION ALL"
       " SELECT g.id FROM groups g JOIN below b ON g.parent = b.id)"
       " DELETE FROM groups WHERE id IN below",
       group.id)
      .Run();
}

void Groups::Update(const Group& g) {
  Stmt(state_,
       "UPDATE groups SET mem_min = ?2, mem_max = ?3, mem_shares = ?4, mem_min_limit = ?5,"
       " cpu_min = ?6, cpu_max = ?7, cpu_shares = ?8, cpu_min_limit = ?9, worlds = ?10,"
       " rminpeak_kb = ?11, rminchildpeak_kb = ?12 WHERE id = ?1",
       g.id, g.mem, g.cpu, g.worlds, g.rminpeakKB, g.rminchildpeakKB)
      .Run();
}

void Groups::AddProblems(std::vector<std::string>* problems) {
  auto problem = [&](const Group& g, const std::string& what) {
    problems->push_back("group " + std::to_string(g.id) + " (" + Printable(g.path) + "): " + what);
  };
  {
    // Every column of both records must hold an integer: a record read as
    // zeros because a field is NULL or text would pass the checks below.
    Stmt q(state_,
           "SELECT id FROM groups WHERE typeof(mem_min) || typeof(mem_max) || typeof(mem_shares)"
           " || typeof(mem_min_limit) || typeof(cpu_min) || typeof(cpu_max) || typeof(cpu_shares)"
           " || typeof(cpu_min_limit) != 'integerintegerintegerintegerintegerintegerinteger"
           "integer' ORDER BY id");
    while (q.Step()) {
      problems->push_back("group " + std::to_string(q.UInt(0)) + ": allocation record missing");
    }
  }
  Stmt next(state_, "SELECT next_group_id FROM host");
  if (!next.Step()) {
    problems->push_back("no host record");
    return;
  }
  const uint64_t nextId = next.UInt(0);
  std::map<uint64_t, Group> byId;
  std::set<std::pair<uint64_t, std::string>> names;
  int roots = 0;
  for (Group& g : All()) {
    if (!byId.emplace(g.id, g).second) problem(g, "id used twice");
    if (g.id >= nextId) problem(g, "id not below the next id " + std::to_string(nextId));
  }
  for (const auto& [id, g] : byId) {
    if (!ValidRecord(g.mem, INT64_MIN, INT64_MAX, true)) {
      problem(g, "invalid memory record " + RecordText(g.mem));
    }
    if (!ValidRecord(g.cpu, INT32_MIN, INT32_MAX, false)) {
      problem(g, "invalid cpu record " + RecordText(g.cpu));
    }
    if (!g.parent) {
      ++roots;
      if (!g.path.empty() || !g.name.empty()) problem(g, "has no parent");
      continue;
    }
    if (g.name.empty() || g.name.find('/') != std::string::npos) {
      problem(g, "invalid name \"" + Printable(g.name) + "\"");
    }
    if (!names.emplace(*g.parent, g.name).second) {
      problem(g, "name taken twice below group " + std::to_string(*g.parent));
    }
    auto parent = byId.find(*g.parent);
    if (parent == byId.end()) {
      problem(g, "parent " + std::to_string(*g.parent) + " does not exist");
      continue;
    }
    if (g.path != ChildPath(parent->second.path, g.name)) {
      problem(g, "path does not match its parent's and its name");
    }
    // A chain longer than the number of groups must come round again.
    uint64_t at = id;
    size_t steps = 0;
    for (; steps <= byId.size(); ++steps) {
      auto up = byId.find(at);
      if (up == byId.end() || !up->second.parent) break;
      at = *up->second.parent;
    }
    if (steps > byId.size()) problem(g, "its parents form a cycle");
  }
  if (roots != 1) problems->push_back(std::to_string(roots) + " root groups");
}

}  // namespace hostsim
