// The Favorites change watcher on a real folder, through the real message
// loop: the records of each user action, the batch, de-duplication, the
// owner's own writes and the Closing state.

#include "sync/BookmarksShellNotifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestHome.h"
#include "TestLoop.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"
#include "sync/SHChangeNotify.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PumpUntil;
using test::PumpFor;

using TBatch = std::vector<std::string>;  // the records' texts

std::string Joined(const std::vector<TBatch>& batches) {
  std::string text;
  for (const auto& batch : batches) {
    text += "[batch]\n";
    for (const auto& r : batch) text += "  " + r + "\n";
  }
  return text;
}

TEST(ShellChangeTest, TextEqualityAndRelativePaths) {
  struct TCase {
    TShellChange change;
    const char* text;
  };
  const TCase cases[] = {
      {{TShellChangeKind::Create, false, "/a.url", ""}, "Type:CREATE /a.url "},
      {{TShellChangeKind::Delete, true, "/News", ""}, "Type:DELETE (folder) /News "},
      {{TShellChangeKind::Rename, false, "/b.url", "/a.url"}, "Type:RENAME /b.url /a.url"},
      {{TShellChangeKind::Change, false, "/x/y.url", ""}, "Type:CHANGE /x/y.url "},
  };
  for (const auto& c : cases) EXPECT_EQ(c.change.Text(), c.text);

  const TShellChange base(TShellChangeKind::Rename, false, "/b.url", "/a.url");
  EXPECT_TRUE(base.Equals(TShellChange(TShellChangeKind::Rename, false, "/b.url", "/a.url")));
  EXPECT_FALSE(base.Equals(TShellChange(TShellChangeKind::Create, false, "/b.url", "/a.url")));
  EXPECT_FALSE(base.Equals(TShellChange(TShellChangeKind::Rename, true, "/b.url", "/a.url")));
  EXPECT_FALSE(base.Equals(TShellChange(TShellChangeKind::Rename, false, "/B.url", "/a.url")));
  EXPECT_FALSE(base.Equals(TShellChange(TShellChangeKind::Rename, false, "/b.url", "/c.url")));

  const std::string fav = "/home/u/Favorites/";
  EXPECT_EQ(RelativeShellPath(fav, "/home/u/Favorites/News/a.url"), "/News/a.url");
  EXPECT_EQ(RelativeShellPath(fav, "/home/u/Favorites/"), "/");
  EXPECT_EQ(RelativeShellPath(fav, "/home/u/Favorites"), "");
  EXPECT_EQ(RelativeShellPath(fav, "/home/u/FavoritesOld/a.url"), "");
  EXPECT_EQ(RelativeShellPath(fav, "/home/u/favorites/a.url"), "");
  EXPECT_EQ(RelativeShellPath(fav, ""), "");
}

class BookmarksShellNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    fav_ = home_.Path() / "Favorites";
    fs::create_directories(fav_ / "News");
    fs::create_directories(fav_ / "Tech");
    test::WriteFileText(fav_ / "a.url", "[InternetShortcut]\r\nURL=http://a.example/\r\n");
    test::WriteFileText(fav_ / "News" / "n.url", "[InternetShortcut]\r\nURL=http://n.example/\r\n");
    notifier_ = std::make_unique<TBookmarksShellNotifier>(fav_.string());
    notifier_->SetOnChanges([this](TBookmarksShellNotifier& n) {
      TBatch batch;
      for (const auto& r : n.Pending()) batch.push_back(r->Text());
      batches_.push_back(batch);
      if (onBatch_) onBatch_(n);
    });
  }
  void TearDown() override {
    notifier_.reset();
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  bool WaitForBatches(std::size_t n) {
    return PumpUntil([&] { return batches_.size() >= n; });
  }
  std::string LogText() const { return test::ReadFileText(TLog::GetFileName()); }
  std::string A(const std::string& rel) const { return (fav_ / rel).string(); }

  test::TTestHome home_;
  fs::path fav_;
  std::unique_ptr<TBookmarksShellNotifier> notifier_;
  std::vector<TBatch> batches_;
  std::function<void(TBookmarksShellNotifier&)> onBatch_;
};

