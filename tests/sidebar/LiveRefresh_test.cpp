// The live refresh against real folders: versions of the unpacked code and
// of the package, the refresh from a real zip package with the old code
// moved away and deleted in the background, and packages that are missing,
// damaged or hold names that would land outside the code folder.

#include "sidebar/LiveRefresh.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ChainTestSupport.h"
#include "sidebar/ZipExtract.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::MakeZip;
using test::PumpUntil;
using test::ReadFileText;
using test::WriteFileText;

class LiveRefreshTest : public test::ChainTest {
 protected:
  std::string Data() const { return home_->Sub(".local/share/Kelvo") + "/"; }
  std::string Code() const { return Data() + "sidebar/"; }
  void WriteCode(const std::string& version) {
    WriteFileText(Code() + "sidebar.html", "<html></html>");
    WriteFileText(Code() + "version.txt", version);
  }
  void WritePackage(const std::string& version, test::TZipEntries entries = {}) {
    fs::create_directories(AppDir() + "sidebar");
    if (entries.empty()) {
      entries = {{"sidebar/sidebar.html", "<html>new</html>"},
                 {"sidebar/js/services/hiddenIFrame.html", "<html>services</html>"},
                 {"sidebar/version.txt", version + "\r\n"}};
    }
    MakeZip(TLiveRefresh::PackagePath(), entries);
    WriteFileText(TLiveRefresh::PackageVersionPath(), version + "\r\n");
  }
  // Starts a refresh and delivers messages until it ended.
  void RunRefresh(TLiveRefresh& refresh) {
    refresh.Start();
    ASSERT_TRUE(PumpUntil([&] { return !refresh.Refreshing(); }));
  }
  std::size_t Occurrences(const std::string& what) const {
    std::string log = Log();
    std::size_t n = 0;
    for (auto p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
    return n;
  }
};

TEST_F(LiveRefreshTest, VersionFilesReadTheirFirstLineAsANumber) {
  struct {
    const char* text;
    int version;
  } cases[] = {{"12", 12},          {"12\r\nsecond line", 12}, {" 7 \n", 7},
               {"\xEF\xBB\xBF" "5\r\n", 5}, {"", -1},            {"abc", -1},
               {"12abc", -1},       {"-", -1},                 {"99999999999", -1}};
  for (const auto& c : cases) {
    WriteCode(c.text);
    EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), c.version) << "[" << c.text << "]";
  }
}

TEST_F(LiveRefreshTest, CodeWithoutItsPageOrVersionFileHasNoVersion) {
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), -1);  // no folder at all
  WriteCode("12");
  fs::remove(Code() + "sidebar.html");
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), -1);
  WriteCode("12");
  fs::remove(Code() + "version.txt");
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), -1);
  // A version file that cannot be read (a folder in its place) gives -1 too.
  fs::create_directories(Code() + "version.txt");
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), -1);
}

TEST_F(LiveRefreshTest, PackageVersionNeedsThePackageAndItsVersionFile) {
  EXPECT_EQ(TLiveRefresh::GetPackageSBVersion(), -1);
  WritePackage("13");
  EXPECT_EQ(TLiveRefresh::GetPackageSBVersion(), 13);
  fs::remove(TLiveRefresh::PackagePath());
  EXPECT_EQ(TLiveRefresh::GetPackageSBVersion(), -1);
  WritePackage("13");
  WriteFileText(TLiveRefresh::PackageVersionPath(), "thirteen");
  EXPECT_EQ(TLiveRefresh::GetPackageSBVersion(), -1);
}

TEST_F(LiveRefreshTest, MostRecentWhenTheCodeIsAtLeastThePackagesVersion) {
  TLiveRefresh refresh;
  struct {
    const char* code;
    const char* package;
    bool recent;
  } cases[] = {{"12", "12", true}, {"13", "12", true}, {"12", "13", false}, {"x", "12", false}};
  for (const auto& c : cases) {
    WriteCode(c.code);
    WritePackage(c.package);
    EXPECT_EQ(refresh.CurrentSBIsLocallyMostRecent(), c.recent) << c.code << " vs " << c.package;
  }
  // Code without a package is current as long as it has a version.
  fs::remove(TLiveRefresh::PackagePath());
  WriteCode("1");
  EXPECT_TRUE(refresh.CurrentSBIsLocallyMostRecent());
}

