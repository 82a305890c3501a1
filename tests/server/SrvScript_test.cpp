#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "SrvTestSupport.h"
#include "bookmarks/BNode.h"
#include "foundation/Identification.h"
#include "foundation/PlatformInfo.h"
#include "server/ClientTag.h"
#include "server/SrvActn.h"
#include "server/SrvActnLinks.h"
#include "server/SrvScript.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::WriteFileText;

// MD5 test vector of RFC 1321.
const char* const kMd5OfAbc = "900150983cd24fb0d6963f7d28e17f72";

class SrvScriptTest : public test::SrvScriptTestBase {
 protected:
  static std::string VersionChild() {
    const std::string version = GetFileVersion();
    return version.empty() ? std::string() : "<version>" + version + "</version>";
  }
  static void Synchronizable(const std::string& text) {
    SetSyncIdTextSource([text] { return text; });
    TConfig::AddState(asSynchronizable);
  }
  fs::path TraceFolder() const { return fs::path(TConfig::AppDataPath()) / "Log"; }
};

// An action that appends its element and then fails.
class TFailingActn : public TSrvActn {
 public:
  std::string GetName() const override { return "failing"; }
  void Write(const TXmlElement& parent, TXmlElement& element) override {
    TSrvActn::Write(parent, element);
    AddChild(element, "half");
    throw TSrvActnException("TFailingActn.Write:broken");
  }
};

// A tag whose attribute cannot be written.
class TBrokenTag : public TClientTag {
 public:
  TBrokenTag() : TClientTag(kAreaMain) {}
  void WriteTo(const TXmlElement& /*element*/) const override {
    throw TSrvActnException("TBrokenTag.WriteTo:broken");
  }
};

TEST(ClientTagTest, TextsAreasAndSubNames) {
  struct Case {
    IClientAreaTagPtr tag;
    std::string text;
    int area;
    std::string subName;
    std::uint8_t kind;
  };
  const std::vector<Case> cases = {
      {NoAreaTag(), "/", 0, "", kTagKindLocal},
      {std::make_shared<TClientTag>(kAreaMain), "/main-area", 1, "", kTagKindLocal},
      {MakeClientTag(kAreaSync, kTagKindNeedsAnswer, "load-all-links"),
       "/sync-area/load-all-links", 3, "load-all-links", kTagKindNeedsAnswer},
      {MakeClientTag(kAreaSync, kTagKindNeedsAnswer, "/load-all-links"),
       "/sync-area/load-all-links", 3, "load-all-links", kTagKindNeedsAnswer},
      {std::make_shared<TClientTag>(kAreaSyncCheck, kTagKindLocal, nullptr), "/sync-check-area", 2,
       "", kTagKindLocal},
      {std::make_shared<TClientTag>(kAreaIdDialog), "/id-dialog", 4, "", kTagKindLocal},
      {std::make_shared<TClientTag>(kAreaIdSwapDialog), "/id-swap-dialog", 5, "", kTagKindLocal},
      {std::make_shared<TClientTag>(kAreaBookmarksManager), "/bookmarks-manager-area", 6, "",
       kTagKindLocal},
      {std::make_shared<TClientTag>(kAreaSrvScriptWait), "/srv-script-wait", 7, "",
       kTagKindLocal},
      // An index without a name is the tag without area, not a crash.
      {std::make_shared<TClientTag>(42), "/", 0, "", kTagKindLocal},
      // Tags read back from answers keep their text.
      {std::make_shared<TClientTag>("/id-dialog/a/b", kTagKindAnswer), "/id-dialog/a/b", 4, "a/b",
       kTagKindAnswer},
      {std::make_shared<TClientTag>("/elsewhere/x", kTagKindAnswer), "/elsewhere/x", 0, "x",
       kTagKindAnswer},
      {std::make_shared<TClientTag>("", kTagKindAnswer), "", 0, "", kTagKindAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.tag->GetText(), c.text);
    EXPECT_EQ(c.tag->GetAreaIndex(), c.area);
    EXPECT_EQ(c.tag->GetSubName(), c.subName);
    EXPECT_EQ(c.tag->GetKind(), c.kind);
  }
}

