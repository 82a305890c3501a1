#include "sidebar/LiveRefresh.h"

#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "foundation/FileTools.h"
#include "foundation/Config.h"
#include "foundation/Log.h"
#include "sidebar/ZipExtract.h"

namespace kelvo {

namespace {

constexpr const char* kWindowClass = "TLiveRefreshWindow";
constexpr const char* kDeletingContext = "UpdateSidebarFromPackage error deleting:";

std::unique_ptr<TLiveRefresh>& InstanceSlot() {
  static std::unique_ptr<TLiveRefresh> instance;
  return instance;
}

// Reads the first line; false when the file cannot be read at all.
bool ReadFirstLine(const std::string& path, std::string& line) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, line);
  if (in.bad()) return false;
  return true;
}

int ParseVersion(std::string text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  text = text.substr(b, e - b);
  if (text.empty()) return -1;
  std::size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return -1;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
    if (value > 0x7FFFFFFF) return -1;
  }
  return text[0] == '-' ? static_cast<int>(-value) : static_cast<int>(value);
}

int RandomSuffix() {
  static std::mt19937 generator{std::random_device{}()};
  return std::uniform_int_distribution<int>(0, 99999)(generator);
}

}  // namespace

TLiveRefresh::TLiveRefresh() {
  liveModuleSwitch_ = RegisterWindowMessage("KLive_LiveModuleSwitch");
  wnd_ = CreateWindowObject(kWindowClass, [this](HWND h, UINT m, WPARAM w, LPARAM l) {
    return WndProc(h, m, w, l);
  });
}

TLiveRefresh::~TLiveRefresh() {
  if (wnd_ != 0) DestroyWindowObject(wnd_);
}

TLiveRefresh& TLiveRefresh::Instance() {
  auto& slot = InstanceSlot();
  if (!slot) slot = std::make_unique<TLiveRefresh>();
  return *slot;
}

void TLiveRefresh::FreeInstance() { InstanceSlot().reset(); }

std::string TLiveRefresh::PackagePath() { return TConfig::AppPath() + "sidebar/Sidebar.zip"; }
std::string TLiveRefresh::PackageVersionPath() {
  return TConfig::AppPath() + "sidebar/version.txt";
}

int TLiveRefresh::ReadVersionFile(const std::string& path) {
  std::string line;
  if (!ReadFirstLine(path, line)) return -1;
  return ParseVersion(line);
}

int TLiveRefresh::GetCurrentSBVersion() {
  const std::string code = TConfig::SBPath();
  if (code.find(kDeveloperCheckoutMarker) != std::string::npos) return kDeveloperVersion;
  if (!TFileTools::FileExists(code + "sidebar.html") || !TFileTools::FileExists(code + "version.txt")) return -1;
  std::string line;
  if (!ReadFirstLine(code + "version.txt", line)) {
    TLog::Info("TLiveRefresh.GetCurrentSBVersion:error accessing version.txt");
    return -1;
  }
  return ParseVersion(line);
}

int TLiveRefresh::GetPackageSBVersion() {
  if (!TFileTools::FileExists(PackagePath()) || !TFileTools::FileExists(PackageVersionPath())) return -1;
  return ReadVersionFile(PackageVersionPath());
}

bool TLiveRefresh::CurrentSBIsLocallyMostRecent() const {
  if (refreshing_) return false;
  int current = GetCurrentSBVersion();
  return current != -1 && current >= GetPackageSBVersion();
}

void TLiveRefresh::Start() {
  if (refreshing_) return;
  refreshing_ = true;
  progress_ = 0;
  PostMessage(wnd_, KM_LIVE_REFRESH, 0, 0);
}

