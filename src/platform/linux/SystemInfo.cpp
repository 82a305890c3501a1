#include "platform/SystemInfo.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <system_error>

namespace kelvo {

namespace {

struct TCodeName {
  const char* code;
  const char* name;
};

// Language code, its English name and the country it usually goes with.
struct TLanguage {
  const char* code;
  const char* name;
  const char* country;
};

const TLanguage kLanguages[] = {
    {"ar", "Arabic", "SA"},     {"bg", "Bulgarian", "BG"},  {"ca", "Catalan", "ES"},
    {"cs", "Czech", "CZ"},      {"da", "Danish", "DK"},     {"de", "German", "DE"},
    {"el", "Greek", "GR"},      {"en", "English", "US"},    {"es", "Spanish", "ES"},
    {"et", "Estonian", "EE"},   {"eu", "Basque", "ES"},     {"fa", "Persian", "IR"},
    {"fi", "Finnish", "FI"},    {"fr", "French", "FR"},     {"ga", "Irish", "IE"},
    {"he", "Hebrew", "IL"},     {"hi", "Hindi", "IN"},      {"hr", "Croatian", "HR"},
    {"hu", "Hungarian", "HU"},  {"id", "Indonesian", "ID"}, {"is", "Icelandic", "IS"},
    {"it", "Italian", "IT"},    {"ja", "Japanese", "JP"},   {"ko", "Korean", "KR"},
    {"lt", "Lithuanian", "LT"}, {"lv", "Latvian", "LV"},    {"nb", "Norwegian", "NO"},
    {"nl", "Dutch", "NL"},      {"nn", "Norwegian", "NO"},  {"no", "Norwegian", "NO"},
    {"pl", "Polish", "PL"},     {"pt", "Portuguese", "PT"}, {"ro", "Romanian", "RO"},
    {"ru", "Russian", "RU"},    {"sk", "Slovak", "SK"},     {"sl", "Slovenian", "SI"},
    {"sr", "Serbian", "RS"},    {"sv", "Swedish", "SE"},    {"th", "Thai", "TH"},
    {"tr", "Turkish", "TR"},    {"uk", "Ukrainian", "UA"},  {"vi", "Vietnamese", "VN"},
    {"zh", "Chinese", "CN"},
};

const TCodeName kCountries[] = {
    {"AE", "United Arab Emirates"}, {"AR", "Argentina"},    {"AT", "Austria"},
    {"AU", "Australia"},            {"BE", "Belgium"},      {"BG", "Bulgaria"},
    {"BR", "Brazil"},               {"CA", "Canada"},       {"CH", "Switzerland"},
    {"CI", "Côte d'Ivoire"},        {"CL", "Chile"},        {"CM", "Cameroon"},
    {"CN", "China"},                {"CO", "Colombia"},     {"CZ", "Czech Republic"},
    {"DE", "Germany"},              {"DK", "Denmark"},      {"DZ", "Algeria"},
    {"EE", "Estonia"},              {"EG", "Egypt"},        {"ES", "Spain"},
    {"FI", "Finland"},              {"FR", "France"},       {"GB", "United Kingdom"},
    {"GR", "Greece"},               {"HK", "Hong Kong"},    {"HR", "Croatia"},
    {"HU", "Hungary"},              {"ID", "Indonesia"},    {"IE", "Ireland"},
    {"IL", "Israel"},               {"IN", "India"},        {"IR", "Iran"},
    {"IS", "Iceland"},              {"IT", "Italy"},        {"JP", "Japan"},
    {"KR", "Korea"},                {"LB", "Lebanon"},      {"LT", "Lithuania"},
    {"LU", "Luxembourg"},           {"LV", "Latvia"},       {"MA", "Morocco"},
    {"MC", "Monaco"},               {"MX", "Mexico"},       {"NL", "Netherlands"},
    {"NO", "Norway"},               {"NZ", "New Zealand"},  {"PE", "Peru"},
    {"PL", "Poland"},               {"PT", "Portugal"},     {"RO", "Romania"},
    {"RS", "Serbia"},               {"RU", "Russia"},       {"SA", "Saudi Arabia"},
    {"SE", "Sweden"},               {"SG", "Singapore"},    {"SI", "Slovenia"},
    {"SK", "Slovakia"},             {"SN", "Senegal"},      {"TH", "Thailand"},
    {"TN", "Tunisia"},              {"TR", "Turkey"},       {"TW", "Taiwan"},
    {"UA", "Ukraine"},              {"US", "United States"}, {"VE", "Venezuela"},
    {"VN", "Vietnam"},              {"ZA", "South Africa"},
};

const TLanguage* FindLanguage(const std::string& code) {
  for (const TLanguage& language : kLanguages)
    if (code == language.code) return &language;
  return nullptr;
}

const char* FindCountry(const std::string& code) {
  for (const TCodeName& country : kCountries)
    if (code == country.code) return country.name;
  return nullptr;
}

std::mutex gCommandLineMutex;
bool gCommandLineSet = false;
std::vector<std::string> gCommandLine;

std::vector<std::string> ReadProcCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  std::string::size_type start = 0;
  while (start < all.size()) {
    std::string::size_type end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

}  // namespace

std::optional<TKernelVersion> GetKernelVersion() {
  struct utsname names {};
  if (::uname(&names) != 0) return std::nullopt;
  TKernelVersion version;
  version.sysName = names.sysname;
  version.release = names.release;
  // "6.1.0-13-amd64": the numbers before the first character that is
  // neither a digit nor a dot.
  int* parts[] = {&version.major, &version.minor, &version.patch};
  size_t part = 0;
  for (char c : version.release) {
    if (c >= '0' && c <= '9') {
      if (*parts[part] < 100000000) *parts[part] = *parts[part] * 10 + (c - '0');
    } else if (c == '.' && part + 1 < std::size(parts)) {
      ++part;
    } else {
      break;
    }
  }
  return version;
}

std::uint64_t GetResidentSetBytes(const std::string& statmPath) {
  std::ifstream in(statmPath);
  if (!in) throw std::system_error(errno ? errno : ENOENT, std::generic_category(), statmPath);
  std::uint64_t sizePages = 0;
  std::uint64_t residentPages = 0;
  if (!(in >> sizePages >> residentPages))
    throw std::system_error(EIO, std::generic_category(), statmPath);
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) throw std::system_error(errno ? errno : EINVAL, std::generic_category());
  return residentPages * static_cast<std::uint64_t>(pageSize);
}

void SetCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv && argv[i]; ++i) args.emplace_back(argv[i]);
  SetCommandLine(std::move(args));
}

