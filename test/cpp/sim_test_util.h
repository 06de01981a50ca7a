// Helpers for tests of the simulated desktop through the platform seam.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "sim/control.h"
#include "sim/json.h"

namespace simtest {

inline sim::Json Cmd(const std::string& name, sim::Json args = sim::Json::Array()) {
  sim::Json result;
  std::string error;
  EXPECT_TRUE(sim::RunCommand(name, args, &result, &error)) << name << ": " << error;
  return result;
}

inline sim::Json Args(std::initializer_list<sim::Json> items) {
  sim::Json a = sim::Json::Array();
  for (const auto& i : items) a.push(i);
  return a;
}

inline sim::Json ParseJson(const std::string& text) {
  sim::Json j;
  std::string error;
  EXPECT_TRUE(sim::Json::Parse(text, &j, &error)) << error;
  return j;
}

inline void LoadSample() {
  std::string here = __FILE__;
  std::string path = here.substr(0, here.rfind('/')) + "/../../scenes/sample-scene.json";
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  Cmd("reset");
  Cmd("loadScene", Args({ParseJson(ss.str())}));
}

inline platform::Platform& P() { return platform::Get(); }

// Reads a string attribute ("" when unreadable).
inline std::string Str(const platform::AXElement& el, const std::string& attr) {
  platform::Value v;
  if (P().ax().CopyAttributeValue(el, attr, &v) != platform::kAXErrorSuccess) return "";
  return v.string() ? *v.string() : "";
}

inline platform::AXElement Elem(const platform::AXElement& el, const std::string& attr) {
  platform::Value v;
  if (P().ax().CopyAttributeValue(el, attr, &v) != platform::kAXErrorSuccess || !v.element())
    return {};
  return *v.element();
}

inline int64_t LiveHandles(const std::string& id) {
  return Cmd("element", Args({sim::Json(id)}))["liveHandles"].as_int(-1);
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadSample(); }
  void TearDown() override { Cmd("reset"); }
};

}  // namespace simtest
