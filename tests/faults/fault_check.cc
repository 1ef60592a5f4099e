// fault_check: every kernel call that poolctl's commands make is failed in
// turn, and the process is killed before and after each of them, on the
// example definition set and from several starting hosts. Each run is
// compared with what the command model predicts: exit status, output, the
// host's groups; no parameter list may leak and the state must stay sound.
// After a kill the same command runs again, and the driver tells which runs
// reach the state of a run that was never interrupted.
//
//   fault_check [--quick] [--jobs N]
//
// --quick injects only the plain failure status, fails only every fourth
// parameter-list call and kills only before each call, for slow (sanitized)
// builds; --jobs runs N commands at once, each on
// a host of its own (default 2). One line per failing case; the last two
// lines sum up; exit status 0 only when nothing failed.
#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hostsim/state.h"
#include "tests/e2e/harness.h"
#include "tests/faults/command_model.h"
#include "tests/faults/kernel_model.h"
#include "yaml-cpp/yaml.h"

namespace faults {
namespace {

using e2e::RunResult;
using e2e::SimHost;
using Args = std::vector<std::string>;

constexpr int kKilled = 128 + 9;

// A starting host: made from the default one by these poolctl runs, then
// each command runs on it.
struct Scenario {
  const char* name;
  std::vector<Args> setup;
  std::vector<Args> commands;
};

struct Tally {
  uint64_t injected = 0;
  uint64_t failures = 0;
};

// What every worker shares: the definition set, where it lies, and what the
// loader makes of it.
struct Setting {
  bool quick = false;
  std::string definitions;  // the folder that becomes /etc/rp.d
  std::vector<std::string> files;
  bool privateEtc = true;
  Definitions defs;
};

bool Prepare(SimHost& home, Setting* setting);

// What one worker found.
struct Findings {
  std::string lines;  // one per failing case
  Tally faults, crashes;
  std::map<std::string, uint64_t> faultsPerCommand;
  std::map<std::string, std::pair<uint64_t, uint64_t>> convergence;  // converged, not
  std::map<std::string, std::string> firstDivergence;
  uint64_t halfCreated = 0;

  void Merge(const Findings& o) {
    lines += o.lines;
    faults.injected += o.faults.injected;
    faults.failures += o.faults.failures;
    crashes.injected += o.crashes.injected;
    crashes.failures += o.crashes.failures;
    for (const auto& [k, v] : o.faultsPerCommand) faultsPerCommand[k] += v;
    for (const auto& [k, v] : o.convergence) {
      convergence[k].first += v.first;
      convergence[k].second += v.second;
    }
    for (const auto& [k, v] : o.firstDivergence) firstDivergence.emplace(k, v);
    halfCreated += o.halfCreated;
  }
};

// Runs commands on a simulated host of its own, one at a time.
class Driver {
 public:
  explicit Driver(const Setting& setting) : s_(setting) {}

  // Every failure, every crash and the runs without either, for one command
  // on the scenario's starting host.
  Findings RunCommand(const Scenario& scenario, const Args& args);

 private:
  bool StartFrom(const Scenario& scenario);
  void Baseline(const std::string& label, const Args& args);
  void FaultRuns(const std::string& label, const Args& args);
  void CrashRuns(const std::string& label, const Args& args);
  bool FaultRun(const std::string& label, const Args& args, Call call, uint64_t skip,
                uint32_t status);
  void CrashRun(const std::string& label, const Args& args, Call call, uint64_t skip, bool after);