TEST_F(LiveRefreshTest, DeveloperCheckoutIsNeverRefreshed) {
  std::string checkout = home_->Sub("src/kelvo/sidebar-package") + "/";
  TConfig::SetSidebarPath(checkout);
  InitPaths();
  WritePackage("500");
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), TLiveRefresh::kDeveloperVersion);
  TLiveRefresh refresh;
  EXPECT_TRUE(refresh.CurrentSBIsLocallyMostRecent());
}

TEST_F(LiveRefreshTest, RefreshReplacesTheCodeAndDeletesOldFoldersInTheBackground) {
  WriteCode("12");
  WriteFileText(Code() + "stale.js", "old");
  fs::create_directories(Data() + "sidebar_old42/js");
  WriteFileText(Data() + "sidebar_old42/js/x.js", "older");
  fs::create_directories(Data() + "sidebarinit");  // not an old code folder
  WritePackage("13");

  TLiveRefresh refresh;
  int ended = 0;
  refresh.SetOnRefreshEnded([&] { ++ended; });
  ASSERT_FALSE(refresh.CurrentSBIsLocallyMostRecent());
  RunRefresh(refresh);

  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), 13);
  EXPECT_EQ(ReadFileText(Code() + "sidebar.html"), "<html>new</html>");
  EXPECT_EQ(ReadFileText(Code() + "js/services/hiddenIFrame.html"), "<html>services</html>");
  EXPECT_FALSE(fs::exists(Code() + "stale.js"));
  EXPECT_EQ(refresh.Progress(), 100);
  EXPECT_TRUE(StateAdded(asSidebarCodeOK));
  EXPECT_EQ(ended, 1);
  EXPECT_TRUE(refresh.CurrentSBIsLocallyMostRecent());

  // The old folders go on the deletion thread, which reports back.
  ASSERT_NE(refresh.LastDeletion(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return Logged("Prevous sidebar js directories deleted"); }));
  for (const auto& entry : fs::directory_iterator(Data())) {
    EXPECT_NE(entry.path().filename().string().rfind("sidebar_old", 0), 0u) << entry.path();
  }
  EXPECT_TRUE(fs::exists(Data() + "sidebarinit"));
  std::vector<std::string> inOrder = {
      "UpdateSidebarFromPackage:" + TLiveRefresh::PackagePath(),
      "UpdateSidebarFromPackage:forcing:" + Data(),
      "UpdateSidebarFromPackage:unzipping:" + Data(), "UpdateSidebarFromPackage:unzipped ok",
      "UpdateSidebarFromPackage.end"};
  std::string log = Log();
  std::size_t at = 0;
  for (const auto& line : inOrder) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
  }
}

TEST_F(LiveRefreshTest, TwoStartsRunOneRefresh) {
  WritePackage("2");
  TLiveRefresh refresh;
  refresh.Start();
  refresh.Start();
  EXPECT_TRUE(refresh.Refreshing());
  EXPECT_FALSE(refresh.CurrentSBIsLocallyMostRecent());  // not while it runs
  ASSERT_TRUE(PumpUntil([&] { return !refresh.Refreshing(); }));
  PumpMessages(50);
  EXPECT_EQ(Occurrences("UpdateSidebarFromPackage:unzipping:"), 1u);
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), 2);
}

TEST_F(LiveRefreshTest, MissingPackageLeavesTheCodeAndAddsNoState) {
  // Code without a version (no sidebar.html) and only the package's version file.
  WriteFileText(Code() + "version.txt", "3");
  WriteFileText(TLiveRefresh::PackageVersionPath(), "4");
  TLiveRefresh refresh;
  ASSERT_FALSE(refresh.CurrentSBIsLocallyMostRecent());
  RunRefresh(refresh);
  EXPECT_TRUE(Logged("Zip file does not exist:" + TLiveRefresh::PackagePath()));
  EXPECT_FALSE(StateAdded(asSidebarCodeOK));
  EXPECT_EQ(ReadFileText(Code() + "version.txt"), "3");
  EXPECT_FALSE(refresh.Refreshing());
}

TEST_F(LiveRefreshTest, DamagedPackageStillAddsTheStateButIsTriedAgainNextTime) {
  WriteCode("3");
  fs::create_directories(AppDir() + "sidebar");
  WriteFileText(TLiveRefresh::PackagePath(), "this is not a zip archive");
  WriteFileText(TLiveRefresh::PackageVersionPath(), "4");
  TLiveRefresh refresh;
  RunRefresh(refresh);
  EXPECT_TRUE(StateAdded(asSidebarCodeOK));
  EXPECT_TRUE(Logged("Cannot open zip file"));
  EXPECT_FALSE(Logged("unzipped ok"));
  EXPECT_FALSE(refresh.CurrentSBIsLocallyMostRecent());
}

