#pragma once
// Process-wide configuration store: every persistent setting as a string value
// under the agent's registry key, the data folders computed at start-up, the
// in-memory application-state set with its broadcast to the handler windows,
// and the preference lookup with its file fallback.
//
// Class operations only. Settings may be read and written from any thread
// (each access goes to the registry on its own); the state set is changed on
// the main thread. A registry that cannot be reached makes reads answer their
// defaults and writes do nothing, never an exception: the log reads its level
// here and must never fail because of it.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/DateUtils.h"
#include "platform/Registry.h"
#include "platform/Window.h"

namespace kelvo {

// Application-state flags (one 32-bit set).
using TAppState = std::uint32_t;
constexpr TAppState asSidebarCodeOK = 1;
constexpr TAppState asAjaxDocOK = 2;
constexpr TAppState asSbManagers1OK = 4;
constexpr TAppState asSbManagers2OK = 8;
constexpr TAppState asInitialized = 16;
constexpr TAppState asIdEstablished = 32;
constexpr TAppState asSynchronizable = 64;
constexpr TAppState asSyncRequired = 128;
constexpr TAppState asSyncRunning = 256;
constexpr TAppState asSyncronized = 512;
constexpr TAppState asConnectedToggle = 1024;
constexpr TAppState asClosing = 2048;

// Posted to every handler window when the state set changes: wParam = the
// flag added or removed, lParam = the caller's argument.
constexpr UINT KM_APP_STATE_CHANGED = WM_USER + 1;

// Setting defaults that callers and tests refer to.
constexpr int kDefaultLogLevel = 2;
constexpr int kOutOfRangeLogLevel = 3;
constexpr int kDefaultSidebarWidth = 206;
constexpr int kMaxSidebarWidth = 700;

// The colour of a skin name: "darkblue", "lightblue", "black", "pink",
// "green" (ASCII case ignored); any other name gives "#FFFFFF".
std::string SkinColor(const std::string& skin);

class TConfig {
 public:
  TConfig() = delete;

  // --- Registry location -------------------------------------------------
  // The root and the "\"-terminated agent key ("Software\Kelvo\"); with the
  // old-key flag the key of earlier releases, always under HKEY_CURRENT_USER.
  static TRegRoot SettingsRoot(bool forOldKey = false);
  static std::string SettingsKey(bool forOldKey = false);

  // "IE" + the browser's major version, for example "IE7".
  static std::string GetAgent();

  // --- Raw values (section "" is the agent key itself; a section may hold
  // "\" for deeper keys, "stats\data") -------------------------------------
  static std::string ReadValue(const std::string& section, const std::string& name);
  // Under an explicit root and key prefix + suffix (another program's key).
  static std::string ReadValueAt(TRegRoot root, const std::string& keyPrefix,
                                 const std::string& name, const std::string& keySuffix = "");
  // nullopt when the value is missing or not a string.
  static std::optional<std::string> ReadValueEx(const std::string& section,
                                                const std::string& name);
  // False when the key cannot be opened or created.
  static bool WriteValue(const std::string& section, const std::string& name,
                         const std::string& value);
  static bool DeleteValue(const std::string& section, const std::string& name);
  static bool DeleteSection(const std::string& section);

  // Typed reads: "0"/"false" and "1"/"true" (case ignored) for booleans,
  // decimal text for integers; anything else, or a missing value, gives the
  // default.
  static bool ReadBool(const std::string& section, const std::string& name, bool defaultValue);
  static void WriteBool(const std::string& section, const std::string& name, bool value);
  static int ReadInteger(const std::string& section, const std::string& name, int defaultValue);
  static std::int64_t ReadInt64(const std::string& section, const std::string& name,
                                std::int64_t defaultValue);
  static void WriteInteger(const std::string& section, const std::string& name,
                           std::int64_t value);
  // Dates are stored as "yyyy-mm-dd hh:mm:ss".
  static TDateTime ReadDate(const std::string& section, const std::string& name,
                            const TDateTime& defaultValue);
  static void WriteDate(const std::string& section, const std::string& name,
                        const TDateTime& value);

  // --- Log --------------------------------------------------------------
  // ini\log-level: 2 when missing or not a number, 3 when outside 0-5.
  static int GetLogLevel();
  static void SetLogLevel(int level);
  // ini\log-memory is "true".
  static bool GetLogMemory();
  static void SetLogMemory(bool value);
  static void SetErrorLogged(bool value);
  // Start-up: drops the obsolete ini\log and writes the level back, so the
  // stored value is always one the log understands.
  static void NormalizeLogLevel();

  // --- Periodic work ----------------------------------------------------
  // refresh\<name>; eight days ago when missing or unreadable, so that the
  // first periodic run is due at once.
  static TDateTime GetRefreshDate(const std::string& name);
  static void SetRefreshDate(const std::string& name, const TDateTime& date);

  // --- Sync -------------------------------------------------------------
  // sync\mode as stored, "merge" when missing.
  static std::string GetSyncMode();
  static void SetSyncMode(const std::string& mode);
  static std::string GetSyncBookmarks();
  static void SetSyncBookmarks(const std::string& value);
  static int GetBookmarkCount();
  static void SetBookmarkCount(int count);
  static bool GetExternalBksChanged();
  static void SetExternalBksChanged(bool value);
  static bool GetSafetyBackupDone();
  static void SetSafetyBackupDone(bool value);

