// The bookmarks controller on a real Favorites folder, with the real
// watcher, the real message loop and the reference link server.

#include "BookmarksCtrlTestSupport.h"

#include <algorithm>
#include <filesystem>

#include "bookmarks/TreeTools.h"
#include "sync/BookmarksShellNotifier.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

using BookmarksCtrlTest = BookmarksCtrlTestBase;

IBNodePtr ChildNamed(const IFolderPtr& folder, const std::string& name) {
  if (!folder) return nullptr;
  for (int i = 0; i < folder->Count(); ++i) {
    if (folder->Get(i)->GetName() == name) return folder->Get(i);
  }
  return nullptr;
}
IFolderPtr FolderNamed(const IFolderPtr& folder, const std::string& name) {
  return std::dynamic_pointer_cast<IFolder>(ChildNamed(folder, name));
}
std::string UrlOf(const IBNodePtr& node) {
  auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
  return bookmark ? bookmark->GetURL() : "<no bookmark>";
}
TShellChangePtr Change(TShellChangeKind kind, bool isFolder, const std::string& newPath,
                       const std::string& oldPath = "") {
  return std::make_shared<TShellChange>(kind, isFolder, newPath, oldPath);
}

// --- Start-up ----------------------------------------------------------------

TEST_F(BookmarksCtrlTest, StartUpReadsIntegratesTheMetadataAndPostsConnect) {
  Write("Alpha.url", "http://a.example/");
  Write("Docs/Gamma.url", "http://g.example/");
  Write("Private/Secret.url", "http://s.example/");
  {
    // The records as an earlier run left them: the private folder, a
    // folder that is gone and the published bookmark that still exists.
    TFileTreePtr tree = TReadBookmarksThread::ReadTree(fav_);
    TBNodeMetas metas(metaPath_);
    auto priv = std::make_shared<TBNodeMeta>(true);
    priv->SetPath(NamePath(ChildNamed(tree, "Private")));
    priv->SetIsPrivate(true);
    metas.Add(priv);
    auto gone = std::make_shared<TBNodeMeta>(true);
    gone->SetPath({"gone"});
    gone->SetId(5);
    metas.Add(gone);
    auto published = std::make_shared<TBNodeMeta>("/$pub/7", "", 7, "1");
    published->SetPath(NamePath(ChildNamed(FolderNamed(tree, "Docs"), "Gamma")));
    published->SetURL("http://g.example/");
    metas.Add(published);
    ASSERT_TRUE(metas.Save());
    SetCurrentFavoritesTree(nullptr);
  }

  StartCtrl();
  TFileTreePtr tree = ctrl_->Tree(false);
  ASSERT_TRUE(tree);
  EXPECT_TRUE(ctrl_->Ready());
  EXPECT_EQ(tree->BookmarkCount(), 3);
  EXPECT_TRUE(IsPrivateNode(ChildNamed(FolderNamed(tree, "Private"), "Secret"), kPrivateKindPrivate));
  EXPECT_TRUE(LogHas("TBookmarksCtrl.ReadBookmarks:starting read thread"));
  EXPECT_TRUE(LogHas("TBookmarksCtrl.Integrate meta"));

  // Only the record of the vanished folder left the stored file.
  TBNodeMetas stored(metaPath_);
  EXPECT_EQ(stored.Count(), 2u);
  EXPECT_FALSE(stored.FindByPath({"gone"}));
  EXPECT_TRUE(stored.FindById(7));

  // The sync id counts the public link and was stored with the count.
  const std::string id = ctrl_->CalculateSyncId();
  EXPECT_NE(id, tree->GetHash(hkContentSum));
  EXPECT_EQ(TConfig::GetSyncBookmarks(), id);
  EXPECT_EQ(TConfig::GetBookmarkCount(), 3);
  ASSERT_TRUE(ctrl_->Watcher());
  EXPECT_TRUE(ctrl_->Watcher()->IsActive());
  EXPECT_TRUE(THandlerList::Contains(ctrl_->Window()));
}

TEST_F(BookmarksCtrlTest, InstallBackupStartsOnceUntilItIsDone) {
  Write("Alpha.url", "http://a.example/");
  std::vector<std::string> started;
  SetSafetyBackupStarter([&](const std::string& folder) { started.push_back(folder); });
  StartCtrl();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], fav_);
  // A re-read does not start a second copy in the same run.
  ctrl_->ReadSynchronously();
  EXPECT_EQ(started.size(), 1u);
  StopCtrl();

  TConfig::SetSafetyBackupDone(true);
  StartCtrl();
  EXPECT_EQ(started.size(), 1u);
  SetSafetyBackupStarter(nullptr);
}

