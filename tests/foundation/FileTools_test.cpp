#include "foundation/FileTools.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "TestHome.h"
#include "foundation/ThreadRegistry.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TTestHome;
using test::WriteFileText;

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                  fs::perm_options::replace);
}

// Runs the operation and answers the message of the TKFileException it
// raised ("" when it raised nothing).
template <typename F>
std::string FileErrorOf(F&& operation) {
  try {
    operation();
  } catch (const TKFileException& e) {
    return e.Message();
  }
  return std::string();
}

class FileToolsTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return home_.Sub(relative); }
  std::string Make(const std::string& relative, const std::string& text = "x") const {
    WriteFileText(home_.Sub(relative), text);
    return home_.Sub(relative);
  }
  TTestHome home_;
};

// ---------------------------------------------------------------------------
// Creating and deleting

TEST_F(FileToolsTest, CreateFolderMakesParentsAndAcceptsAnExistingFolder) {
  std::string folder = Path("a/b/c");
  TFileTools::CreateFolder(folder);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_NO_THROW(TFileTools::CreateFolder(folder));
  EXPECT_NO_THROW(TFileTools::CreateFolder(folder + "/"));

  std::string file = Make("plain.txt");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::CreateFolder(file); }),
            "Error creating directory " + file);
  EXPECT_EQ(FileErrorOf([&] { TFileTools::CreateFolder(file + "/below"); }),
            "Error creating directory " + file + "/below");
}

TEST_F(FileToolsTest, DeleteFileRefusesReadOnlyMissingAndFolders) {
  std::string file = Make("del.txt");
  TFileTools::DeleteFile(file);
  EXPECT_FALSE(fs::exists(file));

  // Write bits cleared is the read-only attribute: refused even for root.
  std::string readOnly = Make("ro.txt", "keep me");
  MakeReadOnly(readOnly);
  try {
    TFileTools::DeleteFile(readOnly);
    FAIL() << "read-only file deleted";
  } catch (const TKFileException& e) {
    EXPECT_EQ(e.Message(), "Error deleting file " + readOnly);
    EXPECT_FALSE(e.Origin().empty());
    EXPECT_STREQ(e.ClassName(), "TKFileException");
  }
  EXPECT_EQ(ReadFileText(readOnly), "keep me");

  // A file with any write bit is not read-only.
  std::string groupWritable = Make("gw.txt");
  fs::permissions(groupWritable, fs::perms::owner_read | fs::perms::group_write,
                  fs::perm_options::replace);
  EXPECT_NO_THROW(TFileTools::DeleteFile(groupWritable));

  std::string missing = Path("missing.txt");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::DeleteFile(missing); }),
            "Error deleting file " + missing);
  fs::create_directory(Path("dir"));
  EXPECT_EQ(FileErrorOf([&] { TFileTools::DeleteFile(Path("dir")); }),
            "Error deleting file " + Path("dir"));
  EXPECT_TRUE(fs::is_directory(Path("dir")));
}

TEST_F(FileToolsTest, DeleteFolderRemovesEverythingAndRaisesWhenMissing) {
  Make("tree/a.txt");
  Make("tree/sub/b.txt");
  MakeReadOnly(Make("tree/sub/ro.txt"));
  std::string tree = Path("tree");
  TFileTools::DeleteFolder(tree);
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(FileErrorOf([&] { TFileTools::DeleteFolder(tree); }),
            "Error deleting directory " + tree);
}

TEST_F(FileToolsTest, DeleteTreeCountsEveryEntryItRemoved) {
  Make("tree/a.txt");
  MakeReadOnly(Make("tree/ro.txt"));
  Make("tree/sub/b.txt");
  Make("tree/sub/deeper/c.txt");
  fs::create_directory(Path("tree/empty"));
  fs::create_symlink(Path("outside.txt"), Path("tree/link"));
  std::string outside = Make("outside.txt", "not mine");

  // 4 files + 1 link + 3 subfolders + the folder itself.
  EXPECT_EQ(TFileTools::DeleteTree(Path("tree")), 9);
  EXPECT_FALSE(fs::exists(Path("tree")));
  EXPECT_EQ(ReadFileText(outside), "not mine");
  EXPECT_EQ(TFileTools::DeleteTree(Path("tree")), 0);
}