  // --- User interface and identity -------------------------------------
  static std::string GetLang();
  static void SetLang(const std::string& lang);
  // "black" when missing.
  static std::string GetSkin();
  static void SetSkin(const std::string& skin);
  static std::string GetSkinColor();
  // recommends\reco-service.url; an empty URL is not written.
  static void SetRecoServiceUrl(const std::string& url);
  static std::string GetUserId();
  static void SetUserId(const std::string& userId);
  // "sbwidth": 206 when missing or not a number, at most 700.
  static int GetSidebarWidth();
  static int GetSidebarWidthLastLarge(int defaultValue);
  static void SetSidebarWidthLastLarge(int width);
  static std::string GetSidebarPath();
  static void SetSidebarPath(const std::string& path);
  static std::string GetBrowserLocation();
  static void SetBrowserLocation(const std::string& path);
  // "firstReleaseSidebarRun", "false" when missing.
  static std::string GetFirstReleaseSidebarRun();
  static bool GetAutoUpdateWidgets();
  static void SetAutoUpdateWidgets(bool value);

  // --- Runs and installation -------------------------------------------
  static int GetRuns();
  static int GetRunsSinceInstall();
  static bool IsFirstRunAfterInstall();
  static void ResetRunsSinceInstall();
  // Shutdown: "RunsSinceInstall" + 1 and "Runs" + 1.
  static void IncrementRuns();
  // "version": the executable's file version, "0" when missing.
  static std::string GetVersion();
  static void SetVersion(const std::string& version);
  // "install_date"; eight days ago when missing or unreadable.
  static TDateTime GetInstallDate();
  // Writes only when "install_date" is missing or empty.
  static void SetInstallDateOnce(const TDateTime& date);
  static bool GetUninstallCalled();
  static void SetUninstallCalled(bool value);
  // "test" / "testnoclose" hold "true".
  static bool IsTestMode();
  static bool IsTestNoClose();
  // The installer leaves "lang" directly under HKEY_CURRENT_USER
  // "Software\Kelvo": move it to ini\lang and mark the next run as the first
  // after installation. Answers whether a language was handed over.
  static bool TakeInstallerLanguage();
  // First run after installation: carries the settings of the old key over
  // to the current one when the two differ.
  static void MigrateSettings();

  // --- Preferences ------------------------------------------------------
  // The agent-key value of that name, else the value from the "ieprefs" file
  // of the sidebar-init folder (found = non-empty there).
  static std::string GetPrefValue(const std::string& name, bool& found);
  static std::string GetPrefValue(const std::string& name);
  static void SetPrefValue(const std::string& name, const std::string& value);

  // --- Statistics -------------------------------------------------------
  static int GetStatsCounter(const std::string& name);
  static void SetStatsCounter(const std::string& name, int value);
  // stats\no is "true".
  static bool GetStatsDisabled();
  // stats\last: seconds since 1970-01-01 UTC of the last report.
  static std::int64_t GetStatsLast();
  static void SetStatsLast(std::int64_t seconds);
  static int GetStatsNoRecoCount();
  static void SetStatsNoRecoCount(int count);
  static std::string GetStatsAppVersion();
  static void SetStatsAppVersion(const std::string& value);
  static std::string GetStatsPlatform();
  static void SetStatsPlatform(const std::string& value);
  static int GetStatsGetReco();
  static void SetStatsGetReco(int value);

  // --- Data folders (empty until InitPaths; each ends in "/") ---------------
  // Computes the folders; also runs MigrateSettings on the first run after
  // installation when not in-process. May run again (uninstall mode, tests).
  static void InitPaths(HWND appWindow, const std::string& exePath, bool inProcess);
  static std::string AppDataPath();
  static std::string ArchivePath();
  static std::string ArchiveInitPath();
  static std::string HttpTempDir();
  static std::string TempPath();
  static std::string SBInitPath();
  static std::string SBPath();
  static std::string SBParentPath();
  static std::string WaitingPagePath();
  static std::string AppPath();

  // --- Application-state set ----------------------------------------------
  // Adds the flag unless all its bits are set already, broadcasts
  // KM_APP_STATE_CHANGED and logs "Application state=...". Syncronized and
  // the pair SyncRequired/SyncRunning exclude each other silently.
  static void AddState(TAppState flag, LPARAM argument = -1);
  static void RemoveState(TAppState flag, LPARAM argument = -1);
  // Every bit of the argument is set.
  static bool HasState(TAppState flags);
  static TAppState State();
  // Comma-separated names of the named flags whose bits are all set.
  static std::string StateNames(TAppState flags);

  // --- Test seams -------------------------------------------------------
  // Forgets the state set, the paths and the preference list.
  static void ResetForTesting();
  // Stands the agent key elsewhere ("\"-terminated), to exercise the
  // migration between differing keys; nullopt restores the real key.
  static void SetSettingsKeyForTesting(std::optional<std::string> key);
};

}  // namespace kelvo
