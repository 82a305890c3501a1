#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "ArchiveTestSupport.h"
#include "archive/SafetyBackupThread.h"
#include "foundation/ThreadRegistry.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using SafetyBackupTest = ArchiveTestBase;

TEST_F(SafetyBackupTest, CopiesTheWholeFolderOnceAndRecordsIt) {
  WriteFavorite("a", "http://a.example/");
  WriteFavorite("News/Deep/b", "http://b.example/");
  WriteFileText(fs::path(favorites_) / "desktop.ini", "[x]");
  ASSERT_FALSE(TConfig::GetSafetyBackupDone());
  auto thread = TSafetyBackupThread::StartIfNeeded(favorites_);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(thread->WaitFinished(10s));
  EXPECT_TRUE(thread->Succeeded());
  const std::string init = TConfig::ArchiveInitPath();
  EXPECT_TRUE(fs::exists(init + "a.url"));
  EXPECT_TRUE(fs::exists(init + "News/Deep/b.url"));
  EXPECT_TRUE(fs::exists(init + "desktop.ini"));
  EXPECT_TRUE(TConfig::GetSafetyBackupDone());
  EXPECT_TRUE(LogHas("Doing safety backup to " + init));
  // Made once: a later start does not copy again.
  EXPECT_EQ(TSafetyBackupThread::StartIfNeeded(favorites_), nullptr);
}

TEST_F(SafetyBackupTest, FailedCopyIsTriedAgainAtTheNextStart) {
  WriteFavorite("a", "http://a.example/");
  // The backup folder's place is taken by a file: nothing can be copied.
  const fs::path init = fs::path(TConfig::ArchiveInitPath()).parent_path();
  fs::create_directories(init.parent_path());
  WriteFileText(init, "in the way");
  auto first = TSafetyBackupThread::StartIfNeeded(favorites_);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->WaitFinished(10s));
  EXPECT_FALSE(first->Succeeded());
  EXPECT_FALSE(TConfig::GetSafetyBackupDone());
  EXPECT_TRUE(LogHas("TSafetyBackupThread"));

  fs::remove(init);
  auto second = TSafetyBackupThread::StartIfNeeded(favorites_);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(second->WaitFinished(10s));
  EXPECT_TRUE(second->Succeeded());
  EXPECT_TRUE(fs::exists(init / "a.url"));
  EXPECT_TRUE(TConfig::GetSafetyBackupDone());
  EXPECT_EQ(TThreadRegistry::Count(TSafetyBackupThread::kClassName), 0);
}

TEST_F(SafetyBackupTest, MissingFavoritesFolderIsAFailureNotABackup) {
  fs::remove_all(favorites_);
  EXPECT_FALSE(TSafetyBackupThread::Run(favorites_, TConfig::ArchiveInitPath()));
  EXPECT_FALSE(TConfig::GetSafetyBackupDone());
}

}  // namespace
}  // namespace kelvo::test
