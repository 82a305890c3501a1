// The controller's merge and import against the reference link server's
// copy, on a real Favorites folder: what ends up on disk, what the server
// holds afterwards, and that the controller's own writes are not heard back.

#include "BookmarksCtrlTestSupport.h"

#include <filesystem>

#include "bookmarks/ServerTree.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/UrlFile.h"
#include "server/SrvActnLinks.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

// Every node as "path|name|url", sorted.
void ListInto(const IFolder& folder, const std::string& path, std::set<std::string>& out) {
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr child = folder.Get(i);
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      out.insert(path + "|" + child->GetName() + "/");
      ListInto(*sub, path + "/" + child->GetName(), out);
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(child)) {
      out.insert(path + "|" + bookmark->GetName() + "|" + bookmark->GetURL());
    }
  }
}
std::set<std::string> Listing(const IFolder& tree) {
  std::set<std::string> out;
  ListInto(tree, "", out);
  return out;
}

class BookmarksCtrlSyncTest : public BookmarksCtrlTestBase {
 protected:
  void SetUp() override {
    BookmarksCtrlTestBase::SetUp();
    Write("Alpha.url", "http://a.example/");
    Write("Beta.url", "http://b.example/");
    Write("Docs/Gamma.url", "http://g.example/");
    Write("Docs/Epsilon.url", "http://e.example/");
    Write("Private/Secret.url", "http://s.example/");
    {
      TFileTreePtr tree = TReadBookmarksThread::ReadTree(fav_);
      TBNodeMetas metas(metaPath_);
      auto priv = std::make_shared<TBNodeMeta>(true);
      for (int i = 0; i < tree->Count(); ++i) {
        if (tree->Get(i)->GetName() == "Private") priv->SetPath(NamePath(tree->Get(i)));
      }
      priv->SetIsPrivate(true);
      metas.Add(priv);
      metas.Save();
      SetCurrentFavoritesTree(nullptr);
    }
    StartCtrl();
    TConfig::AddState(asSynchronizable);
  }

  // What the sync dialog hands over: the server's links as a tree with its
  // keys, and its public links.
  std::shared_ptr<TServerTree> ServerTree() {
    serverLinks_ = MakeFromString(server_->LinksXml(kNick));
    auto tree = TServerTree::Create(SelectNodes(serverLinks_, "//link"), "server");
    tree->InitHashes();
    return tree;
  }
  TXmlNodeList XLinks() {
    serverXLinks_ = MakeFromString(server_->XLinksXml(kNick));
    return SelectNodes(serverXLinks_, "//link");
  }

  void Export() {
    TSrvScript script;
    script.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
    script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(ctrl_->Tree(false))));
    ctrl_->SendScript(script);
    ASSERT_TRUE(WaitFor([&] { return Settled(); }));
  }

  std::string UrlOnDisk(const std::string& relative) const {
    if (!fs::exists(fav_ + relative)) return "<missing>";
    return UrlFromUrlFileText(ReadFileText(fav_ + relative));
  }

  // The controller's own writes left no record behind: the next user
  // change is heard alone.
  void ExpectOwnWritesUnheard() {
    const std::size_t from = scripts_.size();
    Write("Sentinel.url", "http://sentinel.example/");
    ASSERT_TRUE(WaitFor([&] { return Settled() && ServerHas("/|Sentinel|http://sentinel.example/"); }));
    EXPECT_EQ(ActionsSince(from), std::vector<std::string>{"save-all-links"});
  }

  TXmlDocument serverLinks_;
  TXmlDocument serverXLinks_;
};

