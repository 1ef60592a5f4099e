#include "tests/concurrency/outcome.h"

#include <algorithm>
#include <set>

namespace concurrency {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Every line must end with a newline; an unfinished one is kept so that it
// fails whatever rule reads it.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + " (no newline)");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// A kernel failure that another process's change can cause: the group or
// its parent went or came, gained children or worlds, or the parent's
// reservation was handed back first.
bool IsKernelError(const std::string& text) {
  static const std::set<std::string> kStatuses = {"Not found", "Already exists", "Group in use",
                                                  "Busy", "Bad parameter"};
  size_t colon = text.find(": ");
  if (colon == std::string::npos) return false;
  std::string call = text.substr(0, colon);
  bool knownCall =
      call == "KNI_Set" || call == "KNI_Get" || call == "KNI_GetInstanceListAlloc" ||
      (StartsWith(call, "Initialize host/") && call.find(' ', 11) == std::string::npos);
  return knownCall && kStatuses.count(text.substr(colon + 2)) != 0;
}

bool IsNotFound(const std::string& text) {
  return IsKernelError(text) && EndsWith(text, ": Not found");
}

// "<name>: <kernel error>" for a name of the set.
bool IsNamedError(const std::string& line, const std::set<std::string>& names) {
  size_t colon = line.find(": ");
  return colon != std::string::npos && names.count(line.substr(0, colon)) != 0 &&
         IsKernelError(line.substr(colon + 2));
}

std::set<std::string> PoolNames(const std::vector<Definition>& definitions, bool enabledOnly) {
  std::set<std::string> names;
  for (const Definition& d : definitions) {
    if (d.enabled || !enabledOnly) names.insert(d.name);
  }
  return names;
}

std::string Unexpected(const std::string& line) { return "unexpected line \"" + line + "\""; }

// load and unload end with the undo's lines, prefixed by its own words, and
// then the error that started the undo.
std::string CheckUndo(const std::vector<std::string>& lines, size_t first, int status,
                      const std::string& prefix, const std::set<std::string>& names) {
  if (status == 0) return first == lines.size() ? "" : Unexpected(lines[first]);
  if (first == lines.size()) return "failed without a message";
  for (size_t i = first; i + 1 < lines.size(); ++i) {
    if (!StartsWith(lines[i], prefix) || !IsNamedError(lines[i].substr(prefix.size()), names)) {
      return Unexpected(lines[i]);
    }
  }
  return IsKernelError(lines.back()) ? "" : Unexpected(lines.back());
}

std::string CheckLoad(const std::vector<std::string>& args, const e2e::RunResult& r,
                      const std::vector<Definition>& definitions) {
  bool quiet = std::find(args.begin(), args.end(), "-q") != args.end();
  std::set<std::string> enabled = PoolNames(definitions, true);
  std::vector<std::string> lines = Lines(r.err);
  const std::string skipping = " exists; skipping.";
  size_t i = 0;
  std::string previous;
  for (; i < lines.size() && EndsWith(lines[i], skipping); ++i) {
    std::string name = lines[i].substr(0, lines[i].size() - skipping.size());
    // Pools are created in ascending order, each once.
    if (quiet || enabled.count(name) == 0 || name <= previous) return Unexpected(lines[i]);
    previous = name;
  }
  return CheckUndo(lines, i, r.status, "Failed to delete ", enabled);
}

std::string CheckEnable(const std::vector<std::string>& names, const e2e::RunResult& r) {
  // A new annex group's parent is named when its reservation fails.
  std::set<std::string> named;
  for (const std::string& name : names) {
    named.insert(name);
    named.insert(name.substr(0, name.rfind('/')));
  }
  std::vector<std::string> lines = Lines(r.err);
  size_t last = r.status == 0 ? lines.size() : lines.size() - 1;
  if (r.status != 0 && lines.empty()) return "failed without a message";
  for (size_t i = 0; i < last; ++i) {
    if (!IsNamedError(lines[i], named)) return Unexpected(lines[i]);
  }
  return r.status == 0 || IsKernelError(lines.back()) ? "" : Unexpected(lines.back());
}

std::string CheckDisable(const std::vector<std::string>& names, const e2e::RunResult& r) {
  std::set<std::string> named(names.begin(), names.end());
  std::set<std::string> reported;
  for (const std::string& line : Lines(r.out)) {
    size_t colon = line.find(": ");
    if (!IsNamedError(line, named) || !IsNotFound(line.substr(colon + 2))) return Unexpected(line);
    if (!reported.insert(line.substr(0, colon)).second) return "reported twice: " + line;
  }
  std::vector<std::string> lines = Lines(r.err);
  if (r.status == 0) return lines.empty() ? "" : Unexpected(lines[0]);
  // A wait that ran out names the pool; any other failure is written with
  // the name, then once more by the entry point without it.
  if (lines.size() == 1 && named.count(lines[0].substr(0, lines[0].find(": "))) != 0 &&
      EndsWith(lines[0], ": Busy") && lines[0].find(": ") + 6 == lines[0].size()) {
    return "";
  }
  if (lines.size() == 2 && IsNamedError(lines[0], named) &&
      lines[0].substr(lines[0].find(": ") + 2) == lines[1]) {
    return "";
  }
  return lines.empty() ? "failed without a message" : Unexpected(lines[0]);
}

// The names after the options of enable and disable.
std::vector<std::string> Operands(const std::vector<std::string>& args) {
  std::vector<std::string> names;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-w") {
      ++i;
    } else if (!StartsWith(args[i], "-")) {
      names.push_back(args[i]);
    }
  }
  return names;
}

}  // namespace

std::string CheckOutcome(const std::vector<std::string>& args, const e2e::RunResult& result,
                         const std::vector<Definition>& definitions) {
  if (result.status != 0 && result.status != 1) {
    return "exit status " + std::to_string(result.status);
  }
  const std::string& command = args.at(0);
  bool writesResults = command == "disable";
  if (!writesResults && !result.out.empty()) return "output \"" + result.out + "\"";
  if (command == "load") return CheckLoad(args, result, definitions);
  if (command == "unload") {
    return CheckUndo(Lines(result.err), 0, result.status, "Failed to recreate ",
                     PoolNames(definitions, false));
  }
  if (command == "enable") return CheckEnable(Operands(args), result);
  if (command == "disable") return CheckDisable(Operands(args), result);
  return "unknown command " + command;
}

}  // namespace concurrency
