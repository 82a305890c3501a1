#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SrvTestSupport.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "server/ClientTag.h"
#include "server/SrvActnLinks.h"
#include "server/SrvScript.h"

namespace kelvo {
namespace {

// A small Favorites tree:
//   /Tools (id 12)          Kelvo http://kelvo.example/ (id 34)
//   /Links                  Tool http://tool.example/
//   /Secret (private)       Hidden http://hidden.example/
//     /Inner                Deep http://deep.example/
class SrvActnLinksTest : public test::SrvScriptTestBase {
 protected:
  void SetUp() override {
    SrvScriptTestBase::SetUp();
    tree_ = std::make_shared<TDefaultSimpleTree>("Favorites");
    tools_ = std::make_shared<TDefaultKFolder>("Tools", false, 12);
    kelvo_ = std::make_shared<TDefaultKBookmark>("Kelvo", "http://kelvo.example/", "", 34);
    links_ = std::make_shared<TDefaultKFolder>("Links", true);
    tool_ = std::make_shared<TDefaultKBookmark>("Tool", "http://tool.example/");
    secret_ = std::make_shared<TDefaultKFolder>("Secret", false, 56);
    hidden_ = std::make_shared<TDefaultKBookmark>("Hidden", "http://hidden.example/");
    inner_ = std::make_shared<TDefaultKFolder>("Inner");
    deep_ = std::make_shared<TDefaultKBookmark>("Deep", "http://deep.example/");
    tree_->Add(tools_);
    tools_->Add(kelvo_);
    tree_->Add(links_);
    links_->Add(tool_);
    tree_->Add(secret_);
    secret_->Add(hidden_);
    secret_->Add(inner_);
    inner_->Add(deep_);
    secret_->SetPrivate(true);
    tree_->InitHashes("");
  }

  std::shared_ptr<TDefaultSimpleTree> tree_;
  std::shared_ptr<TDefaultKFolder> tools_, links_, secret_, inner_;
  std::shared_ptr<TDefaultKBookmark> kelvo_, tool_, hidden_, deep_;
};

IClientAreaTagPtr SyncTag(const std::string& subName) {
  return MakeClientTag(kAreaSync, kTagKindNeedsAnswer, subName);
}

TEST_F(SrvActnLinksTest, SimpleActionsWriteTheirElements) {
  const struct {
    ISrvActionPtr action;
    std::string xml;
  } cases[] = {
      {std::make_shared<TSrvActnConnect>(NoAreaTag()), R"(<connect client-area="/"/>)"},
      {std::make_shared<TSrvActnLoadAllLinks>(SyncTag("load-all-links"), "MERGE"),
       R"(<load-all-links client-area="/sync-area/load-all-links" mode="MERGE"/>)"},
      {std::make_shared<TSrvActnLoadAllLinks>(nullptr, ""), "<load-all-links/>"},
      {std::make_shared<TSrvActnLoadAllXLinks>(SyncTag("x"), "/$pub/"),
       R"(<load-all-xlinks client-area="/sync-area/x" path="/$pub/"/>)"},
      {std::make_shared<TSrvActnLoadAllXLinks>(nullptr, ""), "<load-all-xlinks/>"},
      {std::make_shared<TSrvActnSaveAllLinks>(NoAreaTag()),
       R"(<save-all-links client-area="/" mode="ADD"/>)"},
      {std::make_shared<TSrvActnChangeLoginPassword>(
           std::make_shared<TClientTag>(kAreaIdDialog), "new pass", "nickname"),
       R"(<change-login-password client-area="/id-dialog" login="nickname" password="new pass"/>)"},
      {std::make_shared<TSrvActnRemoveXLink>(nullptr, "/$pub/123", "123"),
       R"(<remove-xlink ref=":123" path="/$pub/123"/>)"},
      {std::make_shared<TSrvActnRemoveXLink>(NoAreaTag(), "/$pub/9", "srv:9"),
       R"(<remove-xlink client-area="/" ref="srv:9" path="/$pub/9"/>)"},
      {std::make_shared<TSrvActnRemoveLink>(nullptr, "Tool", "http://tool.example/",
                                            "/Links/Tools"),
       R"(<remove-link path="/PERSONAL_BOOKMARK_FOLDER/Tools" url="http://tool.example/" title="Tool"/>)"},
      // Only a whole first segment is the Links folder.
      {std::make_shared<TSrvActnRemoveLink>(nullptr, "", "", "/LinksOld/a"),
       R"(<remove-link path="/LinksOld/a"/>)"},
      {std::make_shared<TSrvActnRemoveLink>(NoAreaTag(), "", "", "/Links"),
       R"(<remove-link client-area="/" path="/PERSONAL_BOOKMARK_FOLDER"/>)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ActionText(c.action), c.xml);
}

TEST_F(SrvActnLinksTest, ConnectSendsAndRemembersTheSyncId) {
  SetSyncIdTextSource([] { return std::string("abc"); });
  TConfig::AddState(asSynchronizable);
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnConnect>(NoAreaTag())),
            R"(<connect client-area="/" sync-id="900150983cd24fb0d6963f7d28e17f72"/>)");
  EXPECT_EQ(GetLastSyncIdSent(), "900150983cd24fb0d6963f7d28e17f72");

  // Off again: no "sync-id", and the last one sent is forgotten.
  TConfig::RemoveState(asSynchronizable);
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnConnect>(nullptr)), "<connect/>");
  EXPECT_EQ(GetLastSyncIdSent(), "");
}

TEST_F(SrvActnLinksTest, RemoveXLinkRefusesTheReservedRoots) {
  for (const char* root : kReservedXLinkRoots) {
    SCOPED_TRACE(root);
    EXPECT_EQ(ActionText(std::make_shared<TSrvActnRemoveXLink>(nullptr, root, "5")),
              std::string(R"(<remove-xlink ref=":5" path=")") + root + R"(INVALID_PATH"/>)");
    EXPECT_TRUE(LogHas(std::string("TSrvActnRemoveXLink.Write:trying to delete xlink path=") +
                       root));
  }
  // The comparison is exact.
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnRemoveXLink>(nullptr, "/$pub", "5")),
            R"(<remove-xlink ref=":5" path="/$pub"/>)");
}

