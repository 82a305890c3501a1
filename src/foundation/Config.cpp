#include "foundation/Config.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "foundation/ConfigInternal.h"
#include "foundation/Log.h"
#include "foundation/PlatformInfo.h"
#include "platform/SpecialFolders.h"

namespace kelvo {

namespace {

const char* const kAgentKey = "Software\\Kelvo\\";
// The key inside the browser's writable tree, in the layout that has one.
const char* const kVistaAgentKey = "Kelvo\\";
const char* const kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kPrefsFileName = "ieprefs";

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// Registry paths are "\"-separated without a leading or trailing "\"; the
// agent's keys are written "\"-terminated, so joining needs a tidy-up.
std::string JoinKey(const std::string& prefix, const std::string& suffix) {
  std::string joined = prefix;
  if (!joined.empty() && !suffix.empty()) joined += '\\';
  joined += suffix;
  std::string out;
  out.reserve(joined.size());
  for (char c : joined) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::optional<std::int64_t> ParseInteger(const std::string& text) {
  std::string t = Trim(text);
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (first != last && *first == '+') ++first;
  std::int64_t value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

std::optional<bool> ParseBool(const std::string& text) {
  if (text == "0" || EqualsNoCase(text, "false")) return false;
  if (text == "1" || EqualsNoCase(text, "true")) return true;
  return std::nullopt;
}

// Every registry access goes through these two guards: a registry that is
// not set up or fails answers "missing" / "not written", never an exception
// (the log calls in here while it reports errors).
std::optional<std::string> SafeRead(TRegRoot root, const std::string& path,
                                    const std::string& name) {
  if (root == TRegRoot::None) return std::nullopt;
  try {
    return Registry().ReadString(root, path, name);
  } catch (...) {
    return std::nullopt;
  }
}

bool SafeWrite(TRegRoot root, const std::string& path, const std::string& name,
               const std::string& value) {
  if (root == TRegRoot::None) return false;
  try {
    return Registry().WriteString(root, path, name, value);
  } catch (...) {
    return false;
  }
}

std::string SectionPath(const std::string& section) {
  return JoinKey(TConfig::SettingsKey(), section);
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Text up to and including the last "/" (empty when there is none).
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

struct TPaths {
  std::string appData, archive, archiveInit, httpTemp, temp, sbInit, sb, sbParent, waitingPage,
      app;
};

struct TPrefs {
  bool loaded = false;
  std::string loadedFrom;
  std::vector<std::pair<std::string, std::string>> values;
};

struct TConfigState {
  std::mutex mutex;
  TPaths paths;
  TPrefs prefs;
  std::optional<std::string> keyOverride;
  TRegRoot writableRoot = TRegRoot::None;
  std::atomic<TAppState> state{0};
  std::mutex stateMutex;
};

TConfigState& ConfigState() {
  static TConfigState* state = new TConfigState();
  return *state;
}

std::string PathValue(std::string TPaths::*member) {
  TConfigState& s = ConfigState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.paths.*member;
}

// The sidebar package installs the file as "iePrefs"; on a case-sensitive
// file system look for any spelling of the name.
std::filesystem::path FindPrefsFile(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path exact = fs::path(folder) / kPrefsFileName;
  if (fs::is_regular_file(exact, ec)) return exact;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualsNoCase(it->path().filename().string(), kPrefsFileName) &&
        it->is_regular_file(ec)) {
      return it->path();
    }
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> LoadPrefsFile(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> values;
  if (folder.empty()) return values;
  std::filesystem::path file = FindPrefsFile(folder);
  if (file.empty()) return values;
  std::ifstream in(file, std::ios::binary);
  if (!in) return values;
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

}  // namespace

namespace config_detail {
std::atomic<TAppState>& StateBits() { return ConfigState().state; }
std::mutex& StateMutex() { return ConfigState().stateMutex; }
}  // namespace config_detail

std::string SkinColor(const std::string& skin) {
  static const std::pair<const char*, const char*> kSkins[] = {{"darkblue", "#082746"},
                                                               {"lightblue", "#C4DEF0"},
                                                               {"black", "#000000"},
                                                               {"pink", "#F6C9EB"},
                                                               {"green", "#D7F99B"}};
  for (const auto& [name, colour] : kSkins) {
    if (EqualsNoCase(skin, name)) return colour;
  }
  return "#FFFFFF";
}

// --- Registry location ---------------------------------------------------

TRegRoot TConfig::SettingsRoot(bool forOldKey) {
  if (forOldKey || !IsVistaOrLater()) return TRegRoot::HKCU;
  // The writable tree is asked for until it is found, then kept.
  TConfigState& s = ConfigState();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.writableRoot == TRegRoot::None) s.writableRoot = GetWriteableHKCU();
  return s.writableRoot;
}

std::string TConfig::SettingsKey(bool forOldKey) {
  if (forOldKey) return kAgentKey;
  TConfigState& s = ConfigState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.keyOverride) return *s.keyOverride;
  }
  return IsVistaOrLater() ? kVistaAgentKey : kAgentKey;
}

std::string TConfig::GetAgent() {
  std::string version;
  try {
    version = GetIEMajorVersion();
  } catch (...) {
    // No registry to ask: the agent is still the browser's agent.
  }
  return "IE" + version;
}

// --- Raw values ----------------------------------------------------------

std::string TConfig::ReadValue(const std::string& section, const std::string& name) {
  return ReadValueEx(section, name).value_or("");
}

std::string TConfig::ReadValueAt(TRegRoot root, const std::string& keyPrefix,
                                 const std::string& name, const std::string& keySuffix) {
  return SafeRead(root, JoinKey(keyPrefix, keySuffix), name).value_or("");
}

std::optional<std::string> TConfig::ReadValueEx(const std::string& section,
                                                const std::string& name) {
  return SafeRead(SettingsRoot(), SectionPath(section), name);
}

bool TConfig::WriteValue(const std::string& section, const std::string& name,
                         const std::string& value) {
  return SafeWrite(SettingsRoot(), SectionPath(section), name, value);
}

bool TConfig::DeleteValue(const std::string& section, const std::string& name) {
  TRegRoot root = SettingsRoot();
  if (root == TRegRoot::None) return false;
  try {
    return Registry().DeleteValue(root, SectionPath(section), name);
  } catch (...) {
    return false;
  }
}

bool TConfig::DeleteSection(const std::string& section) {
  TRegRoot root = SettingsRoot();
  if (root == TRegRoot::None) return false;
  try {
    return Registry().DeleteKey(root, SectionPath(section));
  } catch (...) {
    return false;
  }
}

bool TConfig::ReadBool(const std::string& section, const std::string& name, bool defaultValue) {
  auto value = ReadValueEx(section, name);
  if (!value) return defaultValue;
  return ParseBool(*value).value_or(defaultValue);
}

void TConfig::WriteBool(const std::string& section, const std::string& name, bool value) {
  WriteValue(section, name, value ? "1" : "0");
}

int TConfig::ReadInteger(const std::string& section, const std::string& name, int defaultValue) {
  auto value = ReadValueEx(section, name);
  if (!value) return defaultValue;
  auto number = ParseInteger(*value);
  if (!number || *number < std::numeric_limits<int>::min() ||
      *number > std::numeric_limits<int>::max()) {
    return defaultValue;
  }
  return static_cast<int>(*number);
}

std::int64_t TConfig::ReadInt64(const std::string& section, const std::string& name,
                                std::int64_t defaultValue) {
  auto value = ReadValueEx(section, name);
  if (!value) return defaultValue;
  return ParseInteger(*value).value_or(defaultValue);
}

void TConfig::WriteInteger(const std::string& section, const std::string& name,
                           std::int64_t value) {
  WriteValue(section, name, std::to_string(value));
}

TDateTime TConfig::ReadDate(const std::string& section, const std::string& name,
                           const TDateTime& defaultValue) {
  auto value = ReadValueEx(section, name);
  if (!value) return defaultValue;
  return SettingTextToDateTime(*value, defaultValue);
}

void TConfig::WriteDate(const std::string& section, const std::string& name,
                        const TDateTime& value) {
  WriteValue(section, name, DateTimeToSettingText(value));
}

// --- Log -------------------------------------------------------------------

int TConfig::GetLogLevel() {
  int level = ReadInteger("ini", "log-level", kDefaultLogLevel);
  if (level < 0 || level > 5) return kOutOfRangeLogLevel;
  return level;
}

void TConfig::SetLogLevel(int level) { WriteInteger("ini", "log-level", level); }

bool TConfig::GetLogMemory() { return ReadValue("ini", "log-memory") == "true"; }

void TConfig::SetLogMemory(bool value) { WriteValue("ini", "log-memory", value ? "true" : "false"); }

void TConfig::SetErrorLogged(bool value) { WriteBool("", "error-logged", value); }

void TConfig::NormalizeLogLevel() {
  DeleteValue("ini", "log");
  SetLogLevel(GetLogLevel());
}

// --- Periodic work -----------------------------------------------------------

TDateTime TConfig::GetRefreshDate(const std::string& name) {
  return ReadDate("refresh", name, AddDays(Now(), -8));
}

void TConfig::SetRefreshDate(const std::string& name, const TDateTime& date) {
  WriteDate("refresh", name, date);
}

// --- Sync --------------------------------------------------------------------

std::string TConfig::GetSyncMode() { return ReadValueEx("sync", "mode").value_or("merge"); }
void TConfig::SetSyncMode(const std::string& mode) { WriteValue("sync", "mode", mode); }
std::string TConfig::GetSyncBookmarks() { return ReadValue("sync", "bookmarks"); }
void TConfig::SetSyncBookmarks(const std::string& value) { WriteValue("sync", "bookmarks", value); }
int TConfig::GetBookmarkCount() { return ReadInteger("sync", "bookmark-count", 0); }
void TConfig::SetBookmarkCount(int count) { WriteInteger("sync", "bookmark-count", count); }
bool TConfig::GetExternalBksChanged() { return ReadBool("sync", "external-bks-changed", false); }
void TConfig::SetExternalBksChanged(bool value) { WriteBool("sync", "external-bks-changed", value); }
bool TConfig::GetSafetyBackupDone() { return ReadBool("sync", "safety-backup-done", false); }
void TConfig::SetSafetyBackupDone(bool value) { WriteBool("sync", "safety-backup-done", value); }

// --- User interface and identity -------------------------------------------

std::string TConfig::GetLang() { return ReadValue("ini", "lang"); }
void TConfig::SetLang(const std::string& lang) { WriteValue("ini", "lang", lang); }
std::string TConfig::GetSkin() { return ReadValueEx("", "skin").value_or("black"); }
void TConfig::SetSkin(const std::string& skin) { WriteValue("", "skin", skin); }
std::string TConfig::GetSkinColor() { return SkinColor(GetSkin()); }

void TConfig::SetRecoServiceUrl(const std::string& url) {
  if (!url.empty()) WriteValue("recommends", "reco-service.url", url);
}

std::string TConfig::GetUserId() { return ReadValue("user-data", "user-id"); }
void TConfig::SetUserId(const std::string& userId) { WriteValue("user-data", "user-id", userId); }

int TConfig::GetSidebarWidth() {
  int width = ReadInteger("", "sbwidth", kDefaultSidebarWidth);
  return width > kMaxSidebarWidth ? kMaxSidebarWidth : width;
}

int TConfig::GetSidebarWidthLastLarge(int defaultValue) {
  return ReadInteger("", "sbwidth_lastlarge", defaultValue);
}
void TConfig::SetSidebarWidthLastLarge(int width) { WriteInteger("", "sbwidth_lastlarge", width); }
std::string TConfig::GetSidebarPath() { return ReadValue("", "sidebarPath"); }
void TConfig::SetSidebarPath(const std::string& path) { WriteValue("", "sidebarPath", path); }
std::string TConfig::GetBrowserLocation() { return ReadValue("browser", "location"); }
void TConfig::SetBrowserLocation(const std::string& path) {
  WriteValue("browser", "location", path);
}
std::string TConfig::GetFirstReleaseSidebarRun() {
  return ReadValueEx("", "firstReleaseSidebarRun").value_or("false");
}
bool TConfig::GetAutoUpdateWidgets() { return ReadBool("", "auto-update-widgets", false); }
void TConfig::SetAutoUpdateWidgets(bool value) { WriteBool("", "auto-update-widgets", value); }

// --- Runs and installation -------------------------------------------------

int TConfig::GetRuns() { return ReadInteger("", "Runs", 0); }
int TConfig::GetRunsSinceInstall() { return ReadInteger("", "RunsSinceInstall", 0); }
bool TConfig::IsFirstRunAfterInstall() { return GetRunsSinceInstall() == 0; }
void TConfig::ResetRunsSinceInstall() { WriteInteger("", "RunsSinceInstall", 0); }

void TConfig::IncrementRuns() {
  WriteInteger("", "RunsSinceInstall", static_cast<std::int64_t>(GetRunsSinceInstall()) + 1);
  WriteInteger("", "Runs", static_cast<std::int64_t>(GetRuns()) + 1);
}

TDateTime TConfig::GetInstallDate() { return ReadDate("", "install_date", AddDays(Now(), -8)); }

void TConfig::SetInstallDateOnce(const TDateTime& date) {
  if (ReadValue("", "install_date").empty()) WriteDate("", "install_date", date);
}

std::string TConfig::GetVersion() { return ReadValueEx("", "version").value_or("0"); }
void TConfig::SetVersion(const std::string& version) { WriteValue("", "version", version); }
bool TConfig::GetUninstallCalled() { return ReadValue("", "uninstallcalled") == "true"; }
void TConfig::SetUninstallCalled(bool value) {
  WriteValue("", "uninstallcalled", value ? "true" : "false");
}
bool TConfig::IsTestMode() { return ReadValue("", "test") == "true"; }
bool TConfig::IsTestNoClose() { return ReadValue("", "testnoclose") == "true"; }

bool TConfig::TakeInstallerLanguage() {
  const std::string installerKey = JoinKey(kAgentKey, "");
  auto lang = SafeRead(TRegRoot::HKCU, installerKey, "lang");
  // The installer's copy goes only once the language is safely stored.
  if (!lang || !WriteValue("ini", "lang", *lang)) return false;
  try {
    Registry().DeleteValue(TRegRoot::HKCU, installerKey, "lang");
  } catch (...) {
  }
  ResetRunsSinceInstall();
  return true;
}

void TConfig::MigrateSettings() {
  const TRegRoot oldRoot = SettingsRoot(true);
  const std::string oldKey = JoinKey(SettingsKey(true), "");
  const TRegRoot newRoot = SettingsRoot();
  const std::string newKey = JoinKey(SettingsKey(), "");
  if (oldRoot == newRoot && EqualsNoCase(oldKey, newKey)) return;

  auto copy = [&](const std::string& section, const std::string& name) {
    auto value = SafeRead(oldRoot, JoinKey(oldKey, section), name);
    if (value) SafeWrite(newRoot, JoinKey(newKey, section), name, *value);
    return value.has_value();
  };
  if (!copy("user-data", "user-id")) return;
  static const std::pair<const char*, const char*> kCarried[] = {
      {"", "sbwidth"},           {"", "sidebarpath"},
      {"ini", "log-level"},      {"sync", "mode"},
      {"sync", "bookmark-count"}, {"sync", "bookmarks"},
      {"sync", "external-bks-changed"}, {"sync", "safety-backup-done"}};
  for (const auto& [section, name] : kCarried) copy(section, name);
  // Only the layout with a separate writable tree retires the old key.
  if (IsVistaOrLater()) {
    try {
      Registry().DeleteKey(oldRoot, oldKey);
    } catch (...) {
    }
  }
}

// --- Preferences -------------------------------------------------------------

std::string TConfig::GetPrefValue(const std::string& name, bool& found) {
  if (auto value = ReadValueEx("", name)) {
    found = true;
    return *value;
  }
  const std::string folder = SBInitPath();
  TConfigState& s = ConfigState();
  std::lock_guard<std::mutex> lock(s.mutex);
  // The list belongs to the folder it came from; recomputed paths that move
  // the folder make it load again.
  if (!s.prefs.loaded || s.prefs.loadedFrom != folder) {
    s.prefs.values = LoadPrefsFile(folder);
    s.prefs.loaded = true;
    s.prefs.loadedFrom = folder;
  }
  for (const auto& [key, value] : s.prefs.values) {
    if (EqualsNoCase(key, name)) {
      found = !value.empty();
      return value;
    }
  }
  found = false;
  return "";
}

std::string TConfig::GetPrefValue(const std::string& name) {
  bool found = false;
  return GetPrefValue(name, found);
}

void TConfig::SetPrefValue(const std::string& name, const std::string& value) {
  WriteValue("", name, value);
  TLog::Debug("SetPrefValue:aPrefId=" + name + ",aValue=" + value);
}

// --- Statistics --------------------------------------------------------------

int TConfig::GetStatsCounter(const std::string& name) {
  return ReadInteger("stats\\data", name, 0);
}
void TConfig::SetStatsCounter(const std::string& name, int value) {
  WriteInteger("stats\\data", name, value);
}
bool TConfig::GetStatsDisabled() { return ReadValue("stats", "no") == "true"; }
std::int64_t TConfig::GetStatsLast() { return ReadInt64("stats", "last", 0); }
void TConfig::SetStatsLast(std::int64_t seconds) { WriteInteger("stats", "last", seconds); }
int TConfig::GetStatsNoRecoCount() { return ReadInteger("stats", "no-reco-count", 0); }
void TConfig::SetStatsNoRecoCount(int count) { WriteInteger("stats", "no-reco-count", count); }
std::string TConfig::GetStatsAppVersion() { return ReadValue("stats", "app-version"); }
void TConfig::SetStatsAppVersion(const std::string& value) {
  WriteValue("stats", "app-version", value);
}
std::string TConfig::GetStatsPlatform() { return ReadValue("stats", "platform"); }
void TConfig::SetStatsPlatform(const std::string& value) { WriteValue("stats", "platform", value); }
int TConfig::GetStatsGetReco() { return GetStatsCounter("getreco"); }
void TConfig::SetStatsGetReco(int value) { SetStatsCounter("getreco", value); }

// --- Data folders --------------------------------------------------------------

void TConfig::InitPaths(HWND /*appWindow*/, const std::string& exePath, bool inProcess) {
  if (IsFirstRunAfterInstall() && !inProcess) MigrateSettings();

  std::string roaming = ReadValueAt(SettingsRoot(), kShellFoldersKey, "AppData");
  if (roaming.empty()) roaming = SpecialFolderPath(CSIDL_APPDATA);
  const std::string d = WithoutTrailingSlashes(roaming) + "/Kelvo/";

  TPaths p;
  p.appData = d;
  p.archive = d + "Archive/";
  p.archiveInit = d + "Archive/Init/";
  p.httpTemp = d + "Temp/";
  p.temp = d + "temp/";
  p.sbInit = WithTrailingSlash(d + "sidebarinit/");
  std::string sidebar = GetSidebarPath();
  p.sb = WithTrailingSlash(sidebar.empty() ? d + "sidebar/" : sidebar);
  p.sbParent = FolderOf(WithoutTrailingSlashes(p.sb));
  p.waitingPage = p.sbInit + "waiting.html";

  // In-process there is no executable of ours; the module is the process image.
  std::string module = inProcess || exePath.empty() ? ExecutablePath() : exePath;
  std::string app = FolderOf(module);
  if (!app.empty() && app.front() != '/') {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(app, ec);
    if (!ec) app = WithTrailingSlash(absolute.string());
  }
  p.app = app;

  TConfigState& s = ConfigState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.paths = std::move(p);
}

std::string TConfig::AppDataPath() { return PathValue(&TPaths::appData); }
std::string TConfig::ArchivePath() { return PathValue(&TPaths::archive); }
std::string TConfig::ArchiveInitPath() { return PathValue(&TPaths::archiveInit); }
std::string TConfig::HttpTempDir() { return PathValue(&TPaths::httpTemp); }
std::string TConfig::TempPath() { return PathValue(&TPaths::temp); }
std::string TConfig::SBInitPath() { return PathValue(&TPaths::sbInit); }
std::string TConfig::SBPath() { return PathValue(&TPaths::sb); }
std::string TConfig::SBParentPath() { return PathValue(&TPaths::sbParent); }
std::string TConfig::WaitingPagePath() { return PathValue(&TPaths::waitingPage); }
std::string TConfig::AppPath() { return PathValue(&TPaths::app); }

// --- Application-state set (reads; changes are in ConfigState.cpp) -------------

bool TConfig::HasState(TAppState flags) {
  return (config_detail::StateBits().load() & flags) == flags;
}

TAppState TConfig::State() { return config_detail::StateBits().load(); }

std::string TConfig::StateNames(TAppState flags) {
  static const std::pair<TAppState, const char*> kNamed[] = {
      {asSidebarCodeOK, "sidebar-code-ok"}, {asInitialized, "initialized"},
      {asIdEstablished, "IdEstablished"},   {asSynchronizable, "Synchronizable"},
      {asSyncRequired, "SyncRequired"},     {asSyncRunning, "SyncRunning"},
      {asSyncronized, "Syncronized"},       {asConnectedToggle, "ConnectedToggle"}};
  std::string names;
  for (const auto& [flag, name] : kNamed) {
    if ((flags & flag) == flag) {
      if (!names.empty()) names += ',';
      names += name;
    }
  }
  return names;
}

// --- Test seams ------------------------------------------------------------------

void TConfig::ResetForTesting() {
  TConfigState& s = ConfigState();
  {
    std::lock_guard<std::mutex> stateLock(s.stateMutex);
    s.state = 0;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  s.paths = TPaths();
  s.prefs = TPrefs();
  s.keyOverride.reset();
  s.writableRoot = TRegRoot::None;
}

void TConfig::SetSettingsKeyForTesting(std::optional<std::string> key) {
  TConfigState& s = ConfigState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.keyOverride = std::move(key);
}

}  // namespace kelvo
