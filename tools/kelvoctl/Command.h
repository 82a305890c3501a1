#pragma once
// kelvoctl's command table. Each command lives in its own source file and
// adds itself with a static TCommandRegistrar, so a new command is a new file
// and main.cpp does not change. Commands print their answer on standard
// output; a usage error is a TUsageError (exit status 2), any other failure
// an exception (exit status 1).

#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Wrong command line: the message goes to standard error with a hint.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TOptionSpec {
  std::string_view name;  // with its dashes: "--folder"
  bool takesValue = false;
  std::string_view help;
};

// The arguments of one command after its name. Options may stand anywhere
// before "--"; everything after "--" is an operand, so a name may begin with
// "-". A lone "-" is an operand too.
class TArgs {
 public:
  TArgs(std::string_view command, const std::vector<std::string>& raw, const std::vector<TOptionSpec>& options);

  bool Flag(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  std::optional<std::string> Value(std::string_view name) const;
  const std::vector<std::string>& Operands() const { return operands_; }
  // Usage error unless min <= operand count <= max.
  void ExpectOperands(std::size_t min, std::size_t max, std::string_view what) const;

 private:
  std::string command_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> operands_;
};

inline constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);

struct TCommand {
  std::string_view name;
  std::string_view operands;     // synopsis after the options: "NAME..."
  std::string_view description;  // one line
  std::vector<TOptionSpec> options;
  int (*run)(const TArgs& args, std::ostream& out);
};

// Commands in name order.
const std::vector<TCommand>& Commands();
const TCommand* FindCommand(std::string_view name);

// "kelvoctl path-key [--folder] NAME..."
std::string Synopsis(const TCommand& command);

struct TCommandRegistrar {
  explicit TCommandRegistrar(TCommand command);
};

}  // namespace kelvo::ctl