TEST_F(SrvActnLinksTest, SaveAllLinksFromNodesHasModeAndNoClientArea) {
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnSaveAllLinks>(
                SyncTag("save"), smReplace, TNodeList{kelvo_, tool_})),
            R"(<save-all-links mode="REPLACE">)"
            R"(<link path="/Tools" url="http://kelvo.example/" title="Kelvo" id="34"/>)"
            R"(<link path="/PERSONAL_BOOKMARK_FOLDER" url="http://tool.example/" title="Tool"/>)"
            "</save-all-links>");
  // A listed bookmark without a title is left out, the rest still goes.
  auto untitled = std::make_shared<TDefaultKBookmark>("", "http://untitled.example/");
  tools_->Add(untitled);
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd,
                                                              TNodeList{untitled, kelvo_})),
            R"(<save-all-links mode="ADD">)"
            R"(<link path="/Tools" url="http://kelvo.example/" title="Kelvo" id="34"/>)"
            "</save-all-links>");
}

TEST_F(SrvActnLinksTest, SaveAllLinksOfATreeWritesItsLinks) {
  const std::string text =
      ActionText(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree_)));
  EXPECT_EQ(text.rfind(R"(<save-all-links mode="REPLACE">)", 0), 0u) << text;
  // What the tree walk writes, inside the element.
  const TXmlDocument doc = MakeFromString("<x/>");
  WriteTreeLinks(*tree_, doc.DocumentElement());
  std::string inner = XmlText(doc.DocumentElement());
  inner = inner.substr(3, inner.size() - 7);  // strip "<x>" and "</x>"
  EXPECT_FALSE(inner.empty());
  EXPECT_EQ(text, R"(<save-all-links mode="REPLACE">)" + inner + "</save-all-links>");
  EXPECT_NE(text.find(R"(title="Kelvo")"), std::string::npos);
}

