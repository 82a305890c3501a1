// The main form inside the test process: its message handling, the state
// reactions, the IE-closed timer and parts of the shutdown that a run of the
// executable cannot reach yet.

#include "agent/Main.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "TestHome.h"
#include "TestLoop.h"
#include "agent/Messages.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"
#include "platform/Assert.h"
#include "platform/Registry.h"
#include "platform/SpecialFolders.h"
#include "platform/Window.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;
using test::ReadFileText;
using test::TTestHome;

constexpr const char* kKey = "Software\\Kelvo";

class MainForm : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = std::make_shared<TMemoryRegistry>();
    SetRegistry(registry_);
    TConfig::ResetForTesting();
    TLog::ResetForTests();
    THandlerList::Clear();
    SetRunMode(kRunModeNormal);
    Set("ini", "log-level", "5");
  }
  void TearDown() override {
    form_.reset();
    // What the close left queued (its WM_QUIT) must not reach the next test.
    for (int pass = 0; pass < 10 && PumpMessages(0); ++pass) {
    }
    SetUncaughtExceptionHandler(nullptr);
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
  }

  void Set(const std::string& section, const std::string& name, const std::string& value) {
    registry_->WriteString(TRegRoot::HKCU, section.empty() ? kKey : std::string(kKey) + "\\" + section,
                           name, value);
  }
  std::optional<std::string> Get(const std::string& section, const std::string& name) {
    return registry_->ReadString(
        TRegRoot::HKCU, section.empty() ? kKey : std::string(kKey) + "\\" + section, name);
  }
  TKelvoFrm& StartForm() {
    form_ = std::make_unique<TKelvoFrm>(ExecutablePath());
    form_->Create();
    PumpMessages(0);
    return *form_;
  }
  std::string Log() const {
    return ReadFileText(home_.Sub(".local/share/Kelvo/log/log.ap.txt"));
  }
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
  // Adds a state flag and lets the state window react to it.
  void AddState(TAppState flag) {
    TConfig::AddState(flag);
    PumpMessages(0);
  }

  TTestHome home_;
  std::shared_ptr<TMemoryRegistry> registry_;
  std::unique_ptr<TKelvoFrm> form_;
};

TEST_F(MainForm, StateWindowIsAHandlerUntilTheCloseQuery) {
  TKelvoFrm& form = StartForm();
  HWND state = form.StateWindow();
  ASSERT_NE(state, 0u);
  EXPECT_TRUE(THandlerList::Contains(state));
  EXPECT_EQ(FindWindowByClass(TKelvoFrm::kClassName), form.Handle());
  form.Close();
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(THandlerList::Contains(state));
  EXPECT_FALSE(IsWindow(state));
  EXPECT_FALSE(IsWindow(form.Handle()));
  EXPECT_FALSE(PumpMessages(1000)) << "the close ends the message loop";
  EXPECT_EQ(Get("", "Runs"), "1");
}

TEST_F(MainForm, CloseMainIsRefusedWithinASecondOfASidebarPing) {
  TKelvoFrm& form = StartForm();
  ASSERT_EQ(SendMessage(form.Handle(), RegisteredMessages().KMX_SB_PING_AGENT, 0, 0), 1);
  EXPECT_EQ(SendMessage(form.Handle(), KM_CLOSE_MAIN, 0, 0), 0);
  PumpMessages(50);
  EXPECT_FALSE(form.Closed());
  EXPECT_TRUE(LogHas("KMX_SB_PING_AGENT"));
  EXPECT_FALSE(LogHas("Posting close"));
}

TEST_F(MainForm, CloseMainWithoutAnyPingClosesTheAgent) {
  TKelvoFrm& form = StartForm();
  EXPECT_EQ(SendMessage(form.Handle(), KM_CLOSE_MAIN, 0, 0), 1);
  EXPECT_TRUE(PumpUntil([&] { return form.Closed(); }));
  std::string log = Log();
  EXPECT_LT(log.find("KM_CLOSE_MAIN"), log.find("Posting close"));
  EXPECT_LT(log.find("Posting close"), log.find("TKelvoFrm.FormCloseQuery:TKelvoFrm"));
}

