#include "agent/Main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "agent/Backups.h"
#include "agent/ConnectStep.h"
#include "agent/Messages.h"
#include "agent/SidebarChain.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/KException.h"
#include "foundation/Log.h"
#include "foundation/PlatformInfo.h"
#include "foundation/ThreadRegistry.h"
#include "platform/Assert.h"
#include "platform/SpecialFolders.h"
#include "platform/SystemInfo.h"

namespace kelvo {

namespace {

constexpr const char* kSidebarWindowClass = "TEBarFrm";
constexpr const char* kIEFrameClass = "IEFrame";
constexpr std::uint64_t kPingGraceMs = 1000;
constexpr std::uint64_t kSidebarCloseGraceMs = 1000;
constexpr std::int64_t kNoSidebarCloseAfterMs = 10 * 1000;
constexpr std::int64_t kPeriodicRunAfterStartMs = 10 * 60 * 1000;

std::mutex gProcessMutex;
std::string gRunMode = kRunModeNormal;
std::string gApplicationTitle = kApplicationTitle;
bool gTerminating = false;
std::vector<std::pair<HWND, std::string>> gOpenForms;

std::string BoolText(bool value) { return value ? "True" : "False"; }

std::string FoldAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Runs one step of a handler; a failure is logged with the context and the
// caller goes on, so that nothing escapes into the message loop.
template <class F>
void Guarded(const char* context, F&& step) {
  try {
    step();
  } catch (const std::exception& e) {
    TLog::LogException(e, context);
  }
}

std::int64_t MsBetween(const TDateTime& from, const TDateTime& to) {
  return WallClockMs(to) - WallClockMs(from);
}

// The Favorites folder: the shell's folder, or, when that names a service
// account's profile, the stored location if it still exists.
struct TFavoritesLocation {
  std::string shell;
  std::string resolved;
  std::string old;
};

TFavoritesLocation ResolveFavoritesLocation() {
  TFavoritesLocation loc;
  loc.shell = FavoritesFolder();
  loc.old = TConfig::GetBrowserLocation();
  loc.resolved = loc.shell;
  if (loc.shell.find("LocalService") != std::string::npos && !loc.old.empty() &&
      TFileTools::FolderExists(loc.old)) {
    loc.resolved = loc.old;
  }
  return loc;
}

void LogUncaught(const std::string& context, const std::string& what) {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      TLog::LogException(e, "Uncaught exception");
      TLog::Debug("Uncaught exception in " + context);
      return;
    } catch (...) {
    }
  }
  TLog::Error("Uncaught exception:" + context + ":" + what);
}

}  // namespace

// --- Process-wide state ---------------------------------------------------

std::string RunModeOf(const std::vector<std::string>& commandLine) {
  if (commandLine.size() != 2) return kRunModeNormal;
  return RunSwitchOf(commandLine) == "UNINSTALL1" ? kRunModeAjax : kRunModeNormal;
}

std::string RunMode() {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  return gRunMode;
}

void SetRunMode(const std::string& mode) {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  gRunMode = mode;
}

bool IsUninstallMode() { return RunMode() == kRunModeAjax; }

std::string ApplicationTitle() {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  return gApplicationTitle;
}

void SetApplicationTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  gApplicationTitle = title;
}

bool ApplicationTerminating() {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  return gTerminating;
}

static void SetApplicationTerminating(bool value) {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  gTerminating = value;
}

void AddOpenForm(HWND wnd, const std::string& name) {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  gOpenForms.emplace_back(wnd, name);
}

void RemoveOpenForm(HWND wnd) {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  std::erase_if(gOpenForms, [wnd](const auto& f) { return f.first == wnd; });
}

// A form answering KM_QUERY_BUSY with non-zero (an installer download)
// keeps the agent from closing for want of sidebars.
static bool AnyFormBusy() {
  std::vector<HWND> forms;
  {
    std::lock_guard<std::mutex> lock(gProcessMutex);
    for (const auto& f : gOpenForms) forms.push_back(f.first);
  }
  for (HWND f : forms) {
    if (SendMessage(f, KM_QUERY_BUSY, 0, 0) != 0) return true;
  }
  return false;
}

std::vector<std::string> OpenFormNames() {
  std::lock_guard<std::mutex> lock(gProcessMutex);
  std::vector<std::string> names;
  for (const auto& f : gOpenForms) names.push_back(f.second);
  return names;
}