TEST_F(BookmarksShellNotifierTest, EachUserActionBecomesOneBatchOfTheRightRecords) {
  struct TCase {
    const char* what;
    std::function<void()> act;
    TBatch expected;
  };
  const std::vector<TCase> cases = {
      {"rename a bookmark", [&] { fs::rename(fav_ / "a.url", fav_ / "b.url"); },
       {"Type:RENAME /b.url /a.url"}},
      {"move a bookmark into a folder",
       [&] { fs::rename(fav_ / "b.url", fav_ / "News" / "b.url"); },
       {"Type:RENAME /News/b.url /b.url"}},
      {"create a bookmark", [&] { test::WriteFileText(fav_ / "Tech" / "c.url", "[x]"); },
       {"Type:CREATE /Tech/c.url ", "Type:CHANGE /Tech/c.url "}},
      {"an editor saves a bookmark",
       [&] {
         test::WriteFileText(fav_ / "Tech" / "c.url.new", "[y]");
         fs::rename(fav_ / "Tech" / "c.url.new", fav_ / "Tech" / "c.url");
       },
       {"Type:CREATE /Tech/c.url.new ", "Type:CHANGE /Tech/c.url.new ",
        "Type:DELETE /Tech/c.url.new ", "Type:CHANGE /Tech/c.url "}},
      {"delete a bookmark", [&] { fs::remove(fav_ / "Tech" / "c.url"); },
       {"Type:DELETE /Tech/c.url "}},
      {"create a folder", [&] { fs::create_directory(fav_ / "Fresh"); },
       {"Type:CREATE (folder) /Fresh "}},
      {"rename a folder", [&] { fs::rename(fav_ / "News", fav_ / "Daily"); },
       {"Type:RENAME (folder) /Daily /News"}},
      {"move a folder into another", [&] { fs::rename(fav_ / "Daily", fav_ / "Tech" / "Daily"); },
       {"Type:RENAME (folder) /Tech/Daily /Daily"}},
      {"a renamed folder's content keeps being watched",
       [&] { fs::rename(fav_ / "Tech" / "Daily" / "n.url", fav_ / "Tech" / "Daily" / "m.url"); },
       {"Type:RENAME /Tech/Daily/m.url /Tech/Daily/n.url"}},
      {"move a bookmark out of the Favorites",
       [&] { fs::rename(fav_ / "Tech" / "Daily" / "b.url", home_.Path() / "out.url"); },
       {"Type:DELETE /Tech/Daily/b.url "}},
      {"delete a folder with its content", [&] { fs::remove_all(fav_ / "Tech" / "Daily"); },
       {"Type:DELETE /Tech/Daily/m.url ", "Type:DELETE (folder) /Tech/Daily "}},
      {"move a folder in from outside",
       [&] {
         fs::create_directories(home_.Path() / "Elsewhere" / "Pack" / "Inner");
         test::WriteFileText(home_.Path() / "Elsewhere" / "Pack" / "Inner" / "p.url", "[x]");
         fs::rename(home_.Path() / "Elsewhere" / "Pack", fav_ / "Pack");
       },
       {"Type:CREATE (folder) /Pack ", "Type:CREATE (folder) /Pack/Inner ",
        "Type:CREATE /Pack/Inner/p.url "}},
      {"change inside a folder moved in",
       [&] { fs::remove(fav_ / "Pack" / "Inner" / "p.url"); },
       {"Type:DELETE /Pack/Inner/p.url "}},
      {"move a folder out of the Favorites",
       [&] { fs::rename(fav_ / "Pack", home_.Path() / "Pack"); },
       {"Type:DELETE (folder) /Pack "}},
  };
  notifier_->Start();
  ASSERT_TRUE(notifier_->IsActive());
  for (const auto& c : cases) {
    batches_.clear();
    c.act();
    ASSERT_TRUE(WaitForBatches(1)) << c.what;
    PumpFor(30ms);  // a stray second batch would show here
    ASSERT_EQ(batches_.size(), 1u) << c.what << "\n" << Joined(batches_);
    EXPECT_EQ(batches_[0], c.expected) << c.what << "\n" << Joined(batches_);
  }
  // The batch was handed over and forgotten.
  EXPECT_TRUE(notifier_->Pending().empty());
}

