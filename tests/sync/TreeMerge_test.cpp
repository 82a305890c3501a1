// Merge, import and restore on a real temporary Favorites folder: what the
// folder holds afterwards, file by file, what happens to private folders,
// name collisions, metadata records, and the removal of untouched nodes with
// its retry.

// GCC 12 folds the shared_ptr set-up of the node classes with virtual
// bases and then warns falsely about reads past the smaller nodes
// (-Warray-bounds); the sanitizer build checks the real accesses.
#pragma GCC diagnostic ignored "-Warray-bounds"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TreeSyncTestSupport.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/ServerBookmark.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/TreeChangeNotifier.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/TreeWalk.h"
#include "bookmarks/XBEL.h"
#include "foundation/FileTools.h"
#include "sync/BNodeDifference.h"
#include "sync/TreeMerge.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::ServerTreeOf;
using test::TreeListing;
using test::WriteFileText;
using TList = std::vector<std::string>;

IBNodePtr NodeAt(const IFolder& folder, const std::string& path) {
  const IFolder* at = &folder;
  IBNodePtr node;
  std::size_t start = 0;
  for (;;) {
    const auto slash = path.find('/', start);
    const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    node = nullptr;
    for (int i = 0; at != nullptr && i < at->Count(); ++i) {
      if (at->Get(i)->GetName() == name) node = at->Get(i);
    }
    if (!node || slash == std::string::npos) return node;
    at = dynamic_cast<const IFolder*>(node.get());
    start = slash + 1;
  }
}

void MakePrivate(const IFolder& tree, const std::string& path) {
  auto folder = std::dynamic_pointer_cast<IFolderEx>(NodeAt(tree, path));
  ASSERT_TRUE(folder) << path;
  folder->SetPrivate(true);
}

class TreeMergeTest : public test::TreeSyncTest {};

// The local Favorites of the merge scenario, and the server's view of the
// same bookmarks after edits made elsewhere.
const TList kLocal = {"News/Daily.url=http://daily.example/",   "News/Weekly.url=http://weekly.example/",
                      "News/Sport.url=http://sport.example/",   "Tools/Search.url=http://search.example/",
                      "Old name/Keep.url=http://keep.example/", "Old name/desktop.ini=[.ShellClassInfo]",
                      "Secret/Bank.url=http://bank.example/",   "Top.url=http://top.example/"};
const char* const kServer =
    R"(<link path="/News" id=":3"/>)"
    R"(<link path="/News" title="Daily paper" url="http://daily.example/" id=":11"/>)"  // renamed
    R"(<link path="/News" title="Weekly" url="http://weekly.example/v2" id=":12"/>)"    // new URL
    R"(<link path="/News" title="Fresh" url="http://fresh.example/" id=":18"/>)"        // added
    R"(<link path="/Tools" title="Search" url="http://search.example/" id=":13"/>)"
    R"(<link path="/Tools" title="Sport" url="http://sport.example/" id=":14"/>)"  // moved here
    R"(<link path="/Archive" title="Keep" url="http://keep.example/" id=":15"/>)"  // folder renamed
    R"(<link path="/Secret" private="CLIENT"/>)"
    R"(<link path="/" title="Top" url="http://top.example/" id=":16"/>)"
    R"(<link path="/Deep/Er" title="New" url="http://new.example/" id=":17"/>)"  // added chain
    R"(<link path="/Deep" id=":7"/>)";

