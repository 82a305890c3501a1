// The shell notification component on a real folder: messages to the
// owner window, dispatch by event, the repeat filter, deregistration.

#include "sync/SHChangeNotify.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestHome.h"
#include "TestLoop.h"
#include "foundation/Log.h"
#include "platform/Window.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PumpUntil;
using test::PumpFor;

struct TCall {
  std::uint32_t event;
  std::string path1;
  std::string path2;
  bool operator==(const TCall&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TCall& c) {
  return os << std::hex << "0x" << c.event << std::dec << " " << c.path1 << " " << c.path2;
}

class SHChangeNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TLog::ResetForTests();
    root_ = home_.Path() / "Favorites";
    fs::create_directories(root_);
    owner_ = CreateWindowObject("TestOwner", [this](HWND h, UINT m, WPARAM w, LPARAM l) {
      if (onMessage_) onMessage_(m, w, l);
      if (m >= WM_USER) messages_.push_back(m);
      LRESULT result = 0;
      if (notify_ && notify_->HandleMessage(m, w, l, result)) return result;
      return DefWindowProc(h, m, w, l);
    });
    notify_ = std::make_unique<TSHChangeNotify>(owner_, root_.string() + "/");
  }
  void TearDown() override {
    notify_.reset();
    DestroyWindowObject(owner_);
  }

  // Handlers for the file events, recording what they are given.
  void ConnectFileHandlers() {
    for (std::uint32_t e : {SHCNE_CREATE, SHCNE_DELETE, SHCNE_UPDATEITEM}) {
      notify_->SetHandler(e, TSHChangeNotify::TOnePathHandler(
                                 [this, e](const std::string& p) { calls_.push_back({e, p, ""}); }));
    }
    notify_->SetHandler(SHCNE_RENAMEITEM,
                        TSHChangeNotify::TTwoPathHandler(
                            [this](const std::string& newPath, const std::string& oldPath) {
                              calls_.push_back({SHCNE_RENAMEITEM, newPath, oldPath});
                            }));
  }

  std::size_t CountOf(std::uint32_t event) const {
    std::size_t n = 0;
    for (const auto& c : calls_) n += c.event == event;
    return n;
  }

  std::string P(const std::string& rel) const { return (root_ / rel).string(); }

  test::TTestHome home_;
  fs::path root_;
  HWND owner_ = 0;
  std::unique_ptr<TSHChangeNotify> notify_;
  std::function<void(UINT, WPARAM, LPARAM)> onMessage_;
  std::vector<UINT> messages_;
  std::vector<TCall> calls_;
};

TEST_F(SHChangeNotifyTest, MessageNumbersBelowWmUserAreRefused) {
  EXPECT_EQ(notify_->MessageNo(), 1024u);
  try {
    notify_->SetMessageNo(1023);
    FAIL() << "no exception";
  } catch (const TSHChangeNotifyException& e) {
    EXPECT_EQ(e.Message(), "MessageNo must be greater than or equal to 1024");
  }
  EXPECT_EQ(notify_->MessageNo(), 1024u);
  notify_->SetMessageNo(1024);
  notify_->SetMessageNo(1124);
  EXPECT_EQ(notify_->MessageNo(), 1124u);
}

TEST_F(SHChangeNotifyTest, ChangesArriveAsTheMessageNumberAtTheOwnerAndReachTheirHandler) {
  notify_->SetMessageNo(1124);
  ConnectFileHandlers();
  EXPECT_EQ(notify_->EventMask(),
            SHCNE_CREATE | SHCNE_DELETE | SHCNE_UPDATEITEM | SHCNE_RENAMEITEM);
  std::vector<LPARAM> events;
  onMessage_ = [&](UINT m, WPARAM, LPARAM l) {
    if (m == 1124) events.push_back(l);
  };
  notify_->Register();
  ASSERT_TRUE(notify_->IsRegistered());

  fs::create_directory(root_ / "Folder");  // no handler: message, but no call
  test::WriteFileText(root_ / "a.url", "x");
  fs::rename(root_ / "a.url", root_ / "b.url");
  fs::remove(root_ / "b.url");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_DELETE) == 1; }));
  const std::vector<TCall> expected = {
      {SHCNE_CREATE, P("a.url"), ""},
      {SHCNE_UPDATEITEM, P("a.url"), ""},
      {SHCNE_RENAMEITEM, P("b.url"), P("a.url")},  // new path first
      {SHCNE_DELETE, P("b.url"), ""},
  };
  EXPECT_EQ(calls_, expected);
  // Only the events that have a handler are asked for.
  ASSERT_EQ(events.size(), expected.size());
  for (std::size_t i = 0; i < events.size(); ++i)
    EXPECT_EQ(static_cast<std::uint32_t>(events[i]), expected[i].event);
}

