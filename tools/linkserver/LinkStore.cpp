#include "LinkStore.h"

#include <sqlite3.h>

#include <filesystem>
#include <limits>
#include <system_error>

namespace kelvo::linkserver {

namespace {

// Another kelvo-linkserver (or a sqlite3 shell) may hold the write lock for
// a moment.
constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS accounts(nickname TEXT PRIMARY KEY, password TEXT NOT NULL, "
    "lang TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS links(account TEXT NOT NULL, seq INTEGER NOT NULL, "
    "path TEXT NOT NULL, title TEXT NOT NULL, url TEXT NOT NULL, id INTEGER, "
    "rank TEXT NOT NULL, private INTEGER NOT NULL, PRIMARY KEY(account, seq));"
    "CREATE TABLE IF NOT EXISTS xlinks(account TEXT NOT NULL, seq INTEGER NOT NULL, "
    "path TEXT NOT NULL, ref TEXT NOT NULL, rank TEXT NOT NULL, user_data TEXT NOT NULL, "
    "PRIMARY KEY(account, seq));"
    "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, count INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);";

// A prepared statement that finalizes itself.
class TStatement {
 public:
  TStatement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw TLinkStoreException(std::string("TLinkStore:") + std::string("prepare:") +
                                sqlite3_errmsg(db));
    }
  }
  ~TStatement() { sqlite3_finalize(stmt_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  TStatement& Bind(int index, const std::string& text) {
    Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  TStatement& Bind(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  TStatement& BindNull(int index) {
    Check(sqlite3_bind_null(stmt_, index));
    return *this;
  }
  // True while a row is available.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw TLinkStoreException(std::string("TLinkStore:") + std::string("step:") +
                              sqlite3_errmsg(db_));
  }
  void Run() {
    while (Step()) {
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) {
      throw TLinkStoreException(std::string("TLinkStore:") + std::string("bind:") +
                                sqlite3_errmsg(db_));
    }
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Rolls back unless committed.
class TTransaction {
 public:
  // Inside a transaction the caller opened, joins it instead.
  explicit TTransaction(sqlite3* db) : db_(db), own_(sqlite3_get_autocommit(db) != 0) {
    if (own_) Run("BEGIN IMMEDIATE");
  }
  ~TTransaction() {
    if (own_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  void Commit() {
    if (own_) Run("COMMIT");
    done_ = true;
  }

 private:
  void Run(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "unknown error";
      sqlite3_free(message);
      throw TLinkStoreException(std::string("TLinkStore:") + std::string(sql) + ":" + text);
    }
  }
  sqlite3* db_;
  bool own_;
  bool done_ = false;
};

}  // namespace

void TLinkStore::Begin() { Exec("BEGIN IMMEDIATE"); }

void TLinkStore::Commit() { Exec("COMMIT"); }

void TLinkStore::Rollback() {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

TLinkStore::TLinkStore(const std::string& path) : path_(path) {
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) {
    std::filesystem::create_directories(parent, ec);
    if (ec)
      throw TLinkStoreException(std::string("TLinkStore.Create:") + "cannot create " +
                                parent.string() + ": " + ec.message());
  }
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string error = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw TLinkStoreException(std::string("TLinkStore.Create:") + "cannot open " + path + ": " +
                              error);
  }
  // Passwords live here: keep the file to its owner.
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  try {
    Exec(kSchema);
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TLinkStore::~TLinkStore() { sqlite3_close(db_); }

void TLinkStore::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw TLinkStoreException(std::string("TLinkStore.Exec:") + path_ + ":" + text);
  }
}

std::optional<std::string> TLinkStore::Password(const std::string& nickname) {
  TStatement st(db_, "SELECT password FROM accounts WHERE nickname = ?");
  st.Bind(1, nickname);
  if (!st.Step()) return std::nullopt;
  return st.Text(0);
}

void TLinkStore::SetAccount(const std::string& nickname, const std::string& password) {
  TStatement st(db_,
                "INSERT INTO accounts(nickname, password) VALUES(?, ?) "
                "ON CONFLICT(nickname) DO UPDATE SET password = excluded.password");
  st.Bind(1, nickname).Bind(2, password).Run();
}

void TLinkStore::SetLanguage(const std::string& nickname, const std::string& lang) {
  TStatement st(db_, "UPDATE accounts SET lang = ? WHERE nickname = ?");
  st.Bind(1, lang).Bind(2, nickname).Run();
}

void TLinkStore::RemoveAccount(const std::string& nickname) {
  TTransaction transaction(db_);
  for (const char* sql :
       {"DELETE FROM links WHERE account = ?", "DELETE FROM xlinks WHERE account = ?",
        "DELETE FROM accounts WHERE nickname = ?"}) {
    TStatement st(db_, sql);
    st.Bind(1, nickname).Run();
  }
  transaction.Commit();
}

TAccountData TLinkStore::Load(const std::string& nickname) {
  TAccountData data;
  {
    TStatement st(db_,
                  "SELECT path, title, url, id, rank, private FROM links WHERE account = ? "
                  "ORDER BY seq");
    st.Bind(1, nickname);
    while (st.Step()) {
      TLinkRecord link;
      link.path = st.Text(0);
      link.title = st.Text(1);
      link.url = st.Text(2);
      link.id = st.IsNull(3) ? -1 : static_cast<std::int32_t>(st.Int(3));
      link.rank = st.Text(4);
      link.isPrivate = st.Int(5) != 0;
      data.links.push_back(std::move(link));
    }
  }
  TStatement st(db_,
                "SELECT path, ref, rank, user_data FROM xlinks WHERE account = ? ORDER BY seq");
  st.Bind(1, nickname);
  while (st.Step()) {
    data.xlinks.push_back({st.Text(0), st.Text(1), st.Text(2), st.Text(3)});
  }
  return data;
}

void TLinkStore::Save(const std::string& nickname, const TAccountData& data) {
  TTransaction transaction(db_);
  {
    TStatement clear(db_, "DELETE FROM links WHERE account = ?");
    clear.Bind(1, nickname).Run();
    TStatement insert(db_,
                      "INSERT INTO links(account, seq, path, title, url, id, rank, private) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    std::int64_t seq = 0;
    for (const TLinkRecord& link : data.links) {
      insert.Bind(1, nickname)
          .Bind(2, seq++)
          .Bind(3, link.path)
          .Bind(4, link.title)
          .Bind(5, link.url);
      if (link.id == -1) {
        insert.BindNull(6);
      } else {
        insert.Bind(6, std::int64_t{link.id});
      }
      insert.Bind(7, link.rank).Bind(8, std::int64_t{link.isPrivate ? 1 : 0}).Run();
    }
  }
  {
    TStatement clear(db_, "DELETE FROM xlinks WHERE account = ?");
    clear.Bind(1, nickname).Run();
    TStatement insert(db_,
                      "INSERT INTO xlinks(account, seq, path, ref, rank, user_data) "
                      "VALUES(?, ?, ?, ?, ?, ?)");
    std::int64_t seq = 0;
    for (const TXLinkRecord& xlink : data.xlinks) {
      insert.Bind(1, nickname)
          .Bind(2, seq++)
          .Bind(3, xlink.path)
          .Bind(4, xlink.ref)
          .Bind(5, xlink.rank)
          .Bind(6, xlink.userData)
          .Run();
    }
  }
  transaction.Commit();
}

std::int64_t TLinkStore::MetaValue(const char* key, std::int64_t fallback) {
  TStatement st(db_, "SELECT value FROM meta WHERE key = ?");
  st.Bind(1, std::string(key));
  return st.Step() ? st.Int(0) : fallback;
}

void TLinkStore::SetMetaValue(const char* key, std::int64_t value) {
  TStatement st(db_,
                "INSERT INTO meta(key, value) VALUES(?, ?) "
                "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
  st.Bind(1, std::string(key)).Bind(2, value).Run();
}

std::int32_t TLinkStore::NextId() {
  const std::int64_t next = MetaValue("next-id", 1);
  // Ids are 32-bit on the client; running out is far beyond any account,
  // but must not wrap into ids already handed out.
  if (next >= std::numeric_limits<std::int32_t>::max()) {
    throw TLinkStoreException(std::string("TLinkStore.NextId:") + "no server id left");
  }
  SetMetaValue("next-id", next + 1);
  return static_cast<std::int32_t>(next);
}

void TLinkStore::ReserveId(std::int32_t id) {
  if (id < 0) return;
  if (MetaValue("next-id", 1) <= id) SetMetaValue("next-id", std::int64_t{id} + 1);
}

void TLinkStore::Count(const std::string& name, std::int64_t by) {
  TStatement st(db_,
                "INSERT INTO counters(name, count) VALUES(?, ?) "
                "ON CONFLICT(name) DO UPDATE SET count = count + excluded.count");
  st.Bind(1, name).Bind(2, by).Run();
}

std::int64_t TLinkStore::Counter(const std::string& name) {
  TStatement st(db_, "SELECT count FROM counters WHERE name = ?");
  st.Bind(1, name);
  return st.Step() ? st.Int(0) : 0;
}

}  // namespace kelvo::linkserver
