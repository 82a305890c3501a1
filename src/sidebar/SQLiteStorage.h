#pragma once
// The local SQL store of sidebar pages: one SQLite database per user in the
// key-value folder, opened and closed on request of script, and the run of
// one statement over rows of text parameters whose outcome goes back to
// script as JSON text. Statement, parameters and column texts are bytes
// that SQLite stores unchanged. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/KException.h"

struct sqlite3;

namespace kelvo {

KELVO_DECLARE_EXCEPTION(ESQLiteException, TKException);

// One connection with the agent's transaction bracket.
class TSQLiteDatabase {
 public:
  // Opens (creating) the file and sets the agent's pragmas. Raises
  // ESQLiteException "Failed to open database \"<file>\" : <reason>".
  explicit TSQLiteDatabase(const std::string& fileName);
  // Rolls back a transaction still open, then closes the connection.
  ~TSQLiteDatabase();
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // Runs one statement that answers no rows. Raises "Error executing SQL",
  // "Could not prepare SQL statement" or "Error executing SQL statement",
  // followed by " \"<sql>\" : <reason>" when the connection has an error.
  void ExecSQL(const std::string& sql);
  // "Transaction already open" when one is.
  void BeginTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return inTransaction_; }
  std::int64_t GetLastInsertRowID() const;

  sqlite3* Handle() const { return db_; }
  const std::string& FileName() const { return fileName_; }

 private:
  [[noreturn]] void Raise(const std::string& message, const std::string& sql) const;
  // After a failed COMMIT or ROLLBACK the flag follows the connection.
  void SyncTransactionFlag();

  sqlite3* db_ = nullptr;
  std::string fileName_;
  bool inTransaction_ = false;
};

// Parameter rows of a run: each row's values bind to ?1, ?2, ... as text.
using TSQLParamRows = std::vector<std::vector<std::string>>;

// The process-wide holder of the one open database and the operations
// behind the bridge's storage methods.
class TSQLite3 {
 public:
  TSQLite3() = delete;

  // D + "keyvalues/" + login + "_db.sqlite", or "kelvo_db.sqlite" without
  // a stored login ("/" in a login becomes "_", so the file stays in the
  // folder).
  static std::string StoragePath();
  // Opens the user's database (creating the folder). A failure is logged
  // and leaves the holder as it was; the same file already open is kept.
  static void OpenStorage();
  // Frees the open database; true when one was open and is now closed.
  static bool CloseStorage();
  static bool IsOpen();
  static TSQLiteDatabase* Database();

  // Runs the statement once per parameter row (once without parameters
  // when there are none) inside one transaction and answers the result
  // text: [{"errorString":..,"errorCode":..,"lastInsertRowID":..}] followed
  // by the last row's result set when one exists. A failed row rolls back
  // the whole run and stops it. After a bind error the answer is "" and
  // the transaction stays open.
  static std::string RunSQL(const std::string& statement, const TSQLParamRows& rows);
  // RunSQL with the bridge's debug lines, handing the result to receiver.
  static void ExecuteSql(const std::string& statement, const TSQLParamRows& rows,
                         const std::function<void(const std::string&)>& receiver);

  // Test support: close and forget the database.
  static void ResetForTesting();
};

}  // namespace kelvo
