#pragma once
// The install backup: a one-time copy of the whole Favorites folder into the
// archive's "Init/" folder, taken on a worker thread after the first
// integration of the Favorites. The tree is never touched, only files. The
// setting "safety-backup-done" becomes true only when everything was
// copied, so that a failed copy is tried again at the next start.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kelvo {

class TSafetyBackupThread {
 public:
  static constexpr const char* kClassName = "TSafetyBackupThread";
  // Runs on the worker as its last step with the result; must not raise.
  using TOnDone = std::function<void(bool success)>;

  // Starts the copy of favoritesFolder into backupFolder; the thread frees
  // itself when it ends. Counted in the thread registry while it runs.
  static std::shared_ptr<TSafetyBackupThread> Start(const std::string& favoritesFolder,
                                                    const std::string& backupFolder, TOnDone onDone = {});
  // Starts the copy of the Favorites folder into the agent's install-backup
  // folder unless "safety-backup-done" is true; none when not started.
  static std::shared_ptr<TSafetyBackupThread> StartIfNeeded(const std::string& favoritesFolder);

  // The copy without a thread: creates backupFolder, logs "Doing safety
  // backup to " + folder, copies, sets "safety-backup-done" on success.
  // Failures are logged; answers whether the copy is complete.
  static bool Run(const std::string& favoritesFolder, const std::string& backupFolder);

  bool WaitFinished(std::chrono::milliseconds timeout) const;
  // Valid once finished.
  bool Succeeded() const;

 private:
  TSafetyBackupThread() = default;

  mutable std::mutex lock_;
  mutable std::condition_variable finishedCv_;
  bool finished_ = false;
  bool success_ = false;
};

}  // namespace kelvo
