#include "loader/testing.h"

#include <pthread.h>
#include <stdlib.h>
#include <sys/xattr.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "gtest/gtest.h"
#include "loader/definition_text.h"
#include "loader/host_facts.h"
#include "loader/value.h"
#include "platform/hostsim/hostsim_testing.h"
#include "platform/kernel_records.h"

namespace loader_testing {
namespace {

// Every test process starts on the host, whichever test runs first.
class HostEnvironment : public testing::Environment {
  void SetUp() override { Host(); }
};
testing::Environment* const kHost = testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

const std::string& Dir() {
  static char path[] = "/tmp/poolctl-test-XXXXXX";
  static const std::string dir = mkdtemp(path) != nullptr ? path : throw std::runtime_error("mkdtemp");
  return dir;
}

hostsim::State& Host() {
  static const std::unique_ptr<hostsim::State> state = [] {
    using Type = hostsim::ConfigValue::Type;
    const std::tuple<hostsim::ConfigPlace, const char*, hostsim::ConfigValue> values[] = {
        {{"c", "g", "k", {}}, "int", {Type::kInt, 5, 0, ""}},
        {{"c", "g", "k", {}}, "zero", {Type::kInt, 0, 0, ""}},
        {{"c", "g", "k", {}}, "nan", {Type::kDouble, 0, std::nan(""), ""}},
        {{"c", "g", "k", {}}, "text", {Type::kText, 0, 0, "12"}},
        {{"c", "g", "k", {"a", "b"}}, "deep", {Type::kInt, 7, 0, ""}},
        {{"", "", "", {}}, "unnamed", {Type::kInt, 3, 0, ""}},
    };
    std::unique_ptr<hostsim::State> s = hostsim::State::Open(Dir() + "/host.db");
    s->Write([&] {
      hostsim::Facts facts = s->settings().GetFacts();
      facts.bootCmdLine = "quiet memPool=4 swap:DISABLED dbg = yes";
      s->settings().SetFacts(facts);
      for (const auto& [place, name, value] : values) s->settings().SetValue(place, name, value);
      for (const char* name : {"on", " spaced "}) s->settings().SetSwitch(name, true);
    });
    hostsim::UseStateFile(Dir() + "/host.db");
    atexit([] { (void)system(("rm -rf '" + Dir() + "'").c_str()); });
    return s;
  }();
  return *state;
}

std::string Write(const std::string& name, const std::string& text, const std::string& mark) {
  const std::string file = Dir() + "/" + name;
  std::ofstream(file, std::ios::binary) << text;
  EXPECT_TRUE(mark.empty() || setxattr(file.c_str(), KernelRecords::kInstalledAttribute,
                                       mark.data(), mark.size(), 0) == 0);
  return file;
}

std::string Resolve(const std::string& text, bool asBool) {
  try {
    const YAML::Node node = YAML::Load("v: " + text)["v"];
    if (asBool) return ResolveBool(node, Loader::HostFacts()) ? "true" : "false";
    char value[32];
    std::snprintf(value, sizeof value, "%.17g", ResolveNumber(node, Loader::HostFacts()));
    return value;
  } catch (const YAML::Exception& e) {
    return std::to_string(e.mark.line + 1) + ":" + std::to_string(e.mark.column + 1) + " " + e.msg;
  }
}

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