TEST_F(TreeMergeTest, MergeLeavesTheFolderAsTheServerHasItAndTheSyncIdsAgree) {
  WriteFavorites(kLocal);
  // Lines of other programs in a shortcut survive its rename.
  WriteFileText(fs::path(favorites_) / "News/Daily.url",
                "[InternetShortcut]\r\nURL=http://daily.example/\r\nIconIndex=3\r\n");
  const std::string bank = ReadFileText(fs::path(favorites_) / "Secret/Bank.url");
  auto local = ReadFavorites();
  MakePrivate(*local, "Secret");
  auto server = ServerTreeOf(kServer);

  TTreeMerge merge(local, favorites_);
  const TBNodeDifferenceList list = merge.MergeFrom(*server);
  std::map<std::string, int> kinds;
  for (const auto& difference : list) ++kinds[DiffKindName(difference->GetKind())];
  EXPECT_EQ(kinds, (std::map<std::string, int>{{"DiffAdded", 3},
                                               {"DiffCaptionChanged", 2},
                                               {"DiffDeleted", 1},
                                               {"DiffMoved", 1},
                                               {"DiffUrlChanged", 1}}))
      << DifferencesText(list);
  EXPECT_TRUE(LogHas("Differences:\r\nType:"));
  EXPECT_TRUE(LogHas("Type:DiffMoved\r\nB>/News:Sport:http://sport.example/\r\nB>/Tools:Sport:http://sport.example/"));
  WriteTree(*local);

  EXPECT_EQ(DiskListing(), (TList{"Archive/",
                                  "Archive/Keep.url=http://keep.example/",
                                  "Archive/desktop.ini=[.ShellClassInfo]",
                                  "Deep/",
                                  "Deep/Er/",
                                  "Deep/Er/New.url=http://new.example/",
                                  "News/",
                                  "News/Daily paper.url=http://daily.example/",
                                  "News/Fresh.url=http://fresh.example/",
                                  "News/Weekly.url=http://weekly.example/v2",
                                  "Secret/",
                                  "Secret/Bank.url=http://bank.example/",
                                  "Tools/",
                                  "Tools/Search.url=http://search.example/",
                                  "Tools/Sport.url=http://sport.example/",
                                  "Top.url=http://top.example/"}));
  EXPECT_NE(ReadFileText(fs::path(favorites_) / "News/Daily paper.url").find("IconIndex=3"), std::string::npos);
  EXPECT_EQ(ReadFileText(fs::path(favorites_) / "Secret/Bank.url"), bank);
  // The private folder was not taken over by the server's private link.
  EXPECT_TRUE(LogHas("private folder kept:F>/Secret"));

  // Server ids reached every node, so the client's sync id is the server's.
  EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "Tools/Sport"))->GetId(), 14);
  EXPECT_EQ(std::dynamic_pointer_cast<IFolderEx>(NodeAt(*local, "Deep"))->GetId(), 7);
  EXPECT_EQ(local->GetHash(hkContentSum), server->GetHash(hkContentSum));
  // No address into the server tree is left behind.
  WalkBelow(*local, [](const IBNodePtr& node) { EXPECT_LT(node->GetTag(), kMarkLimit) << node->GetName(); });

  // A second merge from what is now on disk finds nothing left to do.
  auto reread = ReadFavorites();
  MakePrivate(*reread, "Secret");
  PairTrees(*reread, *server);
  TList left;
  for (const auto& difference : ComputeDifferences(*reread, *server)) left.push_back(difference->GetText());
  EXPECT_EQ(left, (TList{"Type:DiffDeleted\r\nF>/Secret", "Type:DiffAdded\r\nF>/Secret"}));
}

