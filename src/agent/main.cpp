// Composition root of the agent: builds the concrete platform objects (the
// registry database, the single-instance lock, the window layer's loop and
// signals) and runs the main form.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "agent/Main.h"
#include "agent/Messages.h"
#include "agent/SidebarChain.h"
#include "foundation/Log.h"
#include "foundation/PlatformInfo.h"
#include "platform/InstanceLock.h"
#include "platform/Registry.h"
#include "platform/Signals.h"
#include "platform/SpecialFolders.h"
#include "platform/SystemInfo.h"
#include "platform/Window.h"
#include "platform/linux/SqliteRegistry.h"

namespace {

constexpr const char* kUsage =
    "Usage: kelvo [--help | --version | /UNINSTALL1 | [--stay] [--favorites DIR]]\n"
    "\n"
    "Kelvo for Internet Explorer: the resident agent that keeps the Favorites\n"
    "in step with the link server, keeps their backups and hosts the sidebar.\n"
    "Only one agent runs per user; starting another one does nothing.\n"
    "\n"
    "  --help        show this help and exit\n"
    "  --version     show the agent's version and exit\n"
    "  /UNINSTALL1   uninstall mode (also -UNINSTALL1): shows the uninstall dialog\n"
    "  --stay        keep running without a browser frame (the agent otherwise\n"
    "                closes soon after start when no \"IEFrame\" window exists)\n"
    "  --favorites DIR\n"
    "                use DIR as the Favorites folder for this run\n"
    "\n"
    "SIGTERM or SIGINT closes the agent as its \"Close\" menu item does.\n"
    "Settings: $XDG_CONFIG_HOME/kelvo/registry.db; log: $XDG_DATA_HOME/Kelvo/log/.\n";

// What a user asks of the command line itself; the agent does not start.
bool AnswerInformationalOption(const std::vector<std::string>& args, int& exitCode) {
  if (args.size() != 2) return false;
  if (args[1] == "--help" || args[1] == "-h") {
    std::fputs(kUsage, stdout);
    exitCode = 0;
    return true;
  }
  if (args[1] == "--version") {
    std::printf("kelvo %s\n", kelvo::GetFileVersion().c_str());
    exitCode = 0;
    return true;
  }
  return false;
}

void InitializeApplication() {
  kelvo::SetRegistry(kelvo::OpenRegistryDatabase(kelvo::DefaultRegistryPath()));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kelvo;
  std::vector<std::string> args(argv, argv + argc);
  int exitCode = 0;
  if (AnswerInformationalOption(args, exitCode)) return exitCode;
  TAgentOptions options = ParseAgentOptions(args);
  if (!options.error.empty()) {
    std::fprintf(stderr, "kelvo: %s\n%s", options.error.c_str(), kUsage);
    return 2;
  }
  SetAgentOptions(options);
  SetCommandLine(argc, argv);

  // Process initialisation, before anything can post or assert.
  RegisteredMessages();
  InstallAssertionHandler();

  // 1. One agent per user: a second one ends at once, without a trace.
  TInstanceLock instanceLock;
  if (!instanceLock.Acquire()) return 0;
  // A stopped agent closes as the tray menu's "Close" does, so that its
  // shutdown sequence always runs. The handler runs from the message loop,
  // hence only while the main form exists; a signal that comes earlier
  // waits in the loop's queue.
  TKelvoFrm* mainForm = nullptr;
  OnTerminationSignal([&mainForm](int) {
    if (mainForm && !mainForm->Closed()) mainForm->MnuExitClick();
  });
  // 2
  SetRunMode(RunModeOf(args));
  // 3
  try {
    InitializeApplication();
  } catch (const std::exception& e) {
    TLog::Error(std::string("Initialize error:") + e.what());
  }
  SetApplicationTitle(kApplicationTitle);
  int status = 0;
  try {
    TKelvoFrm form(ExecutablePath());
    mainForm = &form;
    form.Create();
    RunMessageLoop();
    mainForm = nullptr;
  } catch (const std::exception& e) {
    // Only a failure outside every handler's guard gets here.
    mainForm = nullptr;
    TLog::LogException(e, "kelvo main");
    status = 1;
  }
  OnTerminationSignal(nullptr);
  instanceLock.Release();
  return status;
}
