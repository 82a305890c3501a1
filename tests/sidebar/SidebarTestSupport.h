#pragma once
// Shared by the sidebar services tests: a temporary HOME with an in-memory
// registry, the configuration store's folders computed for it, and a
// debug-level log file to read back.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo::test {

class SidebarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    TLog::Init(5, home_->Sub("test.log"), false, false);
    TConfig::InitPaths(0, home_->Sub("app") + "/kelvo", false);
  }
  void TearDown() override {
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  std::string Log() const { return ReadFileText(home_->Sub("test.log")); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

  std::unique_ptr<TTestHome> home_;
};

}  // namespace kelvo::test