void InstallAssertionHandler() {
  SetAssertHandler([](const std::string& message, const char* file, int line,
                      std::uintptr_t address) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, "%s (%s, line %d, address $%jx)", message.c_str(), file, line,
                  static_cast<std::uintmax_t>(address));
    TLog::Error(buf);
  });
}

std::string DetermineLanguage(const std::string& systemLanguageName,
                              const std::string& storedLanguage) {
  if (!storedLanguage.empty()) return FoldAscii(storedLanguage);
  return FoldAscii(systemLanguageName).find("france") != std::string::npos ? "fr" : "en";
}

// --- The main form ----------------------------------------------------------

TKelvoFrm::TKelvoFrm(std::string exePath) : exePath_(std::move(exePath)) {
  // One main form per run; a new one (tests) starts a run that is not ending.
  SetApplicationTerminating(false);
  wnd_ = CreateWindowObject(kClassName, [this](HWND h, UINT m, WPARAM w, LPARAM l) {
    return WndProc(h, m, w, l);
  });
  AddOpenForm(wnd_, kFormName);
}

TKelvoFrm::~TKelvoFrm() {
  if (!closed_) {
    try {
      Close();
    } catch (...) {
      // A destructor must not throw; the close logs its own failures.
    }
  }
}

void TKelvoFrm::Create() {
  // Form creation 1 (bottom edge, 1x1 pixels): the form is never drawn here.
  // 2: the installer's language handshake makes this the first run after
  // installation.
  TConfig::TakeInstallerLanguage();
  // 3
  try {
    StartUp();
  } catch (const TKException& e) {
    TLog::LogException(e, "TKelvoFrm.CreateForm");
    PostMessage(wnd_, WM_CLOSE, 0, 0);
  } catch (const std::exception& e) {
    TLog::LogException(e, "TKelvoFrm.CreateForm");
    Close();
  }
}

bool TKelvoFrm::UninstallModeMayStart() {
  // The uninstall dialog needs the server-request document of the sidebar code.
  std::string folder = TConfig::SBPath();
  std::string file = folder + "IEAjaxDoc.html";
  bool haveUrl = false;
  if (!TFileTools::FolderExists(folder)) {
    TLog::Error("InitIEAjaxDoc:IE Ajax directory not found:" + folder);
  } else if (!TFileTools::FileExists(file)) {
    TLog::Error("InitIEAjaxDoc:IE Ajax doc not found:" + file);
  } else {
    haveUrl = true;
  }
  return haveUrl && TConfig::ReadValue("", "uninstallcalled") != "true";
}

void TKelvoFrm::StartUp() {
  // 1
  TConfig::InitPaths(wnd_, exePath_, false);
  // 2
  if (IsUninstallMode() && !UninstallModeMayStart()) {
    PostMessage(wnd_, WM_CLOSE, 0, 0);
    return;
  }
  // 3
  TConfig::SetUninstallCalled(false);
  // 4: Ctrl held at start (never on Linux, where there is no keyboard state).
  if (IsCtrlDown()) {
    TConfig::WriteValue("", "test-temp", TConfig::ReadValue("", "test"));
    TConfig::WriteValue("", "test", "true");
    TConfig::SetLogLevel(5);
  }
  // 5
  startTick_ = TickCount();
  // 6
  const std::string d = TConfig::AppDataPath();
  if (!IsUninstallMode()) {
    TLog::Init(TConfig::GetLogLevel(), d + "log/log.ap.txt", TConfig::GetLogMemory(), true);
  } else if (TConfig::IsTestMode()) {
    TConfig::SetLogLevel(5);
    TLog::Init(5, d + "../klog.txt", TConfig::GetLogMemory(), true);
  } else {
    TLog::Init(0, "", TConfig::GetLogMemory(), false);
  }
  // 7
  TLog::Debug("AppliDataPath:" + d);
  TLog::Debug("HttpTempDir:" + TConfig::HttpTempDir());
  TLog::Debug("SBPath:" + TConfig::SBPath());
  // 8: the document variants start empty (there are no documents yet).
  stateWnd_ = CreateWindowObject(kStateWindowClass, [this](HWND h, UINT m, WPARAM w, LPARAM l) {
    return StateWndProc(h, m, w, l);
  });
  THandlerList::Add(stateWnd_);
  // 9
  if (IsUninstallMode()) {
    // Seam: show the form and load the hidden server-request document
    // (hidden service documents); its completion adds asAjaxDocOK.
    return;
  }
  StartUpNormal();
}

