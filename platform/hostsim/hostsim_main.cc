// hostsim: sets up the simulated host, shows it and makes its calls fail.
// It works on the state directly, never through the kernel interface, so
// its own commands are never traced, never meet a fault rule and never count
// as leaks.
#include <cctype>
#include <cinttypes>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kni.h"
#include "platform/hostsim/installed_mark.h"
#include "platform/hostsim/kernel.h"
#include "platform/hostsim/state.h"
#include "platform/hostsim/text.h"

namespace hostsim {
namespace {

// Ends the command: one line on standard error, exit status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command's words after the command name, split into options and operands.
// "--" ends the options; a value option takes the next word whatever it is.
class Args {
 public:
  Args(const std::vector<std::string>& words, std::initializer_list<const char*> valueOptions,
       std::initializer_list<const char*> flags) {
    std::set<std::string> values(valueOptions.begin(), valueOptions.end());
    std::set<std::string> flagSet(flags.begin(), flags.end());
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
      const std::string& w = words[i];
      if (optionsEnded || w.size() < 3 || w.compare(0, 2, "--") != 0) {
        if (!optionsEnded && w == "--") {
          optionsEnded = true;
        } else {
          operands_.push_back(w);
        }
      } else if (values.count(w) != 0) {
        if (i + 1 == words.size()) throw CommandError("option " + w + " needs a value");
        options_[w].push_back(words[++i]);
      } else if (flagSet.count(w) != 0) {
        flags_.insert(w);
      } else {
        throw CommandError("unknown option " + w);
      }
    }
  }

  // The last value given for the option.
  std::optional<std::string> Option(const std::string& name) const {
    std::vector<std::string> values = Repeated(name);
    if (values.empty()) return std::nullopt;
    return values.back();
  }
  // Every value given for the option, in order.
  std::vector<std::string> Repeated(const std::string& name) const {
    auto found = options_.find(name);
    return found == options_.end() ? std::vector<std::string>() : found->second;
  }
  bool Flag(const std::string& name) const { return flags_.count(name) != 0; }

  // The operands, which must number between min and max.
  std::vector<std::string> Operands(size_t min, size_t max) const {
    if (operands_.size() < min) throw CommandError("missing operand");
    if (operands_.size() > max) throw CommandError("unexpected operand " + operands_[max]);
    return operands_;
  }

