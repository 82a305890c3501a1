// What only the database registry has: its file, its exact layout (peers
// read and write it directly), several writers at once, damaged files.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "TestHome.h"
#include "platform/linux/SqliteRegistry.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using TRows = std::vector<std::vector<std::string>>;

// Runs a query through a connection of its own, as a peer process would.
TRows Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  TRows rows;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class SqliteRegistryTest : public ::testing::Test {
 protected:
  test::TTestHome home_;
  std::string file_ = home_.Sub("conf/deep/registry.db");
};

TEST_F(SqliteRegistryTest, LayoutIsExactlyTheSharedOne) {
  TSqliteRegistry reg(file_);
  ASSERT_TRUE(reg.IsOpen()) << reg.LastError();
  EXPECT_EQ(Query(file_, "SELECT name, type FROM pragma_table_info('reg_keys') ORDER BY cid"),
            (TRows{{"root", "TEXT"}, {"path", "TEXT"}}));
  EXPECT_EQ(Query(file_, "SELECT name, type FROM pragma_table_info('reg_values') ORDER BY cid"),
            (TRows{{"root", "TEXT"},
                   {"path", "TEXT"},
                   {"name", "TEXT"},
                   {"type", "INTEGER"},
                   {"data", "TEXT"}}));
  EXPECT_EQ(Query(file_, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            (TRows{{"reg_keys"}, {"reg_values"}}));

  ASSERT_TRUE(reg.WriteString(TRegRoot::HKCU, "\\Software\\Kelvo\\sync\\", "mode", "merge"));
  ASSERT_TRUE(reg.WriteValue(TRegRoot::HKLM, "SOFTWARE", "bin", 3, "xyz"));
  // Stored paths have no outer "\"; every key of the chain has its row.
  EXPECT_EQ(Query(file_, "SELECT root, path FROM reg_keys ORDER BY rowid"),
            (TRows{{"HKCU", "Software"},
                   {"HKCU", "Software\\Kelvo"},
                   {"HKCU", "Software\\Kelvo\\sync"},
                   {"HKLM", "SOFTWARE"}}));
  EXPECT_EQ(Query(file_, "SELECT root, path, name, type, data FROM reg_values ORDER BY rowid"),
            (TRows{{"HKCU", "Software\\Kelvo\\sync", "mode", "1", "merge"},
                   {"HKLM", "SOFTWARE", "bin", "3", "xyz"}}));
}

TEST_F(SqliteRegistryTest, FileIsPrivateAndSurvivesReopening) {
  {
    TSqliteRegistry reg(file_);
    ASSERT_TRUE(reg.WriteString(TRegRoot::HKCU, "Software\\Kelvo\\user-data", "user-id",
                                "nick:secret"));
    // The journal files hold the same data while a connection is open.
    for (const char* side : {"-wal", "-shm"}) {
      ASSERT_TRUE(fs::exists(file_ + side)) << side;
      EXPECT_EQ(ModeOf(file_ + side), 0600u) << side;
    }
  }
  EXPECT_EQ(ModeOf(file_), 0600u);
  EXPECT_EQ(ModeOf(home_.Sub("conf/deep")), 0700u);

  // A file left readable by others is closed up on the next open.
  ::chmod(file_.c_str(), 0644);
  TSqliteRegistry again(file_);
  EXPECT_EQ(again.ReadString(TRegRoot::HKCU, "Software\\Kelvo\\user-data", "user-id"),
            "nick:secret");
  EXPECT_EQ(ModeOf(file_), 0600u);
}

TEST_F(SqliteRegistryTest, RowsWrittenByAPeerAreSeen) {
  TSqliteRegistry reg(file_);
  ASSERT_TRUE(reg.IsOpen());
  // The add-on writes its event record as bare value rows, in its own case.
  Query(file_,
        "INSERT INTO reg_values(root, path, name, type, data) VALUES "
        "('HKCU', 'SOFTWARE\\KELVO\\KMX\\50123', 'url', 1, 'http://example.com/'),"
        "('HKCU', 'SOFTWARE\\KELVO\\KMX\\50123', 'ieframe', 1, '4242'),"
        "('HKCU', 'SOFTWARE\\KELVO\\KMX\\50123', 'flags', 4, '7')");
  EXPECT_TRUE(reg.KeyExists(TRegRoot::HKCU, "Software\\Kelvo\\kmx"));
  EXPECT_EQ(reg.ListSubKeys(TRegRoot::HKCU, "Software\\Kelvo\\kmx"),
            std::vector<std::string>{"50123"});
  EXPECT_EQ(reg.ListStrings(TRegRoot::HKCU, "Software\\Kelvo\\kmx\\50123"),
            (std::vector<std::pair<std::string, std::string>>{{"url", "http://example.com/"},
                                                              {"ieframe", "4242"}}));
  EXPECT_TRUE(reg.DeleteKey(TRegRoot::HKCU, "Software\\Kelvo\\kmx"));
  EXPECT_EQ(Query(file_, "SELECT count(*) FROM reg_values"), (TRows{{"0"}}));
}

TEST_F(SqliteRegistryTest, TwoConnectionsWritingAtOnceLoseNothing) {
  TSqliteRegistry first(file_);
  TSqliteRegistry second(file_);
  constexpr int kEach = 150;
  auto writer = [](TSqliteRegistry& reg, const std::string& tag) {
    for (int i = 0; i < kEach; ++i)
      EXPECT_TRUE(reg.WriteString(TRegRoot::HKCU, "Software\\Kelvo\\load\\" + tag,
                                  "v" + std::to_string(i), std::to_string(i)));
  };
  std::thread a(writer, std::ref(first), "a");
  std::thread b(writer, std::ref(second), "b");
  a.join();
  b.join();
  EXPECT_EQ(first.ListStrings(TRegRoot::HKCU, "Software\\Kelvo\\load\\b").size(), size_t{kEach});
  EXPECT_EQ(second.ListStrings(TRegRoot::HKCU, "Software\\Kelvo\\load\\a").size(), size_t{kEach});
}

TEST_F(SqliteRegistryTest, AnotherProcessWritingAtTheSameTimeLosesNothing) {
  constexpr int kEach = 100;
  TSqliteRegistry reg(file_);
  ASSERT_TRUE(reg.IsOpen());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child has its own connection, as the add-on would.
    int failures = 0;
    {
      TSqliteRegistry own(file_);
      for (int i = 0; i < kEach; ++i)
        if (!own.WriteString(TRegRoot::HKCU, "Software\\Kelvo\\shared", "child" + std::to_string(i),
                             "c"))
          ++failures;
    }
    ::_exit(failures == 0 ? 0 : 1);
  }
  for (int i = 0; i < kEach; ++i)
    EXPECT_TRUE(
        reg.WriteString(TRegRoot::HKCU, "Software\\Kelvo\\shared", "parent" + std::to_string(i), "p"));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(reg.ListStrings(TRegRoot::HKCU, "Software\\Kelvo\\shared").size(), size_t{2 * kEach});
  EXPECT_EQ(reg.ReadString(TRegRoot::HKCU, "Software\\Kelvo\\shared", "CHILD99"), "c");
}

