#pragma once
// Runs the built kelvoctl as a user would, capturing its output in files of
// the test's home, and answers what it printed and its exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestHome.h"

extern char** environ;

namespace kelvo::test {

inline const std::string kKelvoctl = std::string(KELVO_BINARY_DIR) + "/tools/kelvoctl/kelvoctl";

struct TRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline TRun RunKelvoctl(const TTestHome& home, std::vector<std::string> args) {
  args.insert(args.begin(), kKelvoctl);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outFile = home.Sub("stdout");
  const std::string errFile = home.Sub("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  TRun run;
  const int spawned = posix_spawn(&pid, kKelvoctl.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << kKelvoctl;
    return run;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.out = ReadFileText(outFile);
  run.err = ReadFileText(errFile);
  return run;
}

}  // namespace kelvo::test
