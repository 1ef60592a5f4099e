// Every bad definition file of expected.txt through `poolctl load FILE` on one simulated host:
// status 1 and exactly its line on standard error, within a time bound (unchecked with
// --hangs-only, as ctest runs it beside other tests); then the groups are as they were and no
// list is left. Prints one line per failure and "RELIABILITY inputs N failures F".
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/harness/harness.h"

namespace {

// A case's file, and whether it runs with the installed mark forged on every file, and as nobody.
struct Case {
  std::string path;
  bool forgeMark = false, asNobody = false;
};

e2e::SimHost host;
int failures = 0;

std::string Repeat(const std::string& unit, size_t times) {
  std::string text;
  while (times-- > 0) text += unit;
  return text;
}

// A long reason is shown by its start and its length.
void Fail(const std::string& name, std::string reason) {
  std::replace(reason.begin(), reason.end(), '\n', '|');
  std::printf("FAIL %s: %.400s (%zu bytes)\n", name.c_str(), reason.c_str(), reason.size());
  ++failures;
}

std::string Marked(const std::string& name, const std::string& text) {
  const std::string path = host.WriteFile(name + ".yaml", text);
  host.Hostsim({"mark", path});
  return path;
}

// The files made here, by case name: a text one byte over the size cap, long ones below it, deep
// nesting, and files that are no plain files.
std::map<std::string, Case> MadeFiles() {
  const std::string text(250000, 'k'), dir = host.dir() + "/";
  const size_t deep = 100000;
  std::map<std::string, Case> made;
  for (const auto& [name, content] : std::map<std::string, std::string>{
           {"too_large", std::string(256 * 1024 + 1, '#')},
           {"long_value", "- name: a\n  mem: " + text + "\n"},
           {"long_key", "- " + text + ": 1\n"},
           {"long_tag_argument", "- name: a\n  mem: !bootOption {key: " + text + "}\n"},
           {"long_quoted_name", "- name: '" + text + "'\n  mem: x\n"},
           {"dense_flow_sequence", "[" + Repeat("1,", 125000) + "\n"},
           {"deep_flow_sequences", Repeat("[", deep) + Repeat("]", deep) + "\n"},
           {"deep_flow_maps", Repeat("{", deep) + Repeat("}", deep) + "\n"},
           {"deep_block_sequences", Repeat("- ", deep) + "1\n"},
           {"deep_block_maps", Repeat("? ", deep) + "a\n"},
           {"deep_in_calc", "- name: a\n  mem: !calc {x: " + Repeat("[", deep) + Repeat("]", deep) + ", '=': x}\n"}}) {
    made[name].path = Marked(name, content);
  }
  // FIFOs and sockets cannot carry the mark; forged, they must still never block the open.
  mkdir((dir + "directory").c_str(), 0755);
  host.Hostsim({"mark", dir + "directory"});
  mkfifo((dir + "fifo").c_str(), 0644);
  symlink((dir + "fifo").c_str(), (dir + "fifo_link").c_str());
  symlink("/dev/zero", (dir + "zero_link").c_str());
  sockaddr_un address{AF_UNIX, {}};
  std::strncpy(address.sun_path, (dir + "socket").c_str(), sizeof address.sun_path - 1);
  if (bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address), sizeof address)) Fail("socket", "no bind");
  // As nobody: the mark of a file it may not read cannot be read either.
  const std::string closed = Marked("closed", "- name: a\n");
  chmod(closed.c_str(), 0);
  made.insert({{"directory", {dir + "directory"}}, {"missing", {dir + "missing"}}, {"fifo", {dir + "fifo"}},
               {"fifo_behind_link", {dir + "fifo_link"}}, {"fifo_marked", {dir + "fifo", true}}, {"socket", {dir + "socket"}},
               {"socket_marked", {dir + "socket", true}}, {"endless_device_marked", {dir + "zero_link", true}},
               {"read_error_marked", {"/proc/self/mem", true}},  // its read fails
               {"unreadable", {closed, false, true}}, {"unreadable_marked", {closed, true, true}}});
  return made;
}

}  // namespace

int main(int argc, char** argv) {
  const bool hangsOnly = argc > 1 && std::strcmp(argv[1], "--hangs-only") == 0;
  // An unprivileged poolctl must still reach the simulated host.
  if (host.Hostsim({"init"}).status != 0) Fail("set-up", "hostsim init failed");
  chmod(host.dir().c_str(), 0777);
  for (const char* suffix : {"", "-wal", "-shm"}) chmod((host.db() + suffix).c_str(), 0666);
  std::map<std::string, Case> made = MadeFiles();
  // The cases of expected.txt (name, tab, line; {path} stands for the path), and one whose line
  // quotes 200,000 bytes.
  std::vector<std::pair<std::string, std::string>> cases;
  std::ifstream table(HOSTILE_DIR "/expected.txt");
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::string name = line.substr(0, line.find('\t'));
    std::ifstream file(HOSTILE_DIR "/cases/" + name + ".yaml", std::ios::binary);
    if (file) made[name].path = Marked(name, std::string(std::istreambuf_iterator<char>(file), {}));
    if (made[name].path.empty() || line.find('\t') == std::string::npos) Fail(name, "no file, or no tab");
    cases.push_back({name, line.substr(std::min(line.size(), name.size() + 1))});
  }
  const std::string nested = Repeat("(", 100000) + "1" + Repeat(")", 100000);
  made["deep_calc_parentheses"].path = Marked("deep_calc_parentheses", "- name: a\n  mem: !calc " + nested + "\n");
  cases.push_back({"deep_calc_parentheses", "{path}: line 2 column 8: expression nested too deeply at '" + nested.substr(2000) + "'"});
  const std::string groups = host.Hostsim({"groups"}).out;
  for (auto [name, expected] : cases) {
    const Case& c = made[name];
    if (c.path.empty()) continue;  // reported when it was read
    if (expected.find("{path}") != std::string::npos) expected.replace(expected.find("{path}"), 6, c.path);
    e2e::Args env = {host.Env()}, args = {"load", c.path};
    // The forger is loaded ahead of a sanitizer's runtime.
    if (c.forgeMark) env = {host.Env(), "LD_PRELOAD=" MARK_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0"};
    if (c.asNobody) args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", POOLCTL_BIN});
    const auto start = std::chrono::steady_clock::now();
    const e2e::RunResult r = e2e::Run(c.asNobody ? "/usr/bin/setpriv" : POOLCTL_BIN, args, env, 30);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::string reasons;
    if (r.status != 1) reasons += " exit status " + std::to_string(r.status) + ";";
    if (r.err != expected + "\n") reasons += " stderr \"" + r.err + "\";";
    if (!hangsOnly && seconds.count() > HOSTILE_BOUND_SECONDS) reasons += " took " + std::to_string(seconds.count()) + " s;";
    if (!reasons.empty()) Fail(name, reasons.substr(1));
  }
  // No case gets as far as the kernel.
  if (host.Hostsim({"groups"}).out != groups) Fail("all", "the host's groups changed");
  const e2e::RunResult leaks = host.Hostsim({"leaks"});
  if (leaks.out != "0\n") Fail("all", "parameter lists left undestroyed: " + leaks.out + leaks.err);
  std::printf("RELIABILITY inputs %zu failures %d\n", cases.size(), failures);
  return failures == 0 ? 0 : 1;
}
