#include "sidebar/SQLiteStorage.h"

#include <sqlite3.h>

#include <climits>
#include <optional>

#include "foundation/FileTools.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "sidebar/KeyValueStore.h"
#include "sidebar/lkJSON.h"

namespace kelvo {

namespace {

using TResultSet = std::vector<std::vector<std::string>>;

struct TFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatementPtr = std::unique_ptr<sqlite3_stmt, TFinalizer>;

std::unique_ptr<TSQLiteDatabase>& Holder() {
  static std::unique_ptr<TSQLiteDatabase> database;
  return database;
}

std::unique_ptr<TlkJSONobject> StatusObject(const std::string& errorString, int errorCode,
                                            std::int32_t lastInsertRowID) {
  auto status = std::make_unique<TlkJSONobject>();
  status->Add("errorString", errorString);
  status->Add("errorCode", errorCode);
  status->Add("lastInsertRowID", static_cast<std::int64_t>(lastInsertRowID));
  return status;
}

std::string ErrorResult(const std::string& errorString, int errorCode) {
  TlkJSONlist result;
  result.Add(StatusObject(errorString, errorCode, 0));
  return TlkJSON::GenerateText(result);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  if (text == nullptr) return std::string();  // SQL NULL
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

}  // namespace

// --- TSQLiteDatabase ------------------------------------------------------------

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName) : fileName_(fileName) {
  // File names are UTF-8 already, as SQLite wants them.
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(fileName.c_str(), &db);
  if (rc != SQLITE_OK) {
    std::string message = "Failed to open database \"" + fileName + "\" : " +
                          (db != nullptr ? sqlite3_errmsg(db) : "unknown error");
    if (db != nullptr) sqlite3_close(db);
    throw ESQLiteException(message);
  }
  db_ = db;
  try {
    ExecSQL("PRAGMA SYNCHRONOUS=NORMAL;");
    ExecSQL("PRAGMA temp_store = MEMORY;");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TSQLiteDatabase::~TSQLiteDatabase() {
  if (db_ == nullptr) return;
  if (inTransaction_) {
    try {
      Rollback();
    } catch (const std::exception& e) {
      TLog::LogException(e, "TSQLiteDatabase.Destroy");
    }
  }
  if (sqlite3_close(db_) != SQLITE_OK) sqlite3_close_v2(db_);
}

void TSQLiteDatabase::Raise(const std::string& message, const std::string& sql) const {
  if (sqlite3_errcode(db_) != SQLITE_OK) {
    throw ESQLiteException(message + " \"" + sql + "\" : " + sqlite3_errmsg(db_));
  }
  throw ESQLiteException(message);
}

void TSQLiteDatabase::ExecSQL(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    Raise("Error executing SQL", sql);
  }
  if (raw == nullptr) Raise("Could not prepare SQL statement", sql);
  TStatementPtr statement(raw);
  if (sqlite3_step(statement.get()) != SQLITE_DONE) {
    // The message is taken before finalizing, which may change it.
    try {
      Raise("Error executing SQL statement", sql);
    } catch (...) {
      statement.reset();
      throw;
    }
  }
}

void TSQLiteDatabase::BeginTransaction() {
  // A transaction that a statement of script opened counts as open too:
  // a second BEGIN would fail on it for every later run.
  if (!inTransaction_ && sqlite3_get_autocommit(db_) == 0) inTransaction_ = true;
  if (inTransaction_) throw ESQLiteException("Transaction already open");
  ExecSQL("BEGIN TRANSACTION;");
  inTransaction_ = true;
}

void TSQLiteDatabase::SyncTransactionFlag() { inTransaction_ = sqlite3_get_autocommit(db_) == 0; }

void TSQLiteDatabase::Commit() {
  try {
    ExecSQL("COMMIT;");
  } catch (...) {
    SyncTransactionFlag();
    throw;
  }
  inTransaction_ = false;
}

void TSQLiteDatabase::Rollback() {
  try {
    ExecSQL("ROLLBACK;");
  } catch (...) {
    SyncTransactionFlag();
    throw;
  }
  inTransaction_ = false;
}

std::int64_t TSQLiteDatabase::GetLastInsertRowID() const { return sqlite3_last_insert_rowid(db_); }

// --- TSQLite3 -------------------------------------------------------------------

std::string TSQLite3::StoragePath() {
  std::string login = TIdentification::GetNickname();
  for (char& c : login) {
    if (c == '/') c = '_';
  }
  return TKeyValueStore::Folder() + (login.empty() ? "kelvo_db.sqlite" : login + "_db.sqlite");
}

void TSQLite3::OpenStorage() {
  std::string path;
  try {
    path = StoragePath();
    auto& holder = Holder();
    if (!holder || holder->FileName() != path) {
      TFileTools::CreateFolder(TKeyValueStore::Folder());
      auto database = std::make_unique<TSQLiteDatabase>(path);
      holder = std::move(database);
    }
  } catch (const std::exception& e) {
    // Reported to script only through the runs that find no database.
    TLog::Warning(std::string("TSBExtIf.openStorage:") + e.what());
  }
  TLog::Debug("TSBExtIf.openStorage:" + path);
}

bool TSQLite3::CloseStorage() {
  TLog::Debug("TSBExtIf.closeStorage");
  auto& holder = Holder();
  if (!holder) return false;
  holder.reset();
  return true;
}

bool TSQLite3::IsOpen() { return Holder() != nullptr; }

TSQLiteDatabase* TSQLite3::Database() { return Holder().get(); }

std::string TSQLite3::RunSQL(const std::string& statement, const TSQLParamRows& rows) {
  TSQLiteDatabase* database = Database();
  if (database == nullptr) {
    TLog::Error("Unable to execute : " + statement + "because DB is not open!");
    return ErrorResult("Unable to open the database file", SQLITE_CANTOPEN);
  }
  sqlite3* db = database->Handle();

  sqlite3_stmt* raw = nullptr;
  if (statement.size() < static_cast<std::size_t>(INT_MAX)) {
    sqlite3_prepare_v2(db, statement.data(), static_cast<int>(statement.size()), &raw, nullptr);
  }
  if (raw == nullptr) {
    const int errorCode = sqlite3_errcode(db);
    const std::string errorString = sqlite3_errmsg(db);
    TLog::Error("Bad SQL query : " + statement + "because of : " + errorString);
    return ErrorResult(errorString, errorCode);
  }
  TStatementPtr stmt(raw);

  static const TSQLParamRows kOneEmptyRow(1);
  const TSQLParamRows& paramRows = rows.empty() ? kOneEmptyRow : rows;

  const bool wasOpen = database->InTransaction() || sqlite3_get_autocommit(db) == 0;
  try {
    database->BeginTransaction();
  } catch (const ESQLiteException& e) {
    if (!wasOpen) throw;
    TLog::LogException(e, "TSQLite3.RunSQL:BeginTransaction");
  }

  bool failed = false;
  int errorCode = 0;
  std::string errorString;
  std::optional<TResultSet> lastSet;
  for (const auto& row : paramRows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string& value = row[i];
      int rc = SQLITE_TOOBIG;
      if (value.size() < static_cast<std::size_t>(INT_MAX) && i < static_cast<std::size_t>(INT_MAX)) {
        rc = sqlite3_bind_text(stmt.get(), static_cast<int>(i) + 1, value.data(),
                               static_cast<int>(value.size()), SQLITE_STATIC);
      }
      if (rc != SQLITE_OK) {
        TLog::Debug("Bind error:" + std::to_string(rc));
        return std::string();
      }
    }

    TResultSet set;
    while (true) {
      const int rc = sqlite3_step(stmt.get());
      if (rc == SQLITE_ROW) {
        const int columns = sqlite3_column_count(stmt.get());
        std::vector<std::string> values;
        values.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) values.push_back(ColumnText(stmt.get(), c));
        set.push_back(std::move(values));
        continue;
      }
      if (rc == SQLITE_DONE) break;
      failed = true;
      errorCode = sqlite3_errcode(db);
      if (errorCode != SQLITE_OK) {
        errorString = sqlite3_errmsg(db);
      } else {
        // Never answer success for a run that is rolled back.
        errorCode = rc;
        errorString = sqlite3_errstr(rc);
      }
      break;
    }
    if (errorCode != 0) break;
    lastSet = std::move(set);
    if (sqlite3_reset(stmt.get()) != SQLITE_OK) TLog::Debug("SQLite3_Reset error");
  }

