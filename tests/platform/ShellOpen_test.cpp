#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TestHome.h"
#include "platform/ShellOpen.h"

namespace kelvo {
namespace {

// The started program runs on its own; its output file is the event.
std::string WaitForFile(const std::string& file) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(file + ".done")) return test::ReadFileText(file);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return "<timed out>";
}

// A script that records its arguments one per line.
std::string MakeRecorder(const test::TTestHome& home, const std::string& name,
                         const std::string& out) {
  std::string script = home.Sub(name);
  test::WriteFileText(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                  out + "'\ntouch '" + out + ".done'\n");
  ::chmod(script.c_str(), 0700);
  return script;
}

TEST(ShellOpen, DocumentsGoToTheOpener) {
  test::TTestHome home;
  const std::string out = home.Sub("opened.txt");
  ::setenv("KELVO_OPEN_COMMAND", MakeRecorder(home, "opener", out).c_str(), 1);
  EXPECT_TRUE(ShellOpenDocument(home.Sub("Favorites/a page.url"), "ignored parameters"));
  EXPECT_EQ(WaitForFile(out), home.Sub("Favorites/a page.url") + "\n");

  std::filesystem::remove(out + ".done");
  // A name that looks like an option is made a path.
  EXPECT_TRUE(ShellOpenDocument("-rf", ""));
  EXPECT_EQ(WaitForFile(out), "./-rf\n");
  ::unsetenv("KELVO_OPEN_COMMAND");
}

TEST(ShellOpen, ProgramsStartWithTheirParameters) {
  test::TTestHome home;
  const std::string out = home.Sub("args.txt");
  std::string program = MakeRecorder(home, "program", out);
  EXPECT_TRUE(ShellOpenDocument(program, "/install \"two words\" last"));
  EXPECT_EQ(WaitForFile(out), "/install\ntwo words\nlast\n");
}

TEST(ShellOpen, AMissingOpenerIsSilent) {
  test::TTestHome home;
  ::setenv("KELVO_OPEN_COMMAND", home.Sub("no-such-opener").c_str(), 1);
  EXPECT_TRUE(ShellOpenDocument(home.Sub("file.txt"), ""));
  ::unsetenv("KELVO_OPEN_COMMAND");
  EXPECT_FALSE(ShellOpenDocument("", ""));
}

TEST(ShellOpen, ParameterSplitting) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitShellParameters(""), V{});
  EXPECT_EQ(SplitShellParameters("  a   b "), (V{"a", "b"}));
  EXPECT_EQ(SplitShellParameters("\"C:/a b\" -x"), (V{"C:/a b", "-x"}));
  EXPECT_EQ(SplitShellParameters("\"\""), V{""});
  EXPECT_EQ(SplitShellParameters("pre\"fix x\"post"), V{"prefix xpost"});
}

}  // namespace
}  // namespace kelvo