TEST_F(LiveRefreshTest, PartlyUnpackedCodeDoesNotPassForCurrent) {
  // The package's own version file comes first, then a file that cannot be
  // written because a folder of its name was unpacked just before.
  WritePackage("9", {{"sidebar/version.txt", "9"},
                     {"sidebar/sidebar.html", "<html></html>"},
                     {"sidebar/blocked/", ""},
                     {"sidebar/blocked", "x"}});
  TLiveRefresh refresh;
  RunRefresh(refresh);
  EXPECT_TRUE(Logged("UpdateSidebarFromPackage:unzip error:sidebar/blocked"));
  EXPECT_TRUE(StateAdded(asSidebarCodeOK));
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), -1);
  EXPECT_FALSE(refresh.CurrentSBIsLocallyMostRecent());
}

TEST_F(LiveRefreshTest, EntriesOutsideTheFolderAreRefusedAndTheRestExtracted) {
  WritePackage("5", {{"sidebar/sidebar.html", "ok"},
                     {"sidebar/version.txt", "5"},
                     {"../x", "evil"},
                     {"sidebar/../../y", "evil"},
                     {"sidebar\\..\\..\\z", "evil"},
                     {"/tmp/kelvo-zip-absolute-test", "evil"}});
  TLiveRefresh refresh;
  RunRefresh(refresh);
  EXPECT_EQ(ReadFileText(Code() + "sidebar.html"), "ok");
  EXPECT_FALSE(fs::exists(home_->Sub(".local/share/x")));
  EXPECT_FALSE(fs::exists(home_->Sub(".local/y")));
  EXPECT_FALSE(fs::exists(home_->Sub(".local/z")));
  EXPECT_FALSE(fs::exists("/tmp/kelvo-zip-absolute-test"));
  EXPECT_TRUE(Logged("refused entry outside " + Data() + ":../x"));
  EXPECT_TRUE(Logged("refused entry outside " + Data() + ":/tmp/kelvo-zip-absolute-test"));
  EXPECT_EQ(TLiveRefresh::GetCurrentSBVersion(), 5);
}

TEST(ZipEntryPath, NamesThatStayInsideTheTarget) {
  struct {
    const char* name;
    const char* path;
  } cases[] = {{"sidebar/a.html", "sidebar/a.html"},
               {"sidebar\\js\\b.js", "sidebar/js/b.js"},
               {"sidebar/./c", "sidebar/c"},
               {"sidebar//d", "sidebar/d"},
               {"sidebar/js/", "sidebar/js/"},
               {"a..b/c..", "a..b/c.."},
               {"../x", ""},
               {"sidebar/../x", ""},
               {"/etc/passwd", ""},
               {"\\x", ""},
               {"C:/x", ""},
               {"c:x", ""},
               {"./", ""},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(SafeZipEntryPath(c.name), c.path) << c.name;
}

TEST(ZipExtract, NeverWritesThroughALinkInsideTheTarget) {
  test::TTestHome home;
  std::string target = home.Sub("target");
  std::string outside = home.Sub("outside");
  fs::create_directories(target);
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, target + "/link");
  WriteFileText(outside + "/file", "mine");
  fs::create_symlink(outside + "/file", target + "/filelink");
  std::string zipPath = home.Sub("p.zip");
  MakeZip(zipPath, {{"link/evil", "x"}, {"filelink", "x"}, {"good/one", "1"}});
  std::vector<int> progress;
  TZipExtractResult result = ExtractZip(zipPath, target, [&](int p) { progress.push_back(p); });
  EXPECT_EQ(result.files, 1);
  EXPECT_EQ(result.refused, (std::vector<std::string>{"link/evil", "filelink"}));
  EXPECT_TRUE(result.Succeeded());
  EXPECT_FALSE(fs::exists(outside + "/evil"));
  EXPECT_EQ(ReadFileText(outside + "/file"), "mine");
  EXPECT_EQ(ReadFileText(target + "/good/one"), "1");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_THROW(ExtractZip(home.Sub("missing.zip"), target), TZipException);
}

}  // namespace
}  // namespace kelvo