TEST_F(BookmarksShellNotifierTest, TheOwnersOwnWritesWhileStoppedAreNotReported) {
  // The owner's pattern: stop, write into the folder, start again, here from
  // inside its handling of a batch.
  onBatch_ = [&](TBookmarksShellNotifier& n) {
    if (batches_.size() != 1) return;
    n.Stop();
    test::WriteFileText(fav_ / "Tech" / "written.url", "[x]");
    fs::rename(fav_ / "News" / "n.url", fav_ / "News" / "renamed.url");
    fs::remove(fav_ / "Tech" / "written.url");
    fs::create_directory(fav_ / "Made");
    n.Start();
  };
  notifier_->Start();
  fs::remove(fav_ / "a.url");
  ASSERT_TRUE(WaitForBatches(1));
  PumpFor(100ms);
  EXPECT_EQ(batches_.size(), 1u) << Joined(batches_);
  EXPECT_TRUE(notifier_->IsActive());

  // Outside a batch, too; and the folder made while stopped is watched.
  notifier_->Stop();
  EXPECT_FALSE(notifier_->IsActive());
  test::WriteFileText(fav_ / "Made" / "x.url", "[x]");
  notifier_->Start();
  PumpFor(50ms);
  EXPECT_EQ(batches_.size(), 1u) << Joined(batches_);
  fs::remove(fav_ / "Made" / "x.url");
  ASSERT_TRUE(WaitForBatches(2));
  EXPECT_EQ(batches_[1], TBatch{"Type:DELETE /Made/x.url "});
}

TEST_F(BookmarksShellNotifierTest, RecordsTakenWhileTheOwnerWorksMakeTheNextBatch) {
  // An owner that pumps messages while it handles a batch (a modal loop)
  // must not lose what arrives meanwhile.
  onBatch_ = [&](TBookmarksShellNotifier&) {
    if (batches_.size() != 1) return;
    fs::remove(fav_ / "News" / "n.url");
    PumpFor(50ms);
  };
  notifier_->Start();
  fs::remove(fav_ / "a.url");
  ASSERT_TRUE(WaitForBatches(2)) << Joined(batches_);
  EXPECT_EQ(batches_[0], TBatch{"Type:DELETE /a.url "});
  EXPECT_EQ(batches_[1], TBatch{"Type:DELETE /News/n.url "});
}

TEST_F(BookmarksShellNotifierTest, RepeatsAndPathsOutsideTheFolderAreDropped) {
  notifier_->Start();
  const std::string other = home_.Sub("Other/x.url");
  notifier_->Inform(TShellChangeKind::Create, false, "", other);          // outside
  notifier_->Inform(TShellChangeKind::Create, false, "", A("n.url"));
  notifier_->Inform(TShellChangeKind::Create, false, "", A("n.url"));     // back to back
  notifier_->Inform(TShellChangeKind::Change, false, "", A("n.url"));
  notifier_->Inform(TShellChangeKind::Create, false, "", A("n.url"));     // seen before
  notifier_->Inform(TShellChangeKind::Create, true, "", A("n.url"));      // a folder: differs
  notifier_->Inform(TShellChangeKind::Rename, false, other, A("in.url"));  // moved in
  notifier_->Inform(TShellChangeKind::Rename, true, A("Old"), home_.Sub("Gone"));  // moved out
  notifier_->Inform(TShellChangeKind::Rename, false, A("p.url"), A("q.url"));
  EXPECT_EQ(notifier_->Pending().size(), 7u);
  ASSERT_TRUE(WaitForBatches(1));
  const TBatch expected = {
      "Type:CREATE /n.url ",       "Type:CHANGE /n.url ",
      "Type:CREATE (folder) /n.url ", "Type:CREATE /in.url ",
      "Type:DELETE (folder) /Old ", "Type:RENAME /q.url /p.url",
  };
  EXPECT_EQ(batches_[0], expected) << Joined(batches_);
  const std::string log = LogText();
  EXPECT_NE(log.find("CREATE:old=,new=" + A("n.url")), std::string::npos) << log;
  EXPECT_NE(log.find("RENAME:old=" + A("p.url") + ",new=" + A("q.url")), std::string::npos);
  EXPECT_EQ(log.find("CREATE:old=,new=" + other), std::string::npos);
  EXPECT_NE(log.find("TBookmarksShellNotifier:DelayFinished"), std::string::npos);
  EXPECT_NE(log.find("ms) 1 duplicates Type:CREATE /n.url \r\nType:CHANGE /n.url \r\n"),
            std::string::npos)
      << log;
}

