// The link server's protocol over real HTTP: accounts, every action and its
// answer, bad input, and the GET endpoints.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LinkServerTestSupport.h"
#include "ScriptProcessor.h"
#include "kelvo/Version.h"
#include "server/Web.h"

namespace kelvo::test {
namespace {

using LinkServerAccounts = LinkServerTestBase;
using LinkServerLinks = LinkServerTestBase;
using LinkServerXLinks = LinkServerTestBase;
using LinkServerBadInput = LinkServerTestBase;
using LinkServerEndpoints = LinkServerTestBase;

const std::string kBob = "bob:secret";

const std::string kThreeLinks = R"(<save-all-links mode="REPLACE">)"
                                R"(<link path="/" title="Home" url="http://home/"/>)"
                                R"(<link path="/News" title="Daily" url="http://daily/"/>)"
                                R"(<link path="/News/World" title="Globe" url="http://globe/"/>)"
                                R"(</save-all-links>)";

TEST_F(LinkServerAccounts, FirstConnectRegistersAndEchoesTheContext) {
  const TXmlDocument answer = Post(Script(kBob, "<connect/>", "<lang>FR</lang>"));
  EXPECT_EQ(ValueOf(answer, "//context/user-id"), kBob);
  EXPECT_EQ(ValueOf(answer, "//context/lang"), "FR");
  EXPECT_EQ(Codes(answer, "display-message"), "MSG_WELCOME");
  EXPECT_EQ(Codes(answer, "display-error"), "");
  EXPECT_TRUE(server_->HasAccount("bob"));
  EXPECT_EQ(server_->Password("bob"), "secret");
  // Known from now on: the same pair connects again without registering.
  EXPECT_EQ(Codes(Post(Script(kBob, "<connect/>")), "display-message"), "MSG_WELCOME");
  EXPECT_EQ(server_->Counter("accounts-registered"), 1);
}

TEST_F(LinkServerAccounts, InvalidUserIdsGetTheErrorAndChangeNothing) {
  Register("bob", "secret");
  Post(Script(kBob, kThreeLinks));
  const std::string before = Links("bob");

  struct TCase {
    const char* userId;
    const char* actions;
  };
  const TCase cases[] = {
      {"bob:wrong", "<connect/>"},
      {"bob:wrong", R"(<save-all-links mode="REPLACE"/>)"},
      {"bob:wrong", R"(<change-login-password login="bob" password="mine"/>)"},
      {"bob", "<connect/>"},                 // no password
      {"bob:", "<connect/>"},                // empty password
      {":secret", "<connect/>"},             // no nickname
      {"", R"(<load-all-links/>)"},          // no user id at all
      {"carol:pw", R"(<load-all-links/>)"},  // unknown, and not a connect
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.userId) + " " + c.actions);
    const TXmlDocument answer = Post(Script(c.userId, c.actions));
    EXPECT_EQ(Codes(answer, "display-error"), "ERROR_INVALID_USER_ID");
    // The agent stores the identity of a context answer: none is given.
    EXPECT_FALSE(SelectSingleNode(answer, "//context"));
    EXPECT_FALSE(SelectSingleNode(answer, "//display-message"));
  }
  EXPECT_EQ(Links("bob"), before);
  EXPECT_EQ(server_->Password("bob"), "secret");
  EXPECT_FALSE(server_->HasAccount("carol"));
  EXPECT_FALSE(server_->HasAccount(""));
}

TEST_F(LinkServerAccounts, ConnectAsksForASyncOnlyWhenTheIdsDiffer) {
  Register("bob", "secret");
  Post(Script(kBob, kThreeLinks));
  const std::string serverId = server_->SyncId("bob");
  ASSERT_EQ(serverId.size(), 32u);

  // The connect action's own attribute, the context's child, or neither.
  const TXmlDocument same = Post(Script(kBob, R"(<connect sync-id=")" + serverId + R"("/>)"));
  EXPECT_FALSE(SelectSingleNode(same, "//request-sync"));
  const TXmlDocument sameInContext =
      Post(Script(kBob, "<connect/>", "<sync-id>" + serverId + "</sync-id>"));
  EXPECT_FALSE(SelectSingleNode(sameInContext, "//request-sync"));
  const TXmlDocument none = Post(Script(kBob, "<connect/>", "<sync-id></sync-id>"));
  EXPECT_FALSE(SelectSingleNode(none, "//request-sync"));

  const TXmlDocument differs = Post(Script(kBob, R"(<connect sync-id="0123"/>)"));
  const TXmlNode request = SelectSingleNode(differs, "//request-sync");
  ASSERT_TRUE(request);
  EXPECT_EQ(GetAttr(request, "server-sync-id"), serverId);
  EXPECT_EQ(GetAttr(request, "link-count"), "3");
  EXPECT_EQ(GetAttr(request, "folder-count"), "2");
  EXPECT_EQ(Codes(differs, "display-message"), "MSG_WELCOME");
}

