#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "SidebarTestSupport.h"
#include "sidebar/FileAccess.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

class FileAccessTest : public SidebarTest {
 protected:
  void SetUp() override {
    SidebarTest::SetUp();
    TScriptFileAccess::ResetForTesting();
    sb_ = home_->Sub("sb") + "/";
    fs::create_directories(sb_);
  }
  void TearDown() override {
    TScriptFileAccess::ResetForTesting();
    SidebarTest::TearDown();
  }
  static constexpr std::int32_t kHandle = TScriptFileAccess::kFileHandle;
  std::string sb_;
};

TEST_F(FileAccessTest, ReadFileAnswersTheBytesOrLogsAMissingFile) {
  const std::string bytes("line1\r\n\x00\xFF" "end", 12);
  fs::create_directories(sb_ + "skins");
  WriteFileText(sb_ + "skins/a.css", bytes);
  EXPECT_EQ(TScriptFileAccess::ReadFile(sb_, "skins/a.css"), bytes);

  EXPECT_EQ(TScriptFileAccess::ReadFile(sb_, "skins/none.css"), std::nullopt);
  EXPECT_TRUE(Logged("readFile:file does not exist:" + sb_ + "skins/none.css"));
  // A folder is no file.
  EXPECT_EQ(TScriptFileAccess::ReadFile(sb_, "skins"), std::nullopt);
}

TEST_F(FileAccessTest, ReadDirListsEveryFileBelowTheFolder) {
  fs::create_directories(sb_ + "w/sub/deeper");
  fs::create_directories(sb_ + "w/emptydir");
  WriteFileText(sb_ + "w/b.txt", "");
  WriteFileText(sb_ + "w/a b.txt", "");
  WriteFileText(sb_ + "w/sub/c.js", "");
  WriteFileText(sb_ + "w/sub/deeper/d,e", "");
  EXPECT_EQ(TScriptFileAccess::ReadDir(sb_, "w"),
            "\"" + sb_ + "w/a b.txt\"," + sb_ + "w/b.txt," + sb_ + "w/sub/c.js,\"" + sb_ +
                "w/sub/deeper/d,e\"");
  EXPECT_EQ(TScriptFileAccess::ReadDir(sb_, "w/emptydir"), "");
  EXPECT_EQ(TScriptFileAccess::ReadDir(sb_, "missing"), "");
}

TEST_F(FileAccessTest, WritingCreatesMissingFoldersAndAppendsEachString) {
  for (const std::string separator : {"/", "\\"}) {
    const std::string base = home_->Sub("out" + std::string(separator == "/" ? "1" : "2"));
    const std::string path = base + separator + "one" + separator + "two" + separator + "f.txt";
    const std::int32_t handle = TScriptFileAccess::FileOpen(path, "write");
    EXPECT_EQ(handle, kHandle);
    EXPECT_NE(handle, 0);
    TScriptFileAccess::FileWriteString(handle, "x");
    // Flushed at once: another reader sees it before the close.
    EXPECT_EQ(ReadFileText(base + "/one/two/f.txt"), "x");
    TScriptFileAccess::FileWriteString(handle, "y");
    TScriptFileAccess::FileClose1(handle);
    EXPECT_EQ(ReadFileText(base + "/one/two/f.txt"), "xy") << separator;
  }
  // Any mode but "read" empties an existing file.
  const std::string path = home_->Sub("out1/one/two/f.txt");
  TScriptFileAccess::FileClose1(TScriptFileAccess::FileOpen(path, "append"));
  EXPECT_EQ(ReadFileText(path), "");
}

TEST_F(FileAccessTest, ReadsLinesWhateverTheirEnds) {
  const std::string path = home_->Sub("lines.txt");
  WriteFileText(path, "one\r\ntwo\nthree\rfour\r\n\r\nlast");
  const std::int32_t handle = TScriptFileAccess::FileOpen(path, "read");
  EXPECT_EQ(TScriptFileAccess::FileReadLines(handle, 2), "one\ntwo\n");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(handle), "three");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(handle), "four");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(handle), "");
  EXPECT_EQ(TScriptFileAccess::FileReadLines(handle, 5), "last\n");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(handle), std::nullopt);
  EXPECT_EQ(TScriptFileAccess::FileReadLines(handle, 2), std::nullopt);
  TScriptFileAccess::FileClose1(handle);

  WriteFileText(path, "a\nb\nc\n");
  const std::int32_t again = TScriptFileAccess::FileOpen(path, "read");
  EXPECT_EQ(TScriptFileAccess::FileReadLines(again, 2), "a\nb\n");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(again), "c");
  EXPECT_EQ(TScriptFileAccess::FileReadLine(again), std::nullopt);
  EXPECT_EQ(TScriptFileAccess::FileReadLines(again, 0), std::nullopt);
  TScriptFileAccess::FileClose1(again);
}

