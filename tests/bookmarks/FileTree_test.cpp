// The Favorites folder store on real folders in a temporary HOME: reading
// with its skips and name repairs, failures that skip one entry, saving with
// masks, removing what a tree no longer holds, the path mapping, the reader
// thread, and the two real Favorites folders of the corpus.

// GCC 12 folds the shared_ptr set-up of the node classes with virtual
// bases into one body and then warns falsely that it reads past the smaller
// nodes' storage (-Warray-bounds); the sanitizer build checks the real
// accesses.
#pragma GCC diagnostic ignored "-Warray-bounds"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "NodeTestSupport.h"
#include "TestHome.h"
#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/ReadBookmarksThread.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/UrlFile.h"
#include "foundation/RegistryTools.h"
#include "foundation/ThreadRegistry.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::WriteFileText;

std::string Shortcut(const std::string& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

// Names of the children, in list order; folders end in "/".
std::set<std::string> ChildNames(const IFolder& folder) {
  std::set<std::string> names;
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr child = folder.Get(i);
    names.insert(child->GetName() + (dynamic_cast<const IFolder*>(child.get()) ? "/" : ""));
  }
  return names;
}

IBNodePtr Child(const IFolder& folder, const std::string& name) {
  for (int i = 0; i < folder.Count(); ++i) {
    if (folder.Get(i)->GetName() == name) return folder.Get(i);
  }
  return nullptr;
}

std::string UrlOf(const IBNodePtr& node) {
  auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
  return bookmark ? bookmark->GetURL() : "<not a bookmark>";
}

class FileTreeTest : public test::NodeLogTest {
 protected:
  void SetUp() override {
    NodeLogTest::SetUp();
    ResetLinksFolderNameForTests();
    SetFavoritesDirectoryOverride("");
    root_ = home_->Sub("Favorites") + "/";
    fs::create_directories(root_);
  }
  void TearDown() override {
    ResetLinksFolderNameForTests();
    SetCurrentFavoritesTree(nullptr);
    NodeLogTest::TearDown();
  }
  void Put(const std::string& relative, const std::string& text) { WriteFileText(root_ + relative, text); }
  TFileTreePtr NewTree(const std::string& directory) {
    return std::make_shared<TFileTree>(directory, "My Favorites");
  }
  TFileTreePtr EmptyTree() { return NewTree(home_->Sub("nowhere")); }
  TFileTreePtr Read() {
    TFileTreePtr tree = NewTree(root_);
    tree->InitHashes();
    return tree;
  }

  std::string root_;
};

TEST_F(FileTreeTest, ReadsFoldersAndShortcutsAndSkipsTheRest) {
  Put("x.url", Shortcut("http://x/"));
  Put("a.ur", Shortcut("http://short/"));
  Put("UPPER.URL", Shortcut("http://upper/"));
  Put("notes.txt", "not a bookmark");
  Put("desktop.ini", "[.ShellClassInfo]\r\n");
  Put("ab/inner.url", Shortcut("http://inner/"));
  Put("ab/deeper/d.url", Shortcut("http://d/"));
  fs::create_directories(root_ + "e");

  TFileTreePtr tree = Read();
  EXPECT_EQ(ChildNames(*tree), (std::set<std::string>{"x", "UPPER", "ab/", "e/"}));
  EXPECT_EQ(UrlOf(Child(*tree, "x")), "http://x/");
  auto ab = std::dynamic_pointer_cast<TFileFolder>(Child(*tree, "ab"));
  ASSERT_TRUE(ab);
  EXPECT_EQ(ab->GetRelativePath(), "/ab/");
  EXPECT_EQ(ab->GetId(), -1);
  EXPECT_FALSE(ab->IsLinksFolder());
  auto deeper = std::dynamic_pointer_cast<TFileFolder>(Child(*ab, "deeper"));
  ASSERT_TRUE(deeper);
  EXPECT_EQ(deeper->GetRelativePath(), "/ab/deeper/");
  EXPECT_EQ(UrlOf(Child(*deeper, "d")), "http://d/");
  // What was read is what is on disk: nothing is marked changed.
  EXPECT_EQ(tree->GetFlags(), 0u);
  EXPECT_EQ(ab->GetFlags(), 0u);
  EXPECT_EQ(Child(*ab, "inner")->GetFlags(), 0u);

  TBookmarkStats stats;
  tree->CollectStats(stats);
  EXPECT_EQ(stats.Bookmarks, 4);
  EXPECT_EQ(stats.Folders, 3);
}

