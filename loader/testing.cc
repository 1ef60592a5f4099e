#include "loader/testing.h"

#include <pthread.h>
#include <stdlib.h>
#include <sys/xattr.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "gtest/gtest.h"
#include "loader/definition_text.h"
#include "loader/host_facts.h"
#include "loader/value.h"
#include "platform/hostsim/hostsim_testing.h"

namespace loader_testing {
namespace {

std::string MakeTempDir() {
  char dir[] = "/tmp/poolctl-test-XXXXXX";
  if (mkdtemp(dir) == nullptr) abort();
  return dir;
}

void RemoveDir(const std::string& dir) { (void)system(("rm -rf '" + dir + "'").c_str()); }

void SetUpHost(hostsim::State& state) {
  using Type = hostsim::ConfigValue::Type;
  const struct {
    hostsim::ConfigPlace place;
    const char* name;
    hostsim::ConfigValue value;
  } values[] = {
      {{"c", "g", "k", {}}, "int", {Type::kInt, 5, 0, ""}},
      {{"c", "g", "k", {}}, "zero", {Type::kInt, 0, 0, ""}},
      {{"c", "g", "k", {}}, "big", {Type::kInt, 9007199254740993, 0, ""}},
      {{"c", "g", "k", {}}, "real", {Type::kDouble, 0, 2.5, ""}},
      {{"c", "g", "k", {}}, "nan", {Type::kDouble, 0, std::nan(""), ""}},
      {{"c", "g", "k", {}}, "text", {Type::kText, 0, 0, "12"}},
      {{"c", "g", "k", {"a"}}, "shallow", {Type::kInt, 6, 0, ""}},
      {{"c", "g", "k", {"a", "b"}}, "deep", {Type::kInt, 7, 0, ""}},
      {{"", "", "", {}}, "unnamed", {Type::kInt, 3, 0, ""}},
  };
  state.Write([&] {
    hostsim::Facts facts = state.GetFacts();
    facts.bootCmdLine = "quiet memPool=4 swap:DISABLED dbg = yes";
    state.SetFacts(facts);
    for (const auto& v : values) state.SetConfigValue(v.place, v.name, v.value);
    state.SetSwitch("on", true);
    state.SetSwitch("off", false);
    state.SetSwitch(" spaced ", true);
  });
}

std::string Resolve(const std::string& text, bool asBool) {
  try {
    const YAML::Node node = YAML::Load("v: " + text)["v"];
    if (asBool) return ResolveBool(node, Loader::HostFacts()) ? "true" : "false";
    char value[32];
    std::snprintf(value, sizeof value, "%.17g", ResolveNumber(node, Loader::HostFacts()));
    return value;
  } catch (const YAML::Exception& e) {
    if (e.mark.is_null()) return e.msg;
    return std::to_string(e.mark.line + 1) + ":" + std::to_string(e.mark.column + 1) + " " + e.msg;
  } catch (const std::exception& e) {
    return e.what();
  }
}

// Every test process starts on the host, whichever test runs first.
class HostEnvironment : public testing::Environment {
  void SetUp() override { Host(); }
};
testing::Environment* const kHost = testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

hostsim::State& Host() {
  static const std::string dir = MakeTempDir();
  static const std::unique_ptr<hostsim::State> state = [] {
    std::unique_ptr<hostsim::State> s = hostsim::State::Open(dir + "/host.db");
    SetUpHost(*s);
    hostsim::UseStateFile(dir + "/host.db");
    atexit([] { RemoveDir(dir); });
    return s;
  }();
  return *state;
}

TempDir::TempDir() : path(MakeTempDir()) {}
TempDir::~TempDir() { RemoveDir(path); }

std::string TempDir::Write(const std::string& name, const std::string& text, const std::string& mark) const {
  const std::string file = path + "/" + name;
  std::ofstream(file, std::ios::binary) << text;
  if (!mark.empty()) {
    EXPECT_EQ(setxattr(file.c_str(), Loader::internal::kInstalledAttribute, mark.data(), mark.size(), 0), 0);
  }
  return file;
}

std::string Number(const std::string& text) { return Resolve(text, false); }
std::string Bool(const std::string& text) { return Resolve(text, true); }

void OnSmallStack(const std::function<void()>& fn) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1024 * 1024);
  pthread_t thread;
  auto run = [](void* f) -> void* { return (*static_cast<const std::function<void()>*>(f))(), nullptr; };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&fn)), 0);
  pthread_join(thread, nullptr);
}

}  // namespace loader_testing
