#include "bookmarks/ServerLinks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/ServerBookmark.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/ServerTree.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Utf8.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

using test::Dump;
using test::LinkList;

class ServerLinksTest : public test::ServerLinksTestBase {
 protected:
  void SetUp() override {
    ServerLinksTestBase::SetUp();
    doc_ = MakeFromString(MakeEmptyDocText("links"));
    root_ = doc_.DocumentElement();
  }

  // The markup of every element written under the root, one per line.
  std::string Written() const {
    std::string out;
    for (const TXmlNode& child : root_.ChildElements()) out += XmlText(child) + "\n";
    return out;
  }

  TXmlDocument doc_;
  TXmlElement root_;
};

std::shared_ptr<TDefaultKBookmark> Bm(const std::string& name, const std::string& url,
                                      std::int32_t id = -1, const std::string& feed = "") {
  return std::make_shared<TDefaultKBookmark>(name, url, feed, id);
}

std::shared_ptr<TDefaultKFolder> Fd(const std::string& name, std::int32_t id = -1) {
  return std::make_shared<TDefaultKFolder>(name, false, id);
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const TServerLinkException& e) {
    return e.Message();
  }
  return "(no exception)";
}

TEST_F(ServerLinksTest, ServerPathsOfFoldersAndBookmarks) {
  const auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  const auto news = Fd("News");
  const auto odd = Fd("a/b");
  const auto inner = Fd("c\\d");
  const auto top = Bm("Top", "http://t/");
  const auto deep = Bm("Deep", "http://d/");
  tree->Add(top);
  tree->Add(news);
  news->Add(odd);
  odd->Add(inner);
  inner->Add(deep);

  EXPECT_EQ(ServerPath(tree), "/");
  EXPECT_EQ(ServerPath(top), "/");
  EXPECT_EQ(ServerPath(news), "/News");
  EXPECT_EQ(ServerPath(inner), "/News/a\\/b/c\\\\d");
  EXPECT_EQ(ServerPath(deep), "/News/a\\/b/c\\\\d");
  EXPECT_EQ(GetPathUnescaped(deep), "/News/a/b/c\\d");
  EXPECT_EQ(GetPathUnescaped(tree), "/");
  // Display names, not their comparison form; a detached folder stands at
  // the top.
  const auto loose = Fd(" Mixed Case ");
  EXPECT_EQ(ServerPath(loose), "/ Mixed Case ");
  EXPECT_EQ(ServerPath(Bm("Loose", "http://l/")), "/");
  EXPECT_EQ(SplitServerPath(ServerPath(inner)), (TStringList{"News", "a/b", "c\\d"}));
}

TEST_F(ServerLinksTest, BrokenParentChainsNameTheOperation) {
  const auto folder = Fd("F");
  const auto notAFolder = Bm("B", "http://b/");
  folder->SetParent(notAFolder.get());
  EXPECT_EQ(MessageOf([&] { ServerPath(folder); }).rfind("ServerPath:broken parent chain", 0), 0u);
  EXPECT_EQ(MessageOf([&] { GetPathUnescaped(folder); }).rfind("GetPathUnescaped:", 0), 0u);

  const auto x = Fd("X");
  const auto y = Fd("Y");
  x->SetParent(y.get());
  y->SetParent(x.get());
  EXPECT_NE(MessageOf([&] { ServerPath(x); }).find("ServerPath:broken parent chain, loop"),
            std::string::npos);
}