TEST(ClientTagTest, HandlerIsKeptAndWriteToSetsTheAttribute) {
  int calls = 0;
  const auto tag = MakeClientTag(kAreaSync, kTagKindNeedsAnswer, "x",
                                 [&calls](const std::vector<IKActionPtr>&) { ++calls; });
  ASSERT_TRUE(tag->HandlerAssigned());
  tag->GetHandler()({});
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(NoAreaTag()->HandlerAssigned());

  const TXmlDocument doc = MakeFromString("<a/>");
  tag->WriteTo(doc.DocumentElement());
  EXPECT_EQ(XmlText(doc.DocumentElement()), R"(<a client-area="/sync-area/x"/>)");
}

TEST_F(SrvScriptTest, ContextThenTaggedLoadAllLinks) {
  TConfig::SetLang("en");
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnContext>(NoAreaTag(), false));
  script.AddAction(std::make_shared<TSrvActnLoadAllLinks>(
      MakeClientTag(kAreaSync, kTagKindNeedsAnswer, "load-all-links"), ""));
  // Not synchronizable: "sync-id" is there, empty.
  EXPECT_EQ(Body(script), R"(<server-script version="1.0"><context client-area="/"><lang>EN</lang>)"
                          "<client>exe</client>" +
                              VersionChild() +
                              "<sync-id></sync-id></context>"
                              R"(<load-all-links client-area="/sync-area/load-all-links"/>)"
                              "</server-script>");
  EXPECT_TRUE(LogHas("asSynchronizable - no"));
  EXPECT_TRUE(LogHas("TSrvActnContext.Write"));
  EXPECT_TRUE(LogHas("FIncludeSyncId = IncludeSyncId"));
}

