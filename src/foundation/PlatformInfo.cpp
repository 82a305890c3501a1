#include "foundation/PlatformInfo.h"

#include <cctype>
#include <exception>
#include <mutex>
#include <system_error>

#include "kelvo/Version.h"
#include "platform/ShellOpen.h"
#include "platform/SystemInfo.h"

namespace kelvo {

namespace {

const char* const kIEKey = "SOFTWARE\\Microsoft\\Internet Explorer\\";
const char* const kRunSwitches[] = {"AUTOMATION", "EMBEDDING", "REGSERVER",
                                    "UNREGSERVER", "INSTALL",  "UNINSTALL1"};

std::mutex gCacheMutex;
std::string gIEMajorVersion;  // empty until a value was found
TTaskbarLookup gTaskbarLookup;

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<TTaskbarPlace> FindTaskbar() {
  TTaskbarLookup lookup;
  {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    lookup = gTaskbarLookup;
  }
  if (!lookup) return std::nullopt;
  return lookup();
}

}  // namespace

bool IsVistaOrLater() { return false; }

std::string GetWindowsVersionText(const TLogSink& sink) {
  std::optional<TKernelVersion> kernel = GetKernelVersion();
  if (!kernel) {
    if (sink) sink("could not get version info");
    return "";
  }
  if (sink) {
    sink("dwMajorVersion:" + std::to_string(kernel->major));
    sink("dwMinorVersion:" + std::to_string(kernel->minor));
    sink("dwBuildNumber:" + std::to_string(kernel->patch));
  }
  return kernel->sysName + " " + kernel->release;
}

std::string IEMajorVersionOf(const std::string& versionText) {
  return versionText.empty() ? "" : versionText.substr(0, 1);
}

std::string GetIEMajorVersion() {
  std::lock_guard<std::mutex> lock(gCacheMutex);
  // A missing value is read again next time: the add-on's installer may
  // write it while the agent runs.
  if (gIEMajorVersion.empty()) {
    try {
      gIEMajorVersion = IEMajorVersionOf(
          Registry().ReadString(TRegRoot::HKLM, kIEKey, "Version").value_or(""));
    } catch (const std::exception&) {
      // No settings store wired yet: the version is simply not known.
    }
  }
  return gIEMajorVersion;
}

bool IsProtectedModeProcess(const TLogSink&) { return false; }

TRegRoot GetWriteableHKCU() { return TRegRoot::HKCU; }

std::string GetIntegrityLevel() { return ""; }

TFileVersionInfo GetFileVersionInfo(const std::string&) {
  // Constant for the build, so it is its own cache.
  static const TFileVersionInfo info = [] {
    TFileVersionInfo v;
    v.text = std::to_string(KELVO_VERSION_MAJOR) + "." + std::to_string(KELVO_VERSION_MINOR) +
             "." + std::to_string(KELVO_VERSION_PATCH) + "." + std::to_string(KELVO_VERSION_TWEAK);
#ifndef NDEBUG
    v.debug = true;
#endif
    return v;
  }();
  return info;
}

std::string GetFileVersion(const std::string& file) { return GetFileVersionInfo(file).text; }

std::string RunSwitchOf(const std::vector<std::string>& commandLine) {
  for (const char* wanted : kRunSwitches) {
    for (size_t i = 1; i < commandLine.size(); ++i) {
      const std::string& arg = commandLine[i];
      if (arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') && EqualsNoCase(arg.substr(1), wanted))
        return wanted;
    }
  }
  return "";
}

std::string GetRunSwitch() { return RunSwitchOf(GetCommandLine()); }

void SetTaskbarLookup(TTaskbarLookup lookup) {
  std::lock_guard<std::mutex> lock(gCacheMutex);
  gTaskbarLookup = std::move(lookup);
}

int GetTaskbarHeight() {
  std::optional<TTaskbarPlace> place = FindTaskbar();
  return place ? place->bottom - place->top : 0;
}

int TaskbarEdgeOf(const TTaskbarPlace& place) {
  const int halfWidth = place.screenWidth / 2;
  const int halfHeight = place.screenHeight / 2;
  if (place.top > halfHeight && place.right >= place.screenWidth) return 1;
  // A bar in the upper half that ends above the middle lies along the top.
  // (Comparing its bottom with half the width instead took a left bar on a
  // screen more than twice as wide as high for a top bar.)
  if (place.top < halfHeight && place.bottom <= halfHeight) return 0;
  if (place.left < halfWidth && place.top <= 0) return 2;
  if (place.left >= halfWidth) return 3;
  return 0;
}

int GetTaskbarEdge() {
  std::optional<TTaskbarPlace> place = FindTaskbar();
  return place ? TaskbarEdgeOf(*place) : 0;
}

bool IsCtrlDown() { return false; }

std::uint64_t GetWorkingSetSize() {
  try {
    return GetResidentSetBytes();
  } catch (const std::system_error& e) {
    throw TPlatformInfoException("GetWorkingSetSize:" + std::string(e.what()));
  }
}

std::string GetProgramsFolder() { return CommonProgramsFolder(); }

std::string GetSpecialFolder(HWND, int csidl) { return SpecialFolderPath(csidl); }

void OpenDocument(const std::string& file, const std::string& parameters) {
  ShellOpenDocument(file, parameters);
}

void ResetPlatformInfoCache() {
  std::lock_guard<std::mutex> lock(gCacheMutex);
  gIEMajorVersion.clear();
}

}  // namespace kelvo
