// kelvo-linkserver: the reference link server on the loopback interface,
// for running the agent against a server of one's own.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "LinkServer.h"
#include "bookmarks/ServerLinks.h"
#include "platform/Signals.h"
#include "platform/Window.h"

namespace {

constexpr const char* kUsage =
    "Usage: kelvo-linkserver [--port N] [--db FILE] [--update-version V] [--update-url URL]\n"
    "\n"
    "Serves the agent's link server protocol on 127.0.0.1: POST /linkserver with\n"
    "the form parameter \"script\", GET download/ie/update.txt,\n"
    "code-table/uninstall-reasons.<lang>.xml and rest/counters/one/<name>.\n"
    "\n"
    "  --port N            port to listen on (default 8480, the agent's default)\n"
    "  --db FILE           SQLite file (default $XDG_DATA_HOME/kelvo-linkserver/links.db)\n"
    "  --update-version V  \"version\" line of update.txt (default: this build's)\n"
    "  --update-url URL    \"url\" line of update.txt\n"
    "  --help              show this help and exit\n"
    "\n"
    "One line per request goes to standard error. SIGTERM or SIGINT stops it.\n";

bool ParsePort(const std::string& text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int port = kelvo::linkserver::kDefaultPort;
  std::string db = kelvo::linkserver::DefaultDatabasePath();
  std::string updateVersion;
  std::string updateUrl;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--port" && value(text) && ParsePort(text, port)) {
    } else if (arg == "--db" && value(db) && !db.empty()) {
    } else if (arg == "--update-version" && value(updateVersion)) {
    } else if (arg == "--update-url" && value(updateUrl)) {
    } else {
      std::fprintf(stderr, "kelvo-linkserver: bad argument: %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  // The server has no Favorites folder: the Links toolbar folder keeps the
  // name the agent uses by default.
  kelvo::SetLinksFolderNameSource([] { return std::string("Links"); });

  try {
    kelvo::linkserver::TLinkServer server(db);
    if (!updateVersion.empty() || !updateUrl.empty()) {
      server.SetUpdateInfo(updateVersion, updateUrl);
    }
    server.SetRequestLog(&std::cerr);
    kelvo::OnTerminationSignal([](int) { kelvo::PostQuitMessage(0); });
    const int bound = server.Start(port);
    std::cerr << "kelvo-linkserver: listening on http://127.0.0.1:" << bound << "/ (data: " << db
              << ")" << std::endl;
    kelvo::RunMessageLoop();
    server.Stop();
    std::cerr << "kelvo-linkserver: stopped" << std::endl;
  } catch (const kelvo::TKException& e) {
    std::cerr << "kelvo-linkserver: " << e.FullMessage() << std::endl;
    return 1;
  }
  return 0;
}