TEST_F(SrvScriptTest, ContextChildrenInOrderAndPrevSyncIdOfTheNextScript) {
  TConfig::SetLang("fr");
  TIdentification::SetIdentity("nickname", "secret");
  Synchronizable("abc");

  TSrvScript first;
  first.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
  EXPECT_EQ(Body(first), "<server-script version=\"1.0\"><context><lang>FR</lang>"
                         "<user-id>nickname:secret</user-id><client>exe</client>" +
                             VersionChild() + "<sync-id>" + kMd5OfAbc +
                             "</sync-id></context></server-script>");
  EXPECT_EQ(GetLastSyncIdSent(), kMd5OfAbc);

  SetSyncIdTextSource([] { return std::string(); });  // MD5 of empty input
  TSrvScript second;
  second.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
  const std::string body = Body(second);
  EXPECT_NE(body.find(std::string("<prev-sync-id>") + kMd5OfAbc +
                      "</prev-sync-id><sync-id>d41d8cd98f00b204e9800998ecf8427e</sync-id>"),
            std::string::npos)
      << body;
  EXPECT_EQ(GetLastSyncIdSent(), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(SrvScriptTest, UserIdIsTakenAtCreationAndOnlyWithANickname) {
  auto without = std::make_shared<TSrvActnContext>(nullptr, true);
  TIdentification::SetIdentity("nickname", "");
  auto with = std::make_shared<TSrvActnContext>(nullptr, true);
  TIdentification::SetIdentity("other", "pw");

  EXPECT_EQ(ActionText(without), "<context><client>exe</client>" + VersionChild() + "</context>");
  EXPECT_EQ(ActionText(with), "<context><user-id>nickname</user-id><client>exe</client>" +
                                  VersionChild() + "</context>");
}

TEST_F(SrvScriptTest, OmittedSyncIdLeavesTheLastSyncIdAlone) {
  Synchronizable("abc");
  SetLastSyncIdSent("earlier");
  const std::string text = ActionText(std::make_shared<TSrvActnContext>(nullptr, true));
  EXPECT_EQ(text.find("sync-id"), std::string::npos) << text;
  EXPECT_EQ(GetLastSyncIdSent(), "earlier");
}

TEST_F(SrvScriptTest, ActionListOperations) {
  TSrvScript script(std::make_shared<TClientTag>(kAreaMain));
  script.AddAction(nullptr);
  script.InsertAction(nullptr);
  EXPECT_EQ(script.Count(), 0);

  auto untagged = std::make_shared<TSrvActnLoadAllXLinks>(nullptr, "");
  auto tagged = std::make_shared<TSrvActnLoadAllLinks>(NoAreaTag(), "");
  auto inserted = std::make_shared<TSrvActnConnect>(nullptr);
  script.AddAction(untagged);
  script.AddAction(tagged);
  script.InsertAction(inserted);
  ASSERT_EQ(script.Count(), 3);
  EXPECT_EQ(script.GetAction(0), inserted);
  EXPECT_EQ(script.GetAction(1), untagged);
  EXPECT_EQ(script.GetAction(2), tagged);
  // The default tag goes to actions added without one only.
  ASSERT_TRUE(untagged->GetClientTag());
  EXPECT_EQ(untagged->GetClientTag()->GetText(), "/main-area");
  EXPECT_EQ(tagged->GetClientTag()->GetText(), "/");
  EXPECT_FALSE(inserted->GetClientTag());

  const struct {
    int index;
    std::string deleteMessage;
    std::string getMessage;
  } bad[] = {{3, "TSrvScript.DeleteAction:invalid index:3", "SrvAction not found:3"},
             {-1, "TSrvScript.DeleteAction:invalid index:-1", "SrvAction not found:-1"}};
  for (const auto& c : bad) {
    try {
      script.DeleteAction(c.index);
      ADD_FAILURE() << "no exception for " << c.index;
    } catch (const TSrvScriptException& e) {
      EXPECT_EQ(e.Message(), c.deleteMessage);
    }
    try {
      script.GetAction(c.index);
      ADD_FAILURE() << "no exception for " << c.index;
    } catch (const TSrvScriptException& e) {
      EXPECT_EQ(e.Message(), c.getMessage);
    }
  }
  EXPECT_EQ(script.Count(), 3);
  script.DeleteAction(1);
  ASSERT_EQ(script.Count(), 2);
  EXPECT_EQ(script.GetAction(1), tagged);
}

TEST_F(SrvScriptTest, StoredValuesHaveTheirDefaults) {
  TSrvScript script;
  const TSrvScriptStatus status = script.GetStatus();
  EXPECT_EQ(status.state, 1);
  EXPECT_EQ(status.message, 1054);
  EXPECT_EQ(status.extra, 0);
  EXPECT_EQ(script.GetFlagA(), 1);
  EXPECT_EQ(script.GetCounter(), 0);
  EXPECT_FALSE(script.GetNeedsAnswerOverride());
  EXPECT_FALSE(script.HandlerAssigned());
  script.SetStatus({2, 1060, 7});
  script.SetFlagA(0);
  script.SetCounter(9);
  script.SetHandler([](std::int32_t) {});
  EXPECT_EQ(script.GetStatus().message, 1060);
  EXPECT_EQ(script.GetStatus().extra, 7);
  EXPECT_EQ(script.GetFlagA(), 0);
  EXPECT_EQ(script.GetCounter(), 9);
  EXPECT_TRUE(script.HandlerAssigned());
}

TEST_F(SrvScriptTest, NeedsAnswerAndHasActionOfKind) {
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnContext>(NoAreaTag(), false));
  script.AddAction(std::make_shared<TSrvActnLoadAllXLinks>(NoAreaTag(), ""));
  EXPECT_FALSE(script.NeedsAnswer());
  EXPECT_FALSE(script.HasActionOfKind(kActnKindChangesLinks));

  script.SetNeedsAnswerOverride(true);
  EXPECT_TRUE(script.NeedsAnswer());
  script.SetNeedsAnswerOverride(false);

  script.AddAction(std::make_shared<TSrvActnRemoveLink>(nullptr, "", "", "/a"));
  EXPECT_TRUE(script.HasActionOfKind(kActnKindChangesLinks));
  EXPECT_FALSE(script.NeedsAnswer());  // an action without a tag does not ask
  script.AddAction(std::make_shared<TSrvActnLoadAllLinks>(
      MakeClientTag(kAreaSync, kTagKindNeedsAnswer, "load-all-links"), "MERGE"));
  EXPECT_TRUE(script.NeedsAnswer());
}

TEST_F(SrvScriptTest, FailingActionIsLeftOutWholeAndTheRestIsWritten) {
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnLoadAllXLinks>(nullptr, "/a"));
  script.AddAction(std::make_shared<TFailingActn>());
  auto brokenTag = std::make_shared<TSrvActnLoadAllLinks>(nullptr, "MERGE");
  brokenTag->SetClientTag(std::make_shared<TBrokenTag>());
  script.AddAction(brokenTag);
  script.AddAction(std::make_shared<TSrvActnLoadAllXLinks>(nullptr, "/b"));
  EXPECT_EQ(Body(script), R"(<server-script version="1.0"><load-all-xlinks path="/a"/>)"
                          R"(<load-all-xlinks path="/b"/></server-script>)");
  EXPECT_TRUE(LogHas("Error making script for Kelvo server"));
  EXPECT_TRUE(LogHas("TFailingActn.Write:broken"));
}

