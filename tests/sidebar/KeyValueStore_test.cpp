#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "SidebarTestSupport.h"
#include "foundation/Config.h"
#include "sidebar/KeyValueStore.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

class KeyValueStoreTest : public SidebarTest {
 protected:
  void SetUp() override {
    SidebarTest::SetUp();
    TKeyValueStore::ResetForTesting();
    folder_ = TConfig::AppDataPath() + "keyvalues/";
  }
  void TearDown() override {
    TKeyValueStore::ResetForTesting();
    SidebarTest::TearDown();
  }
  std::string Index() const { return ReadFileText(folder_ + "keys.txt"); }
  // As a new run of the agent would find the store.
  void Restart() {
    TKeyValueStore::ResetForTesting();
    TKeyValueStore::Open();
  }

  std::string folder_;
};

TEST_F(KeyValueStoreTest, NewKeysGetTheNextFreeFileNames) {
  TKeyValueStore::Open();
  EXPECT_TRUE(fs::is_directory(folder_));
  EXPECT_TRUE(TKeyValueStore::Set("first", "one"));
  EXPECT_TRUE(TKeyValueStore::Set("second", "two"));
  EXPECT_EQ(Index(), "first=val0000.cfg\r\nsecond=val0001.cfg\r\n");
  EXPECT_EQ(ReadFileText(folder_ + "val0000.cfg"), kBom + "one\r\n");
  EXPECT_EQ(ReadFileText(folder_ + "val0001.cfg"), kBom + "two\r\n");

  // Setting again keeps the file; only its content changes.
  EXPECT_TRUE(TKeyValueStore::Set("FIRST", "uno"));
  EXPECT_EQ(Index(), "first=val0000.cfg\r\nsecond=val0001.cfg\r\n");
  EXPECT_EQ(TKeyValueStore::Get("first"), "uno");

  // Nothing but the index and the value files is left in the folder.
  int entries = 0;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    ++entries;
    EXPECT_TRUE(entry.path().filename() == "keys.txt" ||
                entry.path().filename().string().rfind("val", 0) == 0)
        << entry.path();
  }
  EXPECT_EQ(entries, 3);
}

TEST_F(KeyValueStoreTest, AllocationSkipsEveryFormFoundInTheIndex) {
  ASSERT_TRUE(TKeyValueStore::Set("a", "1"));        // val0000
  ASSERT_TRUE(TKeyValueStore::Set("b0002", "2"));    // val0001; its key holds 0002
  ASSERT_TRUE(TKeyValueStore::Set("c", "3"));
  EXPECT_EQ(TKeyValueStore::FindValueFile("c", false), folder_ + "val0003.cfg");

  // A longer hexadecimal run holds every four-digit form inside it.
  ASSERT_TRUE(TKeyValueStore::Set("x0004000500", "4"));  // val0004; now 0004, 0005 held
  ASSERT_TRUE(TKeyValueStore::Set("d", "5"));
  EXPECT_EQ(TKeyValueStore::FindValueFile("x0004000500", false), folder_ + "val0004.cfg");
  EXPECT_EQ(TKeyValueStore::FindValueFile("d", false), folder_ + "val0006.cfg");

  // A deleted key frees its file name for the next new key.
  ASSERT_TRUE(TKeyValueStore::Delete("a"));
  ASSERT_TRUE(TKeyValueStore::Set("e", "7"));
  EXPECT_EQ(TKeyValueStore::FindValueFile("e", false), folder_ + "val0000.cfg");
}

