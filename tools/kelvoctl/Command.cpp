#include "Command.h"

#include <algorithm>
#include <utility>

namespace kelvo::ctl {

namespace {

std::vector<TCommand>& Table() {
  static std::vector<TCommand> table;  // filled during static initialization
  return table;
}

}  // namespace

TArgs::TArgs(std::string_view command, const std::vector<std::string>& raw, const std::vector<TOptionSpec>& options)
    : command_(command) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::string& arg = raw[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto known = std::find_if(options.begin(), options.end(), [&](const TOptionSpec& o) { return o.name == name; });
    if (known == options.end()) {
      throw TUsageError(command_ + ": unknown option '" + name + "' (use -- before a name that begins with '-')");
    }
    if (!known->takesValue) {
      if (equals != std::string::npos) throw TUsageError(command_ + ": option '" + name + "' takes no value");
      values_[name] = "";
    } else if (equals != std::string::npos) {
      values_[name] = arg.substr(equals + 1);
    } else if (i + 1 < raw.size()) {
      values_[name] = raw[++i];
    } else {
      throw TUsageError(command_ + ": option '" + name + "' needs a value");
    }
  }
}

std::optional<std::string> TArgs::Value(std::string_view name) const {
  const auto it = values_.find(std::string(name));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void TArgs::ExpectOperands(std::size_t min, std::size_t max, std::string_view what) const {
  const std::size_t n = operands_.size();
  if (n < min) throw TUsageError(command_ + ": missing " + std::string(what));
  if (n > max) throw TUsageError(command_ + ": too many arguments (expected " + std::string(what) + ")");
}

const std::vector<TCommand>& Commands() { return Table(); }

const TCommand* FindCommand(std::string_view name) {
  for (const TCommand& c : Table()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string Synopsis(const TCommand& command) {
  std::string text = "kelvoctl " + std::string(command.name);
  for (const TOptionSpec& o : command.options) {
    text += " [" + std::string(o.name) + (o.takesValue ? " VALUE" : "") + "]";
  }
  if (!command.operands.empty()) text += " " + std::string(command.operands);
  return text;
}

TCommandRegistrar::TCommandRegistrar(TCommand command) {
  std::vector<TCommand>& table = Table();
  const auto at = std::lower_bound(table.begin(), table.end(), command.name,
                                   [](const TCommand& c, std::string_view name) { return c.name < name; });
  table.insert(at, std::move(command));
}

}  // namespace kelvo::ctl