TEST_F(FileTreeTest, RepairsDamagedFileNames) {
  struct TCase {
    const char* onDisk;
    const char* repaired;  // file name after reading
    const char* log;       // expected log text, "" for none
  };
  const TCase cases[] = {
      {"News .url", "News_.url", "Found favorites filename with space at the end:renamed it:News_.url"},
      {"Wide \t .url", "Wide_.url", "Found favorites filename with space at the end:renamed it:Wide_.url"},
      {"Tom&#39;s &#39;.url.url", "Tom's '.url.url", "Found favorites filename with \"&#39;\":renamed it:Tom's '.url.url"},
      {"Ann&AMP;#39;s.url", "Ann's.url", "Found favorites filename with \"&amp;#39;\":renamed it:Ann's.url"},
      // The extension in other letter case has no ".url" to replace.
      {"Shout .URL", "Shout .URL", ""},
  };
  for (const TCase& c : cases) Put(c.onDisk, Shortcut(std::string("http://") + c.repaired));
  TFileTreePtr tree = Read();
  for (const TCase& c : cases) {
    EXPECT_TRUE(fs::exists(root_ + c.repaired)) << c.repaired;
    const std::string name = std::string(c.repaired).substr(0, std::string(c.repaired).rfind('.'));
    EXPECT_EQ(UrlOf(Child(*tree, name)), std::string("http://") + c.repaired) << name;
    if (*c.log) {
      EXPECT_TRUE(LogHas(c.log)) << c.log;
    }
  }
  EXPECT_EQ(tree->Count(), 5);
}

TEST_F(FileTreeTest, ARepairThatCannotRenameKeepsTheOldName) {
  Put("Tom&#39;s.url", Shortcut("http://damaged/"));
  Put("Tom's.url", Shortcut("http://existing/"));
  TFileTreePtr tree = Read();
  EXPECT_EQ(UrlOf(Child(*tree, "Tom&#39;s")), "http://damaged/");
  EXPECT_EQ(UrlOf(Child(*tree, "Tom's")), "http://existing/");
  EXPECT_EQ(ReadFileText(root_ + "Tom's.url"), Shortcut("http://existing/"));
  EXPECT_FALSE(LogHas("renamed it"));
}

TEST_F(FileTreeTest, AFileThatCannotBeReadIsSkippedAndTheRestRead) {
  Put("good.url", Shortcut("http://good/"));
  Put("binary.url", std::string("[InternetShortcut]\nURL=http://b/\n\0\0\x01", 36));
  Put("huge.url", Shortcut("http://huge/") + std::string(kUrlFileMaxSize, ';'));
  fs::create_symlink(root_ + "missing-target", root_ + "dangling.url");
  Put("sub/after.url", Shortcut("http://after/"));

  TFileTreePtr tree = Read();
  EXPECT_EQ(ChildNames(*tree), (std::set<std::string>{"good", "sub/"}));
  for (const char* name : {"binary.url", "huge.url", "dangling.url"}) {
    EXPECT_TRUE(LogHas("Cannot open file:" + root_ + name)) << name;
  }
}

