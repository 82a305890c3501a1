#include "platform/fake/MemoryRegistry.h"

#include <map>

namespace kelvo {

namespace {

bool IsBelow(const std::string& foldedPath, const std::string& foldedKey) {
  if (foldedKey.empty()) return !foldedPath.empty();
  return foldedPath.size() > foldedKey.size() &&
         foldedPath.compare(0, foldedKey.size(), foldedKey) == 0 &&
         foldedPath[foldedKey.size()] == '\\';
}

}  // namespace

TMemoryRegistry::TKey* TMemoryRegistry::FindKey(TRegRoot root, const std::string& normalized) {
  auto it = keys_.find({root, RegistryFold(normalized)});
  return it == keys_.end() ? nullptr : &it->second;
}

TMemoryRegistry::TKey& TMemoryRegistry::CreateKeyLocked(TRegRoot root,
                                                         const std::string& normalized) {
  // The root key always exists, so that values may sit on it.
  TKey* current = &keys_[{root, ""}];
  std::string stored;
  std::string::size_type start = 0;
  while (start < normalized.size()) {
    std::string::size_type end = normalized.find('\\', start);
    if (end == std::string::npos) end = normalized.size();
    std::string candidate =
        (stored.empty() ? "" : stored + "\\") + normalized.substr(start, end - start);
    auto [it, inserted] = keys_.try_emplace({root, RegistryFold(candidate)});
    if (inserted) it->second.path = candidate;
    current = &it->second;
    stored = current->path;
    start = end + 1;
  }
  return *current;
}

bool TMemoryRegistry::KeyExists(TRegRoot root, const std::string& path) {
  if (!Usable(root)) return false;
  std::string normalized = NormalizeRegistryPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  return normalized.empty() || FindKey(root, normalized) != nullptr;
}

bool TMemoryRegistry::CreateKey(TRegRoot root, const std::string& path) {
  if (!Usable(root)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  CreateKeyLocked(root, NormalizeRegistryPath(path));
  return true;
}

std::optional<std::string> TMemoryRegistry::ReadString(TRegRoot root, const std::string& path,
                                                       const std::string& name) {
  if (!Usable(root)) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  TKey* key = FindKey(root, NormalizeRegistryPath(path));
  if (!key) return std::nullopt;
  const std::string folded = RegistryFold(name);
  for (const TValue& value : key->values) {
    if (RegistryFold(value.name) != folded) continue;
    if (value.type != kRegSz) return std::nullopt;
    return value.data;
  }
  return std::nullopt;
}

bool TMemoryRegistry::WriteString(TRegRoot root, const std::string& path, const std::string& name,
                                  const std::string& value) {
  return WriteValue(root, path, name, kRegSz, value);
}

bool TMemoryRegistry::WriteValue(TRegRoot root, const std::string& path, const std::string& name,
                                 int type, const std::string& data) {
  if (!Usable(root)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  TKey& key = CreateKeyLocked(root, NormalizeRegistryPath(path));
  const std::string folded = RegistryFold(name);
  for (TValue& value : key.values) {
    if (RegistryFold(value.name) == folded) {
      value.type = type;
      value.data = data;
      return true;
    }
  }
  key.values.push_back({name, type, data});
  return true;
}

bool TMemoryRegistry::DeleteValue(TRegRoot root, const std::string& path,
                                  const std::string& name) {
  if (!Usable(root)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  TKey* key = FindKey(root, NormalizeRegistryPath(path));
  if (!key) return false;
  const std::string folded = RegistryFold(name);
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (RegistryFold(it->name) == folded) {
      key->values.erase(it);
      return true;
    }
  }
  return false;
}

bool TMemoryRegistry::DeleteKey(TRegRoot root, const std::string& path) {
  std::string normalized = NormalizeRegistryPath(path);
  if (!Usable(root) || normalized.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string folded = RegistryFold(normalized);
  bool existed = false;
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first.first == root && (it->first.second == folded || IsBelow(it->first.second, folded))) {
      it = keys_.erase(it);
      existed = true;
    } else {
      ++it;
    }
  }
  return existed;
}

std::vector<std::pair<std::string, std::string>> TMemoryRegistry::ListStrings(
    TRegRoot root, const std::string& path) {
  std::vector<std::pair<std::string, std::string>> out;
  if (!Usable(root)) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  TKey* key = FindKey(root, NormalizeRegistryPath(path));
  if (!key) return out;
  for (const TValue& value : key->values)
    if (value.type == kRegSz) out.emplace_back(value.name, value.data);
  return out;
}

std::vector<std::string> TMemoryRegistry::ListSubKeys(TRegRoot root, const std::string& path) {
  std::vector<std::string> out;
  if (!Usable(root)) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string folded = RegistryFold(NormalizeRegistryPath(path));
  const std::string::size_type skip = folded.empty() ? 0 : folded.size() + 1;
  std::map<std::string, std::string> names;  // sorted by folded name
  for (const auto& [id, key] : keys_) {
    if (id.first != root || !IsBelow(id.second, folded)) continue;
    std::string rest = key.path.substr(skip);
    std::string name = rest.substr(0, rest.find('\\'));
    names.emplace(RegistryFold(name), name);
  }
  for (auto& [f, name] : names) out.push_back(name);
  return out;
}

}  // namespace kelvo
