#pragma once
// Gives a test its own temporary HOME (XDG_* cleared) for its lifetime, so
// that nothing touches the real home. Restores the environment afterwards.

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kelvo::test {

class TTestHome {
 public:
  TTestHome();
  ~TTestHome();
  TTestHome(const TTestHome&) = delete;
  TTestHome& operator=(const TTestHome&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Path under the home, as a string with "/" separators.
  std::string Sub(const std::string& relative) const { return (path_ / relative).string(); }

 private:
  std::filesystem::path path_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// Reads a whole file (empty when missing).
std::string ReadFileText(const std::filesystem::path& p);
void WriteFileText(const std::filesystem::path& p, const std::string& text);

}  // namespace kelvo::test
