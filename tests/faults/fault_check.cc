// fault_check [--quick N]: every kernel call of poolctl's commands and of poolsync fails in turn, then
// the process is killed before and after each (quick: fewer commands, every Nth call of a kind); after
// each kill, load and poolsync must leave every pool as declared or out of service.
// fault_check --concurrent [--rounds N]: several poolctl processes at once on one host.
// Neither knows what a command should do: a run must end with a status and report its command
// specifies, leak no list and leave a sound state. One line a failure, then "RELIABILITY ...".
#include <regex.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "kni.h"
#include "platform/hostsim/state.h"
#include "tests/harness/harness.h"

namespace {

using Args = std::vector<std::string>;
using Groups = std::map<std::string, std::string>;  // "memory cpu worlds" by path, ids aside

constexpr char kAnnex[] = "host/opt/vms/burst", kParent[] = "host/opt/vms", kGold[] = "host/opt/vms/gold",
               kBronze[] = "host/opt/vms/bronze", kStaging[] = "host/opt/vms/staging", kLogging[] = "host/system/logging";

// Set before any run: the folder rpd of example definitions (/etc/rp.d to enable and disable), their
// paths (given to list, load and unload), the annex's memory maximum, its parent's declared minimum.
std::string rpd;
Args files;
int64_t annexMax = 0, parentMin = 0;

// A scheduler error as the commands pass it on: the call or the group, then the status's text.
const std::string kError = "(KNI_[[:alnum:]]+|Initialize [^ ]+): [^:]+";
const std::string kSkip = "[^ ]+ exists; skipping\\.";
const std::string kFact = "[^ ]+: KNI_Get failed";  // the loader could not read a host fact

// By command word (the legacy mode's: -g) and exit status: the lines the command may write on
// standard error, and the report it ends with (none: it writes no report).
const struct Row { const char* command; int status; std::string lines, report; } kRows[] = {
    {"list", 0, "", ""}, {"list", 1, "", kFact},
    {"load", 0, kSkip, ""}, {"load", 1, kSkip + "|Failed to delete [^ ]+: " + kError, kError + "|" + kFact},
    {"unload", 0, "", ""}, {"unload", 1, "Failed to recreate [^ ]+: " + kError, kError + "|" + kFact},
    {"enable", 0, "[^ ]+: " + kError, ""}, {"enable", 1, "[^ ]+: " + kError, kError + "|" + kFact},
    {"disable", 0, "", ""}, {"disable", 1, "[^ ]+: " + kError, kError + "|" + kFact + "|[^ ]+: Busy"},
    {"-g", 0, "", ""}, {"-g", 2, "", ""}, {"-g", 1, "", "poolctl: Group [^ ]+ was not found: [^:]+"},
    {"-g", 3, "", "poolctl: Timeout waiting for [^ ]+ to be empty"},
    {"-g", 4, "", "poolctl: Failed to (check group [^ ]+|get groups [^ ]+ stats|set group [^ ]+ mem): [^:]+"},
    {"poolsync", 0, "", ""}, {"poolsync", 1, "", kError + "|" + kFact}, {"poolsync -n", 2, "", ""},
};

bool Matches(const std::string& pattern, const std::string& line) {
  regex_t re;
  if (pattern.empty() || regcomp(&re, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
  bool matches = regexec(&re, line.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return matches;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first thing wrong with the exit status and standard error of a run.
std::string Problem(const Args& args, const e2e::RunResult& r, const std::vector<std::string>& lines) {
  std::string command = args[0][0] == '-' ? "-g" : args[0] + (args.size() > 1 && args[1] == "-n" && r.status == 2 ? " -n" : "");
  const Row* row = std::find_if(std::begin(kRows), std::end(kRows),
                                [&](const Row& k) { return k.command == command && k.status == r.status; });
  bool quiet = command == "load" && args.size() > 1 && args[1] == "-q";
  if (row == std::end(kRows)) return "exit status";
  if (!r.err.empty() && r.err.back() != '\n') return "an unfinished line";
  if (!row->report.empty() && (lines.empty() || !Matches(row->report, lines.back()))) return "no report";
  for (size_t i = 0; i + !row->report.empty() < lines.size(); ++i) {
    if (!Matches(row->lines, lines[i]) || (quiet && Matches(kSkip, lines[i]))) return lines[i];
  }
  return "";
}

// What is wrong with a run, if anything: a status or a line on standard error that its
// command does not specify, no report last, standard output other than a start of cleanOut
// (disable's lines for missing groups aside), or a failure whose reports do not name the
// status text named.
std::string Judge(const Args& args, const e2e::RunResult& r, const std::string& cleanOut,
                  const std::string& named = "") {
  std::vector<std::string> lines = Lines(r.err);
  std::string problem = Problem(args, r, lines), out;
  bool namesIt = named.empty() || r.status == 0 || r.status == 2;
  for (const std::string& line : lines) namesIt |= Matches(".*: " + named + "|" + kFact, line);
  if (problem.empty() && !namesIt) problem = "no report names " + named;
  for (const std::string& line : Lines(r.out)) {
    if (args[0] != "disable" || !Matches("[^ ]+: KNI_[[:alnum:]]+: Not found", line)) out += line + "\n";
  }
  if (problem.empty() && cleanOut.compare(0, out.size(), out) != 0) problem = "standard output";
  if (problem.empty()) return "";
  std::string shown = " (status " + std::to_string(r.status) + ", stdout \"" + r.out + "\", stderr \"" + r.err + "\")";
  for (size_t at; (at = shown.find('\n')) != std::string::npos;) shown.replace(at, 1, "\\n");
  return problem + shown;
}

// Installs the example definitions on the host and reads their annex pool; what went wrong, if anything.
std::string Examples(const e2e::SimHost& host) {
  Args install = {"install"}, list = {"list", "-v"};
  for (const char* name : {"system.yaml", "vms.yaml", "annex.yaml"}) {
    install.push_back(std::string(SOURCE_DIR) + "/examples/" + name);
    files.push_back(host.dir() + "/rp.d/" + name);
  }
  install.insert(install.end(), {"--to", rpd = host.dir() + "/rp.d"});
  list.insert(list.end(), files.begin(), files.end());
  e2e::RunResult installed = host.Hostsim(install), csv = host.Poolctl(list);
  if (installed.status != 0 || csv.status != 0) return installed.err + csv.err;
  for (const std::string& line : Lines(csv.out)) {
    std::vector<std::string> f(1);  // name, enabled, memMin, memMax, ...
    for (char c : line) c == ',' ? f.push_back("") : f.back().push_back(c);
    if (f[0] == kParent) parentMin = std::stoll(f.at(2));
    if (f[0] == kAnnex) annexMax = std::stoll(f.at(3));
  }
  return annexMax > 0 ? "" : "no annex pool among the examples";
}

// A host's groups; adds its problems: the state's own soundness check, leaked lists, and with
// annexRule an annex parent whose memory minimum is neither 0 nor its declared minimum plus
// the maximum of its annex child, if that exists.
Groups Inspect(const std::string& db, bool annexRule, std::string* problems) {
  std::map<std::string, hostsim::Group> groups;
  try {
    std::unique_ptr<hostsim::State> state = hostsim::State::Open(db, true);
    state->Read([&] {
      for (const hostsim::Group& g : state->groups().All()) groups[g.path] = g;
      if (uint64_t leaks = state->log().Leaks()) *problems += " [" + std::to_string(leaks) + " lists leaked]";
      for (const std::string& p : state->Problems()) *problems += " [" + p + "]";
    });
  } catch (const std::exception& e) {
    *problems += " [" + std::string(e.what()) + "]";
  }
  Groups look;
  for (const auto& [path, g] : groups) {  // each record "min,max,shares,minLimit"
    int64_t v[] = {g.mem.min, g.mem.max, g.mem.shares, g.mem.minLimit, g.cpu.min, g.cpu.max, g.cpu.shares, g.cpu.minLimit};
    for (size_t i = 0; i < 8; ++i) look[path] += std::to_string(v[i]) + (i % 4 == 3 ? " " : ",");
    look[path] += std::to_string(g.worlds);
  }
  const hostsim::Allocation& mem = groups[kParent].mem;  // a new group's when there is none, not judged
  int64_t reserved = groups.count(kAnnex) ? annexMax : 0;
  if (annexRule && look.count(kParent) && mem.min != parentMin + reserved && !(mem.max == 0 && (mem.min == 0 || mem.min == reserved))) {
    *problems += " [" + std::string(kParent) + ": memory minimum " + std::to_string(mem.min) + " with " +
                 std::to_string(reserved) + " reserved for " + kAnnex + "]";
  }
  return look;
}

const char* const kCalls[] = {"Get", "Set", "GetInstanceListAlloc", "ParamListCreate", "ParamListAddInt",
                              "ParamListAddString", "ParamListGetUInt64"};
constexpr uint32_t kFailure = 0x0BAD0001;
constexpr uint64_t kNever = uint64_t{1} << 40;
// Statuses that a command treats in a way of its own: exists, not found, busy, in use.
const std::pair<std::string, uint32_t> kSpecial[] = {{"load", 0x0BAD0005}, {"unload", 0x0BAD0003}, {"enable", 0x0BAD0003},
                                                     {"disable", 0x0BAD0003}, {"disable", 0x0BAD0004}, {"disable", 0x0BAD0080}};

// A starting host made by these runs (of hostsim when the first word says so), and the commands
// run on it, the first `quick` of them in a quick run: a fresh host, the definitions loaded (a
// group's allocations changed since), an annex pool in service, pools disabled with -n.
const struct Scenario { const char* name; std::vector<Args> setup; size_t quick; std::vector<Args> commands; } kScenarios[] = {
    {"fresh host", {}, 2, {{"list"}, {"load"}, {"unload"}, {"enable", kParent, kGold}, {"disable", kBronze}}},
    {"after load", {{"load"}, {"hostsim", "setcpu", kGold, "100,200,3000,-1"}}, 4,
     {{"unload"}, {"enable", kStaging, kAnnex}, {"-g", kGold, "-i", "-m", "4096"}, {"-g", kLogging, "-w", "1", "-m", "128"},
      {"load"}, {"disable", "-n", kGold, kBronze}, {"disable", "-w", "5", kBronze, kLogging}, {"-g", kParent, "-e"}}},
    {"annex enabled", {{"load"}, {"enable", kAnnex}}, 1,
     {{"disable", kAnnex, kBronze}, {"unload"}, {"disable", "-n", "-w", "5", kAnnex}, {"enable", kAnnex}}},
    {"disabled with -n", {{"load"}, {"enable", kAnnex}, {"disable", "-n", kParent, kGold}}, 1,
     {{"enable", kParent, kGold}, {"load", "-q"}, {"unload"}, {"poolsync"}}},
    {"drifted", {{"load"}, {"enable", kAnnex}, {"hostsim", "setmem", kParent, "1024,-1,-1,-1"}, {"hostsim", "setmem", kGold, "1024,2048,-1,-1"}},
     1, {{"poolsync"}, {"poolsync", "-n", "-q"}}},
};

uint64_t every = 1;  // the stride through each kind's calls
std::atomic<uint64_t> faults{0}, faultFailures{0}, crashes{0}, crashFailures{0}, halfMade{0};

// One command on a host of its own: run undisturbed, then with each fault and each kill.
struct Trial {
  explicit Trial(const Args& command) : args(command) {}

  // A line for each failure, then how often a re-run after a kill converged and load and poolsync repaired.
  std::string Run(const Scenario& scenario) {
    label = std::string(scenario.name) + (sync ? ":" : ": poolctl");
    for (const std::string& a : args) label += " " + a;
    std::map<std::string, uint64_t> calls = Start(scenario);
    if (Report("undisturbed", &faultFailures)) return out;
    for (const char* call : kCalls) {
      for (uint64_t k = 0; k < calls[call]; k += sync && every > 1 ? 2 * every : every) {  // poolsync reads much
        Fault(call, kFailure, k);
        for (const auto& [command, status] : kSpecial) {
          if (command == args[0] && std::strcmp(call, "ParamListCreate") != 0) Fault(call, status, k);
        }
        if (std::strncmp(call, "ParamList", 9) == 0) continue;  // a kernel call: killed before and after it
        Crash(call, false, k);
        Crash(call, true, k);
      }
    }
    return out + "after a kill, " + label + " converges " + std::to_string(converged[0]) + ", does not " +
           std::to_string(converged[1]) + "; load and poolsync repair " + std::to_string(repaired[0]) + ", do not " +
           std::to_string(repaired[1]) + "\n";
  }

  // Saves the starting host, runs the command undisturbed: the calls of each kind it makes,
  // counted by rules that never fire.
  std::map<std::string, uint64_t> Start(const Scenario& scenario) {
    host.Hostsim({"init"});
    for (const Args& a : scenario.setup) {
      e2e::RunResult r = a[0] == "hostsim" ? host.Hostsim(Args(a.begin() + 1, a.end())) : Poolctl(a);
      if (r.status != 0) Check("set-up " + a[0] + ": " + r.err);
    }
    start = Inspect(host.db(), !sync, &problems);  // poolsync starts from drift
    host.SaveState("start");
    e2e::RunResult clean = Rerun([&](hostsim::State& s) {
      for (const char* call : kCalls) s.rules().Add({call, {}, {}, kFailure, kNever, 1});
    });
    std::map<std::string, uint64_t> calls;
    Change([&](hostsim::State& s) {
      for (const hostsim::Rule& rule : s.rules().List()) calls[rule.call] = kNever - rule.skip;
    });
    cleanOut = clean.out;
    end = Inspect(host.db(), !dry, &problems);
    Check(Judge(args, clean, clean.out));
    if (dry && end != start) Check("-n changed a group");
    if (clean.err.find(": ") != std::string::npos) Check("it fails undisturbed");
    return calls;
  }

  void Change(const std::function<void(hostsim::State&)>& change) {
    std::unique_ptr<hostsim::State> state = hostsim::State::Open(host.db(), true);
    state->Write([&] { change(*state); });
  }
  e2e::RunResult Rerun(const std::function<void(hostsim::State&)>& rules) {
    host.RestoreState("start");
    return Change(rules), Poolctl(args);
  }
  // list, load, unload, poolsync and poolstat are given the definition files; enable and disable read /etc/rp.d.
  e2e::RunResult Poolctl(Args words) {
    if (words[0][0] == 'e' || words[0][0] == 'd') return host.PoolctlWithDefinitions(rpd, words);
    if (words[0][0] != '-') words.insert(words.end(), files.begin(), files.end());
    if (words[0] == "poolsync" || words[0] == "poolstat") {
      return e2e::Run(words[0] == "poolsync" ? POOLSYNC_BIN : POOLSTAT_BIN, Args(words.begin() + 1, words.end()), {host.Env()});
    }
    return host.Poolctl(words);
  }
  void Check(const std::string& problem) { if (!problem.empty()) problems += " [" + problem + "]"; }
  bool Report(const std::string& what, std::atomic<uint64_t>* failures) {
    if (problems.empty()) return false;
    ++*failures;
    out += "FAIL " + label + ": " + what + ":" + problems + "\n";
    problems.clear();
    return true;
  }

  // Each group as it started or as the undisturbed run leaves it; after a
  // kill also one killed between its creation and its allocations: a new
  // group's CPU record, a new group's memory record or the one it was to get.
  void EachGroup(const Groups& now, bool killed) {
    Groups all = now;
    for (const Groups* g : {&start, &end}) all.insert(g->begin(), g->end());
    for (const auto& [path, unused] : all) {
      auto get = [&](const Groups& g) { return g.count(path) ? g.at(path) : "absent"; };
      std::string n = get(now), s = get(start), e = get(end), mem = n.substr(0, n.find(' '));
      bool half = killed && n == mem + " 0,-1,1000,-1 0" && (mem == "0,-1,-1,-1" || s.find(mem + " ") == 0 || e.find(mem + " ") == 0);
      if (n != s && n != e && !half) Check(path + " is " + n + ", started " + s + ", ends " + e);
      halfMade += n != s && n != e && half;
    }
  }

  void Fault(const char* call, uint32_t status, uint64_t k) {
    e2e::RunResult r = Rerun([&](hostsim::State& s) { s.rules().Add({call, {}, {}, status, k, 1}); });
    ++faults;
    // unload does not hand an annex group's reservation back to its parent.
    Groups now = Inspect(host.db(), args[0] != "unload" && !sync, &problems);
    // A failed run names the plain failure (the list creation's: out of memory).
    bool create = std::strcmp(call, "ParamListCreate") == 0;
    std::string text = ZRV_ReturnStatusToString(create ? 0x0BAD0014 : status);
    Check(Judge(args, r, cleanOut, create || status == kFailure ? text : ""));
    // load and unload undo their own work.
    if ((args[0] == "load" || args[0] == "unload") && r.status != 0 && now != start) Check("not undone");
    // poolsync stops part-way, and a re-run finishes the work.
    if (!sync || r.status != 1) EachGroup(now, false);
    else if (Poolctl(args), Inspect(host.db(), !dry, &problems) != end) Check("a re-run does not finish the work");
    Report(std::string(call) + " #" + std::to_string(k + 1) + " fails with " + text, &faultFailures);
  }

  void Crash(const char* call, bool after, uint64_t k) {
    e2e::RunResult r = Rerun([&](hostsim::State& s) {
      s.rules().Add({call, {}, {}, 0, k, 1, after ? hostsim::RuleKind::kCrashAfter : hostsim::RuleKind::kCrash});
    });
    ++crashes;
    if (r.status != 128 + 9) Check("not killed: status " + std::to_string(r.status));
    Groups killed = Inspect(host.db(), false, &problems);
    bool repair = every == 1 || (after && !sync && k / every % 2 == 0);  // quick: a sample of the kills
    if (repair) host.SaveState("killed");
    e2e::RunResult again = Poolctl(args);
    Check(Judge(args, again, again.out));
    bool converges = Inspect(host.db(), false, &problems) == end;
    ++converged[converges ? 0 : 1];
    std::string what = std::string("killed ") + (after ? "after " : "before ") + call + " #" + std::to_string(k + 1);
    if (!converges) out += "does not converge: " + label + ": " + what + "\n";
    if (!sync || !converges) EachGroup(killed, true);
    if (repair) host.RestoreState("killed"), ++repaired[Repair() ? 0 : 1];
    Report(what, &crashFailures);
  }

  // From the killed host, load then poolsync leave every declared pool matching its definition or
  // out of service (disabled, or not created by load); whether nothing is wrong.
  bool Repair() {
    Args load = {"load", "-q"}, repair = {"poolsync", "-q"};
    e2e::RunResult loaded = Poolctl(load), synced = Poolctl(repair), stat = Poolctl({"poolstat", "-v"});
    std::string left, was = problems;
    Check(Judge(load, loaded, loaded.out)), Check(Judge(repair, synced, synced.out));
    Inspect(host.db(), true, &problems);
    for (const std::string& line : Lines(stat.out)) {  // name,state,...
      if (!Matches("[^,]*,(state|ok|disabled|inactive|undeclared),.*", line)) left += " \"" + line + "\"";
    }
    if (stat.status != 0 && (stat.status != 2 || stat.out.find(",disabled,") == std::string::npos)) left += " poolstat status " + std::to_string(stat.status);
    if (!left.empty()) Check("load and poolsync leave" + left);
    return problems == was;
  }

  const Args& args;
  const bool sync = args[0] == "poolsync", dry = sync && args.size() > 1 && args[1] == "-n";
  e2e::SimHost host;
  std::string label, out, cleanOut;
  Groups start, end;
  uint64_t converged[2] = {}, repaired[2] = {};  // re-runs after a kill that converge, that do not; the same for repairs
  std::string problems;  // " [a problem]" each
};

// Every scenario's commands (the quick ones only), two at a time.
int Faults(bool quick) {
  std::vector<std::pair<const Scenario*, const Args*>> items;
  for (const Scenario& s : kScenarios) {
    for (size_t i = 0; i < (quick ? s.quick : s.commands.size()); ++i) items.push_back({&s, &s.commands[i]});
  }
  std::vector<std::string> out(items.size());  // each command's lines keep their place
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < items.size();) out[i] = Trial(*items[i].second).Run(*items[i].first);
  };
  std::thread worker(work);
  work();
  worker.join();
  for (const std::string& lines : out) std::printf("%s", lines.c_str());
  std::printf("groups killed half-way through their creation: %lu\nRELIABILITY faults %lu failures %lu\n"
              "RELIABILITY crashes %lu failures %lu\n", halfMade.load(), faults.load(), faultFailures.load(),
              crashes.load(), crashFailures.load());
  return faultFailures == 0 && crashFailures == 0 ? 0 : 1;
}

// What a round draws its commands from; in the last mix, kGold has a world attached when the
// round starts, which the driver frees a moment later.
const std::vector<Args> kMixes[] = {
    {{"enable", kAnnex}, {"disable", kAnnex}, {"disable", "-n", kAnnex}, {"enable", kParent, kAnnex}, {"disable", "-w", "1", kAnnex}},
    {{"enable", kParent}, {"disable", "-n", kParent}, {"enable", kAnnex}, {"disable", kAnnex}, {"enable", kParent, kAnnex}},
    {{"load"}, {"load", "-q"}, {"unload"}, {"enable", kAnnex}, {"disable", "-n", kParent}},
    {{"load"}, {"unload"}, {"enable", kAnnex}, {"disable", kAnnex}, {"enable", kParent}, {"disable", "-n", kParent}, {"disable", kParent}, {"enable", kStaging, kAnnex}, {"disable", kStaging, kLogging}, {"enable", kLogging}},
    {{"disable", "-w", "2", kGold}, {"disable", kGold}, {"disable", "-n", kGold}, {"enable", kGold}, {"unload"}, {"load", "-q"}, {"enable", kAnnex}, {"disable", kAnnex}},
};
constexpr size_t kBusyMix = 4;
// The hosts a round starts from, made by runs one after another.
const std::vector<Args> kStarts[] = {{}, {{"load", "-q"}}, {{"load", "-q"}, {"enable", kAnnex}}, {{"load", "-q"}, {"disable", "-n", kParent}},
                                     {{"load", "-q"}, {"disable", "-n", kParent}, {"enable", kAnnex}}};

// Rounds of 3 to 6 processes at once; then no group may keep a world, and the annex rule holds.
int Concurrent(const e2e::SimHost& host, int rounds) {
  std::mt19937 random(1);
  std::discrete_distribution<size_t> pickMix({3, 2, 1, 1, 1});  // how often each mix is drawn
  int processes = 0, failures = 0;
  bool sound = false;
  for (int round = 1; round <= rounds; ++round) {
    size_t mix = pickMix(random);
    std::string where = "round " + std::to_string(round), problems;  // the round and its commands
    if (!sound || mix == kBusyMix || random() % 2 == 0) {  // a fresh host
      host.Hostsim({"init"});
      for (const Args& args : kStarts[mix == kBusyMix ? 1 : random() % 5]) {
        e2e::RunResult r = host.PoolctlWithDefinitions(rpd, args);
        if (r.status != 0) problems += " [set-up " + args[0] + ": " + r.err + "]";
      }
    }
    if (mix == kBusyMix) host.Hostsim({"busy", kGold, "1"});
    std::vector<std::pair<Args, std::unique_ptr<e2e::Process>>> running;
    for (size_t i = 3 + random() % 4; i > 0; --i, ++processes) {
      const Args& args = kMixes[mix][random() % kMixes[mix].size()];
      running.emplace_back(args, host.StartPoolctlWithDefinitions(rpd, args));
      where += running.size() == 1 ? ": poolctl" : " | poolctl";
      for (const std::string& a : args) where += " " + a;
    }
    if (mix == kBusyMix) {
      usleep(20000);  // long enough for a waiting disable to try a few times
      host.Hostsim({"busy", kGold, "0"});
    }
    for (size_t i = 0; i < running.size(); ++i) {
      std::string wrong = Judge(running[i].first, running[i].second->Wait(), "");
      if (!wrong.empty()) problems += " [process " + std::to_string(i + 1) + ": " + wrong + "]";
    }
    for (const auto& [path, records] : Inspect(host.db(), true, &problems)) {
      if (records.substr(records.rfind(' ')) != " 0") problems += " [" + path + " still has worlds]";
    }
    sound = problems.empty();
    if (!sound) std::printf("%s:%s\n", where.c_str(), problems.c_str());
    failures += !sound;
  }
  std::printf("RELIABILITY concurrent %d failures %d\n", processes, failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Args words(argv + 1, argv + argc);
  bool concurrent = !words.empty() && words[0] == "--concurrent";
  if (concurrent) words.erase(words.begin());
  int n = words.size() == 2 && words[0] == (concurrent ? "--rounds" : "--quick") ? std::atoi(words[1].c_str()) : 0;
  if (n <= 0 && !words.empty()) {
    std::fprintf(stderr, "usage: fault_check [--quick N] | fault_check --concurrent [--rounds N]\n");
    return 2;
  }
  e2e::SimHost home;
  if (std::string wrong = Examples(home); !wrong.empty()) {
    std::printf("%s\nRELIABILITY %s 0 failures 1\n", wrong.c_str(), concurrent ? "concurrent" : "faults");
    return 1;
  }
  if (home.PoolctlWithDefinitions(rpd, {"list"}).status == e2e::kNoPrivateEtc) return 77;
  every = n > 0 ? n : 1;
  return concurrent ? Concurrent(home, n > 0 ? n : 250) : Faults(n > 0);
}
