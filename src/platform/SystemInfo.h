#pragma once
// Raw facts about the machine and the process, for the platform
// identification functions and the log.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

struct TKernelVersion {
  std::string sysName;   // "Linux"
  std::string release;   // "6.1.0-13-amd64"
  int major = 0;         // leading numbers of the release, 0 when absent
  int minor = 0;
  int patch = 0;
};

// uname(); nullopt when it fails.
std::optional<TKernelVersion> GetKernelVersion();

// Resident set size of this process in bytes, from /proc/self/statm (the
// file may be given for tests). Throws std::system_error when it cannot be
// read or parsed.
std::uint64_t GetResidentSetBytes(const std::string& statmPath = "/proc/self/statm");

// The command line, kept from main(); index 0 is the program. Until
// SetCommandLine runs, the kernel's record of it (/proc/self/cmdline).
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(std::vector<std::string> args);
std::vector<std::string> GetCommandLine();

// The user's locale from LC_ALL, LC_MESSAGES, LANG (the first one set).
struct TUserLocale {
  std::string language;      // ISO 639 code, lower case: "fr"
  std::string country;       // ISO 3166 code, upper case: "FR"
  std::string languageName;  // display name: "French (France)"
  std::string countryName;   // "France"
};
TUserLocale GetUserLocale();
// "fr_FR.UTF-8", "de_AT@euro", "fr", "C"... Unset, "C" and "POSIX" give
// English (United States); a language missing from the table keeps its code
// as its name; a language alone takes its usual country.
TUserLocale ParseLocaleName(const std::string& name);

// Milliseconds of a monotonic clock (not the wall clock).
std::uint64_t GetTickCountMs();

// Kernel ids of the calling thread and of this process (as the log prints them).
std::uint32_t GetCurrentThreadId();
std::uint32_t GetCurrentProcessId();

}  // namespace kelvo
