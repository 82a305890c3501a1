#pragma once
// The main agent: the hidden main form TKelvoFrm with its start-up sequence,
// the state window that reacts to the application-state set, the IE-closed
// timer with the periodic run, and the shutdown sequence. Main thread only,
// except where noted.
//
// Steps that need a subsystem not built yet (key-value store, hidden service
// documents, tray icon, live refresh, bookmarks controller, dialogs, server
// transport) are marked "Seam:" in Main.cpp; they do nothing and add no
// state flag on their own.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/DateUtils.h"
#include "platform/Window.h"

namespace kelvo {

// Run modes of the process.
inline constexpr const char* kRunModeNormal = "normal";
inline constexpr const char* kRunModeAjax = "ajax";

// "ajax" when the only argument after the program is the switch UNINSTALL1
// ("/" or "-", case ignored), else "normal".
std::string RunModeOf(const std::vector<std::string>& commandLine);
// The process-wide run mode ("normal" until set).
std::string RunMode();
void SetRunMode(const std::string& mode);
bool IsUninstallMode();

// The application title ("Kelvo for Internet Explorer"; tests may use
// "kelvotests" to keep the hidden documents from loading).
inline constexpr const char* kApplicationTitle = "Kelvo for Internet Explorer";
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// Set once the main form has been allowed to close.
bool ApplicationTerminating();

// The forms of the agent, by name, in opening order ("Top level Open
// forms", "FormCount"). Forms add themselves when created.
void AddOpenForm(HWND wnd, const std::string& name);
void RemoveOpenForm(HWND wnd);
std::vector<std::string> OpenFormNames();

// Logs a failed assertion as "%s (%s, line %d, address $%x)".
void InstallAssertionHandler();

// The language of the user interface from the display name of the system
// language: "fr" when, lower-cased, it contains "france", else "en"; a
// non-empty stored language wins.
std::string DetermineLanguage(const std::string& systemLanguageName,
                              const std::string& storedLanguage);

class TKelvoFrm {
 public:
  static constexpr const char* kClassName = "TKelvoFrm";
  static constexpr const char* kFormName = "KelvoFrm";
  static constexpr const char* kStateWindowClass = "TStateMsgWindow";
  static constexpr std::uintptr_t kCheckIEClosedTimerId = 1;
  static constexpr std::uint32_t kCheckIEClosedIntervalMs = 250;
  static constexpr int kPeriodicRunMinutes = 480;

  // exePath: the running executable (AppPath and the file version).
  explicit TKelvoFrm(std::string exePath);
  // Runs the shutdown sequence if the form was not closed yet.
  ~TKelvoFrm();
  TKelvoFrm(const TKelvoFrm&) = delete;
  TKelvoFrm& operator=(const TKelvoFrm&) = delete;

  // Form creation: the installer's language handshake, then the start-up
  // sequence. A failing start-up closes the form (posted WM_CLOSE for our
  // own exceptions, at once for any other).
  void Create();

  HWND Handle() const { return wnd_; }
  HWND StateWindow() const { return stateWnd_; }

  // The tray menu's "Close Kelvo for Internet Explorer": tell every sidebar
  // to close, broadcast the quit message, close the main form. Termination
  // signals take the same way.
  void MnuExitClick();
  // Close query, close and destroy, once; then ends the message loop with
  // exit code 0.
  void Close();
  bool Closed() const { return closed_; }

  // The periodic run's timing.
  const TDateTime& NextPeriodicRun() const { return nextPeriodicRun_; }
  // initialized and IdEstablished set, more than 10 minutes since the
  // start, and now later than the next run.
  bool PeriodicRunDue(const TDateTime& now) const;
  bool CheckIEClosedTimerEnabled() const { return checkIEClosedTimerEnabled_; }

 private:
  LRESULT WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT StateWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnAppStateChanged(UINT flag, LPARAM argument);
  void StartUp();
  void StartUpNormal();
  bool UninstallModeMayStart();
  void LogStartupFacts();
  void ForceInitialPaths();
  void DetermineAndStoreLanguage();
  void DeleteObsoleteShortcuts(const std::string& lang);
  void EnableCheckIEClosedTimer();
  void CheckIEClosedTimerTimer();
  void PeriodicRun(const TDateTime& now);
  LRESULT CloseMain();
  void FormCloseQuery();
  void FormClose();
  void FormDestroy();
  void DestroyObjects();
  void BroadcastToTopLevel(UINT msg, WPARAM wParam, LPARAM lParam);
  std::vector<HWND> SidebarWindows() const;

  std::string exePath_;
  HWND wnd_ = 0;
  HWND stateWnd_ = 0;
  bool closing_ = false;
  bool closed_ = false;
  bool closeDone_ = false;
  bool checkIEClosedTimerEnabled_ = false;
  bool showDocuments_ = false;
  bool downloadRunning_ = false;
  TDateTime nextPeriodicRun_{};
  TDateTime startTime_{};
  std::uint64_t startTick_ = 0;
  // 0 until the first sidebar ping.
  std::uint64_t lastPingTick_ = 0;
  bool pinged_ = false;
  // Sidebars asked to close, with the tick count of the request.
  std::map<HWND, std::uint64_t> sidebarsAsked_;
};

}  // namespace kelvo
