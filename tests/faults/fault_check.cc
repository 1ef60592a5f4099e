// fault_check [--quick N]: every kernel call of poolctl's commands fails in
// turn, then the process is killed before and after each (quick: in fewer
// commands, only every Nth call of a kind). Each run must end as its command
// specifies, leak no list, and leave a sound state with every group as it
// started or as an undisturbed run leaves it. After a kill the command runs
// again; the driver counts the kills after which that ends as undisturbed.
#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "kni.h"
#include "platform/hostsim/state.h"
#include "tests/faults/judge.h"

namespace {

using judge::Args;
using Groups = std::map<std::string, std::string>;

const char* const kCalls[] = {"Get", "Set", "GetInstanceListAlloc", "ParamListCreate",
                              "ParamListAddInt", "ParamListAddString", "ParamListGetUInt64"};
constexpr uint32_t kFailure = 0x0BAD0001;
constexpr uint64_t kNever = uint64_t{1} << 40;
// Statuses that a command treats in a way of its own: exists, not found, busy, in use.
const std::map<std::string, std::vector<uint32_t>> kSpecial = {
    {"load", {0x0BAD0005}}, {"unload", {0x0BAD0003}}, {"enable", {0x0BAD0003}},
    {"disable", {0x0BAD0003, 0x0BAD0004, 0x0BAD0080}}};

// A starting host, made from a fresh one by these runs (of hostsim when the
// first word says so), and the commands run on it, the first `quick` of them
// in a quick run.
struct Scenario {
  const char* name;
  std::vector<Args> setup;
  size_t quick;
  std::vector<Args> commands;
};

std::atomic<uint64_t> faults{0}, faultFailures{0}, crashes{0}, crashFailures{0}, halfMade{0};

class Driver {
 public:
  Driver(const judge::Annex& annex, const Args& files, const std::string& rpd, uint64_t every)
      : annex_(annex), files_(files), rpd_(rpd), every_(every) {}

  // A line for each failure, then how often a re-run after a kill converged.
  std::string Command(const Scenario& scenario, const Args& args) {
    label_ = std::string(scenario.name) + ": poolctl";
    for (const std::string& a : args) label_ += " " + a;
    out_.clear();
    converges_[0] = converges_[1] = 0;
    Start(scenario);
    std::map<std::string, uint64_t> calls = Undisturbed(args);
    if (Report("undisturbed", &faultFailures)) return out_;
    for (const char* call : kCalls) {
      std::vector<uint32_t> statuses = {kFailure};
      auto special = kSpecial.find(args[0]);
      if (special != kSpecial.end() && std::strcmp(call, "ParamListCreate") != 0) {
        statuses.insert(statuses.end(), special->second.begin(), special->second.end());
      }
      for (uint64_t k = 0; k < calls[call]; k += every_) {
        for (uint32_t status : statuses) Fault(args, call, status, k);
        for (bool after : {false, true}) {
          if (std::strncmp(call, "ParamList", 9) != 0) Crash(args, call, after, k);  // kernel calls
        }
      }
    }
    return out_ + "after a kill, " + label_ + " converges " + std::to_string(converges_[0]) + ", does not " +
           std::to_string(converges_[1]) + "\n";
  }

 private:
  void Start(const Scenario& scenario) {
    host_.Hostsim({"init"});
    for (const Args& a : scenario.setup) {
      e2e::RunResult r = a[0] == "hostsim" ? host_.Hostsim(Args(a.begin() + 1, a.end())) : Poolctl(a);
      if (r.status != 0) Check("set-up " + a[0] + ": " + r.err);
    }
    start_ = Inspect(true).groups;
    sqlite3* db = nullptr;  // an empty write-ahead log makes each restore a small copy
    sqlite3_open(host_.db().c_str(), &db);
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    host_.SaveState("start");
  }

