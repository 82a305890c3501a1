// Runs the built agent as a user would, each test with its own HOME, and
// checks what it leaves behind: the registry database, the log files, the
// exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "kelvo/Version.h"
#include "platform/linux/SqliteRegistry.h"

extern char** environ;

namespace kelvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::ReadFileText;
using test::TTestHome;

const std::string kAgent = std::string(KELVO_BINARY_DIR) + "/src/agent/kelvo";
constexpr const char* kKey = "Software\\Kelvo";

// Polls a condition until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// One run of the agent executable.
class TAgentRun {
 public:
  explicit TAgentRun(const std::vector<std::string>& args, const std::string& outFile = "") {
    std::vector<std::string> all = {kAgent};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* out = outFile.empty() ? "/dev/null" : outFile.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, kAgent.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TAgentRun() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  void Signal(int sig) const { kill(pid_, sig); }
  // The wait status once the process ended within the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit = 10s) {
    WaitFor(
        [&] {
          int status = 0;
          if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
          return status_.has_value();
        },
        limit);
    return status_;
  }
  bool Running() {
    int status = 0;
    if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

bool ExitedWithZero(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class AgentProcess : public ::testing::Test {
 protected:
  std::string LogDir() const { return home_.Sub(".local/share/Kelvo/log"); }
  std::string LogFile(const std::string& name = "log.ap.txt") const {
    return LogDir() + "/" + name;
  }
  std::string Log() const { return ReadFileText(LogFile()); }
  std::string DbPath() const { return home_.Sub(".config/kelvo/registry.db"); }
  TSqliteRegistry& Db() {
    if (!db_) db_ = std::make_unique<TSqliteRegistry>(DbPath());
    return *db_;
  }
  std::string Value(const std::string& section, const std::string& name) {
    std::string key = section.empty() ? kKey : std::string(kKey) + "\\" + section;
    return Db().ReadString(TRegRoot::HKCU, key, name).value_or("<missing>");
  }
  void SetValue(const std::string& section, const std::string& name, const std::string& value) {
    std::string key = section.empty() ? kKey : std::string(kKey) + "\\" + section;
    ASSERT_TRUE(Db().WriteString(TRegRoot::HKCU, key, name, value));
  }
  // Debug level, so that every line of the start-up and shutdown is written.
  // No browser frame exists here: "testnoclose" keeps the agent from closing
  // for want of one once its hidden documents have loaded.
  void SetUp() override {
    SetValue("ini", "log-level", "5");
    SetValue("", "testnoclose", "true");
  }

  // Starts the agent and waits until its start-up and its readiness chain
  // (up to the connect step's IdEstablished) have run.
  std::unique_ptr<TAgentRun> StartAgent(const std::vector<std::string>& args = {}) {
    auto run = std::make_unique<TAgentRun>(args);
    EXPECT_TRUE(run->Started());
    // The previous run's file ends with its shutdown until this run rotates it.
    EXPECT_TRUE(WaitFor([&] {
      std::string log = Log();
      return log.find("(added:IdEstablished)") != std::string::npos &&
             log.find("FormDestroy:End") == std::string::npos;
    }))
        << "start-up did not finish; log:\n" << Log();
    return run;
  }
  // One whole run: start, stop with the signal, exit status 0.
  void RunOnce(int sig = SIGTERM) {
    auto run = StartAgent();
    run->Signal(sig);
    EXPECT_TRUE(ExitedWithZero(run->Wait()));
  }

  TTestHome home_;
  std::unique_ptr<TSqliteRegistry> db_;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

TEST_F(AgentProcess, HelpAndVersionAnswerWithoutStartingTheAgent) {
  std::string out = home_.Sub("out.txt");
  for (const char* option : {"--help", "-h"}) {
    TAgentRun help({option}, out);
    EXPECT_TRUE(ExitedWithZero(help.Wait())) << option;
    EXPECT_EQ(ReadFileText(out).rfind("Usage: kelvo", 0), 0u) << ReadFileText(out);
  }
  TAgentRun version({"--version"}, out);
  EXPECT_TRUE(ExitedWithZero(version.Wait()));
  std::string expected = "kelvo " + std::to_string(KELVO_VERSION_MAJOR) + "." +
                         std::to_string(KELVO_VERSION_MINOR) + "." +
                         std::to_string(KELVO_VERSION_PATCH) + "." +
                         std::to_string(KELVO_VERSION_TWEAK) + "\n";
  EXPECT_EQ(ReadFileText(out), expected);
  EXPECT_FALSE(fs::exists(LogDir()));
  EXPECT_EQ(Value("", "Runs"), "<missing>");
}

class AgentStopSignal : public AgentProcess, public ::testing::WithParamInterface<int> {};

TEST_P(AgentStopSignal, StopsWithItsShutdownSequenceAndCountsTheRun) {
  SetValue("", "Runs", "4");
  SetValue("", "RunsSinceInstall", "2");
  SetValue("", "version", "0.0.0.0");
  SetValue("kmx\\1234", "url", "http://example.org/");
  SetValue("sbopen\\chat", "open", "1");
  auto run = StartAgent();
  EXPECT_TRUE(fs::exists(DbPath()));
  EXPECT_TRUE(fs::exists(LogFile()));
  // No browser frame exists, but "testnoclose" keeps the IE-closed timer
  // off, so the agent waits for the signal.
  std::this_thread::sleep_for(600ms);  // more than two timer periods
  ASSERT_TRUE(run->Running());

  run->Signal(GetParam());
  EXPECT_TRUE(ExitedWithZero(run->Wait()));
  std::string log = Log();
  std::vector<std::string> inOrder = {
      "AppliDataPath:",          "HttpTempDir:",
      "SBPath:",                 "Protected mode=False,Integrity level=,First run after install:False",
      "Version:",                "Runs:4",
      "Language:",               "TKelvoFrm.FormCloseQuery:TKelvoFrm",
      "Top level Open forms:",   "TKelvoFrm.FormClose:TKelvoFrm",
      "TKelvoFrm.DestroyObjects:Closing singletons",
      "TKelvoFrm.CloseUp:End",   "TKelvoFrm.FormDestroy:End",
      "TKelvoFrm.FormDestroy:FormCount:1", "0:KelvoFrm"};
  std::size_t at = 0;
  for (const auto& line : inOrder) {
    std::size_t found = log.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
    at = found;
  }
  EXPECT_EQ(Value("", "Runs"), "5");
  EXPECT_EQ(Value("", "RunsSinceInstall"), "3");
  EXPECT_EQ(Value("", "version"), KELVO_VERSION_TEXT);
  EXPECT_EQ(Value("", "uninstallcalled"), "false");
  EXPECT_EQ(Value("browser", "location"), home_.Sub("Favorites"));
  EXPECT_FALSE(Db().KeyExists(TRegRoot::HKCU, std::string(kKey) + "\\kmx"));
  EXPECT_FALSE(Db().KeyExists(TRegRoot::HKCU, std::string(kKey) + "\\sbopen"));
}

INSTANTIATE_TEST_SUITE_P(Signals, AgentStopSignal, ::testing::Values(SIGTERM, SIGINT));

TEST_F(AgentProcess, SecondInstanceEndsAtOnceWithoutATrace) {
  auto first = StartAgent();
  std::string logBefore = Log();
  auto filesBefore = std::vector<fs::path>(fs::directory_iterator(LogDir()), {});
  TAgentRun second({});
  EXPECT_TRUE(ExitedWithZero(second.Wait(5s)));
  EXPECT_TRUE(first->Running());
  // The first agent's workers may still append; the second adds nothing.
  std::string logAfter = Log();
  EXPECT_EQ(logAfter.rfind(logBefore, 0), 0u) << logAfter;
  EXPECT_EQ(Count(logAfter, "AppliDataPath:"), 1u) << logAfter;
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(LogDir()), {}).size(),
            filesBefore.size());
  EXPECT_EQ(Value("", "Runs"), "<missing>");  // the first one has not ended yet
  first->Signal(SIGTERM);
  EXPECT_TRUE(ExitedWithZero(first->Wait()));
  EXPECT_EQ(Value("", "Runs"), "1");
}

TEST_F(AgentProcess, ThreeRunsLeaveThreeGenerationsOfLog) {
  for (int i = 0; i < 3; ++i) RunOnce();
  struct {
    const char* file;
    const char* runs;
  } expected[] = {{"log.ap.txt", "Runs:2"}, {"log.ap.prev.txt", "Runs:1"},
                  {"log.ap.prev1.txt", "Runs:0"}};
  for (const auto& e : expected) {
    std::string text = ReadFileText(LogFile(e.file));
    EXPECT_NE(text.find(e.runs), std::string::npos) << e.file << ":\n" << text;
    EXPECT_EQ(Count(text, "AppliDataPath:"), 1u) << e.file;
    EXPECT_EQ(Count(text, "TKelvoFrm.FormDestroy:End"), 1u) << e.file;
  }
  EXPECT_FALSE(fs::exists(LogFile("log.ap.prev2.txt")));
  EXPECT_EQ(Value("", "Runs"), "3");
}

TEST_F(AgentProcess, InstallerLanguageMakesTheFirstRunAfterInstallation) {
  SetValue("", "lang", "fr");
  SetValue("", "RunsSinceInstall", "7");
  RunOnce();
  EXPECT_EQ(Value("ini", "lang"), "fr");
  EXPECT_EQ(Value("", "lang"), "<missing>");
  EXPECT_EQ(Value("", "RunsSinceInstall"), "1");
  std::string log = Log();
  EXPECT_NE(log.find("First run after install:True"), std::string::npos) << log;
  EXPECT_NE(log.find("Language:fr("), std::string::npos) << log;
  // First run: the installation date is recorded, and the sidebar-init
  // files beside the executable are copied into the profile.
  EXPECT_NE(Value("", "install_date"), "<missing>");
  for (const char* name : {"iePrefs", "throbber.gif", "throbber.swf", "waiting.html"}) {
    EXPECT_TRUE(fs::exists(home_.Sub(std::string(".local/share/Kelvo/sidebarinit/") + name)))
        << name;
  }
}

TEST_F(AgentProcess, LogLevelIsNormalisedAndTheObsoleteValueDropped) {
  SetValue("ini", "log-level", "9");
  SetValue("ini", "log", "old");
  auto run = std::make_unique<TAgentRun>(std::vector<std::string>{});
  // Level 9 reads as 3: no debug lines, so wait for the stored level instead.
  EXPECT_TRUE(WaitFor([&] { return Value("", "version") != "<missing>"; }));
  run->Signal(SIGTERM);
  EXPECT_TRUE(ExitedWithZero(run->Wait()));
  EXPECT_EQ(Value("ini", "log-level"), "3");
  EXPECT_EQ(Value("ini", "log"), "<missing>");
  EXPECT_EQ(Log().find("AppliDataPath:"), std::string::npos);
}

// Language from the locale of the session, unless one is stored.
TEST_F(AgentProcess, LanguageComesFromTheLocale) {
  struct {
    const char* locale;
    const char* stored;
    const char* lang;
  } cases[] = {{"fr_FR.UTF-8", "", "fr"}, {"de_DE.UTF-8", "", "en"}, {"fr_FR.UTF-8", "en", "en"}};
  const char* saved = std::getenv("LC_ALL");
  std::string savedText = saved ? saved : "";
  for (const auto& c : cases) {
    setenv("LC_ALL", c.locale, 1);
    if (*c.stored) SetValue("ini", "lang", c.stored);
    else Db().DeleteValue(TRegRoot::HKCU, std::string(kKey) + "\\ini", "lang");
    RunOnce();
    EXPECT_EQ(Value("ini", "lang"), c.lang) << c.locale;
    EXPECT_NE(Log().find(std::string("Language:") + c.lang + "(computer:"), std::string::npos)
        << Log();
  }
  if (saved) setenv("LC_ALL", savedText.c_str(), 1);
  else unsetenv("LC_ALL");
}

TEST_F(AgentProcess, UninstallModeNeedsTheServerDocumentAndOneCall) {
  // No sidebar code: the uninstall mode closes at once.
  {
    TAgentRun run({"/uninstall1"});
    EXPECT_TRUE(ExitedWithZero(run.Wait(5s)));
  }
  test::WriteFileText(home_.Sub(".local/share/Kelvo/sidebar/IEAjaxDoc.html"), "<html></html>");
  // Already called once: closes at once too.
  SetValue("", "uninstallcalled", "true");
  {
    TAgentRun run({"-UNINSTALL1"});
    EXPECT_TRUE(ExitedWithZero(run.Wait(5s)));
  }
  // The uninstall mode logs nothing without "test", and counts no run.
  EXPECT_FALSE(fs::exists(LogFile()));
  EXPECT_FALSE(fs::exists(home_.Sub(".local/share/klog.txt")));
  // Otherwise it starts (and waits for its document) until stopped; with
  // "test" it logs at debug level beside the profile folder.
  SetValue("", "uninstallcalled", "false");
  SetValue("", "test", "true");
  SetValue("ini", "log-level", "2");
  std::string klog = home_.Sub(".local/share/klog.txt");
  {
    TAgentRun run({"/UNINSTALL1"});
    EXPECT_TRUE(WaitFor([&] { return ReadFileText(klog).find("SBPath:") != std::string::npos; }));
    EXPECT_TRUE(run.Running());
    run.Signal(SIGTERM);
    EXPECT_TRUE(ExitedWithZero(run.Wait()));
  }
  std::string text = ReadFileText(klog);
  EXPECT_NE(text.find("TKelvoFrm.FormClose:TKelvoFrm"), std::string::npos) << text;
  // The destroy steps belong to the normal mode.
  EXPECT_EQ(text.find("FormDestroy:End"), std::string::npos) << text;
  EXPECT_EQ(Value("", "Runs"), "<missing>");
  EXPECT_EQ(Value("ini", "log-level"), "5");
}

}  // namespace
}  // namespace kelvo
