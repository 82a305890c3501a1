#pragma once
// Facts about the machine and the process for the settings store, the
// start-up log, the run mode, the statistics and the sidebar's placement.
// On Linux most Windows-only facts answer their neutral value. Any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/KException.h"
#include "platform/Registry.h"
#include "platform/SpecialFolders.h"
#include "platform/Window.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TPlatformInfoException, TKException);

// Receives diagnostic lines (usually the debug log).
using TLogSink = std::function<void(const std::string&)>;

// False: the "earlier Windows" layout (one profile folder, settings under
// HKCU "Software\Kelvo\") is the one used on Linux.
bool IsVistaOrLater();
// Names the kernel, for example "Linux 6.1.0-13-amd64"; the sink receives
// the "dwMajorVersion:", "dwMinorVersion:", "dwBuildNumber:" lines with the
// kernel's numbers, or "could not get version info" (and the text is empty).
std::string GetWindowsVersionText(const TLogSink& sink = nullptr);
// First character of HKLM "SOFTWARE\Microsoft\Internet Explorer" value
// "Version"; empty while the value is missing. Cached once found.
std::string GetIEMajorVersion();
// The rule alone: first character of the version text.
std::string IEMajorVersionOf(const std::string& versionText);
bool IsProtectedModeProcess(const TLogSink& sink = nullptr);
// The root the agent's settings live under.
TRegRoot GetWriteableHKCU();
// Empty: Linux has no integrity levels.
std::string GetIntegrityLevel();

struct TFileVersionInfo {
  std::string text;  // four numbers: "1.0.0.1"
  bool debug = false;
  bool preRelease = false;
  bool specialBuild = false;
};
// The agent's own version (the build's), whatever file is named: the agent
// asks only about its own executable. Cached for the process.
std::string GetFileVersion(const std::string& file = "");
TFileVersionInfo GetFileVersionInfo(const std::string& file = "");

// The first of AUTOMATION, EMBEDDING, REGSERVER, UNREGSERVER, INSTALL,
// UNINSTALL1 given on the command line as "-" or "/" + switch (case
// ignored); empty when none.
std::string GetRunSwitch();
// The rule on given arguments (index 0, the program, is not looked at).
std::string RunSwitchOf(const std::vector<std::string>& commandLine);

// The taskbar as the window layer sees it: the rectangle of the window of
// class "Shell_TrayWnd" and the screen size.
struct TTaskbarPlace {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int screenWidth = 0;
  int screenHeight = 0;
};
// Finds the taskbar; nullopt when there is none. The default finds none; the
// composition root installs one over the window layer.
using TTaskbarLookup = std::function<std::optional<TTaskbarPlace>()>;
void SetTaskbarLookup(TTaskbarLookup lookup);
// Height of the taskbar window; 0 when there is none.
int GetTaskbarHeight();
// 0 top, 1 bottom, 2 left, 3 right (see TaskbarEdgeOf); 0 when there is none.
int GetTaskbarEdge();
int TaskbarEdgeOf(const TTaskbarPlace& place);

// False: there is no keyboard state to read on Linux.
bool IsCtrlDown();
// Resident size of the process in bytes; throws TPlatformInfoException when
// it cannot be read.
std::uint64_t GetWorkingSetSize();
std::string GetProgramsFolder();
std::string GetSpecialFolder(HWND window, int csidl);
// Opens the file (or URL) with the desktop's handler, in the background; an
// executable file is started with the parameters (split at blanks, double
// quotes group). Failures are silent. The opener is "xdg-open", or the
// program named by KELVO_OPEN_COMMAND.
void OpenDocument(const std::string& file, const std::string& parameters = "");

// Forgets the cached answers (tests).
void ResetPlatformInfoCache();

}  // namespace kelvo
