#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "TestHome.h"

namespace kelvo::test {

namespace {
const char* const kIsolatedVars[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                     "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
}

TTestHome::TTestHome() {
  for (const char* v : kIsolatedVars) {
    const char* old = std::getenv(v);
    saved_[v] = old ? std::optional<std::string>(old) : std::nullopt;
    unsetenv(v);
  }
  std::string tmpl = (std::filesystem::temp_directory_path() / "kelvo-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
  setenv("HOME", path_.c_str(), 1);
  // The runtime folder would otherwise fall back to one shared by every
  // test process of the user (the lock, the message port).
  std::filesystem::create_directory(path_ / "run");
  std::filesystem::permissions(path_ / "run", std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (path_ / "run").c_str(), 1);
}

TTestHome::~TTestHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  for (auto& [name, value] : saved_) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
}

std::string ReadFileText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileText(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace kelvo::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
