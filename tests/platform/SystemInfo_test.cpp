#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "TestHome.h"
#include "platform/DebugSink.h"
#include "platform/SystemInfo.h"

#include <fcntl.h>
#include <unistd.h>

namespace kelvo {
namespace {

// Sets environment variables for a scope and puts the old values back.
class TEnvGuard {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = ::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~TEnvGuard() {
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(UserLocale, NamesFromTheLocaleCode) {
  struct TCase {
    const char* locale;
    const char* language;
    const char* country;
    const char* languageName;
    const char* countryName;
  };
  const TCase cases[] = {
      {"fr_FR.UTF-8", "fr", "FR", "French (France)", "France"},
      {"fr_CA.utf8", "fr", "CA", "French (Canada)", "Canada"},
      {"en_GB.ISO-8859-1", "en", "GB", "English (United Kingdom)", "United Kingdom"},
      {"de_AT@euro", "de", "AT", "German (Austria)", "Austria"},
      {"pt_BR", "pt", "BR", "Portuguese (Brazil)", "Brazil"},
      // A language alone takes its usual country.
      {"fr", "fr", "FR", "French (France)", "France"},
      {"C", "en", "US", "English (United States)", "United States"},
      {"C.UTF-8", "en", "US", "English (United States)", "United States"},
      {"POSIX", "en", "US", "English (United States)", "United States"},
      {"", "en", "US", "English (United States)", "United States"},
      // Unknown codes keep the code as the name.
      {"xx_YY.UTF-8", "xx", "YY", "xx (YY)", "YY"},
      {"xx_FR", "xx", "FR", "xx (France)", "France"},
      {"xx", "xx", "", "xx", ""},
  };
  for (const TCase& c : cases) {
    TUserLocale l = ParseLocaleName(c.locale);
    EXPECT_EQ(l.language, c.language) << c.locale;
    EXPECT_EQ(l.country, c.country) << c.locale;
    EXPECT_EQ(l.languageName, c.languageName) << c.locale;
    EXPECT_EQ(l.countryName, c.countryName) << c.locale;
  }
}

TEST(UserLocale, FirstSetVariableWins) {
  TEnvGuard env;
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  env.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(GetUserLocale().languageName, "German (Germany)");
  env.Set("LC_MESSAGES", "fr_BE.UTF-8");
  EXPECT_EQ(GetUserLocale().languageName, "French (Belgium)");
  env.Set("LC_ALL", "");  // empty is unset
  EXPECT_EQ(GetUserLocale().countryName, "Belgium");
  env.Set("LC_ALL", "it_IT.UTF-8");
  EXPECT_EQ(GetUserLocale().languageName, "Italian (Italy)");
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  env.Set("LANG", nullptr);
  EXPECT_EQ(GetUserLocale().languageName, "English (United States)");
}

TEST(KernelVersion, NumbersComeFromTheRelease) {
  auto kernel = GetKernelVersion();
  ASSERT_TRUE(kernel.has_value());
  EXPECT_EQ(kernel->sysName, "Linux");
  std::string start = std::to_string(kernel->major) + "." + std::to_string(kernel->minor);
  EXPECT_EQ(kernel->release.compare(0, start.size(), start), 0) << kernel->release;
  EXPECT_GE(kernel->major, 3);
}

TEST(ResidentSet, GrowsWithTouchedMemoryAndFailsLoudly) {
  std::uint64_t before = GetResidentSetBytes();
  EXPECT_GT(before, 0u);
  constexpr size_t kSize = 32u << 20;
  std::vector<char> block(kSize);
  std::memset(block.data(), 1, block.size());
  EXPECT_GE(GetResidentSetBytes(), before + kSize / 2);
  EXPECT_EQ(block[kSize - 1], 1);

  test::TTestHome home;
  EXPECT_THROW(GetResidentSetBytes(home.Sub("missing")), std::system_error);
  test::WriteFileText(home.Sub("statm"), "garbage\n");
  EXPECT_THROW(GetResidentSetBytes(home.Sub("statm")), std::system_error);
  test::WriteFileText(home.Sub("statm"), "100 25 3 1 0 20 0\n");
  EXPECT_EQ(GetResidentSetBytes(home.Sub("statm")),
            25u * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
}

TEST(CommandLine, KeptAsGiven) {
  const std::vector<std::string> saved = GetCommandLine();
  ASSERT_FALSE(saved.empty());  // the kernel's record before anyone set it
  const char* argv[] = {"/usr/bin/kelvo", "/UNINSTALL1", "two words"};
  SetCommandLine(3, argv);
  EXPECT_EQ(GetCommandLine(),
            (std::vector<std::string>{"/usr/bin/kelvo", "/UNINSTALL1", "two words"}));
  SetCommandLine(saved);
}

TEST(TickCount, FollowsTheMonotonicClock) {
  auto start = std::chrono::steady_clock::now();
  std::uint64_t first = GetTickCountMs();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(30)) {
  }
  std::uint64_t second = GetTickCountMs();
  EXPECT_GE(second - first, 25u);
  EXPECT_LT(second - first, 5000u);
}

// Captures what the process writes to standard error meanwhile.
class TStderrCapture {
 public:
  explicit TStderrCapture(const std::string& file) : file_(file) {
    ::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
  }
  std::string Stop() {
    ::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    return test::ReadFileText(file_);
  }

 private:
  std::string file_;
  int saved_ = -1;
};

TEST(DebugSink, WritesOnlyWhileSwitchedOn) {
  test::TTestHome home;
  TEnvGuard env;
  TStderrCapture capture(home.Sub("stderr.txt"));
  env.Set("KELVO_DEBUG_OUTPUT", nullptr);
  DebugOutput("kelvo:hidden when unset");
  env.Set("KELVO_DEBUG_OUTPUT", "0");
  DebugOutput("kelvo:hidden when 0");
  env.Set("KELVO_DEBUG_OUTPUT", "1");
  EXPECT_TRUE(DebugOutputEnabled());
  DebugOutput("kelvo:shown");
  DebugOutput("kelvo:ends in newline\n");
  env.Set("KELVO_DEBUG_OUTPUT", "yes");
  DebugOutput("kelvo:hidden when yes");
  EXPECT_EQ(capture.Stop(), "kelvo:shown\nkelvo:ends in newline\n");
}

}  // namespace
}  // namespace kelvo