TEST_F(KeyValueStoreTest, ValuesReadBackTrimmedAndCaseInsensitively) {
  ASSERT_TRUE(TKeyValueStore::Set("Theme", "  dark\t \r\n"));
  EXPECT_EQ(TKeyValueStore::Get("theme"), "dark");
  EXPECT_EQ(TKeyValueStore::Get("THEME"), "dark");
  ASSERT_TRUE(TKeyValueStore::Set("theme", "light"));
  EXPECT_EQ(TKeyValueStore::Get("Theme"), "light");
  EXPECT_EQ(Index(), "Theme=val0000.cfg\r\n");

  // Inner line ends come back as CR LF, UTF-8 unchanged.
  ASSERT_TRUE(TKeyValueStore::Set("lines", "a\nb\r\nc\xC3\xA9"));
  EXPECT_EQ(ReadFileText(folder_ + "val0001.cfg"), kBom + "a\r\nb\r\nc\xC3\xA9\r\n");
  EXPECT_EQ(TKeyValueStore::Get("lines"), "a\r\nb\r\nc\xC3\xA9");

  EXPECT_EQ(TKeyValueStore::Get("never-set"), "");
  // A value file that went missing reads as "".
  fs::remove(folder_ + "val0001.cfg");
  EXPECT_EQ(TKeyValueStore::Get("lines"), "");

  // All of it survives a new run.
  Restart();
  EXPECT_EQ(TKeyValueStore::Get("theme"), "light");
}

TEST_F(KeyValueStoreTest, AgentAnswersTheSpecialKeys) {
  const char* old = std::getenv("LC_ALL");
  std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ASSERT_TRUE(TKeyValueStore::Set("sidebarMivaAuthToken", "stored"));

  setenv("LC_ALL", "fr_FR.UTF-8", 1);
  EXPECT_EQ(TKeyValueStore::Get("sidebarCountryCode"), "FR");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(TKeyValueStore::Get("sidebarCountryCode"), "US");
  EXPECT_EQ(TKeyValueStore::Get("sidebarMivaAuthToken"), "TRW4MZPX8");
  EXPECT_EQ(TKeyValueStore::Get("sidebarIpAddress"), TKeyValueStore::kIpAddress);
  EXPECT_EQ(TKeyValueStore::List("sidebarMiva"), R"({"sidebarMivaAuthToken":"TRW4MZPX8"})");

  if (saved) setenv("LC_ALL", saved->c_str(), 1);
  else unsetenv("LC_ALL");
}

TEST_F(KeyValueStoreTest, ValuesOverTheLimitReadAsEmptyWithAWarning) {
  // The limit counts characters, not bytes.
  std::string wide;
  for (int i = 0; i < 500001; ++i) wide += "\xC3\xA9";
  ASSERT_TRUE(TKeyValueStore::Set("wide", wide));
  EXPECT_EQ(TKeyValueStore::Get("wide"), wide);

  ASSERT_TRUE(TKeyValueStore::Set("big", std::string(TKeyValueStore::kMaxValueLength - 2, 'x')));
  EXPECT_EQ(TKeyValueStore::Get("big").size(), TKeyValueStore::kMaxValueLength - 2);
  // With its final CR LF the text is now one character over.
  ASSERT_TRUE(TKeyValueStore::Set("big", std::string(TKeyValueStore::kMaxValueLength - 1, 'x')));
  EXPECT_EQ(TKeyValueStore::Get("big"), "");
  EXPECT_TRUE(Logged("GetKeyValue(big) Filename=" + folder_ + "val0001.cfg size=1000001 "
                     "returning empty (content too big)"));
}

TEST_F(KeyValueStoreTest, ValueFilesHonourTheirByteOrderMark) {
  fs::create_directories(folder_);
  WriteFileText(folder_ + "keys.txt",
                "le=le.cfg\r\nbe=be.cfg\r\nplain=plain.cfg\nodd=odd.cfg\rbinary=binary.cfg\r\n"
                "lone=lone.cfg\r\n");
  // "é€" and a character outside the basic plane, in three encodings.
  WriteFileText(folder_ + "le.cfg", std::string("\xFF\xFE\xE9\x00\xAC\x20\x3D\xD8\x00\xDE\r\x00\n\x00", 14));
  WriteFileText(folder_ + "be.cfg", std::string("\xFE\xFF\x00\xE9\x20\xAC\xD8\x3D\xDE\x00", 10));
  WriteFileText(folder_ + "plain.cfg", " \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 \r\n");
  // Damaged content: an odd byte count, binary bytes, an unpaired surrogate.
  WriteFileText(folder_ + "odd.cfg", std::string("\xFF\xFE" "A\x00" "B", 5));
  WriteFileText(folder_ + "binary.cfg", std::string("\x00\x01\xFFzz\x80\x00", 7));
  WriteFileText(folder_ + "lone.cfg", std::string("\xFF\xFE\x00\xD8" "A\x00", 6));

  Restart();
  const std::string expected = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(TKeyValueStore::Get("le"), expected);
  EXPECT_EQ(TKeyValueStore::Get("be"), expected);
  EXPECT_EQ(TKeyValueStore::Get("plain"), expected);
  EXPECT_EQ(TKeyValueStore::Get("odd"), "A");
  EXPECT_EQ(TKeyValueStore::Get("binary"), "\xFFzz\x80");
  EXPECT_EQ(TKeyValueStore::Get("lone"), "\xEF\xBF\xBD" "A");
}

