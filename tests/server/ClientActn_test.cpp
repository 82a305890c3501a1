#include "server/ClientActn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"
#include "server/ServerResponseHandlers.h"

namespace kelvo {
namespace {

// Each test has its own HOME, settings, log file and client singletons.
class ClientActnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<test::TTestHome>();
    registry_ = std::make_shared<TMemoryRegistry>();
    SetRegistry(registry_);
    TConfig::ResetForTesting();
    THandlerList::Clear();
    TLog::ResetForTests();
    logFile_ = home_->Sub("client.log");
    TLog::Init(5, logFile_, false, false);
    TClientSingletons::ResetForTesting();
    SetRequestSyncData(TRequestSyncData());
  }
  void TearDown() override {
    PumpMessages(0);
    THandlerList::Clear();
    TClientSingletons::ResetForTesting();
    SetRequestSyncData(TRequestSyncData());
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    home_.reset();
  }

  std::string LogText() const { return test::ReadFileText(logFile_); }
  std::optional<std::string> RecoUrl() const {
    return TConfig::ReadValueEx("recommends", "reco-service.url");
  }
  TClientActionQueuePtr InstallQueue() {
    auto queue = std::make_shared<TClientActionQueue>();
    TClientSingletons::SetClientActionQueue(queue);
    return queue;
  }

  std::unique_ptr<test::TTestHome> home_;
  std::shared_ptr<TMemoryRegistry> registry_;
  std::string logFile_;
};

// An action of the test: counts its runs and can misbehave on purpose.
class TProbeActn : public TClientActn {
 public:
  enum class TFault { None, KException, StdException, SetsClosing };
  explicit TProbeActn(std::string tagText = "", TFault fault = TFault::None)
      : fault_(fault) {
    Init(MakeFromString("<probe client-area=\"" + tagText + "\"/>").DocumentElement());
  }
  void Execute() override {
    ++runs;
    switch (fault_) {
      case TFault::KException:
        throw TKException("probe failed", std::runtime_error("inner"));
      case TFault::StdException:
        throw std::runtime_error("not ours");
      case TFault::SetsClosing:
        TConfig::AddState(asClosing);
        break;
      case TFault::None:
        break;
    }
  }
  std::atomic<int> runs{0};

 private:
  TFault fault_;
};

// --- Context and request-sync answers ------------------------------------------

TEST_F(ClientActnTest, AnswerWithContextAndRequestSyncStoresAccountDataAndRequiresSync) {
  const TXmlDocument answer = MakeFromString(
      "<client-script>"
      "<context><user-id>alice99:s3cret</user-id><lang>fr</lang>"
      "<client-prefs><pref name=\"reco-service.url\" type=\"string\" value=\"" +
      std::string(kBuiltInRecoServiceUrl) +
      "\"/><pref name=\"other\" type=\"string\" value=\"x\"/></client-prefs>"
      "<code-table url=\"http://h/t\" date=\"2009-01-01\"/></context>"
      "<request-sync server-sync-id=\"abc123\" link-count=\"12\" folder-count=\"3\"/>"
      "</client-script>");

  EXPECT_EQ(ApplyContextAnswer(answer), "alice99:s3cret");
  EXPECT_EQ(TIdentification::GetNickname(), "alice99");
  EXPECT_EQ(TIdentification::GetPassword(), "s3cret");
  EXPECT_EQ(TConfig::GetLang(), "fr");
  EXPECT_EQ(RecoUrl(), std::optional<std::string>(kBuiltInRecoServiceUrl));
  EXPECT_FALSE(TConfig::ReadValueEx("recommends", "other").has_value());

  EXPECT_TRUE(ApplyRequestSync(answer));
  EXPECT_TRUE(TConfig::HasState(asSyncRequired));
  const TRequestSyncData data = GetRequestSyncData();
  EXPECT_EQ(data.serverSyncId, "abc123");
  EXPECT_EQ(data.serverLinkCount, 12);
  EXPECT_EQ(data.serverFolderCount, 3);
  EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), 1);
  // The built-in address is no error.
  EXPECT_EQ(LogText().find("bad RECO URL"), std::string::npos);
}