void TKelvoFrm::LogStartupFacts() {
  TLog::Debug("Protected mode=" + BoolText(IsProtectedModeProcess()) +
              ",Integrity level=" + GetIntegrityLevel() +
              ",First run after install:" + BoolText(TConfig::IsFirstRunAfterInstall()));
  TLog::Debug("Appli data:" + TConfig::AppDataPath());
  TLog::Debug("Version:" + GetFileVersion(exePath_));
  TLog::Debug("Runs:" + std::to_string(TConfig::GetRuns()));
  // The nickname only: the stored identity also holds the password, which
  // has no place in a log file.
  TLog::Debug("Userid:" + TIdentification::GetNickname());
}

void TKelvoFrm::ForceInitialPaths() {
  const std::string sbInit = TConfig::SBInitPath();
  const std::string waiting = TConfig::WaitingPagePath();
  if (!TConfig::IsFirstRunAfterInstall() && TFileTools::FileExists(waiting)) return;
  try {
    TConfig::SetInstallDateOnce(Now());
    TFileTools::CreateFolder(sbInit);
    const std::string from = TConfig::AppPath() + "sidebarinit/";
    for (const char* name : {"iePrefs", "throbber.gif", "throbber.swf", "waiting.html"}) {
      TFileTools::CopyFile(from + name, sbInit + name, false);
    }
    // Seam: key-value store "sidebarUpdateFrom", "sidebarRelease",
    // "sidebarFirstReleaseRun" (sidebar services).
  } catch (const TKFileException& e) {
    TLog::LogException(e, "CreateForm - forcing paths / setting key values");
  }
}

void TKelvoFrm::DetermineAndStoreLanguage() {
  TUserLocale locale = GetUserLocale();
  std::string lang = DetermineLanguage(locale.languageName, TConfig::GetLang());
  // Seam: switch the message catalogue to lang (none is built yet;
  // Translate() answers the source texts).
  std::string computer = locale.languageName.substr(0, locale.languageName.find('('));
  TLog::Info("Language:" + lang + "(computer:" + computer + ")");
  TConfig::SetLang(lang);
}

void TKelvoFrm::DeleteObsoleteShortcuts(const std::string& lang) {
  try {
    std::string folder = GetProgramsFolder();
    if (folder.empty()) return;  // no programs folder: nothing of ours can be there
    if (folder.back() != '/') folder += '/';
    folder += "Kelvo/";
    std::vector<std::string> names = {"Kelvo IE Add-on.lnk", "Kelvo for Internet Explorer.lnk",
                                      lang != "fr" ? "Désinstaller  Kelvo.lnk"
                                                   : "Uninstall  Kelvo.lnk"};
    for (const auto& name : names) {
      if (TFileTools::FileExists(folder + name)) TFileTools::DeleteFile(folder + name);
    }
  } catch (const TKFileException& e) {
    TLog::LogException(e, " TKelvoFrm.CreateForm");
  }
}

void TKelvoFrm::StartUpNormal() {
  // 1: the user-interface privilege filter does not exist on Linux.
  // 2
  TConfig::SettingsRoot();
  // 3
  LogStartupFacts();
  TFavoritesLocation fav = ResolveFavoritesLocation();
  TLog::Debug("Favorites locationSH:" + fav.shell);
  TLog::Debug("Favorites location:" + fav.resolved);
  TLog::Debug("Favorites location old:" + fav.old);
  // 4. Seam: a service account's profile would ask the user for the folder
  // (message dialog and folder picker). A folder given on the command line
  // is the user-set location.
  ApplyFavoritesOption(fav.resolved);
  // 5
  TConfig::SetBrowserLocation(fav.resolved);
  // 6. Seam: open the key-value store (sidebar services).
  TLog::Debug("TConfig.SBInitPath:" + TConfig::SBInitPath());
  TLog::Debug("TConfig.FileExists(" + TConfig::SBInitPath() + "waiting.html" + ":" +
              BoolText(TFileTools::FileExists(TConfig::WaitingPagePath())));
  // 7
  ForceInitialPaths();
  TConfig::NormalizeLogLevel();
  // 8
  SetUncaughtExceptionHandler(LogUncaught);
  // 9
  startTime_ = Now();
  // 10
  DetermineAndStoreLanguage();
  // 11
  InitServerClient();
  InstallBackupHooks();
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  // 12: the form shows no texts.
  // 13
  nextPeriodicRun_ = AddMinutes(TConfig::GetRefreshDate("main"), kPeriodicRunMinutes);
  // 14. Seam: tray icon (the form itself is never shown).
  // 15: no memo-manager document yet.
  // 16
  TConfig::SetVersion(GetFileVersion(exePath_));
  // 17
  BroadcastToTopLevel(RegisteredMessages().appliStateChange, 0, 0);
  // 18. Seam: the earlier release's context-menu entry is not named
  // anywhere we know of, so nothing under MenuExt is deleted.
  // 19
  DeleteObsoleteShortcuts(TConfig::GetLang());
  // 20. Seam: the cookie "rc" of the product's web site (cookie folder,
  // site and key-value store are not set up yet).
  // 21. With the show-documents flag from the start: no sidebar exists to
  // ask for the event and memo documents, and without them the chain would
  // never reach initialized.
  SidebarCodeCheck(true);
}