TEST_F(SqliteRegistryTest, AFileThatIsNoDatabaseFailsQuietlyAndIsLeftAlone) {
  const std::string garbage = "this is not a database, it is a text file the user keeps\n";
  test::WriteFileText(file_, garbage);
  TSqliteRegistry reg(file_);
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(reg.LastError().empty());
  EXPECT_FALSE(reg.WriteString(TRegRoot::HKCU, "k", "n", "v"));
  EXPECT_EQ(reg.ReadString(TRegRoot::HKCU, "k", "n"), std::nullopt);
  EXPECT_FALSE(reg.KeyExists(TRegRoot::HKCU, "k"));
  EXPECT_FALSE(reg.DeleteKey(TRegRoot::HKCU, "k"));
  EXPECT_TRUE(reg.ListStrings(TRegRoot::HKCU, "k").empty());
  EXPECT_EQ(test::ReadFileText(file_), garbage);
}

TEST_F(SqliteRegistryTest, AnUnreachablePlaceIsTriedAgainLater) {
  // A file stands where the folder should be.
  test::WriteFileText(home_.Sub("conf"), "in the way");
  TSqliteRegistry reg(file_);
  EXPECT_FALSE(reg.WriteString(TRegRoot::HKCU, "k", "n", "v"));
  EXPECT_NE(reg.LastError().find("conf"), std::string::npos) << reg.LastError();
  fs::remove(home_.Sub("conf"));
  EXPECT_TRUE(reg.WriteString(TRegRoot::HKCU, "k", "n", "v"));
  EXPECT_EQ(reg.ReadString(TRegRoot::HKCU, "k", "n"), "v");
}

TEST(SqliteRegistryPath, DefaultFollowsTheConfigHome) {
  test::TTestHome home;
  EXPECT_EQ(DefaultRegistryPath(), home.Sub(".config/kelvo/registry.db"));
  ::setenv("XDG_CONFIG_HOME", home.Sub("xdg").c_str(), 1);
  EXPECT_EQ(DefaultRegistryPath(), home.Sub("xdg/kelvo/registry.db"));
  ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  EXPECT_EQ(DefaultRegistryPath(), home.Sub(".config/kelvo/registry.db"));

  auto reg = OpenRegistryDatabase(DefaultRegistryPath());
  ASSERT_TRUE(reg->WriteString(TRegRoot::HKCU, "k", "n", "v"));
  EXPECT_TRUE(fs::exists(home.Sub(".config/kelvo/registry.db")));
}

}  // namespace
}  // namespace kelvo
