#include "platform/linux/SqliteRegistry.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/SpecialFolders.h"

namespace kelvo {

namespace {

// Other processes may hold the write lock for a moment; waiting this long is
// far beyond any single settings write.
constexpr int kBusyTimeoutMs = 10000;

const char* const kCreateTables =
    "CREATE TABLE IF NOT EXISTS reg_keys(root TEXT, path TEXT);"
    "CREATE TABLE IF NOT EXISTS reg_values(root TEXT, path TEXT, name TEXT, type INTEGER, "
    "data TEXT);";
// Lookups compare case-insensitively; the indexes keep that fast and keep
// writers from creating the same key or value twice in different cases. A
// database whose rows already break that (written by a careless peer) still
// works without them.
const char* const kCreateKeyIndex =
    "CREATE UNIQUE INDEX IF NOT EXISTS reg_keys_unique ON reg_keys(root, path COLLATE NOCASE);";
const char* const kCreateValueIndex =
    "CREATE UNIQUE INDEX IF NOT EXISTS reg_values_unique ON "
    "reg_values(root, path COLLATE NOCASE, name COLLATE NOCASE);";

// Creates the missing folders of the path with mode 0700.
bool MakeParentFolders(const std::string& file, std::string& error) {
  std::string::size_type slash = file.find('/', 1);
  while (slash != std::string::npos) {
    std::string folder = file.substr(0, slash);
    if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
    slash = file.find('/', slash + 1);
  }
  return true;
}

// The file exists with mode 0600 afterwards (it holds the account's password).
bool PrepareFile(const std::string& file, std::string& error) {
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot open " + file + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) error = file + " is not a regular file";
  if (ok && (st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
    error = "cannot protect " + file + ": " + std::strerror(errno);
    ok = false;
  }
  ::close(fd);
  return ok;
}

}  // namespace

// One prepared statement; finalized when it goes.
class TSqliteRegistry::TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~TStatement() { sqlite3_finalize(stmt_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  bool Ok() const { return stmt_ != nullptr; }
  TStatement& Bind(int index, const std::string& text) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
    return *this;
  }
  TStatement& Bind(int index, int value) {
    if (stmt_) sqlite3_bind_int(stmt_, index, value);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  // Runs a statement that returns no rows; true when it completed.
  bool Run() { return Step() == SQLITE_DONE; }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
                : std::string();
  }
  int Int(int column) const { return sqlite3_column_int(stmt_, column); }
  int Changes() const { return sqlite3_changes(db_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

TSqliteRegistry::TSqliteRegistry(std::string path) : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(mutex_);
  EnsureOpenLocked();
}

TSqliteRegistry::~TSqliteRegistry() {
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

bool TSqliteRegistry::IsOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return EnsureOpenLocked();
}

std::string TSqliteRegistry::LastError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

void TSqliteRegistry::CloseLocked() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool TSqliteRegistry::EnsureOpenLocked() {
  if (db_) return true;
  if (path_.empty()) {
    lastError_ = "no registry path";
    return false;
  }
  if (!MakeParentFolders(path_, lastError_) || !PrepareFile(path_, lastError_)) return false;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path_.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    lastError_ = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return false;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  // WAL lets readers go on while another process writes; when it cannot be
  // switched on now, the default journal is just as correct.
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr);
  // In WAL mode this still never corrupts the file; only a power cut may
  // lose the last writes, and each write no longer waits for the disk.
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  if (!ExecLocked(kCreateTables)) {
    CloseLocked();
    return false;
  }
  sqlite3_exec(db_, kCreateKeyIndex, nullptr, nullptr, nullptr);
  sqlite3_exec(db_, kCreateValueIndex, nullptr, nullptr, nullptr);
  lastError_.clear();
  return true;
}

bool TSqliteRegistry::ExecLocked(const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    lastError_ = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool TSqliteRegistry::BeginWriteLocked() {
  // IMMEDIATE takes the write lock up front, so the busy timeout covers the
  // whole transaction instead of failing half-way on a lock upgrade.
  return ExecLocked("BEGIN IMMEDIATE;");
}

bool TSqliteRegistry::CommitLocked() {
  if (ExecLocked("COMMIT;")) return true;
  RollbackLocked();
  return false;
}

void TSqliteRegistry::RollbackLocked() {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
}

// A key exists when it was created or when anything lies below it: a peer
// that writes only values still makes its keys visible.
bool TSqliteRegistry::KeyExistsLocked(const char* root, const std::string& path) {
  if (path.empty()) return true;
  const std::string prefix = path + "\\";
  for (const char* sql :
       {"SELECT 1 FROM reg_keys WHERE root = ?1 AND (path = ?2 COLLATE NOCASE OR "
        "substr(path, 1, length(?3)) = ?3 COLLATE NOCASE) LIMIT 1",
        "SELECT 1 FROM reg_values WHERE root = ?1 AND (path = ?2 COLLATE NOCASE OR "
        "substr(path, 1, length(?3)) = ?3 COLLATE NOCASE) LIMIT 1"}) {
    TStatement stmt(db_, sql);
    stmt.Bind(1, std::string(root)).Bind(2, path).Bind(3, prefix);
    if (stmt.Step() == SQLITE_ROW) return true;
  }
  return false;
}

// Inside a write transaction: adds the missing keys of the chain, reusing the
// spelling of those that exist. storedPath receives the key's stored path.
bool TSqliteRegistry::CreateKeyLocked(const char* root, const std::string& path,
                                      std::string& storedPath) {
  storedPath.clear();
  std::string::size_type start = 0;
  while (start < path.size()) {
    std::string::size_type end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate =
        (storedPath.empty() ? "" : storedPath + "\\") + path.substr(start, end - start);
    TStatement find(db_,
                    "SELECT path FROM reg_keys WHERE root = ?1 AND path = ?2 COLLATE NOCASE "
                    "ORDER BY rowid LIMIT 1");
    find.Bind(1, std::string(root)).Bind(2, candidate);
    int rc = find.Step();
    if (rc == SQLITE_ROW) {
      storedPath = find.Text(0);
    } else if (rc == SQLITE_DONE) {
      TStatement insert(db_, "INSERT INTO reg_keys(root, path) VALUES(?1, ?2)");
      insert.Bind(1, std::string(root)).Bind(2, candidate);
      if (!insert.Run()) {
        lastError_ = sqlite3_errmsg(db_);
        return false;
      }
      storedPath = candidate;
    } else {
      lastError_ = sqlite3_errmsg(db_);
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool TSqliteRegistry::KeyExists(TRegRoot root, const std::string& path) {
  if (root == TRegRoot::None) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked()) return false;
  return KeyExistsLocked(RegRootName(root), NormalizeRegistryPath(path));
}

bool TSqliteRegistry::CreateKey(TRegRoot root, const std::string& path) {
  if (root == TRegRoot::None) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked() || !BeginWriteLocked()) return false;
  std::string stored;
  if (!CreateKeyLocked(RegRootName(root), NormalizeRegistryPath(path), stored)) {
    RollbackLocked();
    return false;
  }
  return CommitLocked();
}

std::optional<std::string> TSqliteRegistry::ReadString(TRegRoot root, const std::string& path,
                                                       const std::string& name) {
  if (root == TRegRoot::None) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked()) return std::nullopt;
  TStatement stmt(db_,
                  "SELECT type, data FROM reg_values WHERE root = ?1 AND path = ?2 COLLATE "
                  "NOCASE AND name = ?3 COLLATE NOCASE ORDER BY rowid LIMIT 1");
  stmt.Bind(1, std::string(RegRootName(root))).Bind(2, NormalizeRegistryPath(path)).Bind(3, name);
  if (stmt.Step() != SQLITE_ROW || stmt.Int(0) != kRegSz) return std::nullopt;
  return stmt.Text(1);
}

bool TSqliteRegistry::WriteString(TRegRoot root, const std::string& path, const std::string& name,
                                  const std::string& value) {
  return WriteValue(root, path, name, kRegSz, value);
}

bool TSqliteRegistry::WriteValue(TRegRoot root, const std::string& path, const std::string& name,
                                 int type, const std::string& data) {
  if (root == TRegRoot::None) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked() || !BeginWriteLocked()) return false;
  const std::string rootName = RegRootName(root);
  std::string stored;
  bool ok = CreateKeyLocked(rootName.c_str(), NormalizeRegistryPath(path), stored);
  if (ok) {
    // An existing value keeps its place in the listing and its spelling.
    TStatement update(db_,
                      "UPDATE reg_values SET type = ?1, data = ?2 WHERE root = ?3 AND path = ?4 "
                      "COLLATE NOCASE AND name = ?5 COLLATE NOCASE");
    update.Bind(1, type).Bind(2, data).Bind(3, rootName).Bind(4, stored).Bind(5, name);
    ok = update.Run();
    if (ok && update.Changes() == 0) {
      TStatement insert(db_,
                        "INSERT INTO reg_values(root, path, name, type, data) "
                        "VALUES(?1, ?2, ?3, ?4, ?5)");
      insert.Bind(1, rootName).Bind(2, stored).Bind(3, name).Bind(4, type).Bind(5, data);
      ok = insert.Run();
    }
    if (!ok) lastError_ = sqlite3_errmsg(db_);
  }
  if (!ok) {
    RollbackLocked();
    return false;
  }
  return CommitLocked();
}

bool TSqliteRegistry::DeleteValue(TRegRoot root, const std::string& path,
                                  const std::string& name) {
  if (root == TRegRoot::None) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked()) return false;
  TStatement stmt(db_,
                  "DELETE FROM reg_values WHERE root = ?1 AND path = ?2 COLLATE NOCASE AND "
                  "name = ?3 COLLATE NOCASE");
  stmt.Bind(1, std::string(RegRootName(root))).Bind(2, NormalizeRegistryPath(path)).Bind(3, name);
  if (!stmt.Run()) {
    lastError_ = sqlite3_errmsg(db_);
    return false;
  }
  return stmt.Changes() > 0;
}

bool TSqliteRegistry::DeleteKey(TRegRoot root, const std::string& path) {
  const std::string normalized = NormalizeRegistryPath(path);
  if (root == TRegRoot::None || normalized.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked() || !BeginWriteLocked()) return false;
  const std::string rootName = RegRootName(root);
  bool existed = KeyExistsLocked(rootName.c_str(), normalized);
  bool ok = true;
  for (const char* sql :
       {"DELETE FROM reg_values WHERE root = ?1 AND (path = ?2 COLLATE NOCASE OR "
        "substr(path, 1, length(?3)) = ?3 COLLATE NOCASE)",
        "DELETE FROM reg_keys WHERE root = ?1 AND (path = ?2 COLLATE NOCASE OR "
        "substr(path, 1, length(?3)) = ?3 COLLATE NOCASE)"}) {
    TStatement stmt(db_, sql);
    stmt.Bind(1, rootName).Bind(2, normalized).Bind(3, normalized + "\\");
    if (!stmt.Run()) {
      lastError_ = sqlite3_errmsg(db_);
      ok = false;
      break;
    }
  }
  if (!ok) {
    RollbackLocked();
    return false;
  }
  return CommitLocked() && existed;
}

std::vector<std::pair<std::string, std::string>> TSqliteRegistry::ListStrings(
    TRegRoot root, const std::string& path) {
  std::vector<std::pair<std::string, std::string>> out;
  if (root == TRegRoot::None) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked()) return out;
  TStatement stmt(db_,
                  "SELECT name, data FROM reg_values WHERE root = ?1 AND path = ?2 COLLATE "
                  "NOCASE AND type = ?3 ORDER BY rowid");
  stmt.Bind(1, std::string(RegRootName(root))).Bind(2, NormalizeRegistryPath(path)).Bind(3, kRegSz);
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) out.emplace_back(stmt.Text(0), stmt.Text(1));
  if (rc != SQLITE_DONE) out.clear();  // half a listing would pass for a whole one
  return out;
}