TEST_F(ClientActnTest, RecoServiceUrlIsStoredWhenNonEmptyAndLoggedWhenForeign) {
  struct TCase {
    const char* pref;  // the "pref" element
    std::optional<std::string> stored;
    bool errorLogged;
  };
  const std::string builtIn = kBuiltInRecoServiceUrl;
  const TCase cases[] = {
      {"<pref name=\"reco-service.url\" type=\"string\" value=\"http://other.example/r\"/>",
       "http://other.example/r", true},
      // The fields may also come as child elements.
      {"<pref><name>reco-service.url</name><value>http://child.example/</value></pref>",
       "http://child.example/", true},
      {"<pref name=\"reco-service.url\" value=\"\"/>", std::nullopt, true},
      {"<pref name=\"something-else\" value=\"http://other.example/r\"/>", std::nullopt, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.pref);
    TConfig::DeleteValue("recommends", "reco-service.url");
    test::WriteFileText(logFile_, "");
    ApplyContextAnswer(MakeFromString(std::string("<context><client-prefs>") + c.pref +
                                      "</client-prefs></context>"));
    EXPECT_EQ(RecoUrl(), c.stored);
    EXPECT_EQ(LogText().find("ClientActnContext bad RECO URL:") != std::string::npos,
              c.errorLogged)
        << LogText();
  }
  // The message carries the value.
  ApplyContextAnswer(MakeFromString(
      "<context><client-prefs><pref name=\"reco-service.url\" value=\"http://x.example/\"/>"
      "</client-prefs></context>"));
  EXPECT_NE(LogText().find("ClientActnContext bad RECO URL:http://x.example/"), std::string::npos);
}

TEST_F(ClientActnTest, ContextAnswerWithoutDataChangesNothing) {
  TIdentification::SetUserId("bobby1:pw");
  TConfig::SetLang("en");

  // No context element at all, an empty one, and no document.
  EXPECT_EQ(ApplyContextAnswer(MakeFromString("<answer><user-id>mallory</user-id></answer>")), "");
  EXPECT_EQ(ApplyContextAnswer(MakeFromString("<context><user-id/><lang></lang></context>")), "");
  EXPECT_EQ(ApplyContextAnswer(TXmlDocument()), "");

  EXPECT_EQ(TIdentification::GetUserId(), "bobby1:pw");
  EXPECT_EQ(TConfig::GetLang(), "en");
  EXPECT_FALSE(RecoUrl().has_value());
}

TEST_F(ClientActnTest, RequestSyncCountsAreMinusOneUnlessNumbers) {
  struct TCase {
    const char* attrs;
    int links;
    int folders;
  };
  const TCase cases[] = {
      {"link-count=\"12\" folder-count=\"0\"", 12, 0},
      {"link-count=\"abc\" folder-count=\"7\"", -1, 7},
      {"", -1, -1},
      {"link-count=\"\" folder-count=\"12x\"", -1, -1},
      {"link-count=\" 5 \" folder-count=\"-3\"", 5, -3},
      {"link-count=\"99999999999\" folder-count=\"1.5\"", -1, -1},
  };
  int expectedCounter = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.attrs);
    ASSERT_TRUE(ApplyRequestSync(MakeFromString(
        std::string("<r><request-sync server-sync-id=\"s1\" ") + c.attrs + "/></r>")));
    ++expectedCounter;
    const TRequestSyncData data = GetRequestSyncData();
    EXPECT_EQ(data.serverSyncId, "s1");
    EXPECT_EQ(data.serverLinkCount, c.links);
    EXPECT_EQ(data.serverFolderCount, c.folders);
    EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), expectedCounter);
  }
  // A missing sync id is remembered as empty.
  ASSERT_TRUE(ApplyRequestSync(MakeFromString("<request-sync link-count=\"1\"/>")));
  EXPECT_EQ(GetRequestSyncData().serverSyncId, "");
}

TEST_F(ClientActnTest, RequestSyncAnnouncesSyncRequiredWithArgumentOne) {
  std::vector<std::pair<WPARAM, LPARAM>> seen;
  const HWND wnd = CreateWindowObject("KelvoClientActnTest", [&](HWND, UINT m, WPARAM w, LPARAM l) {
    if (m == KM_APP_STATE_CHANGED) seen.emplace_back(w, l);
    return LRESULT(0);
  });
  THandlerList::Add(wnd);
  TConfig::AddState(asSyncronized);
  PumpMessages(0);
  seen.clear();

  ASSERT_TRUE(ApplyRequestSync(MakeFromString("<request-sync server-sync-id=\"x\"/>")));
  PumpMessages(0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, WPARAM(asSyncRequired));
  EXPECT_EQ(seen[0].second, LPARAM(1));
  EXPECT_TRUE(TConfig::HasState(asSyncRequired));
  EXPECT_FALSE(TConfig::HasState(asSyncronized));
  THandlerList::Remove(wnd);
  DestroyWindowObject(wnd);
}