TEST_F(FileTreeTest, FoldersThatCannotBeEnteredOrLinkElsewhereAreSkipped) {
  Put("kept/a.url", Shortcut("http://a/"));
  Put("elsewhere/e.url", Shortcut("http://e/"));
  // A link back to the root would make the walk endless.
  fs::create_directory_symlink(root_, root_ + "loop");
  fs::create_directory_symlink(home_->Sub("Favorites/elsewhere"), root_ + "kept/link");
  Put("locked/l.url", Shortcut("http://l/"));
  fs::permissions(root_ + "locked", fs::perms::none);
  std::error_code ec;
  const bool lockedIsReadable = fs::directory_iterator(root_ + "locked", ec) != fs::directory_iterator() && !ec;

  TFileTreePtr tree = Read();
  fs::permissions(root_ + "locked", fs::perms::owner_all);
  auto kept = std::dynamic_pointer_cast<IFolder>(Child(*tree, "kept"));
  ASSERT_TRUE(kept);
  EXPECT_EQ(ChildNames(*kept), (std::set<std::string>{"a"}));
  EXPECT_TRUE(LogHas("symbolic link to a folder not followed:" + root_ + "loop"));
  EXPECT_EQ(Child(*tree, "loop"), nullptr);
  if (lockedIsReadable) {
    // Running as root: permissions do not lock anyone out.
    EXPECT_NE(Child(*tree, "locked"), nullptr);
  } else {
    EXPECT_EQ(Child(*tree, "locked"), nullptr);
    EXPECT_TRUE(LogHas("Cannot read directory:" + root_ + "locked/"));
  }
  EXPECT_NE(Child(*tree, "elsewhere"), nullptr);
}

TEST_F(FileTreeTest, AMissingFavoritesFolderIsAnEmptyTree) {
  TFileTreePtr tree = EmptyTree();
  EXPECT_EQ(tree->Count(), 0);
}

TEST_F(FileTreeTest, LinksFolderNameComesFromTheSettingsOnce) {
  EXPECT_EQ(LinksFolderName(true), "Links");
  EXPECT_EQ(LinksFolderName(false), "");
  ResetLinksFolderNameForTests();
  WriteRegString(TRegRoot::HKCU, "Software\\Microsoft\\Internet Explorer\\Toolbar\\", "LinksFolderName", "Liens");
  Put("Liens/l.url", Shortcut("http://l/"));
  Put("Links/k.url", Shortcut("http://k/"));
  Put("liens/m.url", Shortcut("http://m/"));
  TFileTreePtr tree = Read();
  EXPECT_TRUE(std::dynamic_pointer_cast<TFileFolder>(Child(*tree, "Liens"))->IsLinksFolder());
  EXPECT_FALSE(std::dynamic_pointer_cast<TFileFolder>(Child(*tree, "Links"))->IsLinksFolder());
  EXPECT_FALSE(std::dynamic_pointer_cast<TFileFolder>(Child(*tree, "liens"))->IsLinksFolder());
  EXPECT_TRUE(LogHas("Links folder name:Liens:"));
  // Cached: a later change is not seen by this process.
  WriteRegString(TRegRoot::HKCU, "Software\\Microsoft\\Internet Explorer\\Toolbar\\", "LinksFolderName", "Other");
  EXPECT_EQ(LinksFolderName(true), "Liens");
}

