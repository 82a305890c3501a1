#include "bookmarks/ServerTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerBookmark.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/ServerLinks.h"
#include "bookmarks/TreeTools.h"

namespace kelvo {
namespace {

using test::Dump;
using test::LinkList;

class ServerTreeTest : public test::ServerLinksTestBase {
 protected:
  std::shared_ptr<TServerTree> Build(const std::string& markup) {
    return TServerTree::Create(LinkList(markup), "Server");
  }
};

TEST_F(ServerTreeTest, LoadPlacesLinksIntoFoldersWithEscapedNames) {
  const auto tree = Build(R"(
    <link path="/" title="Home" url="http://home/" id="u:1"/>
    <link path="/News" id="u:10" rank="3"/>
    <link path="/News" title="Daily" url="http://d/" id="u:11"/>
    <link path="/News" title="Weekly" url="http://w/"/>
    <link path="/a\/b/c\\d" title="Deep" url="http://x/"/>
    <note path="/Skipped" title="n" url="http://n/"/>
    <link path="/News/Sport" title="Ball" url="http://b/"/>
    <link path="/News" title="Late" url="http://l/"/>)");
  EXPECT_EQ(Dump(*tree),
            "B Home http://home/ ref=u:1\n"
            "F News ref=u:10 rank=3\n"
            "  B Daily http://d/ ref=u:11\n"
            "  B Weekly http://w/\n"
            "  F Sport\n"
            "    B Ball http://b/\n"
            "  B Late http://l/\n"
            "F a/b\n"
            "  F c\\d\n"
            "    B Deep http://x/\n");
  EXPECT_EQ(tree->Get(0)->GetNodeType(), kNodeTypeServerBookmark);
  EXPECT_EQ(tree->Get(1)->GetNodeType(), kNodeTypeFolder);
}

TEST_F(ServerTreeTest, KeysTakeTheIdFromTheReferenceAndIndexesFollowEachLoad) {
  const auto tree = Build(R"(
    <link path="/News" id="u:10"/>
    <link path="/News" title="Daily" url="http://d/" id="u:11"/>
    <link path="/News" title="Plain" url="http://p/" id="11"/>)");
  const auto news = std::dynamic_pointer_cast<IFolder>(tree->Get(0));
  ASSERT_TRUE(news);
  EXPECT_EQ(news->GetHash(hkNameURLId), "news10");
  EXPECT_EQ(news->Get(0)->GetHash(hkNameURLId), "dailyhttp://d/11");
  // A reference without ":" carries no id.
  EXPECT_EQ(news->Get(1)->GetHash(hkNameURLId), "plainhttp://p/");
  EXPECT_EQ(GetServerId(news), 10);
  EXPECT_EQ(GetServerId(news->Get(0)), 11);
  EXPECT_EQ(GetServerId(news->Get(1)), -1);
  EXPECT_EQ(tree->CountByURL("http://d/"), 1);

  // A second load replaces everything; keys and indexes match the new links.
  tree->Load(LinkList(R"(<link path="/Other" title="New" url="http://n/"/>)"), "");
  EXPECT_EQ(Dump(*tree), "F Other\n  B New http://n/\n");
  EXPECT_EQ(tree->CountByURL("http://d/"), 0);
  EXPECT_EQ(tree->CountByURL("http://n/"), 1);
  EXPECT_EQ(tree->Get(0)->GetHash(hkPath), "/otherF");
  EXPECT_EQ(news->GetParent(), nullptr);
}

TEST_F(ServerTreeTest, LiveTitlesLoseTheirSuffix) {
  struct TCase {
    const char* title;
    const char* name;
  } const cases[] = {
      {"Weather.LIV", "Weather"}, {"a.LIV", "a"},         {".LIV", ".LIV"},
      {"x.liv", "x.liv"},         {"\xC3\xA9.LIV", "\xC3\xA9"}, {"Two.LIV.LIV", "Two.LIV"},
      {"Plain", "Plain"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TServerBookmark(c.title, "http://u/", "").GetName(), c.name) << c.title;
  }
  const auto tree = Build(R"(<link path="/" title="Weather.LIV" url="http://weather/"/>)");
  EXPECT_EQ(Dump(*tree), "B Weather http://weather/\n");
}

TEST_F(ServerTreeTest, PrivateFoldersAndRanks) {
  const auto tree = Build(R"(
    <link path="/A" private="CLIENT"/>
    <link path="/B" private="Client"/>
    <link path="/C" private="server"/>
    <link path="/D" private=""/>
    <link path="/E/F" private="client"/>
    <link path="/R1" id="u:1" rank="7"/>
    <link path="/R2" id="u:2" rank="-2"/>
    <link path="/R3" id="u:3" rank="seven"/>
    <link path="/R4" id="u:4" rank="99999999999"/>
    <link path="/R5" id="u:5" rank=" 5"/>
    <link path="/R6" id="u:6"/>)");
  EXPECT_EQ(Dump(*tree),
            "F A private\n"
            "F B private\n"
            "F E\n"
            "  F F private\n"
            "F R1 ref=u:1 rank=7\n"
            "F R2 ref=u:2 rank=-2\n"
            "F R3 ref=u:3\n"
            "F R4 ref=u:4\n"
            "F R5 ref=u:5\n"
            "F R6 ref=u:6\n");
  const TNodeList privates = CollectPrivateFolders(*tree);
  ASSERT_EQ(privates.size(), 3u);
  EXPECT_EQ(privates[2]->GetName(), "F");
}

TEST_F(ServerTreeTest, BadPathsAreRepairedOrSkippedWithTheirLogLines) {
  const auto tree = Build(R"(
    <link path="News" title="Daily" url="http://d/"/>
    <link title="NoPath" url="http://np/"/>
    <link path="/" url="http://untitled/"/>
    <link path="///" id="u:9"/>)");
  EXPECT_EQ(Dump(*tree), "F News\n  B Daily http://d/\n");
  EXPECT_TRUE(LogHas("TServerTree.Create:path missing leading slash:News"));
  EXPECT_TRUE(LogHas("TServerTree.Create:empty path - ignored for idx:1"));
  EXPECT_TRUE(LogHas("TServerTree.Create:no name tbl for idx:2"));
  EXPECT_TRUE(LogHas("TServerTree.Create:no name tbl for idx:3"));
}

TEST_F(ServerTreeTest, UntitledBookmarkLinksTakeTheirNameFromThePath) {
  const auto tree = Build(R"(
    <link path="/A/B" url="http://ab/"/>
    <link path="/A/B" title="InB" url="http://inb/"/>
    <link path="/A/B" url="http://ab2/"/>
    <link path="/Solo" url="http://solo/"/>)");
  // With two or more segments the last one names the bookmark, which goes
  // into the folder above. The same path repeated means the same placement,
  // whatever the previous link was: a titled link goes into B itself.
  EXPECT_EQ(Dump(*tree),
            "F A\n"
            "  B B http://ab/\n"
            "  F B\n"
            "    B InB http://inb/\n"
            "  B B http://ab2/\n"
            "B  http://solo/\n");
}

TEST_F(ServerTreeTest, RootPathKeepsOnlyWhatLiesBelowIt) {
  const auto tree = TServerTree::Create("Server");
  tree->Load(LinkList(R"(
    <link path="/News" id="u:1"/>
    <link path="/News" title="Top" url="http://top/"/>
    <link path="/News/Sport" title="Ball" url="http://b/"/>
    <link path="/Newsletter" title="Other" url="http://o/"/>
    <link path="/x/News/a" title="Inner" url="http://i/"/>
    <link path="/Else" title="Else" url="http://e/"/>)"),
             "/News");
  EXPECT_EQ(Dump(*tree), "B Top http://top/\nF Sport\n  B Ball http://b/\n");
  // The root folder's own link has no names left; that is not an error here.
  EXPECT_FALSE(LogHas("no name tbl"));

  tree->Load(LinkList(R"(<link path="/News/Sport" title="Ball" url="http://b/"/>)"), "/News/");
  EXPECT_EQ(Dump(*tree), "F Sport\n  B Ball http://b/\n");
  tree->Load(LinkList(R"(<link path="/News/Sport" title="Ball" url="http://b/"/>)"), "/");
  EXPECT_EQ(Dump(*tree), "F News\n  F Sport\n    B Ball http://b/\n");
}

TEST_F(ServerTreeTest, LinksFolderSegmentBecomesTheLocalName) {
  const char* markup = R"(
    <link path="/PERSONAL_BOOKMARK_FOLDER/Tools" title="T" url="http://t/"/>
    <link path="/PERSONAL_BOOKMARK_FOLDERS" title="U" url="http://u/"/>)";
  EXPECT_EQ(Dump(*Build(markup)),
            "F Links\n  F Tools\n    B T http://t/\n"
            "F PERSONAL_BOOKMARK_FOLDERS\n  B U http://u/\n");
  SetLinksFolderNameSource([] { return std::string("Liens"); });
  EXPECT_EQ(Dump(*Build(markup)).substr(0, 8), "F Liens\n");
  // Without a known name the default stands for it.
  SetLinksFolderNameSource([] { return std::string(); });
  EXPECT_EQ(Dump(*Build(markup)).substr(0, 8), "F Links\n");
}

TEST_F(ServerTreeTest, FindOrCreatePathUsesTheFirstTopLevelMatchAndTheLastOneBelow) {
  const auto tree = TServerTree::Create("Server");
  const auto a1 = std::make_shared<TServerFolder>("A");
  const auto a2 = std::make_shared<TServerFolder>("A");
  const auto plain = std::make_shared<TFolder>("P");
  tree->Add(plain);
  tree->Add(a1);
  tree->Add(a2);
  const auto b1 = std::make_shared<TServerFolder>("B");
  const auto b2 = std::make_shared<TServerFolder>("B");
  a1->Add(b1);
  a1->Add(b2);

  EXPECT_EQ(tree->FindOrCreatePath({"A"}, 0), a1);
  EXPECT_EQ(a1->FindOrCreatePath({"B"}, 0), b2);
  EXPECT_EQ(tree->FindOrCreatePath({"A", "B"}, 0), b2);
  EXPECT_EQ(tree->FindOrCreatePath({"A", "B"}, 2), nullptr);
  EXPECT_EQ(tree->FindOrCreatePath({}, 0), nullptr);

  // The rest of the path is created in the folder that answers only, not in
  // every folder of the same name.
  const IServerFolderPtr c = tree->FindOrCreatePath({"A", "B", "C"}, 0);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->GetParent(), static_cast<IBNode*>(b2.get()));
  EXPECT_EQ(b1->Count(), 0);
  EXPECT_EQ(tree->FindOrCreatePath({"A", "B", "C"}, 0), c);

  // Names compare exactly, and only server folders match.
  const IServerFolderPtr lower = tree->FindOrCreatePath({"a"}, 0);
  EXPECT_NE(lower, a1);
  const IServerFolderPtr p = tree->FindOrCreatePath({"P"}, 0);
  EXPECT_NE(static_cast<IBNode*>(p.get()), static_cast<IBNode*>(plain.get()));
  EXPECT_EQ(tree->Count(), 5);
}

TEST_F(ServerTreeTest, OverlyDeepPathsAreSkipped) {
  std::string deep;
  for (std::size_t i = 0; i < kMaxServerPathDepth; ++i) deep += "/d";
  const auto tree = Build("<link path=\"" + deep + "\" title=\"Too deep\" url=\"http://deep/\"/>" +
                          "<link path=\"" + deep + "\" id=\"u:1\"/>" +
                          "<link path=\"/ok\" title=\"Fine\" url=\"http://ok/\"/>");
  // The bookmark needs one level more than allowed; the folder link fits.
  EXPECT_TRUE(LogHas("TServerTree.Create:path too deep - ignored for idx:0"));
  EXPECT_FALSE(LogHas("ignored for idx:1"));
  EXPECT_EQ(tree->CountByURL("http://deep/"), 0);
  EXPECT_EQ(tree->CountByURL("http://ok/"), 1);
  EXPECT_EQ(tree->Count(), 2);
}

}  // namespace
}  // namespace kelvo
