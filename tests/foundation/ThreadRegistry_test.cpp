#include "foundation/ThreadRegistry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace kelvo {
namespace {

// The registry is process-wide: each test uses class names of its own.

TEST(ThreadRegistry, CountsPerClassAndListsLiveOnesAsNameCountLines) {
  TThreadRegistry::Increment("TRegTestB");
  TThreadRegistry::Increment("TRegTestA");
  TThreadRegistry::Increment("TRegTestA");
  TThreadRegistry::Increment("TRegTestGone");
  TThreadRegistry::Decrement("TRegTestGone");

  EXPECT_EQ(TThreadRegistry::Count("TRegTestA"), 2);
  EXPECT_EQ(TThreadRegistry::Count("TRegTestB"), 1);
  EXPECT_EQ(TThreadRegistry::Count("TRegTestGone"), 0);
  EXPECT_TRUE(TThreadRegistry::HasLiveThreads());
  std::string text = TThreadRegistry::Text();
  EXPECT_NE(text.find("TRegTestA=2\r\nTRegTestB=1"), std::string::npos) << text;
  // A class back at zero is not reported as left over.
  EXPECT_EQ(text.find("TRegTestGone"), std::string::npos) << text;

  TThreadRegistry::Decrement("TRegTestA");
  TThreadRegistry::Decrement("TRegTestA");
  TThreadRegistry::Decrement("TRegTestB");
  EXPECT_EQ(TThreadRegistry::Snapshot().count("TRegTestA"), 0u);
  EXPECT_EQ(TThreadRegistry::Text().find("TRegTest"), std::string::npos);
}

TEST(ThreadRegistry, UnbalancedDecrementStaysVisible) {
  TThreadRegistry::Decrement("TRegTestUnbalanced");
  EXPECT_EQ(TThreadRegistry::Count("TRegTestUnbalanced"), -1);
  EXPECT_NE(TThreadRegistry::Text().find("TRegTestUnbalanced=-1"), std::string::npos);
  TThreadRegistry::Increment("TRegTestUnbalanced");
  EXPECT_EQ(TThreadRegistry::Count("TRegTestUnbalanced"), 0);
}

TEST(ThreadRegistry, RegistrationEndsWithItsScopeAlsoOnException) {
  try {
    TThreadRegistration registration("TRegTestScoped");
    EXPECT_EQ(TThreadRegistry::Count("TRegTestScoped"), 1);
    throw std::runtime_error("worker failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(TThreadRegistry::Count("TRegTestScoped"), 0);
}

TEST(ThreadRegistry, ConcurrentThreadsBalanceOut) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) TThreadRegistration registration("TRegTestConcurrent");
    });
  }
  TThreadRegistry::Increment("TRegTestConcurrent");
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(TThreadRegistry::Count("TRegTestConcurrent"), 1);
  TThreadRegistry::Decrement("TRegTestConcurrent");
  EXPECT_EQ(TThreadRegistry::Count("TRegTestConcurrent"), 0);
}

}  // namespace
}  // namespace kelvo
