// The built kelvo-linkserver executable: its command line, its request log
// on standard error and its clean stop on SIGTERM.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "TestHome.h"

extern char** environ;

namespace kelvo::test {
namespace {

using namespace std::chrono_literals;

const std::string kExecutable = KELVO_BINARY_DIR "/tools/linkserver/kelvo-linkserver";

// A loopback port nobody listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// The executable with its standard output and error read through one pipe.
class TServerProcess {
 public:
  explicit TServerProcess(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all{kExecutable};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kExecutable.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~TServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads output until it contains text or the output ends (the process
  // exited) or the deadline passes; answers whether the text came.
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  // Reads until the output ends, then answers the exit status (-1 when it
  // did not end in time).
  int WaitExit(std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return -1;
      if (!ReadSome(static_cast<int>(left.count()))) break;
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& Output() const { return output_; }

 private:
  // False at the end of the output or on time-out.
  bool ReadSome(int timeoutMs) {
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

TEST(LinkServerProcess, ServesLogsEachRequestAndStopsCleanlyOnSigterm) {
  TTestHome home;
  const int port = FreePort();
  TServerProcess server({"--port", std::to_string(port), "--db", home.Sub("db/links.db"),
                         "--update-version", "3.1.4.15"});
  ASSERT_TRUE(server.Started());
  ASSERT_TRUE(server.WaitFor("listening on http://127.0.0.1:" + std::to_string(port) + "/"))
      << server.Output();

  httplib::Client client("127.0.0.1", port);
  httplib::Result update = client.Get("/download/ie/update.txt");
  ASSERT_TRUE(update);
  EXPECT_NE(update->body.find("version=3.1.4.15\r\n"), std::string::npos);
  httplib::Result connect = client.Post(
      "/linkserver",
      httplib::Params{{"script",
                       "<server-script><context><user-id>eve:pw</user-id></context><connect/>"
                       "</server-script>"}});
  ASSERT_TRUE(connect);
  EXPECT_NE(connect->body.find("MSG_WELCOME"), std::string::npos);
  ASSERT_TRUE(server.WaitFor("POST /linkserver 200")) << server.Output();
  EXPECT_NE(server.Output().find("GET /download/ie/update.txt 200"), std::string::npos);

  ASSERT_EQ(kill(server.Pid(), SIGTERM), 0);
  EXPECT_EQ(server.WaitExit(), 0) << server.Output();
  EXPECT_NE(server.Output().find("stopped"), std::string::npos) << server.Output();
  // The data is in the file given.
  EXPECT_TRUE(std::filesystem::exists(home.Sub("db/links.db")));
}

TEST(LinkServerProcess, CommandLine) {
  TTestHome home;
  {
    TServerProcess help({"--help"});
    ASSERT_TRUE(help.Started());
    EXPECT_EQ(help.WaitExit(), 0);
    EXPECT_NE(help.Output().find("Usage: kelvo-linkserver"), std::string::npos);
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--port", "0"},
                                              {"--port", "70000"},
                                              {"--port"},
                                              {"--frob"},
                                              {"--db", ""}}) {
    TServerProcess process(bad);
    ASSERT_TRUE(process.Started());
    EXPECT_EQ(process.WaitExit(), 2) << bad[0];
    EXPECT_NE(process.Output().find("bad argument"), std::string::npos);
  }
  // A port already taken is a clear error, not a hang.
  const int port = FreePort();
  TServerProcess first({"--port", std::to_string(port), "--db", home.Sub("a.db")});
  ASSERT_TRUE(first.WaitFor("listening")) << first.Output();
  TServerProcess second({"--port", std::to_string(port), "--db", home.Sub("b.db")});
  EXPECT_EQ(second.WaitExit(), 1) << second.Output();
  EXPECT_NE(second.Output().find("cannot listen on 127.0.0.1:" + std::to_string(port)),
            std::string::npos);
}

}  // namespace
}  // namespace kelvo::test