TEST_F(SHChangeNotifyTest, ARepeatWithinOneBurstIsDroppedButALaterEditIsNot) {
  ConnectFileHandlers();
  notify_->Register();
  test::WriteFileText(root_ / "b.url", "x");
  test::WriteFileText(root_ / "a.url", "x");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_UPDATEITEM) == 2; }));
  calls_.clear();

  // Renaming a over b reports b as updated, and so does the write that
  // follows before anything is read: the second report is a repeat.
  fs::rename(root_ / "a.url", root_ / "b.url");
  test::WriteFileText(root_ / "b.url", "y");
  fs::create_directory(root_ / "Marker");
  test::WriteFileText(root_ / "Marker" / "m.url", "m");
  // The marker's file existed before its new folder was watched, so it
  // comes last, as a creation found in the folder.
  const TCall lastOne{SHCNE_CREATE, P("Marker/m.url"), ""};
  ASSERT_TRUE(PumpUntil([&] { return !calls_.empty() && calls_.back() == lastOne; }));
  EXPECT_EQ(CountOf(SHCNE_UPDATEITEM), 1u) << ::testing::PrintToString(calls_);
  calls_.clear();

  // The same item edited again later is a new change, not a repeat, even
  // with nothing else in between.
  test::WriteFileText(root_ / "b.url", "z");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_UPDATEITEM) == 1; }));
  test::WriteFileText(root_ / "b.url", "zz");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_UPDATEITEM) == 2; }))
      << ::testing::PrintToString(calls_);
  const std::vector<TCall> edits(2, TCall{SHCNE_UPDATEITEM, P("b.url"), ""});
  EXPECT_EQ(calls_, edits);
}

TEST_F(SHChangeNotifyTest, PathsOfDifferentCaseAreDifferentItems) {
  ConnectFileHandlers();
  notify_->Register();
  test::WriteFileText(root_ / "a.url", "x");
  test::WriteFileText(root_ / "A.url", "x");
  fs::remove(root_ / "a.url");
  fs::remove(root_ / "A.url");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_DELETE) == 2; }));
  EXPECT_EQ(CountOf(SHCNE_CREATE), 2u);
}

TEST_F(SHChangeNotifyTest, LongPathsArriveWhole) {
  // Deep Favorites easily pass 260 characters; a cut path would name
  // another item (or none).
  const fs::path deep = root_ / std::string(200, 'd') / (std::string(150, 'e') + " \xC3\xA9t\xC3\xA9");
  fs::create_directories(deep);
  ConnectFileHandlers();
  notify_->Register();
  const fs::path file = deep / (std::string(100, 'f') + ".url");
  test::WriteFileText(file, "x");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_CREATE) == 1; }));
  EXPECT_GT(file.string().size(), 400u);
  EXPECT_EQ(calls_.front().path1, file.string());
}

TEST_F(SHChangeNotifyTest, NothingQueuedIsDeliveredAfterDeregistering) {
  ConnectFileHandlers();
  notify_->Register();
  // The owner deregisters as the first notification arrives: the rest,
  // already posted, must not reach a handler.
  bool deregistered = false;
  onMessage_ = [&](UINT m, WPARAM, LPARAM) {
    if (m == notify_->MessageNo() && !deregistered) {
      deregistered = true;
      notify_->Deregister();
    }
  };
  for (int i = 0; i < 5; ++i) test::WriteFileText(root_ / ("f" + std::to_string(i) + ".url"), "x");
  ASSERT_TRUE(PumpUntil([&] { return deregistered; }));
  PumpFor(50ms);
  EXPECT_TRUE(calls_.empty());
  EXPECT_FALSE(notify_->IsRegistered());

  // Registering again starts afresh: only new changes are reported.
  onMessage_ = nullptr;
  notify_->Register();
  fs::remove(root_ / "f0.url");
  ASSERT_TRUE(PumpUntil([&] { return CountOf(SHCNE_DELETE) == 1; }));
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(SHChangeNotifyTest, EndOfSessionDeregistersAndAnswersOne) {
  notify_->Register();
  EXPECT_EQ(SendMessage(owner_, WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_FALSE(notify_->IsRegistered());
}

TEST_F(SHChangeNotifyTest, AFolderThatCannotBeWatchedFailsRegistration) {
  for (const std::string& path : {home_.Sub("missing/"), std::string()}) {
    TSHChangeNotify notify(owner_, path);
    try {
      notify.Register();
      FAIL() << "registered " << path;
    } catch (const TSHChangeNotifyException& e) {
      EXPECT_EQ(e.Message(), "Could not register SHChangeNotify");
    }
    EXPECT_FALSE(notify.IsRegistered());
  }
}

}  // namespace
}  // namespace kelvo