TEST_F(FileToolsTest, DeleteMatchingFilesCollectsFailuresAndRemovesFoldersDeepestFirst) {
  Make("f/a.url");
  Make("f/keep.txt");
  Make("f/sub/b.url");
  std::string readOnly = Make("f/sub/ro.url");
  MakeReadOnly(readOnly);

  auto failures = TFileTools::DeleteMatchingFiles(Path("f"), "*.url", true);
  EXPECT_EQ(failures, std::vector<std::string>{"Error deleting file " + readOnly});
  EXPECT_FALSE(fs::exists(Path("f/a.url")));
  EXPECT_FALSE(fs::exists(Path("f/sub/b.url")));
  EXPECT_TRUE(fs::exists(readOnly));
  EXPECT_TRUE(fs::exists(Path("f/keep.txt")));

  // Everything below, folders included; the folder itself stays.
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
  Make("f/sub/deeper/x.bin");
  EXPECT_TRUE(TFileTools::DeleteMatchingFiles(Path("f"), "*.*", true).empty());
  EXPECT_TRUE(fs::is_directory(Path("f")));
  EXPECT_TRUE(fs::is_empty(Path("f")));
}

// ---------------------------------------------------------------------------
// Renaming, moving, copying

TEST_F(FileToolsTest, RenameFileNeverReplacesAndNamesTheOldPath) {
  std::string from = Make("old.url", "old");
  std::string to = Path("new.url");
  TFileTools::RenameFile(from, to);
  EXPECT_EQ(ReadFileText(to), "old");
  EXPECT_FALSE(fs::exists(from));

  std::string other = Make("other.url", "other");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::RenameFile(other, to); }),
            "Error renaming file " + other);
  EXPECT_EQ(ReadFileText(to), "old");
  EXPECT_EQ(ReadFileText(other), "other");

  EXPECT_EQ(FileErrorOf([&] { TFileTools::RenameFile(from, Path("x.url")); }),
            "Error renaming file " + from);
  // A read-only file may be renamed, as on Windows.
  MakeReadOnly(other);
  EXPECT_NO_THROW(TFileTools::RenameFile(other, Path("renamed.url")));
}

TEST_F(FileToolsTest, MoveAnswersWhetherItMoved) {
  std::string file = Make("m/file.txt", "data");
  EXPECT_TRUE(TFileTools::Move(file, Path("moved.txt")));
  EXPECT_EQ(ReadFileText(Path("moved.txt")), "data");
  EXPECT_FALSE(fs::exists(file));

  Make("m/sub/inner.txt", "inner");
  EXPECT_TRUE(TFileTools::Move(Path("m"), Path("m2")));
  EXPECT_EQ(ReadFileText(Path("m2/sub/inner.txt")), "inner");

  std::string blocker = Make("blocker.txt", "blocker");
  EXPECT_FALSE(TFileTools::Move(Path("moved.txt"), blocker));
  EXPECT_EQ(ReadFileText(blocker), "blocker");
  EXPECT_EQ(ReadFileText(Path("moved.txt")), "data");
  EXPECT_FALSE(TFileTools::Move(Path("nothing"), Path("elsewhere")));
}

TEST_F(FileToolsTest, MoveAcrossFileSystemsCopiesAndRemovesTheSource) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system";
  std::string target = "/dev/shm/kelvo-filetools-" + std::to_string(::getpid());
  fs::remove_all(target);
  Make("x/a.txt", "a");
  Make("x/sub/b.txt", "b");
  TDateTime stamp{2015, 6, 1, 10, 20, 30, 0};
  ASSERT_TRUE(TFileTools::SetFileTime(Path("x/a.txt"), stamp));

  bool moved = TFileTools::Move(Path("x"), target);
  EXPECT_TRUE(moved);
  EXPECT_FALSE(fs::exists(Path("x")));
  EXPECT_EQ(ReadFileText(target + "/sub/b.txt"), "b");
  auto time = TFileTools::FileTime(target + "/a.txt");
  ASSERT_TRUE(time.has_value());
  EXPECT_EQ(*time, stamp);
  fs::remove_all(target);
}

