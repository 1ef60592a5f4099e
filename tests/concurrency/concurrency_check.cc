// concurrency_check [--rounds N] [--seed S]: several poolctl processes at once
// on one simulated host, round after round. Each must end as its command
// specifies; after each round the state must be sound, with no leaked list,
// no group left busy, and each annex parent's memory minimum matching its
// annex children. One line per failure, then: RELIABILITY concurrent N failures F
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>

#include "tests/faults/judge.h"

namespace {

using judge::Args;

const char kAnnex[] = "host/opt/vms/burst", kParent[] = "host/opt/vms", kBusy[] = "host/opt/vms/gold";

// What a round draws its commands from; in the last mix, kBusy has a world
// attached when the round starts, which the driver frees a moment later.
const std::vector<Args> kMixes[] = {
    {{"enable", kAnnex}, {"disable", kAnnex}, {"disable", "-n", kAnnex}, {"enable", kParent, kAnnex},
     {"disable", "-w", "1", kAnnex}},
    {{"enable", kParent}, {"disable", "-n", kParent}, {"enable", kAnnex}, {"disable", kAnnex}, {"enable", kParent, kAnnex}},
    {{"load"}, {"load", "-q"}, {"unload"}, {"enable", kAnnex}, {"disable", "-n", kParent}},
    {{"load"}, {"unload"}, {"enable", kAnnex}, {"disable", kAnnex}, {"enable", kParent}, {"disable", "-n", kParent},
     {"disable", kParent}, {"enable", "host/opt/vms/staging", kAnnex},
     {"disable", "host/opt/vms/staging", "host/system/logging"}, {"enable", "host/system/logging"}},
    {{"disable", "-w", "2", kBusy}, {"disable", kBusy}, {"disable", "-n", kBusy}, {"enable", kBusy}, {"unload"},
     {"load", "-q"}, {"enable", kAnnex}, {"disable", kAnnex}},
};
constexpr size_t kBusyMix = 4;
// The hosts a round starts from, made by runs one after another.
const std::vector<Args> kStarts[] = {
    {}, {{"load", "-q"}}, {{"load", "-q"}, {"enable", kAnnex}}, {{"load", "-q"}, {"disable", "-n", kParent}},
    {{"load", "-q"}, {"disable", "-n", kParent}, {"enable", kAnnex}}};

}  // namespace

int main(int argc, char** argv) {
  int rounds = 250, seed = 1, processes = 0, failures = 0;
  for (int i = 1; i < argc; i += 2) {
    std::string option = argv[i];
    if (i + 1 == argc || (option != "--rounds" && option != "--seed")) {
      std::fprintf(stderr, "usage: concurrency_check [--rounds N] [--seed S]\n");
      return 2;
    }
    (option == "--seed" ? seed : rounds) = std::atoi(argv[i + 1]);
  }
  try {
    e2e::SimHost host;
    Args files;
    judge::Annex annex = judge::Examples(host, &files);
    std::string rpd = host.dir() + "/rp.d";
    if (host.PoolctlWithDefinitions(rpd, {"list"}).status == e2e::kNoPrivateEtc) return 77;
    std::mt19937 random(seed);
    std::discrete_distribution<size_t> pickMix({3, 2, 1, 1, 1});  // how often each mix is drawn
    bool sound = false;
    for (int round = 1; round <= rounds; ++round) {
      size_t mix = pickMix(random);
      std::string where = "round " + std::to_string(round);  // and its commands
      auto fail = [&](const std::string& what) {
        std::printf("%s: %s\n", where.c_str(), what.c_str());
        ++failures;
        sound = false;
      };
      bool fresh = !sound || mix == kBusyMix || random() % 2 == 0;
      sound = true;
      if (fresh) host.Hostsim({"init"});
      for (const Args& args : fresh ? kStarts[mix == kBusyMix ? 1 : random() % 5] : kStarts[0]) {
        e2e::RunResult r = host.PoolctlWithDefinitions(rpd, args);
        if (r.status != 0) fail("set-up " + args[0] + ": " + r.err);
      }
      if (mix == kBusyMix) host.Hostsim({"busy", kBusy, "1"});
      std::vector<Args> commands;  // 3 to 6 processes
      std::vector<std::unique_ptr<e2e::Process>> running;
      for (size_t i = 3 + random() % 4; i > 0; --i) {
        commands.push_back(kMixes[mix][random() % kMixes[mix].size()]);
        running.emplace_back(host.StartPoolctlWithDefinitions(rpd, commands.back()));
        where += commands.size() == 1 ? ": poolctl" : " | poolctl";
        for (const std::string& a : commands.back()) where += " " + a;
      }
      if (mix == kBusyMix) {
        usleep(20000);  // long enough for a waiting disable to try a few times
        host.Hostsim({"busy", kBusy, "0"});
      }
      for (size_t i = 0; i < running.size(); ++i) {
        std::string wrong = judge::Judge(commands[i], running[i]->Wait(), "");
        if (!wrong.empty()) fail("process " + std::to_string(i + 1) + ": " + wrong);
      }
      processes += static_cast<int>(running.size());
      judge::Look look = judge::Inspect(host.db(), annex, true);
      for (const std::string& problem : look.problems) fail(problem);
      for (const auto& [path, records] : look.groups) {
        if (records.substr(records.rfind(' ')) != " 0") fail(path + " still has worlds");
      }
    }
  } catch (const std::exception& e) {
    std::printf("driver stopped: %s\n", e.what());
    ++failures;
  }
  std::printf("RELIABILITY concurrent %d failures %d\n", processes, failures);
  return failures == 0 ? 0 : 1;
}