TEST_F(ServerLinksTest, SplittingPathValues) {
  struct TCase {
    const char* path;
    TStringList segments;
  } const cases[] = {
      {"/", {}},
      {"", {}},
      {"News/x", {}},
      {"/News", {"News"}},
      {"//a///b/", {"a", "b"}},
      {"/c/a\\/b", {"c", "a/b"}},
      {"/a\\\\b", {"a\\b"}},
      {"/a\\\\/b", {"a\\", "b"}},
      {"/a\\", {"a"}},
      {"/\\x\\y", {"xy"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(SplitServerPath(c.path), c.segments) << c.path;
  // Segments are kept whole, however long.
  const std::string longName(300, 'n');
  EXPECT_EQ(SplitServerPath("/" + longName), TStringList{longName});
  EXPECT_EQ(EscapeServerName("a/b\\c"), "a\\/b\\\\c");
  EXPECT_EQ(EscapeServerName("plain"), "plain");
}

TEST_F(ServerLinksTest, LinksFolderRuleBothWays) {
  struct TCase {
    const char* local;
    const char* server;
  } const writing[] = {
      {"/Links", "/PERSONAL_BOOKMARK_FOLDER"},
      {"/Links/Tools", "/PERSONAL_BOOKMARK_FOLDER/Tools"},
      {"/Links/Links", "/PERSONAL_BOOKMARK_FOLDER/Links"},
      {"/LinksArchive/x", "/LinksArchive/x"},
      {"/News/Links", "/News/Links"},
      {"/links", "/links"},
      {"/", "/"},
  };
  for (const TCase& c : writing) EXPECT_EQ(ApplyLinksFolderRule(c.local), c.server) << c.local;
  const TCase reading[] = {
      {"/Links/Tools", "/PERSONAL_BOOKMARK_FOLDER/Tools"},
      {"/A/Links", "/A/PERSONAL_BOOKMARK_FOLDER"},
      {"/Links/PERSONAL_BOOKMARK_FOLDER", "/PERSONAL_BOOKMARK_FOLDER/PERSONAL_BOOKMARK_FOLDER"},
      {"/PERSONAL_BOOKMARK_FOLDERX", "/PERSONAL_BOOKMARK_FOLDERX"},
      {"/a\\/PERSONAL_BOOKMARK_FOLDER", "/a\\/PERSONAL_BOOKMARK_FOLDER"},
  };
  for (const TCase& c : reading) EXPECT_EQ(ResolveLinksFolderSegment(c.server), c.local) << c.server;

  SetLinksFolderNameSource([] { return std::string("My/Links"); });
  EXPECT_EQ(ResolveLinksFolderSegment("/PERSONAL_BOOKMARK_FOLDER/T"), "/My\\/Links/T");
  EXPECT_EQ(ApplyLinksFolderRule("/My\\/Links/T"), "/PERSONAL_BOOKMARK_FOLDER/T");
  // No name known: nothing to replace when writing, the default when reading.
  SetLinksFolderNameSource([] { return std::string(); });
  EXPECT_EQ(ApplyLinksFolderRule("/Links/Tools"), "/Links/Tools");
  EXPECT_EQ(ResolveLinksFolderSegment("/PERSONAL_BOOKMARK_FOLDER"), "/Links");
}

TEST_F(ServerLinksTest, DefaultLinksFolderNameIsTheFavoritesStoreOne) {
  auto registry = std::make_shared<TMemoryRegistry>();
  SetRegistry(registry);
  SetLinksFolderNameSource(nullptr);
  ResetLinksFolderNameForTests();
  // No name in the settings: "Links" both ways.
  EXPECT_EQ(ApplyLinksFolderRule("/Links/T"), "/PERSONAL_BOOKMARK_FOLDER/T");
  EXPECT_EQ(ResolveLinksFolderSegment("/PERSONAL_BOOKMARK_FOLDER/T"), "/Links/T");

  ResetLinksFolderNameForTests();
  registry->WriteString(TRegRoot::HKCU, "Software\\Microsoft\\Internet Explorer\\Toolbar\\",
                        "LinksFolderName", "Liens");
  EXPECT_EQ(ApplyLinksFolderRule("/Liens/T"), "/PERSONAL_BOOKMARK_FOLDER/T");
  EXPECT_EQ(ApplyLinksFolderRule("/Links/T"), "/Links/T");
  EXPECT_EQ(ResolveLinksFolderSegment("/PERSONAL_BOOKMARK_FOLDER/T"), "/Liens/T");
  ResetLinksFolderNameForTests();
  SetRegistry(nullptr);
}

TEST_F(ServerLinksTest, BookmarkLinkAttributesAndCuts) {
  WriteBookmarkLinkEx(root_, "link", "/News", false, 11, "http://d/?a=1&b=2", "Daily \"news\"");
  WriteBookmarkLinkEx(root_, "new-link", "/Links/Tools", true, -1, "http://t/", "Tool");
  EXPECT_EQ(Written(),
            "<link path=\"/News\" url=\"http://d/?a=1&amp;b=2\" title=\"Daily &quot;news&quot;\" "
            "id=\"11\"/>\n"
            "<new-link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" url=\"http://t/\" "
            "title=\"Tool.LIV\"/>\n");

  struct TCase {
    std::size_t nameChars;
    bool live;
    std::size_t titleChars;
    bool keepsSuffix;
  } const cases[] = {
      {300, true, 255, false}, {255, false, 255, false}, {256, false, 255, false},
      {251, true, 255, true},  {252, true, 255, false},
  };
  const std::string e = "\xC3\xA9";  // two bytes, one character
  for (const TCase& c : cases) {
    std::string name;
    for (std::size_t i = 0; i < c.nameChars; ++i) name += e;
    const TXmlElement link = WriteBookmarkLinkEx(root_, "link", "/", c.live, -1, "http://u/", name);
    const std::string title = GetAttr(link, "title");
    EXPECT_EQ(Utf8Length(title), c.titleChars) << c.nameChars;
    EXPECT_TRUE(IsValidUtf8(title));
    EXPECT_EQ(title.ends_with(".LIV"), c.keepsSuffix) << c.nameChars;
  }

  const std::string longURL = "http://u/" + std::string(6000, 'x');
  EXPECT_EQ(GetAttr(WriteBookmarkLinkEx(root_, "link", "/", false, -1, longURL, "T"), "url"),
            longURL.substr(0, 5120));
  const std::string exactURL = longURL.substr(0, 5120);
  EXPECT_EQ(GetAttr(WriteBookmarkLinkEx(root_, "link", "/", false, -1, exactURL, "T"), "url"),
            exactURL);
}

TEST_F(ServerLinksTest, WritersRaiseForMissingParts) {
  EXPECT_EQ(MessageOf([&] { WriteBookmarkLinkEx(root_, "link", "", false, 1, "http://u/", "T"); }),
            "WriteBookmarkLinkEx: bad path, url, caption::T:http://u/");
  EXPECT_EQ(MessageOf([&] { WriteBookmarkLinkEx(root_, "link", "/News", false, 1, "", "T"); }),
            "WriteBookmarkLinkEx: bad path, url, caption:/News:T:");
  EXPECT_EQ(MessageOf([&] { WriteBookmarkLinkEx(root_, "link", "/Links", false, 1, "http://u/", ""); }),
            "WriteBookmarkLinkEx: bad path, url, caption:/PERSONAL_BOOKMARK_FOLDER::http://u/");
  // A live bookmark without a name still has a title: ".LIV".
  EXPECT_EQ(GetAttr(WriteBookmarkLinkEx(root_, "link", "/", true, -1, "http://u/", ""), "title"),
            ".LIV");
  EXPECT_EQ(MessageOf([&] { WriteFolderLinkEx(root_, "link", "", true, 3); }),
            "WriteFolderLinkEx: empty path");
  EXPECT_EQ(root_.ChildElements().size(), 1u);
}

TEST_F(ServerLinksTest, FolderLinkAttributes) {
  WriteFolderLinkEx(root_, "link", "/News", false, 10);
  WriteFolderLinkEx(root_, "old-link", "/Links/Tools", true, -1);
  WriteFolderLinkEx(root_, "link", "/Secret", true, 13);
  EXPECT_EQ(Written(),
            "<link path=\"/News\" id=\"10\"/>\n"
            "<old-link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" private=\"CLIENT\"/>\n"
            "<link path=\"/Secret\" id=\"13\" private=\"CLIENT\"/>\n");
}

// Root
//   Home http://h/ (id 5)
//   News/ (id 10)
//     Daily (feed http://feed/)
//     Empty/           invalid: no bookmark
//     NoURL            invalid: no URL
//   Links/
//     Tools/ (id 12)
//       T1 http://t1/
//   Secret/ (id 13, private)
//     S http://s/
//     Inner/ (id 14)
//       I http://i/
//   a/b/
//     X http://x/
struct TLocalTree {
  std::shared_ptr<TDefaultSimpleTree> tree = std::make_shared<TDefaultSimpleTree>("Root");
  std::shared_ptr<TDefaultKFolder> news = Fd("News", 10);
  std::shared_ptr<TDefaultKFolder> links = Fd("Links");
  std::shared_ptr<TDefaultKFolder> tools = Fd("Tools", 12);
  std::shared_ptr<TDefaultKFolder> secret = Fd("Secret", 13);
  std::shared_ptr<TDefaultKFolder> inner = Fd("Inner", 14);

  TLocalTree() {
    tree->Add(Bm("Home", "http://h/", 5));
    tree->Add(news);
    news->Add(Bm("Daily", "http://d/", -1, "http://feed/"));
    news->Add(Fd("Empty"));
    news->Add(Bm("NoURL", ""));
    tree->Add(links);
    links->Add(tools);
    tools->Add(Bm("T1", "http://t1/"));
    tree->Add(secret);
    secret->SetPrivate(true);
    secret->Add(Bm("S", "http://s/"));
    secret->Add(inner);
    inner->Add(Bm("I", "http://i/"));
    const auto odd = Fd("a/b");
    tree->Add(odd);
    odd->Add(Bm("X", "http://x/"));
    tree->InitHashes();
  }
};

TEST_F(ServerLinksTest, TreeLinksOfALocalTree) {
  const TLocalTree local;
  WriteTreeLinks(*local.tree, root_);
  EXPECT_EQ(Written(),
            "<link path=\"/\" url=\"http://h/\" title=\"Home\" id=\"5\"/>\n"
            "<link path=\"/News\" id=\"10\"/>\n"
            "<link path=\"/News\" url=\"http://feed/\" title=\"Daily.LIV\"/>\n"
            "<link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" id=\"12\"/>\n"
            "<link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" url=\"http://t1/\" title=\"T1\"/>\n"
            "<link path=\"/Secret\" id=\"13\"/>\n"
            "<link path=\"/Secret\" private=\"CLIENT\"/>\n"
            "<link path=\"/a\\/b\" url=\"http://x/\" title=\"X\"/>\n");
}

TEST_F(ServerLinksTest, TreeLinksOfASubtree) {
  const TLocalTree local;
  WriteTreeLinks(*local.tools, root_);
  EXPECT_EQ(Written(), "<link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" url=\"http://t1/\" title=\"T1\"/>\n");
  root_ = AddElement(doc_, doc_.DocumentElement(), "other");
  // The topmost private folder is announced, its content stays local.
  WriteTreeLinks(*local.secret, root_);
  EXPECT_EQ(Written(), "<link path=\"/Secret\" private=\"CLIENT\"/>\n");
}

TEST_F(ServerLinksTest, WrittenTreeLoadsBackAsTheSameTree) {
  const TLocalTree local;
  WriteTreeLinks(*local.tree, root_);
  const auto server =
      TServerTree::Create(TXmlNodeList(root_.ChildElements()), "Server");
  // Ids come back as references; the live bookmark keeps no feed address;
  // the Links folder gets its local name again; private content stays out.
  EXPECT_EQ(Dump(*server),
            "B Home http://h/ ref=5\n"
            "F News ref=10\n"
            "  B Daily http://feed/\n"
            "F Links\n"
            "  F Tools ref=12\n"
            "    B T1 http://t1/\n"
            "F Secret ref=13 private\n"
            "F a/b\n"
            "  B X http://x/\n");
  // And the server tree writes the same links again.
  const TXmlElement again = AddElement(doc_, doc_.DocumentElement(), "again");
  WriteTreeLinks(*server, again);
  std::string first;
  std::string second;
  for (const TXmlNode& n : root_.ChildElements()) first += XmlText(n) + "\n";
  for (const TXmlNode& n : again.ChildElements()) second += XmlText(n) + "\n";
  // Only what the server tree cannot know differs: references without ":"
  // carry no id, the feed address is gone, and the private folder, empty on
  // this side, is not valid.
  EXPECT_EQ(second,
            "<link path=\"/\" url=\"http://h/\" title=\"Home\"/>\n"
            "<link path=\"/News\" url=\"http://feed/\" title=\"Daily\"/>\n"
            "<link path=\"/PERSONAL_BOOKMARK_FOLDER/Tools\" url=\"http://t1/\" title=\"T1\"/>\n"
            "<link path=\"/a\\/b\" url=\"http://x/\" title=\"X\"/>\n");
}

TEST_F(ServerLinksTest, ServerFolderIdsReachTheirFolderLinks) {
  const auto server = TServerTree::Create(LinkList(R"(
      <link path="/News" id="u:10"/>
      <link path="/News" title="Daily" url="http://d/" id="u:11"/>)"),
                                                    "Server");
  WriteTreeLinks(*server, root_);
  EXPECT_EQ(Written(),
            "<link path=\"/News\" id=\"10\"/>\n"
            "<link path=\"/News\" url=\"http://d/\" title=\"Daily\" id=\"11\"/>\n");
}

TEST_F(ServerLinksTest, ServerReferencesOnNodes) {
  const auto server = std::make_shared<TServerBookmark>("S", "http://s/", "u:1");
  const auto folder = std::make_shared<TServerFolder>("F");
  const auto local = Bm("L", "http://l/", 4);
  const auto plain = std::make_shared<TFolder>("P");

  SetServerRef(*server, 7);
  SetServerRef(*folder, 8);
  SetServerRef(*local, 9);
  SetServerRef(*plain, 9);
  EXPECT_EQ(GetServerRef(*server), ":7");
  EXPECT_EQ(GetServerRef(*folder), ":8");
  EXPECT_EQ(GetServerRef(*local), "");
  EXPECT_EQ(GetServerRef(*plain), "");
  EXPECT_EQ(GetServerId(folder), 8);
  SetServerRef(*server, -1);
  SetServerRef(*folder, -1);
  EXPECT_EQ(GetServerRef(*server), "");
  EXPECT_EQ(GetServerRef(*folder), "");
}

TEST_F(ServerLinksTest, CollectingAndFindingNodesByReference) {
  const auto tree = TServerTree::Create(LinkList(R"(
      <link path="/" title="Top" url="http://t/" id="a:12"/>
      <link path="/F" id="f:1"/>
      <link path="/F" title="In" url="http://in/" id="b:1"/>
      <link path="/F" title="NoRef" url="http://n/"/>
      <link path="/F/G" title="Deep" url="http://d/" id="c:12"/>
      <link path="/" title="Long" url="http://l/" id="d:123"/>
      <link path="/" title="Two" url="http://2/" id="e:12:3"/>)"),
                                                  "Server");
  const TNodeList nodes = CollectNodesWithRef(*tree);
  std::vector<std::string> names;
  for (const IBNodePtr& n : nodes) names.push_back(n->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"Top", "F", "In", "Deep", "Long", "Two"}));

  EXPECT_EQ(FindNodeByRef(nodes, "c:12")->GetName(), "Deep");
  EXPECT_EQ(FindNodeByRef(nodes, "12"), nullptr);
  struct TCase {
    const char* id;
    const char* name;  // nullptr: none
  } const cases[] = {
      {"12", "Deep"}, {"1", "In"}, {"3", "Two"}, {"123", "Long"}, {"2", nullptr}, {"", nullptr},
  };
  for (const TCase& c : cases) {
    const IBNodePtr found = FindNodeById(nodes, c.id);
    EXPECT_EQ(found ? found->GetName() : std::string("(none)"), c.name ? c.name : "(none)") << c.id;
  }
  EXPECT_EQ(FindNodeById(nodes, 12)->GetName(), "Deep");
}

TEST_F(ServerLinksTest, ReconcilingReferencesWithPublicLinks) {
  const auto tree = TServerTree::Create(LinkList(R"(
      <link path="/" title="One" url="http://1/" id=":1"/>
      <link path="/" title="Two" url="http://2/" id=":2"/>
      <link path="/F" id=":3"/>
      <link path="/F" title="Four" url="http://4/" id=":4"/>)"),
                                                  "Server");
  const TNodeList nodes = CollectNodesWithRef(*tree);
  const TXmlNodeList xlinks = LinkList(R"(
      <link path="/$pub/1" ref=":1"/>
      <link path="/$news/x" ref=""/>
      <link path="/$pub/9" ref=":9"/>
      <link path="/$feed/2" ref=":2"/>
      <link path="/u/$news/3" ref=":3"/>
      <other path="/$pub/4" ref=":4"/>)");
  std::int32_t orphans = -1;
  std::int32_t dangling = -1;
  ReconcileRefs(nodes, xlinks, orphans, dangling);
  EXPECT_EQ(dangling, 2);
  EXPECT_EQ(orphans, 2);
  EXPECT_EQ(GetAttr(xlinks[2], "ref"), "");
  EXPECT_EQ(GetAttr(xlinks[0], "ref"), ":1");
  EXPECT_EQ(GetAttr(xlinks[3], "ref"), ":2");
  EXPECT_EQ(Dump(*tree),
            "B One http://1/ ref=:1\n"
            "B Two http://2/\n"
            "F F ref=:3\n"
            "  B Four http://4/\n");

  ReconcileRefs({}, LinkList(""), orphans, dangling);
  EXPECT_EQ(orphans, 0);
  EXPECT_EQ(dangling, 0);
}

TEST_F(ServerLinksTest, DuplicatePaths) {
  EXPECT_FALSE(HasDuplicatePaths(LinkList(R"(<link path="/$pub/1"/><link path="/$pub/2"/>)")));
  EXPECT_TRUE(HasDuplicatePaths(LinkList(R"(<link path="/$pub/1"/><x/><link path="/$pub/1"/>)")));
  EXPECT_FALSE(HasDuplicatePaths(LinkList(R"(<link path="/a"/><link path="/A"/><o path="/a"/>)")));
  EXPECT_FALSE(HasDuplicatePaths(LinkList("")));
  EXPECT_FALSE(HasDuplicatePaths(TXmlNodeList()));
}

}  // namespace
}  // namespace kelvo