TEST_F(BookmarksCtrlSyncTest, MergeTakesTheServersChangesAndConverges) {
  Export();
  ASSERT_TRUE(ServerHas("/Docs|Gamma|http://g.example/"));
  ASSERT_EQ(ServerBookmarks().count("/Private|Secret|http://s.example/"), 0u);

  // Changed on the server by another client: a rename, a new URL, a move
  // out of a folder both sides keep, and an addition in a folder that does
  // not exist here.
  TXmlDocument doc = MakeFromString(server_->LinksXml(kNick));
  TXmlNode root = SelectSingleNode(doc, "/*");
  for (const TXmlNode& link : SelectNodes(doc, "//link")) {
    const std::string title = GetAttr(link, "title");
    if (title == "Alpha") SetAttr(link, "title", "Alpha Renamed");
    if (title == "Beta") SetAttr(link, "url", "http://b2.example/");
    if (title == "Gamma") SetAttr(link, "path", "/");
  }
  TXmlElement added = AddChild(root, "link");
  SetAttr(added, "path", "/New/Deep");
  SetAttr(added, "title", "Delta");
  SetAttr(added, "url", "http://d.example/");
  server_->PutLinks(kNick, XmlText(doc));

  TSrvScript dialogScript;
  const std::size_t from = scripts_.size();
  ctrl_->MergeWithServer(ServerTree(), XLinks(), dialogScript);
  ASSERT_TRUE(WaitFor([&] { return Settled(); }));
  EXPECT_EQ(ActionsSince(from), std::vector<std::string>{"save-all-links"});
  EXPECT_TRUE(LogHas("Differences:"));

  EXPECT_EQ(UrlOnDisk("Alpha Renamed.url"), "http://a.example/");
  EXPECT_EQ(UrlOnDisk("Alpha.url"), "<missing>");
  EXPECT_EQ(UrlOnDisk("Beta.url"), "http://b2.example/");
  EXPECT_EQ(UrlOnDisk("Gamma.url"), "http://g.example/");
  EXPECT_EQ(UrlOnDisk("Docs/Gamma.url"), "<missing>");
  EXPECT_EQ(UrlOnDisk("Docs/Epsilon.url"), "http://e.example/");
  EXPECT_EQ(UrlOnDisk("New/Deep/Delta.url"), "http://d.example/");
  EXPECT_EQ(UrlOnDisk("Private/Secret.url"), "http://s.example/");

  // The tree says what the disk says (the server ids live in memory only).
  TFileTreePtr reread = TReadBookmarksThread::ReadTree(fav_);
  SetCurrentFavoritesTree(ctrl_->Tree(false));
  EXPECT_EQ(Listing(*reread), Listing(*ctrl_->Tree(false)));

  // Both sides now compute the same sync id: no further request-sync.
  EXPECT_EQ(TSrvScript::asSynchronizable(), server_->SyncId(kNick));
  ExpectOwnWritesUnheard();
}

TEST_F(BookmarksCtrlSyncTest, ImportReplacesTheLocalNodesButKeepsPrivateFolders) {
  server_->PutLinks(kNick,
                    R"(<links><link path="/" title="Alpha" url="http://a.example/"/>)"
                    R"(<link path="/Imported" title="Iota" url="http://i.example/"/></links>)");
  TSrvScript dialogScript;
  dialogScript.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
  ctrl_->ImportServerTree(ServerTree(), XLinks(), dialogScript);
  // Nothing local had to be uploaded.
  EXPECT_EQ(dialogScript.Count(), 1);

  EXPECT_EQ(UrlOnDisk("Alpha.url"), "http://a.example/");
  EXPECT_EQ(UrlOnDisk("Imported/Iota.url"), "http://i.example/");
  EXPECT_EQ(UrlOnDisk("Beta.url"), "<missing>");
  EXPECT_FALSE(fs::exists(fav_ + "Docs"));
  EXPECT_EQ(UrlOnDisk("Private/Secret.url"), "http://s.example/");

  TFileTreePtr tree = ctrl_->Tree(false);
  EXPECT_EQ(tree->BookmarkCount(), 3);  // Alpha, Iota and the private one
  EXPECT_EQ(TSrvScript::asSynchronizable(), server_->SyncId(kNick));
  ExpectOwnWritesUnheard();
}

TEST_F(BookmarksCtrlSyncTest, FolderWritesRestartTheWatcherEvenWhenTheyFail) {
  ASSERT_TRUE(ctrl_->Watcher()->IsActive());
  EXPECT_THROW(ctrl_->WithFolderWrite([](TFileTree&) { throw TKException("write failed"); }), TKException);
  EXPECT_TRUE(ctrl_->Watcher()->IsActive());
  EXPECT_EQ(ctrl_->Tree(false)->UpdateDepth(), 0);

  ctrl_->WithFolderWrite([&](TFileTree&) {
    EXPECT_FALSE(ctrl_->Watcher()->IsActive());
    Write("Written.url", "http://w.example/");
  });
  EXPECT_TRUE(ctrl_->Watcher()->IsActive());
  ExpectOwnWritesUnheard();
  EXPECT_FALSE(ServerHas("/|Written|http://w.example/"));
}

}  // namespace
}  // namespace kelvo::test