TEST_F(FileTreeTest, SavesOnlyChangedBookmarksButCreatesEveryFolder) {
  Put("old.url", "[{GUID}]\r\nProp3=19,2\r\n[InternetShortcut]\r\nURL=http://old/\r\nIconIndex=1\r\n");
  Put("same.url", Shortcut("http://same/"));
  TFileTreePtr tree = Read();
  std::dynamic_pointer_cast<IBookmark>(Child(*tree, "old"))->SetURL("http://changed/");
  auto fresh = std::make_shared<TFileFolder>(root_, false, "Fresh");
  tree->Add(fresh);
  auto unchanged = std::make_shared<TFileBookmark>(TDefaultKBookmark("Unchanged", "http://u/"));
  fresh->Add(unchanged);
  fs::remove(root_ + "same.url");

  ASSERT_TRUE(tree->SaveToDisk(root_, nfModified));
  EXPECT_EQ(ReadFileText(root_ + "old.url"),
            "[{GUID}]\r\nProp3=19,2\r\n[InternetShortcut]\r\nURL=http://changed/\r\nIconIndex=1\r\n");
  EXPECT_FALSE(fs::exists(root_ + "same.url"));
  EXPECT_TRUE(fs::is_directory(root_ + "Fresh"));
  EXPECT_FALSE(fs::exists(root_ + "Fresh/Unchanged.url"));

  // A bookmark without any flag is never written, whatever the mask.
  ASSERT_TRUE(tree->SaveToDisk(root_, ~0u));
  EXPECT_FALSE(fs::exists(root_ + "same.url"));
  tree->SetFlagsDeep(1);
  ASSERT_TRUE(tree->SaveToDisk(root_, ~0u));
  EXPECT_EQ(ReadFileText(root_ + "same.url"), Shortcut("http://same/"));
  EXPECT_EQ(ReadFileText(root_ + "Fresh/Unchanged.url"), Shortcut("http://u/"));
}

TEST_F(FileTreeTest, TrailingDotsOfFolderNamesGoLikeOnWindows) {
  TFileTreePtr tree = EmptyTree();
  auto folder = std::make_shared<TFileFolder>(root_, false, "Etc..");
  tree->Add(folder);
  folder->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("and so on...", "http://x/")));
  tree->SetFlagsDeep(nfModified);
  ASSERT_TRUE(tree->SaveToDisk(root_, ~0u));
  EXPECT_EQ(ReadFileText(root_ + "Etc/and so on....url"), Shortcut("http://x/"));
  EXPECT_FALSE(fs::exists(root_ + "Etc.."));
  tree->InitHashes();
  EXPECT_EQ(NodeFilePath(root_, *folder->Get(0)), root_ + "Etc/and so on....url");
  // Cleaning up finds the folder under its saved name and keeps it.
  tree->RemoveOldFiles(root_, "");
  EXPECT_TRUE(fs::exists(root_ + "Etc/and so on....url"));
}

TEST_F(FileTreeTest, AFailedBookmarkStopsItsFolderAndTheTreeReportsIt) {
  TFileTreePtr tree = EmptyTree();
  auto folder = std::make_shared<TFileFolder>(root_, false, "F");
  tree->Add(folder);
  folder->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("first", "http://1/")));
  folder->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("blocked", "http://2/")));
  folder->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("third", "http://3/")));
  tree->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("top", "http://t/")));
  tree->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("top-blocked", "http://tb/")));
  tree->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark("last", "http://l/")));
  tree->SetFlagsDeep(nfModified);
  fs::create_directories(root_ + "F/blocked.url");      // a folder where the file goes
  fs::create_directories(root_ + "top-blocked.url");

  EXPECT_FALSE(tree->SaveToDisk(root_, ~0u));
  EXPECT_TRUE(fs::exists(root_ + "F/first.url"));
  EXPECT_FALSE(fs::exists(root_ + "F/third.url"));  // the folder stopped
  EXPECT_TRUE(fs::exists(root_ + "top.url"));        // but its parent went on
  EXPECT_FALSE(fs::exists(root_ + "last.url"));      // until its own failure
  EXPECT_TRUE(LogHas("TFileBookmark.WriteFile:Error saving:" + root_ + "F/blocked.url"));
  EXPECT_TRUE(LogHas("TFileBookmark.WriteFile:Error saving:" + root_ + "top-blocked.url"));
}

