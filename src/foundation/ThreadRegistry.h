#pragma once
// Process-wide count of live worker threads per thread class, so that the
// agent can tell at shutdown which workers have not ended yet. Any thread may
// call it.

#include <map>
#include <string>

namespace kelvo {

class TThreadRegistry {
 public:
  TThreadRegistry() = delete;

  static void Increment(const std::string& className);
  // A decrement without its increment shows up as a negative count rather
  // than being hidden: it is a bookkeeping fault worth seeing at shutdown.
  static void Decrement(const std::string& className);
  static int Count(const std::string& className);
  // True when any class has a non-zero count.
  static bool HasLiveThreads();
  // Classes with a non-zero count, by name.
  static std::map<std::string, int> Snapshot();
  // The snapshot as "name=count" lines joined by CR LF (empty when none).
  static std::string Text();
};

// Counts one live thread of a class for its own lifetime; made first thing
// in a thread's body so that an exception cannot leave the count behind.
class TThreadRegistration {
 public:
  explicit TThreadRegistration(std::string className);
  ~TThreadRegistration();
  TThreadRegistration(const TThreadRegistration&) = delete;
  TThreadRegistration& operator=(const TThreadRegistration&) = delete;

 private:
  std::string className_;
};

}  // namespace kelvo