 private:
  std::map<std::string, std::vector<std::string>> options_;
  std::set<std::string> flags_;
  std::vector<std::string> operands_;
};

// fn(state) in one transaction on the host's state file, opened on first
// use: a write, or with read only a read.
void Transact(const std::function<void(State&)>& fn, bool read = false) {
  static std::unique_ptr<State> state = State::Open(StateFilePath());
  const std::function<void()> body = [&] { fn(*state); };
  read ? state->Read(body) : state->Write(body);
}

uint64_t Unsigned(const std::string& text, uint64_t hi, const char* what) {
  if (std::optional<uint64_t> value = ParseUnsigned(text, hi, Radix::kDecimalOrHex)) return *value;
  throw CommandError("invalid " + std::string(what) + " " + text);
}

int64_t Signed(const std::string& text, int64_t lo, int64_t hi, const char* what) {
  if (std::optional<int64_t> value = ParseSigned(text, lo, hi, Radix::kDecimalOrHex)) return *value;
  throw CommandError("invalid " + std::string(what) + " " + text);
}

// MIN,MAX,SHARES,MINLIMIT, each within the kernel field's width.
Allocation ParseRecord(const std::string& text, bool cpu) {
  const int64_t lo = cpu ? INT32_MIN : INT64_MIN;
  const int64_t hi = cpu ? INT32_MAX : INT64_MAX;
  std::vector<int64_t> fields;
  for (size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1) {
    comma = text.find(',', start);
    fields.push_back(Signed(text.substr(start, comma - start), lo, hi, "record field"));
  }
  if (fields.size() != 4) throw CommandError("a record is MIN,MAX,SHARES,MINLIMIT: " + text);
  return {fields[0], fields[1], fields[2], fields[3]};
}

Group FindGroup(State& state, const std::string& path) {
  std::optional<Group> group = state.groups().Find(path);
  if (!group) throw CommandError(path + ": " + ZRV_ReturnStatusToString(ZRV_NOT_FOUND));
  return *group;
}

// "on" or "off"; what says what takes one in the message.
bool OnOff(const std::string& word, const char* what) {
  if (word == "on" || word == "off") return word == "on";
  throw CommandError(std::string(what) + " on or off, not " + word);
}

void CheckCmdLine(const std::string& text) {
  if (text.size() >= KNI_BOOT_CMDLINE_SIZE) {
    throw CommandError("the boot command line holds at most " +
                       std::to_string(KNI_BOOT_CMDLINE_SIZE - 1) + " bytes");
  }
}

const std::initializer_list<const char*> kFactOptions = {"--cpus",      "--mem-kb", "--max-vms",
                                                         "--installer", "--vm",     "--cmdline"};

void ApplyFactOptions(const Args& args, Facts* f) {
  if (auto v = args.Option("--cpus"))
    f->numPCPUs = static_cast<uint32_t>(Unsigned(*v, UINT32_MAX, "--cpus"));
  if (auto v = args.Option("--mem-kb")) f->physKB = Unsigned(*v, UINT64_MAX, "--mem-kb");
  if (auto v = args.Option("--max-vms"))
    f->maxVMs = static_cast<uint32_t>(Unsigned(*v, UINT32_MAX, "--max-vms"));
  if (auto v = args.Option("--installer")) f->isInstaller = Unsigned(*v, 1, "--installer") != 0;
  if (auto v = args.Option("--vm")) f->isVm = Unsigned(*v, 1, "--vm") != 0;
  if (auto v = args.Option("--cmdline")) {
    CheckCmdLine(*v);
    f->bootCmdLine = *v;
  }
}

void RunInit(const std::vector<std::string>& words) {
  Args args(words, kFactOptions, {});
  args.Operands(0, 0);
  Facts facts;
  ApplyFactOptions(args, &facts);
  Transact([&](State& state) { state.Reset(facts); });
}

// Applies change to the host's facts.
void ChangeFacts(const std::function<void(Facts&)>& change) {
  Transact([&](State& state) {
    Facts facts = state.settings().GetFacts();
    change(facts);
    state.settings().SetFacts(facts);
  });
}

void RunFacts(const std::vector<std::string>& words) {
  Args args(words, kFactOptions, {});
  args.Operands(0, 0);
  ChangeFacts([&](Facts& facts) { ApplyFactOptions(args, &facts); });
}

void RunCmdLine(const std::vector<std::string>& words) {
  const std::string text = Args(words, {}, {}).Operands(1, 1)[0];
  CheckCmdLine(text);
  ChangeFacts([&](Facts& facts) { facts.bootCmdLine = text; });
}

void RunKernelBuild(const std::vector<std::string>& words) {
  Args args(words, {}, {"--match"});
  std::optional<std::string> date;
  if (args.Flag("--match")) {
    args.Operands(0, 0);
  } else {
    date = args.Operands(1, 1)[0];
    if (date->size() >= KNI_BUILD_DATE_SIZE) {
      throw CommandError("a build date has at most " + std::to_string(KNI_BUILD_DATE_SIZE - 1) +
                         " characters");
    }
  }
  Transact([&](State& state) { state.settings().SetKernelBuild(date); });
}

// With --header, a first line names the columns; the rows are the same.
void RunGroups(const std::vector<std::string>& words) {
  Args args(words, {}, {"--header"});
  args.Operands(0, 0);
  std::vector<Group> groups;
  Transact([&](State& state) { groups = state.groups().All(); }, true);
  if (args.Flag("--header")) {
    printf("path\tid\tmemMin\tmemMax\tmemShares\tmemMinLimit\tcpuMin\tcpuMax\tcpuShares\t"
           "cpuMinLimit\tworlds\n");
  }
  for (const Group& g : groups) {
    printf("%s\t%" PRIu64, Printable(g.path).c_str(), g.id);
    for (const Allocation* a : {&g.mem, &g.cpu}) {
      printf("\t%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t%" PRId64, a->min, a->max, a->shares,
             a->minLimit);
    }
    printf("\t%" PRIu64 "\n", g.worlds);
  }
}

void RunMkGroup(const std::vector<std::string>& words) {
  Args args(words, {"--mem", "--cpu"}, {});
  const std::string path = args.Operands(1, 1)[0];
  Allocation mem = kNewGroupMem, cpu = kNewGroupCpu;
  if (auto v = args.Option("--mem")) mem = ParseRecord(*v, false);
  if (auto v = args.Option("--cpu")) cpu = ParseRecord(*v, true);
  size_t slash = path.rfind('/');
  std::string parentPath = slash == std::string::npos ? "" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  Transact([&](State& state) {
    Group parent = FindGroup(state, parentPath);
    uint64_t id = 0;
    uint32_t status = CreateChild(state, parent, name, mem, cpu, &id);
    if (status != ZRV_OK) throw CommandError(path + ": " + ZRV_ReturnStatusToString(status));
  });
}

void RunRmGroup(const std::vector<std::string>& words) {
  const std::string path = Args(words, {}, {}).Operands(1, 1)[0];
  Transact([&](State& state) {
    Group group = FindGroup(state, path);
    if (group.path.empty() || group.path == "host") {
      throw CommandError("the root and host cannot be deleted");
    }
    state.groups().DeleteSubtree(group);
  });
}

// Applies change to the group at the path.
void ChangeGroup(const std::string& path, const std::function<void(Group&)>& change) {
  Transact([&](State& state) {
    Group group = FindGroup(state, path);
    change(group);
    state.groups().Update(group);
  });
}

// setmem, or with cpu setcpu.
void SetRecord(const std::vector<std::string>& words, bool cpu) {
  const std::vector<std::string> ops = Args(words, {}, {}).Operands(2, 2);
  const Allocation record = ParseRecord(ops[1], cpu);
  ChangeGroup(ops[0], [&](Group& g) { (cpu ? g.cpu : g.mem) = record; });
}

void RunSetMem(const std::vector<std::string>& words) { SetRecord(words, false); }

void RunSetCpu(const std::vector<std::string>& words) { SetRecord(words, true); }

void RunBusy(const std::vector<std::string>& words) {
  const std::vector<std::string> ops = Args(words, {}, {}).Operands(2, 2);
  uint64_t worlds = Unsigned(ops[1], INT64_MAX, "world count");
  ChangeGroup(ops[0], [&](Group& g) { g.worlds = worlds; });
}

void RunStats(const std::vector<std::string>& words) {
  const std::vector<std::string> ops = Args(words, {}, {}).Operands(3, 3);
  uint64_t peak = Unsigned(ops[1], UINT64_MAX, "RMINPEAK_KB");
  uint64_t childPeak = Unsigned(ops[2], UINT64_MAX, "RMINCHILDPEAK_KB");
  ChangeGroup(ops[0], [&](Group& g) {
    g.rminpeakKB = peak;
    g.rminchildpeakKB = childPeak;
  });
}

// The calls a rule can make fail; only the kernel calls have a node.
struct FaultCall {
  const char* name;
  bool hasNode;
  bool hasPath;
};
const FaultCall kFaultCalls[] = {
    {"Get", true, true},                  {"Set", true, true},
    {"GetInstanceListAlloc", true, true}, {"ParamListCreate", false, false},
    {"ParamListAddInt", false, true},     {"ParamListAddString", false, true},
    {"ParamListGetUInt64", false, true}};

// The rule of a fail or crash command: its call, --node, --path and --skip,
// checked against what the call can match.
Rule CallRule(const Args& args) {
  Rule rule;
  rule.call = args.Operands(1, 1)[0];
  const FaultCall* call = nullptr;
  for (const FaultCall& c : kFaultCalls) {
    if (rule.call == c.name) call = &c;
  }
  if (call == nullptr) throw CommandError("unknown call " + rule.call);
  rule.node = args.Option("--node");
  rule.path = args.Option("--path");
  if (rule.node && !call->hasNode) throw CommandError(rule.call + " has no node");
  if (rule.node && !IsNodeName(*rule.node)) throw CommandError("unknown node " + *rule.node);
  if (rule.path && !call->hasPath) throw CommandError(rule.call + " names no group");
  if (auto v = args.Option("--skip")) rule.skip = Unsigned(*v, INT64_MAX, "--skip");
  return rule;
}

// --times of a fail rule or a store fault.
void AddRule(Rule rule, const Args& args) {
  if (auto v = args.Option("--times")) rule.times = Unsigned(*v, INT64_MAX, "--times");
  Transact([&](State& state) { state.rules().Add(rule); });
}

void RunFail(const std::vector<std::string>& words) {
  Args args(words, {"--node", "--path", "--status", "--skip", "--times"}, {});
  Rule rule = CallRule(args);
  std::optional<std::string> status = args.Option("--status");
  if (status) {
    rule.status = static_cast<uint32_t>(Unsigned(*status, UINT32_MAX, "status"));
  } else if (rule.call != "ParamListCreate") {
    throw CommandError("--status is required");
  }
  // A "failure" with status 0 would skip the call and report success.
  if (rule.status == ZRV_OK && rule.call != "ParamListCreate") {
    throw CommandError("a rule must fail with a nonzero status");
  }
  AddRule(rule, args);
}

void RunCrash(const std::vector<std::string>& words) {
  Args args(words, {"--node", "--path", "--skip"}, {"--after"});
  Rule rule = CallRule(args);
  rule.kind = args.Flag("--after") ? RuleKind::kCrashAfter : RuleKind::kCrash;
  AddRule(rule, args);
}

void RunFaults(const std::vector<std::string>& words) {
  Args args(words, {}, {"--clear"});
  args.Operands(0, 0);
  if (args.Flag("--clear")) return Transact([](State& state) { state.rules().Clear(); });
  std::vector<Rule> rules;
  Transact([&](State& state) { rules = state.rules().List(); }, true);
  for (const Rule& r : rules) {
    // A crash rule shows what it does in the status column.
    const std::string what = r.kind == RuleKind::kFail ? StatusWord(r.status)
                             : r.kind == RuleKind::kCrash ? "crash" : "crash-after";
    printf("%s\t%s\t%s\t%s\t%" PRIu64 "\t%" PRIu64 "\n", r.call.c_str(),
           r.node ? r.node->c_str() : "-", r.path ? Printable(*r.path).c_str() : "-", what.c_str(),
           r.skip, r.times);
  }
}

// Prints "ok", or every problem and fails. The file must exist: a check
// that created a fresh host would always pass.
void RunCheck(const std::vector<std::string>& words) {
  Args(words, {}, {}).Operands(0, 0);
  std::unique_ptr<State> state = State::Open(StateFilePath(), true);
  std::vector<std::string> problems;
  state->Read([&] { problems = state->Problems(); });
  if (problems.empty()) {
    printf("ok\n");
    return;
  }
  for (const std::string& p : problems) printf("%s\n", p.c_str());
  fflush(stdout);
  throw CommandError(std::to_string(problems.size()) + " problem" +
                     (problems.size() == 1 ? "" : "s"));
}

void RunTrace(const std::vector<std::string>& words) {
  const bool on = OnOff(Args(words, {}, {}).Operands(1, 1)[0], "trace takes");
  Transact([&](State& state) { state.log().SetTracing(on); });
}

void RunCalls(const std::vector<std::string>& words) {
  Args args(words, {}, {"--clear"});
  args.Operands(0, 0);
  std::vector<TraceEntry> entries;
  // Printing and clearing in one transaction loses no call made meanwhile.
  Transact([&](State& state) {
    entries = state.log().Entries();
    if (args.Flag("--clear")) state.log().Clear();
  });
  for (const TraceEntry& e : entries) {
    printf("%s\t%s\t%s\t%s\t%s\n", e.call.c_str(), e.node.c_str(), e.ids.c_str(), e.inputs.c_str(),
           e.result.c_str());
  }
}

void RunLeaks(const std::vector<std::string>& words) {
  Args args(words, {}, {"--clear"});
  args.Operands(0, 0);
  uint64_t leaks = 0;
  Transact([&](State& state) {
    leaks = state.log().Leaks();
    if (args.Flag("--clear")) state.log().ClearLeaks();
  });
  printf("%" PRIu64 "\n", leaks);
}

void RunStatusText(const std::vector<std::string>& words) {
  const std::string text = Args(words, {}, {}).Operands(1, 1)[0];
  printf("%s\n",
         ZRV_ReturnStatusToString(static_cast<uint32_t>(Unsigned(text, UINT32_MAX, "status"))));
}

void RunInstall(const std::vector<std::string>& words) {
  Args args(words, {"--to"}, {});
  std::string dir = args.Option("--to").value_or("/etc/rp.d");
  for (const std::string& file : args.Operands(1, SIZE_MAX)) InstallFile(file, dir);
}

void RunMark(const std::vector<std::string>& words) {
  for (const std::string& file : Args(words, {}, {}).Operands(1, SIZE_MAX)) MarkInstalled(file);
}

// The object and sub-objects named by --component, --group, --key and --sub.
ConfigPlace ConfigOptions(const Args& args) {
  return {args.Option("--component").value_or(""), args.Option("--group").value_or(""),
          args.Option("--key").value_or(""), args.Repeated("--sub")};
}

// The whole text must be a number as strtod reads it in the "C" locale;
// inf and nan included, so that tests can store them.
double ParseDouble(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  double value =
      text.empty() || isspace(static_cast<unsigned char>(text[0])) ? 0 : strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || errno == ERANGE) {
    throw CommandError("invalid --double " + text);
  }
  return value;
}

