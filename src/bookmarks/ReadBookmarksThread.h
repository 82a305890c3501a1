#pragma once
// The background reader of the Favorites folder: builds the TFileTree,
// computes its keys, removes duplicate siblings (which marks the duplicate
// bookmarks) and stores it in the process-wide slot for the current
// Favorites tree. It runs once and frees itself when it ends; the starter
// may keep the handle to wait for it. Nothing else touches the new tree
// until the thread has stored it; the result reaches the main thread
// through the termination handler or the posted message.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "bookmarks/FileTree.h"
#include "platform/Window.h"

namespace kelvo {

// The process-wide slot of the current Favorites tree (read by the
// bookmarks controller). Any thread.
TFileTreePtr CurrentFavoritesTree();
void SetCurrentFavoritesTree(const TFileTreePtr& tree);

class TReadBookmarksThread {
 public:
  static constexpr const char* kClassName = "TReadBookmarksThread";
  // Runs on the reader thread as its last step, with the tree read (nullptr
  // when reading failed). It must not raise.
  using TOnTerminate = std::function<void(const TFileTreePtr& tree)>;

  // Starts a reader of directory. Counted in the thread registry as
  // kClassName while it runs.
  static std::shared_ptr<TReadBookmarksThread> Start(const std::string& directory,
                                                     TOnTerminate onTerminate = {});
  // The same, posting message to window at the end (wParam 1 when a tree
  // was read, 0 when reading failed; lParam 0).
  static std::shared_ptr<TReadBookmarksThread> Start(const std::string& directory, HWND window, UINT message);

  // Waits until the thread has run its termination handler and left the
  // thread registry; false when the timeout passed first.
  bool WaitFinished(std::chrono::milliseconds timeout) const;
  bool Finished() const;
  // The tree this thread read; nullptr while it runs and after a failure.
  TFileTreePtr Tree() const;

  // The reader's work without a thread: read, keys, duplicates, slot.
  // Raises what reading raises.
  static TFileTreePtr ReadTree(const std::string& directory);

 private:
  TReadBookmarksThread(std::string directory, TOnTerminate onTerminate);
  void Run();

  const std::string directory_;
  const TOnTerminate onTerminate_;
  mutable std::mutex lock_;
  mutable std::condition_variable finishedCv_;
  bool finished_ = false;
  TFileTreePtr tree_;
};

}  // namespace kelvo
