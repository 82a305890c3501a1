#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ConfigFixture.h"
#include "TestHome.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Log.h"
#include "platform/Window.h"

namespace kelvo {
namespace {

struct TPosted {
  HWND wnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// A handler window that records what reaches it, in one shared journal so
// that the order across windows shows.
class TRecorder {
 public:
  TRecorder(std::vector<TPosted>& journal) {
    wnd_ = CreateWindowObject("KelvoStateTest", [&journal](HWND w, UINT m, WPARAM wp, LPARAM lp) {
      if (m >= WM_USER) journal.push_back({w, m, wp, lp});
      return LRESULT(0);
    });
  }
  ~TRecorder() {
    THandlerList::Remove(wnd_);
    DestroyWindowObject(wnd_);
  }
  HWND wnd() const { return wnd_; }

 private:
  HWND wnd_ = 0;
};

class ConfigStateTest : public test::ConfigTest {
 protected:
  void SetUp() override {
    test::ConfigTest::SetUp();
    THandlerList::Clear();
    TLog::ResetForTests();
    logFile_ = home_->Sub("state.log");
    TLog::Init(4, logFile_, false, false);
  }
  void TearDown() override {
    // Drain what is still queued for the recorders before they go.
    PumpMessages(0);
    THandlerList::Clear();
    TLog::ResetForTests();
    test::ConfigTest::TearDown();
  }

  // The "Application state=" lines of the log, without their stamp.
  std::vector<std::string> StateLines() {
    std::vector<std::string> lines;
    std::string text = test::ReadFileText(logFile_);
    std::size_t pos = 0;
    while (pos <= text.size()) {
      std::size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      std::size_t at = line.find("Application state=");
      if (at != std::string::npos) lines.push_back(line.substr(at));
      pos = end + 2;
    }
    return lines;
  }

  // Delivers what is queued; the posts are already in the queue when
  // AddState returns.
  void Deliver() { PumpMessages(0); }

