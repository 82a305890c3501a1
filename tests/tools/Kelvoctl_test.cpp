// Runs the built kelvoctl as a user would and checks what it prints and its
// exit status.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunKelvoctl.h"
#include "TestHome.h"

namespace kelvo {
namespace {

using test::TRun;
using test::kKelvoctl;

class KelvoctlTest : public ::testing::Test {
 protected:
  TRun Run(const std::vector<std::string>& args) { return test::RunKelvoctl(home_, args); }

  test::TTestHome home_;
};

struct TAnswerCase {
  std::vector<std::string> args;
  std::string answer;
};

TEST_F(KelvoctlTest, CommandsPrintTheirAnswerAsOneLine) {
  const TAnswerCase cases[] = {
      {{"normalize", "Tom & Jerry"}, "tom jerry"},
      {{"normalize", "AT&T"}, "at"},
      {{"normalize", "Rock &amp; Roll"}, "rock & roll"},
      {{"normalize", "l&#39;\xC3\xA9t\xC3\xA9"}, "l'\xC3\xA9t\xC3\xA9"},
      {{"normalize", "a/b: c?"}, "a-b c"},
      {{"normalize", "--folder", "  ..Tips..  "}, "tips"},
      {{"normalize", "  ..Tips..  "}, "  ..tips.."},
      {{"normalize", "  ..Tips..  ", "--folder"}, "tips"},  // options may follow the operand
      {{"normalize", "wait&hellip;"}, "wait\xE2\x80\xA6"},
      {{"normalize", std::string(200, 'X')}, std::string(150, 'x')},
      {{"normalize", "Caf\xE9"}, "caf\xE9"},  // a Latin-1 byte passes through
      {{"filesafe", "Rock &amp; Roll: Live?"}, "Rock &amp; Roll Live"},
      {{"filesafe", "--folder", " .Tips. "}, "Tips"},
      {{"filesafe", " .Tips. "}, " .Tips."},
      {{"canonical-url", "http://www.Host/"}, "http:host/"},
      {{"canonical-url", "http://Host"}, "http:host/"},
      {{"canonical-url", "HTTPS://www.h:443/A/./b/../Index.html#top"}, "https:h/a/"},
      {{"canonical-url", "http://h:80/x//y/?Q=A//B"}, "http:h/x/y/?q=a//b"},
      {{"canonical-url", "http://h/a/b/c/../../d"}, "http:h/a/d"},
      {{"canonical-url", "http://h/a/default.aspx"}, "http:h/a/"},
      {{"canonical-url", "ftp://h/"}, ""},
      {{"canonical-url", "http://"}, ""},
      {{"canonical-url", ""}, ""},
      {{"checksum", "abc"}, "38404390"},
      {{"checksum", ""}, "0"},
      {{"path-key", "News"}, "/newsB"},
      {{"path-key", "--folder", "News"}, "/newsF"},
      {{"path-key", "News", "Daily"}, "/news/dailyB"},
      {{"path-key", "--folder", "News", "World &amp; More"}, "/news/world & moreF"},
      // "--" ends the options: names that begin with "-".
      {{"normalize", "--", "-Dash"}, "-dash"},
      {{"normalize", "--", "--folder"}, "--folder"},
      {{"normalize", "--folder", "--", "-x."}, "-x"},
      {{"checksum", "--", "--"}, std::to_string(((45u + 90u) << 16) | 90u)},
      {{"path-key", "--", "-a", "--help"}, "/-a/--helpB"},
      {{"normalize", "-"}, "-"},
  };
  for (const TAnswerCase& c : cases) {
    const TRun run = Run(c.args);
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(run.exitCode, 0) << shown << " stderr: " << run.err;
    EXPECT_EQ(run.out, c.answer + "\n") << shown;
    EXPECT_EQ(run.err, "") << shown;
  }
}

TEST_F(KelvoctlTest, UsageErrorsExitWithTwoAndExplainOnStandardError) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"no-such-command"},
      {"normalize"},
      {"normalize", "a", "b"},
      {"normalize", "-Dash"},
      {"normalize", "--folder=1", "x"},
      {"checksum"},
      {"checksum", "--folder", "x"},
      {"canonical-url"},
      {"canonical-url", "http://a/", "http://b/"},
      {"path-key"},
      {"path-key", "--folder"},
      {"filesafe", "--bogus", "x"},
  };
  for (const auto& args : cases) {
    const TRun run = Run(args);
    std::string shown;
    for (const std::string& a : args) shown += "[" + a + "]";
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err.rfind("kelvoctl: ", 0), 0u) << shown << " stderr: " << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << shown;
  }
  EXPECT_NE(Run({"frobnicate"}).err.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_NE(Run({"normalize", "-Dash"}).err.find("unknown option '-Dash'"), std::string::npos);
}

TEST_F(KelvoctlTest, HelpDescribesEveryCommand) {
  for (const char* flag : {"--help", "help", "-h"}) {
    const TRun run = Run({flag});
    EXPECT_EQ(run.exitCode, 0) << flag;
    EXPECT_EQ(run.err, "");
    for (const char* synopsis : {"kelvoctl normalize [--folder] NAME", "kelvoctl filesafe [--folder] NAME",
                                 "kelvoctl canonical-url URL", "kelvoctl checksum TEXT",
                                 "kelvoctl path-key [--folder] NAME..."}) {
      EXPECT_NE(run.out.find(synopsis), std::string::npos) << flag << ": " << synopsis;
    }
    EXPECT_NE(run.out.find("\"--\" ends the options"), std::string::npos);
  }
  const TRun one = Run({"path-key", "--help"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.out.rfind("Usage: kelvoctl path-key [--folder] NAME...\n", 0), 0u) << one.out;
  EXPECT_NE(one.out.find("--folder"), std::string::npos);
  // After "--", "--help" is a name like any other.
  const TRun asName = Run({"normalize", "--", "--help"});
  EXPECT_EQ(asName.exitCode, 0);
  EXPECT_EQ(asName.out, "--help\n");
}

}  // namespace
}  // namespace kelvo
