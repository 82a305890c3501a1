// The folder-tree watch on real folders, driven by the real message loop.

#include "platform/ShellWatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "TestHome.h"
#include "TestLoop.h"
#include "platform/Window.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PumpUntil;
using test::PumpFor;

constexpr std::uint32_t kAllEvents = SHCNE_CREATE | SHCNE_MKDIR | SHCNE_DELETE | SHCNE_RMDIR |
                                     SHCNE_RENAMEITEM | SHCNE_RENAMEFOLDER | SHCNE_UPDATEITEM |
                                     SHCNE_UPDATEDIR;

std::string Describe(const TShellEvent& e) {
  std::string text = "0x" + [&] {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", e.event);
    return std::string(buf);
  }() + " " + e.path1;
  if (!e.path2.empty()) text += " <- " + e.path2;
  return text;
}

class ShellWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = home_.Path() / "Favorites";
    fs::create_directories(root_ / "News");
    fs::create_directories(root_ / "Tech" / "Deep");
    test::WriteFileText(root_ / "a.url", "[InternetShortcut]\r\nURL=http://a.example/\r\n");
    test::WriteFileText(root_ / "News" / "n.url", "[InternetShortcut]\r\nURL=http://n/\r\n");
    fs::create_directories(home_.Path() / "Outside");
  }

  void Watch(std::uint32_t mask = kAllEvents) {
    watch_ = CreateShellWatch(root_.string(), mask,
                              [this](const TShellEvent& e) { got_.push_back(e); });
  }

  std::string P(const std::string& rel) const { return (root_ / rel).string(); }

  bool Has(std::uint32_t event, const std::string& path1, const std::string& path2 = {}) const {
    for (const auto& e : got_)
      if (e.event == event && e.path1 == path1 && e.path2 == path2) return true;
    return false;
  }
  bool WaitFor(std::uint32_t event, const std::string& path1, const std::string& path2 = {}) {
    return PumpUntil([&] { return Has(event, path1, path2); });
  }
  std::string All() const {
    std::string text;
    for (const auto& e : got_) text += Describe(e) + "\n";
    return text;
  }

  test::TTestHome home_;
  fs::path root_;
  std::unique_ptr<IShellWatch> watch_;
  std::vector<TShellEvent> got_;
};

TEST_F(ShellWatchTest, EachKindOfChangeIsOneEventWithAbsolutePaths) {
  Watch();
  EXPECT_EQ(watch_->Root(), root_.string() + "/");
  EXPECT_EQ(watch_->WatchedFolders(), 4u);  // root, News, Tech, Tech/Deep

  struct TCase {
    const char* what;
    std::function<void()> act;
    std::uint32_t event;
    std::string path1;
    std::string path2 = {};
  };
  std::vector<TCase> cases = {
      {"create file", [&] { test::WriteFileText(root_ / "b.url", "x"); }, SHCNE_CREATE, P("b.url")},
      {"write file", [&] { test::WriteFileText(root_ / "a.url", "y"); }, SHCNE_UPDATEITEM,
       P("a.url")},
      {"make folder", [&] { fs::create_directory(root_ / "New"); }, SHCNE_MKDIR, P("New")},
      {"rename file", [&] { fs::rename(root_ / "b.url", root_ / "c.url"); }, SHCNE_RENAMEITEM,
       P("c.url"), P("b.url")},
      {"move file between folders",
       [&] { fs::rename(root_ / "c.url", root_ / "Tech" / "Deep" / "c.url"); }, SHCNE_RENAMEITEM,
       P("Tech/Deep/c.url"), P("c.url")},
      {"rename folder", [&] { fs::rename(root_ / "New", root_ / "Newer"); }, SHCNE_RENAMEFOLDER,
       P("Newer"), P("New")},
      {"delete file", [&] { fs::remove(root_ / "Tech" / "Deep" / "c.url"); }, SHCNE_DELETE,
       P("Tech/Deep/c.url")},
      {"remove folder", [&] { fs::remove(root_ / "Newer"); }, SHCNE_RMDIR, P("Newer")},
      {"move file in from outside",
       [&] {
         test::WriteFileText(home_.Path() / "Outside" / "in.url", "x");
         fs::rename(home_.Path() / "Outside" / "in.url", root_ / "News" / "in.url");
       },
       SHCNE_CREATE, P("News/in.url")},
      {"move file out", [&] { fs::rename(root_ / "News" / "in.url", home_.Path() / "out.url"); },
       SHCNE_DELETE, P("News/in.url")},
  };
  // Nothing in the table replaces an item: a rename is the only event.
  for (const auto& c : cases) {
    got_.clear();
    c.act();
    EXPECT_TRUE(WaitFor(c.event, c.path1, c.path2)) << c.what << ":\n" << All();
    for (const auto& e : got_) {
      // A rename is one event: never a creation or deletion beside it.
      if (c.event == SHCNE_RENAMEITEM || c.event == SHCNE_RENAMEFOLDER) {
        EXPECT_NE(e.event, SHCNE_CREATE) << c.what << ":\n" << All();
        EXPECT_NE(e.event, SHCNE_DELETE) << c.what << ":\n" << All();
        EXPECT_NE(e.event, SHCNE_RMDIR) << c.what << ":\n" << All();
        EXPECT_NE(e.event, SHCNE_UPDATEITEM) << c.what << ":\n" << All();
      }
    }
  }
}

