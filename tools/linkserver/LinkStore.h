#pragma once
// The link server's data in one SQLite file: accounts (nickname,
// password, language), each account's links and public links in their
// stored order, a server-wide id counter and named counters.
//
// One connection, not locked: the server serialises every use.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/KException.h"

struct sqlite3;

namespace kelvo::linkserver {

KELVO_DECLARE_EXCEPTION(TLinkStoreException, TKException);

// One stored "link" element of an account.
struct TLinkRecord {
  std::string path;
  std::string title;
  std::string url;       // non-empty for a bookmark link
  std::int32_t id = -1;  // -1: none (private folders only, once stored)
  std::string rank;
  bool isPrivate = false;

  bool IsBookmark() const { return !url.empty(); }
  bool operator==(const TLinkRecord&) const = default;
};

// One stored public link ("xlink").
struct TXLinkRecord {
  std::string path;
  std::string ref;
  std::string rank;
  std::string userData;

  bool operator==(const TXLinkRecord&) const = default;
};

// Everything the protocol changes of one account.
struct TAccountData {
  std::vector<TLinkRecord> links;
  std::vector<TXLinkRecord> xlinks;
};

class TLinkStore {
 public:
  // Opens or creates the file (and its folder). Raises TLinkStoreException.
  explicit TLinkStore(const std::string& path);
  ~TLinkStore();
  TLinkStore(const TLinkStore&) = delete;
  TLinkStore& operator=(const TLinkStore&) = delete;

  // One transaction around several operations (theirs join it). Rollback
  // does nothing outside a transaction.
  void Begin();
  void Commit();
  void Rollback();

  // The password of an account, none when unknown.
  std::optional<std::string> Password(const std::string& nickname);
  // Creates the account or replaces its password.
  void SetAccount(const std::string& nickname, const std::string& password);
  void SetLanguage(const std::string& nickname, const std::string& lang);
  // The account with its links, public links and counters of its own.
  void RemoveAccount(const std::string& nickname);

  TAccountData Load(const std::string& nickname);
  // Replaces the account's links and public links, in one transaction.
  void Save(const std::string& nickname, const TAccountData& data);

  // A fresh server id, above every id handed out or stored so far.
  std::int32_t NextId();
  // Makes sure NextId never answers id or less (ids the clients sent).
  void ReserveId(std::int32_t id);

  void Count(const std::string& name, std::int64_t by = 1);
  std::int64_t Counter(const std::string& name);

 private:
  void Exec(const char* sql);
  std::int64_t MetaValue(const char* key, std::int64_t fallback);
  void SetMetaValue(const char* key, std::int64_t value);
  sqlite3* db_ = nullptr;
  std::string path_;
};

}  // namespace kelvo::linkserver