  // The calls of each kind that the undisturbed run makes, counted by rules
  // that never fire.
  std::map<std::string, uint64_t> Undisturbed(const Args& args) {
    e2e::RunResult clean = Run(args, [&](hostsim::State& s) {
      for (const char* call : kCalls) s.AddFaultRule({call, {}, {}, kFailure, kNever, 1});
    });
    std::map<std::string, uint64_t> calls;
    Change([&](hostsim::State& s) {
      for (const hostsim::FaultRule& rule : s.FaultRules()) calls[rule.call] = kNever - rule.skip;
    });
    cleanOut_ = clean.out;
    end_ = Inspect(true).groups;
    Check(judge::Judge(args, clean, clean.out));
    if (clean.err.find(": ") != std::string::npos) Check("it fails undisturbed");
    return calls;
  }

  template <typename Fn>
  void Change(Fn change) {
    std::unique_ptr<hostsim::State> state = hostsim::State::Open(host_.db(), true);
    state->Write([&] { change(*state); });
  }
  // list, load and unload are given the definition files; enable and disable read /etc/rp.d.
  e2e::RunResult Poolctl(Args args) {
    if (args[0][0] == 'e' || args[0][0] == 'd') return host_.PoolctlWithDefinitions(rpd_, args);
    if (args[0][0] != '-') args.insert(args.end(), files_.begin(), files_.end());
    return host_.Poolctl(args);
  }
  template <typename Fn>
  e2e::RunResult Run(const Args& args, Fn rules) {
    host_.RestoreState("start");
    return Change(rules), Poolctl(args);
  }
  judge::Look Inspect(bool annexRule) {
    judge::Look look = judge::Inspect(host_.db(), annex_, annexRule);
    problems_.insert(problems_.end(), look.problems.begin(), look.problems.end());
    return look;
  }
  void Check(const std::string& problem) {
    if (!problem.empty()) problems_.push_back(problem);
  }
  bool Report(const std::string& what, std::atomic<uint64_t>* failures) {
    if (problems_.empty()) return false;
    ++*failures;
    out_ += "FAIL " + label_ + ": " + what + ":";
    for (const std::string& problem : problems_) out_ += " [" + problem + "]";
    out_ += "\n";
    problems_.clear();
    return true;
  }

  // Each group as it started or as the undisturbed run leaves it; after a
  // kill also one killed between its creation and its allocations: a new
  // group's CPU record, a new group's memory record or the one it was to get.
  void EachGroup(const Groups& now, bool killed) {
    Groups all = start_;
    all.insert(end_.begin(), end_.end());
    all.insert(now.begin(), now.end());
    for (const auto& [path, unused] : all) {
      auto get = [&](const Groups& g) { return g.count(path) ? g.at(path) : "absent"; };
      std::string n = get(now), s = get(start_), e = get(end_), mem = n.substr(0, n.find(' '));
      if (n == s || n == e) continue;
      if (killed && n == mem + " 0,-1,1000,-1 0" &&
          (mem == "0,-1,-1,-1" || s.find(mem + " ") == 0 || e.find(mem + " ") == 0)) {
        ++halfMade;
      } else {
        Check(path + " is " + n + ", started " + s + ", ends " + e);
      }
    }
  }

  void Fault(const Args& args, const char* call, uint32_t status, uint64_t k) {
    e2e::RunResult r = Run(args, [&](hostsim::State& s) { s.AddFaultRule({call, {}, {}, status, k, 1}); });
    ++faults;
    // unload does not hand an annex group's reservation back to its parent.
    Groups now = Inspect(args[0] != "unload").groups;
    // A failed run names the plain failure (the list creation's: out of memory).
    bool create = std::strcmp(call, "ParamListCreate") == 0;
    std::string text = ZRV_ReturnStatusToString(create ? 0x0BAD0014 : status);
    Check(judge::Judge(args, r, cleanOut_, create || status == kFailure ? text : ""));
    // load and unload undo their own work.
    if ((args[0] == "load" || args[0] == "unload") && r.status != 0 && now != start_) Check("not undone");
    EachGroup(now, false);
    Report(std::string(call) + " #" + std::to_string(k + 1) + " fails with " + text, &faultFailures);
  }

