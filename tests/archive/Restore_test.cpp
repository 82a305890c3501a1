#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ArchiveTestSupport.h"
#include "LinkServer.h"
#include "archive/ArchiveCtrl.h"
#include "archive/SafetyBackupThread.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/UrlFile.h"
#include "bookmarks/XBEL.h"
#include "foundation/Identification.h"
#include "platform/Window.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Relative path ("News/c.url", "Empty/") -> URL ("" for folders), as on disk.
using TDiskTree = std::map<std::string, std::string>;

class RestoreTest : public ArchiveTestBase {
 protected:
  void SetUp() override {
    ArchiveTestBase::SetUp();
    server_ = std::make_unique<linkserver::TLinkServer>(home_->Sub("linkserver/links.db"));
    server_->Start(0);
    server_->AddAccount("alice", "secret");
    TConfig::WriteValue("", "link-server-base", server_->BaseUrl());
    TIdentification::SetIdentity("alice", "secret");
  }
  void TearDown() override {
    ctrl_.reset();
    server_->Stop();
    server_.reset();
    ArchiveTestBase::TearDown();
  }

  // A controller on the Favorites folder, with its first read done.
  TBookmarksCtrl& Ctrl() {
    if (!ctrl_) {
      ctrl_ = std::make_unique<TBookmarksCtrl>(favorites_, home_->Sub("meta/bookmarks-meta.xml"), 0);
      ctrl_->SetScriptObserver([this](const std::string& text) { scripts_.push_back(text); });
      EXPECT_TRUE(PumpUntil([this] { return ctrl_->Ready(); })) << "the controller never read the Favorites";
    }
    return *ctrl_;
  }

  static bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      PumpMessages(20);
    }
    return true;
  }

  // Edits made on disk while the controller does not watch, then read
  // again, as if the agent had been off meanwhile.
  void EditOffline(const std::function<void()>& edit) {
    Ctrl().StartWatcher(false);
    edit();
    Ctrl().ReadSynchronously();
  }

  TDiskTree Disk(const std::string& root) const {
    TDiskTree out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
      const std::string relative = fs::relative(it->path(), root).generic_string();
      if (it->is_directory()) {
        out[relative + "/"] = "";
      } else {
        out[relative] = UrlFromUrlFileText(ReadFileText(it->path()));
      }
    }
    return out;
  }

  void SetPrivate(const std::string& folderName) {
    auto tree = Ctrl().Tree(false);
    ASSERT_NE(tree, nullptr);
    for (int i = 0; i < tree->Count(); ++i) {
      auto node = tree->Get(i);
      if (node->GetName() != folderName) continue;
      auto folder = std::dynamic_pointer_cast<IFolderEx>(node);
      ASSERT_NE(folder, nullptr);
      folder->SetPrivate(true);
      return;
    }
    FAIL() << "no folder " << folderName;
  }

  std::unique_ptr<linkserver::TLinkServer> server_;
  std::unique_ptr<TBookmarksCtrl> ctrl_;
  std::vector<std::string> scripts_;
};

TEST_F(RestoreTest, RoundTripBringsBackTheBackedUpFolderAndResendsIt) {
  WriteFavorite("a", "http://a.example/");
  WriteFavorite("b", "http://b.example/");
  WriteFavorite("News/c", "http://c.example/");
  WriteFavorite("News/Deep/d", "http://d.example/");
  WriteFavorite("Private/p", "http://p.example/");
  auto outcome = ArchiveFavorites(Ctrl(), archive_, true);
  ASSERT_TRUE(outcome.written);
  const TDiskTree backedUp = Disk(favorites_);

  EditOffline([&] {
    fs::rename(favorites_ + "a.url", favorites_ + "a renamed.url");     // same URL, new name
    WriteFavorite("b", "http://b-other.example/");                     // same name, new URL
    fs::remove(favorites_ + "News/c.url");                             // deleted
    fs::remove_all(favorites_ + "News/Deep");                          // folder deleted
    WriteFavorite("News/added", "http://added.example/");              // added
    WriteFavorite("Brand new/x", "http://x.example/");                 // folder added
    WriteFavorite("Private/q", "http://q.example/");                   // private content
  });
  SetPrivate("Private");
  scripts_.clear();

  RestoreFromArchive(Ctrl(), outcome.fileName, std::make_shared<TXBELTree>(outcome.fileName, "archive"));

  TDiskTree expected = backedUp;
  expected["Private/q.url"] = "http://q.example/";  // private folders are left alone
  EXPECT_EQ(Disk(favorites_), expected);
  // The controller's tree is what is on disk.
  auto tree = Ctrl().Tree(false);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->BookmarkCount(), 6);

  // The whole tree goes back to the link server.
  ASSERT_EQ(scripts_.size(), 1u);
  const std::string& script = scripts_.front();
  const auto context = script.find("<context");
  const auto links = script.find("<save-all-links");
  const auto xlinks = script.find("<save-all-xlinks");
  EXPECT_TRUE(context != std::string::npos && links > context && xlinks > links) << script;
  ASSERT_TRUE(PumpUntil([this] { return server_->LinkCount("alice") >= 4; })) << server_->LinksXml("alice");
  const std::string stored = server_->LinksXml("alice");
  for (const char* url : {"http://a.example/", "http://b.example/", "http://c.example/", "http://d.example/"}) {
    EXPECT_NE(stored.find(url), std::string::npos) << url;
  }
  EXPECT_EQ(stored.find("http://added.example/"), std::string::npos);
  EXPECT_EQ(stored.find("http://b-other.example/"), std::string::npos);
}