TEST_F(KeyValueStoreTest, DamagedIndexLinesNeverReachOutsideTheFolder) {
  fs::create_directories(folder_);
  WriteFileText(home_->Sub("outside.txt"), "secret");
  WriteFileText(folder_ + "keys.txt",
                kBom + "good=val0000.cfg\r\nno separator line\r\nescape=../../../outside.txt\r\n"
                       "abs=/etc/hostname\r\ndot=..\r\n=val0001.cfg\r\n" +
                    std::string("\x00\x01garbage\xFF", 10) + "\r\n");
  WriteFileText(folder_ + "val0000.cfg", kBom + "kept\r\n");

  Restart();
  EXPECT_EQ(TKeyValueStore::Get("good"), "kept");
  EXPECT_EQ(TKeyValueStore::Get("escape"), "");
  EXPECT_EQ(TKeyValueStore::Get("abs"), "");
  EXPECT_EQ(TKeyValueStore::Get("dot"), "");
  EXPECT_EQ(TKeyValueStore::Get("no separator line"), "");

  // Deleting or setting such a key leaves the outside file alone.
  EXPECT_TRUE(TKeyValueStore::Delete("escape"));
  EXPECT_TRUE(TKeyValueStore::Set("escape", "new"));
  EXPECT_EQ(ReadFileText(home_->Sub("outside.txt")), "secret");
  auto path = TKeyValueStore::FindValueFile("escape", false);
  ASSERT_TRUE(path);
  EXPECT_EQ(fs::path(*path).parent_path(), fs::path(folder_).parent_path());
  EXPECT_EQ(TKeyValueStore::Get("escape"), "new");

  // The other lines are kept when the index is rewritten.
  const std::string index = Index();
  EXPECT_NE(index.find("no separator line\r\n"), std::string::npos);
  EXPECT_NE(index.find("abs=/etc/hostname\r\n"), std::string::npos);
  EXPECT_NE(index.find(std::string("\x00\x01garbage\xFF", 10)), std::string::npos);
  EXPECT_EQ(index.rfind(kBom, 0), std::string::npos);
}

TEST_F(KeyValueStoreTest, AChangeBeforeOpenKeepsTheStoredIndex) {
  fs::create_directories(folder_);
  WriteFileText(folder_ + "keys.txt", "old=val0000.cfg\r\n");
  WriteFileText(folder_ + "val0000.cfg", kBom + "still here\r\n");
  ASSERT_TRUE(TKeyValueStore::Set("new", "value"));
  EXPECT_EQ(Index(), "old=val0000.cfg\r\nnew=val0001.cfg\r\n");
  EXPECT_EQ(TKeyValueStore::Get("old"), "still here");
}

TEST_F(KeyValueStoreTest, DeleteRemovesFileAndEntryAndAnswersTrueForUnknownKeys) {
  ASSERT_TRUE(TKeyValueStore::Set("a", "1"));
  ASSERT_TRUE(TKeyValueStore::Set("b", "2"));
  const std::string before = Index();
  EXPECT_TRUE(TKeyValueStore::Delete("nothing"));
  EXPECT_EQ(Index(), before);

  EXPECT_TRUE(TKeyValueStore::Delete("A"));
  EXPECT_FALSE(fs::exists(folder_ + "val0000.cfg"));
  EXPECT_EQ(Index(), "b=val0001.cfg\r\n");
  EXPECT_EQ(TKeyValueStore::Get("a"), "");

  // An entry whose file is gone already can still be removed.
  fs::remove(folder_ + "val0001.cfg");
  EXPECT_TRUE(TKeyValueStore::Delete("b"));
  EXPECT_EQ(Index(), "");
}