TEST_F(SrvActnLinksTest, SaveAllXLinksWritesTheStoreRecords) {
  auto record = std::make_shared<TBNodeMeta>(false);
  record->SetId(77);
  record->SetIsPublic(true, nullptr);
  const TXLinksWriter writer = [record](const TXmlElement& element) { record->WriteXLink(element); };
  const std::string expected = R"(<save-all-xlinks client-area="/sync-area" mode="REPLACE">)" +
                               [&] {
                                 const TXmlDocument doc = MakeFromString("<x/>");
                                 record->WriteXLink(doc.DocumentElement());
                                 return XmlText(doc.DocumentElement().FirstChild());
                               }() +
                               "</save-all-xlinks>";
  EXPECT_NE(expected.find(R"(ref=":77")"), std::string::npos) << expected;
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnSaveAllXLinks>(
                MakeClientTag(kAreaSync, kTagKindNeedsAnswer), smReplace, writer)),
            expected);

  // Without a writer of its own the registered one is used.
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnSaveAllXLinks>(nullptr, smAdd)),
            R"(<save-all-xlinks mode="ADD"/>)");
  SetXLinksWriter(writer);
  EXPECT_NE(ActionText(std::make_shared<TSrvActnSaveAllXLinks>(nullptr, smAdd))
                .find(R"(ref=":77")"),
            std::string::npos);
  SetXLinksWriter(nullptr);
}

