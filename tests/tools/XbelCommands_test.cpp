// "kelvoctl export-xbel" and "kelvoctl show-xbel" run as a user would.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "RunKelvoctl.h"
#include "TestHome.h"

namespace kelvo {
namespace {

using test::TRun;
using test::kKelvoctl;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The name and URL fields of a listing line, indentation kept.
std::string NameAndURL(const std::string& line) {
  return line.substr(0, line.rfind('\t'));
}

class XbelCommandsTest : public ::testing::Test {
 protected:
  TRun Run(const std::vector<std::string>& args) { return test::RunKelvoctl(home_, args); }

  void Shortcut(const std::string& relative, const std::string& url) {
    std::filesystem::create_directories(std::filesystem::path(home_.Sub(relative)).parent_path());
    test::WriteFileText(home_.Sub(relative), "[InternetShortcut]\r\nURL=" + url + "\r\n");
  }

  test::TTestHome home_;
};

TEST_F(XbelCommandsTest, ExportThenShowRoundTripsNamesAndURLs) {
  Shortcut("Fav/Alpha.url", "http://alpha.example/");
  Shortcut("Fav/News & Sport/Le Monde.url", "http://lemonde.fr/?a=1&b=2");
  Shortcut("Fav/News & Sport/Deeper/Caf\xC3\xA9.url", "https://caf\xC3\xA9.example/x");
  std::filesystem::create_directories(home_.Sub("Fav/Empty"));
  const std::string file = home_.Sub("out/archive.xbel");

  TRun exported = Run({"export-xbel", home_.Sub("Fav"), file});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out, "exported 3 bookmarks in 3 folders to " + file + "\n");
  EXPECT_EQ(test::ReadFileText(file).rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u);

  TRun shown = Run({"show-xbel", file});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  std::vector<std::string> lines = Lines(shown.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back().rfind("sync-id-text:", 0), 0u);
  std::vector<std::string> nodes;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) nodes.push_back(NameAndURL(lines[i]));
  std::sort(nodes.begin(), nodes.end());
  std::vector<std::string> expected = {
      "  Alpha\thttp://alpha.example/",
      "  Empty/\t",
      "  News & Sport/\t",
      "    Deeper/\t",
      "    Le Monde\thttp://lemonde.fr/?a=1&b=2",
      "      Caf\xC3\xA9\thttps://caf\xC3\xA9.example/x",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(nodes, expected) << shown.out;

  // The folder as the agent reads it lists the same nodes, keys and
  // sync-id text; only the root's name differs.
  TRun tree = Run({"tree", home_.Sub("Fav")});
  ASSERT_EQ(tree.exitCode, 0) << tree.err;
  std::vector<std::string> treeLines = Lines(tree.out);
  ASSERT_EQ(treeLines.size(), lines.size()) << tree.out;
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(treeLines[i], lines[i]);
}

TEST_F(XbelCommandsTest, FailuresAreReportedWithTheirReason) {
  const std::string corpus = std::string(KELVO_CORPUS_DIR) + "/xbel/";
  TRun entity = Run({"show-xbel", corpus + "01-arora-all.xbel"});
  EXPECT_EQ(entity.exitCode, 1);
  EXPECT_NE(entity.err.find("Invalid xml file:" + corpus + "01-arora-all.xbel"), std::string::npos)
      << entity.err;
  EXPECT_NE(entity.err.find("nbsp"), std::string::npos) << entity.err;
  EXPECT_EQ(Run({"show-xbel", corpus + "12-glib-fail-01-empty.xbel"}).exitCode, 1);
  EXPECT_EQ(Run({"show-xbel", home_.Sub("missing.xbel")}).exitCode, 1);
  EXPECT_EQ(Run({"export-xbel", home_.Sub("missing-dir"), home_.Sub("x.xbel")}).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(home_.Sub("x.xbel")));
  EXPECT_EQ(Run({"show-xbel"}).exitCode, 2);
  EXPECT_EQ(Run({"export-xbel", home_.Sub("Fav")}).exitCode, 2);

  // A readable corpus file lists every node.
  TRun frank = Run({"show-xbel", corpus + "03-arora-frank.xbel"});
  ASSERT_EQ(frank.exitCode, 0) << frank.err;
  EXPECT_EQ(Lines(frank.out).size(), 1u + 64u + 11u + 1u);
}

}  // namespace
}  // namespace kelvo