  RunResult Poolctl(const Args& args) {
    bool needsEtc = args[0] == "enable" || args[0] == "disable";
    return needsEtc ? host_.PoolctlWithDefinitions(s_.definitions, args) : host_.Poolctl(args);
  }
  // The host as the hostsim tool shows it, read in this process through
  // the same state library: a tool process per look would double the run
  // time. The connection is closed again before the next restore.
  struct Look {
    Groups groups;
    uint64_t leaks = 0;
    size_t rulesLeft = 0;
    std::vector<std::string> problems;
  };
  Look Inspect() {
    Look look;
    try {
      std::unique_ptr<hostsim::State> state = hostsim::State::Open(host_.db(), true);
      state->Read([&] {
        for (const hostsim::Group& g : state->AllGroups()) {
          look.groups[g.path] = {g.id, {g.mem.min, g.mem.max, g.mem.shares, g.mem.minLimit},
                                 {g.cpu.min, g.cpu.max, g.cpu.shares, g.cpu.minLimit}, g.worlds};
        }
        look.leaks = state->Leaks();
        look.rulesLeft = state->FaultRules().size() + state->CrashRules().size();
        look.problems = state->Problems();
      });
    } catch (const std::exception& e) {
      look.problems.push_back(e.what());
    }
    return look;
  }
  template <typename Fn>
  void Change(Fn change) {
    std::unique_ptr<hostsim::State> state = hostsim::State::Open(host_.db(), true);
    state->Write([&] { change(*state); });
  }
  // Leaks and soundness of a look; its groups against the expected ones.
  void CheckLook(const Look& look, const Groups* expected, bool countsLeaks) {
    if (countsLeaks && look.leaks != 0) {
      problems_.push_back("leaked parameter lists: " + std::to_string(look.leaks));
    }
    for (const std::string& p : look.problems) problems_.push_back("state: " + p);
    if (expected == nullptr) return;
    for (const std::string& d : CompareGroups(look.groups, *expected, maxStartId_)) {
      problems_.push_back(d);
    }
  }
  std::string Sim(const Args& args) {
    RunResult r = host_.Hostsim(args);
    if (r.status != 0) problems_.push_back("hostsim " + args[0] + ": " + r.err);
    return r.out;
  }
  bool ReadGroups(Groups* groups) {
    std::string text = Sim({"groups"});
    if (ParseGroups(text, groups)) return true;
    problems_.push_back("hostsim groups unreadable");
    return false;
  }
  // Leaks and the state's soundness, after every run.
  void CheckHost(bool countsLeaks) {
    if (countsLeaks) {
      std::string leaks = Sim({"leaks"});
      if (leaks != "0\n") problems_.push_back("leaked parameter lists: " + leaks);
    }
    std::string check = Sim({"check"});
    if (check != "ok\n") problems_.push_back("hostsim check: " + check);
  }
  void Expect(const std::string& what, const std::string& actual, const std::string& expected) {
    if (actual != expected) {
      problems_.push_back(what + " \"" + Escaped(actual) + "\", expected \"" + Escaped(expected) +
                          "\"");
    }
  }
  void CompareOutcome(const RunResult& r, const Outcome& want) {
    Expect("exit status", std::to_string(r.status), std::to_string(want.status));
    Expect("stdout", r.out, want.out);
    Expect("stderr", r.err, want.err);
  }
  void CompareHost(const Groups& want) {
    Groups actual;
    if (!ReadGroups(&actual)) return;
    for (const std::string& d : CompareGroups(actual, want, maxStartId_)) problems_.push_back(d);
  }
  // Reports the problems gathered for one case; true when there were none.
  bool Report(const std::string& label, const std::string& what, Tally* tally) {
    if (problems_.empty()) return true;
    ++tally->failures;
    std::string line = "FAIL " + label + ": " + what + ":";
    for (size_t i = 0; i < problems_.size() && i < 4; ++i) line += " [" + problems_[i] + "]";
    if (problems_.size() > 4) line += " [and " + std::to_string(problems_.size() - 4) + " more]";
    found_.lines += line + "\n";
    problems_.clear();
    return false;
  }
  void WhollyThere(const Groups& crashed, const Groups& start, const Groups& end);

  static std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
  }

  const Setting& s_;
  SimHost host_;
  const Scenario* current_ = nullptr;  // whose starting host is saved

  // Of the scenario and command under test.
  std::string scenario_;
  Groups start_;
  uint64_t maxStartId_ = 0;
  Outcome clean_;
  std::map<Call, uint64_t> traced_;

