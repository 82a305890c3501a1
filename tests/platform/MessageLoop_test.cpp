#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "TestLoop.h"
#include "platform/Window.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;
using test::PumpFor;

// A window that records every message; destroyed with the test.
class TRecorder {
 public:
  struct TMsg {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
  };
  explicit TRecorder(const std::string& cls = "TestRecorder", HWND parent = 0) {
    wnd_ = CreateWindowObject(
        cls,
        [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
          got.push_back({m, w, l});
          if (onMessage) return onMessage(h, m, w, l);
          return DefWindowProc(h, m, w, l);
        },
        parent);
  }
  ~TRecorder() { DestroyWindowObject(wnd_); }
  HWND wnd() const { return wnd_; }
  std::size_t Count(UINT msg) const {
    std::size_t n = 0;
    for (const auto& m : got) n += m.msg == msg;
    return n;
  }
  std::vector<TMsg> got;
  TWndProc onMessage;

 private:
  HWND wnd_;
};

TEST(MessageLoop, PostedMessagesFromManyThreadsKeepEachThreadsOrder) {
  TRecorder rec;
  ASSERT_NE(rec.wnd(), 0u);
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessage(rec.wnd(), WM_USER + 1, t, i));
    });
  }
  ASSERT_TRUE(PumpUntil([&] { return rec.got.size() == kThreads * kEach; }));
  for (auto& th : threads) th.join();
  std::vector<LPARAM> next(kThreads, 0);
  for (const auto& m : rec.got) {
    ASSERT_EQ(m.msg, WM_USER + 1);
    ASSERT_EQ(m.lParam, next[m.wParam]) << "thread " << m.wParam << " out of order";
    ++next[m.wParam];
  }
}

TEST(MessageLoop, PostToMissingWindowFailsAndDestroyedWindowGetsNothingMore) {
  EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0));
  auto rec = std::make_unique<TRecorder>();
  HWND wnd = rec->wnd();
  ASSERT_TRUE(PostMessage(wnd, WM_USER + 7, 0, 0));
  std::vector<UINT> order;
  rec->onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    order.push_back(m);
    return 0;
  };
  rec.reset();  // destroys with a message still queued
  EXPECT_EQ(order, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(PostMessage(wnd, WM_USER, 0, 0));
  EXPECT_EQ(SendMessage(wnd, WM_USER, 0, 0), 0);
  EXPECT_FALSE(SetTimer(wnd, 1, 10));
  EXPECT_FALSE(DestroyWindowObject(wnd));
  PumpFor(30ms);  // the queued message must not reach the freed procedure
  // A handle is never given to a later window, so stale handles stay dead.
  TRecorder later;
  EXPECT_NE(later.wnd(), wnd);
}

TEST(MessageLoop, DestroyingParentDestroysChildrenBetweenItsTwoMessages) {
  std::vector<std::pair<HWND, UINT>> seen;
  auto proc = [&](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_DESTROY || m == WM_NCDESTROY) seen.emplace_back(h, m);
    return 0;
  };
  HWND parent = CreateWindowObject("Parent", proc);
  HWND child = CreateWindowObject("Child", proc, parent);
  ASSERT_NE(child, 0u);
  EXPECT_EQ(GetParentWindow(child), parent);
  EXPECT_EQ(CreateWindowObject("Orphan", proc, 0xFFFFFFF0u), 0u);
  ASSERT_TRUE(DestroyWindowObject(parent));
  EXPECT_EQ(seen, (std::vector<std::pair<HWND, UINT>>{{parent, WM_DESTROY},
                                                      {child, WM_DESTROY},
                                                      {child, WM_NCDESTROY},
                                                      {parent, WM_NCDESTROY}}));
  EXPECT_FALSE(IsWindow(child));
}

TEST(MessageLoop, CloseDestroysThroughDefaultProcedureEvenFromInsideItself) {
  auto rec = std::make_unique<TRecorder>();
  HWND wnd = rec->wnd();
  ASSERT_TRUE(PostMessage(wnd, WM_CLOSE, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(wnd); }));
  EXPECT_EQ(rec->Count(WM_DESTROY), 1u);
  EXPECT_EQ(rec->Count(WM_NCDESTROY), 1u);
}

