// The metadata store: the list of records, its file, and the list
// operations the bookmarks controller runs when nodes move, are renamed or
// deleted, or when the server's public links replace the list.

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerLinks.h"
#include "foundation/Config.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

bool StartsWith(const TStringList& path, const TStringList& prefix) {
  if (path.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (path[i] != prefix[i]) return false;
  }
  return true;
}

// Keeps a file that could not be parsed beside itself before the next
// save replaces it, so that it can still be looked at or repaired.
void KeepUnreadableFile(const std::string& fileName) {
  std::error_code error;
  const std::string copy = fileName + ".corrupt";
  std::filesystem::copy_file(fileName, copy, std::filesystem::copy_options::overwrite_existing, error);
  if (!error) TLog::Warning("TBNodeMetas.Create:unreadable file kept as " + copy);
}

}  // namespace

std::string MetaFilePath() { return TConfig::AppDataPath() + kMetaFileName; }

TBNodeMetas::TBNodeMetas(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

void TBNodeMetas::Load() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  TLog::Info("TBNodeMetas.Create:aFilename=" + fileName_);
  TXmlDocument document;
  try {
    document = LoadFromFile(fileName_);
  } catch (const TXmlException&) {
    // Not XML (or not readable): the store starts empty.
    KeepUnreadableFile(fileName_);
  } catch (const std::exception&) {
  }
  bool skipped = false;
  if (document) {
    for (const TXmlNode& child : document.DocumentElement().ChildElements()) {
      const std::string name = child.Name();
      if (name != "folder" && name != "bookmark") continue;
      try {
        items_.push_back(std::make_shared<TBNodeMeta>(child));
      } catch (const TBNodeMetaException& e) {
        TLog::Error(e.Message());
        skipped = true;
      }
    }
  }
  if (skipped) SaveOwn();
  TLog::Info("TBNodeMetas.Create:Count=" + std::to_string(items_.size()));
}

std::size_t TBNodeMetas::Count() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return items_.size();
}

IBNodeMetaPtr TBNodeMetas::Item(std::size_t index) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return index < items_.size() ? items_[index] : nullptr;
}

TBNodeMetaList TBNodeMetas::Items() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return items_;
}

bool TBNodeMetas::Save(const std::string& fileName) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::string& target = fileName.empty() ? fileName_ : fileName;
  try {
    const TXmlDocument document = MakeFromString(MakeEmptyDocText(kMetaRootName));
    const TXmlElement root = document.DocumentElement();
    for (const IBNodeMetaPtr& record : items_) record->WriteXml(root);
    SaveToFile(document, target);
    return true;
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBNodeMetas.Save:" + target);
    return false;
  }
}

void TBNodeMetas::SaveOwn() const { Save(std::string()); }

IBNodeMetaPtr TBNodeMetas::FindByPath(const TStringList& path) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const IBNodeMetaPtr& record : items_) {
    if (record->GetPath() == path) return record;
  }
  return nullptr;
}

TBNodeMetaList TBNodeMetas::FindUnderPath(const TStringList& path) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  TBNodeMetaList found;
  for (const IBNodeMetaPtr& record : items_) {
    if (StartsWith(record->GetPath(), path)) found.push_back(record);
  }
  return found;
}

IBNodeMetaPtr TBNodeMetas::FindById(std::int32_t id) const {
  if (id == -1) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const IBNodeMetaPtr& record : items_) {
    if (record->GetId() == id) return record;
  }
  return nullptr;
}

IBNodeMetaPtr TBNodeMetas::FindByPathHash(const std::string& key) const {
  // Every record without a path has the key "": it names no node.
  if (key.empty()) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const IBNodeMetaPtr& record : items_) {
    if (record->GetPathHash() == key) return record;
  }
  return nullptr;
}

bool TBNodeMetas::RemoveUnderPaths(const TNameTbls& paths, IMetaActionSink* actions) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  bool removed = false;
  for (const TStringList& path : paths) {
    if (path.empty()) continue;
    const TBNodeMetaList under = FindUnderPath(path);
    for (auto it = under.rbegin(); it != under.rend(); ++it) {
      const IBNodeMetaPtr& record = *it;
      if (actions != nullptr && record->GetId() != -1) record->Unpublish(actions);
      for (auto item = items_.begin(); item != items_.end(); ++item) {
        if (*item == record) {
          items_.erase(item);
          removed = true;
          break;
        }
      }
    }
  }
  if (removed) SaveOwn();
  return removed;
}

