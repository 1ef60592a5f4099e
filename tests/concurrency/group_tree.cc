#include "tests/concurrency/group_tree.h"

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "tests/e2e/harness.h"

namespace concurrency {
namespace {

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

int64_t Number(const std::string& text, const std::string& line) {
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') throw std::runtime_error("not a number in: " + line);
  return value;
}

// The list command shows unset values as "-" and the kernel's share levels
// by name.
int64_t ListedValue(const std::string& text, const std::string& line) {
  static const std::map<std::string, int64_t> kNamed = {
      {"-", -1}, {"low", -2}, {"normal", -3}, {"high", -4}};
  auto named = kNamed.find(text);
  return named != kNamed.end() ? named->second : Number(text, line);
}

bool operator==(const Allocation& a, const Allocation& b) {
  return a.min == b.min && a.max == b.max && a.shares == b.shares && a.minLimit == b.minLimit;
}

std::string Text(const Allocation& a) {
  return std::to_string(a.min) + "," + std::to_string(a.max) + "," + std::to_string(a.shares) +
         "," + std::to_string(a.minLimit);
}

// What a group created from a definition holds: shares that the definition
// leaves unset are not sent, so the group keeps the kernel's default.
Allocation Created(Allocation declared, int64_t defaultShares) {
  if (declared.shares == -1) declared.shares = defaultShares;
  return declared;
}

const Allocation kDefaultMem = {0, -1, -1, -1};
const Allocation kZeroMem = {0, 0, 0, 0};

// Unset memory shares are not sent when a group's memory is restored, so a
// group that disable -n zeroed keeps shares 0 after enable.
bool SameMemory(const Allocation& group, const Allocation& declared) {
  Allocation expected = declared;
  if (declared.shares == -1 && group.shares == kZeroMem.shares) expected.shares = group.shares;
  return group == expected;
}
const Allocation kDefaultCpu = {0, -1, 1000, -1};

std::string ParentPath(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Shown(const std::string& path) { return path.empty() ? std::string("the root") : path; }

// The memory record of the annex parent, which disable -n may have zeroed
// and whose minimum carries the annex group's maximum while that exists.
// A zeroed parent gains the reservation when the annex group is enabled and
// loses it when it is disabled, so while zeroed it holds either nothing or
// exactly that reservation; a parent in service holds its declared minimum
// plus the reservation.
std::string CheckAnnexParent(const Group& parent, const Definition& declared,
                             const Definition& annex, bool annexExists) {
  Allocation cpu = Created(declared.cpu, kDefaultCpu.shares);
  if (!(parent.cpu == cpu)) {
    return parent.path + ": cpu " + Text(parent.cpu) + ", expected " + Text(cpu);
  }
  Allocation expected = Created(declared.mem, kDefaultMem.shares);
  int64_t reserved = annexExists ? annex.mem.max : 0;
  const Allocation& mem = parent.mem;
  if (mem.max == 0 && mem.shares == 0 && mem.minLimit == 0) {
    if (mem.min == 0 || mem.min == reserved) return "";
    return parent.path + ": disabled with memory minimum " + std::to_string(mem.min) +
           ", expected 0" + (annexExists ? " or " + std::to_string(reserved) : "");
  }
  expected.min += reserved;
  if (SameMemory(mem, expected)) return "";
  return parent.path + ": memory " + Text(mem) + ", expected " + Text(expected) + " (annex " +
         annex.name + (annexExists ? " exists)" : " missing)");
}

// A group as its definition created it, or zeroed by disable -n, which an
// annex group never is.
std::string CheckDefined(const Group& group, const Definition& declared, bool isAnnex) {
  Allocation mem = Created(declared.mem, kDefaultMem.shares);
  Allocation cpu = Created(declared.cpu, kDefaultCpu.shares);
  if (!(group.cpu == cpu)) {
    return group.path + ": cpu " + Text(group.cpu) + ", expected " + Text(cpu);
  }
  if (SameMemory(group.mem, mem) || (!isAnnex && group.mem == kZeroMem)) return "";
  return group.path + ": memory " + Text(group.mem) + ", expected " + Text(mem) +
         (isAnnex ? "" : " or " + Text(kZeroMem));
}

// The groups of a fresh host, which no command changes.
std::string CheckBuiltIn(const Group& group) {
  static const std::set<std::string> kBuiltIn = {"", "host", "host/opt", "host/system",
                                                 "host/user"};
  if (kBuiltIn.count(group.path) == 0) return group.path + ": group without definition";
  if (group.mem == kDefaultMem && group.cpu == kDefaultCpu) return "";
  return Shown(group.path) + ": changed to memory " + Text(group.mem) + ", cpu " + Text(group.cpu);
}

}  // namespace

std::vector<Group> ParseGroups(const std::string& text) {
  std::vector<Group> groups;
  for (const e2e::GroupLine& l : e2e::ParseGroupLines(text)) {
    groups.push_back({l.path, l.id, {l.mem[0], l.mem[1], l.mem[2], l.mem[3]},
                      {l.cpu[0], l.cpu[1], l.cpu[2], l.cpu[3]}, l.worlds});
  }
  return groups;
}

std::vector<Definition> ParseDefinitions(const std::string& csv) {
  std::vector<Definition> definitions;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, ',');
    if (f.size() != 9) throw std::runtime_error("not a definition line: " + line);
    Definition d;
    d.name = f[0];
    d.enabled = f[1] == "yes";
    d.mem = {ListedValue(f[2], line), ListedValue(f[3], line), ListedValue(f[5], line),
             ListedValue(f[4], line)};
    d.cpu = {ListedValue(f[6], line), ListedValue(f[7], line), ListedValue(f[8], line), -1};
    definitions.push_back(d);
  }
  return definitions;
}

std::vector<std::string> CheckTree(const std::vector<Group>& groups,
                                   const std::vector<Definition>& definitions,
                                   const std::string& annex) {
  std::vector<std::string> failures;
  std::map<std::string, const Group*> byPath;
  std::set<uint64_t> ids;
  for (const Group& g : groups) {
    if (!byPath.emplace(g.path, &g).second) failures.push_back(Shown(g.path) + ": listed twice");
    if (!ids.insert(g.id).second) {
      failures.push_back(Shown(g.path) + ": id " + std::to_string(g.id) + " taken twice");
    }
  }
  std::map<std::string, const Definition*> declared;
  for (const Definition& d : definitions) declared.emplace(d.name, &d);
  const std::string annexParent = ParentPath(annex);
  bool annexExists = byPath.count(annex) != 0;

  for (const Group& g : groups) {
    if (!g.path.empty() && byPath.count(ParentPath(g.path)) == 0) {
      failures.push_back(g.path + ": parent " + Shown(ParentPath(g.path)) + " missing");
    }
    auto d = declared.find(g.path);
    std::string failure;
    if (d == declared.end()) {
      failure = CheckBuiltIn(g);
    } else if (g.path == annexParent && declared.count(annex) != 0) {
      failure = CheckAnnexParent(g, *d->second, *declared[annex], annexExists);
    } else {
      failure = CheckDefined(g, *d->second, g.path == annex);
    }
    if (!failure.empty()) failures.push_back(failure);
  }
  return failures;
}

}  // namespace concurrency
