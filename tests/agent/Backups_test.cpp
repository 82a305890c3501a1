// The agent's backup entry and hooks with a real controller on a Favorites
// folder of the test's home: the silent backup of the connect step, the
// install backup started after the first read, and the user entry with its
// question and messages.

#include "agent/Backups.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestHome.h"
#include "TestLoop.h"
#include "agent/ConnectStep.h"
#include "archive/Archive.h"
#include "archive/SafetyBackupThread.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/UrlFile.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"
#include "foundation/ThreadRegistry.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PumpUntil;
using test::ReadFileText;

class AgentBackups : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(std::make_shared<TMemoryRegistry>());
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    THandlerList::Clear();
    TArchiveSingleton::ResetForTesting();
    SetFavoritesDirectoryOverride("");
    favorites_ = FavoritesDirectory();
    Favorite("a", "http://a.example/");
    Favorite("News/b", "http://b.example/");
    SetBackupDialogs([this](const std::string& text) {
      questions_.push_back(text);
      return answer_;
    }, [this](const std::string& text) { shown_.push_back(text); });
    InstallBackupHooks();
  }
  void TearDown() override {
    // The install backup's worker must be done before its home goes.
    EXPECT_TRUE(PumpUntil([] { return TThreadRegistry::Count(TSafetyBackupThread::kClassName) == 0; }));
    FreeBookmarksCtrl();
    for (int pass = 0; pass < 10 && PumpMessages(0); ++pass) {
    }
    SetBackupDialogs(nullptr, nullptr);
    SetSilentBackup(nullptr);
    SetSafetyBackupStarter(nullptr);
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  void Favorite(const std::string& relative, const std::string& url) {
    fs::path path = fs::path(favorites_) / (relative + ".url");
    fs::create_directories(path.parent_path());
    WriteUrlFile(path.string(), url, "");
  }

  TBookmarksCtrl& Ctrl() {
    TBookmarksCtrl* ctrl = CreateBookmarksCtrl(0);
    EXPECT_TRUE(PumpUntil([ctrl] { return ctrl->Ready(); }));
    return *ctrl;
  }

  std::vector<std::string> Backups() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(TConfig::ArchivePath(), ec)) {
      if (entry.path().extension() == ".xbel") names.push_back(entry.path().filename().string());
    }
    return names;
  }

  bool LogHas(const std::string& text) const {
    return ReadFileText(TLog::GetFileName()).find(text) != std::string::npos;
  }

  test::TTestHome home_;
  std::string favorites_;
  bool answer_ = true;
  std::vector<std::string> questions_;
  std::vector<std::string> shown_;
};

TEST_F(AgentBackups, FirstReadStartsTheInstallBackupAndConnectMakesTheSilentBackup) {
  Ctrl();
  ASSERT_TRUE(PumpUntil([] { return TConfig::GetSafetyBackupDone(); })) << "no install backup";
  EXPECT_TRUE(fs::exists(TConfig::ArchiveInitPath() + "News/b.url"));

  TConfig::SetSyncMode("merge");
  ConnectStep(0);
  ASSERT_EQ(Backups().size(), 1u);
  EXPECT_NE(Backups().front().find(" (2).xbel"), std::string::npos) << Backups().front();
  // Nothing changed: the periodic run's silent backup adds none.
  EXPECT_FALSE(BackupFavorites(true));
  EXPECT_EQ(Backups().size(), 1u);
  EXPECT_TRUE(questions_.empty());
  EXPECT_TRUE(shown_.empty());
}

TEST_F(AgentBackups, UserEntryAsksMakesAForcedBackupAndSaysSo) {
  Ctrl();
  answer_ = false;
  EXPECT_FALSE(BackupFavorites(false));
  EXPECT_EQ(questions_, (std::vector<std::string>{"Create a backup of your favorites ?"}));
  EXPECT_TRUE(Backups().empty());
  EXPECT_TRUE(shown_.empty());

  answer_ = true;
  EXPECT_TRUE(BackupFavorites(false));
  EXPECT_EQ(Backups().size(), 1u);
  // Forced, even though nothing changed since: the copy is identical and
  // goes again, the backup the user asked for is there all the same.
  EXPECT_TRUE(BackupFavorites(false));
  EXPECT_EQ(Backups().size(), 1u);
  const std::string done = "Your favorites have been backed-up.\nTo restore, click on the menu Actions/Restore...";
  EXPECT_EQ(shown_, (std::vector<std::string>{done, done}));
}

TEST_F(AgentBackups, FailuresAreShownToTheUserAndLoggedWhenSilent) {
  // No controller yet.
  EXPECT_FALSE(BackupFavorites(false));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].rfind("Error making backup of bookmarks (", 0), 0u) << shown_[0];
  EXPECT_FALSE(BackupFavorites(true));
  EXPECT_TRUE(LogHas("Error making backup of bookmarks"));
  EXPECT_EQ(shown_.size(), 1u);

  // The archive folder's place is taken by a file (once the install
  // backup's worker has stopped writing into it).
  Ctrl();
  ASSERT_TRUE(PumpUntil([] {
    return TConfig::GetSafetyBackupDone() &&
           TThreadRegistry::Count(TSafetyBackupThread::kClassName) == 0;
  }));
  const fs::path archive = fs::path(TConfig::ArchivePath()).parent_path();
  fs::create_directories(archive.parent_path());
  fs::remove_all(archive);
  test::WriteFileText(archive, "in the way");
  EXPECT_FALSE(BackupFavorites(false));
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[1], "Error making backup of bookmarks (Invalid path for archive:" + TConfig::ArchivePath() + ")");
}

}  // namespace
}  // namespace kelvo