TEST_F(MainForm, IEClosedTimerClosesTheAgentWhenNoBrowserFrameIsLeft) {
  TKelvoFrm& form = StartForm();
  EXPECT_FALSE(form.CheckIEClosedTimerEnabled());
  AddState(asSbManagers1OK);
  EXPECT_TRUE(form.CheckIEClosedTimerEnabled());
  EXPECT_TRUE(LogHas("GetSBInitState.asSbManagers1OK"));
  EXPECT_TRUE(PumpUntil([&] { return form.Closed(); }));
  std::string log = Log();
  auto calling = log.find("CheckIEClosedTimerTimer calling close forms");
  ASSERT_NE(calling, std::string::npos) << log;
  EXPECT_LT(calling, log.find("KM_CLOSE_MAIN"));
  EXPECT_NE(log.find("TKelvoFrm.FormDestroy:End"), std::string::npos);
}

TEST_F(MainForm, IEClosedTimerGivesSidebarsASecondBeforeClosing) {
  HWND frame = CreateWindowObject("IEFrame", nullptr);
  int closeRequests = 0;
  UINT closeMsg = RegisteredMessages().sbCloseEBarFrm;
  HWND sidebar = CreateWindowObject("TEBarFrm", [&](HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == closeMsg) ++closeRequests;
    return DefWindowProc(h, m, w, l);
  });
  TKelvoFrm& form = StartForm();
  AddState(asSbManagers1OK);
  // A frame and a sidebar: the agent stays.
  auto until = std::chrono::steady_clock::now() + 600ms;
  while (std::chrono::steady_clock::now() < until) PumpMessages(20);
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(closeRequests, 0);

  // The frame goes: the sidebar is asked once and the agent closes after it
  // had its second.
  DestroyWindowObject(frame);
  ASSERT_TRUE(PumpUntil([&] { return closeRequests == 1; }));
  auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return form.Closed(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - asked, 900ms);
  EXPECT_EQ(closeRequests, 1);
  DestroyWindowObject(sidebar);
}

TEST_F(MainForm, TestNoCloseKeepsTheTimerOff) {
  Set("", "testnoclose", "true");
  TKelvoFrm& form = StartForm();
  AddState(asSbManagers1OK);
  EXPECT_FALSE(form.CheckIEClosedTimerEnabled());
  PumpMessages(300);
  EXPECT_FALSE(form.Closed());
}

TEST_F(MainForm, StateReactions) {
  Set("", "RunsSinceInstall", "0");
  StartForm();
  AddState(asSbManagers1OK);
  EXPECT_EQ(Get("", "tos-accepted"), "true") << "first run after installation";
  AddState(asSbManagers2OK);
  EXPECT_TRUE(LogHas("GetSBInitState.asSbManagers2OK"));
  EXPECT_TRUE(TConfig::HasState(asInitialized));

  HWND state = form_->StateWindow();
  SendMessage(state, KM_SERVER_STATUS, 7, 0);
  PumpMessages(0);
  EXPECT_TRUE(TConfig::HasState(asConnectedToggle));
  SendMessage(state, KM_SERVER_STATUS, 4, 0);
  PumpMessages(0);
  EXPECT_FALSE(TConfig::HasState(asConnectedToggle));

  SendMessage(state, KM_FORM_CLOSED, 0, 0);
  EXPECT_TRUE(LogHas(".KMessageRx:KM_FORM_CLOSED/KM_FORM_CREATED:True"));
}

TEST_F(MainForm, NotTheFirstRunLeavesTheTermsPreferenceAlone) {
  Set("", "RunsSinceInstall", "3");
  StartForm();
  AddState(asSbManagers1OK);
  EXPECT_FALSE(Get("", "tos-accepted").has_value());
}

TEST_F(MainForm, UpdateRequestMovesTheNextPeriodicRun) {
  Set("refresh", "main", "2020-01-01 10:00:00");
  TKelvoFrm& form = StartForm();
  EXPECT_EQ(form.NextPeriodicRun(), (TDateTime{2020, 1, 1, 18, 0, 0, 0}));
  EXPECT_FALSE(form.PeriodicRunDue(Now())) << "not before initialized and IdEstablished";
  PostMessage(form.Handle(), RegisteredMessages().tbCallAutoupdate, 0, 0);
  PumpMessages(0);
  TDateTime stored = TConfig::GetRefreshDate("main");
  EXPECT_GT(stored, (TDateTime{2020, 1, 1, 10, 0, 0, 0}));
  EXPECT_GE(WallClockMs(form.NextPeriodicRun()) - WallClockMs(stored), 480LL * 60 * 1000 - 1000);
  EXPECT_LE(WallClockMs(form.NextPeriodicRun()) - WallClockMs(stored), 480LL * 60 * 1000 + 1000);
}

