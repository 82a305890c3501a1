// The connect step of the main form against the reference link server: the
// controller made at `initialized` posts KM_CONNECT, the step sends the
// connect script, the answer comes back as KM_CONNECT_RESPONSE.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "LinkServer.h"
#include "TestHome.h"
#include "agent/ConnectStep.h"
#include "agent/Messages.h"
#include "bookmarks/ReadBookmarksThread.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"
#include "server/ClientActn.h"
#include "server/PostedText.h"
#include "server/ServerResponseHandlers.h"
#include "server/SrvScript.h"
#include "server/Web.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo::test {
namespace {

class ConnectStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("no_proxy", "127.0.0.1", 1);
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    TLog::Init(5, home_.Sub("kelvo.log"), false, false);
    TClientSingletons::ResetForTesting();
    THandlerList::Clear();
    SetLinksFolderNameSource([] { return std::string("Links"); });
    SetLastSyncIdSent("");
    std::filesystem::create_directories(home_.Sub("Favorites"));
    server_ = std::make_unique<linkserver::TLinkServer>(home_.Sub("links.db"));
    server_->Start(0);
    TConfig::WriteValue("", "link-server-base", server_->BaseUrl());
    server_->AddAccount("tester1", "secret1");
    TIdentification::SetIdentity("tester1", "secret1");
    InitServerClient();
    // The main form's share of the protocol.
    form_ = CreateWindowObject("TTestKelvoFrm", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == KM_CONNECT) {
        ++connects_;
        ConnectStep(w);
        return 0;
      }
      if (m == KM_CONNECT_RESPONSE) {
        HandleConnectResponse(wp, lp);
        ++answers_;
        return 0;
      }
      return DefWindowProc(w, m, wp, lp);
    });
  }
  void TearDown() override {
    FreeBookmarksCtrl();
    ShutdownServerClient();
    DestroyWindowObject(form_);
    server_->Stop();
    SetCurrentFavoritesTree(nullptr);
    SetSilentBackup(nullptr);
    SetLinksFolderNameSource(nullptr);
    SetLastSyncIdSent("");
    TClientSingletons::ResetForTesting();
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  static bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 8000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      PumpMessages(5);
    }
    return true;
  }
  // `initialized`: the controller reads, integrates and posts KM_CONNECT;
  // the connect step runs and its answer is handled.
  void Initialize() {
    ASSERT_TRUE(CreateBookmarksCtrl(form_));
    ASSERT_TRUE(WaitFor([&] { return connects_ == 1; })) << "no KM_CONNECT";
    ASSERT_TRUE(WaitFor([&] { return answers_ == 1; })) << "no KM_CONNECT_RESPONSE";
  }
  std::string LogText() const { return ReadFileText(TLog::GetFileName()); }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }

  TTestHome home_;
  std::unique_ptr<linkserver::TLinkServer> server_;
  HWND form_ = 0;
  int connects_ = 0;
  int answers_ = 0;
};

TEST_F(ConnectStepTest, FavoritesMatchingTheServerConnectWithoutASync) {
  int backups = 0;
  SetSilentBackup([&] { ++backups; });
  Initialize();
  EXPECT_EQ(backups, 1);
  EXPECT_TRUE(TConfig::HasState(asSynchronizable));
  EXPECT_TRUE(TConfig::HasState(asIdEstablished));
  EXPECT_FALSE(TConfig::HasState(asSyncRequired));
  EXPECT_TRUE(LogHas("TEST rx:"));
  // The connect carried the sync id of the (empty) Favorites.
  EXPECT_EQ(GetLastSyncIdSent(), server_->SyncId("tester1"));
  EXPECT_EQ(server_->RequestCount(), 1);
}

TEST_F(ConnectStepTest, FavoritesDifferingFromTheServerAskForASync) {
  WriteFileText(home_.Sub("Favorites/Alpha.url"), "[InternetShortcut]\r\nURL=http://a.example/\r\n");
  Initialize();
  EXPECT_TRUE(TConfig::HasState(asSyncRequired));
  EXPECT_EQ(TConfig::GetStatsCounter(kInvalidSyncIdCounter), 1);
  TRequestSyncData data = GetRequestSyncData();
  EXPECT_EQ(data.serverSyncId, server_->SyncId("tester1"));
  EXPECT_EQ(data.serverLinkCount, 0);
  EXPECT_TRUE(TConfig::HasState(asIdEstablished));
}

TEST_F(ConnectStepTest, NoSyncMakesNoBackupAndIsNotSynchronizable) {
  int backups = 0;
  SetSilentBackup([&] { ++backups; });
  TConfig::SetSyncMode("no-sync");
  Initialize();
  EXPECT_EQ(backups, 0);
  EXPECT_FALSE(TConfig::HasState(asSynchronizable));
  EXPECT_TRUE(TConfig::HasState(asIdEstablished));
  // Not synchronizing: the Favorites wait until someone asks for them.
  EXPECT_FALSE(BookmarksCtrl()->Tree(false));
}

TEST_F(ConnectStepTest, WithoutAPasswordNothingIsSent) {
  TIdentification::SetIdentity("tester1", "");
  ConnectStep(form_);
  EXPECT_TRUE(LogHas("No username + password:tester1"));
  EXPECT_EQ(TWeb::Outstanding(), 0u);
  EXPECT_TRUE(TConfig::HasState(asIdEstablished));
  PumpMessages(0);
  EXPECT_EQ(answers_, 0);
}

TEST_F(ConnectStepTest, AFailingBackupIsLoggedAndTheStepGoesOn) {
  SetSilentBackup([] { throw TKException("disk full"); });
  Initialize();
  EXPECT_TRUE(LogHas("Error making backup of bookmarks"));
  EXPECT_TRUE(TConfig::HasState(asSynchronizable));
  EXPECT_TRUE(TConfig::HasState(asIdEstablished));
}

TEST_F(ConnectStepTest, AnUnreadableAnswerChangesNothing) {
  HandleConnectResponse(TPostedText::Put(form_, "<not xml"), 0);
  HandleConnectResponse(TPostedText::Put(form_, R"(<?xml version="1.0"?><error reason="refused">x</error>)"), 0);
  EXPECT_FALSE(TConfig::HasState(asSyncRequired));
  EXPECT_EQ(TConfig::GetUserId(), "tester1:secret1");
}

TEST_F(ConnectStepTest, ShutdownFreesTheControllerAndTheClientObjects) {
  Initialize();
  const HWND ctrlWindow = BookmarksCtrl()->Window();
  TPostedText::Put(ctrlWindow, "an answer nobody read");
  FreeBookmarksCtrl();
  EXPECT_FALSE(BookmarksCtrl());
  EXPECT_FALSE(IsWindow(ctrlWindow));
  FreeBookmarksCtrl();  // a second time does nothing
  ShutdownServerClient();
  EXPECT_EQ(TPostedText::Count(), 0u);
  EXPECT_THROW(TClientSingletons::ServerResponseHandlers(), TClientException);
  EXPECT_TRUE(LogHas("Terminating ServerResponseHandlersSingleton"));
}

}  // namespace
}  // namespace kelvo::test