TEST_F(FileToolsTest, CopyFileKeepsTimeAndHonoursFailIfExistsAndReadOnly) {
  std::string from = Make("src.txt", "source");
  TDateTime stamp{2012, 2, 29, 23, 59, 58, 0};
  ASSERT_TRUE(TFileTools::SetFileTime(from, stamp));
  std::string to = Path("dst.txt");
  TFileTools::CopyFile(from, to, true);
  EXPECT_EQ(ReadFileText(to), "source");
  EXPECT_EQ(TFileTools::FileTime(to), stamp);

  WriteFileText(to, "changed");
  std::string message = "Error copying " + from + " to " + to;
  EXPECT_EQ(FileErrorOf([&] { TFileTools::CopyFile(from, to, true); }), message);
  EXPECT_EQ(ReadFileText(to), "changed");
  TFileTools::CopyFile(from, to, false);
  EXPECT_EQ(ReadFileText(to), "source");

  WriteFileText(to, "protected");
  MakeReadOnly(to);
  EXPECT_EQ(FileErrorOf([&] { TFileTools::CopyFile(from, to, false); }), message);
  EXPECT_EQ(ReadFileText(to), "protected");

  std::string missing = Path("none.txt");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::CopyFile(missing, Path("y.txt"), false); }),
            "Error copying " + missing + " to " + Path("y.txt"));
  EXPECT_FALSE(fs::exists(Path("y.txt")));
}

TEST_F(FileToolsTest, CopyFolderCopiesAllEntriesIntoTheTarget) {
  Make("fav/Links/a.url", "a");
  Make("fav/News/Sport/b.url", "b");
  Make("fav/noext", "n");
  fs::create_directory(Path("fav/Empty"));
  TDateTime stamp{2010, 1, 2, 3, 4, 5, 0};
  ASSERT_TRUE(TFileTools::SetFileTime(Path("fav/News/Sport/b.url"), stamp));
  Make("backup/old.url", "kept");

  EXPECT_TRUE(TFileTools::CopyFolder(Path("fav/"), Path("backup"), true));
  EXPECT_EQ(ReadFileText(Path("backup/Links/a.url")), "a");
  EXPECT_EQ(ReadFileText(Path("backup/News/Sport/b.url")), "b");
  EXPECT_EQ(ReadFileText(Path("backup/noext")), "n");
  EXPECT_TRUE(fs::is_directory(Path("backup/Empty")));
  EXPECT_EQ(ReadFileText(Path("backup/old.url")), "kept");
  EXPECT_EQ(TFileTools::FileTime(Path("backup/News/Sport/b.url")), stamp);

  // A second copy overwrites; a missing target is created with its parents.
  WriteFileText(Path("fav/noext"), "new");
  EXPECT_TRUE(TFileTools::CopyFolder(Path("fav"), Path("backup"), false));
  EXPECT_EQ(ReadFileText(Path("backup/noext")), "new");
  EXPECT_TRUE(TFileTools::CopyFolder(Path("fav"), Path("deep/er/copy"), true));
  EXPECT_EQ(ReadFileText(Path("deep/er/copy/Links/a.url")), "a");

  EXPECT_FALSE(TFileTools::CopyFolder(Path("absent"), Path("t"), true));
  EXPECT_FALSE(fs::exists(Path("t")));
  // Copying into itself would never end.
  EXPECT_FALSE(TFileTools::CopyFolder(Path("fav"), Path("fav/inside"), true));
  EXPECT_FALSE(fs::exists(Path("fav/inside")));
  EXPECT_FALSE(TFileTools::CopyFolder(Path("fav"), Path("fav/"), true));
}

TEST_F(FileToolsTest, WriteUtf8TextWritesMarkAndCrLfLinesAtomically) {
  std::string file = Path("kv/value.txt");
  fs::create_directory(Path("kv"));
  TFileTools::WriteUtf8Text(file, "one\ntwo\r\nthree\rfour\xC3\xA9");
  EXPECT_EQ(ReadFileText(file), "\xEF\xBB\xBFone\r\ntwo\r\nthree\r\nfour\xC3\xA9\r\n");
  TFileTools::WriteUtf8Text(file, "");
  EXPECT_EQ(ReadFileText(file), "\xEF\xBB\xBF");
  TFileTools::WriteUtf8Text(file, "\n\n");
  EXPECT_EQ(ReadFileText(file), "\xEF\xBB\xBF\r\n\r\n");

  // The old content's permissions stay; nothing is left beside the file.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  TFileTools::WriteFileAtomically(file, "raw");
  EXPECT_EQ(ReadFileText(file), "raw");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("kv")), fs::directory_iterator()), 1);

  MakeReadOnly(file);
  EXPECT_EQ(FileErrorOf([&] { TFileTools::WriteFileAtomically(file, "new"); }),
            "Error writing file " + file);
  EXPECT_EQ(ReadFileText(file), "raw");
  std::string noFolder = Path("missing/value.txt");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::WriteUtf8Text(noFolder, "x"); }),
            "Error writing file " + noFolder);
  EXPECT_EQ(FileErrorOf([&] { TFileTools::WriteUtf8Text(Path("kv"), "x"); }),
            "Error writing file " + Path("kv"));
}