TEST_F(ClientActnTest, AnswersWithoutRequestSyncOrUnparsableChangeNothing) {
  SetRequestSyncData({"kept", 4, 2});
  TConfig::SetStatsCounter("invalid_sync_id", 5);

  EXPECT_FALSE(ApplyRequestSync(MakeFromString("<answer><display-message code=\"MSG_WELCOME\"/></answer>")));
  EXPECT_FALSE(ApplyRequestSync(TXmlDocument()));
  const TXmlDocument broken = ParseServerAnswer("<answer><request-sync", "TTest.Receive");
  EXPECT_TRUE(broken.IsNone());
  EXPECT_FALSE(ApplyRequestSync(broken));
  EXPECT_EQ(ApplyContextAnswer(broken), "");

  EXPECT_FALSE(TConfig::HasState(asSyncRequired));
  EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), 5);
  const TRequestSyncData data = GetRequestSyncData();
  EXPECT_EQ(data.serverSyncId, "kept");
  EXPECT_EQ(data.serverLinkCount, 4);
  EXPECT_EQ(data.serverFolderCount, 2);
  EXPECT_NE(LogText().find("TTest.Receive:unparsable answer:MakeFromString:"), std::string::npos);
}

// --- Client-action objects --------------------------------------------------

TEST_F(ClientActnTest, ClassListHasTheSixClassesInOrder) {
  std::vector<std::string> names;
  for (const TClientActionClass& cls : ClientActionClasses()) {
    names.push_back(cls.elementName);
    EXPECT_EQ(cls.create()->ClassElementName(), cls.elementName);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"request-sync", "context", "display-error",
                                             "import-links", "display-message", "sync-confirmed"}));
}

TEST_F(ClientActnTest, AnswerElementsBecomeActionsByElementName) {
  const TXmlDocument answer = MakeFromString(
      "<client-script>"
      "<context client-area=\"/main-area\"><user-id>u</user-id></context>"
      "<unknown-thing><display-message code=\"MSG_LINKS_SAVED\" client-area=\"/sync-area/x\"/>"
      "</unknown-thing>"
      "<display-error code=\"ERROR_INVALID_USER_ID\"/>"
      "<import-links client-area=\"/sync-area/load-all-links\">"
      "<link title=\"a\"/><sync-confirmed/></import-links>"
      "<request-sync link-count=\"2\"/>"
      "<sync-confirmed/>"
      "</client-script>");
  const std::vector<IClientActionPtr> actions = MakeClientActions(answer);

  struct TExpected {
    std::string name;
    std::string tag;
    bool kind1;
    bool mainThread;
  };
  const std::vector<TExpected> expected = {
      {"context", "/main-area", false, false},
      {"display-message", "/sync-area/x", false, false},
      {"error", "", false, false},  // display-error answers "error"
      {"import-links", "/sync-area/load-all-links", false, false},
      {"request-sync", "", true, true},
      {"sync-confirmed", "", false, false},
  };
  ASSERT_EQ(actions.size(), expected.size());
  for (std::size_t i = 0; i < actions.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(actions[i]->GetName(), expected[i].name);
    ASSERT_TRUE(actions[i]->GetClientTag());
    EXPECT_EQ(actions[i]->GetClientTag()->GetText(), expected[i].tag);
    EXPECT_EQ(actions[i]->GetClientTag()->GetKind(), kTagKindAnswer);
    EXPECT_EQ(actions[i]->HasKind(kActnKindChangesLinks), expected[i].kind1);
    EXPECT_EQ(actions[i]->NeedsMainThread(), expected[i].mainThread);
    EXPECT_EQ(actions[i]->GetState(), kClientActnNew);
  }
  // The kept document is a copy of the element with its content, and
  // outlives the answer; the tag cannot be replaced.
  const TXmlDocument kept = actions[3]->GetDocument();
  EXPECT_EQ(kept.DocumentElement().Name(), "import-links");
  EXPECT_EQ(SelectNodes(kept, "//link").Length(), 1u);
  EXPECT_NE(kept.DocumentElement(), SelectSingleNode(answer, "//import-links"));
  actions[3]->SetClientTag(NoAreaTag());
  EXPECT_EQ(actions[3]->GetClientTag()->GetText(), "/sync-area/load-all-links");

  // A bare action element is an answer of one action; unknown ones none.
  ASSERT_EQ(MakeClientActions(MakeFromString("<request-sync/>")).size(), 1u);
  EXPECT_TRUE(MakeClientActions(MakeFromString("<a><b><c/></b></a>")).empty());
  EXPECT_TRUE(MakeClientActions(TXmlDocument()).empty());
  EXPECT_EQ(CreateClientAction(MakeFromString("<error/>").DocumentElement()), nullptr);
  TClientActnContext context;
  EXPECT_THROW(context.Init(TXmlElement()), TClientException);
}