TEST(MessageLoop, SendMessageIsDirectAndReentrant) {
  TRecorder a("SendA");
  TRecorder b("SendB");
  int depth = 0;
  int maxDepth = 0;
  a.onMessage = [&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m != WM_USER) return 0;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    LRESULT r = w == 0 ? 1 : 1 + SendMessage(h, WM_USER, w - 1, 0);
    --depth;
    return r;
  };
  b.onMessage = [&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    return m == WM_USER ? 100 + SendMessage(a.wnd(), WM_USER, 4, 0) : 0;
  };
  EXPECT_EQ(SendMessage(b.wnd(), WM_USER, 0, 0), 105);
  EXPECT_EQ(maxDepth, 5);

  // A window that destroys itself while handling a sent message.
  auto self = std::make_unique<TRecorder>("SelfDestroy");
  HWND selfWnd = self->wnd();
  self->onMessage = [&](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_USER) {
      DestroyWindowObject(h);
      return 9;
    }
    return 0;
  };
  EXPECT_EQ(SendMessage(selfWnd, WM_USER, 0, 0), 9);
  EXPECT_FALSE(IsWindow(selfWnd));
}

TEST(MessageLoop, SendMessageFromAnotherThreadRunsOnTheLoopThread) {
  TRecorder rec;
  std::thread::id ranOn;
  rec.onMessage = [&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == WM_USER) ranOn = std::this_thread::get_id();
    return static_cast<LRESULT>(w * 2);
  };
  std::atomic<LRESULT> answer{-1};
  std::thread worker([&] { answer = SendMessage(rec.wnd(), WM_USER, 21, 0); });
  ASSERT_TRUE(PumpUntil([&] { return answer != -1; }));
  worker.join();
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MessageLoop, TimersFireWithTheirIdUntilKilled) {
  TRecorder rec;
  ASSERT_TRUE(SetTimer(rec.wnd(), 7, 15));
  ASSERT_TRUE(SetTimer(rec.wnd(), 8, 40));
  ASSERT_TRUE(PumpUntil([&] {
    std::size_t seven = 0, eight = 0;
    for (const auto& m : rec.got) {
      if (m.msg == WM_TIMER) {
        (m.wParam == 7 ? seven : eight)++;
      }
    }
    return seven >= 3 && eight >= 1;
  }));
  for (const auto& m : rec.got) {
    if (m.msg == WM_TIMER) {
      EXPECT_TRUE(m.wParam == 7 || m.wParam == 8);
    }
  }
  EXPECT_TRUE(KillTimer(rec.wnd(), 7));
  EXPECT_TRUE(KillTimer(rec.wnd(), 8));
  EXPECT_FALSE(KillTimer(rec.wnd(), 8));
  std::size_t before = rec.Count(WM_TIMER);
  PumpFor(80ms);
  EXPECT_EQ(rec.Count(WM_TIMER), before);
}

TEST(MessageLoop, TimerKilledByItsOwnHandlerFiresOnceAndSlowLoopGetsNoBurst) {
  TRecorder once;
  once.onMessage = [&](HWND h, UINT m, WPARAM w, LPARAM) -> LRESULT {
    if (m == WM_TIMER) KillTimer(h, w);
    return 0;
  };
  ASSERT_TRUE(SetTimer(once.wnd(), 1, 10));
  ASSERT_TRUE(PumpUntil([&] { return once.Count(WM_TIMER) == 1; }));
  PumpFor(50ms);
  EXPECT_EQ(once.Count(WM_TIMER), 1u);

  TRecorder slow;
  ASSERT_TRUE(SetTimer(slow.wnd(), 2, 10));
  std::this_thread::sleep_for(100ms);  // the loop is busy elsewhere (not a wait for a thread)
  PumpMessages(0);
  EXPECT_EQ(slow.Count(WM_TIMER), 1u);
}

