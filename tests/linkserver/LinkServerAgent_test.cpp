// The link server against the agent's own code: scripts built by the
// agent's actions, answers read by the agent's answer handling, the
// agent's HTTP transport, and the convergence of the two sync ids.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LinkServerTestSupport.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/ServerTree.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Identification.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"
#include "server/AjaxRequestExtIf.h"
#include "server/ClientActn.h"
#include "server/PostedText.h"
#include "server/SrvActnLinks.h"
#include "server/SrvScript.h"
#include "server/Web.h"

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;

class LinkServerAgent : public LinkServerTestBase {
 protected:
  void SetUp() override {
    // A proxy of the environment must not stand between us and loopback.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
    SetRegistry(std::make_shared<TMemoryRegistry>());
    LinkServerTestBase::SetUp();
    TIdentification::SetIdentity("bob", "secret");
  }
  void TearDown() override {
    TWeb::Shutdown();
    TPostedText::Clear();
    LinkServerTestBase::TearDown();
    SetRegistry(nullptr);
  }

  // The agent's script text: its own context (with the stored identity)
  // followed by the actions.
  static std::string AgentScript(const std::vector<ISrvActionPtr>& actions) {
    TSrvScript script;
    script.AddAction(std::make_shared<TSrvActnContext>(nullptr, true));
    for (const ISrvActionPtr& action : actions) script.AddAction(action);
    return script.Text();
  }
};

using TNodeVisitor = std::function<void(const IBNodePtr& node)>;

void Walk(const IFolder& folder, const TNodeVisitor& visit) {
  for (int i = 0; i < folder.Count(); ++i) {
    const IBNodePtr child = folder.Get(i);
    visit(child);
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) Walk(*sub, visit);
  }
}

// Favorites with what makes server paths interesting: nesting, a name
// with a slash, the Links folder, a live bookmark, a private folder, an
// empty folder, names that normalize.
std::shared_ptr<TDefaultSimpleTree> ClientTree() {
  auto tree = std::make_shared<TDefaultSimpleTree>("My Favorites");
  tree->Add(std::make_shared<TDefaultKBookmark>("Home", "http://home/"));
  auto news = std::make_shared<TDefaultKFolder>("News");
  news->Add(std::make_shared<TDefaultKBookmark>("Caf\xC3\xA9 & Co", "http://cafe.example/"));
  news->Add(
      std::make_shared<TDefaultKBookmark>("Weather", "http://w.example/", "http://w.example/feed"));
  auto slash = std::make_shared<TDefaultKFolder>("a/b");
  slash->Add(std::make_shared<TDefaultKBookmark>("Deep", "http://deep.example/x?y=1"));
  news->Add(slash);
  tree->Add(news);
  auto links = std::make_shared<TDefaultKFolder>("Links", true);
  links->Add(std::make_shared<TDefaultKBookmark>("Toolbar", "http://toolbar.example/"));
  tree->Add(links);
  auto secret = std::make_shared<TDefaultKFolder>("Secret");
  secret->Add(std::make_shared<TDefaultKBookmark>("Hidden", "http://hidden.example/"));
  secret->SetPrivate(true);
  tree->Add(secret);
  tree->Add(std::make_shared<TDefaultKFolder>("Empty"));
  tree->InitHashes();
  return tree;
}

// Gives every client bookmark the server id of the server bookmark at the
// same path key, as a synchronization does.
int CopyServerIds(const TXmlNodeList& links, TDefaultSimpleTree& client) {
  const TServerTreePtr server = TServerTree::Create(links, "server");
  std::map<std::string, std::int32_t> ids;
  Walk(*server, [&](const IBNodePtr& node) { ids[node->GetHash(hkPath)] = GetServerId(node); });
  int copied = 0;
  Walk(client, [&](const IBNodePtr& node) {
    auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
    auto found = ids.find(node->GetHash(hkPath));
    if (bookmark && found != ids.end() && found->second != -1) {
      bookmark->SetId(found->second);
      ++copied;
    }
  });
  client.InitHashes();
  return copied;
}

TEST_F(LinkServerAgent, SavedTreeReadBackGivesTheSameSyncIdOnBothSides) {
  Register("bob", "secret");
  const auto tree = ClientTree();
  const TXmlDocument saved = Post(
      AgentScript({std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree))}));
  EXPECT_EQ(Codes(saved, "display-message"), "MSG_LINKS_SAVED");
  // Valid bookmarks only; the private folder's content stays home.
  EXPECT_EQ(server_->LinkCount("bob"), 5);
  EXPECT_NE(server_->LinksXml("bob").find("/PERSONAL_BOOKMARK_FOLDER"), std::string::npos);

  const TXmlDocument loaded = Post(AgentScript({std::make_shared<TSrvActnLoadAllLinks>(
      std::make_shared<TClientTag>(3, 0, "load-all-links", nullptr), "")}));
  const TXmlNode import = SelectSingleNode(loaded, "//import-links");
  ASSERT_TRUE(import);
  EXPECT_EQ(GetAttr(import, "client-area"), "/sync-area/load-all-links");
  const std::string serverId = GetAttr(import, "sync-id");
  EXPECT_EQ(serverId, server_->SyncId("bob"));

  // Before the ids are known the two copies differ by them.
  EXPECT_NE(TFileTools::TextMD5(tree->GetHash(hkContentSum)), serverId);
  EXPECT_EQ(CopyServerIds(SelectNodes(import, "link"), *tree), 5);
  const std::string clientId = TFileTools::TextMD5(tree->GetHash(hkContentSum));
  EXPECT_EQ(clientId, serverId);

  // So a connect with that id is not asked to synchronize.
  const TXmlDocument connected =
      Post(Script("bob:secret", R"(<connect sync-id=")" + clientId + R"("/>)"));
  EXPECT_FALSE(SelectSingleNode(connected, "//request-sync"));
}

