#include "platform/ShellOpen.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvo {

namespace {

bool IsExecutableFile(const std::string& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(file.c_str(), X_OK) == 0;
}

// Starts the program through a shell that puts it in the background and
// ends at once: the program outlives the call, and the only child left to
// reap is the shell, reaped here.
bool SpawnDetached(const std::vector<std::string>& command) {
  std::vector<std::string> args = {"/bin/sh", "-c", "\"$@\" </dev/null >/dev/null 2>&1 &", "sh"};
  args.insert(args.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitShellParameters(const std::string& parameters) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;
  bool inWord = false;
  for (char c : parameters) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) out.push_back(current);
      current.clear();
      inWord = false;
    } else {
      current += c;
      inWord = true;
    }
  }
  if (inWord) out.push_back(current);
  return out;
}

bool ShellOpenDocument(const std::string& document, const std::string& parameters) {
  if (document.empty()) return false;
  // A bare relative name must neither be looked up in PATH nor, starting
  // with "-", be taken for an option of the opener.
  std::string file = document;
  if (file.find("://") == std::string::npos && file[0] != '/' &&
      (file[0] == '-' || IsExecutableFile(file)))
    file = "./" + file;
  std::vector<std::string> command;
  if (IsExecutableFile(file)) {
    command.push_back(file);
    for (std::string& arg : SplitShellParameters(parameters)) command.push_back(std::move(arg));
  } else {
    const char* opener = ::getenv("KELVO_OPEN_COMMAND");
    command.push_back(opener && *opener ? opener : "xdg-open");
    command.push_back(file);
  }
  return SpawnDetached(command);
}

}  // namespace kelvo
