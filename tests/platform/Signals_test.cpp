#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Signals.h"
#include "platform/Window.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;

TEST(Signals, TerminationSignalsArriveInTheLoopOnTheMainThread) {
  std::vector<int> got;
  std::thread::id ranOn;
  OnTerminationSignal([&](int signo) {
    got.push_back(signo);
    ranOn = std::this_thread::get_id();
  });
  // From another thread, as a process-directed signal may land on any thread.
  std::thread killer([] {
    kill(getpid(), SIGTERM);
  });
  killer.join();
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (got.empty() && std::chrono::steady_clock::now() < deadline) PumpMessages(20);
  ASSERT_EQ(got, std::vector<int>{SIGTERM});
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  kill(getpid(), SIGINT);
  deadline = std::chrono::steady_clock::now() + 5s;
  while (got.size() < 2 && std::chrono::steady_clock::now() < deadline) PumpMessages(20);
  EXPECT_EQ(got, (std::vector<int>{SIGTERM, SIGINT}));
  OnTerminationSignal(nullptr);
}

TEST(Signals, DefaultActionIsBackAfterClearing) {
  OnTerminationSignal([](int) {});
  OnTerminationSignal(nullptr);
  EXPECT_EXIT(
      {
        // A signal sent to oneself is delivered before kill() returns.
        kill(getpid(), SIGTERM);
        _exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
}  // namespace kelvo
