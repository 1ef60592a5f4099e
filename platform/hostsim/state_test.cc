#include "platform/hostsim/state.h"

#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "kni.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/e2e/harness.h"

namespace hostsim {
namespace {

std::vector<std::string> Paths(State& state) {
  std::vector<std::string> paths;
  state.Read([&] {
    for (const Group& g : state.AllGroups()) paths.push_back(g.path);
  });
  return paths;
}

// What every reader may rely on: each group hangs below an existing parent
// under its own name, and the next id is above every id handed out.
void ExpectConsistent(const std::string& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  std::unique_ptr<State> state = State::Open(file, true);
  state->Write([&] {
    std::map<uint64_t, Group> byId;
    uint64_t maxId = 0;
    for (const Group& g : state->AllGroups()) {
      byId[g.id] = g;
      maxId = std::max(maxId, g.id);
    }
    for (const auto& [id, g] : byId) {
      if (!g.parent) {
        EXPECT_EQ(id, 0u);
        continue;
      }
      ASSERT_TRUE(byId.count(*g.parent)) << g.path << " has no parent";
      EXPECT_EQ(g.path, ChildPath(byId[*g.parent].path, g.name));
    }
    EXPECT_GT(state->AddGroup(byId.at(3), "probe", kNewGroupMem, kNewGroupCpu), maxId);
  });
}

class StateTest : public ::testing::Test {
 protected:
  e2e::SimHost host_;
};

TEST_F(StateTest, ResetWorksInPlaceUnderOtherConnections) {
  std::unique_ptr<State> a = State::Open(host_.db());
  std::unique_ptr<State> b = State::Open(host_.db());
  a->Write([&] {
    Group opt = *a->FindGroup("host/opt");
    a->AddGroup(opt, "x", kNewGroupMem, kNewGroupCpu);
    a->AddFaultRule({"Get", std::nullopt, std::nullopt, 1, 0, 1});
    a->SetTracing(true);
    a->AppendTrace({"KNI_Get", "n", "1", "-", "0x00000000"});
    a->AddLeaks(3);
    a->SetKernelBuild("pinned");
  });
  b->Write([&] { b->Reset(Facts{}); });
  a->Write([&] {
    EXPECT_FALSE(a->FindGroup("host/opt/x"));
    EXPECT_TRUE(a->FaultRules().empty());
    EXPECT_FALSE(a->Tracing());
    EXPECT_TRUE(a->Trace().empty());
    EXPECT_EQ(a->Leaks(), 0u);
    EXPECT_FALSE(a->KernelBuild());
    EXPECT_EQ(a->AddGroup(*a->FindGroup("host/opt"), "y", kNewGroupMem, kNewGroupCpu), 5u);
  });
  EXPECT_EQ(Paths(*b), (std::vector<std::string>{"", "host", "host/opt", "host/opt/y",
                                                 "host/system", "host/user"}));
}

TEST_F(StateTest, FailedTransactionsLeaveNoTrace) {
  std::unique_ptr<State> state = State::Open(host_.db());
  EXPECT_THROW(state->Write([&] {
    state->AddGroup(*state->FindGroup("host"), "half", kNewGroupMem, kNewGroupCpu);
    throw StateError("stop");
  }),
               StateError);
  state->Read([&] { EXPECT_FALSE(state->FindGroup("host/half")); });
}

// Each rule counts the calls it matches; the oldest one done skipping fires.
TEST_F(StateTest, FaultRulesSkipThenFireInOrder) {
  std::unique_ptr<State> state = State::Open(host_.db());
  auto path = [](const char* p) {
    return [p]() -> std::optional<std::string> { return std::string(p); };
  };
  struct Step {
    const char* node;
    const char* path;
    std::optional<uint32_t> fired;
  } steps[] = {
      {"a", "host", std::nullopt},  // rule 1 skips (1 left -> 0), rule 2 skips (2 -> 1)
      {"b", "host", std::nullopt},  // rule 1: other node; rule 2 skips (1 -> 0)
      {"b", "x", std::nullopt},     // rule 1: other node; rule 2: other path
      {"a", "host", 11},            // rule 1 fires (times 2 -> 1); rule 2 could fire but is younger
      {"a", "host", 11},            // rule 1 fires its last time and goes
      {"a", "host", 22},            // rule 2 fires, for ever
      {"a", "host", 22},
  };
  state->Write([&] {
    state->AddFaultRule({"Get", "a", std::nullopt, 11, 1, 2});
    state->AddFaultRule({"Get", std::nullopt, "host", 22, 2, 0});
    state->AddFaultRule({"Set", std::nullopt, std::nullopt, 33, 0, 0});
    for (const Step& s : steps) {
      EXPECT_EQ(state->ConsumeFault("Get", s.node, path(s.path)), s.fired)
          << s.node << " " << s.path;
    }
    std::vector<FaultRule> left = state->FaultRules();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].status, 22u);
    EXPECT_EQ(left[0].skip, 0u);
    EXPECT_EQ(left[1].call, "Set");
  });
}