// ---------------------------------------------------------------------------
// Searching

TEST(FileToolsMask, WindowsWildcardRules) {
  struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"a.b", "*.*", true},
      {"nodot", "*.*", true},
      {".hidden", "*.*", true},
      {"Archive1", "Archive*.*", true},
      {"archive 2009 (12).XBEL", "Archive*.*", true},
      {"MyArchive.xbel", "Archive*.*", false},
      {"x.url", "*.url", true},
      {"x.URL", "*.url", true},
      {"x.url.txt", "*.url", false},
      {"xurl", "*.url", false},
      {"user@kelvo.com[1].txt", "*kelvo.com*.*", true},
      {"kelvo.com", "*kelvo.com*.*", true},
      {"user@other.com[1].txt", "*kelvo.com*.*", false},
      {"sidebar_old4711", "sidebar_old*", true},
      {"sidebar", "sidebar_old*", false},
      {"b.txt", "?.txt", true},
      {"\xC3\xA9.txt", "?.txt", true},  // one character, two bytes
      {"ab.txt", "?.txt", false},
      {"[1]", "[1]", true},
      {"1", "[1]", false},
      {"abcabd", "*abd", true},
      {"", "?", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TFileTools::MatchesMask(c.name, c.mask), c.matches)
        << c.name << " against " << c.mask;
  }
}

TEST_F(FileToolsTest, FindFilesFiltersRecursesAndReportsTheNewestTime) {
  Make("arch/Archive 2009-01-01 (10).xbel");
  Make("arch/Archive 2009-01-02 (11).HTML");
  Make("arch/Archive notes.txt");
  Make("arch/Other.xbel");
  Make("arch/sub/Archive deep.xbel");
  fs::create_directory(Path("arch/Archive folder.xbel"));
  TDateTime newest{2011, 5, 6, 7, 8, 9, 0};
  ASSERT_TRUE(TFileTools::SetFileTime(Path("arch/Archive 2009-01-01 (10).xbel"),
                                      TDateTime{2009, 1, 1, 0, 0, 0, 0}));
  ASSERT_TRUE(TFileTools::SetFileTime(Path("arch/Archive 2009-01-02 (11).HTML"), newest));

  TFindOptions options;
  options.extensions = {".html", ".xbel"};
  auto found = TFileTools::FindFiles(Path("arch"), "Archive*.*", options);
  EXPECT_EQ(found.paths, (std::vector<std::string>{Path("arch/Archive 2009-01-01 (10).xbel"),
                                                   Path("arch/Archive 2009-01-02 (11).HTML")}));
  EXPECT_TRUE(found.errors.empty());
  ASSERT_TRUE(found.newest.has_value());
  EXPECT_EQ(*found.newest, newest);

  options.recurse = true;
  found = TFileTools::FindFiles(Path("arch") + "/", "Archive*.*", options);
  EXPECT_EQ(found.paths.size(), 3u);
  EXPECT_EQ(found.paths.back(), Path("arch/sub/Archive deep.xbel"));

  TFindOptions folders;
  folders.kinds = TFindKinds::Folders;
  found = TFileTools::FindFiles(Path("arch"), "*", folders);
  EXPECT_EQ(found.paths, (std::vector<std::string>{Path("arch/Archive folder.xbel"),
                                                   Path("arch/sub")}));
  EXPECT_FALSE(found.newest.has_value());

  found = TFileTools::FindFiles(Path("no such folder"), "*.*");
  EXPECT_TRUE(found.paths.empty());
  EXPECT_TRUE(found.errors.empty());
}