// A renamed bookmark whose old name was taken again by another bookmark:
// the restored file must win over the one that goes.
TEST_F(RestoreTest, RestoredNameTakenByAnotherBookmarkIsNotDeletedAfterWriting) {
  WriteFavorite("a", "http://a.example/");
  auto outcome = ArchiveFavorites(Ctrl(), archive_, true);
  ASSERT_TRUE(outcome.written);
  EditOffline([&] {
    fs::rename(favorites_ + "a.url", favorites_ + "a2.url");
    WriteFavorite("a", "http://z.example/");
  });
  RestoreFromArchive(Ctrl(), outcome.fileName, std::make_shared<TXBELTree>(outcome.fileName, "archive"));
  EXPECT_EQ(Disk(favorites_), (TDiskTree{{"a.url", "http://a.example/"}}));
}

// A folder of the archive cannot be written (a file holds its name): the
// restore fails, deletes nothing and leaves the tree as the disk is.
TEST_F(RestoreTest, HalfWrittenRestoreDeletesNothingAndReportsTheError) {
  WriteFavorite("News/c", "http://c.example/");
  WriteFavorite("z", "http://z.example/");
  auto outcome = ArchiveFavorites(Ctrl(), archive_, true);
  ASSERT_TRUE(outcome.written);
  EditOffline([&] {
    fs::remove_all(favorites_ + "News");
    WriteFileText(favorites_ + "News", "not a folder");
    WriteFavorite("added", "http://added.example/");
  });
  scripts_.clear();
  try {
    RestoreFromArchive(Ctrl(), outcome.fileName, std::make_shared<TXBELTree>(outcome.fileName, "archive"));
    FAIL() << "no exception";
  } catch (const TArchiveException& e) {
    EXPECT_EQ(e.Message(), "RestoreFromArchive error");
  }
  const TDiskTree disk = Disk(favorites_);
  EXPECT_EQ(disk.count("added.url"), 1u) << "an untouched bookmark was deleted before the restore was written";
  EXPECT_EQ(disk.count("z.url"), 1u);
  EXPECT_TRUE(LogHas("RestoreFromArchive"));
  EXPECT_TRUE(scripts_.empty());
  auto tree = Ctrl().Tree(false);
  ASSERT_NE(tree, nullptr);
  int urlFiles = 0;
  for (const auto& entry : disk) urlFiles += entry.first.size() > 4 && entry.first.ends_with(".url");
  EXPECT_EQ(tree->BookmarkCount(), urlFiles);
}

// A backup that went away after it was listed, or one in the old ".html"
// form, must not be taken for an empty archive that empties the Favorites.
TEST_F(RestoreTest, MissingOrHtmlBackupFileIsRefusedWithNothingChanged) {
  WriteFavorite("a", "http://a.example/");
  WriteFavorite("News/c", "http://c.example/");
  Ctrl();
  const TDiskTree before = Disk(favorites_);
  fs::create_directories(archive_);
  WriteFileText(archive_ + "Archive 2008-01-01 (2).html", "<html></html>");
  for (const std::string& file : {archive_ + "Archive 2026-01-01 10.00.00.000 (2).xbel",
                                  archive_ + "Archive 2008-01-01 (2).html"}) {
    try {
      RestoreFromArchiveFile(Ctrl(), file);
      ADD_FAILURE() << "no exception for " << file;
    } catch (const TArchiveException& e) {
      EXPECT_EQ(e.Message(), "RestoreFromArchive error");
    }
  }
  EXPECT_EQ(Disk(favorites_), before);

  // An existing backup of an empty Favorites folder is a real archive.
  fs::remove_all(favorites_);
  fs::create_directories(favorites_);
  Ctrl().ReadSynchronously();
  auto empty = ArchiveFavorites(Ctrl(), archive_, true);
  ASSERT_TRUE(empty.written);
  WriteFavorite("later", "http://later.example/");
  Ctrl().ReadSynchronously();
  RestoreFromArchiveFile(Ctrl(), empty.fileName);
  EXPECT_TRUE(Disk(favorites_).empty());
}

TEST_F(RestoreTest, InstallBackupIsCopiedBackOnlyWhenComplete) {
  WriteFavorite("a", "http://a.example/");
  WriteFavorite("News/c", "http://c.example/");
  Ctrl();
  // Without a finished install backup nothing may be emptied.
  EXPECT_THROW(RestoreFromInstallBackup(Ctrl()), TArchiveException);
  EXPECT_TRUE(fs::exists(favorites_ + "a.url"));

  ASSERT_TRUE(TSafetyBackupThread::Run(favorites_, TConfig::ArchiveInitPath()));
  const TDiskTree installed = Disk(favorites_);
  EditOffline([&] {
    fs::remove(favorites_ + "a.url");
    WriteFavorite("later/x", "http://x.example/");
  });
  scripts_.clear();
  RestoreFromInstallBackup(Ctrl());
  EXPECT_EQ(Disk(favorites_), installed);
  EXPECT_EQ(Ctrl().Tree(false)->BookmarkCount(), 2);
  EXPECT_EQ(scripts_.size(), 1u);
}

}  // namespace
}  // namespace kelvo::test