void TLiveRefresh::MoveOldCodeAway(const std::string& base) {
  TFileTools::RenameFile(base + "sidebar", base + "sidebar_old" + std::to_string(RandomSuffix()));
  TFindOptions options;
  options.kinds = TFindKinds::Folders;
  std::vector<std::string> old = TFileTools::FindFiles(base, "sidebar_old*", options).paths;
  if (old.empty()) return;
  HWND wnd = wnd_;
  deletion_ = TFileDeleteThread::Start(std::move(old), [wnd](const TFileDeleteProgress&) {
    PostMessage(wnd, KM_OLD_SIDEBARS_DELETED, 0, 0);
  });
}

void TLiveRefresh::FinishRefresh(bool addState) {
  refreshing_ = false;
  if (!addState) return;
  TConfig::AddState(asSidebarCodeOK);
  if (onEnded_) onEnded_();
}

void TLiveRefresh::UpdateSidebarFromPackage() {
  // 1
  const std::string package = PackagePath();
  TLog::Debug("UpdateSidebarFromPackage:" + package);
  if (!TFileTools::FileExists(package)) {
    TLog::Error("Zip file does not exist:" + package);
    FinishRefresh(false);
    return;
  }
  const std::string base = TConfig::SBParentPath();
  const std::string code = base + "sidebar/";
  // 2: the old code goes out of the way whole; when it cannot be moved
  // (a locked folder) its files are deleted and the package lands on top.
  if (TFileTools::FolderExists(base + "sidebar")) {
    try {
      MoveOldCodeAway(base);
    } catch (const std::exception& e) {
      TLog::LogException(e, kDeletingContext + code);
      for (const auto& failure : TFileTools::DeleteMatchingFiles(code, "*", true)) {
        TLog::LogException(TKFileException(failure), kDeletingContext + code);
      }
    }
  }
  // 3, 4
  bool extracted = false;
  try {
    TLog::Debug("UpdateSidebarFromPackage:forcing:" + base);
    TFileTools::CreateFolder(base);
    TLog::Debug("UpdateSidebarFromPackage:unzipping:" + base);
    TZipExtractResult result =
        ExtractZip(package, base, [this](int percent) { progress_ = percent; });
    for (const auto& name : result.refused) {
      TLog::Error("UpdateSidebarFromPackage:refused entry outside " + base + ":" + name);
    }
    for (const auto& failure : result.errors) {
      TLog::Error("UpdateSidebarFromPackage:unzip error:" + failure);
    }
    extracted = result.Succeeded();
  } catch (const std::exception& e) {
    TLog::LogException(e, "UpdateSidebarFromPackage");
  }
  // 5
  if (extracted) {
    TLog::Debug("UpdateSidebarFromPackage:unzipped ok");
    try {
      TFileTools::CopyFile(PackageVersionPath(), code + "version.txt", false);
    } catch (const TKFileException& e) {
      TLog::Error(std::string("UpdateSidebarFromPackage ERROR:") + e.Message());
    }
  } else {
    // Half-unpacked code must not pass for current at the next start: without
    // its version file it is refreshed again then.
    std::error_code ec;
    std::filesystem::remove(code + "version.txt", ec);
  }
  // 6
  TLog::Info("UpdateSidebarFromPackage.end");
  FinishRefresh(true);
}

LRESULT TLiveRefresh::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == KM_LIVE_REFRESH) {
      try {
        // Another path may have brought the code up to date meanwhile.
        int current = GetCurrentSBVersion();
        if (current != -1 && current >= GetPackageSBVersion()) {
          FinishRefresh(true);
        } else {
          UpdateSidebarFromPackage();
        }
      } catch (const std::exception& e) {
        // A refresh that failed on the way may be started again.
        refreshing_ = false;
        TLog::LogException(e, "");
      }
      return 0;
    }
    if (msg == KM_OLD_SIDEBARS_DELETED) {
      TLog::Debug("Prevous sidebar js directories deleted");
      return 0;
    }
    if (msg == liveModuleSwitch_) return 0;
  } catch (const std::exception& e) {
    TLog::LogException(e, "");
    return 0;
  }
  return DefWindowProc(wnd, msg, wParam, lParam);
}

}  // namespace kelvo