TEST_F(TreeMergeTest, MergeWithOnlyDeletionsChangesNothing) {
  WriteFavorites({"News/Daily.url=http://daily.example/", "News/Mine.url=http://mine.example/",
                  "Local only/Stuff.url=http://stuff.example/", "Top.url=http://top.example/"});
  const TList before = DiskListing();
  auto local = ReadFavorites();
  const TList treeBefore = TreeListing(*local);
  auto server = ServerTreeOf(R"(<link path="/News" title="Daily" url="http://daily.example/"/>)");
  TTreeMerge merge(local, favorites_);
  const auto list = merge.MergeFrom(*server);
  ASSERT_FALSE(list.empty());
  for (const auto& difference : list) EXPECT_EQ(difference->GetKind(), DiffDeleted) << difference->GetText();
  WriteTree(*local);
  EXPECT_EQ(DiskListing(), before);
  EXPECT_EQ(TreeListing(*local), treeBefore);
}

TEST_F(TreeMergeTest, AddedBookmarkCreatesItsWholeFolderChain) {
  WriteFavorites({"A/Keep.url=http://keep.example/"});
  auto local = ReadFavorites();
  auto server = ServerTreeOf(R"(<link path="/A/B/C" title="New" url="http://new.example/" id=":4"/>)");
  const IBNodePtr added = NodeAt(*server, "A/B/C/New");
  ASSERT_TRUE(added);
  TTreeMerge merge(local, favorites_);
  {
    TTreeUpdateBracket bracket(local.get());
    merge.ApplyDifferences({std::make_shared<TBNodeDifference>(DiffAdded, nullptr, added)});
    // The folders exist on disk as soon as they are in the tree.
    EXPECT_TRUE(fs::is_directory(fs::path(favorites_) / "A/B/C"));
    bracket.End();
  }
  const IBNodePtr c = NodeAt(*local, "A/B/C");
  ASSERT_TRUE(c);
  EXPECT_NE(c->GetFlags() & kFlagCreated, 0u);
  EXPECT_NE(NodeAt(*local, "A/B/C/New")->GetFlags() & kFlagCreated, 0u);
  WriteTree(*local);
  EXPECT_EQ(DiskListing(), (TList{"A/", "A/B/", "A/B/C/", "A/B/C/New.url=http://new.example/",
                                  "A/Keep.url=http://keep.example/"}));
  // A bookmark whose place lies in a private folder is not added there.
  MakePrivate(*local, "A");
  EXPECT_EQ(merge.LocalFolderForNode(*added), nullptr);
  merge.ApplyDifferences({std::make_shared<TBNodeDifference>(DiffAdded, nullptr, added)});
  EXPECT_EQ(std::dynamic_pointer_cast<IFolder>(NodeAt(*local, "A/B/C"))->Count(), 1);
}

TEST_F(TreeMergeTest, MovedFolderTakesItsOtherFilesAlong) {
  WriteFavorites({"Media/Photos/Pics.url=http://pics.example/", "Media/Photos/desktop.ini=icon",
                  "Media/Photos/Trip/Day.url=http://day.example/", "Media/Keep.url=http://keep.example/"});
  auto local = ReadFavorites();
  auto server = ServerTreeOf(R"(<link path="/Media" title="Keep" url="http://keep.example/"/>)"
                             R"(<link path="/Photos" title="Pics" url="http://pics.example/"/>)"
                             R"(<link path="/Photos/Trip" title="Day" url="http://day.example/"/>)");
  TTreeMerge merge(local, favorites_);
  const auto list = merge.MergeFrom(*server);
  ASSERT_EQ(list.size(), 1u) << DifferencesText(list);
  EXPECT_EQ(list[0]->GetKind(), DiffMoved);
  WriteTree(*local);
  EXPECT_EQ(DiskListing(),
            (TList{"Media/", "Media/Keep.url=http://keep.example/", "Photos/", "Photos/Pics.url=http://pics.example/",
                   "Photos/Trip/", "Photos/Trip/Day.url=http://day.example/", "Photos/desktop.ini=icon"}));
  EXPECT_EQ(local->GetHash(hkContentSum), server->GetHash(hkContentSum));
}

TEST_F(TreeMergeTest, NodesNeverShareAFile) {
  // The server holds two different "X" in /A; the local one from /B moves
  // in beside the other and gets a free name. A server folder that repeats
  // a local one joins it instead of becoming a second folder of one name.
  WriteFavorites({"A/X.url=http://one.example/", "B/X.url=http://two.example/", "C/a.url=http://a.example/"});
  auto local = ReadFavorites();
  auto server = TServerTree::Create("Server");
  {
    TTreeUpdateBracket bracket(server.get());
    auto a = std::make_shared<TServerFolder>("A");
    a->Add(NewServerBookmark("X", "http://one.example/", ""));
    a->Add(NewServerBookmark("X", "http://two.example/", ""));
    server->Add(a);
    server->Add(std::make_shared<TServerFolder>("B"));
    auto c1 = std::make_shared<TServerFolder>("C");
    c1->Add(NewServerBookmark("a", "http://a.example/", ""));
    server->Add(c1);
    auto c2 = std::make_shared<TServerFolder>("C");
    c2->Add(NewServerBookmark("a", "http://a.example/", ""));
    c2->Add(NewServerBookmark("b", "http://b.example/", ""));
    server->Add(c2);
    bracket.End();
  }
  TTreeMerge merge(local, favorites_);
  merge.MergeFrom(*server);
  WriteTree(*local);
  EXPECT_EQ(DiskListing(), (TList{"A/", "A/X (2).url=http://two.example/", "A/X.url=http://one.example/", "B/", "C/",
                                  "C/a.url=http://a.example/", "C/b.url=http://b.example/"}));
  int folders = 0;
  for (int i = 0; i < local->Count(); ++i) folders += local->Get(i)->GetName() == "C" ? 1 : 0;
  EXPECT_EQ(folders, 1);
}

TEST_F(TreeMergeTest, FailedMoveIsLoggedAndTheNextDifferenceApplied) {
  WriteFavorites({"News/Sport.url=http://sport.example/", "News/Weekly.url=http://weekly.example/",
                  "Blocked=not a folder"});
  auto local = ReadFavorites();
  auto server = ServerTreeOf(R"(<link path="/Blocked/In" title="Sport" url="http://sport.example/"/>)"
                             R"(<link path="/News" title="Weekly" url="http://weekly.example/v2"/>)");
  TTreeMerge merge(local, favorites_);
  merge.ApplyDifferences(
      {std::make_shared<TBNodeDifference>(DiffMoved, NodeAt(*local, "News/Sport"), NodeAt(*server, "Blocked/In/Sport")),
       std::make_shared<TBNodeDifference>(DiffUrlChanged, NodeAt(*local, "News/Weekly"), NodeAt(*server, "News/Weekly"))});
  EXPECT_TRUE(LogHas("TBookmarksCtrl.Merge_MoveC"));
  // The bookmark stays where it was; no half-made folder entered the tree.
  EXPECT_TRUE(NodeAt(*local, "News/Sport"));
  EXPECT_FALSE(NodeAt(*local, "Blocked"));
  EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "News/Weekly"))->GetURL(), "http://weekly.example/v2");
}

TEST_F(TreeMergeTest, MetadataRecordsFollowMovesAndRenames) {
  WriteFavorites(kLocal);
  auto local = ReadFavorites();
  MakePrivate(*local, "Secret");
  TBNodeMetas metas(home_->Sub("meta/bookmarks-meta.xml"));
  auto record = [&](bool isFolder, TStringList path, int id, const std::string& url) {
    auto meta = std::make_shared<TBNodeMeta>(isFolder);
    meta->SetId(id);
    meta->SetIsPublic(true, nullptr);
    meta->SetPath(std::move(path));
    meta->SetURL(url);
    metas.Add(meta);
    return meta;
  };
  const auto sport = record(false, {"news", "sport"}, 14, "http://sport.example/");
  const auto daily = record(false, {"news", "daily"}, 11, "http://daily.example/");
  const auto weekly = record(false, {"news", "weekly"}, 12, "http://weekly.example/");
  const auto folder = record(true, {"old name"}, 20, "");
  const auto keep = record(false, {"old name", "keep"}, 21, "http://keep.example/");
  auto server = ServerTreeOf(kServer);
  TTreeMerge merge(local, favorites_, &metas);
  merge.MergeFrom(*server);
  EXPECT_EQ(sport->GetPath(), (TStringList{"tools", "sport"}));
  EXPECT_EQ(daily->GetPath(), (TStringList{"news", "daily paper"}));
  EXPECT_EQ(weekly->GetURL(), "http://weekly.example/v2");
  EXPECT_EQ(folder->GetPath(), (TStringList{"archive"}));
  EXPECT_EQ(keep->GetPath(), (TStringList{"archive", "keep"}));
  // Saved as well.
  TBNodeMetas reloaded(metas.FileName());
  EXPECT_TRUE(reloaded.FindByPath({"archive", "keep"}));
}

// ---- Import and restore

TEST_F(TreeMergeTest, ImportOverlaysTheServerTreeAndRemovesWhatItDidNotTouch) {
  WriteFavorites({"News/Daily.url=http://daily.example/", "News/Gone.url=http://gone.example/",
                  "Old/Stale.url=http://stale.example/", "Old/notes.txt=mine", "Secret/Bank.url=http://bank.example/",
                  "Top.url=http://top.example/", "Renamed.url=http://renamed.example/",
                  "News/Changed.url=http://changed.example/", "Old title.url=http://tab.example/"});
  WriteFileText(fs::path(favorites_) / "Old title.url", "[InternetShortcut]\r\nURL=http://tab.example/\r\nIconIndex=7\r\n");
  auto local = ReadFavorites();
  MakePrivate(*local, "Secret");
  auto server = ServerTreeOf(R"(<link path="/News" id=":3"/>)"
                             R"(<link path="/News" title="Daily" url="http://daily.example/" id=":11"/>)"
                             R"(<link path="/News" title="Morning" url="http://morning.example/" id=":12"/>)"
                             R"(<link path="/" title="Top" url="http://top.example/" id=":13"/>)"
                             R"(<link path="/" title="Renamed better" url="http://renamed.example/" id=":14"/>)"
                             R"(<link path="/Secret" private="CLIENT"/>)"
                             R"(<link path="/Fresh/Sub" title="Deep" url="http://deep.example/" id=":15"/>)"
                             // Found by its place, the URL is the server's.
                             R"(<link path="/News" title="Changed" url="http://changed.example/v2"/>)"
                             // Found by URL; the name loses its control character.
                             R"(<link path="/" title="Tab&#9;bed" url="http://tab.example/"/>)");
  TTreeMerge merge(local, favorites_);
  bool removed = false;
  {
    TTreeUpdateBracket bracket(local.get());
    ClearMarks(*local);
    merge.OverlayTree(*server, *local, false);
    removed = merge.RemoveUntouchedNodes(*local);
    bracket.End();
  }
  EXPECT_TRUE(removed);
  // Gone from disk before the tree is written.
  EXPECT_FALSE(fs::exists(fs::path(favorites_) / "Old"));
  EXPECT_FALSE(fs::exists(fs::path(favorites_) / "News/Gone.url"));
  WriteTree(*local);
  EXPECT_EQ(DiskListing(), (TList{"Fresh/", "Fresh/Sub/", "Fresh/Sub/Deep.url=http://deep.example/", "News/",
                                  "News/Changed.url=http://changed.example/v2", "News/Daily.url=http://daily.example/",
                                  "News/Morning.url=http://morning.example/",
                                  "Renamed better.url=http://renamed.example/", "Secret/",
                                  "Secret/Bank.url=http://bank.example/", "Tabbed.url=http://tab.example/",
                                  "Top.url=http://top.example/"}));
  EXPECT_NE(ReadFileText(fs::path(favorites_) / "Tabbed.url").find("IconIndex=7"), std::string::npos);
  EXPECT_FALSE(NodeAt(*local, "Old"));
  EXPECT_FALSE(NodeAt(*local, "News/Gone"));
  EXPECT_TRUE(NodeAt(*local, "Secret/Bank"));
  // Server data came along: ids of found and of new nodes.
  EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "News/Daily"))->GetId(), 11);
  EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "Renamed better"))->GetId(), 14);
  EXPECT_EQ(std::dynamic_pointer_cast<IFolderEx>(NodeAt(*local, "News"))->GetId(), 3);
}