// --- Queue and runner -------------------------------------------------------

TEST_F(ClientActnTest, QueueIsReportedMissingUntilSet) {
  try {
    TClientSingletons::GetClientActionQueue();
    FAIL() << "no exception";
  } catch (const TClientException& e) {
    EXPECT_EQ(e.Message(), "TClientSingletons:ClientActionList not found");
  }
  EXPECT_THROW(RunClientActions(), TClientException);
  EXPECT_THROW(QueueClientActions(MakeFromString("<context/>")), TClientException);
  const TClientActionQueuePtr queue = InstallQueue();
  EXPECT_EQ(TClientSingletons::GetClientActionQueue(), queue);
}

TEST_F(ClientActnTest, QueuedAnswerRunsEndToEnd) {
  const TClientActionQueuePtr queue = InstallQueue();
  ASSERT_EQ(QueueClientActions(MakeFromString(
                "<answer><context><lang>fr</lang></context>"
                "<request-sync server-sync-id=\"q\" link-count=\"9\"/>"
                "<display-error code=\"ERROR_INVALID_USER_ID\"/><mystery/></answer>")),
            3u);
  const std::vector<IClientActionPtr> actions = queue->Actions();

  RunClientActions();
  EXPECT_EQ(TConfig::GetLang(), "fr");
  EXPECT_TRUE(TConfig::HasState(asSyncRequired));
  EXPECT_EQ(GetRequestSyncData().serverLinkCount, 9);
  EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), 1);
  EXPECT_TRUE(ClientActionsSawRequestSync());
  EXPECT_TRUE(ClientActionsSawDisplayError());
  for (const IClientActionPtr& a : actions) EXPECT_EQ(a->GetState(), kClientActnDone);
  EXPECT_EQ(queue->Count(), 0u);

  // A second run has nothing new: nothing runs again, the notes clear.
  RunClientActions();
  EXPECT_EQ(TConfig::GetStatsCounter("invalid_sync_id"), 1);
  EXPECT_FALSE(ClientActionsSawRequestSync());
  EXPECT_FALSE(ClientActionsSawDisplayError());
}

TEST_F(ClientActnTest, RunnerDoesNothingWhileClosingAndStopsWhenClosingStarts) {
  const TClientActionQueuePtr queue = InstallQueue();
  auto first = std::make_shared<TProbeActn>();
  auto second = std::make_shared<TProbeActn>();
  queue->Add(first);
  queue->Add(second);

  TConfig::AddState(asClosing);
  RunClientActions();
  EXPECT_EQ(first->runs, 0);
  EXPECT_EQ(second->runs, 0);
  EXPECT_EQ(first->GetState(), kClientActnRunning);
  EXPECT_EQ(second->GetState(), kClientActnRunning);
  EXPECT_EQ(queue->Count(), 2u);

  // Closing that starts during a run stops it after the current action.
  TConfig::RemoveState(asClosing);
  auto closer = std::make_shared<TProbeActn>("", TProbeActn::TFault::SetsClosing);
  auto after = std::make_shared<TProbeActn>();
  queue->Add(closer);
  queue->Add(after);
  RunClientActions();
  EXPECT_EQ(closer->runs, 1);
  EXPECT_EQ(after->runs, 0);
  EXPECT_EQ(closer->GetState(), kClientActnRunning);
  EXPECT_EQ(after->GetState(), kClientActnRunning);
  EXPECT_EQ(first->runs, 0);  // taken by the earlier run, never new again
}

TEST_F(ClientActnTest, ExceptionsOfActionsAreLoggedAndTheRunGoesOn) {
  const TClientActionQueuePtr queue = InstallQueue();
  auto ours = std::make_shared<TProbeActn>("", TProbeActn::TFault::KException);
  auto foreign = std::make_shared<TProbeActn>("", TProbeActn::TFault::StdException);
  auto fine = std::make_shared<TProbeActn>();
  queue->Add(ours);
  queue->Add(foreign);
  queue->Add(fine);

  RunClientActions();
  EXPECT_EQ(fine->runs, 1);
  const std::string log = LogText();
  EXPECT_NE(log.find("TKException executing action probe:probe failed (raised from inner)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Unknown exception executing action probe"), std::string::npos);
  for (const auto& a : {ours, foreign, fine}) EXPECT_EQ(a->GetState(), kClientActnDone);
}

