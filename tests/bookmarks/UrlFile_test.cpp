// The shortcut-file reader and writer: INI lookups as Windows does them, the
// URL rule, and writing that keeps everything but the two keys.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestHome.h"
#include "bookmarks/UrlFile.h"

namespace kelvo {
namespace {

using test::ReadFileText;
using test::TTestHome;
using test::WriteFileText;

TEST(UrlFileRead, IniLookupsFollowWindowsRules) {
  struct TCase {
    const char* text;
    const char* section;
    const char* key;
    const char* expected;  // nullptr: not found
  };
  const TCase cases[] = {
      {"[InternetShortcut]\r\nURL=http://a/\r\n", "InternetShortcut", "URL", "http://a/"},
      {"[internetshortcut]\nurl=http://a/\n", "InternetShortcut", "URL", "http://a/"},
      {"  [ InternetShortcut ]  \n   URL  =   http://a/   \n", "InternetShortcut", "URL", "http://a/"},
      {"[InternetShortcut]\rIconIndex=1\rURL=http://cr/\r", "InternetShortcut", "URL", "http://cr/"},
      {"[InternetShortcut]\nURL=first\nURL=second\n", "InternetShortcut", "URL", "first"},
      {"[InternetShortcut]\nURL=\nIDList=\n", "InternetShortcut", "URL", ""},
      {"URL=outside\n[InternetShortcut]\nIconIndex=0\n", "InternetShortcut", "URL", nullptr},
      {"[DEFAULT]\nURL=other\n[InternetShortcut]\nIDList=\n", "InternetShortcut", "URL", nullptr},
      {"[InternetShortcut.W]\nURL=wide\n", "InternetShortcut", "URL", nullptr},
      {"[InternetShortcut]\nBASEURL=x\nMyURL=y\n", "InternetShortcut", "URL", nullptr},
      {"[InternetShortcut]\nURL=a=b=c\n", "InternetShortcut", "URL", "a=b=c"},
      {"[InternetShortcut", "InternetShortcut", "URL", nullptr},
      {"", "InternetShortcut", "URL", nullptr},
  };
  for (const TCase& c : cases) {
    auto value = ReadIniValue(c.text, c.section, c.key);
    if (c.expected == nullptr) {
      EXPECT_FALSE(value.has_value()) << c.text;
    } else {
      ASSERT_TRUE(value.has_value()) << c.text;
      EXPECT_EQ(*value, c.expected) << c.text;
    }
  }
}

TEST(UrlFileRead, UrlComesFromTheShortcutSectionAndFallsBackOnlyWithoutIt) {
  struct TCase {
    const char* text;
    const char* expected;
  };
  const TCase cases[] = {
      // A BASEURL that comes first is another site; the shortcut's own URL wins.
      {"[DEFAULT]\nBASEURL=http://a/\n[InternetShortcut]\nURL=http://b/\n", "http://b/"},
      {"[InternetShortcut]\nBASEURL=http://a/\nURL=http://b/\n", "http://b/"},
      // An empty URL key is the file's answer, not a reason to take BASEURL.
      {"[DEFAULT]\nBASEURL=http://a/\n[InternetShortcut]\nURL=\n", ""},
      // Without the key: the first line holding "URL=" with something after it.
      {"[DEFAULT]\nBASEURL=http://a/\n", "http://a/"},
      {"URL=\nxURL=http://c/ \n", "http://c/ "},
      {"http://not-ini/\n", ""},
      {"", ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(UrlFromUrlFileText(c.text), c.expected) << c.text;
}

TEST(UrlFileWrite, ChangesOnlyTheTwoKeys) {
  struct TCase {
    const char* text;
    const char* url;
    const char* feed;
    const char* expected;
  };
  const TCase cases[] = {
      // In place, every other line and ending kept.
      {"[DEFAULT]\r\nBASEURL=x\r\n[InternetShortcut]\r\nURL=old\r\nIconIndex=1\r\n[X]\r\nURL=keep\r\n", "new", "",
       "[DEFAULT]\r\nBASEURL=x\r\n[InternetShortcut]\r\nURL=new\r\nIconIndex=1\r\n[X]\r\nURL=keep\r\n"},
      {"[InternetShortcut]\n    url = old  \nIDList=\n", "new", "", "[InternetShortcut]\n    URL=new\nIDList=\n"},
      {"[InternetShortcut]\rURL=old\r", "new", "", "[InternetShortcut]\rURL=new\r"},
      // A missing key goes after the section's last non-blank line.
      {"[InternetShortcut]\r\nIconIndex=1\r\n\r\n[Other]\r\nA=1", "u", "f",
       "[InternetShortcut]\r\nIconIndex=1\r\nURL=u\r\nFeedURL=f\r\n\r\n[Other]\r\nA=1"},
      // The last line without an ending gets one before the new line.
      {"[InternetShortcut]\nIconIndex=1", "u", "", "[InternetShortcut]\nIconIndex=1\nURL=u\n"},
      // An existing FeedURL stays when there is none to write; replaced otherwise.
      {"[InternetShortcut]\nURL=a\nFeedURL=oldfeed\n", "b", "", "[InternetShortcut]\nURL=b\nFeedURL=oldfeed\n"},
      {"[InternetShortcut]\nURL=a\nFeedURL=oldfeed\n", "b", "nf", "[InternetShortcut]\nURL=b\nFeedURL=nf\n"},
      // A missing section is appended; the new lines take the file's ending.
      {"[DEFAULT]\nBASEURL=x", "u", "", "[DEFAULT]\nBASEURL=x\n[InternetShortcut]\nURL=u\n"},
      {"", "u", "", "[InternetShortcut]\r\nURL=u\r\n"},
      {"http://not-ini/\n", "u", "", "http://not-ini/\n[InternetShortcut]\nURL=u\n"},
      // Only the first section of that name is written.
      {"[InternetShortcut]\nURL=a\n[InternetShortcut]\nURL=z\n", "b", "", "[InternetShortcut]\nURL=b\n[InternetShortcut]\nURL=z\n"},
      // A value never adds lines.
      {"[InternetShortcut]\nURL=a\n", "http://x/\r\n[Evil]\nK=v", "", "[InternetShortcut]\nURL=http://x/%0D%0A[Evil]%0AK=v\n"},
      // Non-UTF-8 bytes pass through, in the kept lines and in the value.
      {"[DEFAULT]\nBASEURL=http://\xf0\xe5.\xf0\xf4/\n[InternetShortcut]\nURL=a\n", "http://\xed\xe0/", "",
       "[DEFAULT]\nBASEURL=http://\xf0\xe5.\xf0\xf4/\n[InternetShortcut]\nURL=http://\xed\xe0/\n"},
  };
  for (const TCase& c : cases) {
    const std::string written = SetUrlFileKeys(c.text, c.url, c.feed);
    EXPECT_EQ(written, c.expected) << c.text;
    const std::string url = c.url;
    if (url.find_first_of("\r\n") == std::string::npos) {
      EXPECT_EQ(UrlFromUrlFileText(written), url) << c.text;
    }
  }
}

TEST(UrlFileWrite, MergesIntoTheExistingFileAndReplacesItWhole) {
  TTestHome home;
  const std::string path = home.Sub("Favorites/News/a.url");
  // Missing folders are created.
  WriteUrlFile(path, "http://one/", "");
  EXPECT_EQ(ReadFileText(path), "[InternetShortcut]\r\nURL=http://one/\r\n");

  WriteFileText(path, "[{GUID}]\nProp3=19,2\n[InternetShortcut]\nURL=http://one/\nHotKey=0\n");
  WriteUrlFile(path, "http://two/", "http://feed/");
  EXPECT_EQ(ReadFileText(path),
            "[{GUID}]\nProp3=19,2\n[InternetShortcut]\nURL=http://two/\nHotKey=0\nFeedURL=http://feed/\n");
  // Nothing is left beside it.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.Sub("Favorites/News"))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(UrlFileWrite, AFileThatCannotBeReadIsLeftAlone) {
  TTestHome home;
  // Larger than any shortcut: rewriting it from a partial read would lose data.
  const std::string path = home.Sub("big.url");
  const std::string big = "[InternetShortcut]\nURL=a\n" + std::string(kUrlFileMaxSize, 'x');
  WriteFileText(path, big);
  try {
    WriteUrlFile(path, "http://new/", "");
    FAIL() << "no exception";
  } catch (const TIEToolsException& e) {
    EXPECT_EQ(std::string(e.Message()).rfind("Error writing bookmark file:", 0), 0u) << e.Message();
  }
  EXPECT_EQ(ReadFileText(path), big);

  // A directory in the file's place.
  std::filesystem::create_directories(home.Sub("dir.url"));
  EXPECT_THROW(WriteUrlFile(home.Sub("dir.url"), "http://new/", ""), TIEToolsException);
  EXPECT_TRUE(std::filesystem::is_directory(home.Sub("dir.url")));
}

TEST(UrlFileRead, SmallFileReaderRefusesLargeAndMissingFiles) {
  TTestHome home;
  WriteFileText(home.Sub("exact"), std::string(100, 'a'));
  EXPECT_EQ(ReadSmallFile(home.Sub("exact"), 100).value_or("?").size(), 100u);
  std::string reason;
  EXPECT_FALSE(ReadSmallFile(home.Sub("exact"), 99, &reason).has_value());
  EXPECT_EQ(reason, "is too large");
  EXPECT_FALSE(ReadSmallFile(home.Sub("missing"), 99, &reason).has_value());
  EXPECT_EQ(reason, "cannot be opened");
  EXPECT_EQ(ReadSmallFile(home.Sub("empty-missing"), 0).has_value(), false);
  WriteFileText(home.Sub("empty"), "");
  EXPECT_EQ(ReadSmallFile(home.Sub("empty"), 0).value_or("?"), "");
}

}  // namespace
}  // namespace kelvo