  void Crash(const Args& args, const char* call, bool after, uint64_t k) {
    e2e::RunResult r = Run(args, [&](hostsim::State& s) { s.AddCrashRule({call, {}, {}, k, after}); });
    ++crashes;
    if (r.status != 128 + 9) Check("not killed: status " + std::to_string(r.status));
    EachGroup(Inspect(false).groups, true);
    e2e::RunResult again = Poolctl(args);
    Check(judge::Judge(args, again, again.out));
    bool converges = Inspect(false).groups == end_;
    ++converges_[converges ? 0 : 1];
    std::string what = std::string("killed ") + (after ? "after " : "before ") + call + " #" + std::to_string(k + 1);
    if (!converges) out_ += "does not converge: " + label_ + ": " + what + "\n";
    Report(what, &crashFailures);
  }

  const judge::Annex& annex_;
  const Args& files_;
  const std::string rpd_;  // the folder that becomes /etc/rp.d
  const uint64_t every_;
  e2e::SimHost host_;
  std::string label_, out_, cleanOut_;
  Groups start_, end_;
  uint64_t converges_[2] = {};  // re-runs after a kill that converge, that do not
  std::vector<std::string> problems_;
};

}  // namespace

int main(int argc, char** argv) {
  uint64_t every = argc == 3 && std::strcmp(argv[1], "--quick") == 0 ? std::atoi(argv[2]) : argc == 1;
  if (every == 0) {
    std::fprintf(stderr, "usage: fault_check [--quick N]\n");
    return 2;
  }
  e2e::SimHost home;
  Args files;
  judge::Annex annex;
  try {
    annex = judge::Examples(home, &files);
  } catch (const std::exception& e) {
    std::printf("%s\nRELIABILITY faults 0 failures 1\n", e.what());
    return 1;
  }
  std::string rpd = home.dir() + "/rp.d";
  if (home.PoolctlWithDefinitions(rpd, {"list"}).status == e2e::kNoPrivateEtc) return 77;
  const char *vms = "host/opt/vms", *gold = "host/opt/vms/gold", *bronze = "host/opt/vms/bronze",
             *burst = "host/opt/vms/burst", *logging = "host/system/logging";
  // A fresh host, the definitions loaded (a group's allocations changed
  // since), an annex pool in service, pools disabled with -n.
  const Scenario scenarios[] = {
      {"fresh host", {}, 2, {{"list"}, {"load"}, {"unload"}, {"enable", vms, gold}, {"disable", bronze}}},
      {"after load", {{"load"}, {"hostsim", "setcpu", gold, "100,200,3000,-1"}}, 4,
       {{"unload"}, {"enable", "host/opt/vms/staging", burst}, {"-g", gold, "-i", "-m", "4096"},
        {"-g", logging, "-w", "1", "-m", "128"}, {"load"}, {"disable", "-n", gold, bronze},
        {"disable", "-w", "5", bronze, logging}, {"-g", vms, "-e"}}},
      {"annex enabled", {{"load"}, {"enable", burst}}, 1,
       {{"disable", burst, bronze}, {"unload"}, {"disable", "-n", "-w", "5", burst}, {"enable", burst}}},
      {"disabled with -n", {{"load"}, {"enable", burst}, {"disable", "-n", vms, gold}}, 1,
       {{"enable", vms, gold}, {"load", "-q"}, {"unload"}}},
  };
  std::vector<std::pair<const Scenario*, const Args*>> items;
  for (const Scenario& s : scenarios) {
    for (size_t i = 0; i < (every > 1 ? s.quick : s.commands.size()); ++i) items.push_back({&s, &s.commands[i]});
  }
  std::vector<std::string> out(items.size());  // each command's lines keep their place
  std::atomic<size_t> next{0};
  auto work = [&] {
    Driver driver(annex, files, rpd, every);
    for (size_t i; (i = next++) < items.size();) out[i] = driver.Command(*items[i].first, *items[i].second);
  };
  std::thread worker(work);  // two hosts at once
  work();
  worker.join();
  for (const std::string& lines : out) std::printf("%s", lines.c_str());
  std::printf("groups killed half-way through their creation: %lu\nRELIABILITY faults %lu failures %lu\n"
              "RELIABILITY crashes %lu failures %lu\n", halfMade.load(), faults.load(), faultFailures.load(),
              crashes.load(), crashFailures.load());
  return faultFailures == 0 && crashFailures == 0 ? 0 : 1;
}