  stmt.reset();
  if (failed) {
    database->Rollback();
  } else {
    database->Commit();
  }

  const auto rowId = static_cast<std::uint64_t>(database->GetLastInsertRowID());
  const auto lastInsertRowID = static_cast<std::int32_t>(static_cast<std::uint32_t>(rowId));

  TlkJSONlist result;
  result.Add(StatusObject(errorString, errorCode, lastInsertRowID));
  if (lastSet) {
    auto set = std::make_unique<TlkJSONlist>();
    for (const auto& values : *lastSet) {
      auto rowList = std::make_unique<TlkJSONlist>();
      for (const auto& value : values) rowList->Add(value);
      set->Add(std::move(rowList));
    }
    result.Add(std::move(set));
  }
  return TlkJSON::GenerateText(result);
}

void TSQLite3::ExecuteSql(const std::string& statement, const TSQLParamRows& rows,
                          const std::function<void(const std::string&)>& receiver) {
  TLog::Debug("executeAsyncSql.Statement=" + statement);
  TLog::Debug("executeAsyncSql.calling ExecuteSql");
  const std::string result = RunSQL(statement, rows);
  TLog::Debug("executeAsyncSql.result=" + result);
  if (receiver) receiver(result);
  TLog::Debug("executeAsyncSql.called back ok");
}

void TSQLite3::ResetForTesting() { Holder().reset(); }

}  // namespace kelvo