TEST_F(MainForm, PeriodicRunIsDueTenMinutesAfterStartOnceItsTimeHasCome) {
  // No refresh date: eight days ago, so the run is overdue from the start.
  TKelvoFrm& form = StartForm();
  TDateTime now = Now();
  TDateTime later = AddMinutes(now, 11);
  EXPECT_FALSE(form.PeriodicRunDue(later)) << "not before initialized and IdEstablished";
  TConfig::AddState(asInitialized | asIdEstablished);
  EXPECT_FALSE(form.PeriodicRunDue(AddMinutes(now, 9))) << "not in the first ten minutes";
  EXPECT_TRUE(form.PeriodicRunDue(later));

  // A run just made (the add-on's update request) moves the next one 480 minutes on.
  PostMessage(form.Handle(), RegisteredMessages().tbCallAutoupdate, 0, 0);
  PumpMessages(0);
  EXPECT_FALSE(form.PeriodicRunDue(later));
  EXPECT_FALSE(form.PeriodicRunDue(AddMinutes(now, 479)));
  EXPECT_TRUE(form.PeriodicRunDue(AddMinutes(now, 481)));
}

TEST_F(MainForm, TestModeSavedAtStartIsRestoredAtShutdown) {
  Set("", "test-temp", "");
  Set("", "test", "true");
  TKelvoFrm& form = StartForm();
  form.Close();
  EXPECT_EQ(Get("", "test"), "");
  EXPECT_FALSE(Get("", "test-temp").has_value());
}

TEST_F(MainForm, UncaughtExceptionOfAnotherWindowIsLogged) {
  StartForm();
  HWND thrower = CreateWindowObject("Thrower", [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_USER) throw std::runtime_error("broken handler");
    return 0;
  });
  PostMessage(thrower, WM_USER, 0, 0);
  PumpMessages(0);
  DestroyWindowObject(thrower);
  std::string log = Log();
  EXPECT_NE(log.find("broken handler"), std::string::npos) << log;
  EXPECT_NE(log.find("exc] Uncaught exception"), std::string::npos) << log;
}

TEST_F(MainForm, FailedAssertionIsLoggedAndRaises) {
  StartForm();
  InstallAssertionHandler();
  int line = 0;
  try {
    line = __LINE__ + 1;
    KELVO_ASSERT(1 + 1 == 3);
    FAIL() << "no exception";
  } catch (const TAssertException& e) {
    EXPECT_STREQ(e.what(), "Assert exception");
  }
  std::string expected = std::string("err] 1 + 1 == 3 (") + __FILE__ + ", line " +
                         std::to_string(line) + ", address $";
  EXPECT_NE(Log().find(expected), std::string::npos) << Log();
  SetAssertHandler(nullptr);
}

TEST(MainAgent, RunModeAndLanguageRules) {
  struct {
    std::vector<std::string> args;
    const char* mode;
  } modes[] = {{{"kelvo"}, kRunModeNormal},
               {{"kelvo", "/UNINSTALL1"}, kRunModeAjax},
               {{"kelvo", "-uninstall1"}, kRunModeAjax},
               {{"kelvo", "UNINSTALL1"}, kRunModeNormal},
               {{"kelvo", "/UNINSTALL1", "/INSTALL"}, kRunModeNormal},
               {{"kelvo", "/UNINSTALL"}, kRunModeNormal}};
  for (const auto& m : modes) {
    EXPECT_EQ(RunModeOf(m.args), m.mode) << m.args.back();
  }
  struct {
    const char* system;
    const char* stored;
    const char* lang;
  } langs[] = {{"French (France)", "", "fr"},
               {"French (Canada)", "", "en"},
               {"Breton (FRANCE)", "", "fr"},
               {"English (United States)", "", "en"},
               {"French (France)", "EN", "en"},
               {"", "", "en"}};
  for (const auto& l : langs) {
    EXPECT_EQ(DetermineLanguage(l.system, l.stored), l.lang) << l.system << "/" << l.stored;
  }
}

}  // namespace
}  // namespace kelvo
