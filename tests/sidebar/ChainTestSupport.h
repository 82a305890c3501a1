#pragma once
// Shared by the live refresh, hidden documents and readiness chain tests: a temporary HOME with an in-memory registry,
// the configuration store's folders computed for an agent "installed" in
// HOME/app/, a debug-level log file to read back, zip archives made on the
// spot, and a window that records the application-state changes.

#include <gtest/gtest.h>
#include <zip.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TestHome.h"
#include "TestLoop.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo::test {

using TZipEntries = std::vector<std::pair<std::string, std::string>>;

// Writes a zip archive of the entries (a name ending in "/" is a folder).
inline void MakeZip(const std::string& path, const TZipEntries& entries) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr) << "zip_open " << err;
  for (const auto& [name, content] : entries) {
    if (!name.empty() && name.back() == '/') {
      ASSERT_GE(zip_dir_add(z, name.c_str(), ZIP_FL_ENC_UTF_8), 0);
      continue;
    }
    zip_source_t* s = zip_source_buffer(z, content.data(), content.size(), 0);
    ASSERT_NE(s, nullptr);
    ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0)
        << name << ": " << zip_strerror(z);
  }
  ASSERT_EQ(zip_close(z), 0);
}

// Delivers messages until the condition holds or the deadline passes.

class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    TLog::Init(5, home_->Sub("test.log"), false, false);
    InitPaths();
    states_ = CreateWindowObject("TTestStateWindow", [this](HWND h, UINT m, WPARAM w, LPARAM l) {
      if (m == KM_APP_STATE_CHANGED) {
        added_.push_back(static_cast<TAppState>(w));
        return LRESULT{0};
      }
      return DefWindowProc(h, m, w, l);
    });
    THandlerList::Add(states_);
  }
  void TearDown() override {
    THandlerList::Remove(states_);
    DestroyWindowObject(states_);
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  void InitPaths() { TConfig::InitPaths(0, AppDir() + "kelvo", false); }
  std::string AppDir() const { return home_->Sub("app") + "/"; }
  std::string Log() const { return ReadFileText(home_->Sub("test.log")); }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  bool StateAdded(TAppState flag) {
    PumpMessages(0);
    for (TAppState f : added_) {
      if (f == flag) return true;
    }
    return false;
  }

  std::unique_ptr<TTestHome> home_;
  HWND states_ = 0;
  std::vector<TAppState> added_;
};

}  // namespace kelvo::test
