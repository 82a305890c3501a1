#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ArchiveTestSupport.h"
#include "archive/Archive.h"
#include "bookmarks/XBEL.h"
#include "foundation/FileTools.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

using ArchiveTest = ArchiveTestBase;

TEST(ArchiveNames, FileNameCarriesMillisecondsAndLinkCount) {
  EXPECT_EQ(ArchiveFileName("/a/archive", At(2009, 3, 7, 14, 5, 9, 45), 12),
            "/a/archive/Archive 2009-03-07 14.05.09.045 (12).xbel");
  struct TCase {
    const char* name;
    int count;
  };
  const TCase cases[] = {
      {"/x/Archive 2009-03-07 14.05.09.045 (12).xbel", 12},
      {"Archive (0).xbel", 0},
      {"Archive (7) (9).xbel", 7},
      {"Archive ().xbel", -1},
      {"Archive (12a).xbel", -1},
      {"Archive (-3).xbel", -3},
      {"Archive 2009.xbel", -1},
      {"Archive (12.xbel", -1},
      // Only the file name counts, not a parenthesis of the folder.
      {"/old (5)/Archive.xbel", -1},
      {"Archive (99999999999999999999).xbel", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(LinkCountFromFileName(c.name), c.count) << c.name;
}

// The "+ 10 links or 24 hours" rule against a backup made at 12:00 with
// 20 links.
TEST_F(ArchiveTest, BackupOnlyAfterTenNewLinksOrADay) {
  struct TCase {
    int links;
    TDateTime now;
    bool expected;
  };
  const TDateTime made = At(2026, 3, 1, 12, 0);
  const TCase cases[] = {
      {29, At(2026, 3, 1, 17, 0), false},      // 9 new, 5 hours
      {30, At(2026, 3, 1, 17, 0), true},       // 10 new
      {18, At(2026, 3, 2, 13, 0), true},       // 2 fewer, 25 hours
      {18, At(2026, 3, 2, 12, 59, 59), false},  // 24 whole hours are not more than 24
      {20, At(2026, 3, 1, 12, 0, 1), false},   // nothing new, just made
  };
  for (const auto& c : cases) {
    fs::remove_all(archive_);
    auto first = ArchiveTree(MemoryTree(20, "first"), favorites_, archive_, true, made);
    ASSERT_TRUE(first.written);
    auto outcome = ArchiveTree(MemoryTree(c.links, "second"), favorites_, archive_, false, c.now);
    EXPECT_EQ(outcome.written, c.expected) << c.links << " links at " << DateTimeToSettingText(c.now);
    EXPECT_EQ(ArchiveFiles().size(), c.expected ? 2u : 1u);
    if (c.expected) {
      EXPECT_EQ(fs::path(outcome.fileName).filename().string(),
                "Archive " + FormatDateTime(kArchiveNameDateFormat, c.now) + " (" + std::to_string(c.links) +
                    ").xbel");
      // The file's time is the creation time, as the next rule check reads it.
      auto time = TFileTools::FileTime(outcome.fileName);
      ASSERT_TRUE(time.has_value());
      EXPECT_EQ(DateTimeToSettingText(*time), DateTimeToSettingText(c.now));
    }
  }
}

TEST_F(ArchiveTest, FirstBackupIsAlwaysMadeAndReadsBackAsTheTree) {
  auto tree = MemoryTree(7);
  auto outcome = ArchiveTree(tree, favorites_, archive_, false, At(2026, 1, 2, 3, 4, 5, 6));
  ASSERT_TRUE(outcome.written);
  auto back = std::make_shared<TXBELTree>(outcome.fileName, "back");
  back->InitHashes();
  EXPECT_EQ(back->BookmarkCount(), 7);
  EXPECT_EQ(back->GetHash(hkContentSum), tree->GetHash(hkContentSum));
}

TEST_F(ArchiveTest, ForcedBackupIdenticalToTheNewestIsDeletedAgain) {
  auto tree = MemoryTree(5);
  ASSERT_TRUE(ArchiveTree(tree, favorites_, archive_, true, At(2026, 1, 1, 10, 0)).written);
  auto again = ArchiveTree(tree, favorites_, archive_, true, At(2026, 1, 1, 10, 1));
  EXPECT_FALSE(again.written);
  EXPECT_TRUE(again.identical);
  EXPECT_FALSE(fs::exists(again.fileName));
  EXPECT_EQ(ArchiveFiles().size(), 1u);
  EXPECT_TRUE(messages_.empty());

  // A changed tree is kept, forced or not.
  auto changed = ArchiveTree(MemoryTree(5, "c"), favorites_, archive_, true, At(2026, 1, 1, 10, 2));
  EXPECT_TRUE(changed.written);
  EXPECT_EQ(ArchiveFiles().size(), 2u);
}

TEST_F(ArchiveTest, BackupsInTheSameSecondOrMillisecondGetTheirOwnFiles) {
  const TDateTime now = At(2026, 5, 6, 7, 8, 9, 10);
  auto a = ArchiveTree(MemoryTree(3, "a"), favorites_, archive_, true, now);
  auto b = ArchiveTree(MemoryTree(3, "b"), favorites_, archive_, true, At(2026, 5, 6, 7, 8, 9, 11));
  // The very same millisecond must not replace the first file.
  auto c = ArchiveTree(MemoryTree(3, "c"), favorites_, archive_, true, now);
  ASSERT_TRUE(a.written && b.written && c.written);
  EXPECT_NE(a.fileName, b.fileName);
  EXPECT_NE(a.fileName, c.fileName);
  EXPECT_NE(b.fileName, c.fileName);
  EXPECT_EQ(ArchiveFiles().size(), 3u);
  auto first = std::make_shared<TXBELTree>(a.fileName, "a");
  ASSERT_EQ(first->Count(), 4);  // "Sub" and three bookmarks
  EXPECT_EQ(first->Get(1)->GetName(), "a0");
}

TEST_F(ArchiveTest, NoFavoritesFolderOrNoTreeMeansNoBackup) {
  fs::remove_all(favorites_);
  EXPECT_FALSE(ArchiveTree(MemoryTree(3), favorites_, archive_, true).written);
  EXPECT_FALSE(fs::exists(archive_));
  fs::create_directories(favorites_);
  EXPECT_FALSE(ArchiveTree(nullptr, favorites_, archive_, true).written);
  EXPECT_TRUE(fs::is_directory(archive_));  // the folder is made before the tree is asked for
  EXPECT_TRUE(ArchiveFiles().empty());
}

TEST_F(ArchiveTest, ArchiveFolderThatCannotBeCreatedRaises) {
  WriteFileText(home_->Sub("blocked"), "a file");
  const std::string folder = home_->Sub("blocked/archive/");
  try {
    ArchiveTree(MemoryTree(1), favorites_, folder, true);
    FAIL() << "no exception";
  } catch (const TArchiveException& e) {
    EXPECT_EQ(e.Message(), "Invalid path for archive:" + folder);
  }
  EXPECT_THROW(TArchive archive(folder), TArchiveException);
}

// An interrupted backup leaves at most its temporary file, which is neither
// listed nor taken as the newest backup.
TEST_F(ArchiveTest, LeftoverTemporaryFileIsNeverOfferedNorCounted) {
  fs::create_directories(archive_);
  WriteFileText(archive_ + "Archive 2026-01-01 10.00.00.000 (500).xbel.tmp77-1", "<?xml version=\"1.0\"?><xb");
  TArchive archive(archive_);
  EXPECT_EQ(archive.Count(), 0);
  // The half-written file's 500 links would block this backup if it counted.
  EXPECT_TRUE(ArchiveTree(MemoryTree(3), favorites_, archive_, false).written);
}

TEST_F(ArchiveTest, ListingTakesHtmlAndXbelNewestFirst) {
  fs::create_directories(archive_);
  struct TFile {
    const char* name;
    TDateTime time;
  };
  const TFile files[] = {
      {"Archive 2008-01-01 (40).html", At(2008, 1, 1, 9, 30)},
      {"Archive 2026-02-01 10.00.00.000 (12).xbel", At(2026, 2, 1, 10, 0)},
      {"Archive 2026-02-03 08.00.00.000 (13).XBEL", At(2026, 2, 3, 8, 0)},
      {"Archive 2026-02-03 08.00.30.000 (14).xbel", At(2026, 2, 3, 8, 0, 30)},
      {"archive old (3).xbel", At(2020, 6, 1, 0, 0)},
      {"Notes (1).xbel", At(2027, 1, 1, 0, 0)},
      {"Archive 2027 (1).txt", At(2027, 1, 1, 0, 0)},
  };
  for (const auto& f : files) {
    WriteFileText(archive_ + f.name, "<xbel/>");
    ASSERT_TRUE(TFileTools::SetFileTime(archive_ + f.name, f.time));
  }
  fs::create_directories(archive_ + "Archive folder.xbel");
  TArchive archive(archive_);
  std::vector<std::string> names;
  for (const auto& item : archive.Items()) names.push_back(fs::path(item->FileName()).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"Archive 2026-02-03 08.00.30.000 (14).xbel",
                                             "Archive 2026-02-03 08.00.00.000 (13).XBEL",
                                             "Archive 2026-02-01 10.00.00.000 (12).xbel",
                                             "archive old (3).xbel", "Archive 2008-01-01 (40).html"}));
  auto item = archive.Item(4);
  EXPECT_EQ(item->Caption(), "Archive 01 Jan 2008 09:30");
  EXPECT_EQ(item->LinkCount(), "40");
  EXPECT_EQ(item->DateText("yyyymmdd hh:mm"), "20080101 09:30");
  for (int bad : {-1, 5}) {
    try {
      archive.Item(bad);
      FAIL() << bad;
    } catch (const TArchiveException& e) {
      EXPECT_EQ(e.Message(), "Invalid index:" + std::to_string(bad));
    }
  }
  item->Delete();
  EXPECT_EQ(item->DateText("yyyy"), "");  // the file is gone
  EXPECT_THROW(item->Delete(), TKFileException);
  archive.Refresh();
  EXPECT_EQ(archive.Count(), 4);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ArchiveTest, SingletonLivesFromFirstUseUntilFreed) {
  EXPECT_EQ(TArchiveSingleton::Peek(), nullptr);
  auto archive = TArchiveSingleton::Get();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(archive->Folder(), TConfig::ArchivePath());
  EXPECT_TRUE(fs::is_directory(TConfig::ArchivePath()));
  EXPECT_EQ(TArchiveSingleton::Get(), archive);
  // The client singletons free it in the shutdown step.
  TClientSingletons::FreeSingletons();
  EXPECT_TRUE(LogHas("Terminating ArchiveSingleton"));
  EXPECT_EQ(TArchiveSingleton::Peek(), nullptr);
  try {
    TArchiveSingleton::Get();
    FAIL() << "no exception";
  } catch (const TArchiveException& e) {
    EXPECT_EQ(e.Message(), "Client.Archive:freed");
  }
}

TEST_F(ArchiveTest, SingletonWhoseFolderCannotBeMadeIsNotAssignedUntilItCanBe) {
  const std::string folder = TConfig::ArchivePath();
  fs::create_directories(fs::path(folder).parent_path().parent_path());
  fs::remove_all(fs::path(folder).parent_path());
  WriteFileText(fs::path(folder).parent_path(), "in the way");
  try {
    TArchiveSingleton::Get();
    FAIL() << "no exception";
  } catch (const TArchiveException& e) {
    EXPECT_EQ(e.Message(), "Archive:not assigned");
  }
  EXPECT_TRUE(LogHas("Invalid path for archive:" + folder));
  fs::remove(fs::path(folder).parent_path());
  EXPECT_NE(TArchiveSingleton::Get(), nullptr);
}

}  // namespace
}  // namespace kelvo::test
