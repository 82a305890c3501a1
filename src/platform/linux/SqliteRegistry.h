#pragma once
// The registry of the agent on Linux: one SQLite database file shared by
// every process of the user (the agent, the browser add-on, kelvoctl).
// Layout (an external interface, kept exactly):
//   reg_keys(root TEXT, path TEXT)
//   reg_values(root TEXT, path TEXT, name TEXT, type INTEGER, data TEXT)
// root is "HKCU" or "HKLM", path the "\"-separated key path. Each write is
// one transaction; other processes may write at the same time (they wait
// for each other). The file is private to the user (mode 0600).

#include <memory>
#include <mutex>
#include <string>

#include "platform/Registry.h"

struct sqlite3;

namespace kelvo {

class TSqliteRegistry final : public IRegistry {
 public:
  // Opens (creating when missing) the database and its parent folders. A
  // database that cannot be opened now is tried again at the next call.
  explicit TSqliteRegistry(std::string path);
  ~TSqliteRegistry() override;
  TSqliteRegistry(const TSqliteRegistry&) = delete;
  TSqliteRegistry& operator=(const TSqliteRegistry&) = delete;

  const std::string& Path() const { return path_; }
  bool IsOpen();
  // Why the last open or statement failed; empty after success.
  std::string LastError();

  bool KeyExists(TRegRoot root, const std::string& path) override;
  bool CreateKey(TRegRoot root, const std::string& path) override;
  std::optional<std::string> ReadString(TRegRoot root, const std::string& path,
                                        const std::string& name) override;
  bool WriteString(TRegRoot root, const std::string& path, const std::string& name,
                   const std::string& value) override;
  bool WriteValue(TRegRoot root, const std::string& path, const std::string& name, int type,
                  const std::string& data) override;
  bool DeleteValue(TRegRoot root, const std::string& path, const std::string& name) override;
  bool DeleteKey(TRegRoot root, const std::string& path) override;
  std::vector<std::pair<std::string, std::string>> ListStrings(TRegRoot root,
                                                               const std::string& path) override;
  std::vector<std::string> ListSubKeys(TRegRoot root, const std::string& path) override;

 private:
  class TStatement;
  bool EnsureOpenLocked();
  void CloseLocked();
  bool ExecLocked(const char* sql);
  bool BeginWriteLocked();
  bool CommitLocked();
  void RollbackLocked();
  bool KeyExistsLocked(const char* root, const std::string& path);
  bool CreateKeyLocked(const char* root, const std::string& path, std::string& storedPath);

  std::string path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string lastError_;
};

// The registry database at the path (see TSqliteRegistry).
std::shared_ptr<IRegistry> OpenRegistryDatabase(const std::string& path);
// $XDG_CONFIG_HOME/kelvo/registry.db (default $HOME/.config/kelvo/registry.db).
std::string DefaultRegistryPath();

}  // namespace kelvo