TEST_F(BookmarksCtrlTest, NoSyncWithANicknameIsReadyAtOnceAndReadsOnDemand) {
  Write("Alpha.url", "http://a.example/");
  TConfig::SetSyncMode("no-sync");
  StartCtrl();
  EXPECT_TRUE(ctrl_->Ready());
  EXPECT_FALSE(ctrl_->Tree(false));
  TFileTreePtr tree = ctrl_->Tree(true);
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->BookmarkCount(), 1);
  // Connecting once is enough.
  PumpMessages(0);
  EXPECT_EQ(connects_, 1);
}

// Favorites edited while the agent was off: reported only when both the
// sync id and the link count moved.
TEST_F(BookmarksCtrlTest, ChangesMadeWhileTheAgentWasOff) {
  struct TCase {
    const char* what;
    std::function<void()> edit;
    bool expected;
  };
  const std::vector<TCase> cases = {
      {"nothing", [] {}, false},
      {"a bookmark added", [this] { Write("Added.url", "http://added.example/"); }, true},
      {"a URL changed", [this] { Write("Alpha.url", "http://other.example/"); }, false},
      {"a bookmark removed", [this] { fs::remove(fav_ + "Beta.url"); }, true},
  };
  Write("Alpha.url", "http://a.example/");
  Write("Beta.url", "http://b.example/");
  // The very first run has nothing to compare with.
  StartCtrl();
  EXPECT_FALSE(TConfig::GetExternalBksChanged());
  StopCtrl();
  for (const TCase& c : cases) {
    c.edit();
    StartCtrl();
    EXPECT_EQ(TConfig::GetExternalBksChanged(), c.expected) << c.what;
    StopCtrl();
  }
  EXPECT_TRUE(LogHas("Local bookmarks changed (undetected by kelvo):this="));
}

TEST_F(BookmarksCtrlTest, AReReadDuringTheRunIsNoChangeWhileOff) {
  Write("Alpha.url", "http://a.example/");
  StartCtrl();
  StopCtrl();
  StartCtrl();
  // What a restore does: the agent writes with the watcher stopped, then
  // reads the folder again.
  ctrl_->WithFolderWrite([this](TFileTree&) { Write("Restored.url", "http://r.example/"); });
  ctrl_->ReadSynchronously();
  EXPECT_EQ(ctrl_->Tree(false)->BookmarkCount(), 2);
  EXPECT_FALSE(TConfig::GetExternalBksChanged());
  EXPECT_EQ(connects_, 2);
}

// --- Watched changes, end to end ---------------------------------------------