TEST_F(TreeMergeTest, OverlayingAnEmptyTreeRemovesEveryNodeButPrivateFolders) {
  WriteFavorites({"A/B/x.url=http://x.example/", "A/y.url=http://y.example/", "Top.url=http://top.example/",
                  "Secret/Inner/z.url=http://z.example/", "Empty/"});
  auto local = ReadFavorites();
  MakePrivate(*local, "Secret");
  auto empty = ServerTreeOf("");
  TTreeMerge merge(local, favorites_);
  ClearMarks(*local);
  merge.OverlayTree(*empty, *local, true);
  EXPECT_TRUE(merge.RemoveUntouchedNodes(*local));
  EXPECT_EQ(DiskListing(), (TList{"Secret/", "Secret/Inner/", "Secret/Inner/z.url=http://z.example/"}));
  EXPECT_EQ(TreeListing(*local), (TList{"Secret/ private", "Secret/Inner/", "Secret/Inner/z=http://z.example/"}));
}

TEST_F(TreeMergeTest, FailedDeletionsAreTriedOnceMore) {
  struct TCase {
    const char* what;
    std::string entry;  // the one node that resists
    bool folder;
    int failures;  // attempts that fail before it goes
    bool goneFromDisk;
    const char* retryLine;
  };
  const TCase cases[] = {
      {"file free on the second try", "Locked.url", false, 1, true, "Deleted file after retry"},
      {"folder free on the second try", "Busy", true, 1, true, "Deleted Dir after retry"},
      {"file that stays locked", "Locked.url", false, 2, false, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(favorites_);
    WriteFavorites({"Locked.url=http://locked.example/", "Busy/in.url=http://in.example/", "Free.url=http://free.example/"});
    TLog::ResetForTests();
    fs::remove(logFile_);
    TLog::Init(5, logFile_, false, false);
    auto local = ReadFavorites();
    const std::string resisting = favorites_ + "/" + c.entry;
    int failuresLeft = c.failures;
    TTreeMerge merge(local, favorites_);
    merge.SetDeleteFunction([&](const std::string& path, bool isFolder) {
      if (path == resisting && failuresLeft > 0) {
        --failuresLeft;
        throw TKFileException("Error deleting file " + path);
      }
      TTreeMerge::DeleteFavoritesEntry(path, isFolder);
    });
    ClearMarks(*local);
    // Only Free.url stays in the source, so the other two are untouched.
    NodeAt(*local, "Free")->SetTag(kMarkTouched);
    EXPECT_FALSE(merge.RemoveUntouchedNodes(*local));
    EXPECT_TRUE(LogHas("Could not delete:" + resisting));
    if (c.retryLine != nullptr) {
      EXPECT_TRUE(LogHas(c.retryLine));
    } else {
      EXPECT_FALSE(LogHas("after retry"));
    }
    EXPECT_EQ(fs::exists(resisting), !c.goneFromDisk);
    // Out of the tree either way; the next read brings back what is left.
    EXPECT_EQ(TreeListing(*local), (TList{"Free=http://free.example/"}));
    EXPECT_TRUE(fs::exists(favorites_ + "/Free.url"));
  }
}

TEST_F(TreeMergeTest, MissingFilesCountAsDeleted) {
  WriteFavorites({"A/x.url=http://x.example/", "y.url=http://y.example/"});
  auto local = ReadFavorites();
  fs::remove_all(fs::path(favorites_) / "A");
  fs::remove(fs::path(favorites_) / "y.url");
  TTreeMerge merge(local, favorites_);
  ClearMarks(*local);
  EXPECT_TRUE(merge.RemoveUntouchedNodes(*local));
  EXPECT_EQ(local->Count(), 0);
  EXPECT_FALSE(LogHas("Could not delete:"));
}

TEST_F(TreeMergeTest, RestoreBringsBackTheArchivedTreeWithoutServerData) {
  WriteFavorites({"News/Daily.url=http://daily.example/", "News/Later.url=http://later.example/",
                  "Secret/Bank.url=http://bank.example/", "Photos/Cat.url=http://cat.example/"});
  auto local = ReadFavorites();
  MakePrivate(*local, "Secret");
  std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "News/Daily"))->SetId(99);
  TBNodeMetas metas(home_->Sub("meta/bookmarks-meta.xml"));
  auto privateRecord = std::make_shared<TBNodeMeta>(true);
  privateRecord->SetIsPrivate(true);
  privateRecord->SetPath({"photos"});
  metas.Add(privateRecord);
  const TXmlDocument doc = MakeFromString(
      "<xbel version=\"1.0\">"
      "<folder><title>News</title>"
      "<bookmark href=\"http://daily.example/\"><title>Daily</title></bookmark>"
      "<bookmark href=\"http://back.example/\"><title>Back</title></bookmark></folder>"
      "<folder><title>Photos</title><bookmark href=\"http://cat.example/\"><title>Cat</title></bookmark></folder>"
      "<folder><title>Gone</title><bookmark href=\"http://gone.example/\"><title>G</title></bookmark></folder>"
      "<folder><title>Secret</title><bookmark href=\"http://other.example/\"><title>Other</title></bookmark></folder>"
      "</xbel>");
  auto archived = std::make_shared<TXBELTree>(doc, "Archive");
  archived->InitHashes();
  TTreeMerge merge(local, favorites_, &metas);
  EXPECT_TRUE(merge.RestoreFrom(*archived));
  WriteTree(*local, 0x0FFFFFFF);
  EXPECT_EQ(DiskListing(), (TList{"Gone/", "Gone/G.url=http://gone.example/", "News/", "News/Back.url=http://back.example/",
                                  "News/Daily.url=http://daily.example/", "Photos/", "Photos/Cat.url=http://cat.example/",
                                  "Secret/", "Secret/Bank.url=http://bank.example/"}));
  // Without server data a bookmark's id comes only from its record.
  EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(NodeAt(*local, "News/Daily"))->GetId(), -1);
  // The folder's record makes it private again.
  EXPECT_TRUE(std::dynamic_pointer_cast<IFolderEx>(NodeAt(*local, "Photos"))->IsPrivate());
}

}  // namespace
}  // namespace kelvo
