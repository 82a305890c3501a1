#pragma once
// In-memory registry for tests, with the semantics of the database one:
// case-insensitive names and paths that keep their case, parents created
// with a key, recursive delete, values listed in the order first written.
// Thread-safe. SetFailing makes every operation fail as an unreachable
// store would.

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/Registry.h"

namespace kelvo {

class TMemoryRegistry final : public IRegistry {
 public:
  void SetFailing(bool failing) { failing_ = failing; }

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
  struct TValue {
    std::string name;
    int type = 0;
    std::string data;
  };
  struct TKey {
    std::string path;  // as created
    std::vector<TValue> values;
  };
  // Keyed by root and folded path; the root key itself has path "".
  using TKeyMap = std::map<std::pair<TRegRoot, std::string>, TKey>;

  bool Usable(TRegRoot root) const { return root != TRegRoot::None && !failing_; }
  TKey* FindKey(TRegRoot root, const std::string& normalized);
  TKey& CreateKeyLocked(TRegRoot root, const std::string& normalized);

  std::mutex mutex_;
  TKeyMap keys_;
  std::atomic<bool> failing_{false};
};

}  // namespace kelvo
