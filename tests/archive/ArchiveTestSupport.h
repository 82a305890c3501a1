#pragma once
// Shared fixture of the archive tests: its own HOME with a fresh settings
// database and data folders, the log at the debug level in a file, a
// Favorites folder under the home, and helpers that build small Favorites
// trees on disk or in memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TestHome.h"
#include "archive/Archive.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/UrlFile.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"
#include "server/ServerResponseHandlers.h"

namespace kelvo::test {

class ArchiveTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TTestHome>();
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");  // no first-run migration
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    logFile_ = home_->Sub("kelvo-test.log");
    TLog::Init(5, logFile_, false, false);
    TArchiveSingleton::ResetForTesting();
    TClientSingletons::ResetForTesting();
    messages_.clear();
    SetArchiveMessageSink([this](const std::string& text) { messages_.push_back(text); });
    favorites_ = home_->Sub("Favorites/");
    archive_ = home_->Sub("archive/");
    std::filesystem::create_directories(favorites_);
  }
  void TearDown() override {
    SetArchiveMessageSink(nullptr);
    TArchiveSingleton::ResetForTesting();
    TClientSingletons::ResetForTesting();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  std::string LogText() const { return ReadFileText(logFile_); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  // An in-memory tree of `links` bookmarks, every fifth in a folder "Sub",
  // named after `tag` so that trees of different tags differ.
  static std::shared_ptr<TDefaultSimpleTree> MemoryTree(int links, const std::string& tag = "b") {
    auto tree = std::make_shared<TDefaultSimpleTree>("My Favorites");
    auto sub = std::make_shared<TFolder>("Sub");
    tree->Add(sub);
    for (int i = 0; i < links; ++i) {
      auto bookmark = std::make_shared<TBookmark>(tag + std::to_string(i),
                                                  "http://example.com/" + tag + "/" + std::to_string(i));
      if (i % 5 == 4) {
        sub->Add(bookmark);
      } else {
        tree->Add(bookmark);
      }
    }
    tree->InitHashes();
    return tree;
  }

  // Writes a .url file below the Favorites folder ("News/a" -> News/a.url).
  void WriteFavorite(const std::string& relative, const std::string& url) {
    std::filesystem::path path = std::filesystem::path(favorites_) / (relative + ".url");
    std::filesystem::create_directories(path.parent_path());
    WriteUrlFile(path.string(), url, "");
  }

  std::vector<std::string> ArchiveFiles(const std::string& extension = ".xbel") const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(archive_, ec)) {
      if (entry.path().extension() == extension) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::unique_ptr<TTestHome> home_;
  std::string logFile_;
  std::string favorites_;
  std::string archive_;
  std::vector<std::string> messages_;
};

inline TDateTime At(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0) {
  return TDateTime{year, month, day, hour, minute, second, ms};
}

}  // namespace kelvo::test