TEST_F(LinkServerAgent, PublicLinksConvergeThroughTheMetadataChecksum) {
  Register("bob", "secret");
  const auto tree = ClientTree();
  Post(AgentScript({std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree))}));
  const TXmlDocument loaded = Post(Script("bob:secret", "<load-all-links/>"));
  const TXmlNodeList links = SelectNodes(loaded, "//import-links/link");
  CopyServerIds(links, *tree);

  // The agent publishes one bookmark through its metadata record.
  auto record = std::make_shared<TBNodeMeta>(false);
  record->SetId(3);
  TSrvScript publish;
  publish.AddAction(std::make_shared<TSrvActnContext>(nullptr, true));
  record->SetIsPublic(true, &publish);
  EXPECT_EQ(Codes(Post(publish.Text()), "display-message"), "MSG_XLINKS_SAVED");

  const TXmlDocument xlinks = Post(Script("bob:secret", "<load-all-xlinks/>"));
  TBNodeMetas metas(home_.Sub("meta/bookmarks-meta.xml"));
  // As the sync dialog rebuilds it: against the server tree's nodes.
  const TServerTreePtr serverTree = TServerTree::Create(links, "server");
  const TNodeList refNodes = CollectNodesWithRef(*serverTree);
  metas.RebuildFromServer(SelectNodes(xlinks, "//import-links/link"), &refNodes, serverTree.get());
  ASSERT_NE(metas.PublicChecksum(), 0);
  const std::string text = std::to_string(std::int64_t{metas.PublicChecksum()} +
                                          std::stoll(tree->GetHash(hkContentSum)));
  EXPECT_EQ(TFileTools::TextMD5(text), server_->SyncId("bob"));
}

TEST_F(LinkServerAgent, AgentChangeActionsKeepTheCopiesInStep) {
  Register("bob", "secret");
  const auto tree = ClientTree();
  Post(AgentScript({std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree))}));
  CopyServerIds(SelectNodes(Post(Script("bob:secret", "<load-all-links/>")), "//import-links/link"),
                *tree);

  // The user renames News, moves Home into it and deletes the toolbar
  // bookmark; the agent reports each change with its own actions.
  auto news = std::dynamic_pointer_cast<IFolder>(tree->Get(1));
  auto links = std::dynamic_pointer_cast<IFolder>(tree->Get(2));
  auto home = std::dynamic_pointer_cast<IBookmark>(tree->Get(0));
  ASSERT_TRUE(news && links && home);
  tree->BeginUpdate();
  const std::string oldNewsPath = ServerPath(news);
  news->SetName("Press");
  std::vector<ISrvActionPtr> actions;
  actions.push_back(TSrvActnUpdateLink::RenameFolder(nullptr, false, oldNewsPath, news));
  const std::string oldHomePath = ServerPath(home);
  tree->Remove(home);
  news->Add(home);
  actions.push_back(TSrvActnUpdateLink::MoveBookmark(nullptr, oldHomePath, home));
  auto toolbar = links->Get(0);
  TSrvScript removal;
  AddRemoveLinkActions({toolbar}, removal);
  for (int i = 0; i < removal.Count(); ++i) actions.push_back(removal.GetAction(i));
  links->Remove(toolbar);
  tree->EndUpdate();

  const TXmlDocument answer = Post(AgentScript(actions));
  EXPECT_EQ(Codes(answer, "display-message"), "MSG_LINKS_SAVED");
  EXPECT_EQ(Codes(answer, "display-error"), "");
  EXPECT_EQ(server_->LinkCount("bob"), 4);
  EXPECT_EQ(TFileTools::TextMD5(tree->GetHash(hkContentSum)), server_->SyncId("bob"))
      << server_->LinksXml("bob");
}

TEST_F(LinkServerAgent, AgentReadsTheConnectAnswerThroughItsTransport) {
  // A window that takes the answer text, as the main form does.
  std::string answerText;
  LPARAM status = -1;
  HWND window =
      CreateWindowObject("LinkServerTestReceiver", [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_USER + 270) {
          answerText = TPostedText::Take(wp);
          status = lp;
          return LRESULT{0};
        }
        return DefWindowProc(w, msg, wp, lp);
      });
  TIdentification::SetIdentity("d\xC3\xA9j\xC3\xA0", "p&ss=w+rd");
  std::string script = AgentScript({std::make_shared<TSrvActnConnect>(nullptr)});
  TWeb::doPost(server_->ScriptUrl(), "script", script, window, WM_USER + 270);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (answerText.empty() && std::chrono::steady_clock::now() < deadline) PumpMessages(20);
  DestroyWindowObject(window);
  ASSERT_FALSE(answerText.empty());
  EXPECT_EQ(status, 1);

  // The nickname and password arrived intact through the form encoding.
  EXPECT_TRUE(server_->HasAccount("d\xC3\xA9j\xC3\xA0"));
  EXPECT_EQ(server_->Password("d\xC3\xA9j\xC3\xA0"), "p&ss=w+rd");
  const TXmlDocument answer = ParseServerAnswer(answerText, "test");
  ASSERT_TRUE(answer);
  TIdentification::SetIdentity("", "");
  EXPECT_EQ(ApplyContextAnswer(answer), "d\xC3\xA9j\xC3\xA0:p&ss=w+rd");
  EXPECT_EQ(TIdentification::GetNickname(), "d\xC3\xA9j\xC3\xA0");
  EXPECT_EQ(TIdentification::GetPassword(), "p&ss=w+rd");
}

}  // namespace
}  // namespace kelvo::test