void SetCommandLine(std::vector<std::string> args) {
  std::lock_guard<std::mutex> lock(gCommandLineMutex);
  gCommandLine = std::move(args);
  gCommandLineSet = true;
}

std::vector<std::string> GetCommandLine() {
  std::lock_guard<std::mutex> lock(gCommandLineMutex);
  if (!gCommandLineSet) return ReadProcCommandLine();
  return gCommandLine;
}

TUserLocale ParseLocaleName(const std::string& name) {
  // language[_COUNTRY][.codeset][@modifier]
  std::string base = name.substr(0, name.find_first_of(".@"));
  std::string language = base.substr(0, base.find('_'));
  std::string country = base.find('_') == std::string::npos ? "" : base.substr(base.find('_') + 1);
  for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : country) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (language.empty() || language == "c" || language == "posix") {
    language = "en";
    country = "US";
  }
  const TLanguage* known = FindLanguage(language);
  if (country.empty() && known) country = known->country;
  const char* countryName = FindCountry(country);

  TUserLocale locale;
  locale.language = language;
  locale.country = country;
  locale.countryName = countryName ? countryName : country;
  locale.languageName = known ? known->name : language;
  if (!locale.countryName.empty()) locale.languageName += " (" + locale.countryName + ")";
  return locale;
}

TUserLocale GetUserLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = ::getenv(variable);
    if (value && *value) return ParseLocaleName(value);
  }
  return ParseLocaleName("");
}

std::uint32_t GetCurrentThreadId() { return static_cast<std::uint32_t>(::gettid()); }

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::uint64_t GetTickCountMs() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace kelvo