TEST_F(ShellWatchTest, ARenameThatReplacesAnItemReportsWhatIsGone) {
  Watch();
  // An editor's save: the new content is written beside and renamed over.
  test::WriteFileText(root_ / "a.url.new", "new");
  ASSERT_TRUE(WaitFor(SHCNE_UPDATEITEM, P("a.url.new")));
  got_.clear();
  fs::rename(root_ / "a.url.new", root_ / "a.url");
  ASSERT_TRUE(WaitFor(SHCNE_UPDATEITEM, P("a.url"))) << All();
  EXPECT_TRUE(Has(SHCNE_DELETE, P("a.url.new"))) << All();
  EXPECT_EQ(got_.size(), 2u) << All();

  // The target is known from the start, the source moved from elsewhere in
  // the tree, and a replaced name is free again afterwards.
  got_.clear();
  fs::rename(root_ / "a.url", root_ / "News" / "n.url");
  ASSERT_TRUE(WaitFor(SHCNE_UPDATEITEM, P("News/n.url"))) << All();
  EXPECT_TRUE(Has(SHCNE_DELETE, P("a.url"))) << All();
  got_.clear();
  test::WriteFileText(root_ / "b.url", "b");
  fs::rename(root_ / "b.url", root_ / "a.url");
  ASSERT_TRUE(WaitFor(SHCNE_RENAMEITEM, P("a.url"), P("b.url"))) << All();

  // An empty folder replaced by a renamed one.
  fs::create_directory(root_ / "Empty");
  ASSERT_TRUE(WaitFor(SHCNE_MKDIR, P("Empty")));
  got_.clear();
  fs::rename(root_ / "Tech", root_ / "Empty");
  ASSERT_TRUE(WaitFor(SHCNE_RENAMEFOLDER, P("Empty"), P("Tech"))) << All();
  ASSERT_EQ(got_.size(), 2u) << All();
  EXPECT_EQ(Describe(got_[0]), Describe({SHCNE_RMDIR, P("Empty"), ""}));
  test::WriteFileText(root_ / "Empty" / "Deep" / "d.url", "x");
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Empty/Deep/d.url"))) << All();
}

TEST_F(ShellWatchTest, FoldersThatAppearOrMoveAreWatchedUnderTheirCurrentPath) {
  Watch();
  // A new folder is watched at once, a renamed folder's subtree reports its
  // new paths, and a folder moved in from outside brings its subtree along.
  fs::create_directories(root_ / "Fresh");
  ASSERT_TRUE(WaitFor(SHCNE_MKDIR, P("Fresh")));
  test::WriteFileText(root_ / "Fresh" / "f.url", "x");
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Fresh/f.url"))) << All();

  fs::rename(root_ / "Tech", root_ / "Science");
  ASSERT_TRUE(WaitFor(SHCNE_RENAMEFOLDER, P("Science"), P("Tech"))) << All();
  test::WriteFileText(root_ / "Science" / "Deep" / "d.url", "x");
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Science/Deep/d.url"))) << All();

  fs::create_directories(home_.Path() / "Outside" / "Pack" / "Inner");
  test::WriteFileText(home_.Path() / "Outside" / "Pack" / "Inner" / "old.url", "x");
  fs::rename(home_.Path() / "Outside" / "Pack", root_ / "Pack");
  ASSERT_TRUE(WaitFor(SHCNE_CREATE, P("Pack/Inner/old.url"))) << All();
  const std::vector<std::string> arrived = {Describe({SHCNE_MKDIR, P("Pack"), ""}),
                                            Describe({SHCNE_MKDIR, P("Pack/Inner"), ""}),
                                            Describe({SHCNE_CREATE, P("Pack/Inner/old.url"), ""})};
  std::vector<std::string> gotTexts;
  for (const auto& e : got_)
    if (e.path1.rfind(P("Pack"), 0) == 0) gotTexts.push_back(Describe(e));
  EXPECT_EQ(gotTexts, arrived);
  test::WriteFileText(root_ / "Pack" / "Inner" / "i.url", "x");
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Pack/Inner/i.url"))) << All();

  // A folder moved out is no longer watched: changes inside it are not ours.
  fs::rename(root_ / "Pack", home_.Path() / "Gone");
  ASSERT_TRUE(WaitFor(SHCNE_RMDIR, P("Pack"))) << All();
  got_.clear();
  test::WriteFileText(home_.Path() / "Gone" / "Inner" / "late.url", "x");
  fs::create_directory(root_ / "Marker");
  ASSERT_TRUE(WaitFor(SHCNE_MKDIR, P("Marker")));
  EXPECT_EQ(got_.size(), 1u) << All();
}