TEST_F(StateTest, WritersOfSeveralConnectionsLoseNothing) {
  constexpr int kWriters = 4, kGroupsEach = 40;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      std::unique_ptr<State> state = State::Open(host_.db());
      for (int i = 0; i < kGroupsEach; ++i) {
        state->Write([&] {
          state->AddGroup(*state->FindGroup("host/opt"),
                          std::to_string(w) + "-" + std::to_string(i), kNewGroupMem, kNewGroupCpu);
        });
      }
    });
  }
  for (std::thread& t : writers) t.join();
  std::unique_ptr<State> state = State::Open(host_.db());
  EXPECT_EQ(Paths(*state).size(), 5u + kWriters * kGroupsEach);
}

// A process killed in the middle of its calls leaves every group whole or
// absent, and the process that forked it keeps its own connection.
TEST_F(StateTest, KilledWritersLeaveTheFileConsistent) {
  UseStateFile(host_.db());
  char path[KNI_GROUP_PATH_SIZE];
  KNI_ParamList* opt = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
  ASSERT_EQ(KNI_ParamListAddInt(opt, 3), ZRV_OK);
  ASSERT_EQ(KNI_Get(KNI_NODE_sched_groups_groupPathName, opt, path, sizeof path), ZRV_OK);

  std::mt19937 rng(12345);
  for (int round = 0; round < 12; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (uint64_t i = 0;; ++i) {
        KNI_ParamList* name = KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, 1);
        std::string text = std::to_string(getpid()) + "-" + std::to_string(i);
        KNI_ParamListAddString(name, text.c_str());
        uint64_t id = 0;
        KNI_Set(KNI_NODE_sched_groups_groupCreate, opt, name, &id, sizeof id);
        KNI_ParamListDestroy(name);
        if (i % 3 == 2) {
          KNI_ParamList* victim = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
          KNI_ParamListAddInt(victim, id);
          KNI_Set(KNI_NODE_sched_groups_delete, victim, nullptr, nullptr, 0);
          KNI_ParamListDestroy(victim);
        }
      }
    }
    usleep(2000 + rng() % 20000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
  }
  EXPECT_EQ(KNI_Get(KNI_NODE_sched_groups_groupPathName, opt, path, sizeof path), ZRV_OK);
  EXPECT_STREQ(path, "host/opt");
  KNI_ParamListDestroy(opt);
  ExpectConsistent(host_.db());
  std::unique_ptr<State> state = State::Open(host_.db());
  EXPECT_GT(Paths(*state).size(), 5u) << "the children made no group at all";
}

TEST_F(StateTest, OpeningWhatIsNoStateFails) {
  std::string text = host_.WriteFile("text", std::string(4096, 'x'));
  EXPECT_THROW(State::Open(text), StateError);
  EXPECT_THROW(State::Open(host_.dir() + "/missing", true), StateError);
  EXPECT_THROW(State::Open(host_.dir() + "/no/such/folder/host.db"), StateError);
}

}  // namespace
}  // namespace hostsim