void RunConfigSet(const std::vector<std::string>& words) {
  Args args(words, {"--component", "--group", "--key", "--sub", "--int", "--double", "--string"},
            {});
  const std::string name = args.Operands(1, 1)[0];
  const auto i = args.Option("--int"), d = args.Option("--double"), t = args.Option("--string");
  ConfigValue value;
  if (i) value = {ConfigValue::Type::kInt, Signed(*i, INT64_MIN, INT64_MAX, "--int"), 0, ""};
  if (d) value = {ConfigValue::Type::kDouble, 0, ParseDouble(*d), ""};
  if (t) value = {ConfigValue::Type::kText, 0, 0, *t};
  if (i.has_value() + d.has_value() + t.has_value() != 1) {
    throw CommandError("give one of --int, --double and --string");
  }
  Transact([&](State& state) { state.settings().SetValue(ConfigOptions(args), name, value); });
}

void RunConfigRm(const std::vector<std::string>& words) {
  Args args(words, {"--component", "--group", "--key", "--sub"}, {});
  const std::string name = args.Operands(1, 1)[0];
  Transact([&](State& state) {
    if (!state.settings().RemoveValue(ConfigOptions(args), name)) {
      throw CommandError("no value " + name + " there");
    }
  });
}

void RunConfigStore(const std::vector<std::string>& words) {
  const bool on = OnOff(Args(words, {}, {}).Operands(1, 1)[0], "store takes");
  Transact([&](State& state) { state.settings().SetStoreAvailable(on); });
}