TEST_F(BookmarksCtrlTest, WatchedChangesBecomeTheServerActionsAndReachTheServer) {
  StartCtrl();
  struct TStep {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> actions;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const std::vector<TStep> steps = {
      {"create", [this] { Write("Alpha.url", "http://a.example/"); }, {"save-all-links"},
       {"/|Alpha|http://a.example/"}, {}},
      {"rename", [this] { fs::rename(fav_ + "Alpha.url", fav_ + "Alpha Two.url"); }, {"update-link"},
       {"/|Alpha Two|http://a.example/"}, {"/|Alpha|http://a.example/"}},
      {"new URL", [this] { Write("Alpha Two.url", "http://a2.example/"); }, {"update-link"},
       {"/|Alpha Two|http://a2.example/"}, {"/|Alpha Two|http://a.example/"}},
      {"new folder with a bookmark",
       [this] {
         fs::create_directory(fav_ + "Docs");
         Write("Docs/Beta.url", "http://b.example/");
       },
       {"save-all-links"}, {"/Docs|Beta|http://b.example/"}, {}},
      {"move into the folder", [this] { fs::rename(fav_ + "Alpha Two.url", fav_ + "Docs/Alpha Two.url"); },
       {"update-link"}, {"/Docs|Alpha Two|http://a2.example/"}, {"/|Alpha Two|http://a2.example/"}},
      {"folder renamed", [this] { fs::rename(fav_ + "Docs", fav_ + "Papers"); }, {"update-link"},
       {"/Papers|Beta|http://b.example/", "/Papers|Alpha Two|http://a2.example/"},
       {"/Docs|Beta|http://b.example/"}},
      {"delete", [this] { fs::remove(fav_ + "Papers/Beta.url"); }, {"remove-link"}, {},
       {"/Papers|Beta|http://b.example/"}},
      {"folder deleted", [this] { fs::remove_all(fav_ + "Papers"); }, {"remove-link"}, {},
       {"/Papers|Alpha Two|http://a2.example/"}},
  };
  for (const TStep& step : steps) {
    const std::size_t from = scripts_.size();
    step.act();
    const bool reached = WaitFor([&] {
      if (!Settled() || scripts_.size() == from) return false;
      for (const auto& r : step.present) {
        if (!ServerHas(r)) return false;
      }
      for (const auto& r : step.absent) {
        if (ServerHas(r)) return false;
      }
      return true;
    });
    ASSERT_TRUE(reached) << step.what << "; server holds " << server_->LinksXml(kNick);
    // A burst may come as one batch or several; their actions together are
    // exactly the step's.
    std::vector<std::string> actions = ActionsSince(from);
    std::vector<std::string> distinct;
    for (const auto& a : actions) {
      if (distinct.empty() || distinct.back() != a) distinct.push_back(a);
    }
    EXPECT_EQ(distinct, step.actions) << step.what;
  }
  EXPECT_TRUE(ServerBookmarks().empty());
  // The tree followed every step.
  EXPECT_EQ(ctrl_->Tree(false)->NodeCount(), 0);
}

// --- Batches applied directly (watcher stopped, so only these records count) --

class BookmarksCtrlBatchTest : public BookmarksCtrlTestBase {
 protected:
  void SetUp() override {
    BookmarksCtrlTestBase::SetUp();
    Write("Alpha.url", "http://a.example/");
    Write("Private/Secret.url", "http://s.example/");
    fs::create_directory(fav_ + "Docs");
    {
      TFileTreePtr tree = TReadBookmarksThread::ReadTree(fav_);
      TBNodeMetas metas(metaPath_);
      auto priv = std::make_shared<TBNodeMeta>(true);
      priv->SetPath(NamePath(ChildNamed(tree, "Private")));
      priv->SetIsPrivate(true);
      metas.Add(priv);
      metas.Save();
      SetCurrentFavoritesTree(nullptr);
    }
    StartCtrl();
    ctrl_->StartWatcher(false);
  }
  std::vector<std::string> Apply(const std::vector<TShellChangePtr>& changes) {
    const std::size_t from = scripts_.size();
    ctrl_->ApplyShellChanges(changes);
    WaitFor([&] { return Settled(); });
    return ActionsSince(from);
  }
  IFolderPtr Root() { return ctrl_->Tree(false); }
};

TEST_F(BookmarksCtrlBatchTest, CreateOfAKnownFileIsAChange) {
  Write("Alpha.url", "http://a-new.example/");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Create, false, "/Alpha.url")}),
            (std::vector<std::string>{"update-link"}));
  EXPECT_EQ(Root()->Count(), 3);
  EXPECT_EQ(UrlOf(ChildNamed(Root(), "Alpha")), "http://a-new.example/");
}

TEST_F(BookmarksCtrlBatchTest, NoSyncUpdatesTheTreeButSendsNothing) {
  TConfig::SetSyncMode("no-sync");
  Write("New.url", "http://n.example/");
  const std::size_t before = scripts_.size();
  ctrl_->ApplyShellChanges({Change(TShellChangeKind::Create, false, "/New.url")});
  EXPECT_EQ(scripts_.size(), before);
  EXPECT_EQ(UrlOf(ChildNamed(Root(), "New")), "http://n.example/");
}

