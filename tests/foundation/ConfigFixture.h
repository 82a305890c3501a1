#pragma once
// A temporary HOME with its own registry database and a fresh configuration
// store, for the tests of the configuration store and its companions.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "TestHome.h"
#include "foundation/Config.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo::test {

const char* const kKey = "Software\\Kelvo";

// Each test gets its own HOME with a fresh registry database in it.
class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
  }
  void TearDown() override {
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  // What another reader of the database (the sidebar code, kelvoctl) sees.
  std::optional<std::string> Stored(const std::string& section, const std::string& name) {
    std::string path = section.empty() ? kKey : std::string(kKey) + "\\" + section;
    return Registry().ReadString(TRegRoot::HKCU, path, name);
  }

  std::unique_ptr<TTestHome> home_;
};

}  // namespace kelvo::test