TEST(MessageLoop, RegisteredMessagesShareANumberPerNameIgnoringCase) {
  UINT a = RegisterWindowMessage("KelvoTestMessage");
  UINT b = RegisterWindowMessage("kelvotestMESSAGE");
  UINT c = RegisterWindowMessage("KelvoTestMessage2");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_GE(c, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
  // Case folding is ASCII only: a different non-ASCII letter is another name.
  EXPECT_NE(RegisterWindowMessage("Ärger"), RegisterWindowMessage("ärger"));
}

TEST(MessageLoop, FindsWindowsByClassIgnoringCaseInCreationOrder) {
  TRecorder first("IEFrameTest");
  TRecorder second("iefRAMEtest");
  TRecorder other("Other");
  HWND peer = CreateWindowObject("IEFrameTest", nullptr);  // a peer's stand-in
  EXPECT_EQ(FindWindowByClass("IEFRAMETEST"), first.wnd());
  EXPECT_EQ(FindWindowsByClass("IEFrameTest"),
            (std::vector<HWND>{first.wnd(), second.wnd(), peer}));
  EXPECT_EQ(GetWindowClassName(second.wnd()), "iefRAMEtest");
  EXPECT_EQ(FindWindowByClass("NoSuchClass"), 0u);
  EXPECT_TRUE(PostMessage(peer, WM_USER, 0, 0));  // dropped, no procedure
  PumpMessages(0);
  auto all = ListWindows();
  EXPECT_NE(std::find(all.begin(), all.end(), other.wnd()), all.end());
  EXPECT_TRUE(DestroyWindowObject(peer));
  EXPECT_EQ(FindWindowsByClass("IEFrameTest").size(), 2u);
}

TEST(MessageLoop, ThrowingProcedureIsReportedAndTheLoopGoesOn) {
  std::vector<std::pair<std::string, std::string>> reports;
  SetUncaughtExceptionHandler([&](const std::string& ctx, const std::string& what) {
    reports.emplace_back(ctx, what);
  });
  TRecorder rec("Thrower");
  rec.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_USER) throw std::runtime_error("boom");
    if (m == WM_USER + 1) throw 42;
    return 0;
  };
  ASSERT_TRUE(PostMessage(rec.wnd(), WM_USER, 0, 0));
  ASSERT_TRUE(PostMessage(rec.wnd(), WM_USER + 1, 0, 0));
  ASSERT_TRUE(PostMessage(rec.wnd(), WM_USER + 2, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return rec.Count(WM_USER + 2) == 1; }));
  EXPECT_EQ(SendMessage(rec.wnd(), WM_USER, 0, 0), 0);
  SetUncaughtExceptionHandler(nullptr);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].first, "window procedure Thrower message $0400");
  EXPECT_EQ(reports[0].second, "boom");
  EXPECT_EQ(reports[1].second, "unknown exception");
}

TEST(MessageLoop, FdWatchCallsHandlerOnMainThreadUntilRemoved) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::vector<char> got;
  std::thread::id ranOn;
  AddFdWatch(p[0], [&](int fd) {
    char c;
    if (read(fd, &c, 1) == 1) got.push_back(c);
    ranOn = std::this_thread::get_id();
  });
  // A loop already waiting must notice the new data from another thread.
  std::thread writer([&] { ASSERT_EQ(write(p[1], "ab", 2), 2); });
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 2; }));
  writer.join();
  EXPECT_EQ(got, (std::vector<char>{'a', 'b'}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  RemoveFdWatch(p[0]);
  ASSERT_EQ(write(p[1], "c", 1), 1);
  PumpFor(40ms);
  EXPECT_EQ(got.size(), 2u);
  close(p[0]);
  close(p[1]);
}

TEST(MessageLoop, ClosedWatchedDescriptorIsDroppedNotSpun) {
  std::vector<std::string> reports;
  SetUncaughtExceptionHandler(
      [&](const std::string& ctx, const std::string&) { reports.push_back(ctx); });
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int calls = 0;
  AddFdWatch(p[0], [&](int) { ++calls; });
  close(p[0]);
  close(p[1]);
  PumpFor(40ms);
  SetUncaughtExceptionHandler(nullptr);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(reports.size(), 1u);
}

TEST(MessageLoop, QuitFromAnotherThreadEndsRunAfterEarlierMessages) {
  TRecorder rec;
  std::thread worker([&] {
    PostMessage(rec.wnd(), WM_USER, 1, 0);
    PostMessage(rec.wnd(), WM_USER, 2, 0);
    PostQuitMessage(3);
  });
  EXPECT_EQ(RunMessageLoop(), 3);
  worker.join();
  EXPECT_EQ(rec.Count(WM_USER), 2u);
  // The loop can run again afterwards, and a plain pump reports the quit.
  PostQuitMessage(0);
  EXPECT_FALSE(PumpMessages(1000));
  EXPECT_TRUE(PumpMessages(0));
}

}  // namespace
}  // namespace kelvo