TEST_F(LinkServerAccounts, ChangeLoginPassword) {
  Register("bob", "secret");
  const TXmlDocument refused =
      Post(Script(kBob, R"(<change-login-password login="alice" password="new"/>)"));
  EXPECT_EQ(Codes(refused, "display-error"), "ERROR_INVALID_USER_ID");
  const TXmlDocument empty =
      Post(Script(kBob, R"(<change-login-password login="bob" password=""/>)"));
  EXPECT_EQ(Codes(empty, "display-error"), "ERROR_INVALID_PASSWORD");
  EXPECT_EQ(server_->Password("bob"), "secret");

  const TXmlDocument changed =
      Post(Script(kBob, R"(<change-login-password login="bob" password="n:e w"/>)"));
  EXPECT_EQ(Codes(changed, "display-message"), "MSG_LOGIN_PASSWORD_CHANGED");
  // The identity handed back is the one valid from now on.
  EXPECT_EQ(ValueOf(changed, "//context/user-id"), "bob:n:e w");
  EXPECT_EQ(server_->Password("bob"), "n:e w");
  EXPECT_EQ(Codes(Post(Script(kBob, "<connect/>")), "display-error"), "ERROR_INVALID_USER_ID");
  EXPECT_EQ(Codes(Post(Script("bob:n:e w", "<connect/>")), "display-message"), "MSG_WELCOME");
}

TEST_F(LinkServerAccounts, Uninstall) {
  Register("bob", "secret");
  Register("ann", "pw");
  Post(Script(kBob, kThreeLinks));
  // The uninstall dialog's own request: context and a comment.
  const TXmlDocument kept = Post(
      Script(kBob, R"(<uninstall remove-user-account="false" reason-id="2">slow</uninstall>)"));
  EXPECT_EQ(Codes(kept, "display-message"), "MSG_USER_ACCOUNT_NOT_REMOVED");
  EXPECT_TRUE(server_->HasAccount("bob"));
  EXPECT_NE(Links("bob"), "");

  const TXmlDocument removed =
      Post(Script(kBob, R"(<uninstall remove-user-account="true">bye</uninstall>)"));
  EXPECT_EQ(Codes(removed, "display-message"), "MSG_USER_ACCOUNT_REMOVED");
  EXPECT_FALSE(SelectSingleNode(removed, "//context"));
  EXPECT_FALSE(server_->HasAccount("bob"));
  EXPECT_EQ(Links("bob"), "");
  EXPECT_TRUE(server_->HasAccount("ann"));
  EXPECT_EQ(server_->Counter("uninstall"), 2);
  EXPECT_EQ(server_->Counter("uninstall-reason/2"), 1);

  // The account is gone: the dialog reads only its message element.
  const TXmlDocument gone =
      Post(Script(kBob, R"(<uninstall remove-user-account="true"></uninstall>)"));
  EXPECT_EQ(Codes(gone, "display-message"), "ERROR_INVALID_USER_ID");
  EXPECT_EQ(Codes(gone, "display-error"), "ERROR_INVALID_USER_ID");
}