TEST_F(FileToolsTest, FindFilesRaisesBeyondItsMaximum) {
  for (int i = 0; i < 100; ++i) Make("many/f" + std::to_string(i) + ".url");
  TFindOptions options;
  options.maximum = 100;
  EXPECT_EQ(TFileTools::FindFiles(Path("many"), "*.url", options).paths.size(), 100u);

  Make("many/f100.url");
  EXPECT_EQ(FileErrorOf([&] { TFileTools::FindFiles(Path("many"), "*.url", options); }),
            "Too many files in search");
  options.maximum = 0;
  EXPECT_EQ(TFileTools::FindFiles(Path("many"), "*.url", options).paths.size(), 101u);
}

TEST_F(FileToolsTest, FindFilesReportsUnreadableFoldersAndGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  Make("r/a.txt");
  Make("r/locked/b.txt");
  Make("r/z/c.txt");
  fs::permissions(Path("r/locked"), fs::perms::none, fs::perm_options::replace);
  TFindOptions options;
  options.recurse = true;
  auto found = TFileTools::FindFiles(Path("r"), "*.txt", options);
  fs::permissions(Path("r/locked"), fs::perms::owner_all, fs::perm_options::replace);
  EXPECT_EQ(found.paths, (std::vector<std::string>{Path("r/a.txt"), Path("r/z/c.txt")}));
  ASSERT_EQ(found.errors.size(), 1u);
  EXPECT_EQ(found.errors[0].rfind(Path("r/locked"), 0), 0u);
}

TEST_F(FileToolsTest, NewestFileAndFileTimes) {
  std::string a = Make("n/a.xbel");
  std::string b = Make("n/b.xbel");
  std::string c = Make("n/c.html");
  TDateTime older{2020, 3, 1, 12, 0, 0, 0};
  TDateTime newer{2020, 3, 2, 8, 30, 15, 0};
  ASSERT_TRUE(TFileTools::SetFileTime(a, newer));
  ASSERT_TRUE(TFileTools::SetFileTime(b, older));
  ASSERT_TRUE(TFileTools::SetFileTime(c, TDateTime{2024, 1, 1, 0, 0, 0, 0}));

  auto newest = TFileTools::NewestFile(Path("n"), "*.xbel");
  ASSERT_TRUE(newest.has_value());
  EXPECT_EQ(newest->path, a);
  EXPECT_EQ(newest->time, newer);
  EXPECT_FALSE(TFileTools::NewestFile(Path("n"), "*.txt").has_value());

  EXPECT_EQ(TFileTools::FileTime(b), older);
  EXPECT_FALSE(TFileTools::FileTime(Path("n")).has_value());
  EXPECT_FALSE(TFileTools::FileTime(Path("n/none")).has_value());
  EXPECT_FALSE(TFileTools::SetFileTime(Path("n"), older));
  EXPECT_FALSE(TFileTools::SetFileTime(Path("n/none"), older));
  EXPECT_FALSE(fs::exists(Path("n/none")));
  EXPECT_FALSE(TFileTools::SetFileTime(a, TDateTime{2020, 2, 30, 0, 0, 0, 0}));
  EXPECT_EQ(TFileTools::FileTime(a), newer);
}

