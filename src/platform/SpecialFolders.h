#pragma once
// The folders the shell would name on Windows, taken from the XDG
// environment. Resolved at each call, so a test that points HOME elsewhere
// sees its own folders. Folder paths carry no trailing "/" unless noted.

#include <string>

namespace kelvo {

// Shell folder identifiers the callers ask for, under their usual numbers.
constexpr int CSIDL_PROGRAMS = 0x0002;
constexpr int CSIDL_FAVORITES = 0x0006;
constexpr int CSIDL_COMMON_PROGRAMS = 0x0017;
constexpr int CSIDL_APPDATA = 0x001a;
constexpr int CSIDL_LOCAL_APPDATA = 0x001c;

// The user's home: $HOME, or the password database's entry when unset.
std::string HomeFolder();
// $XDG_DATA_HOME when absolute, else $HOME/.local/share. Stands for both the
// roaming and the local application-data folder.
std::string DataHomeFolder();
std::string RoamingAppDataFolder();
std::string LocalAppDataFolder();
// $HOME/Favorites.
std::string FavoritesFolder();
// $XDG_DATA_HOME/applications: where program shortcuts live.
std::string CommonProgramsFolder();
// $XDG_CONFIG_HOME when absolute, else $HOME/.config.
std::string ConfigHomeFolder();
// The agent's runtime folder (lock, message port), with a trailing "/":
// $XDG_RUNTIME_DIR/kelvo/ when XDG_RUNTIME_DIR is absolute, else
// /tmp/kelvo-<uid>/. Not created.
std::string RuntimeFolder();
// Creates the runtime folder (mode 0700) when missing and checks that it is
// a real folder owned by this user; answers it, or "" when it is unusable.
std::string EnsureRuntimeFolder();
// The running executable (/proc/self/exe resolved); "" when unknown.
std::string ExecutablePath();
// The folder for one of the CSIDL_ numbers above; "" for any other number.
std::string SpecialFolderPath(int csidl);

}  // namespace kelvo