TEST_F(ClientActnTest, HandlerRegistryRoutesActionsByTagText) {
  const TClientActionQueuePtr queue = InstallQueue();
  const TServerResponseHandlersPtr handlers = TClientSingletons::ServerResponseHandlers();
  std::vector<std::vector<IClientActionPtr>> syncCalls, laterSyncCalls, mainCalls;
  handlers->Register("/sync-area", [&](const std::vector<IClientActionPtr>& a) { syncCalls.push_back(a); });
  handlers->Register("/sync-area",
                     [&](const std::vector<IClientActionPtr>& a) { laterSyncCalls.push_back(a); });
  handlers->Register("/main-area", [&](const std::vector<IClientActionPtr>& a) { mainCalls.push_back(a); });

  auto s1 = std::make_shared<TProbeActn>("/sync-area");
  auto m1 = std::make_shared<TProbeActn>("/main-area");
  auto s2 = std::make_shared<TProbeActn>("/sync-area");
  auto own = std::make_shared<TProbeActn>("/sync-area/other");  // no exact match
  for (const auto& a : {s1, m1, s2, own}) queue->Add(a);

  RunClientActions();
  // The first registered of a name wins; each area gets one call with its
  // own actions in queue order; handled actions are not executed.
  ASSERT_EQ(syncCalls.size(), 1u);
  EXPECT_EQ(syncCalls[0], (std::vector<IClientActionPtr>{s1, s2}));
  EXPECT_TRUE(laterSyncCalls.empty());
  ASSERT_EQ(mainCalls.size(), 1u);
  EXPECT_EQ(mainCalls[0], (std::vector<IClientActionPtr>{m1}));
  EXPECT_EQ(s1->runs + s2->runs + m1->runs, 0);
  EXPECT_EQ(own->runs, 1);
  for (const auto& a : {s1, m1, s2, own}) EXPECT_EQ(a->GetState(), kClientActnDone);

  EXPECT_TRUE(handlers->Unregister("/sync-area"));
  EXPECT_FALSE(handlers->Unregister("/sync-area"));
  EXPECT_EQ(handlers->FindHandler(*s1), nullptr);
  EXPECT_NE(handlers->FindHandler(*m1), nullptr);
}

TEST_F(ClientActnTest, ActionsAddedFromOtherThreadsRunExactlyOnce) {
  const TClientActionQueuePtr queue = InstallQueue();
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::vector<std::shared_ptr<TProbeActn>> all(kThreads * kPerThread);
  for (auto& a : all) a = std::make_shared<TProbeActn>();

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) queue->Add(all[t * kPerThread + i]);
    });
  }
  // The main thread runs while the others add.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto allRan = [&] {
    for (const auto& a : all) {
      if (a->runs == 0) return false;
    }
    return true;
  };
  while (!allRan() && std::chrono::steady_clock::now() < deadline) RunClientActions();
  for (auto& th : threads) th.join();
  RunClientActions();

  for (const auto& a : all) {
    EXPECT_EQ(a->runs, 1);
    EXPECT_EQ(a->GetState(), kClientActnDone);
  }
  EXPECT_EQ(queue->Count(), 0u);
}

// --- Client singletons ------------------------------------------------------

TEST_F(ClientActnTest, SingletonsAreFreedInOrderAndReportedFreedAfterwards) {
  const TServerResponseHandlersPtr handlers = TClientSingletons::ServerResponseHandlers();
  EXPECT_EQ(TClientSingletons::ServerResponseHandlers(), handlers);
  bool archiveFreed = false;
  TClientSingletons::SetArchiveTerminator([&] {
    archiveFreed = true;
    throw TKException("archive busy");
  });

  TClientSingletons::FreeSingletons();
  EXPECT_TRUE(archiveFreed);
  const std::string log = LogText();
  const std::size_t archiveLine = log.find("Terminating ArchiveSingleton");
  const std::size_t registryLine = log.find("Terminating ServerResponseHandlersSingleton");
  ASSERT_NE(archiveLine, std::string::npos);
  ASSERT_NE(registryLine, std::string::npos);
  EXPECT_LT(archiveLine, registryLine);
  // The archive's failure is logged and does not keep the registry.
  EXPECT_NE(log.find("Client.FreeSingletons"), std::string::npos);
  EXPECT_NE(log.find("archive busy"), std::string::npos);

  try {
    TClientSingletons::ServerResponseHandlers();
    FAIL() << "no exception";
  } catch (const TClientException& e) {
    EXPECT_EQ(e.Message(), "TClientSingletons:Client.ServerResponseHandlers:freed");
  }
  // A second shutdown step finds nothing left to free and raises nothing.
  archiveFreed = false;
  TClientSingletons::FreeSingletons();
  EXPECT_FALSE(archiveFreed);
}

}  // namespace
}  // namespace kelvo
