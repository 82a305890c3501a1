// Randomized scripts against the script processor: structured scripts with
// hostile values, then the same scripts damaged byte by byte. Whatever
// comes in, the answer is a client-actions document and the stored links
// stay consistent (every link that needs an id has one, no id twice).
// Meant to run under the sanitizers as well.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "LinkRecords.h"
#include "LinkStore.h"
#include "ScriptProcessor.h"
#include "TestHome.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Log.h"
#include "foundation/XmlTools.h"

namespace kelvo::test {
namespace {

class TScriptGenerator {
 public:
  explicit TScriptGenerator(unsigned seed) : random_(seed) {}

  std::string Script() {
    std::string out = "<server-script version=\"1.0\">";
    out += "<context><user-id>" + Pick(kUserIds) + "</user-id>";
    if (Chance(3)) out += "<sync-id>" + Pick(kSyncIds) + "</sync-id>";
    out += "</context>";
    const int actions = Below(6);
    for (int i = 0; i < actions; ++i) out += Action();
    return out + "</server-script>";
  }

  // The text with a few random bytes changed, inserted or cut.
  std::string Damage(std::string text) {
    const int edits = 1 + Below(4);
    for (int i = 0; i < edits && !text.empty(); ++i) {
      const std::size_t at = static_cast<std::size_t>(Below(static_cast<int>(text.size())));
      switch (Below(4)) {
        case 0:
          text[at] = static_cast<char>(Below(256));
          break;
        case 1:
          text.insert(at, 1, "<>&\"'/\\:\x80\xff"[Below(11)]);
          break;
        case 2:
          text.erase(at, static_cast<std::size_t>(Below(8)));
          break;
        default:
          text.resize(at);
          break;
      }
    }
    return text;
  }

 private:
  inline static const std::vector<std::string> kUserIds = {
      "bob:pw", "bob:pw", "bob:other", "ann:x:y", "", "bob", ":pw"};
  inline static const std::vector<std::string> kSyncIds = {"", "0", "abc",
                                                           "cfcd208495d565ef66e7dff9f98764da"};

  std::string Path() {
    switch (Below(10)) {
      case 0:
        return "";
      case 1:
        return "/";
      case 2:
        return "//";
      case 3:
        return "no-slash";
      case 4:
        return "/PERSONAL_BOOKMARK_FOLDER/Tools";
      case 5:
        return "/a\\/b/c\\\\";
      case 6:
        return "/$pub/" + std::to_string(Below(50));
      case 7: {
        std::string deep;
        const int depth = Chance(4) ? 1500 : 1 + Below(20);
        for (int i = 0; i < depth; ++i) deep += "/d";
        return deep;
      }
      default:
        return "/" + Pick(kNames) + (Chance(2) ? "/" + Pick(kNames) : "");
    }
  }
  std::string Attr(const char* name, const std::string& value) {
    return Chance(5) ? std::string() : std::string(" ") + name + "=\"" + value + "\"";
  }
  std::string Link(const char* element) {
    std::string out = std::string("<") + element + Attr("path", Path());
    if (Chance(2)) out += Attr("title", Pick(kNames));
    if (Chance(2)) out += Attr("url", Pick(kUrls));
    if (Chance(3)) out += Attr("id", Pick(kIds));
    if (Chance(6)) out += Attr("private", Chance(2) ? "CLIENT" : "server");
    if (Chance(8)) out += Attr("rank", Pick(kIds));
    return out + "/>";
  }
  std::string Action() {
    switch (Below(12)) {
      case 0:
        return "<connect" + Attr("sync-id", Pick(kSyncIds)) + "/>";
      case 1:
        return "<load-all-links" + Attr("client-area", "/sync-area/x") + "/>";
      case 2:
        return "<load-all-xlinks" + Attr("path", Path()) + "/>";
      case 3:
      case 4: {
        std::string out =
            "<save-all-links" + Attr("mode", Chance(2) ? "REPLACE" : Pick(kModes)) + ">";
        const int links = Below(8);
        for (int i = 0; i < links; ++i) out += Link("link");
        return out + "</save-all-links>";
      }
      case 5: {
        std::string out = "<save-all-xlinks" + Attr("mode", Pick(kModes)) + ">";
        const int links = Below(4);
        for (int i = 0; i < links; ++i) {
          out += "<link" + Attr("path", Path()) + Attr("ref", ":" + Pick(kIds)) + "/>";
        }
        return out + "</save-all-xlinks>";
      }
      case 6: {
        std::string out = "<update-link>";
        if (Chance(6) != 0) out += Link("old-link");
        if (Chance(6) != 0) out += Link("new-link");
        return out + "</update-link>";
      }
      case 7:
        return "<remove-link" + Attr("path", Path()) + Attr("url", Pick(kUrls)) +
               Attr("title", Pick(kNames)) + "/>";
      case 8:
        return "<add-xlink" + Attr("ref", Pick(kIds)) + Attr("path", Path()) + "/>";
      case 9:
        return "<remove-xlink" + Attr("ref", Pick(kIds)) + Attr("path", Path()) + "/>";
      case 10:
        return "<change-login-password" + Attr("login", Chance(2) ? "bob" : "eve") +
               Attr("password", Chance(2) ? "pw" : "") + "/>";
      default:
        return Chance(3) ? "<uninstall remove-user-account=\"true\"/>"
                         : "<unknown-action a=\"1\"/>";
    }
  }