  std::string logFile_;
  std::vector<TPosted> journal_;
};

TEST_F(ConfigStateTest, SyncronizedReplacesTheSyncInProgressFlagsSilently) {
  TRecorder handler(journal_);
  THandlerList::Add(handler.wnd());
  TConfig::AddState(asIdEstablished);
  TConfig::AddState(asSyncRequired | asSyncRunning, 1);
  ASSERT_EQ(TConfig::State(), asIdEstablished | asSyncRequired | asSyncRunning);
  Deliver();
  journal_.clear();
  std::size_t linesBefore = StateLines().size();

  TConfig::AddState(asSyncronized);
  EXPECT_EQ(TConfig::State(), asIdEstablished | asSyncronized);
  Deliver();
  ASSERT_EQ(journal_.size(), 1u);
  EXPECT_EQ(journal_[0].msg, KM_APP_STATE_CHANGED);
  EXPECT_EQ(journal_[0].msg, 1025u);
  EXPECT_EQ(journal_[0].wParam, asSyncronized);
  EXPECT_EQ(journal_[0].lParam, -1);
  std::vector<std::string> lines = StateLines();
  ASSERT_EQ(lines.size(), linesBefore + 1);
  EXPECT_EQ(lines.back(), "Application state=IdEstablished,Syncronized (added:Syncronized)");
}

TEST_F(ConfigStateTest, ExclusionRulesOfTheSyncFlags) {
  const struct {
    TAppState before;
    TAppState added;
    TAppState after;
  } cases[] = {
      {asSyncRequired | asSyncRunning, asSyncronized, asSyncronized},
      {asSyncronized | asSyncRunning, asSyncRequired, asSyncRequired},
      {asSyncronized | asSyncRequired, asSyncRunning, asSyncRunning},
      {asSyncronized | asInitialized, asSyncRunning, asSyncRunning | asInitialized},
      {asSyncRequired, asSynchronizable, asSyncRequired | asSynchronizable},
      // A combined flag is not one of the three: nothing is cleared.
      {asSyncronized, asSyncRequired | asSyncRunning, asSyncronized | asSyncRequired | asSyncRunning},
  };
  for (const auto& c : cases) {
    TConfig::ResetForTesting();
    // One combined add sets the starting flags as they are: the rules
    // apply to the three sync flags added alone.
    TConfig::AddState(c.before);
    ASSERT_EQ(TConfig::State(), c.before);
    TConfig::AddState(c.added);
    EXPECT_EQ(TConfig::State(), c.after) << "before " << c.before << " added " << c.added;
  }
}

TEST_F(ConfigStateTest, AddingWhatIsSetOrRemovingWhatIsNotDoesNothing) {
  TRecorder handler(journal_);
  THandlerList::Add(handler.wnd());
  TConfig::AddState(asInitialized);
  TConfig::AddState(asSidebarCodeOK);
  Deliver();
  ASSERT_EQ(journal_.size(), 2u);
  ASSERT_EQ(StateLines().size(), 2u);

  TConfig::AddState(asInitialized);
  TConfig::AddState(asInitialized | asSidebarCodeOK);
  TConfig::AddState(0);
  TConfig::RemoveState(asIdEstablished);
  TConfig::RemoveState(asIdEstablished | asInitialized);  // not all bits set
  TConfig::RemoveState(0);
  Deliver();
  EXPECT_EQ(journal_.size(), 2u);
  EXPECT_EQ(StateLines().size(), 2u);
  EXPECT_EQ(TConfig::State(), asInitialized | asSidebarCodeOK);

  TConfig::RemoveState(asInitialized, 7);
  Deliver();
  ASSERT_EQ(journal_.size(), 3u);
  EXPECT_EQ(journal_[2].wParam, asInitialized);
  EXPECT_EQ(journal_[2].lParam, 7);
  EXPECT_EQ(StateLines().back(), "Application state=sidebar-code-ok (removed:initialized)");
  EXPECT_FALSE(TConfig::HasState(asInitialized));
}

TEST_F(ConfigStateTest, UnnamedFlagsAreAnnouncedWithEmptyNames) {
  TRecorder handler(journal_);
  THandlerList::Add(handler.wnd());
  TConfig::AddState(asAjaxDocOK);
  TConfig::AddState(asClosing);
  Deliver();
  ASSERT_EQ(journal_.size(), 2u);
  EXPECT_EQ(journal_[1].wParam, asClosing);
  EXPECT_EQ(StateLines(), (std::vector<std::string>{"Application state= (added:)",
                                                    "Application state= (added:)"}));
}

TEST(ConfigStateNames, NamedFlagsInTableOrder) {
  const struct {
    TAppState flags;
    const char* names;
  } cases[] = {
      {asSidebarCodeOK | asAjaxDocOK | asInitialized, "sidebar-code-ok,initialized"},
      {asAjaxDocOK | asSbManagers1OK | asSbManagers2OK | asClosing, ""},
      {0, ""},
      {asConnectedToggle | asSidebarCodeOK, "sidebar-code-ok,ConnectedToggle"},
      {0xFFFFFFFFu,
       "sidebar-code-ok,initialized,IdEstablished,Synchronizable,SyncRequired,SyncRunning,"
       "Syncronized,ConnectedToggle"},
  };
  for (const auto& c : cases) EXPECT_EQ(TConfig::StateNames(c.flags), c.names) << c.flags;
}

TEST_F(ConfigStateTest, HasStateWantsEveryBit) {
  TConfig::AddState(asInitialized);
  TConfig::AddState(asIdEstablished);
  EXPECT_TRUE(TConfig::HasState(asInitialized | asIdEstablished));
  EXPECT_TRUE(TConfig::HasState(asInitialized));
  EXPECT_FALSE(TConfig::HasState(asInitialized | asClosing));
  EXPECT_TRUE(TConfig::HasState(0));
}

TEST_F(ConfigStateTest, HandlerListPostsOnceToEachWindowInListOrder) {
  TRecorder first(journal_), second(journal_), third(journal_);
  THandlerList::Add(second.wnd());
  THandlerList::Add(first.wnd());
  THandlerList::Add(second.wnd());  // already there
  THandlerList::Add(third.wnd());
  THandlerList::Add(0);
  EXPECT_EQ(THandlerList::Handles(),
            (std::vector<HWND>{second.wnd(), first.wnd(), third.wnd()}));

  THandlerList::Remove(third.wnd());
  HWND gone = CreateWindowObject("KelvoStateTest", nullptr);
  THandlerList::Add(gone);
  DestroyWindowObject(gone);  // still listed, but no window any more
  EXPECT_EQ(THandlerList::Post(WM_USER + 21, 5, 6), 2u);
  TConfig::AddState(asSidebarCodeOK);
  Deliver();
  ASSERT_EQ(journal_.size(), 4u);
  EXPECT_EQ(journal_[0].wnd, second.wnd());
  EXPECT_EQ(journal_[0].msg, WM_USER + 21u);
  EXPECT_EQ(journal_[1].wnd, first.wnd());
  EXPECT_EQ(journal_[2].wnd, second.wnd());
  EXPECT_EQ(journal_[2].msg, KM_APP_STATE_CHANGED);
  EXPECT_EQ(journal_[3].wnd, first.wnd());
}

}  // namespace
}  // namespace kelvo