TEST_F(LinkServerLinks, SaveAllLinksReplaceAndAddGiveEveryLinkAnId) {
  Register("bob", "secret");
  const TXmlDocument saved =
      Post(Script(kBob, R"(<save-all-links mode="REPLACE">)"
                        R"(<link path="/" title="Home" url="http://home/"/>)"
                        R"(<link path="/Old" id="77"/>)"
                        R"(<link path="/Mine" private="CLIENT" id="5"/>)"
                        R"(<link path="News" title="Daily" url="http://daily/"/>)"
                        R"(<link title="no path" url="http://x/"/>)"
                        R"(</save-all-links>)"));
  EXPECT_EQ(Codes(saved, "display-message"), "MSG_LINKS_SAVED");
  // A client id is kept, the others are new and above it; a private folder
  // keeps none (with one it would read as an ordinary folder); a missing
  // leading slash is repaired and a link without a path dropped.
  EXPECT_EQ(Links("bob"),
            "/|Home|http://home/|:78|\n"
            "/Old|||:77|\n"
            "/Mine||||CLIENT\n"
            "/News|Daily|http://daily/|:79|\n");

  Post(Script(kBob, R"(<save-all-links mode="ADD">)"
                    R"(<link path="/" title="Home" url="http://home/"/>)"
                    R"(<link path="/News" title="Weekly" url="http://weekly/" id="79"/>)"
                    R"(</save-all-links>)"));
  // The same bookmark is not stored twice; a repeated id is replaced.
  EXPECT_EQ(Links("bob"),
            "/|Home|http://home/|:78|\n"
            "/Old|||:77|\n"
            "/Mine||||CLIENT\n"
            "/News|Daily|http://daily/|:79|\n"
            "/News|Weekly|http://weekly/|:80|\n");

  // The agent's "nothing to send" form: mode ADD and no links.
  const TXmlDocument nothing =
      Post(Script(kBob, R"(<save-all-links client-area="/" mode="ADD"/>)"));
  EXPECT_EQ(Codes(nothing, "display-message"), "MSG_LINKS_SAVED");
  EXPECT_EQ(server_->LinkCount("bob"), 3);

  const TXmlDocument badMode = Post(Script(kBob, R"(<save-all-links mode="MERGE"/>)"));
  EXPECT_EQ(Codes(badMode, "display-error"), "ERROR_INVALID_MODE");
  EXPECT_EQ(server_->LinkCount("bob"), 3);
}

TEST_F(LinkServerLinks, LargeExportsAreAccepted) {
  Register("bob", "secret");
  // A real Favorites export runs to megabytes, far above any small form.
  std::string links;
  for (int i = 0; i < 20000; ++i) {
    links += R"(<link path="/Folder )" + std::to_string(i % 100) + R"(" title="Site )" +
             std::to_string(i) + R"(" url="http://site.example/)" + std::to_string(i) + R"("/>)";
  }
  const std::string script =
      Script(kBob, R"(<save-all-links mode="REPLACE">)" + links + "</save-all-links>");
  ASSERT_GT(script.size(), 1000000u);
  const auto client = Client();
  httplib::Result result = client->Post("/linkserver", "script=" + TWeb::FormEncode(script),
                                        "application/x-www-form-urlencoded; charset=UTF-8");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(Codes(MakeFromString(result->body), "display-message"), "MSG_LINKS_SAVED");
  EXPECT_EQ(server_->LinkCount("bob"), 20000);
  EXPECT_EQ(server_->FolderCount("bob"), 100);
}

TEST_F(LinkServerLinks, LoadAllLinksAnswersTheRequesterAreaTheSyncIdAndTheLinks) {
  Register("bob", "secret");
  const TXmlDocument answer = Post(Script(
      kBob, kThreeLinks +
                R"(<load-all-links client-area="/sync-area/load-merge-all-links" mode="MERGE"/>)"
                R"(<load-all-xlinks client-area="/sync-area/load-merge-all-xlinks"/>)"));
  const TXmlNodeList imports = SelectNodes(answer, "//import-links");
  ASSERT_EQ(imports.Length(), 2u);
  EXPECT_EQ(GetAttr(imports[0], "client-area"), "/sync-area/load-merge-all-links");
  // Answered after the save of the same script, so it sees its links.
  EXPECT_EQ(GetAttr(imports[0], "sync-id"), server_->SyncId("bob"));
  const TXmlNodeList links = SelectNodes(imports[0], "link");
  ASSERT_EQ(links.Length(), 3u);
  EXPECT_EQ(GetAttr(links[1], "path"), "/News");
  EXPECT_EQ(GetAttr(links[1], "title"), "Daily");
  EXPECT_EQ(GetAttr(links[1], "url"), "http://daily/");
  EXPECT_EQ(GetAttr(links[1], "id").front(), ':');
  EXPECT_EQ(GetAttr(imports[1], "client-area"), "/sync-area/load-merge-all-xlinks");
  EXPECT_EQ(SelectNodes(imports[1], "link").Length(), 0u);

  // Without a client area the answer still tells links from xlinks.
  const TXmlDocument bare = Post(Script(kBob, "<load-all-links/><load-all-xlinks/>"));
  const TXmlNodeList bareImports = SelectNodes(bare, "//import-links");
  ASSERT_EQ(bareImports.Length(), 2u);
  EXPECT_EQ(GetAttr(bareImports[0], "client-area"), "/load-all-links");
  EXPECT_EQ(GetAttr(bareImports[1], "client-area"), "/load-all-xlinks");
}