TEST_F(SrvActnLinksTest, UpdateLinkKinds) {
  const std::string kelvoNew =
      R"(<new-link path="/Tools" url="http://kelvo.example/" title="Kelvo" id="34"/>)";
  const struct {
    std::string name;
    ISrvActionPtr action;
    std::string xml;
  } cases[] = {
      {"movebookmark", TSrvActnUpdateLink::MoveBookmark(SyncTag("u"), "/Old/Place", kelvo_),
       R"(<update-link><old-link path="/Old/Place" url="http://kelvo.example/" title="Kelvo" id="34"/>)" +
           kelvoNew + "</update-link>"},
      {"renamefolder", TSrvActnUpdateLink::RenameFolder(nullptr, true, "/Tooling", tools_),
       R"(<update-link><old-link path="/Tooling" id="12" private="CLIENT"/>)"
       R"(<new-link path="/Tools" id="12" private="CLIENT"/></update-link>)"},
      {"changebookmark",
       TSrvActnUpdateLink::ChangeBookmark(nullptr, "http://old.example/", "Old", kelvo_),
       R"(<update-link><old-link path="/Tools" url="http://old.example/" title="Old" id="34"/>)" +
           kelvoNew + "</update-link>"},
      {"addlocalid bookmark", TSrvActnUpdateLink::AddLocalId(nullptr, kelvo_),
       R"(<update-link><old-link path="/Tools" url="http://kelvo.example/" title="Kelvo"/>)" +
           kelvoNew + "</update-link>"},
      {"addlocalid folder", TSrvActnUpdateLink::AddLocalId(nullptr, tools_),
       R"(<update-link><old-link path="/Tools"/><new-link path="/Tools" id="12"/></update-link>)"},
      {"removelocalid bookmark", TSrvActnUpdateLink::RemoveLocalId(nullptr, tool_, 99),
       R"(<update-link><old-link path="/PERSONAL_BOOKMARK_FOLDER" url="http://tool.example/" title="Tool" id="99"/>)"
       R"(<new-link path="/PERSONAL_BOOKMARK_FOLDER" url="http://tool.example/" title="Tool"/></update-link>)"},
      {"removelocalid folder", TSrvActnUpdateLink::RemoveLocalId(nullptr, inner_, 98),
       R"(<update-link><old-link path="/Secret/Inner" id="98"/>)"
       R"(<new-link path="/Secret/Inner"/></update-link>)"},
      {"other kind", std::make_shared<TSrvActnUpdateLink>(NoAreaTag(), "something"),
       R"(<update-link client-area="/"/>)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ActionText(c.action), c.xml);
    EXPECT_TRUE(c.action->HasKind(kActnKindChangesLinks));
  }
}

TEST_F(SrvActnLinksTest, UpdateLinkWithABadRecordIsDroppedWhole) {
  kelvo_->SetName("");
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnLoadAllXLinks>(nullptr, "/a"));
  script.AddAction(TSrvActnUpdateLink::ChangeBookmark(nullptr, "http://old.example/", "Old", kelvo_));
  script.AddAction(std::make_shared<TSrvActnLoadAllXLinks>(nullptr, "/b"));
  EXPECT_EQ(Body(script), R"(<server-script version="1.0"><load-all-xlinks path="/a"/>)"
                          R"(<load-all-xlinks path="/b"/></server-script>)");
  EXPECT_TRUE(LogHas("Error making script for Kelvo server"));
  EXPECT_TRUE(LogHas("WriteBookmarkLinkEx: bad path, url, caption:"));
}

TEST_F(SrvActnLinksTest, OnlyChangingActionsHaveKindOne) {
  const struct {
    ISrvActionPtr action;
    bool changes;
  } cases[] = {
      {std::make_shared<TSrvActnContext>(nullptr, true), false},
      {std::make_shared<TSrvActnConnect>(nullptr), false},
      {std::make_shared<TSrvActnLoadAllLinks>(nullptr, ""), false},
      {std::make_shared<TSrvActnLoadAllXLinks>(nullptr, ""), false},
      {std::make_shared<TSrvActnSaveAllLinks>(nullptr), false},
      {std::make_shared<TSrvActnSaveAllXLinks>(nullptr, smAdd), false},
      {std::make_shared<TSrvActnAddXLink>(nullptr, 0, nullptr), false},
      {std::make_shared<TSrvActnRemoveXLink>(nullptr, "/$pub/1", "1"), false},
      {std::make_shared<TSrvActnChangeLoginPassword>(nullptr, "p", "l"), false},
      {std::make_shared<TSrvActnRemoveLink>(nullptr, "", "", "/a"), true},
      {TSrvActnUpdateLink::AddLocalId(nullptr, kelvo_), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action->GetName());
    EXPECT_EQ(c.action->HasKind(kActnKindChangesLinks), c.changes);
    EXPECT_FALSE(c.action->HasKind(0));
  }
}

TEST_F(SrvActnLinksTest, MetadataStorePublishesThroughTheScript) {
  auto record = std::make_shared<TBNodeMeta>(false);
  record->SetId(77);
  TSrvScript script;
  record->SetIsPublic(true, &script);
  record->SetIsPublic(true, &script);  // no change, no action
  record->SetIsPublic(false, &script);
  ASSERT_EQ(script.Count(), 2);
  EXPECT_EQ(script.GetAction(0)->GetName(), "add-xlink");
  EXPECT_EQ(script.GetAction(1)->GetName(), "remove-xlink");
  // The add-xlink reads the record when written: kind 0 with a known id.
  record->SetIsPublic(true, nullptr);
  EXPECT_EQ(Body(script), R"(<server-script version="1.0">)"
                          R"(<add-xlink ref=":77" path="/$pub/77"/>)"
                          R"(<remove-xlink ref=":77" path="/$pub/77"/></server-script>)");

  // Without an id the record has no reference to write.
  EXPECT_EQ(ActionText(std::make_shared<TSrvActnAddXLink>(NoAreaTag(), kMetaKindPublic,
                                                          std::make_shared<TBNodeMeta>(false))),
            R"(<add-xlink client-area="/"/>)");
}

TEST_F(SrvActnLinksTest, AddRemoveLinkActionsReportsWhatTheServerKnows) {
  TSrvScript script;
  EXPECT_FALSE(AddRemoveLinkActions({}, script));
  // Inside the private folder: neither the bookmark nor the subfolder.
  EXPECT_FALSE(AddRemoveLinkActions({hidden_, inner_, deep_, nullptr}, script));
  EXPECT_EQ(script.Count(), 0);

  const std::string longTitle(300, 'e');
  const std::string longURL = "http://long.example/" + std::string(6000, 'u');
  auto longOne = std::make_shared<TDefaultKBookmark>(longTitle, longURL);
  tools_->Add(longOne);
  EXPECT_TRUE(AddRemoveLinkActions({kelvo_, tools_, secret_, tool_, longOne}, script));
  EXPECT_EQ(Body(script),
            R"(<server-script version="1.0">)"
            R"(<remove-link path="/Tools" url="http://kelvo.example/" title="Kelvo"/>)"
            R"(<remove-link path="/Tools"/>)"
            R"(<remove-link path="/Secret"/>)"
            R"(<remove-link path="/PERSONAL_BOOKMARK_FOLDER" url="http://tool.example/" title="Tool"/>)"
            R"(<remove-link path="/Tools" url=")" +
                longURL.substr(0, 5120) + R"(" title=")" + longTitle.substr(0, 255) +
                R"("/></server-script>)");

  // A caller's own test replaces the default one.
  TSrvScript all;
  EXPECT_TRUE(AddRemoveLinkActions({deep_}, all, [](const IBNodePtr&) { return true; }));
  EXPECT_EQ(Body(all), R"(<server-script version="1.0">)"
                       R"(<remove-link path="/Secret/Inner" url="http://deep.example/" title="Deep"/>)"
                       "</server-script>");
}

}  // namespace
}  // namespace kelvo
