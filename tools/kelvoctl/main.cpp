// kelvoctl, the agent's command-line companion: one command per call, the
// answer on standard output. Exit status 0 on success, 1 when the command
// failed, 2 for a wrong command line.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"

namespace {

using namespace kelvo::ctl;

void PrintHelp(std::ostream& out) {
  out << "Usage: kelvoctl COMMAND [OPTION]... [--] [ARGUMENT]...\n"
         "\n"
         "Commands:\n";
  for (const TCommand& c : Commands()) {
    out << "  " << Synopsis(c) << "\n      " << c.description << "\n";
  }
  out << "\n"
         "Each command prints its answer as one line. \"--\" ends the options, so\n"
         "an argument may begin with \"-\". \"kelvoctl COMMAND --help\" describes one\n"
         "command. Exit status: 0 success, 1 failure, 2 wrong command line.\n";
}

void PrintCommandHelp(const TCommand& c, std::ostream& out) {
  out << "Usage: " << Synopsis(c) << "\n" << c.description << "\n";
  for (const TOptionSpec& o : c.options) out << "  " << o.name << "  " << o.help << "\n";
}

int UsageError(const std::string& message) {
  std::cerr << "kelvoctl: " << message << "\nTry 'kelvoctl --help'.\n";
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) return UsageError("missing command");
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(std::cout);
    return kExitOk;
  }
  const TCommand* command = FindCommand(name);
  if (command == nullptr) return UsageError("unknown command '" + name + "'");

  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--") break;
    if (arg == "--help") {
      PrintCommandHelp(*command, std::cout);
      return kExitOk;
    }
  }
  try {
    const TArgs parsed(command->name, rest, command->options);
    const int status = command->run(parsed, std::cout);
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "kelvoctl: " << name << ": could not write the answer\n";
      return kExitFailure;
    }
    return status;
  } catch (const TUsageError& e) {
    return UsageError(e.what());
  } catch (const std::exception& e) {
    std::cerr << "kelvoctl: " << name << ": " << e.what() << "\n";
    return kExitFailure;
  }
}