void RunConfigFault(const std::vector<std::string>& words) {
  Args args(words, {"--times"}, {});
  const std::string kind = args.Operands(1, 1)[0];
  if (kind != "store" && kind != "std") throw CommandError("fault takes store or std, not " + kind);
  const RuleKind fault = kind == "store" ? RuleKind::kStore : RuleKind::kStd;
  AddRule({kStoreReadCall, {}, {}, 0, 0, 1, fault}, args);
}

void RunFssSet(const std::vector<std::string>& words) {
  const std::vector<std::string> ops = Args(words, {}, {}).Operands(2, 2);
  const bool on = OnOff(ops[1], "a switch is");
  Transact([&](State& state) { state.settings().SetSwitch(ops[0], on); });
}

void RunFssRm(const std::vector<std::string>& words) {
  const std::string name = Args(words, {}, {}).Operands(1, 1)[0];
  Transact([&](State& state) {
    if (!state.settings().RemoveSwitch(name)) throw CommandError("no switch " + name);
  });
}

using Runner = void (*)(const std::vector<std::string>& words);

// The subcommand that the first word names, run on the words after it.
void RunSubCommand(const std::map<std::string, Runner>& table,
                   const std::vector<std::string>& words) {
  if (words.empty()) throw CommandError("missing subcommand");
  auto found = table.find(words[0]);
  if (found == table.end()) throw CommandError("unknown subcommand " + words[0]);
  found->second({words.begin() + 1, words.end()});
}