TEST_F(SrvScriptTest, SyncIdIsTheMd5OfTheSyncIdTextWhileSynchronizable) {
  SetSyncIdTextSource([] { return std::string("abc"); });
  EXPECT_EQ(TSrvScript::asSynchronizable(), "");
  TConfig::AddState(asSynchronizable);
  EXPECT_EQ(TSrvScript::asSynchronizable(), kMd5OfAbc);
  SetSyncIdTextSource(nullptr);  // nothing registered: digest of empty input
  EXPECT_EQ(TSrvScript::asSynchronizable(), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_TRUE(LogHas("CalculateSyncId"));
}

TEST_F(SrvScriptTest, DebugLevelSavesTheTraceAndCleansOldFiles) {
  const fs::path folder = TraceFolder();
  fs::create_directories(folder / "sub");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(25);
  const auto recent = fs::file_time_type::clock::now() - std::chrono::hours(23);
  const struct {
    fs::path path;
    fs::file_time_type time;
    bool kept;
  } files[] = {{folder / "old.txt", old, false},
               {folder / "sub" / "older.txt", old, false},
               {folder / "log.1.txt", old, true},
               {folder / "recent.txt", recent, true}};
  for (const auto& f : files) {
    WriteFileText(f.path, "x");
    fs::last_write_time(f.path, f.time);
  }

  SetLastSyncIdSent("before");
  SetSyncIdTextSource([] {
    THashTrace::Add("folder line");
    return std::string("abc");
  });
  TConfig::AddState(asSynchronizable);
  ASSERT_EQ(TSrvScript::asSynchronizable(), kMd5OfAbc);

  EXPECT_EQ(ReadFileText(folder / (std::string(kMd5OfAbc) + ".txt")),
            "Prev:before\r\nfolder line\r\n");
  EXPECT_FALSE(THashTrace::Exists());
  for (const auto& f : files) EXPECT_EQ(fs::exists(f.path), f.kept) << f.path;
  EXPECT_TRUE(fs::exists(folder / "sub"));
}

TEST_F(SrvScriptTest, BelowTheDebugLevelNoTraceIsKept) {
  TLog::ResetForTests();
  TLog::Init(4, home_.Sub("kelvo.log"), false, false);
  const fs::path folder = TraceFolder();
  fs::create_directories(folder);
  WriteFileText(folder / "old.txt", "x");
  fs::last_write_time(folder / "old.txt",
                      fs::file_time_type::clock::now() - std::chrono::hours(48));
  bool traceExisted = true;
  SetSyncIdTextSource([&traceExisted] {
    traceExisted = THashTrace::Exists();
    return std::string("abc");
  });
  TConfig::AddState(asSynchronizable);
  EXPECT_EQ(TSrvScript::asSynchronizable(), kMd5OfAbc);
  EXPECT_FALSE(traceExisted);
  EXPECT_FALSE(fs::exists(folder / (std::string(kMd5OfAbc) + ".txt")));
  EXPECT_TRUE(fs::exists(folder / "old.txt"));
}

TEST_F(SrvScriptTest, SyncIdComputationsDoNotOverlap) {
  TLog::ResetForTests();
  TLog::Init(2, home_.Sub("kelvo.log"), false, false);
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  SetSyncIdTextSource([&] {
    if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
    for (int i = 0; i < 50; ++i) std::this_thread::yield();
    inside.fetch_sub(1);
    return std::string("abc");
  });
  TConfig::AddState(asSynchronizable);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        if (TSrvScript::asSynchronizable() != kMd5OfAbc) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace kelvo