TEST_F(BookmarksShellNotifierTest, ClosingStopsTheWatcherForGood) {
  notifier_->Start();
  // Other state changes, and the removal of Closing, leave it running.
  TConfig::AddState(asSyncRunning);
  TConfig::AddState(asClosing);
  TConfig::RemoveState(asClosing);
  PumpFor(30ms);
  EXPECT_TRUE(notifier_->IsActive());
  EXPECT_FALSE(notifier_->IsStopped());

  TConfig::AddState(asClosing);
  ASSERT_TRUE(PumpUntil([&] { return notifier_->IsStopped(); }));
  EXPECT_FALSE(notifier_->IsActive());
  fs::remove(fav_ / "a.url");
  notifier_->Inform(TShellChangeKind::Create, false, "", A("x.url"));
  EXPECT_TRUE(notifier_->Pending().empty());
  PumpFor(50ms);
  EXPECT_TRUE(batches_.empty()) << Joined(batches_);
  // Stopped for good, even once the state is gone again.
  TConfig::RemoveState(asClosing);
  notifier_->Start();
  EXPECT_FALSE(notifier_->IsActive());
}

TEST_F(BookmarksShellNotifierTest, NothingStartsWhileClosingAndRecordsAreIgnoredOnceClosing) {
  notifier_->Start();
  notifier_->Inform(TShellChangeKind::Delete, false, "", A("a.url"));
  // Closing set, its announcement not yet delivered: nothing more is taken.
  TConfig::AddState(asClosing);
  notifier_->Inform(TShellChangeKind::Delete, false, "", A("News/n.url"));
  EXPECT_EQ(notifier_->Pending().size(), 1u);

  TBookmarksShellNotifier late(fav_.string());
  late.Start();
  EXPECT_FALSE(late.IsActive());
}

TEST_F(BookmarksShellNotifierTest, AMissingFolderFailsToStartAndCanStartLater) {
  TBookmarksShellNotifier notifier(home_.Sub("NotYet"));
  EXPECT_EQ(notifier.FolderPath(), home_.Sub("NotYet") + "/");
  EXPECT_THROW(notifier.Start(), TSHChangeNotifyException);
  EXPECT_FALSE(notifier.IsActive());
  fs::create_directory(home_.Path() / "NotYet");
  notifier.Start();
  EXPECT_TRUE(notifier.IsActive());
  EXPECT_TRUE(THandlerList::Contains(notifier.Window()));
  EXPECT_TRUE(IsWindow(notifier.Window()));
}

TEST_F(BookmarksShellNotifierTest, DestroyingTheWatcherWithABatchPendingIsSafe) {
  notifier_->Start();
  HWND wnd = notifier_->Window();
  fs::remove(fav_ / "a.url");
  ASSERT_TRUE(PumpUntil([&] { return !notifier_->Pending().empty(); }));
  notifier_.reset();
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(THandlerList::Contains(wnd));
  PumpFor(30ms);
  EXPECT_TRUE(batches_.empty());
}

}  // namespace
}  // namespace kelvo
