#pragma once
// A temporary HOME with an in-memory settings store and a log file, a
// folder for pages, and a deadline-bounded wait on the message loop.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "pagehost/PageHost.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo::test {

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1", 1);
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    logFile_ = home_.Sub("kelvo.log");
    TLog::Init(5, logFile_, false, false);
  }
  void TearDown() override {
    TPageHost::Shutdown();
    TPageHost::OverrideTimeLimit(0);
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  // Writes a page (or script) under the home's "pages" folder; answers its path.
  std::string Page(const std::string& name, const std::string& text) {
    const std::string path = home_.Sub("pages/" + name);
    WriteFileText(path, text);
    return path;
  }

  std::string LogText() const { return ReadFileText(logFile_); }

  // Pumps the message loop until done() holds or the deadline passes (long:
  // the machine may be busy, and a wait that succeeds ends at once).
  static bool WaitFor(const std::function<bool()>& done, int deadlineMs = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      PumpMessages(20);
    }
    return true;
  }

  // Reads a global of the document as text.
  static std::string Global(TPageDocument& doc, const std::string& name) {
    return doc.Window().Get(name).ToString();
  }

  TTestHome home_;
  std::string logFile_;
};

}  // namespace kelvo::test