TEST(FileToolsNames, IsXbelAndExtensions) {
  struct {
    const char* path;
    const char* ext;
    bool xbel;
  } cases[] = {
      {"/a/Archive (3).xbel", ".xbel", true},
      {"/a/B.XBEL", ".XBEL", true},
      {"/a/.xbel", ".xbel", true},
      {"/a/b.xbel.html", ".html", false},
      {"/a.xbel/file", "", false},
      {"/a/xbel", "", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TFileTools::ExtractFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(TFileTools::IsXbel(c.path), c.xbel) << c.path;
  }
}

TEST(FileToolsNames, SplitPathOnSlashRootedPaths) {
  using V = std::vector<std::string>;
  EXPECT_EQ(TFileTools::SplitPath("/a/b/c"), (V{"a", "b", "c"}));
  EXPECT_EQ(TFileTools::SplitPath("/News/"), (V{"News"}));
  EXPECT_EQ(TFileTools::SplitPath("/News//Sport and more/"), (V{"News", "Sport and more"}));
  EXPECT_EQ(TFileTools::SplitPath("/"), V{});
  EXPECT_EQ(TFileTools::SplitPath(""), V{});
  EXPECT_EQ(TFileTools::SplitPath("a/b"), V{});
  EXPECT_EQ(TFileTools::SplitPath("\\a\\b"), V{});
}

// ---------------------------------------------------------------------------
// Digests and cookies

TEST_F(FileToolsTest, FileMD5MatchesRfc1321AndTreatsUnreadableAsEmpty) {
  struct {
    const char* input;
    const char* digest;
  } vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  int i = 0;
  for (const auto& v : vectors) {
    std::string file = Make("md5/" + std::to_string(i++), v.input);
    EXPECT_EQ(TFileTools::FileMD5(file), v.digest) << '"' << v.input << '"';
    EXPECT_EQ(TFileTools::TextMD5(v.input), v.digest);
  }
  std::string empty = TFileTools::FileMD5(Make("md5/empty", ""));
  EXPECT_EQ(TFileTools::FileMD5(Path("md5/missing")), empty);
  EXPECT_EQ(TFileTools::FileMD5(Path("md5")), empty);
  // Bytes after a NUL count too.
  EXPECT_NE(TFileTools::FileMD5(Make("md5/nul", std::string("a\0b", 3))),
            TFileTools::FileMD5(Make("md5/a", "a")));
}

TEST_F(FileToolsTest, CookieValueTakesTheFirstFileWhoseFirstLineIsTheName) {
  Make("cookies/user@kelvo.com[1].txt", "session\nabc\nkelvo.com/\n");
  Make("cookies/sub/user@kelvo.com[2].txt", "rc\r\ncampaign42\r\nkelvo.com/\r\n");
  // Holds the name but not for this site.
  Make("cookies/user@other.com[1].txt", "rc\nwrong\n");
  // The name on a later line does not count.
  Make("cookies/user@kelvo.com[0].txt", "x\nrc\nwrong\n");

  EXPECT_EQ(TFileTools::CookieValue(Path("cookies"), "kelvo.com", "rc"), "campaign42");
  EXPECT_EQ(TFileTools::CookieValue(Path("cookies"), "kelvo.com", "session"), "abc");
  EXPECT_EQ(TFileTools::CookieValue(Path("cookies"), "kelvo.com", "absent"), "");
  EXPECT_EQ(TFileTools::CookieValue(Path("cookies"), "nosuch.org", "rc"), "");
  EXPECT_EQ(TFileTools::CookieValue(Path("no cookie folder"), "kelvo.com", "rc"), "");
  // A name line without a value line gives an empty value.
  Make("cookies2/kelvo.com.txt", "rc");
  EXPECT_EQ(TFileTools::CookieValue(Path("cookies2"), "kelvo.com", "rc"), "");
}

// ---------------------------------------------------------------------------
// Background delete

TEST_F(FileToolsTest, DeleteThreadDeletesTheFoldersCountsAndSignalsItsEnd) {
  Make("old1/a.js", std::string(100, 'a'));
  Make("old1/lib/b.js", std::string(250, 'b'));
  MakeReadOnly(Make("old1/lib/ro.js", std::string(7, 'r')));
  Make("old2/c.css", std::string(43, 'c'));
  Make("keep/d.txt", "d");

  std::atomic<int> hookCalls{0};
  std::atomic<std::int64_t> deletedSeenByHook{-1};
  std::atomic<int> registeredInHook{-1};
  auto progress = TFileDeleteThread::Start(
      {Path("old1"), Path("old2/"), Path("never existed")},
      [&](const TFileDeleteProgress& p) {
        ++hookCalls;
        deletedSeenByHook = p.Deleted();
        registeredInHook = TThreadRegistry::Count(TFileDeleteThread::kClassName);
      });
  ASSERT_TRUE(progress->WaitFinished(std::chrono::seconds(30)));

  EXPECT_TRUE(progress->Finished());
  EXPECT_EQ(hookCalls.load(), 1);
  EXPECT_EQ(deletedSeenByHook.load(), 4);
  // Still counted as live while its hook runs, gone once it finished.
  EXPECT_EQ(registeredInHook.load(), 1);
  EXPECT_EQ(progress->Total(), 4);
  EXPECT_EQ(progress->Deleted(), 4);
  EXPECT_EQ(progress->Failed(), 0);
  EXPECT_EQ(progress->DeletedBytes(), 100 + 250 + 7 + 43);
  EXPECT_FALSE(fs::exists(Path("old1")));
  EXPECT_FALSE(fs::exists(Path("old2")));
  EXPECT_EQ(ReadFileText(Path("keep/d.txt")), "d");
  EXPECT_EQ(TThreadRegistry::Count(TFileDeleteThread::kClassName), 0);
}

}  // namespace
}  // namespace kelvo
