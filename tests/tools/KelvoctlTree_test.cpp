// "kelvoctl tree DIR" on folders prepared here: the listing of the folder as
// the agent reads it, with path keys and the sync-id text.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RunKelvoctl.h"
#include "TestHome.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ReadBookmarksThread.h"

namespace kelvo {
namespace {

using test::TRun;
using test::kKelvoctl;

class KelvoctlTreeTest : public ::testing::Test {
 protected:
  TRun Run(const std::vector<std::string>& args) { return test::RunKelvoctl(home_, args); }
  void Put(const std::string& relative, const std::string& url) {
    test::WriteFileText(home_.Path() / "Fav" / relative, "[DEFAULT]\r\nBASEURL=http://base.example/\r\n"
                                                          "[InternetShortcut]\r\nURL=" + url + "\r\n");
  }
  std::string Dir() const { return home_.Sub("Fav"); }

  test::TTestHome home_;
};

TEST_F(KelvoctlTreeTest, ListsTheFolderWithKeysAndSyncIdText) {
  Put("News/Sport/Goal.url", "http://goal.example/");
  Put("Top .url", "http://top.example/");  // repaired to "Top_"
  const TRun run = Run({"tree", Dir()});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const std::string treeKey = PathHash({"My Favorites"}, true);
  std::string expected = "My Favorites/\t\t" + treeKey + "\n";
  const std::string news = "  News/\t\t" + PathHash({"News"}, true) + "\n";
  const std::string sport = "    Sport/\t\t" + PathHash({"News", "Sport"}, true) + "\n";
  const std::string goal = "      Goal\thttp://goal.example/\t" + PathHash({"News", "Sport", "Goal"}, false) + "\n";
  const std::string top = "  Top_\thttp://top.example/\t" + PathHash({"Top_"}, false) + "\n";
  // The listing keeps the file system's order, which is not fixed: check each
  // line and the nesting under the folder it belongs to.
  EXPECT_EQ(run.out.rfind(expected, 0), 0u) << run.out;
  for (const std::string& line : {news, top}) EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  EXPECT_NE(run.out.find(news + sport + goal), std::string::npos) << run.out;

  // The last line is the sync-id text of the same folder read in process.
  const std::string sync = "sync-id-text:" + TReadBookmarksThread::ReadTree(Dir())->GetHash(hkContentSum) + "\n";
  ASSERT_GE(run.out.size(), sync.size());
  EXPECT_EQ(run.out.substr(run.out.size() - sync.size()), sync);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 6);
}

TEST_F(KelvoctlTreeTest, SyncIdTextFollowsTheContent) {
  Put("a.url", "http://a.example/");
  const std::string before = Run({"tree", Dir()}).out;
  const std::string again = Run({"tree", Dir()}).out;
  EXPECT_EQ(before, again);
  Put("a.url", "http://changed.example/");
  const std::string after = Run({"tree", Dir()}).out;
  auto lastLine = [](const std::string& out) { return out.substr(out.rfind("sync-id-text:")); };
  EXPECT_NE(lastLine(before), lastLine(after));
  EXPECT_NE(after.find("http://changed.example/"), std::string::npos);
}

TEST_F(KelvoctlTreeTest, RefusesWhatIsNotAFolder) {
  EXPECT_EQ(Run({"tree", home_.Sub("missing")}).exitCode, 1);
  EXPECT_EQ(Run({"tree"}).exitCode, 2);
  EXPECT_EQ(Run({"tree", "a", "b"}).exitCode, 2);
}

}  // namespace
}  // namespace kelvo