void RunConfig(const std::vector<std::string>& words) {
  RunSubCommand({{"set", RunConfigSet}, {"rm", RunConfigRm}, {"store", RunConfigStore},
                 {"fault", RunConfigFault}},
                words);
}

void RunFss(const std::vector<std::string>& words) {
  RunSubCommand({{"set", RunFssSet}, {"rm", RunFssRm}}, words);
}

void RunHelp(const std::vector<std::string>& words);

void RunVersion(const std::vector<std::string>& words) {
  Args(words, {}, {}).Operands(0, 0);
  printf("hostsim (poolctl) %s\n", POOLCTL_VERSION);
}

struct Command {
  const char* name;
  const char* synopsis;
  const char* help;
  Runner run;
};

const Command kCommands[] = {
    {"init", "[--cpus N] [--mem-kb N] [--max-vms N] [--installer 0|1] [--vm 0|1] [--cmdline TEXT]",
     "recreate the default host with these facts; everything else back to its default", RunInit},
    {"facts", "[same options as init]", "change facts in place, groups kept", RunFacts},
    {"cmdline", "TEXT", "set the boot command line (at most 4095 bytes)", RunCmdLine},
    {"kernel-build", "TEXT | --match",
     "pin the kernel's build date (at most 20 characters), or make it follow the library's",
     RunKernelBuild},
    {"groups", "[--header]",
     "list the groups by path: path, id, mem min, max, shares, minLimit, cpu min, max, shares,\n"
     "        minLimit, worlds; --header first prints a line naming them: path, id, memMin,\n"
     "        memMax, memShares, memMinLimit, cpuMin, cpuMax, cpuShares, cpuMinLimit, worlds",
     RunGroups},
    {"mkgroup", "PATH [--mem MIN,MAX,SHARES,MINLIMIT] [--cpu MIN,MAX,SHARES,MINLIMIT]",
     "create a group below an existing parent", RunMkGroup},
    {"rmgroup", "PATH", "delete a group with every group below it", RunRmGroup},
    {"setmem", "PATH MIN,MAX,SHARES,MINLIMIT", "set a group's memory record", RunSetMem},
    {"setcpu", "PATH MIN,MAX,SHARES,MINLIMIT", "set a group's CPU record", RunSetCpu},
    {"busy", "PATH N", "attach N worlds to the group; 0 frees it", RunBusy},
    {"stats", "PATH RMINPEAK_KB RMINCHILDPEAK_KB", "set the group's memory statistics", RunStats},
    {"fail", "CALL [--node NODE] [--path PATH] --status S [--skip N] [--times M]",
     "make the matching calls after the first N fail with S, M times (default 1, 0: always).\n"
     "        CALL: Get, Set, GetInstanceListAlloc, ParamListCreate (returns null, S optional\n"
     "        and ignored), ParamListAddInt, ParamListAddString, ParamListGetUInt64.\n"
     "        NODE: a node name without KNI_NODE_; kernel calls only.\n"
     "        PATH: the instance group's path; a creation's new path; a lookup's path;\n"
     "        ParamListAddInt and ParamListGetUInt64: the path of the group whose id is\n"
     "        added or read; ParamListAddString: the text added; ParamListCreate: none.\n"
     "        Every matching rule counts a call against its skips; the oldest rule that\n"
     "        skips no more fails it",
     RunFail},
    {"crash", "CALL [--node NODE] [--path PATH] [--skip N] [--after]",
     "kill the calling process with SIGKILL at the first matching call after the first N,\n"
     "        before the call takes effect, or with --after once it has; matched as fail\n"
     "        matches, and used up when it fires",
     RunCrash},
    {"faults", "[--clear]",
     "list the rules left (call, node, path, status, skips, times; a crash rule shows\n"
     "        crash or crash-after as its status), or drop them all",
     RunFaults},
    {"check", "",
     "check the state file and the group tree; print ok, or each problem and fail", RunCheck},
    {"trace", "on|off", "record the calls of the three libraries or stop recording", RunTrace},
    {"calls", "[--clear]", "print the recorded calls; --clear empties the record after", RunCalls},
    {"leaks", "[--clear]",
     "print the parameter lists processes left undestroyed; --clear resets the count after",
     RunLeaks},
    {"config",
     "set [--component C] [--group G] [--key K] [--sub NAME]... NAME "
     "(--int N | --double X | --string S)\n"
     "        | rm [--component C] [--group G] [--key K] [--sub NAME]... NAME\n"
     "        | store on|off | fault store|std [--times M]",
     "store or remove a configuration value in the object (component, group, key; an\n"
     "        option left out is the empty text) below its sub-objects, outermost first;\n"
     "        make the store absent or present again; make the next M value reads (default\n"
     "        1, 0: every one) throw a ConfigStoreException or a plain std::runtime_error",
     RunConfig},
    {"fss", "set NAME on|off | rm NAME",
     "set a feature switch, or remove it so that it reads as unknown (a null pointer)", RunFss},
    {"install", "FILE... [--to DIR]", "copy definition files into DIR (default /etc/rp.d), marked",
     RunInstall},
    {"mark", "FILE...", "mark files installed in place", RunMark},
    {"status-text", "S", "print the text of a kernel status", RunStatusText},
    {"help", "", "print this list", RunHelp},
    {"--version", "", "print the version", RunVersion},
};