  std::vector<std::string> problems_;
  Findings found_;
};

const Call kAllCalls[] = {Call::kGet,    Call::kSet,       Call::kGetInstanceListAlloc,
                          Call::kCreate, Call::kAddInt,    Call::kAddString,
                          Call::kGetUInt64};

std::string Join(const Args& args) {
  std::string out;
  for (const std::string& a : args) {
    std::string shown = a.substr(a.rfind('/') == std::string::npos || a[0] != '/'
                                     ? 0
                                     : a.rfind('/') + 1);
    out += (out.empty() ? "" : " ") + shown;
  }
  return out;
}

// Statuses that the command treats in a way of its own; any other status
// takes the path of the plain failure.
std::vector<uint32_t> SpecialStatuses(const std::string& command) {
  if (command == "load") return {kExists};
  if (command == "unload" || command == "enable") return {kNotFound};
  if (command == "disable") return {kNotFound, kBusy, kInUse};
  return {};
}

int64_t ListValue(const std::string& text) {
  if (text == "-") return -1;
  if (text == "low") return -2;
  if (text == "normal") return -3;
  if (text == "high") return -4;
  return std::stoll(text);
}

bool Prepare(SimHost& home, Setting* setting) {
  setting->definitions = home.dir() + "/rp.d";
  mkdir(setting->definitions.c_str(), 0755);
  for (const char* name : {"system.yaml", "vms.yaml", "annex.yaml"}) {
    std::string text;
    FILE* f = std::fopen((std::string(SOURCE_DIR) + "/examples/" + name).c_str(), "rb");
    if (f == nullptr) {
      std::printf("cannot read examples/%s\n", name);
      return false;
    }
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    setting->files.push_back(home.WriteFile(std::string("rp.d/") + name, text));
  }
  Args mark = {"mark"};
  mark.insert(mark.end(), setting->files.begin(), setting->files.end());
  if (home.Hostsim(mark).status != 0) return false;

  // The pools as the loader resolves them on the default host; only the
  // annex flag is not listed.
  Args list = {"list", "-v"};
  list.insert(list.end(), setting->files.begin(), setting->files.end());
  RunResult csv = home.Poolctl(list);
  list.erase(list.begin() + 1);
  RunResult table = home.Poolctl(list);
  if (csv.status != 0 || table.status != 0) {
    std::printf("poolctl list fails on the examples: %s\n", (csv.err + table.err).c_str());
    return false;
  }
  setting->defs.listing = table.out;
  setting->defs.listingHeader = table.out.substr(0, table.out.find('\n') + 1);
  std::set<std::string> annexes;
  for (const std::string& file : setting->files) {
    for (const YAML::Node& pool : YAML::LoadFile(file)) {
      std::string name = pool["name"].as<std::string>();
      if (name.compare(0, 5, "host/") != 0) name = "host/opt/" + name;
      if (pool["annex"] && pool["annex"].as<bool>()) annexes.insert(name);
    }
  }
  std::istringstream rows(csv.out);
  std::string line;
  std::getline(rows, line);  // the header
  while (std::getline(rows, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');) f.push_back(v);
    if (f.size() != 9) return false;
    Pool p;
    p.name = f[0];
    p.enabled = f[1] == "yes";
    p.annex = annexes.count(p.name) != 0;
    p.mem = {ListValue(f[2]), ListValue(f[3]), ListValue(f[5]), ListValue(f[4])};
    p.cpu = {ListValue(f[6]), ListValue(f[7]), ListValue(f[8]), -1};
    setting->defs.pools.push_back(p);
  }

  // /etc/rp.d is read in the directory's own order; its first file reads
  // the host facts.
  if (DIR* dir = opendir(setting->definitions.c_str())) {
    while (dirent* e = readdir(dir)) {
      if (e->d_type == DT_REG && e->d_name[0] != '.') {
        setting->defs.firstInstalledFile = std::string("/etc/rp.d/") + e->d_name;
        break;
      }
    }
    closedir(dir);
  }
  setting->privateEtc = home.PoolctlWithDefinitions(setting->definitions, {"list"}).status != e2e::kNoPrivateEtc;
  if (!setting->privateEtc) std::printf("no private /etc here: enable and disable are not run\n");
  return true;
}

void Driver::Baseline(const std::string& label, const Args& args) {
  host_.RestoreState(scenario_);
  Sim({"trace", "on"});
  RunResult r = Poolctl(args);
  clean_ = RunModel(s_.defs, start_, args, Injection());
  CompareOutcome(r, clean_);
  CompareHost(clean_.groups);
  CheckHost(true);
  std::vector<std::string> trace;
  std::istringstream calls(Sim({"calls"}));
  traced_.clear();
  for (std::string line; std::getline(calls, line);) {
    size_t ids = line.find('\t', line.find('\t') + 1);
    trace.push_back(line.substr(0, ids) + line.substr(line.find('\t', ids + 1)));
    std::string name = line.substr(0, line.find('\t'));
    if (name == "KNI_Get") ++traced_[Call::kGet];
    if (name == "KNI_Set") ++traced_[Call::kSet];
    if (name == "KNI_GetInstanceListAlloc") ++traced_[Call::kGetInstanceListAlloc];
  }
  for (size_t i = 0; i < std::max(trace.size(), clean_.trace.size()); ++i) {
    std::string got = i < trace.size() ? trace[i] : "(none)";
    std::string want = i < clean_.trace.size() ? clean_.trace[i] : "(none)";
    if (got != want) {
      problems_.push_back("call " + std::to_string(i + 1) + " is " + got + ", expected " + want);
      break;
    }
  }
  Report(label, "without faults", &found_.faults);
}

bool Driver::FaultRun(const std::string& label, const Args& args, Call call, uint64_t skip,
                      uint32_t status) {
  host_.RestoreState(scenario_);
  Change([&](hostsim::State& state) {
    state.AddFaultRule({CallName(call), std::nullopt, std::nullopt, status, skip, 1});
  });
  RunResult r = Poolctl(args);
  Look look = Inspect();
  bool unused = look.rulesLeft != 0;
  Injection injection{Injection::kFail, call, skip, status};
  Outcome want = RunModel(s_.defs, start_, args, injection);
  std::string what = std::string(CallName(call)) + " #" + std::to_string(skip + 1) + " fails with " +
                     StatusWord(status);
  if (unused != !want.fired) {
    problems_.push_back(unused ? "the command made fewer such calls than expected"
                               : "the command made more such calls than expected");
  }
  if (!unused) {
    ++found_.faults.injected;
    ++found_.faultsPerCommand[args[0]];
    CompareOutcome(r, want);
    CheckLook(look, &want.groups, true);
  }
  Report(label, what, &found_.faults);
  return !unused;
}

void Driver::FaultRuns(const std::string& label, const Args& args) {
  std::vector<uint32_t> statuses = {kFailure};
  if (!s_.quick) {
    for (uint32_t s : SpecialStatuses(args[0])) statuses.push_back(s);
  }
  for (Call call : kAllCalls) {
    // The list-creation rule fails whatever its status.
    size_t kinds = call == Call::kCreate ? 1 : statuses.size();
    for (size_t s = 0; s < kinds; ++s) {
      if (IsTraced(call)) {
        for (uint64_t k = 0; k < traced_[call]; ++k) FaultRun(label, args, call, k, statuses[s]);
      } else {
        // Not traced: step on until the rule is left unused. A quick run
        // takes every fourth of these calls, which repeat the same few
        // paths within each operation.
        uint64_t stride = s_.quick ? 4 : 1;
        for (uint64_t k = 0; k < 1000 && FaultRun(label, args, call, k, statuses[s]); k += stride) {
        }
      }
    }
  }
}

// A group of the definition set after a kill is wholly there when it is
// absent or holds what it held at the start or at the end of a run that was
// never interrupted. A group killed half-way through its creation holds a
// new group's CPU record, and either a new group's memory record or the one
// it was to get: accepted, and counted.
void Driver::WhollyThere(const Groups& crashed, const Groups& start, const Groups& end) {
  for (const Pool& pool : s_.defs.pools) {
    auto g = crashed.find(pool.name);
    if (g == crashed.end()) continue;
    auto same = [&](const Groups& groups) {
      auto other = groups.find(pool.name);
      return other != groups.end() && other->second.mem == g->second.mem &&
             other->second.cpu == g->second.cpu;
    };
    if (same(start) || same(end)) continue;
    auto s = start.find(pool.name);
    bool created = s == start.end() || s->second.id != g->second.id;
    if (created && g->second.cpu == kNewCpu &&
        (g->second.mem == kNewMem || g->second.mem == pool.mem)) {
      ++found_.halfCreated;
      continue;
    }
    problems_.push_back("group " + pool.name + " is not wholly there");
  }
}

void Driver::CrashRun(const std::string& label, const Args& args, Call call, uint64_t skip,
                      bool after) {
  host_.RestoreState(scenario_);
  Change([&](hostsim::State& state) {
    state.AddCrashRule({CallName(call), std::nullopt, std::nullopt, skip, after});
  });
  RunResult r = Poolctl(args);
  Injection injection{after ? Injection::kCrashAfter : Injection::kCrashBefore, call, skip, 0};
  Outcome want = RunModel(s_.defs, start_, args, injection);
  ++found_.crashes.injected;
  Expect("exit status", std::to_string(r.status), std::to_string(kKilled));
  // What a user finds after the kill, through the tool itself.
  CheckHost(false);
  Groups crashed;
  if (ReadGroups(&crashed)) {
    for (const std::string& d : CompareGroups(crashed, want.groups, maxStartId_)) {
      problems_.push_back("after the kill: " + d);
    }
    WhollyThere(crashed, start_, clean_.groups);
  }
  if (Inspect().rulesLeft != 0) problems_.push_back("the crash rule is still there");
  // Once more, undisturbed.
  RunResult again = Poolctl(args);
  Outcome rerun = RunModel(s_.defs, want.groups, args, Injection());
  CompareOutcome(again, rerun);
  CheckLook(Inspect(), &rerun.groups, true);
  bool converges = WithoutIds(rerun.groups) == WithoutIds(clean_.groups);
  auto& tally = found_.convergence[Join(args)];
  (converges ? tally.first : tally.second)++;
  std::string what = std::string("killed ") + (after ? "after " : "before ") + CallName(call) +
                     " #" + std::to_string(skip + 1);
  if (!converges) found_.firstDivergence.emplace(Join(args), scenario_ + ", " + what);
  Report(label, what, &found_.crashes);
}

void Driver::CrashRuns(const std::string& label, const Args& args) {
  for (Call call : {Call::kGet, Call::kSet, Call::kGetInstanceListAlloc}) {
    for (uint64_t k = 0; k < traced_[call]; ++k) {
      CrashRun(label, args, call, k, false);
      if (!s_.quick) CrashRun(label, args, call, k, true);
    }
  }
}

// Makes the scenario's starting host and saves it, unless it is saved
// already.
bool Driver::StartFrom(const Scenario& scenario) {
  if (current_ == &scenario) return true;
  current_ = nullptr;
  scenario_ = scenario.name;
  Sim({"init"});
  for (const Args& args : scenario.setup) {
    RunResult r = Poolctl(args);
    if (r.status != 0) {
      problems_.push_back("set-up poolctl " + Join(args) + ": " + r.err);
      return false;
    }
  }
  Sim({"leaks", "--clear"});
  if (!ReadGroups(&start_)) return false;
  maxStartId_ = MaxId(start_);
  host_.SaveState(scenario_);
  current_ = &scenario;
  return true;
}

Findings Driver::RunCommand(const Scenario& scenario, const Args& args) {
  found_ = Findings();
  std::string label = std::string(scenario.name) + ": poolctl " + Join(args);
  if (StartFrom(scenario)) {
    Baseline(label, args);
    FaultRuns(label, args);
    CrashRuns(label, args);
  }
  Report(label, "starting host", &found_.faults);
  return found_;
}

int Main(bool quick, unsigned jobs) {
  auto began = std::chrono::steady_clock::now();
  SimHost home;
  Setting setting;
  setting.quick = quick;
  if (!Prepare(home, &setting)) return 2;
  const Args& files = setting.files;
  auto with = [&](Args args) {
    args.insert(args.end(), files.begin(), files.end());
    return args;
  };
  // Each starting host a real one meets: a fresh host, the definitions
  // loaded, an annex pool in service, and pools disabled with -n.
  const Scenario scenarios[] = {
      {"fresh host",
       {},
       {with({"list"}), with({"load"}), with({"unload"}),
        {"enable", "host/opt/vms", "host/opt/vms/gold"},
        {"disable", "host/opt/vms/bronze"}}},
      {"after load",
       {with({"load"})},
       {with({"load"}), with({"unload"}),
        {"enable", "host/opt/vms/staging", "host/opt/vms/burst"},
        {"disable", "-n", "host/opt/vms/gold", "host/opt/vms/bronze"},
        {"disable", "-w", "5", "host/opt/vms/bronze", "host/system/logging"},
        {"-g", "host/opt/vms", "-e"},
        {"-g", "host/opt/vms/gold", "-i", "-m", "4096"},
        {"-g", "host/system/logging", "-w", "1", "-m", "128"}}},
      {"annex enabled",
       {with({"load"}), {"enable", "host/opt/vms/burst"}},
       {with({"unload"}),
        {"disable", "host/opt/vms/burst", "host/opt/vms/bronze"},
        {"disable", "-n", "-w", "5", "host/opt/vms/burst"},
        {"enable", "host/opt/vms/burst"}}},
      {"disabled with -n",
       {with({"load"}), {"enable", "host/opt/vms/burst"},
        {"disable", "-n", "host/opt/vms", "host/opt/vms/gold"}},
       {{"enable", "host/opt/vms", "host/opt/vms/gold"}, with({"load", "-q"}),
        with({"unload"})}},
  };
  struct Item {
    const Scenario* scenario;
    const Args* args;
  };
  std::vector<Item> items;
  for (const Scenario& s : scenarios) {
    for (const Args& args : s.commands) {
      bool needsEtc = args[0] == "enable" || args[0] == "disable";
      if (!needsEtc || setting.privateEtc) items.push_back({&s, &args});
    }
  }
  // Workers take the next command; its findings keep their place.
  std::vector<Findings> findings(items.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs; ++j) {
    workers.emplace_back([&] {
      Driver driver(setting);
      for (size_t i; (i = next++) < items.size();) {
        findings[i] = driver.RunCommand(*items[i].scenario, *items[i].args);
      }
    });
  }
  for (std::thread& w : workers) w.join();
  Findings all;
  for (const Findings& f : findings) all.Merge(f);

  std::printf("%s", all.lines.c_str());
  for (const auto& [command, count] : all.faultsPerCommand) {
    std::printf("faults injected into %s: %llu\n", command.c_str(),
                static_cast<unsigned long long>(count));
  }
  for (const auto& [command, tally] : all.convergence) {
    std::printf("after a kill, poolctl %s converges %llu, does not %llu%s%s\n", command.c_str(),
                static_cast<unsigned long long>(tally.first),
                static_cast<unsigned long long>(tally.second), tally.second ? "; first: " : "",
                tally.second ? all.firstDivergence[command].c_str() : "");
  }
  std::printf("groups killed half-way through their creation: %llu\n",
              static_cast<unsigned long long>(all.halfCreated));
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("run time %.1f s\n", seconds);
  std::printf("RELIABILITY faults %llu failures %llu\n",
              static_cast<unsigned long long>(all.faults.injected),
              static_cast<unsigned long long>(all.faults.failures));
  std::printf("RELIABILITY crashes %llu failures %llu\n",
              static_cast<unsigned long long>(all.crashes.injected),
              static_cast<unsigned long long>(all.crashes.failures));
  return all.faults.failures == 0 && all.crashes.failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace faults

int main(int argc, char** argv) {
  bool quick = false;
  unsigned jobs = 2;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      jobs = static_cast<unsigned>(std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: fault_check [--quick] [--jobs N]\n");
      return 2;
    }
  }
  return faults::Main(quick, jobs);
}
