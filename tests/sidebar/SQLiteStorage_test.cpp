#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "SidebarTestSupport.h"
#include "foundation/Identification.h"
#include "sidebar/SQLiteStorage.h"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

const std::string kOk = R"({"errorString":"","errorCode":0,"lastInsertRowID":0})";

class SQLiteStorageTest : public SidebarTest {
 protected:
  void SetUp() override {
    SidebarTest::SetUp();
    TSQLite3::ResetForTesting();
  }
  void TearDown() override {
    TSQLite3::ResetForTesting();
    SidebarTest::TearDown();
  }
  std::string Run(const std::string& sql, const TSQLParamRows& rows = {}) {
    return TSQLite3::RunSQL(sql, rows);
  }
  void OpenWithTable() {
    TSQLite3::OpenStorage();
    ASSERT_TRUE(TSQLite3::IsOpen());
    ASSERT_EQ(Run("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT)"), "[" + kOk + ",[]]");
  }
  // What another connection to the same file sees (committed data only).
  std::string CountSeenElsewhere() {
    sqlite3* other = nullptr;
    EXPECT_EQ(sqlite3_open_v2(TSQLite3::StoragePath().c_str(), &other, SQLITE_OPEN_READONLY,
                              nullptr),
              SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    std::string count = "?";
    if (sqlite3_prepare_v2(other, "SELECT count(*) FROM t", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      count = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    sqlite3_close(other);
    return count;
  }
};

TEST_F(SQLiteStorageTest, RunsBeforeOpeningAnswerTheNotOpenError) {
  std::string received = "none";
  TSQLite3::ExecuteSql("SELECT 1", {}, [&](const std::string& text) { received = text; });
  EXPECT_EQ(received,
            R"([{"errorString":"Unable to open the database file","errorCode":14,"lastInsertRowID":0}])");
  EXPECT_TRUE(Logged("Unable to execute : SELECT 1because DB is not open!"));
  EXPECT_TRUE(Logged("executeAsyncSql.Statement=SELECT 1"));
  EXPECT_TRUE(Logged("executeAsyncSql.called back ok"));
}

TEST_F(SQLiteStorageTest, DatabaseFileIsNamedAfterTheLogin) {
  const std::string folder = TConfig::AppDataPath() + "keyvalues/";
  EXPECT_EQ(TSQLite3::StoragePath(), folder + "kelvo_db.sqlite");
  TSQLite3::OpenStorage();
  EXPECT_TRUE(fs::exists(folder + "kelvo_db.sqlite"));
  EXPECT_TRUE(Logged("TSBExtIf.openStorage:" + folder + "kelvo_db.sqlite"));

  TIdentification::SetIdentity("alice77", "secret");
  EXPECT_EQ(TSQLite3::StoragePath(), folder + "alice77_db.sqlite");
  TSQLite3::OpenStorage();  // switches to the user's own file
  EXPECT_EQ(TSQLite3::Database()->FileName(), folder + "alice77_db.sqlite");

  TIdentification::SetIdentity("../../evil", "");
  EXPECT_EQ(TSQLite3::StoragePath(), folder + ".._.._evil_db.sqlite");

  EXPECT_TRUE(TSQLite3::CloseStorage());
  EXPECT_TRUE(Logged("TSBExtIf.closeStorage"));
  EXPECT_FALSE(TSQLite3::CloseStorage());
  EXPECT_TRUE(fs::exists(folder + "alice77_db.sqlite"));
  EXPECT_EQ(Run("SELECT 1"),
            R"([{"errorString":"Unable to open the database file","errorCode":14,"lastInsertRowID":0}])");
}

TEST_F(SQLiteStorageTest, ResultsCarryTheLastResultSet) {
  OpenWithTable();
  EXPECT_EQ(Run("SELECT 1, 'a' UNION ALL SELECT 2, 'b'"), "[" + kOk + R"(,[["1","a"],["2","b"]]])");
  EXPECT_EQ(Run("SELECT * FROM t"), "[" + kOk + ",[]]");

  EXPECT_EQ(Run("INSERT INTO t (name) VALUES (?)", {{"x"}, {"y"}, {"z"}}),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":3},[]])");
  // One result set per parameter row; only the last comes back.
  EXPECT_EQ(Run("SELECT id, name FROM t WHERE name = ?", {{"x"}, {"z"}}),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":3},[["3","z"]]])");
  // NULL reads as "", numbers as their text; bytes come back unchanged.
  EXPECT_EQ(Run("SELECT NULL, 2.5, ?", {{std::string("caf\xC3\xA9/\x01", 7)}}),
            "[{\"errorString\":\"\",\"errorCode\":0,\"lastInsertRowID\":3},"
            "[[\"\",\"2.5\",\"caf\xC3\xA9\\/\\u0001\"]]]");
}

TEST_F(SQLiteStorageTest, BadStatementsAnswerTheirError) {
  OpenWithTable();
  EXPECT_EQ(Run("SELEC 1"),
            R"([{"errorString":"near \"SELEC\": syntax error","errorCode":1,"lastInsertRowID":0}])");
  EXPECT_TRUE(Logged("Bad SQL query : SELEC 1because of : near \"SELEC\": syntax error"));
  EXPECT_EQ(Run("SELECT * FROM missing"),
            R"([{"errorString":"no such table: missing","errorCode":1,"lastInsertRowID":0}])");
  // No transaction was left behind.
  EXPECT_FALSE(TSQLite3::Database()->InTransaction());
}

TEST_F(SQLiteStorageTest, AFailedRowRollsBackTheWholeRun) {
  OpenWithTable();
  EXPECT_EQ(Run("INSERT INTO t (id, name) VALUES (?, ?)", {{"1", "a"}, {"1", "b"}, {"2", "c"}}),
            R"([{"errorString":"UNIQUE constraint failed: t.id","errorCode":19,"lastInsertRowID":1},[]])");
  EXPECT_EQ(Run("SELECT count(*) FROM t"),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":1},[["0"]]])");
  EXPECT_FALSE(TSQLite3::Database()->InTransaction());
  EXPECT_EQ(CountSeenElsewhere(), "0");
}

TEST_F(SQLiteStorageTest, RowIdsAreReportedInThirtyTwoBits) {
  OpenWithTable();
  const std::pair<const char*, const char*> cases[] = {
      {"2147483647", "2147483647"},
      {"2147483648", "-2147483648"},
      {"3000000000", "-1294967296"},
      {"4294967297", "1"},
  };
  for (const auto& [id, reported] : cases) {
    EXPECT_EQ(Run("INSERT INTO t (id, name) VALUES (?, 'n')", {{id}}),
              std::string(R"([{"errorString":"","errorCode":0,"lastInsertRowID":)") + reported +
                  "},[]]")
        << id;
  }
}

TEST_F(SQLiteStorageTest, ABindErrorLeavesTheTransactionOpenForTheNextRun) {
  OpenWithTable();
  std::string received = "none";
  // The first row is inserted; the second has one value too many.
  TSQLite3::ExecuteSql("INSERT INTO t (name) VALUES (?)", {{"kept"}, {"a", "b"}},
                       [&](const std::string& text) { received = text; });
  EXPECT_EQ(received, "");
  EXPECT_TRUE(Logged("Bind error:25"));
  EXPECT_TRUE(TSQLite3::Database()->InTransaction());
  EXPECT_EQ(CountSeenElsewhere(), "0");

  // The next run goes on inside the open transaction and commits it.
  EXPECT_EQ(Run("SELECT name FROM t"),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":1},[["kept"]]])");
  EXPECT_TRUE(Logged("TSQLite3.RunSQL:BeginTransaction"));
  EXPECT_TRUE(Logged("Transaction already open"));
  EXPECT_FALSE(TSQLite3::Database()->InTransaction());
  EXPECT_EQ(CountSeenElsewhere(), "1");
}

TEST_F(SQLiteStorageTest, ClosingRollsBackAnOpenTransaction) {
  OpenWithTable();
  EXPECT_EQ(Run("INSERT INTO t (name) VALUES (?)", {{"lost"}, {"a", "b"}}), "");
  EXPECT_TRUE(TSQLite3::CloseStorage());
  EXPECT_EQ(CountSeenElsewhere(), "0");
  TSQLite3::OpenStorage();
  EXPECT_EQ(Run("SELECT count(*) FROM t"), "[" + kOk + R"(,[["0"]]])");
}

TEST_F(SQLiteStorageTest, TransactionStatementsOfScriptDoNotWedgeTheStore) {
  OpenWithTable();
  // COMMIT ends the run's own transaction, so its closing commit fails.
  EXPECT_THROW(Run("COMMIT"), ESQLiteException);
  EXPECT_FALSE(TSQLite3::Database()->InTransaction());
  EXPECT_EQ(Run("INSERT INTO t (name) VALUES ('after')"),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":1},[]])");
  EXPECT_EQ(CountSeenElsewhere(), "1");

  // A transaction opened by script outside any run is taken as open.
  TSQLiteDatabase* db = TSQLite3::Database();
  sqlite3_exec(db->Handle(), "BEGIN", nullptr, nullptr, nullptr);
  EXPECT_EQ(Run("INSERT INTO t (name) VALUES ('inside')"),
            R"([{"errorString":"","errorCode":0,"lastInsertRowID":2},[]])");
  EXPECT_EQ(CountSeenElsewhere(), "2");
}

TEST_F(SQLiteStorageTest, DatabaseMessages) {
  const std::string folder = home_->Sub("db");
  fs::create_directories(folder);
  try {
    TSQLiteDatabase db(folder + "/missing/x.sqlite");
    ADD_FAILURE() << "opened";
  } catch (const ESQLiteException& e) {
    EXPECT_EQ(e.Message(), "Failed to open database \"" + folder +
                               "/missing/x.sqlite\" : unable to open database file");
  }
  // Not a database: the pragmas fail, nothing stays open.
  WriteFileText(folder + "/junk.sqlite", std::string(4096, 'j'));
  EXPECT_THROW(TSQLiteDatabase(folder + "/junk.sqlite"), ESQLiteException);

  TSQLiteDatabase db(folder + "/ok.sqlite");
  const std::pair<const char*, std::string> cases[] = {
      {"SELEC 1", "Error executing SQL \"SELEC 1\" : near \"SELEC\": syntax error"},
      {"", "Could not prepare SQL statement"},
      {"INSERT INTO u VALUES (1)", ""},
      {"INSERT INTO u VALUES (1)",
       "Error executing SQL statement \"INSERT INTO u VALUES (1)\" : UNIQUE constraint failed: u.k"},
  };
  db.ExecSQL("CREATE TABLE u (k INTEGER PRIMARY KEY)");
  for (const auto& [sql, message] : cases) {
    try {
      db.ExecSQL(sql);
      EXPECT_EQ(message, "") << sql;
    } catch (const ESQLiteException& e) {
      EXPECT_EQ(e.Message(), message) << sql;
    }
  }
  db.BeginTransaction();
  try {
    db.BeginTransaction();
    ADD_FAILURE() << "second begin";
  } catch (const ESQLiteException& e) {
    EXPECT_EQ(e.Message(), "Transaction already open");
  }
  db.ExecSQL("INSERT INTO u VALUES (2)");
  EXPECT_EQ(db.GetLastInsertRowID(), 2);
  db.Rollback();
  EXPECT_FALSE(db.InTransaction());
}

TEST_F(SQLiteStorageTest, AnUnopenableFileKeepsTheStoreClosed) {
  const std::string path = TSQLite3::StoragePath();
  fs::create_directories(fs::path(path).parent_path());
  WriteFileText(path, std::string(4096, 'j'));
  TSQLite3::OpenStorage();
  EXPECT_FALSE(TSQLite3::IsOpen());
  EXPECT_TRUE(Logged("TSBExtIf.openStorage:"));
  EXPECT_EQ(Run("SELECT 1"),
            R"([{"errorString":"Unable to open the database file","errorCode":14,"lastInsertRowID":0}])");
}

}  // namespace
}  // namespace kelvo::test