  inline static const std::vector<std::string> kNames = {
      "News", "A",           "", " . ", "Caf\xC3\xA9", "x&amp;y", std::string(300, 'n'),
      "a/b",  "\xE2\x82\xAC"};
  inline static const std::vector<std::string> kUrls = {
      "http://a/", "https://www.B:443/x/../y", "",
      "ftp://x/",  "javascript:alert(1)",      "http://" + std::string(6000, 'u')};
  inline static const std::vector<std::string> kIds = {"1",   "2",           ":3",         "-1",
                                                       "abc", "99999999999", "2147483647", ""};
  inline static const std::vector<std::string> kModes = {"ADD", "REPLACE", "add", "", "MERGE"};

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool Chance(int oneIn) { return Below(oneIn) == 0; }
  const std::string& Pick(const std::vector<std::string>& values) {
    return values[static_cast<std::size_t>(Below(static_cast<int>(values.size())))];
  }

  std::mt19937 random_;
};

void ExpectConsistent(linkserver::TLinkStore& store, const std::string& nickname) {
  const linkserver::TAccountData data = store.Load(nickname);
  std::set<std::int32_t> ids;
  for (const linkserver::TLinkRecord& link : data.links) {
    ASSERT_FALSE(link.path.empty());
    if (link.isPrivate) {
      EXPECT_EQ(link.id, -1);
    } else {
      ASSERT_NE(link.id, -1) << link.path;
      EXPECT_TRUE(ids.insert(link.id).second) << "id twice: " << link.id;
    }
  }
  // The sync id can always be computed from what is stored.
  EXPECT_EQ(linkserver::ComputeServerFacts(data).syncId.size(), 32u);
}

TEST(LinkServerScriptFuzz, RandomAndDamagedScriptsAlwaysGetAnAnswer) {
  TTestHome home;
  TLog::ResetForTests();
  SetLinksFolderNameSource([] { return std::string("Links"); });
  linkserver::TLinkStore store(home.Sub("fuzz.db"));
  store.SetAccount("bob", "pw");
  TScriptGenerator generator(20261211u);
  for (int round = 0; round < 300; ++round) {
    const std::string script = generator.Script();
    for (const std::string& text : {script, generator.Damage(script)}) {
      SCOPED_TRACE(text.substr(0, 400));
      const std::string answer = linkserver::ProcessScript(store, text);
      TXmlDocument document;
      ASSERT_NO_THROW(document = MakeFromString(answer));
      ASSERT_EQ(document.DocumentElement().Name(), linkserver::kAnswerRoot);
    }
    ExpectConsistent(store, "bob");
    if (!store.Password("bob")) store.SetAccount("bob", "pw");
  }
  SetLinksFolderNameSource(nullptr);
}

}  // namespace
}  // namespace kelvo::test