TEST_F(BookmarksCtrlBatchTest, PrivateFoldersStayOffTheServer) {
  struct TCase {
    const char* what;
    std::function<std::vector<TShellChangePtr>()> make;
    std::vector<std::string> actions;
  };
  const std::vector<TCase> cases = {
      {"created inside",
       [this] {
         Write("Private/Inner.url", "http://i.example/");
         return std::vector<TShellChangePtr>{Change(TShellChangeKind::Create, false, "/Private/Inner.url")};
       },
       {}},
      {"renamed inside",
       [this] {
         fs::rename(fav_ + "Private/Inner.url", fav_ + "Private/Inner2.url");
         return std::vector<TShellChangePtr>{
             Change(TShellChangeKind::Rename, false, "/Private/Inner2.url", "/Private/Inner.url")};
       },
       {}},
      {"moved in",
       [this] {
         fs::rename(fav_ + "Alpha.url", fav_ + "Private/Alpha.url");
         return std::vector<TShellChangePtr>{
             Change(TShellChangeKind::Rename, false, "/Private/Alpha.url", "/Alpha.url")};
       },
       {"remove-link"}},
      {"moved out",
       [this] {
         fs::rename(fav_ + "Private/Alpha.url", fav_ + "Docs/Alpha.url");
         return std::vector<TShellChangePtr>{
             Change(TShellChangeKind::Rename, false, "/Docs/Alpha.url", "/Private/Alpha.url")};
       },
       {"save-all-links"}},
      {"deleted inside",
       [this] {
         fs::remove(fav_ + "Private/Inner2.url");
         return std::vector<TShellChangePtr>{Change(TShellChangeKind::Delete, false, "/Private/Inner2.url")};
       },
       {}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Apply(c.make()), c.actions) << c.what;
  }
  EXPECT_TRUE(ChildNamed(FolderNamed(Root(), "Docs"), "Alpha"));
  EXPECT_EQ(FolderNamed(Root(), "Private")->Count(), 1);
  EXPECT_TRUE(ServerHas("/Docs|Alpha|http://a.example/"));
}

TEST_F(BookmarksCtrlBatchTest, RenamesThatAreNotPlainRenames) {
  // Moved and renamed at once: the old link goes, the new one comes.
  fs::rename(fav_ + "Alpha.url", fav_ + "Docs/Alpha Moved.url");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Rename, false, "/Docs/Alpha Moved.url", "/Alpha.url")}),
            (std::vector<std::string>{"remove-link", "save-all-links"}));
  EXPECT_FALSE(ChildNamed(Root(), "Alpha"));
  EXPECT_EQ(UrlOf(ChildNamed(FolderNamed(Root(), "Docs"), "Alpha Moved")), "http://a.example/");

  // Renamed to something that is no favorite: gone.
  fs::rename(fav_ + "Docs/Alpha Moved.url", fav_ + "Docs/Alpha Moved.txt");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Rename, false, "/Docs/Alpha Moved.txt", "/Docs/Alpha Moved.url")}),
            (std::vector<std::string>{"remove-link"}));
  EXPECT_EQ(FolderNamed(Root(), "Docs")->Count(), 0);

  // A temporary file renamed into place: new.
  WriteFileText(fav_ + "Saved.tmp", UrlFileText("http://saved.example/"));
  fs::rename(fav_ + "Saved.tmp", fav_ + "Saved.url");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Rename, false, "/Saved.url", "/Saved.tmp")}),
            (std::vector<std::string>{"save-all-links"}));
  EXPECT_EQ(UrlOf(ChildNamed(Root(), "Saved")), "http://saved.example/");
}

TEST_F(BookmarksCtrlBatchTest, MissingNodesAndLevels) {
  // A file whose folders were never announced: the levels are made.
  Write("A/B/Deep.url", "http://deep.example/");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Create, false, "/A/B/Deep.url")}),
            (std::vector<std::string>{"save-all-links"}));
  EXPECT_EQ(UrlOf(ChildNamed(FolderNamed(FolderNamed(Root(), "A"), "B"), "Deep")), "http://deep.example/");
  EXPECT_TRUE(ServerHas("/A/B|Deep|http://deep.example/"));

  // Unknown nodes: logged and skipped, the rest of the batch goes on.
  Write("Later.url", "http://later.example/");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Delete, false, "/Nowhere.url"),
                   Change(TShellChangeKind::Delete, true, "/Nowhere"),
                   Change(TShellChangeKind::Change, true, "/Docs"),
                   Change(TShellChangeKind::Create, false, "/desktop.ini"),
                   Change(TShellChangeKind::Create, false, "/Later.url")}),
            (std::vector<std::string>{"save-all-links"}));
  EXPECT_TRUE(LogHas("ApplyShellDelete node not found:" + fav_ + "Nowhere.url"));
  EXPECT_FALSE(ChildNamed(Root(), "desktop"));

  // A change whose file vanished before it was read: logged, nothing sent.
  EXPECT_EQ(Apply({Change(TShellChangeKind::Create, false, "/Vanished.url")}), std::vector<std::string>{});
  EXPECT_TRUE(LogHas("ApplyShellChanges"));
}