TEST_F(KeyValueStoreTest, FailuresAreReportedAndKeepTheEntry) {
  ASSERT_TRUE(TKeyValueStore::Set("locked", "1"));
  // A read-only value file refuses both deletion and rewriting.
  fs::permissions(folder_ + "val0000.cfg", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(TKeyValueStore::Delete("locked"));
  EXPECT_TRUE(Logged("TKeyValueStore.Delete:locked"));
  EXPECT_FALSE(TKeyValueStore::Set("locked", "2"));
  EXPECT_EQ(TKeyValueStore::Get("locked"), "1");
  EXPECT_EQ(Index(), "locked=val0000.cfg\r\n");

  // A value file that cannot be created leaves its new entry in place.
  fs::create_directories(folder_ + "val0001.cfg");
  EXPECT_FALSE(TKeyValueStore::Set("blocked", "x"));
  EXPECT_EQ(Index(), "locked=val0000.cfg\r\nblocked=val0001.cfg\r\n");
  EXPECT_TRUE(Logged("TKeyValueStore.Set:blocked"));
  EXPECT_THROW(TKeyValueStore::Get("blocked"), TKFileException);
}

TEST_F(KeyValueStoreTest, KeysThatAnIndexLineCannotHoldAreRefused) {
  ASSERT_TRUE(TKeyValueStore::Set("y", "mine"));
  for (const std::string& key : {std::string("a=b"), std::string("x\r\ny"), std::string("x\ny"), std::string("n\0ul", 4)}) {
    EXPECT_THROW(TKeyValueStore::Set(key, "theirs"), TKeyValueException) << key;
    EXPECT_EQ(TKeyValueStore::Get(key), "");
    EXPECT_TRUE(TKeyValueStore::Delete(key));
  }
  EXPECT_EQ(Index(), "y=val0000.cfg\r\n");
  Restart();
  EXPECT_EQ(TKeyValueStore::Get("y"), "mine");
  // An empty key is an ordinary one.
  ASSERT_TRUE(TKeyValueStore::Set("", "empty"));
  EXPECT_EQ(TKeyValueStore::Get(""), "empty");
}

TEST_F(KeyValueStoreTest, SkinAlsoChangesTheConfiguredSkin) {
  ASSERT_TRUE(TKeyValueStore::Set("skin", "pink"));
  EXPECT_EQ(TConfig::GetSkin(), "pink");
  EXPECT_EQ(TKeyValueStore::Get("skin"), "pink");
}

TEST_F(KeyValueStoreTest, ListMatchesThePrefixAtTheStartOfTheKey) {
  ASSERT_TRUE(TKeyValueStore::Set("sidebarRelease", "1.2"));
  ASSERT_TRUE(TKeyValueStore::Set("mySidebar", "no"));
  ASSERT_TRUE(TKeyValueStore::Set("sidebarNote", "say \"hi\"/now"));
  EXPECT_EQ(TKeyValueStore::List("sidebar"),
            R"({"sidebarRelease":"1.2","sidebarNote":"say \"hi\"\/now"})");
  EXPECT_EQ(TKeyValueStore::List(""), "{}");
  EXPECT_EQ(TKeyValueStore::List("zzz"), "{}");
}

TEST_F(KeyValueStoreTest, NoDataFolderNoStore) {
  TConfig::ResetForTesting();
  TKeyValueStore::ResetForTesting();
  EXPECT_THROW(TKeyValueStore::Set("a", "b"), TKeyValueException);
  EXPECT_THROW(TKeyValueStore::Get("a"), TKeyValueException);
  EXPECT_FALSE(TKeyValueStore::Delete("a"));
}

}  // namespace
}  // namespace kelvo::test