void RunHelp(const std::vector<std::string>& words) {
  Args(words, {}, {}).Operands(0, 0);
  printf(
      "usage: hostsim COMMAND ...\n"
      "The simulated host lives in the file named by HOSTSIM_DB (default\n"
      "~/.local/state/hostsim/host.db). Numbers are decimal or 0x-hex.\n\n");
  for (const Command& c : kCommands) {
    printf("  %s%s%s\n        %s\n", c.name, *c.synopsis ? " " : "", c.synopsis, c.help);
  }
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "hostsim: usage: hostsim COMMAND ... (\"hostsim help\" lists the commands)\n");
    return 1;
  }
  std::string name = argv[1];
  if (name == "-h" || name == "--help") name = "help";
  std::vector<std::string> words(argv + 2, argv + argc);
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    try {
      c.run(words);
      if (fflush(stdout) != 0) throw CommandError("cannot write the output");
      return 0;
    } catch (const std::exception& e) {
      fprintf(stderr, "hostsim: %s: %s\n", c.name, Printable(e.what()).c_str());
      return 1;
    }
  }
  fprintf(stderr, "hostsim: unknown command %s (\"hostsim help\" lists the commands)\n",
          Printable(name).c_str());
  return 1;
}

}  // namespace
}  // namespace hostsim

int main(int argc, char** argv) { return hostsim::Main(argc, argv); }
