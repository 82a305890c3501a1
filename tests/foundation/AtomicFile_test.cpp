#include "foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestHome.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  test::TTestHome home_;
  std::string Path(const std::string& name) const { return home_.Sub(name); }
};

// Nothing but the target is left in the folder: no temporary file survives.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(AtomicFileTest, CreatesParentsAndReplacesContentLeavingNoTemporary) {
  std::string path = Path("a/b/c/file.xbel");
  WriteFileAtomic(path, std::string("first\0bytes", 11));
  EXPECT_EQ(test::ReadFileText(path), std::string("first\0bytes", 11));
  WriteFileAtomic(path, "second");
  EXPECT_EQ(test::ReadFileText(path), "second");
  WriteFileAtomic(path, "");
  EXPECT_EQ(test::ReadFileText(path), "");
  EXPECT_EQ(Names(Path("a/b/c")), std::vector<std::string>{"file.xbel"});
}

TEST_F(AtomicFileTest, FailuresRaiseAndKeepTheOldContent) {
  // A folder in the way of the target.
  fs::create_directories(Path("dir/sub"));
  EXPECT_THROW(WriteFileAtomic(Path("dir/sub"), "x"), TKFileException);
  // A file in the way of the parent folder.
  test::WriteFileText(Path("plain"), "keep");
  try {
    WriteFileAtomic(Path("plain/child.xml"), "x");
    FAIL() << "no exception";
  } catch (const TKException& e) {
    EXPECT_NE(e.Message().find("plain"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(test::ReadFileText(Path("plain")), "keep");
  EXPECT_THROW(WriteFileAtomic("", "x"), TKFileException);
}

}  // namespace
}  // namespace kelvo
