// Every real shortcut file of the corpus: the URL it must give, and that
// writing a new URL into it keeps every other line byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "NodeTestSupport.h"
#include "TestHome.h"
#include "bookmarks/FileBookmark.h"
#include "bookmarks/UrlFile.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;

const std::string kUrlDir = std::string(KELVO_CORPUS_DIR) + "/url";

struct TExpected {
  std::string url;       // whole URL, or its start when length is set
  std::size_t length = 0;  // 0: url is the whole URL
};

// What each file must give. Long URLs are checked by start and length.
const std::map<std::string, TExpected>& Expected() {
  static const std::map<std::string, TExpected> table = {
      {"01-sgorain-Bing.url", {"http://go.microsoft.com/fwlink/p/?LinkId=255142"}},
      {"02-sgorain-SuggestedSites-11.url", {"https://ieonline.microsoft.com/#ieslice"}},
      // No URL key and no "URL=" line at all.
      {"03-sgorain-SuggestedSites-23-noURL.url", {""}},
      {"04-sgorain-SuggestedSites-18.url", {"https://ieonline.microsoft.com/#ieslice"}},
      {"05-sgorain-WEB-SLIC.URL", {"http://go.microsoft.com/fwlink/?LinkId=121315"}},
      {"06-sgorain-IE-Add-on-site.url", {"http://go.microsoft.com/fwlink/?LinkId=50893"}},
      {"07-lio68-Pochta.url", {"http://mail.yandex.ru/?win=163&clid=2101163"}},
      {"08-lio68-Internet-minimal.url",
       {"http://farsila.ru/?utm_source=favorites03&utm_content=558b955080c3520c5dd0ac544069e881"}},
      // cp1251 host bytes, kept as they are (not the UTF-7 ".W" value).
      {"09-lio68-IDN-cp1251-utf7.url", {"http://\xf0\xe5\xf8\xe5\xed\xee.\xf0\xf4/node/241"}},
      {"10-lio68-emdash-cp1251-utf7.url",
       {"http://www.rootfront.com/article/11570091/2014-01-03/speccy-\x97-informacija", 110}},
      {"11-lio68-mojibake-W.url",
       {"http://tiu.ru/lpg_dynamic/site1?phrase=\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb9\xd1\x81+", 288}},
      {"12-lio68-GitHub-Prop16-18.url", {"https://github.com/"}},
      {"13-lio68-many-DOC-sections.url",
       {"http://garayev.ru/kak-ispravit-oshibku-windows-slishkom-malo-virtualnoj-pamyati/"}},
      {"14-bj-empty-0-bytes.url", {""}},
      {"15-bj-long-url-1305.url", {"https://rosreestr.ru/wps/portal/p/cc_ib_ros_reestr/", 1305}},
      // BASEURL of "[DEFAULT]" comes first and names another site.
      {"16-bj-BASEURL-differs-HotKey.url", {"http://hybris1qa.posuda.mng:8080/ru/mock-order-status"}},
      {"17-bj-IDN-cp1251-noDEFAULT.url",
       {"http://\xed\xe0\xf8\xe0\xee\xf1\xed\xe0\xf1\xf2\xea\xe0.\xf0\xf4/frezernaja-osnastka/", 86}},
      {"18-bj-Prop19.url", {"https://www.avito.ru/sankt-peterburg/oborudovanie_dlya_biznesa/tiski_448500211"}},
      {"19-bj-cp1251-host-pct-path.url", {"http://\xf1\xf5\xe5\xec\xe0-\xe0\xe2\xf2\xee.\xf0\xf4/%D1%84", 222}},
      {"20-happysolver-Modified-HotKey.url", {"http://happysolver.sourceforge.net/"}},
      // Indented lines and trailing blanks.
      {"21-guanwang-indented-trailing-ws.url", {"http://www.df81.com/"}},
      {"22-sharedmimeinfo-test.url", {"http://www.foobar.co.uk/"}},
      {"23-grepwin-CRLF-noEOL.url", {"https://tools.stefankueng.com/"}},
      {"24-randomaccess3-blank-lines.url", {"https://google.com/"}},
      {"25-enginenine-ws-only-line.url", {"http://nine.codeplex.com"}},
      {"26-gabriel-firefox-shortcutCache.url", {"https://github.com/GabrielOnDelphi/ImageResamplerTest"}},
      {"27-ranch-cjk-name-HotKey.url", {"http://www.qqhelper.net/?lnk"}},
      {"28-koldbringer-Bing-pl.url", {"http://go.microsoft.com/fwlink/p/?LinkId=255142"}},
      // A bare URL line is no shortcut.
      {"29-dashidator-NOT-INI.url", {""}},
      {"30-kof97-BASEURL-other-site-Modified.url", {"http://www.66game.cn/"}},
      {"31-kof97-urldll-icon-trailing-q.url", {"http://www.1234a.cn/?"}},
  };
  return table;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kUrlDir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Lines with their endings, so that a comparison sees every byte.
std::vector<std::string> LinesWithEndings(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

void ExpectURL(const std::string& file, const std::string& url) {
  const TExpected& expected = Expected().at(file);
  if (expected.length == 0) {
    EXPECT_EQ(url, expected.url) << file;
  } else {
    EXPECT_EQ(url.substr(0, expected.url.size()), expected.url) << file;
    EXPECT_EQ(url.size(), expected.length) << file;
  }
}

class UrlCorpusTest : public test::NodeLogTest {};

TEST_F(UrlCorpusTest, EveryFileGivesItsShortcutURL) {
  const std::vector<std::string> files = CorpusFiles();
  ASSERT_EQ(files.size(), Expected().size()) << "a corpus file without its row, or a row without its file";
  for (const std::string& file : files) {
    ASSERT_TRUE(Expected().count(file)) << file;
    // Through the store, as the reader builds bookmarks.
    TFileBookmark bookmark(kUrlDir, file);
    ExpectURL(file, bookmark.GetURL());
    EXPECT_EQ(bookmark.GetName(), file.substr(0, file.size() - 4));
    EXPECT_EQ(bookmark.GetFeedURL(), "");
    EXPECT_EQ(bookmark.GetFlags(), 0u);
    EXPECT_EQ(bookmark.GetId(), -1);
  }
}

TEST_F(UrlCorpusTest, WritingANewURLKeepsEveryOtherLine) {
  for (const std::string& file : CorpusFiles()) {
    const std::string original = ReadFileText(kUrlDir + "/" + file);
    fs::path dir = home_->Path() / "w";
    fs::create_directories(dir);
    test::WriteFileText(dir / file, original);

    TFileBookmark bookmark(dir.string(), file);
    bookmark.SetURL("http://new.example/\xe9t\xe9");  // stray non-UTF-8 bytes too
    ASSERT_TRUE(bookmark.SaveToDisk(dir.string(), ~0u)) << file;
    // The bookmark's Name gives the file name: the same file, whatever the
    // case of its extension, unless the extension was not ".url".
    const fs::path written = dir / (bookmark.GetName() + ".url");
    const std::string text = ReadFileText(written);
    EXPECT_EQ(UrlFromUrlFileText(text), "http://new.example/\xe9t\xe9") << file;

    const std::vector<std::string> before = LinesWithEndings(written == dir / file ? original : std::string());
    const std::vector<std::string> after = LinesWithEndings(text);
    if (written != dir / file) {
      // "05-...URL": a new file of its own; the original stays untouched.
      EXPECT_EQ(ReadFileText(dir / file), original) << file;
    } else if (ReadIniValue(original, "InternetShortcut", "URL")) {
      // Exactly the URL line differs.
      ASSERT_EQ(after.size(), before.size()) << file;
      int differing = 0;
      for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        ++differing;
        EXPECT_NE(after[i].find("URL=http://new.example/"), std::string::npos) << file;
      }
      EXPECT_EQ(differing, 1) << file;
    } else {
      // The original lines all stay, in order (the last may gain an ending).
      std::size_t j = 0;
      for (std::size_t i = 0; i < before.size(); ++i) {
        while (j < after.size() && after[j].rfind(before[i], 0) != 0) ++j;
        EXPECT_LT(j, after.size()) << file << " lost line " << i;
        ++j;
      }
      // The URL line, and the section header when there was none.
      const bool hasSection = original.find("[InternetShortcut]") != std::string::npos;
      EXPECT_EQ(after.size(), before.size() + (hasSection ? 1 : 2)) << file;
    }
    fs::remove_all(dir);
  }
}

TEST_F(UrlCorpusTest, WritingTheSameURLBackChangesNothing) {
  for (const std::string& file : CorpusFiles()) {
    const std::string original = ReadFileText(kUrlDir + "/" + file);
    auto url = ReadIniValue(original, "InternetShortcut", "URL");
    if (!url) continue;
    const std::string again = SetUrlFileKeys(original, *url, "");
    EXPECT_EQ(again, original) << file;
  }
}

}  // namespace
}  // namespace kelvo