TEST_F(BookmarksCtrlBatchTest, FilesCaughtHalfWrittenAreReadAgain) {
  // The one notice of each file came while it was still empty.
  WriteFileText(fav_ + "Half.url", "");
  WriteFileText(fav_ + "Alpha.url", "");
  const std::size_t from = scripts_.size();
  ctrl_->ApplyShellChanges({Change(TShellChangeKind::Create, false, "/Half.url"),
                            Change(TShellChangeKind::Change, false, "/Alpha.url")});
  EXPECT_EQ(scripts_.size(), from);
  EXPECT_EQ(UrlOf(ChildNamed(Root(), "Alpha")), "http://a.example/");
  Write("Half.url", "http://half.example/");
  Write("Alpha.url", "http://a2.example/");
  ASSERT_TRUE(WaitFor([&] { return Settled() && ServerHas("/|Half|http://half.example/"); }));
  std::vector<std::string> actions = ActionsSince(from);
  std::sort(actions.begin(), actions.end());
  EXPECT_EQ(actions, (std::vector<std::string>{"save-all-links", "update-link"}));
  EXPECT_EQ(UrlOf(ChildNamed(Root(), "Alpha")), "http://a2.example/");
  EXPECT_TRUE(ServerHas("/|Alpha|http://a2.example/"));
}

TEST_F(BookmarksCtrlBatchTest, RenamedFolderTakesItsRecordsAlong) {
  Write("Private/Sub/Inner.url", "http://i.example/");
  ctrl_->ApplyShellChanges({Change(TShellChangeKind::Create, true, "/Private/Sub")});
  auto sub = std::make_shared<TBNodeMeta>(true);
  sub->SetPath(NamePath(ChildNamed(FolderNamed(Root(), "Private"), "Sub")));
  sub->SetIsPrivate(true);
  ctrl_->Metas().Add(sub);

  fs::rename(fav_ + "Private", fav_ + "Hidden");
  EXPECT_EQ(Apply({Change(TShellChangeKind::Rename, true, "/Hidden", "/Private")}),
            (std::vector<std::string>{"update-link"}));
  // Both records follow the folder, so it stays private after a re-read.
  TBNodeMetas stored(metaPath_);
  EXPECT_EQ(stored.Count(), 2u);
  StopCtrl();
  StartCtrl();
  EXPECT_TRUE(IsPrivateNode(FolderNamed(Root(), "Hidden"), kPrivateKindPrivate));
}

// --- Answers and session messages ------------------------------------------

TEST_F(BookmarksCtrlTest, RequestSyncAnswerAsksForASync) {
  StartCtrl();
  auto post = [&](const std::string& text) {
    PostMessage(ctrl_->Window(), TBookmarksCtrl::kSyncResponseMessage, TPostedText::Put(ctrl_->Window(), text), 1);
    PumpMessages(0);
    PumpMessages(0);
  };
  post(R"(<?xml version="1.0"?><answer><display-message code="MSG_LINKS_SAVED"/></answer>)");
  EXPECT_FALSE(TConfig::HasState(asSyncRequired));
  post("not xml at all <");
  EXPECT_FALSE(TConfig::HasState(asSyncRequired));
  post(R"(<?xml version="1.0"?><answer><request-sync server-sync-id="abc" link-count="12" folder-count="x"/></answer>)");
  EXPECT_TRUE(TConfig::HasState(asSyncRequired));
  EXPECT_EQ(TConfig::GetStatsCounter(kInvalidSyncIdCounter), 1);
  TRequestSyncData data = GetRequestSyncData();
  EXPECT_EQ(data.serverSyncId, "abc");
  EXPECT_EQ(data.serverLinkCount, 12);
  EXPECT_EQ(data.serverFolderCount, -1);
}

TEST_F(BookmarksCtrlTest, SessionEndIsLoggedAndShutdownStopsListening) {
  StartCtrl();
  SendMessage(ctrl_->Window(), WM_QUERYENDSESSION, 0, 0);
  SendMessage(ctrl_->Window(), WM_ENDSESSION, 1, 0);
  EXPECT_TRUE(LogHas("TBookmarksCtrlKMessageRx:WM_QUERYENDSESSION...returning 0"));
  EXPECT_TRUE(LogHas("TBookmarksCtrlKMessageRx:WM_ENDSESSION"));

  const HWND window = ctrl_->Window();
  ctrl_->Shutdown();
  EXPECT_FALSE(ctrl_->Ready());
  EXPECT_FALSE(ctrl_->Tree(false));
  EXPECT_FALSE(ctrl_->Watcher()->IsActive());
  EXPECT_FALSE(ctrl_->Tree(true));
  ctrl_.reset();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(THandlerList::Contains(window));
}

}  // namespace
}  // namespace kelvo::test