TEST_F(FileTreeTest, CopiesUseFileSafeNamesThatStayInsideTheirFolder) {
  TDefaultKFolder source("  Work  ");
  auto sub = std::make_shared<TDefaultKFolder>("..");
  source.Add(sub);
  sub->Add(std::make_shared<TDefaultKBookmark>("../../escape", "http://e/"));
  source.Add(std::make_shared<TDefaultKBookmark>(" Padded name ", "http://p/", "", 42));
  source.SetPrivate(true);

  TFileTreePtr tree = EmptyTree();
  auto copy = std::make_shared<TFileFolder>(source);
  tree->Add(copy);
  EXPECT_EQ(copy->GetName(), FileSafeName("  Work  ", nmFolder));
  EXPECT_FALSE(copy->IsPrivate());
  EXPECT_EQ(copy->GetId(), -1);
  ASSERT_EQ(copy->Count(), 2);
  auto copiedSub = std::dynamic_pointer_cast<TFileFolder>(copy->Get(0));
  ASSERT_TRUE(copiedSub);
  const std::string subName = FileNameOfNode(FileSafeName("..", nmFolder));
  const std::string escapeName = FileNameOfNode(FileSafeName("../../escape", nmBookmark));
  EXPECT_EQ(copiedSub->GetName(), subName);
  EXPECT_EQ(copiedSub->Get(0)->GetName(), escapeName);
  for (const std::string& name : {subName, escapeName}) {
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name, "..");
    EXPECT_NE(name, "");
  }
  EXPECT_EQ(copy->Get(1)->GetName(), FileSafeName(" Padded name ", nmBookmark));

  tree->SetFlagsDeep(nfModified);
  ASSERT_TRUE(tree->SaveToDisk(root_, ~0u));
  const std::string work = root_ + FileSafeName("  Work  ", nmFolder);
  EXPECT_TRUE(fs::exists(work + "/" + subName + "/" + escapeName + ".url"));
  // Nothing landed outside the Favorites.
  EXPECT_FALSE(fs::exists(home_->Sub("escape.url")));
  EXPECT_FALSE(fs::exists(home_->Sub("Favorites/escape.url")));
}

TEST_F(FileTreeTest, RemoveOldFilesDeletesWhatTheTreeNoLongerHolds) {
  Put("keep.url", Shortcut("http://k/"));
  Put("Keep/inner.url", Shortcut("http://i/"));
  Put("Keep/gone.url", Shortcut("http://g/"));
  Put("Keep/readme.txt", "kept");
  Put("Stale/anything.bin", "deleted with its folder");
  Put("Stale/deep/x.url", Shortcut("http://x/"));
  Put("stale.url", Shortcut("http://s/"));
  Put("KEEP.url", Shortcut("http://case/"));  // names compare with case
  Put("notes.txt", "kept");
  fs::create_directory_symlink(home_->Path(), root_ + "homelink");

  TFileTreePtr tree = Read();
  for (const char* name : {"stale", "Stale", "KEEP"}) tree->Remove(Child(*tree, name));
  auto keep = std::dynamic_pointer_cast<IFolder>(Child(*tree, "Keep"));
  keep->Remove(Child(*keep, "gone"));

  tree->RemoveOldFiles(root_, "");
  EXPECT_TRUE(fs::exists(root_ + "keep.url"));
  EXPECT_TRUE(fs::exists(root_ + "Keep/inner.url"));
  EXPECT_FALSE(fs::exists(root_ + "Keep/gone.url"));
  EXPECT_TRUE(fs::exists(root_ + "Keep/readme.txt"));
  EXPECT_FALSE(fs::exists(root_ + "Stale"));
  EXPECT_FALSE(fs::exists(root_ + "stale.url"));
  EXPECT_FALSE(fs::exists(root_ + "KEEP.url"));
  EXPECT_TRUE(fs::exists(root_ + "notes.txt"));
  // A link is never followed into, nor is what it points at deleted.
  EXPECT_TRUE(fs::exists(root_ + "homelink"));
  EXPECT_TRUE(fs::exists(home_->Sub("kelvo-test.log")));
}

