#include "tests/faults/judge.h"

#include <regex.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "platform/hostsim/state.h"

namespace judge {
namespace {

// A scheduler error as the commands pass it on: the call or the group it
// was about, then the kernel's text for the status.
const std::string kError = "(KNI_[[:alnum:]]+|Initialize [^ ]+): [^:]+";
const std::string kSkip = "[^ ]+ exists; skipping\\.";
const std::string kFact = "[^ ]+: KNI_Get failed";  // the loader could not read a host fact

// By command word (the legacy mode's: -g) and exit status: the lines the
// command may write on standard error, and the report it ends with (none:
// it writes no report).
const struct Row {
  const char* command;
  int status;
  std::string lines, report;
} kRows[] = {
    {"list", 0, "", ""}, {"list", 1, "", kFact},
    {"load", 0, kSkip, ""}, {"load", 1, kSkip + "|Failed to delete [^ ]+: " + kError, kError + "|" + kFact},
    {"unload", 0, "", ""}, {"unload", 1, "Failed to recreate [^ ]+: " + kError, kError + "|" + kFact},
    {"enable", 0, "[^ ]+: " + kError, ""}, {"enable", 1, "[^ ]+: " + kError, kError + "|" + kFact},
    {"disable", 0, "", ""}, {"disable", 1, "[^ ]+: " + kError, kError + "|" + kFact + "|[^ ]+: Busy"},
    {"-g", 0, "", ""}, {"-g", 2, "", ""},
    {"-g", 1, "", "poolctl: Group [^ ]+ was not found: [^:]+"},
    {"-g", 3, "", "poolctl: Timeout waiting for [^ ]+ to be empty"},
    {"-g", 4, "", "poolctl: Failed to (check group [^ ]+|get groups [^ ]+ stats|set group [^ ]+ mem): [^:]+"},
};

// Whether the whole line matches the extended regular expression.
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

std::string Text(const hostsim::Allocation& a) {
  return std::to_string(a.min) + "," + std::to_string(a.max) + "," + std::to_string(a.shares) + "," +
         std::to_string(a.minLimit);
}

// The first thing wrong with the exit status and standard error of a run.
std::string Problem(const Row* row, const e2e::RunResult& r, const std::vector<std::string>& lines,
                    bool quiet) {
  if (row == nullptr) return "exit status";
  if (!r.err.empty() && r.err.back() != '\n') return "an unfinished line";
  if (!row->report.empty() && (lines.empty() || !Matches(row->report, lines.back()))) return "no report";
  for (size_t i = 0; i + !row->report.empty() < lines.size(); ++i) {
    if (!Matches(row->lines, lines[i]) || (quiet && Matches(kSkip, lines[i]))) return lines[i];
  }
  return "";
}

}  // namespace

Annex Examples(const e2e::SimHost& host, Args* files) {
  Args install = {"install"}, list = {"list", "-v"};
  for (const char* name : {"system.yaml", "vms.yaml", "annex.yaml"}) {
    install.push_back(std::string(SOURCE_DIR) + "/examples/" + name);
    files->push_back(host.dir() + "/rp.d/" + name);
  }
  install.insert(install.end(), {"--to", host.dir() + "/rp.d"});
  list.insert(list.end(), files->begin(), files->end());
  e2e::RunResult installed = host.Hostsim(install), csv = host.Poolctl(list);
  if (installed.status != 0 || csv.status != 0) throw std::runtime_error(installed.err + csv.err);
  Annex annex;
  for (const std::string& line : Lines(csv.out)) {
    std::vector<std::string> f(1);  // name, enabled, memMin, memMax, ...
    for (char c : line) c == ',' ? f.push_back("") : f.back().push_back(c);
    if (f[0] == annex.parent) annex.parentMin = std::stoll(f.at(2));
    if (f[0] == annex.path) annex.max = std::stoll(f.at(3));
  }
  return annex;
}

Look Inspect(const std::string& db, const Annex& annex, bool annexRule) {
  Look look;
  std::map<std::string, hostsim::Group> groups;
  try {
    std::unique_ptr<hostsim::State> state = hostsim::State::Open(db, true);
    state->Read([&] {
      for (const hostsim::Group& g : state->AllGroups()) groups[g.path] = g;
      if (uint64_t leaks = state->Leaks()) look.problems.push_back(std::to_string(leaks) + " lists leaked");
      for (const std::string& p : state->Problems()) look.problems.push_back(p);
    });
  } catch (const std::exception& e) {
    look.problems.push_back(e.what());
  }
  for (const auto& [path, g] : groups) {
    look.groups[path] = Text(g.mem) + " " + Text(g.cpu) + " " + std::to_string(g.worlds);
  }
  auto parent = groups.find(annex.parent);
  int64_t reserved = groups.count(annex.path) ? annex.max : 0;
  if (annexRule && parent != groups.end()) {
    const hostsim::Allocation& mem = parent->second.mem;
    if (mem.min != annex.parentMin + reserved && !(mem.max == 0 && (mem.min == 0 || mem.min == reserved))) {
      look.problems.push_back(annex.parent + ": memory minimum " + std::to_string(mem.min) + " with " +
                              std::to_string(reserved) + " reserved for " + annex.path);
    }
  }
  return look;
}

std::string Judge(const Args& args, const e2e::RunResult& r, const std::string& cleanOut,
                  const std::string& named) {
  std::string command = args[0][0] == '-' ? "-g" : args[0], out;
  const Row* row = std::find_if(std::begin(kRows), std::end(kRows), [&](const Row& k) {
    return k.command == command && k.status == r.status;
  });
  std::vector<std::string> lines = Lines(r.err);
  std::string problem = Problem(row == std::end(kRows) ? nullptr : row, r, lines,
                                args[0] == "load" && args.size() > 1 && args[1] == "-q");
  bool namesIt = named.empty() || r.status == 0 || r.status == 2;
  for (const std::string& line : lines) namesIt |= Matches(".*: " + named + "|" + kFact, line);
  if (problem.empty() && !namesIt) problem = "no report names " + named;
  for (const std::string& line : Lines(r.out)) {
    if (command != "disable" || !Matches("[^ ]+: KNI_[[:alnum:]]+: Not found", line)) out += line + "\n";
  }
  if (problem.empty() && cleanOut.compare(0, out.size(), out) != 0) problem = "standard output";
  auto shown = [](std::string text) {
    for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "\\n");
    return text;
  };
  if (problem.empty()) return "";
  return problem + " (status " + std::to_string(r.status) + ", stdout \"" + shown(r.out) + "\", stderr \"" +
         shown(r.err) + "\")";
}

}  // namespace judge
