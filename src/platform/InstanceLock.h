#pragma once
// Single-instance guard of the agent: an exclusive lock on a file in the
// runtime folder. The lock belongs to this object; it is released when the
// object goes (or the process ends, whatever the way).

#include <string>

namespace kelvo {

// The name every agent process uses.
inline constexpr const char* kInstanceLockName = "KelvoExplorerBar";

class TInstanceLock {
 public:
  explicit TInstanceLock(std::string name = kInstanceLockName);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // True when this object holds the lock afterwards; false when another
  // holder (any process, or another object of this one) has it, or when the
  // lock file cannot be opened. Never blocks.
  bool Acquire();
  void Release();
  bool Held() const { return fd_ >= 0; }
  // <runtime folder> + name + ".lock".
  std::string LockFilePath() const;

 private:
  std::string name_;
  int fd_ = -1;
};

}  // namespace kelvo
