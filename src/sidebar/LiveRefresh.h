#pragma once
// The live refresh of the sidebar code: the package beside the executable
// ("sidebar/Sidebar.zip" with its "sidebar/version.txt") is unpacked into the
// parent of the sidebar code folder when the unpacked code is older than the
// package or missing. Old code folders are renamed out of the way and
// deleted by a background thread. When a refresh ends the application-state
// flag sidebar-code-ok is added (not when the package is missing).
//
// One per process (Instance), with a hidden message window; main thread
// only, apart from the deletion thread, which reports back by message.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "foundation/FileTools.h"
#include "platform/Window.h"

namespace kelvo {

class TLiveRefresh {
 public:
  static constexpr const char* kClassName = "TLiveRefresh";
  // Posted to the refresh window by Start: runs the refresh.
  static constexpr UINT KM_LIVE_REFRESH = WM_USER + 24;
  // Posted by the deletion thread once the old code folders are gone.
  static constexpr UINT KM_OLD_SIDEBARS_DELETED = WM_USER + 241;
  // A code folder inside a developer's checkout (the repository's package
  // source, "sidebar-package/") always counts as the most recent.
  static constexpr const char* kDeveloperCheckoutMarker = "/sidebar-package/";
  static constexpr int kDeveloperVersion = 100000;

  TLiveRefresh();
  ~TLiveRefresh();
  TLiveRefresh(const TLiveRefresh&) = delete;
  TLiveRefresh& operator=(const TLiveRefresh&) = delete;

  // The process's refresh, created on first use.
  static TLiveRefresh& Instance();
  // Frees the process's refresh (shutdown, tests); the next Instance makes
  // a new one.
  static void FreeInstance();

  // The unpacked code's version: kDeveloperVersion in a developer checkout;
  // -1 unless the code folder holds "sidebar.html" and "version.txt";
  // otherwise the first line of "version.txt" as a number (-1 when it is
  // none).
  static int GetCurrentSBVersion();
  // The package's version: -1 unless both the package and its version.txt
  // exist; otherwise the version file's first line as a number (-1 when it
  // is none).
  static int GetPackageSBVersion();
  // The first line of the file read as a decimal integer (blanks and a
  // UTF-8 byte-order mark around it allowed); -1 when it is not one.
  static int ReadVersionFile(const std::string& path);
  static std::string PackagePath();
  static std::string PackageVersionPath();

  // The code is usable as it is: a known version at least as recent as the
  // package's, and no refresh running.
  bool CurrentSBIsLocallyMostRecent() const;
  // Starts a refresh unless one is running (a second start does nothing).
  void Start();
  bool Refreshing() const { return refreshing_; }
  // The last total progress of the extraction, 0 to 100.
  int Progress() const { return progress_.load(); }
  HWND Handle() const { return wnd_; }

  // Called after a refresh added sidebar-code-ok; the agent runs its
  // sidebar-code check again from here.
  void SetOnRefreshEnded(std::function<void()> handler) { onEnded_ = std::move(handler); }
  // The deletion of old code folders started by the last refresh (null when
  // none was started).
  std::shared_ptr<const TFileDeleteProgress> LastDeletion() const { return deletion_; }

  // The refresh itself (what the window runs on KM_LIVE_REFRESH).
  void UpdateSidebarFromPackage();

 private:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void MoveOldCodeAway(const std::string& base);
  void FinishRefresh(bool addState);

  HWND wnd_ = 0;
  bool refreshing_ = false;
  std::atomic<int> progress_{0};
  std::shared_ptr<const TFileDeleteProgress> deletion_;
  std::function<void()> onEnded_;
  UINT liveModuleSwitch_ = 0;
};

}  // namespace kelvo