TEST_F(FileTreeTest, PathsMapToNodesAndBack) {
  Put("top.url", Shortcut("http://t/"));
  Put("News/Sport/Goal.url", Shortcut("http://g/"));
  TFileTreePtr tree = Read();
  auto news = std::dynamic_pointer_cast<IFolder>(Child(*tree, "News"));
  auto sport = std::dynamic_pointer_cast<IFolder>(Child(*news, "Sport"));
  IBNodePtr goal = Child(*sport, "Goal");

  EXPECT_EQ(NodeFilePath(root_, *goal), root_ + "News/Sport/Goal.url");
  EXPECT_EQ(NodeFilePath(root_, *sport), root_ + "News/Sport");
  EXPECT_EQ(NodeFilePath(root_, *Child(*tree, "top")), root_ + "top.url");
  EXPECT_EQ(NodeFilePath(root_, *tree), "");

  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + "News/Sport/Goal.url", false), goal);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + "News/Sport", true), sport);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + "News/Sport/", true), sport);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + "top.url", false), Child(*tree, "top"));
  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_, true), tree);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + "News/Nothing.url", false), nullptr);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, home_->Sub("elsewhere/x.url"), false), nullptr);
  EXPECT_EQ(FindNodeByFilePath(tree, root_, "x", false), nullptr);
}

TEST_F(FileTreeTest, FavoritesLocation) {
  EXPECT_EQ(FavoritesDirectory(), home_->Sub("Favorites") + "/");
  SetFavoritesDirectoryOverride(home_->Sub("Chosen"));
  EXPECT_EQ(FavoritesDirectory(), home_->Sub("Chosen") + "/");
  SetFavoritesDirectoryOverride("");

  // Under a service account the "browser" "location" setting wins when it
  // names an existing directory.
  const std::string service = home_->Sub("LocalService");
  fs::create_directories(service);
  fs::create_directories(home_->Sub("Real"));
  setenv("HOME", service.c_str(), 1);
  TConfig::SetBrowserLocation(home_->Sub("Missing"));
  EXPECT_EQ(FavoritesDirectory(), service + "/Favorites/");
  TConfig::SetBrowserLocation(home_->Sub("Real"));
  EXPECT_EQ(FavoritesDirectory(), home_->Sub("Real") + "/");
  setenv("HOME", home_->Path().c_str(), 1);
}

TEST_F(FileTreeTest, ReaderThreadStoresTheTreeWithKeysAndDuplicatesMarked) {
  Put("a.url1.url", Shortcut("http://same.example/"));
  Put("Sub/b.url", Shortcut("http://same.example/"));
  Put("Sub/b2.url", Shortcut("http://other.example/"));
  Put("Sub/b3.url", Shortcut("http://other.example/"));  // sibling duplicate: removed
  SetCurrentFavoritesTree(nullptr);

  std::mutex lock;
  TFileTreePtr handed;
  auto thread = TReadBookmarksThread::Start(root_, [&](const TFileTreePtr& tree) {
    std::lock_guard<std::mutex> guard(lock);
    handed = tree;
  });
  ASSERT_TRUE(thread->WaitFinished(std::chrono::seconds(30)));
  EXPECT_EQ(TThreadRegistry::Count(TReadBookmarksThread::kClassName), 0);
  TFileTreePtr tree = thread->Tree();
  ASSERT_TRUE(tree);
  {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(handed, tree);
  }
  EXPECT_EQ(CurrentFavoritesTree(), tree);
  EXPECT_EQ(tree->GetName(), "My Favorites");
  auto sub = std::dynamic_pointer_cast<IFolder>(Child(*tree, "Sub"));
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->Count(), 2);
  auto a = std::dynamic_pointer_cast<IBookmark>(Child(*tree, "a.url1"));
  auto b = std::dynamic_pointer_cast<IBookmark>(Child(*sub, "b"));
  EXPECT_TRUE(a->GetDuplicate());
  EXPECT_TRUE(b->GetDuplicate());
  EXPECT_EQ(tree->FindNode(a->GetHash(hkPath)), a);
  for (const char* line : {"TReadBookmarksThread.Reading bookmarks:start", "TReadBookmarksThread.Init hashes:start",
                           "TReadBookmarksThread.Unduplicating:start", "TReadBookmarksThread.Finished"}) {
    EXPECT_TRUE(LogHas(line)) << line;
  }
}

