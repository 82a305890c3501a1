// "kelvoctl backups" run as a user would.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "RunKelvoctl.h"
#include "TestHome.h"
#include "foundation/DateUtils.h"
#include "foundation/FileTools.h"

namespace kelvo {
namespace {

using test::TRun;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class BackupCommandsTest : public ::testing::Test {
 protected:
  TRun Run(const std::vector<std::string>& args) { return test::RunKelvoctl(home_, args); }

  // A backup file with its last-write time.
  std::string Backup(const std::string& folder, const std::string& name, const TDateTime& time) {
    std::filesystem::create_directories(folder);
    const std::string path = folder + name;
    test::WriteFileText(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?><xbel version=\"1.0\"/>");
    EXPECT_TRUE(TFileTools::SetFileTime(path, time));
    return path;
  }

  static std::string Line(const TDateTime& time, const std::string& count, const std::string& path) {
    return "Archive " + FormatDateTime("dd mmm yyyy hh:mm", time) + "\t" + count + "\t" + path;
  }

  test::TTestHome home_;
};

TEST_F(BackupCommandsTest, ListsHtmlAndXbelBackupsNewestFirst) {
  const std::string dir = home_.Sub("arch/");
  const TDateTime older{2008, 1, 1, 9, 30, 0, 0};
  const TDateTime middle{2026, 2, 1, 10, 0, 0, 0};
  const TDateTime newest{2026, 2, 3, 8, 0, 0, 0};
  const std::string html = Backup(dir, "Archive 2008-01-01 (40).html", older);
  const std::string a = Backup(dir, "Archive 2026-02-01 10.00.00.000 (12).xbel", middle);
  const std::string b = Backup(dir, "Archive 2026-02-03 08.00.00.000 (13).xbel", newest);
  Backup(dir, "Archive 2027-01-01 (1).txt", newest);
  Backup(dir, "Archive 2027-01-01 (2).xbel.tmp12-1", newest);
  TRun run = Run({"backups", dir});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{Line(newest, "13", b), Line(middle, "12", a),
                                                      Line(older, "40", html)}));
}

TEST_F(BackupCommandsTest, DefaultsToTheAgentsArchiveFolder) {
  const std::string agentArchive = home_.Sub(".local/share/Kelvo/Archive/");
  TRun none = Run({"backups"});
  ASSERT_EQ(none.exitCode, 0) << none.err;
  EXPECT_EQ(none.out, "no backups in " + agentArchive + "\n");
  EXPECT_FALSE(std::filesystem::exists(agentArchive));  // listing creates nothing

  const TDateTime time{2026, 4, 5, 6, 7, 8, 9};
  const std::string file = Backup(agentArchive, "Archive 2026-04-05 06.07.08.009 (3).xbel", time);
  TRun run = Run({"backups"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{Line(time, "3", file)}));
}

TEST_F(BackupCommandsTest, WrongFolderAndWrongCommandLine) {
  TRun missing = Run({"backups", home_.Sub("nowhere")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("not a directory: " + home_.Sub("nowhere")), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(home_.Sub("nowhere")));
  EXPECT_EQ(Run({"backups", "a", "b"}).exitCode, 2);
  TRun empty = Run({"backups", home_.Path().string()});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_EQ(empty.out, "no backups in " + home_.Path().string() + "/\n");
}

}  // namespace
}  // namespace kelvo