TEST_F(FileAccessTest, MisusedHandlesFail) {
  const std::string path = home_->Sub("f.txt");
  EXPECT_THROW(TScriptFileAccess::FileOpen(home_->Sub("missing.txt"), "read"), TKFileException);
  EXPECT_THROW(TScriptFileAccess::FileReadLine(kHandle), TKFileException);

  std::int32_t handle = TScriptFileAccess::FileOpen(path, "write");
  EXPECT_THROW(TScriptFileAccess::FileReadLine(handle), TKFileException);
  EXPECT_THROW(TScriptFileAccess::FileWriteString(handle + 1, "x"), TKFileException);
  TScriptFileAccess::FileClose1(handle);
  EXPECT_THROW(TScriptFileAccess::FileWriteString(handle, "x"), TKFileException);
  EXPECT_THROW(TScriptFileAccess::FileClose1(handle), TKFileException);

  handle = TScriptFileAccess::FileOpen(path, "read");
  EXPECT_THROW(TScriptFileAccess::FileWriteString(handle, "x"), TKFileException);
  TScriptFileAccess::FileClose1(handle);
  // A folder cannot be opened as a file in either direction.
  EXPECT_THROW(TScriptFileAccess::FileOpen(home_->Sub("sb"), "read"), TKFileException);
  EXPECT_THROW(TScriptFileAccess::FileOpen(home_->Sub("sb"), "write"), TKFileException);
}

TEST_F(FileAccessTest, ASecondOpenReplacesTheFirst) {
  const std::string first = home_->Sub("first.txt");
  const std::string second = home_->Sub("second.txt");
  WriteFileText(second, "from second\n");
  const std::int32_t a = TScriptFileAccess::FileOpen(first, "write");
  TScriptFileAccess::FileWriteString(a, "1");
  const std::int32_t b = TScriptFileAccess::FileOpen(second, "read");
  EXPECT_EQ(a, b);
  EXPECT_EQ(TScriptFileAccess::FileReadLine(b), "from second");
  EXPECT_EQ(ReadFileText(first), "1");
  TScriptFileAccess::FileClose1(b);
}

TEST_F(FileAccessTest, ExistsAndRename) {
  const std::string dir = home_->Sub("r");
  fs::create_directories(dir + "/sub");
  WriteFileText(dir + "/a.txt", "A");
  WriteFileText(dir + "/taken.txt", "T");
  EXPECT_TRUE(TScriptFileAccess::FileExists(dir + "/a.txt"));
  EXPECT_FALSE(TScriptFileAccess::FileExists(dir + "/sub"));
  EXPECT_FALSE(TScriptFileAccess::FileExists(dir + "/none"));
  EXPECT_FALSE(TScriptFileAccess::FileExists(""));

  TScriptFileAccess::FileRename(dir + "\\a.txt", "b.txt");
  EXPECT_FALSE(fs::exists(dir + "/a.txt"));
  EXPECT_EQ(ReadFileText(dir + "/b.txt"), "A");
  // Failures change nothing: an existing target, a missing source.
  TScriptFileAccess::FileRename(dir + "/b.txt", "taken.txt");
  EXPECT_EQ(ReadFileText(dir + "/b.txt"), "A");
  EXPECT_EQ(ReadFileText(dir + "/taken.txt"), "T");
  TScriptFileAccess::FileRename(dir + "/none.txt", "c.txt");
  EXPECT_FALSE(fs::exists(dir + "/c.txt"));
  // The new name may lead into a subfolder of the file's folder.
  TScriptFileAccess::FileRename(dir + "/b.txt", "sub/b.txt");
  EXPECT_EQ(ReadFileText(dir + "/sub/b.txt"), "A");
}

}  // namespace
}  // namespace kelvo::test
