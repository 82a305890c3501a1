#include "platform/SpecialFolders.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kelvo {

namespace {

// The XDG rules: an unset, empty or relative value does not count.
std::string AbsoluteEnv(const char* name) {
  const char* value = ::getenv(name);
  if (!value || value[0] != '/') return "";
  std::string out = value;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string UnderHome(const std::string& relative) {
  std::string home = HomeFolder();
  return home.empty() ? "" : home + "/" + relative;
}

}  // namespace

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "";
}

std::string DataHomeFolder() {
  std::string data = AbsoluteEnv("XDG_DATA_HOME");
  return data.empty() ? UnderHome(".local/share") : data;
}

std::string RoamingAppDataFolder() { return DataHomeFolder(); }
std::string LocalAppDataFolder() { return DataHomeFolder(); }
std::string FavoritesFolder() { return UnderHome("Favorites"); }

std::string CommonProgramsFolder() {
  std::string data = DataHomeFolder();
  return data.empty() ? "" : data + "/applications";
}

std::string ConfigHomeFolder() {
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  return config.empty() ? UnderHome(".config") : config;
}

std::string RuntimeFolder() {
  std::string runtime = AbsoluteEnv("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return runtime + "/kelvo/";
  return "/tmp/kelvo-" + std::to_string(::getuid()) + "/";
}

std::string EnsureRuntimeFolder() {
  std::string folder = RuntimeFolder();
  std::string bare = folder.substr(0, folder.size() - 1);
  if (::mkdir(bare.c_str(), 0700) != 0 && errno != EEXIST) return "";
  // In /tmp anyone could have made it first: use it only when it is ours
  // and nobody else can enter it.
  struct stat st {};
  if (::lstat(bare.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    return "";
  if ((st.st_mode & 077) != 0 && ::chmod(bare.c_str(), 0700) != 0) return "";
  return folder;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t size = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (size <= 0 || static_cast<size_t>(size) >= sizeof buffer) return "";
  return std::string(buffer, static_cast<size_t>(size));
}

std::string SpecialFolderPath(int csidl) {
  switch (csidl) {
    case CSIDL_APPDATA: return RoamingAppDataFolder();
    case CSIDL_LOCAL_APPDATA: return LocalAppDataFolder();
    case CSIDL_FAVORITES: return FavoritesFolder();
    case CSIDL_PROGRAMS:
    case CSIDL_COMMON_PROGRAMS: return CommonProgramsFolder();
    default: return "";
  }
}

}  // namespace kelvo
