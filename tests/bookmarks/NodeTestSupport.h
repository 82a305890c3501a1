#pragma once
// Shared pieces of the bookmark-model tests: a fixture whose log goes to a
// file under its own HOME, and a recording node map.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TestHome.h"
#include "bookmarks/BNode.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo::test {

class NodeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    logFile_ = home_->Sub("kelvo-test.log");
    TLog::Init(5, logFile_, false, false);
  }
  void TearDown() override {
    THashTrace::Discard();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  std::string LogText() const { return ReadFileText(logFile_); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  std::unique_ptr<TTestHome> home_;
  std::string logFile_;
};

// Keeps every pair put, in order.
class TRecordingMap : public INodeMap {
 public:
  void Put(const std::string& key, const IBNodePtr& node) override { pairs.emplace_back(key, node); }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const auto& pair : pairs) keys.push_back(pair.first);
    return keys;
  }
  std::vector<std::pair<std::string, IBNodePtr>> pairs;
};

}  // namespace kelvo::test