// --- Messages ---------------------------------------------------------------

void TKelvoFrm::BroadcastToTopLevel(UINT msg, WPARAM wParam, LPARAM lParam) {
  // In-process windows only; the message port carries it to the peers.
  for (HWND h : ListWindows()) {
    if (GetParentWindow(h) == 0) PostMessage(h, msg, wParam, lParam);
  }
}

std::vector<HWND> TKelvoFrm::SidebarWindows() const {
  return FindWindowsByClass(kSidebarWindowClass);
}

LRESULT TKelvoFrm::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const TRegisteredMessages& rm = RegisteredMessages();
  try {
    switch (msg) {
      case WM_CLOSE:
        Close();
        return 0;
      case WM_TIMER:
        if (wParam == kCheckIEClosedTimerId) CheckIEClosedTimerTimer();
        return 0;
      case KM_QUERY_BUSY:
        return downloadRunning_ ? 1 : 0;
      case KM_CLOSE_MAIN:
        return CloseMain();
      case KM_COUNTER_RESPONSE:
        TLog::Debug("Rx stat response at first run, success=" + BoolText(lParam == 1));
        return 0;
      case KM_CONNECT:
        ConnectStep(wnd_);
        return 0;
      case KM_CONNECT_RESPONSE:
        HandleConnectResponse(wParam, lParam);
        return 0;
      case KM_UPDATE_INFO:
      case KM_STATS_SENT:
      case KM_STATS_SCRIPT_DONE:
      case KM_STATS_ERROR_SENT:
        // Seam: answers of the server transport (update check, statistics);
        // nobody sends them yet.
        return 0;
      default:
        break;
    }
    if (msg == rm.KMX_SB_PING_AGENT) {
      TLog::Debug("KMX_SB_PING_AGENT");
      lastPingTick_ = TickCount();
      pinged_ = true;
      return 1;
    }
    if (msg == rm.tbCallAutoupdate) {
      TDateTime now = Now();
      TConfig::SetRefreshDate("main", now);
      nextPeriodicRun_ = AddMinutes(now, kPeriodicRunMinutes);
      // Seam: the update check with user messages.
      return 0;
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, "TKelvoFrm.WndProc");
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

LRESULT TKelvoFrm::StateWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (ApplicationTerminating()) {
    switch (msg) {
      case WM_DESTROY:
      case WM_CLOSE:
      case WM_QUERYENDSESSION:
      case WM_QUIT:
      case WM_ENDSESSION:
      case WM_NCDESTROY:
        TLog::Debug(std::string(kStateWindowClass) + ".KMessageRx:End");
        return 1;
      default:
        return 0;
    }
  }
  try {
    switch (msg) {
      case KM_APP_STATE_CHANGED:
        OnAppStateChanged(static_cast<UINT>(wParam), lParam);
        return 0;
      case KM_FORM_CREATED:
      case KM_FORM_CLOSED:
        TLog::Debug(std::string(kStateWindowClass) +
                    ".KMessageRx:KM_FORM_CLOSED/KM_FORM_CREATED:" +
                    BoolText(msg == KM_FORM_CLOSED));
        // There is no taskbar button to hide on Linux, so the re-evaluation
        // of the application window has nothing to change.
        return 0;
      case KM_SERVER_STATUS:
        if (wParam == 4) TConfig::RemoveState(asConnectedToggle);
        if (wParam == 7) TConfig::AddState(asConnectedToggle);
        // Seam: statuses 4, 5 and 6 run the client-action runner.
        return 0;
      default:
        break;
    }
  } catch (const std::exception& e) {
    TLog::LogException(e, std::string(kStateWindowClass) + ".KMessageRx");
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

void TKelvoFrm::OnAppStateChanged(UINT flag, LPARAM argument) {
  switch (flag) {
    case asSidebarCodeOK:
      TLog::Debug("GetSBInitState.asSidebarCodeOK");
      // The form is never drawn; its completion adds asAjaxDocOK.
      LoadServerRequestDocument();
      break;
    case asAjaxDocOK:
      if (ApplicationTitle() == "kelvotests") break;
      if (!IsUninstallMode()) {
        // Its completion calls loadServices and adds asSbManagers1OK.
        LoadServicesDocument();
      } else {
        TConfig::SetUninstallCalled(true);
        TConfig::InitPaths(wnd_, exePath_, false);
        // Seam: the uninstall dialog, shown modally before closing.
        MnuExitClick();
      }
      break;
    case asSbManagers1OK:
      if (IEClosedTimerAllowed()) EnableCheckIEClosedTimer();
      TLog::Debug("GetSBInitState.asSbManagers1OK");
      // The event and memo documents (show-documents flag) and, on the first
      // run after installation, the "install" counter request.
      OnServicesDocumentReady(wnd_);
      if (TConfig::IsFirstRunAfterInstall()) {
        // Seam: the campaign counter request (web-site cookie "rc").
        TConfig::SetPrefValue("tos-accepted", "true");
      }
      break;
    case asSbManagers2OK:
      TLog::Debug("GetSBInitState.asSbManagers2OK");
      TConfig::AddState(asInitialized);
      break;
    case asInitialized:
      CreateBookmarksCtrl(wnd_);
      // Seam: show the tray icon and its "Close Kelvo for Internet
      // Explorer" item.
      break;
    case asSyncRequired: {
      // The mode the server asked for; the sync dialog opens in it.
      std::string mode;
      static const char* const kModes[] = {"import", "import-add", "export", "merge", "no-sync"};
      mode = (argument >= 0 && argument <= 4) ? kModes[argument] : "no-sync";
      if (TConfig::GetExternalBksChanged()) {
        TLog::Debug("User changed bks when kelvo not running: visual sync");
        mode = TConfig::GetSyncMode();
      }
      // Seam: open the sync dialog in `mode`; "external-bks-changed" is
      // cleared only when it reports success.
      (void)mode;
      break;
    }
    default:
      break;
  }
}

// --- IE-closed timer and the periodic run -----------------------------------

void TKelvoFrm::EnableCheckIEClosedTimer() {
  if (SetTimer(wnd_, kCheckIEClosedTimerId, kCheckIEClosedIntervalMs)) {
    checkIEClosedTimerEnabled_ = true;
  }
}

bool TKelvoFrm::PeriodicRunDue(const TDateTime& now) const {
  return TConfig::HasState(asInitialized | asIdEstablished) &&
         MsBetween(startTime_, now) > kPeriodicRunAfterStartMs && now > nextPeriodicRun_;
}

void TKelvoFrm::PeriodicRun(const TDateTime& now) {
  TConfig::SetRefreshDate("main", now);
  nextPeriodicRun_ = AddMinutes(now, kPeriodicRunMinutes);
  BackupFavorites(true);
  // Seam: the client statistics unless sent within 86400 seconds, the
  // silent update check.
}

void TKelvoFrm::CheckIEClosedTimerTimer() {
  TDateTime now = Now();
  std::vector<HWND> sidebars = SidebarWindows();
  bool busy = AnyFormBusy();
  bool close = (sidebars.empty() && MsBetween(startTime_, now) > kNoSidebarCloseAfterMs && !busy) ||
               FindWindowByClass(kIEFrameClass) == 0;
  if (close) {
    TLog::Debug("CheckIEClosedTimerTimer calling close forms");
    // Each sidebar is asked once and counts as closing for a second after.
    std::uint64_t tick = TickCount();
    bool anyClosing = false;
    for (HWND sb : sidebars) {
      auto it = sidebarsAsked_.find(sb);
      if (it == sidebarsAsked_.end()) {
        sidebarsAsked_[sb] = tick;
        SendMessage(sb, RegisteredMessages().sbCloseEBarFrm, 0, 0);
        anyClosing = true;
      } else if (tick - it->second < kSidebarCloseGraceMs) {
        anyClosing = true;
      }
    }
    if (!anyClosing) SendMessage(wnd_, KM_CLOSE_MAIN, 0, 0);
    return;
  }
  if (PeriodicRunDue(now)) PeriodicRun(now);
}

LRESULT TKelvoFrm::CloseMain() {
  TLog::Debug("KM_CLOSE_MAIN");
  if (pinged_ && TickCount() - lastPingTick_ <= kPingGraceMs) return 0;
  TLog::Debug("Posting close");
  PostMessage(wnd_, WM_CLOSE, 0, 0);
  return 1;
}

// --- Shutdown ----------------------------------------------------------------

void TKelvoFrm::MnuExitClick() {
  for (HWND sb : SidebarWindows()) {
    try {
      SendMessage(sb, RegisteredMessages().sbCloseEBarFrm, 0, 0);
    } catch (const std::exception& e) {
      TLog::LogException(e, "TKelvoFrm.Mnu_ExitClick");
    }
  }
  BroadcastToTopLevel(RegisteredMessages().quit, 0, 0);
  Close();
}

void TKelvoFrm::Close() {
  if (closing_) return;
  closing_ = true;
  Guarded("TKelvoFrm.FormCloseQuery", [&] { FormCloseQuery(); });
  SetApplicationTerminating(true);
  Guarded("TKelvoFrm.FormClose", [&] { FormClose(); });
  if (!IsUninstallMode()) Guarded("TKelvoFrm.FormDestroy", [&] { FormDestroy(); });
  KillTimer(wnd_, kCheckIEClosedTimerId);
  checkIEClosedTimerEnabled_ = false;
  RemoveOpenForm(wnd_);
  DestroyWindowObject(wnd_);
  closed_ = true;
  PostQuitMessage(0);
}

void TKelvoFrm::FormCloseQuery() {
  TLog::Debug(std::string(kClassName) + ".FormCloseQuery:" + kClassName);
  TLog::Debug("Top level Open forms:");
  for (const auto& name : OpenFormNames()) TLog::Debug(name);
  if (stateWnd_ != 0) {
    THandlerList::Remove(stateWnd_);
    DestroyWindowObject(stateWnd_);
    stateWnd_ = 0;
  }
}

void TKelvoFrm::FormClose() {
  if (!closeDone_ && !IsUninstallMode()) {
    NotifyServicesOfQuit();
  }
  closeDone_ = true;
  TLog::Debug(std::string(kClassName) + ".FormClose:" + kClassName);
}

void TKelvoFrm::DestroyObjects() {
  try {
    TConfig::IncrementRuns();
    FreeBookmarksCtrl();
    TLog::Debug(std::string(kClassName) + ".DestroyObjects:Closing singletons");
    // The archive and server-response-handler singletons log their own
    // "Terminating ..." lines.
    ShutdownServerClient();
    // The hidden documents and the live refresh of the sidebar code.
    FreeSidebarChain();
    if (TThreadRegistry::HasLiveThreads()) {
      TLog::Warning(std::string(kClassName) + ".DestroyObjects:Not all threads destroyed:\r\n" +
                    TThreadRegistry::Text());
    }
    TConfig::DeleteSection("kmx");
    TLog::Debug(std::string(kClassName) + ".CloseUp:End");
  } catch (const std::exception& e) {
    TLog::LogException(e, std::string(kClassName) + ".DestroyObjects");
  }
}

void TKelvoFrm::FormDestroy() {
  // 1: a test mode switched on by Ctrl at start-up ends with the run. The
  // saved value may be empty ("test" was not set), and is restored as such.
  if (auto saved = TConfig::ReadValueEx("", "test-temp")) {
    TConfig::WriteValue("", "test", *saved);
    TConfig::DeleteValue("", "test-temp");
  }
  // 2. Seam: the sidebar's open-chat entry of the key-value store.
  TConfig::DeleteSection("sbopen");
  // 3
  if (!TConfig::HasState(asClosing)) TConfig::AddState(asClosing);
  // 4
  DestroyObjects();
  // 5
  TLog::Debug(std::string(kClassName) + ".FormDestroy:End");
  std::vector<std::string> forms = OpenFormNames();
  TLog::Debug(std::string(kClassName) + ".FormDestroy:FormCount:" + std::to_string(forms.size()));
  for (std::size_t i = 0; i < forms.size(); ++i) {
    TLog::Debug(std::to_string(i) + ":" + forms[i]);
  }
}

}  // namespace kelvo