bool TBNodeMetas::RemoveUnderNodes(const TNodeList& nodes, IMetaActionSink* actions) {
  if (nodes.empty()) return false;
  return RemoveUnderPaths(NameTables(nodes), actions);
}

void TBNodeMetas::Add(const IBNodeMetaPtr& record) {
  if (!record) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  items_.push_back(record);
}

void TBNodeMetas::SetRecordPath(const IBNodeMetaPtr& record, TStringList path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (record) record->SetPath(std::move(path));
  SaveOwn();
}

void TBNodeMetas::MovePaths(const TStringList& oldPath, const TStringList& newPath) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // An empty path names no node (and would put every record "under" it).
  if (!oldPath.empty() && !newPath.empty()) {
    const std::size_t oldHead = oldPath.size() - 1;
    const std::size_t newHead = newPath.size() - 1;
    for (const IBNodeMetaPtr& record : FindUnderPath(oldPath)) {
      const TStringList& path = record->GetPath();
      TStringList moved(newPath.begin(), newPath.begin() + static_cast<std::ptrdiff_t>(newHead));
      moved.insert(moved.end(), path.begin() + static_cast<std::ptrdiff_t>(oldHead), path.end());
      record->SetPath(std::move(moved));
    }
  }
  SaveOwn();
}

void TBNodeMetas::RenameRecord(const IBNodeMetaPtr& record, const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (record) record->SetTitle(name);
  SaveOwn();
}

void TBNodeMetas::RenameBookmarkRecord(const IBNodeMetaPtr& record, const std::string& name,
                                       const std::string& url) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (record) {
    record->SetTitle(name);
    record->SetURL(url);
  }
  SaveOwn();
}

void TBNodeMetas::RebuildFromServer(const TXmlNodeList& xlinks, const TNodeList* refNodes,
                                    const IFolder* serverTree) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  items_.clear();

  for (const TXmlNode& xlink : xlinks) {
    if (!xlink.IsElement()) continue;
    const std::string path = GetAttr(xlink, "path");
    const std::string ref = GetAttr(xlink, "ref");
    const std::string rank = GetAttr(xlink, "rank");
    const std::string userData = GetAttr(xlink, "user-data");
    const std::int32_t id = ServerIdFromRef(ref);
    const bool publicKind = path.find("/$pub/") != std::string::npos ||
                            path.find("/$news/") != std::string::npos ||
                            path.find("/$forum/") != std::string::npos ||
                            path.find("/$news-keyword/") != std::string::npos;
    if (!publicKind || id == -1 || ref.empty()) continue;

    if (const IBNodeMetaPtr known = FindById(id)) {
      if (path.find("/$pub/") != std::string::npos) known->SetIsPublic(true, nullptr);
      if (const auto rankValue = MetaInt(rank)) known->SetRank(*rankValue);
      continue;
    }
    if (refNodes == nullptr) continue;
    auto record = std::make_shared<TBNodeMeta>(path, userData, id, rank);
    if (const IBNodePtr node = FindNodeById(*refNodes, id)) {
      if (const auto bookmark = std::dynamic_pointer_cast<IBookmark>(node)) {
        record->SetURL(bookmark->GetURL());
      }
      record->SetPath(NamePath(node));
      record->SetIsFolder(std::dynamic_pointer_cast<IFolder>(node) != nullptr);
    }
    items_.push_back(std::move(record));
  }

  if (serverTree != nullptr) {
    for (const IBNodePtr& folder : CollectPrivateFolders(*serverTree)) {
      TStringList path = NamePath(folder);
      if (FindByPath(path)) continue;
      auto record = std::make_shared<TBNodeMeta>(true);
      record->SetIsPrivate(true);
      record->SetPath(std::move(path));
      items_.push_back(std::move(record));
    }
  }

  SaveOwn();
}

void TBNodeMetas::WriteXLinks(const TXmlElement& parentElement) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (const IBNodeMetaPtr& record : items_) record->WriteXLink(parentElement);
}

std::int32_t TBNodeMetas::PublicChecksum() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::uint32_t sum = 0;  // unsigned: the sum wraps
  for (const IBNodeMetaPtr& record : items_) {
    if (!record->GetIsPrivate()) sum += StringChecksum(record->GetPublicPath());
  }
  return static_cast<std::int32_t>(sum);
}

}  // namespace kelvo