TEST_F(LinkServerLinks, UpdateLinkIsMatchedByTheOldRecord) {
  struct TCase {
    const char* name;
    const char* update;
    const char* expected;  // Places() after the update
  };
  const TCase cases[] = {
      {"move bookmark",
       R"(<old-link path="/News" title="Daily" url="http://daily/"/>)"
       R"(<new-link path="/" title="Daily" url="http://daily/"/>)",
       "/|Home|http://home/\n/|Daily|http://daily/\n/News/World|Globe|http://globe/\n"},
      {"change bookmark",
       R"(<old-link path="/" title="Home" url="http://home/"/>)"
       R"(<new-link path="/" title="House" url="http://house/"/>)",
       "/|House|http://house/\n/News|Daily|http://daily/\n/News/World|Globe|http://globe/\n"},
      {"rename folder takes its content along",
       R"(<old-link path="/News"/><new-link path="/Press"/>)",
       "/|Home|http://home/\n/Press|Daily|http://daily/\n/Press/World|Globe|http://globe/\n"},
      {"rename subfolder", R"(<old-link path="/News/World"/><new-link path="/News/Earth"/>)",
       "/|Home|http://home/\n/News|Daily|http://daily/\n/News/Earth|Globe|http://globe/\n"},
      {"unknown old record: the new one is kept",
       R"(<old-link path="/Gone" title="X" url="http://x/"/>)"
       R"(<new-link path="/Here" title="X" url="http://x/"/>)",
       "/|Home|http://home/\n/News|Daily|http://daily/\n/News/World|Globe|http://globe/\n"
       "/Here|X|http://x/\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    server_.reset();
    std::filesystem::remove(DbPath());
    server_ = std::make_unique<linkserver::TLinkServer>(DbPath());
    server_->Start();
    Register("bob", "secret");
    Post(Script(kBob, kThreeLinks));
    const TXmlDocument answer =
        Post(Script(kBob, std::string("<update-link>") + c.update + "</update-link>"));
    EXPECT_EQ(Codes(answer, "display-message"), "MSG_LINKS_SAVED");
    EXPECT_EQ(Places("bob"), c.expected);
  }
}

TEST_F(LinkServerLinks, UpdateLinkKeepsOrChangesIds) {
  Register("bob", "secret");
  Post(Script(kBob, R"(<save-all-links mode="REPLACE">)"
                    R"(<link path="/" title="A" url="http://a/" id="10"/>)"
                    R"(<link path="/F" id="11"/>)"
                    R"(</save-all-links>)"));
  // A client that knows no id moves the link: the server's id stays.
  Post(Script(kBob, R"(<update-link><old-link path="/" title="A" url="http://a/"/>)"
                    R"(<new-link path="/F" title="A" url="http://a/"/></update-link>)"));
  EXPECT_EQ(Links("bob"), "/F|A|http://a/|:10|\n/F|||:11|\n");
  // The client took the id away (a duplicate it found): a new one is given.
  Post(Script(kBob, R"(<update-link><old-link path="/F" title="A" url="http://a/" id="10"/>)"
                    R"(<new-link path="/F" title="A" url="http://a/"/></update-link>)"));
  EXPECT_EQ(Links("bob"), "/F|A|http://a/|:12|\n/F|||:11|\n");
  // The client gives its own id.
  Post(Script(kBob,
              R"(<update-link><old-link path="/F"/><new-link path="/F" id="40"/></update-link>)"));
  EXPECT_EQ(Links("bob"), "/F|A|http://a/|:12|\n/F|||:40|\n");

  const TXmlDocument broken =
      Post(Script(kBob, R"(<update-link><old-link path="/F"/></update-link>)"));
  EXPECT_EQ(Codes(broken, "display-error"), "ERROR_INVALID_LINK");
  const TXmlDocument mixed = Post(Script(
      kBob,
      R"(<update-link><old-link path="/F"/><new-link path="/" title="A" url="http://a/"/></update-link>)"));
  EXPECT_EQ(Codes(mixed, "display-error"), "ERROR_INVALID_LINK");
  EXPECT_EQ(Links("bob"), "/F|A|http://a/|:12|\n/F|||:40|\n");
}

TEST_F(LinkServerLinks, RemoveLink) {
  Register("bob", "secret");
  Post(Script(
      kBob,
      kThreeLinks +
          R"(<save-all-links mode="ADD"><link path="/Newsroom" title="R" url="http://r/"/></save-all-links>)"));
  // A bookmark by path, URL and title; a folder with all below it, not a
  // folder whose name merely starts the same.
  Post(Script(kBob, R"(<remove-link path="/" url="http://home/" title="Home"/>)"));
  EXPECT_EQ(Places("bob"),
            "/News|Daily|http://daily/\n/News/World|Globe|http://globe/\n/Newsroom|R|http://r/\n");
  const TXmlDocument answer = Post(Script(kBob, R"(<remove-link path="/News"/>)"));
  EXPECT_EQ(Codes(answer, "display-message"), "MSG_LINKS_SAVED");
  EXPECT_EQ(Places("bob"), "/Newsroom|R|http://r/\n");
  // "/" names no folder: refused instead of emptying the account.
  const TXmlDocument root = Post(Script(kBob, R"(<remove-link path="/"/>)"));
  EXPECT_EQ(Codes(root, "display-error"), "ERROR_INVALID_PATH");
  EXPECT_EQ(Places("bob"), "/Newsroom|R|http://r/\n");
}

TEST_F(LinkServerXLinks, AddRemoveSaveAndLoad) {
  Register("bob", "secret");
  const TXmlDocument added = Post(Script(kBob, R"(<add-xlink ref=":123" path="/$pub/123"/>)"
                                               R"(<add-xlink ref=":124" path="/$pub/124"/>)"
                                               R"(<add-xlink ref=":124" path="/$pub/124"/>)"
                                               R"(<add-xlink ref=":9" path="/$news/9"/>)"));
  EXPECT_EQ(Codes(added, "display-message"), "MSG_XLINKS_SAVED");
  EXPECT_EQ(SelectNodes(MakeFromString(server_->XLinksXml("bob")), "//link").Length(), 3u);

  // Reserved roots (the agent appends INVALID_PATH to them) are refused.
  for (const char* path : {"/$pub/", "/$pub/INVALID_PATH", ""}) {
    SCOPED_TRACE(path);
    const TXmlDocument refused =
        Post(Script(kBob, std::string(R"(<remove-xlink ref=":123" path=")") + path + R"("/>)"));
    EXPECT_EQ(Codes(refused, "display-error"), "ERROR_INVALID_PATH");
  }
  Post(Script(kBob, R"(<remove-xlink ref="123" path="/$pub/123"/>)"));
  const TXmlDocument loaded = Post(Script(kBob, R"(<load-all-xlinks path="/$pub/"/>)"));
  const TXmlNodeList links = SelectNodes(loaded, "//import-links/link");
  ASSERT_EQ(links.Length(), 1u);
  EXPECT_EQ(GetAttr(links[0], "ref"), ":124");
  EXPECT_EQ(GetAttr(links[0], "path"), "/$pub/124");

  const TXmlDocument replaced =
      Post(Script(kBob, R"(<save-all-xlinks client-area="/sync-area" mode="REPLACE">)"
                        R"(<link path="/$pub/7" rank="2" ref=":7"/>)"
                        R"(</save-all-xlinks>)"));
  EXPECT_EQ(Codes(replaced, "display-message"), "MSG_XLINKS_SAVED");
  EXPECT_NE(server_->XLinksXml("bob").find(
                R"(<xlinks><link path="/$pub/7" rank="2" ref=":7"/></xlinks>)"),
            std::string::npos)
      << server_->XLinksXml("bob");
}

TEST_F(LinkServerXLinks, PublicLinksEnterTheSyncId) {
  Register("bob", "secret");
  Post(Script(kBob, kThreeLinks));
  const std::string withoutPublic = server_->SyncId("bob");
  Post(Script(kBob, R"(<add-xlink ref=":5" path="/$pub/5"/>)"));
  EXPECT_NE(server_->SyncId("bob"), withoutPublic);
  Post(Script(kBob, R"(<remove-xlink ref=":5" path="/$pub/5"/>)"));
  EXPECT_EQ(server_->SyncId("bob"), withoutPublic);
}

TEST_F(LinkServerBadInput, MalformedScriptsGetAnErrorAndChangeNothing) {
  Register("bob", "secret");
  Post(Script(kBob, kThreeLinks));
  const std::string before = Links("bob");
  const std::string cases[] = {
      "<server-script><context><user-id>bob:secret</user-id></context><remove-link path=\"/News\"",
      "not xml at all",
      std::string(kXmlDeclaration) + "<other-root><remove-link path=\"/News\"/></other-root>",
      "<server-script><!DOCTYPE x SYSTEM \"file:///etc/passwd\"></server-script>",
  };
  for (const std::string& script : cases) {
    SCOPED_TRACE(script);
    EXPECT_EQ(Codes(Post(script), "display-error"), "ERROR_INVALID_SCRIPT");
  }
  // No parameter at all.
  const auto client = Client();
  httplib::Result empty = client->Post("/linkserver", httplib::Params{});
  ASSERT_TRUE(empty);
  EXPECT_EQ(Codes(MakeFromString(empty->body), "display-error"), "ERROR_INVALID_SCRIPT");
  EXPECT_EQ(Links("bob"), before);
}

TEST_F(LinkServerBadInput, OversizedScriptsAreRefusedUnread) {
  Register("bob", "secret");
  // A valid script just over the limit: its removal must not happen.
  std::string padding(linkserver::kMaxScriptBytes, ' ');
  const std::string script = Script(kBob, R"(<save-all-links mode="REPLACE"/>)" + padding);
  Post(Script(kBob, kThreeLinks));
  // Encoded as the agent's transport encodes it (each space as "%20").
  const auto client = Client();
  httplib::Result tooLarge = client->Post("/linkserver", "script=" + TWeb::FormEncode(script),
                                          "application/x-www-form-urlencoded");
  ASSERT_TRUE(tooLarge);
  EXPECT_EQ(tooLarge->status, 200);
  EXPECT_EQ(Codes(MakeFromString(tooLarge->body), "display-error"), "ERROR_SCRIPT_TOO_LARGE");
  EXPECT_EQ(server_->LinkCount("bob"), 3);

  // A body beyond what the HTTP layer reads at all still gets a document.
  httplib::Result huge =
      client->Post("/linkserver", std::string(linkserver::kMaxScriptBytes * 3 + (128u << 10), 'x'),
                   "application/x-www-form-urlencoded");
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->status, 413);
  EXPECT_EQ(Codes(MakeFromString(huge->body), "display-error"), "ERROR_SCRIPT_TOO_LARGE");
}

TEST_F(LinkServerBadInput, UnknownActionsAreIgnoredAndStatsNeedNoAccount) {
  Register("bob", "secret");
  const TXmlDocument answer = Post(Script(
      kBob,
      R"(<frobnicate/><save-all-links mode="ADD"><link path="/" title="A" url="http://a/"/></save-all-links>)"));
  EXPECT_EQ(Codes(answer, "display-message"), "MSG_LINKS_SAVED");
  EXPECT_EQ(server_->LinkCount("bob"), 1);
  // The statistics report: its context has no password.
  const TXmlDocument stats =
      Post(Script("bob", R"(<stats begins="0" ends="1"><getreco value="0"/></stats>)"));
  EXPECT_FALSE(SelectSingleNode(stats, "//display-error"));
  EXPECT_EQ(server_->Counter("client-stats"), 1);
}

TEST_F(LinkServerBadInput, ConcurrentScriptsAreAppliedOneAtATime) {
  Register("bob", "secret");
  constexpr int kThreads = 4;
  constexpr int kEach = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string url = "http://h/" + std::to_string(t) + "/" + std::to_string(i);
        PostRaw(Script(kBob, R"(<save-all-links mode="ADD"><link path="/" title="T" url=")" + url +
                                 R"("/></save-all-links>)"));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(server_->LinkCount("bob"), kThreads * kEach);
  // Every id handed out once.
  const TXmlDocument doc = MakeFromString(server_->LinksXml("bob"));
  std::set<std::string> ids;
  for (const TXmlNode& link : SelectNodes(doc, "//link")) ids.insert(GetAttr(link, "id"));
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(LinkServerBadInput, DataAndIdsSurviveARestart) {
  Register("bob", "secret");
  Post(Script(kBob, kThreeLinks));
  const std::string before = Links("bob");
  const std::string syncId = server_->SyncId("bob");
  server_.reset();
  server_ = std::make_unique<linkserver::TLinkServer>(DbPath());
  server_->Start();
  EXPECT_EQ(Links("bob"), before);
  EXPECT_EQ(server_->SyncId("bob"), syncId);
  Post(Script(
      kBob,
      R"(<save-all-links mode="ADD"><link path="/" title="N" url="http://n/"/></save-all-links>)"));
  // A new id, not one handed out before the restart.
  EXPECT_NE(before.find("|:3|"), std::string::npos);
  EXPECT_NE(Links("bob").find("/|N|http://n/|:4|"), std::string::npos) << Links("bob");
}

TEST_F(LinkServerEndpoints, UpdateInformation) {
  httplib::Result result = Get("/download/ie/update.txt");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_NE(result->body.find("version=" KELVO_VERSION_TEXT "\r\n"), std::string::npos)
      << result->body;
  EXPECT_NE(result->body.find("url=" + server_->BaseUrl() + "download/ie/kelvo-ie.exe"),
            std::string::npos);

  server_->SetUpdateInfo("2.0.0.7", "http://example.invalid/kelvo-ie.exe");
  result = Get("/download/ie/update.txt");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "version=2.0.0.7\r\nurl=http://example.invalid/kelvo-ie.exe\r\n");
}

TEST_F(LinkServerEndpoints, UninstallReasonsInTheAskedLanguage) {
  struct TCase {
    const char* path;
    const char* firstText;
  };
  const TCase cases[] = {
      {"/code-table/uninstall-reasons.en.xml?nocache", "I do not use it"},
      {"/code-table/uninstall-reasons.fr.xml?nocache", "Je ne l'utilise pas"},
      {"/code-table/uninstall-reasons.de.xml", "I do not use it"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.path);
    httplib::Result result = Get(c.path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    const TXmlDocument doc = MakeFromString(result->body);
    const TXmlNodeList reasons = SelectNodes(doc, "//reason");
    ASSERT_GE(reasons.Length(), 2u);
    EXPECT_EQ(GetAttr(reasons[0], "id"), "1");
    EXPECT_EQ(GetAttr(reasons[0], "text"), c.firstText);
  }
  httplib::Result missing = Get("/code-table/other.en.xml");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
}

// A log stream whose lines a test can wait for: the server writes its line
// once the answer is on its way, so the client may see the answer first.
class TLineSink : public std::streambuf {
 public:
  bool WaitForLines(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return lines_.size() >= count; });
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    std::lock_guard lock(mutex_);
    if (c == '\n') {
      lines_.push_back(current_);
      current_.clear();
      changed_.notify_all();
    } else {
      current_ += static_cast<char>(c);
    }
    return c;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string current_;
  std::vector<std::string> lines_;
};

TEST_F(LinkServerEndpoints, CountersAndTheRequestLog) {
  TLineSink sink;
  std::ostream log(&sink);
  server_->SetRequestLog(&log);
  // Whatever happens below, the server lets go of the stream before it goes.
  struct TDetach {
    linkserver::TLinkServer& server;
    ~TDetach() { server.SetRequestLog(nullptr); }
  } detach{*server_};
  for (int i = 0; i < 2; ++i) {
    httplib::Result result = Get("/rest/counters/one/install/exe");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
  }
  ASSERT_TRUE(Get("/rest/counters/one/client-stats-error/TIMEOUT"));
  EXPECT_EQ(server_->Counter("install/exe"), 2);
  EXPECT_EQ(server_->Counter("client-stats-error/TIMEOUT"), 1);
  EXPECT_EQ(server_->Counter("never"), 0);
  Post(Script(kBob, "<connect/>"));

  ASSERT_TRUE(sink.WaitForLines(4, std::chrono::seconds(10)));
  const std::vector<std::string> lines = sink.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("GET /rest/counters/one/install/exe 200"), std::string::npos) << lines[0];
  EXPECT_NE(lines[3].find("POST /linkserver 200"), std::string::npos) << lines[3];
  EXPECT_EQ(server_->RequestCount(), 4);
}

}  // namespace
}  // namespace kelvo::test
