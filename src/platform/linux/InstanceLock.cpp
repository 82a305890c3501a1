#include "platform/InstanceLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/SpecialFolders.h"

namespace kelvo {

TInstanceLock::TInstanceLock(std::string name) : name_(std::move(name)) {}

TInstanceLock::~TInstanceLock() { Release(); }

std::string TInstanceLock::LockFilePath() const { return RuntimeFolder() + name_ + ".lock"; }

bool TInstanceLock::Acquire() {
  if (fd_ >= 0) return true;
  std::string folder = EnsureRuntimeFolder();
  if (folder.empty()) return false;
  std::string file = folder + name_ + ".lock";
  // Close-on-exec: a program the agent starts must not keep the lock alive
  // after the agent has gone.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void TInstanceLock::Release() {
  if (fd_ < 0) return;
  // Closing drops the lock; the file stays, so that a waiting process never
  // locks a file that is about to be unlinked.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace kelvo