std::vector<std::string> TSqliteRegistry::ListSubKeys(TRegRoot root, const std::string& path) {
  std::vector<std::string> out;
  if (root == TRegRoot::None) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!EnsureOpenLocked()) return out;
  const std::string normalized = NormalizeRegistryPath(path);
  const std::string prefix = normalized.empty() ? "" : normalized + "\\";
  const std::string foldedPrefix = RegistryFold(prefix);
  std::map<std::string, std::string> names;  // folded -> first spelling seen
  TStatement stmt(db_,
                  "SELECT path FROM reg_keys WHERE root = ?1 AND substr(path, 1, length(?2)) = "
                  "?2 COLLATE NOCASE UNION ALL SELECT path FROM reg_values WHERE root = ?1 AND "
                  "substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
  stmt.Bind(1, std::string(RegRootName(root))).Bind(2, prefix);
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    std::string stored = stmt.Text(0);
    if (stored.size() <= prefix.size() ||
        RegistryFold(stored.substr(0, prefix.size())) != foldedPrefix)
      continue;
    std::string rest = stored.substr(prefix.size());
    std::string name = rest.substr(0, rest.find('\\'));
    if (!name.empty()) names.emplace(RegistryFold(name), name);
  }
  if (rc != SQLITE_DONE) return out;
  for (auto& [folded, name] : names) out.push_back(name);
  return out;
}

std::shared_ptr<IRegistry> OpenRegistryDatabase(const std::string& path) {
  return std::make_shared<TSqliteRegistry>(path);
}

std::string DefaultRegistryPath() {
  std::string config = ConfigHomeFolder();
  if (config.empty()) return "";
  return config + "/kelvo/registry.db";
}

}  // namespace kelvo
