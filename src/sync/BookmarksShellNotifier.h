#pragma once
// The Favorites change watcher: turns the shell notifications on the
// Favorites folder into a short, de-duplicated list of change records and
// hands it to its owner (the bookmarks controller) in batches: a batch is
// ready 10 ms after the last record, so the burst one user action causes
// becomes one batch. Main thread only.
//
// The owner stops the watcher around its own writes into the folder
// (Stop, write, Start); nothing it writes while stopped is reported.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace kelvo {

class TSHChangeNotify;

enum class TShellChangeKind : std::uint8_t { Create = 0, Delete = 1, Rename = 2, Change = 3 };

// "CREATE", "DELETE", "RENAME", "CHANGE".
const char* ShellChangeKindName(TShellChangeKind kind);

// One change; paths are relative to the watched folder and start with "/"
// ("/News/a.url"). Single-path changes have an empty old path.
class IShellChange {
 public:
  virtual ~IShellChange() = default;
  virtual bool IsFolder() const = 0;
  virtual TShellChangeKind Kind() const = 0;
  virtual const std::string& NewPath() const = 0;
  virtual const std::string& OldPath() const = 0;
  // Kind, folder flag and both paths equal (paths compared exactly).
  virtual bool Equals(const IShellChange& other) const = 0;
  // "Type:" + kind name + " (folder)" for folders + " " + new + " " + old.
  virtual std::string Text() const = 0;
};

using TShellChangePtr = std::shared_ptr<IShellChange>;

class TShellChange : public IShellChange {
 public:
  TShellChange(TShellChangeKind kind, bool isFolder, std::string newPath, std::string oldPath);
  bool IsFolder() const override { return isFolder_; }
  TShellChangeKind Kind() const override { return kind_; }
  const std::string& NewPath() const override { return newPath_; }
  const std::string& OldPath() const override { return oldPath_; }
  bool Equals(const IShellChange& other) const override;
  std::string Text() const override;

 private:
  TShellChangeKind kind_;
  bool isFolder_;
  std::string newPath_;
  std::string oldPath_;
};

// The watched path made relative: the watched folder (with its trailing
// "/") removed, the leading "/" kept. Empty when the path is not inside it.
std::string RelativeShellPath(const std::string& folder, const std::string& absolutePath);

class TBookmarksShellNotifier {
 public:
  // Message number of the shell notifications to the watcher's window.
  static constexpr UINT kNotifyMessageNo = WM_USER + 100;
  static constexpr std::uint32_t kBatchDelayMs = 10;

  // Called on the main thread when a batch is ready; Pending() holds it
  // during the call and stays unchanged even if the callback pumps messages
  // (records taken meanwhile make the next batch). The callback may Stop and
  // Start the watcher.
  using TChangesCallback = std::function<void(TBookmarksShellNotifier& notifier)>;

  // The folder is given with or without a trailing "/" (one is added).
  // Creates the watcher's window and registers it as a handler window.
  explicit TBookmarksShellNotifier(std::string folderPath);
  ~TBookmarksShellNotifier();
  TBookmarksShellNotifier(const TBookmarksShellNotifier&) = delete;
  TBookmarksShellNotifier& operator=(const TBookmarksShellNotifier&) = delete;

  // Does nothing when stopped for good (Closing), while the application
  // state Closing is set, or when already active. Throws
  // TSHChangeNotifyException when the folder cannot be watched.
  void Start();
  // Stops watching; records already taken still reach the callback.
  void Stop();
  bool IsActive() const { return active_; }
  // Set for good once the application state Closing was seen.
  bool IsStopped() const { return stopped_; }

  const std::string& FolderPath() const { return folderPath_; }
  const std::vector<TShellChangePtr>& Pending() const { return delivering_ ? batch_ : pending_; }
  void SetOnChanges(TChangesCallback callback) { onChanges_ = std::move(callback); }
  // The watcher's window: owner of the shell notifications and of the
  // batch timer; hears KM_APP_STATE_CHANGED.
  HWND Window() const { return window_; }

  // Takes one notification (absolute paths); what the shell handlers call.
  void Inform(TShellChangeKind kind, bool isFolder, const std::string& oldPath,
              const std::string& newPath);

 private:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void DelayFinished();

  std::string folderPath_;
  std::vector<TShellChangePtr> pending_;
  // The batch being handed to the callback, and whether that is under way.
  std::vector<TShellChangePtr> batch_;
  bool delivering_ = false;
  bool active_ = false;
  bool stopped_ = false;
  HWND window_ = 0;
  std::unique_ptr<TSHChangeNotify> notify_;
  TChangesCallback onChanges_;
  // When the first record of the pending batch was taken.
  std::chrono::steady_clock::time_point firstRecord_{};
};

}  // namespace kelvo