TEST_F(FileTreeTest, ReaderThreadFailureEndsQuietly) {
  // A root that cannot be listed: a file in its place.
  WriteFileText(home_->Sub("file-root"), "x");
  bool called = false;
  TFileTreePtr handed = EmptyTree();
  auto thread = TReadBookmarksThread::Start(home_->Sub("file-root"), [&](const TFileTreePtr& tree) {
    called = true;
    handed = tree;
  });
  ASSERT_TRUE(thread->WaitFinished(std::chrono::seconds(30)));
  EXPECT_TRUE(called);
  EXPECT_EQ(handed, nullptr);
  EXPECT_EQ(thread->Tree(), nullptr);
  EXPECT_EQ(TThreadRegistry::Count(TReadBookmarksThread::kClassName), 0);
}

// The two real Favorites folders, copied so that name repairs stay local.
class FavoritesCorpusTest : public FileTreeTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(FavoritesCorpusTest, ReadsEveryShortcutOfTheListing) {
  const std::string source = std::string(KELVO_CORPUS_DIR) + "/favorites_tree/" + GetParam();
  fs::remove_all(root_);
  fs::copy(source, root_, fs::copy_options::recursive);
  TFileTreePtr tree = Read();

  std::ifstream listing(source + ".files.tsv");
  std::string line;
  int shortcuts = 0;
  int sharedKeys = 0;
  std::set<std::string> folders;
  while (std::getline(listing, line)) {
    std::istringstream fields(line);
    std::string blob, size, path;
    std::getline(fields, blob, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, path);
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      folders.insert(path.substr(0, slash));
    }
    const std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    if (ext != ".url" && ext != ".URL") {
      // desktop.ini and the like are not bookmarks.
      EXPECT_EQ(FindNodeByFilePath(tree, root_, root_ + path, false), nullptr) << path;
      continue;
    }
    ++shortcuts;
    IBNodePtr node = FindNodeByFilePath(tree, root_, root_ + path, false);
    ASSERT_NE(node, nullptr) << path;
    const std::string found = NodeFilePath(root_, *node);
    if (found != root_ + path.substr(0, path.size() - 4) + ".url") {
      // Names cut to the key length can share a path key; the first in walk
      // order answers. Then both files must really give the same key.
      EXPECT_EQ(FindNodeByFilePath(tree, root_, found, false), node) << path;
      ++sharedKeys;
      continue;
    }
    EXPECT_EQ(UrlOf(node), UrlFromUrlFileText(ReadFileText(root_ + path))) << path;
  }
  ASSERT_GT(shortcuts, 0);
  EXPECT_LE(sharedKeys, 2);
  EXPECT_EQ(tree->BookmarkCount(), shortcuts);
  EXPECT_EQ(tree->FolderCount(), static_cast<std::int32_t>(folders.size()));
  for (const std::string& folder : folders) {
    EXPECT_NE(std::dynamic_pointer_cast<IFolder>(FindNodeByFilePath(tree, root_, root_ + folder, true)), nullptr)
        << folder;
  }
  EXPECT_FALSE(LogHas("Cannot open file:"));
}

INSTANTIATE_TEST_SUITE_P(Corpus, FavoritesCorpusTest,
                         ::testing::Values("lio68-Favorites", "sgorain-ICS3U-Favorites"));

}  // namespace
}  // namespace kelvo
