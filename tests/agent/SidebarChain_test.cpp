// The built agent on its way up the readiness chain: the sidebar code
// package unpacked on a fresh HOME (and only again for a newer package), the
// four hidden documents, "initialized" with the controller reading the
// Favorites, the connect script reaching the reference link server, and the
// close when no browser frame exists. Each test has its own HOME; packages
// other than the build's come with a copy of the agent in a folder of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "platform/linux/SqliteRegistry.h"

extern char** environ;

namespace kelvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::ReadFileText;
using test::WriteFileText;

const std::string kBuiltAgent = std::string(KELVO_BINARY_DIR) + "/src/agent/kelvo";
const std::string kLinkServer =
    std::string(KELVO_BINARY_DIR) + "/tools/linkserver/kelvo-linkserver";
const std::string kPackageSource = std::string(KELVO_SOURCE_DIR) + "/sidebar-package";
constexpr const char* kKey = "Software\\Kelvo";

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 15s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A child process with its output in files (or nowhere).
class TProcess {
 public:
  TProcess(const std::string& exe, const std::vector<std::string>& args,
           const std::string& errFile = "") {
    std::vector<std::string> all = {exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* err = errFile.empty() ? "/dev/null" : errFile.c_str();
    posix_spawn_file_actions_addopen(&actions, 2, err, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  void Signal(int sig) const { kill(pid_, sig); }
  bool Running() {
    int status = 0;
    if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
  }
  // True when it ended with exit status 0 within the limit.
  bool EndedWithZero(std::chrono::milliseconds limit = 15s) {
    WaitFor([&] { return !Running(); }, limit);
    return status_ && WIFEXITED(*status_) && WEXITSTATUS(*status_) == 0;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

void ZipFolder(const std::string& zipPath, const std::string& folder, const std::string& prefix,
               const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  int err = 0;
  zip_t* z = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::string name = prefix + fs::relative(entry.path(), folder).generic_string();
    zip_source_t* s = zip_source_file(z, entry.path().c_str(), 0, -1);
    ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0);
  }
  for (const auto& [name, content] : extra) {
    zip_source_t* s = zip_source_buffer(z, content.data(), content.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class SidebarChain : public ::testing::Test {
 protected:
  void SetUp() override { SetValue("ini", "log-level", "5"); }

  std::string Data() const { return home_.Sub(".local/share/Kelvo") + "/"; }
  std::string Code() const { return Data() + "sidebar/"; }
  std::string Log() const { return ReadFileText(Data() + "log/log.ap.txt"); }
  void SetValue(const std::string& section, const std::string& name, const std::string& value) {
    if (!db_) db_ = std::make_unique<TSqliteRegistry>(home_.Sub(".config/kelvo/registry.db"));
    std::string key = section.empty() ? kKey : std::string(kKey) + "\\" + section;
    ASSERT_TRUE(db_->WriteString(TRegRoot::HKCU, key, name, value));
  }
  // A copy of the agent whose package is the repository's pages with the
  // given version and extra entries.
  std::string AgentWithPackage(const std::string& version,
                               const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    std::string app = home_.Sub("app") + "/";
    fs::create_directories(app + "sidebar");
    fs::copy_file(kBuiltAgent, app + "kelvo", fs::copy_options::overwrite_existing);
    auto entries = extra;
    entries.emplace_back("sidebar/version.txt", version + "\r\n");
    ZipFolder(app + "sidebar/Sidebar.zip", kPackageSource, "sidebar/", entries);
    WriteFileText(app + "sidebar/version.txt", version + "\r\n");
    return app + "kelvo";
  }
  // Waits for a line of this run's log (the previous run's file ends with
  // its shutdown until this run rotates it).
  bool WaitForLine(const std::string& line, std::chrono::milliseconds limit = 15s) {
    return WaitFor(
        [&] {
          std::string log = Log();
          return log.find(line) != std::string::npos &&
                 log.find("FormDestroy:End") == std::string::npos;
        },
        limit);
  }
  void Stop(TProcess& agent) {
    agent.Signal(SIGTERM);
    EXPECT_TRUE(agent.EndedWithZero());
  }
  void ExpectInOrder(const std::string& log, const std::vector<std::string>& lines) {
    std::size_t at = 0;
    for (const auto& line : lines) {
      std::size_t found = log.find(line, at);
      ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
      at = found;
    }
  }

  test::TTestHome home_;
  std::unique_ptr<TSqliteRegistry> db_;
};

TEST_F(SidebarChain, FreshHomeUnpacksThePackageAndReachesInitialized) {
  {
    TProcess agent(kBuiltAgent, {"--stay"});
    ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
    ASSERT_TRUE(WaitForLine("(added:IdEstablished)")) << Log();
    ExpectInOrder(Log(), {"GetSBInitState:not TLiveRefresh.CurrentSBIsLocallyMostRecent",
                          "UpdateSidebarFromPackage:unzipped ok", "UpdateSidebarFromPackage.end",
                          "(added:sidebar-code-ok)", "GetSBInitState.asSidebarCodeOK",
                          "kelvo.sb:services:loaded", "GetSBInitState.asSbManagers1OK",
                          "GetSBInitState.asSbManagers2OK", "(added:initialized)",
                          "TBookmarksCtrl.ReadBookmarks", "(added:IdEstablished)"});
    EXPECT_EQ(ReadFileText(Code() + "version.txt"), ReadFileText(kPackageSource + "/version.txt"));
    for (const char* page : {"sidebar.html", "IEAjaxDoc.html", "js/services/hiddenIFrame.html",
                             "emDoc.html", "memoDoc.html"}) {
      EXPECT_TRUE(fs::exists(Code() + page)) << page;
    }
    // --stay: no browser frame, and still the IE-closed timer stays off.
    EXPECT_FALSE(WaitFor([&] { return !agent.Running(); }, 1500ms));
    EXPECT_EQ(Log().find("CheckIEClosedTimerTimer"), std::string::npos);
    Stop(agent);
  }
  std::string first = Log();
  EXPECT_NE(first.find("kelvo.sb:services:notifyObservers:app.quit"), std::string::npos) << first;

  // Same package: nothing is unpacked again, the chain runs all the same.
  TProcess again(kBuiltAgent, {"--stay"});
  ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
  EXPECT_EQ(Log().find("UpdateSidebarFromPackage"), std::string::npos) << Log();
  Stop(again);
}

TEST_F(SidebarChain, NewerPackageUnpacksAgainAndTheOldFolderIsDeleted) {
  {
    TProcess agent(kBuiltAgent, {"--stay"});
    ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
    Stop(agent);
  }
  WriteFileText(Code() + "mine.js", "left by the old code");
  std::string newer = AgentWithPackage("1000");
  TProcess agent(newer, {"--stay"});
  ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
  ASSERT_TRUE(WaitForLine("Prevous sidebar js directories deleted")) << Log();
  EXPECT_EQ(ReadFileText(Code() + "version.txt"), "1000\r\n");
  EXPECT_FALSE(fs::exists(Code() + "mine.js"));
  for (const auto& entry : fs::directory_iterator(Data())) {
    EXPECT_NE(entry.path().filename().string().rfind("sidebar_old", 0), 0u) << entry.path();
  }
  Stop(agent);
}

TEST_F(SidebarChain, PackageEntriesOutsideTheFolderAreNotWritten) {
  std::string agentPath = AgentWithPackage("3", {{"../x", "evil"}, {"sidebar/../../y", "evil"}});
  TProcess agent(agentPath, {"--stay"});
  ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
  EXPECT_FALSE(fs::exists(home_.Sub(".local/share/x")));
  EXPECT_FALSE(fs::exists(home_.Sub(".local/y")));
  EXPECT_NE(Log().find("refused entry outside " + Data() + ":../x"), std::string::npos) << Log();
  Stop(agent);
}

TEST_F(SidebarChain, MissingHiddenDocumentStopsTheChainAndTheAgentStaysUp) {
  {
    TProcess agent(kBuiltAgent, {"--stay"});
    ASSERT_TRUE(WaitForLine("(added:initialized)")) << Log();
    Stop(agent);
  }
  fs::remove(Code() + "memoDoc.html");
  TProcess agent(kBuiltAgent, {"--stay"});
  ASSERT_TRUE(WaitForLine("InitMemoMgrDoc:Memo Mgr doc not found:" + Code() + "memoDoc.html"))
      << Log();
  EXPECT_FALSE(WaitFor([&] { return !agent.Running(); }, 1s));
  EXPECT_EQ(Log().find("(added:initialized)"), std::string::npos) << Log();
  Stop(agent);
}

TEST_F(SidebarChain, WithoutABrowserFrameTheAgentClosesByItself) {
  TProcess agent(kBuiltAgent, {});
  EXPECT_TRUE(agent.EndedWithZero(20s)) << Log();
  std::string log = Log();
  ExpectInOrder(log, {"GetSBInitState.asSbManagers1OK", "CheckIEClosedTimerTimer calling close forms",
                      "KM_CLOSE_MAIN", "TKelvoFrm.FormClose:TKelvoFrm",
                      "TKelvoFrm.DestroyObjects:Closing singletons", "TKelvoFrm.FormDestroy:End"});
  EXPECT_EQ(Count(log, "CheckIEClosedTimerTimer calling close forms"), 1u);
}

TEST_F(SidebarChain, FavoritesOptionIsReadAndTheConnectScriptReachesTheLinkServer) {
  if (!fs::exists(kLinkServer)) GTEST_SKIP() << "kelvo-linkserver is not built";
  const int port = 20000 + static_cast<int>(getpid() % 20000);
  std::string serverLog = home_.Sub("linkserver.log");
  TProcess server(kLinkServer, {"--port", std::to_string(port), "--db", home_.Sub("links.db")},
                  serverLog);
  ASSERT_TRUE(WaitFor([&] { return ReadFileText(serverLog).find("listening") != std::string::npos; }))
      << ReadFileText(serverLog);
  const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
  SetValue("", "link-server-base", base);
  SetValue("", "rest-counters-base", base);
  SetValue("user-data", "user-id", "tester1:secret12");

  std::string favorites = home_.Sub("MyFavorites");
  WriteFileText(favorites + "/Example.url", "[InternetShortcut]\r\nURL=http://example.org/\r\n");
  WriteFileText(favorites + "/News/Paper.url", "[InternetShortcut]\r\nURL=http://paper.example/\r\n");
  TProcess agent(kBuiltAgent, {"--stay", "--favorites", favorites});
  ASSERT_TRUE(WaitForLine("TEST rx:")) << Log();
  std::string log = Log();
  EXPECT_NE(log.find("Favorites location user set:" + favorites + "/"), std::string::npos) << log;
  EXPECT_NE(log.find("TBookmarksShellNotifier.Start:" + favorites + "/"), std::string::npos);
  EXPECT_NE(ReadFileText(serverLog).find("linkserver"), std::string::npos) << ReadFileText(serverLog);
  Stop(agent);
  // The controller counted what it read from the given folder.
  EXPECT_EQ(db_->ReadString(TRegRoot::HKCU, std::string(kKey) + "\\sync", "bookmark-count"), "2");
  server.Signal(SIGTERM);
  EXPECT_TRUE(server.EndedWithZero());
}

TEST_F(SidebarChain, FavoritesOptionWithoutAFolderIsAnError) {
  std::string err = home_.Sub("err.txt");
  TProcess agent(kBuiltAgent, {"--favorites"}, err);
  EXPECT_FALSE(agent.EndedWithZero());
  EXPECT_NE(ReadFileText(err).find("--favorites needs a folder"), std::string::npos);
  EXPECT_FALSE(fs::exists(Data() + "log"));
}

}  // namespace
}  // namespace kelvo