TEST_F(ShellWatchTest, AFolderFilledRightAfterItsCreationReportsItsContent) {
  Watch();
  // Everything happens before the loop reads a single event, so the items
  // exist before the new folders are watched.
  fs::create_directories(root_ / "Burst" / "Sub");
  test::WriteFileText(root_ / "Burst" / "x.url", "x");
  test::WriteFileText(root_ / "Burst" / "Sub" / "y.url", "y");
  EXPECT_TRUE(WaitFor(SHCNE_MKDIR, P("Burst"))) << All();
  EXPECT_TRUE(WaitFor(SHCNE_MKDIR, P("Burst/Sub"))) << All();
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Burst/x.url"))) << All();
  EXPECT_TRUE(WaitFor(SHCNE_CREATE, P("Burst/Sub/y.url"))) << All();
}

TEST_F(ShellWatchTest, OnlyTheEventsOfTheMaskAreReported) {
  Watch(SHCNE_DELETE | SHCNE_RMDIR);
  test::WriteFileText(root_ / "b.url", "x");
  fs::rename(root_ / "b.url", root_ / "c.url");
  fs::create_directory(root_ / "New");
  fs::remove(root_ / "c.url");
  ASSERT_TRUE(WaitFor(SHCNE_DELETE, P("c.url"))) << All();
  // Folders are still followed for the deletions below them.
  test::WriteFileText(root_ / "New" / "z.url", "x");
  fs::remove(root_ / "New" / "z.url");
  ASSERT_TRUE(WaitFor(SHCNE_DELETE, P("New/z.url"))) << All();
  for (const auto& e : got_) EXPECT_EQ(e.event, SHCNE_DELETE) << All();
}

TEST_F(ShellWatchTest, SymbolicLinksAreItemsAndNeverFollowed) {
  fs::create_directories(home_.Path() / "Elsewhere");
  fs::create_directory_symlink(home_.Path() / "Elsewhere", root_ / "Link");
  fs::create_directory_symlink(root_, root_ / "Loop");  // a cycle must not hang the watch
  Watch();
  EXPECT_EQ(watch_->WatchedFolders(), 4u);
  test::WriteFileText(home_.Path() / "Elsewhere" / "e.url", "x");
  fs::create_directory(root_ / "Marker");
  ASSERT_TRUE(WaitFor(SHCNE_MKDIR, P("Marker")));
  EXPECT_EQ(got_.size(), 1u) << All();
}

TEST_F(ShellWatchTest, NothingArrivesAfterTheWatchIsDestroyed) {
  Watch();
  test::WriteFileText(root_ / "b.url", "x");  // pending in the kernel queue
  watch_.reset();
  fs::remove(root_ / "b.url");
  PumpFor(100ms);
  EXPECT_TRUE(got_.empty()) << All();
}

TEST_F(ShellWatchTest, AFolderThatCannotBeWatchedThrows) {
  EXPECT_THROW(CreateShellWatch((home_.Path() / "missing").string(), kAllEvents, {}),
               std::system_error);
  EXPECT_THROW(CreateShellWatch((root_ / "a.url").string(), kAllEvents, {}), std::system_error);
  EXPECT_THROW(CreateShellWatch("", kAllEvents, {}), std::system_error);
}

}  // namespace
}  // namespace kelvo
