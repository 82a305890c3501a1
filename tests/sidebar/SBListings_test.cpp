#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "SidebarTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "sidebar/SBListings.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

class SBListingsTest : public SidebarTest {
 protected:
  // Root: News (Sport (one), two bookmarks), Home, Empty, "A/B".
  std::shared_ptr<TDefaultSimpleTree> MakeTree() {
    auto root = std::make_shared<TDefaultSimpleTree>("Favorites");
    auto news = std::make_shared<TDefaultKFolder>("News");
    auto sport = std::make_shared<TDefaultKFolder>("Sport");
    sport->Add(std::make_shared<TDefaultKBookmark>("Scores", "http://scores.example/"));
    news->Add(sport);
    news->Add(std::make_shared<TDefaultKBookmark>("Daily", "http://daily.example/a?b=1&c=\"2\""));
    news->Add(std::make_shared<TDefaultKBookmark>("Caf\xC3\xA9", "http://caf.example/"));
    root->Add(news);
    root->Add(std::make_shared<TDefaultKBookmark>("Home", "http://home.example/"));
    root->Add(std::make_shared<TDefaultKFolder>("Empty"));
    root->Add(std::make_shared<TDefaultKFolder>("A/B"));
    return root;
  }
};

TEST_F(SBListingsTest, ListsTheRootWithCountsAsStrings) {
  auto root = MakeTree();
  EXPECT_EQ(GetBookmarksJSON(root, ""),
            R"({"0":{"title":"News","path":"\/","bkCount":"3"},)"
            R"("1":{"url":"http:\/\/home.example\/","title":"Home","path":"\/"},)"
            R"("2":{"title":"Empty","path":"\/","bkCount":"0"},)"
            R"("3":{"title":"A\/B","path":"\/","bkCount":"0"},"length":"4"})");
}

TEST_F(SBListingsTest, FollowsThePositionsDownTheTree) {
  auto root = MakeTree();
  EXPECT_EQ(GetBookmarksJSON(root, "0"),
            R"({"0":{"title":"Sport","path":"\/News","bkCount":"1"},)"
            R"("1":{"url":"http:\/\/daily.example\/a?b=1&c=\"2\"","title":"Daily","path":"\/News"},)"
            "\"2\":{\"url\":\"http:\\/\\/caf.example\\/\",\"title\":\"Caf\xC3\xA9\",\"path\":\"\\/News\"},"
            R"("length":"3"})");
  const std::string sport =
      R"({"0":{"url":"http:\/\/scores.example\/","title":"Scores","path":"\/News\/Sport"},"length":"1"})";
  EXPECT_EQ(GetBookmarksJSON(root, "0,0"), sport);
  EXPECT_EQ(GetBookmarksJSON(root, " 0 , 0 "), sport);
  // A "/" inside a name is escaped in the server path.
  EXPECT_EQ(GetBookmarksJSON(root, "3"), R"({"length":"0"})");
  EXPECT_EQ(GetBookmarksJSON(root, "2"), R"({"length":"0"})");
}

TEST_F(SBListingsTest, BadPositionsAreLoggedAndSkipped) {
  auto root = MakeTree();
  const std::string rootListing = GetBookmarksJSON(root, "");
  EXPECT_EQ(GetBookmarksJSON(root, "99"), rootListing);
  EXPECT_TRUE(Logged("TSBServices.GetBookmarks_:badindex:99"));
  EXPECT_EQ(GetBookmarksJSON(root, "-1"), rootListing);
  EXPECT_TRUE(Logged("TSBServices.GetBookmarks_:badindex:-1"));
  // The bad one is skipped, the next still applies.
  EXPECT_EQ(GetBookmarksJSON(root, "7,0,0"), GetBookmarksJSON(root, "0,0"));
}

TEST_F(SBListingsTest, NonNumbersAndBookmarkPositionsFailTheCall) {
  auto root = MakeTree();
  for (const char* path : {"x", "1", "0,", "1.5", "0,0,0", "99999999999"}) {
    EXPECT_THROW(GetBookmarksJSON(root, path), TSBServicesException) << path;
  }
  EXPECT_EQ(GetBookmarksJSON(nullptr, "0"), "");
}

TEST_F(SBListingsTest, FindsWidgetManifestsAsCommaText) {
  const std::string sb = home_->Sub("sb");
  for (const char* dir : {"a", "b/c", "with space", "_extra", "quote\"d"}) {
    fs::create_directories(sb + "/" + dir);
    WriteFileText(sb + "/" + dir + "/keldget.manifest", "{}");
  }
  WriteFileText(sb + "/a/other.manifest", "{}");
  fs::create_directories(sb + "/folder/keldget.manifest");  // a folder is no manifest

  // Depth first: a folder's files, then each subfolder in name order.
  EXPECT_EQ(FindKeldgetManifests(sb),
            sb + "/_extra/keldget.manifest," + sb + "/a/keldget.manifest," + sb +
                "/b/c/keldget.manifest,\"" + sb + "/quote\"\"d/keldget.manifest\",\"" + sb +
                "/with space/keldget.manifest\"");
  EXPECT_EQ(FindKeldgetManifests(home_->Sub("missing")), "");
}

TEST(CommaTextTest, QuotesWhereAReaderWouldSplit) {
  EXPECT_EQ(CommaText({}), "");
  EXPECT_EQ(CommaText({""}), "\"\"");
  EXPECT_EQ(CommaText({"a", "b c", "d,e", "f\"g", "", "h\ti"}),
            "a,\"b c\",\"d,e\",\"f\"\"g\",,\"h\ti\"");
}

}  // namespace
}  // namespace kelvo::test
