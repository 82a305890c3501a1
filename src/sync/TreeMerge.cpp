#include "sync/TreeMerge.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "bookmarks/Bookmark.h"
#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/TreeChangeNotifier.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/TreeWalk.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

constexpr const char* kMoveContext = "TBookmarksCtrl.Merge_MoveC";
constexpr const char* kClassContext = "TTreeMerge.";

bool IsBookmarkNode(const IBNode& node) { return dynamic_cast<const IBookmark*>(&node) != nullptr; }
bool IsFolderNode(const IBNode& node) { return dynamic_cast<const IFolder*>(&node) != nullptr; }
bool IsTreeRoot(const IBNode& node) { return dynamic_cast<const ISimpleTree*>(&node) != nullptr; }

bool IsPrivateFolder(const IBNode& node) {
  const auto* ex = dynamic_cast<const IFolderEx*>(&node);
  return ex != nullptr && ex->IsPrivate();
}

// The node is a private folder, lies in one, or is a bookmark of one.
bool InPrivateFolder(const IBNode& node) {
  if (IsFolderNode(node)) return IsPrivateFolder(node);
  const IBNode* parent = node.GetParent();
  return parent != nullptr && IsPrivateFolder(*parent);
}

// A server name as the Favorites store names a node: without control
// characters (they have no place in a file name), in the file-safe form the
// store's copies use.
std::string LocalName(const std::string& name, bool isFolder) {
  std::string clean;
  clean.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte != 127) clean += c;
  }
  return FileNameOfNode(FileSafeName(clean, isFolder ? nmFolder : nmBookmark));
}

// The name under which a child occupies its folder's directory.
std::string DiskKey(const std::string& name, bool isFolder) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) about "x" + string
  // in optimized builds.
  std::string key(1, isFolder ? 'F' : 'B');
  key += isFolder ? FavoritesFolderDirectoryName(name) : FileNameOfNode(name);
  return key;
}

std::string DiskKey(const IBNode& node) { return DiskKey(node.GetName(), IsFolderNode(node)); }

// The path its children get in their keys: "" below a tree root, else the
// folder's own path key without its kind letter.
std::string ChildKeyPath(const IBNode& folder) {
  if (IsTreeRoot(folder)) return std::string();
  std::string key = folder.GetHash(hkPath);
  if (!key.empty()) key.pop_back();
  return key;
}

void OrFlagsDeep(IBNode& node, std::uint32_t bits) {
  node.SetFlags(node.GetFlags() | bits);
  if (const auto* folder = dynamic_cast<const IFolder*>(&node)) {
    WalkBelow(*folder, [bits](const IBNodePtr& child) { child->SetFlags(child->GetFlags() | bits); });
  }
}

void MarkCreated(IBNode& node) {
  node.SetTagDeep(kMarkCreated);
  OrFlagsDeep(node, kFlagCreated);
}

IFolderPtr AsFolder(const IBNodePtr& node) { return std::dynamic_pointer_cast<IFolder>(node); }

IBNodePtr SelfPtr(IBNode& node) { return node.shared_from_this(); }

}  // namespace

// Which names each folder's children occupy on disk, so that a node moved,
// renamed or added never takes a sibling's file. Filled per folder on first
// use and kept current by the edits of one operation.
class TSiblingNames {
 public:
  bool Taken(const IFolder& folder, const std::string& key, const IBNode* except) {
    auto& names = NamesOf(folder);
    const auto found = names.find(key);
    if (found == names.end()) return false;
    int count = found->second;
    if (except != nullptr && except->GetParent() == static_cast<const IBNode*>(&folder) &&
        DiskKey(*except) == key) {
      --count;
    }
    return count > 0;
  }
  void Added(const IFolder& folder, const IBNode& node) {
    const auto found = cache_.find(&folder);
    if (found != cache_.end()) ++found->second[DiskKey(node)];
  }
  void Removed(const IFolder& folder, const IBNode& node) {
    const auto found = cache_.find(&folder);
    if (found == cache_.end()) return;
    auto name = found->second.find(DiskKey(node));
    if (name != found->second.end() && --name->second <= 0) found->second.erase(name);
  }
  void Clear() { cache_.clear(); }

 private:
  std::unordered_map<std::string, int>& NamesOf(const IFolder& folder) {
    auto [it, inserted] = cache_.try_emplace(&folder);
    if (inserted) {
      const int count = folder.Count();
      for (int i = 0; i < count; ++i) {
        if (const IBNodePtr child = folder.Get(i)) ++it->second[DiskKey(*child)];
      }
    }
    return it->second;
  }

  std::unordered_map<const IFolder*, std::unordered_map<std::string, int>> cache_;
};

namespace {

// name, or name + " (2)", " (3)" ... whichever no other child of folder
// occupies on disk.
std::string FreeName(TSiblingNames& names, const IFolder& folder, const std::string& name, bool isFolder,
                     const IBNode* except) {
  if (!names.Taken(folder, DiskKey(name, isFolder), except)) return name;
  for (int i = 2;; ++i) {
    std::string candidate = name + " (" + std::to_string(i) + ")";
    if (!names.Taken(folder, DiskKey(candidate, isFolder), except)) return candidate;
  }
}

// The child of folder with that disk key, nullptr when none.
IBNodePtr ChildWithKey(const IFolder& folder, const std::string& key) {
  const int count = folder.Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = folder.Get(i);
    if (child && DiskKey(*child) == key) return child;
  }
  return nullptr;
}

}  // namespace

void MarkSubtreeModified(IBNode& node) { OrFlagsDeep(node, nfModified); }

TTreeMerge::TTreeMerge(IFolderPtr localTree, std::string favoritesDirectory, TBNodeMetas* metas)
    : tree_(std::move(localTree)),
      directory_(std::move(favoritesDirectory)),
      metas_(metas),
      delete_(&TTreeMerge::DeleteFavoritesEntry),
      names_(std::make_unique<TSiblingNames>()) {}

TTreeMerge::~TTreeMerge() = default;

void TTreeMerge::SetDeleteFunction(TDeleteFunction deleteFunction) {
  delete_ = deleteFunction ? std::move(deleteFunction) : TDeleteFunction(&TTreeMerge::DeleteFavoritesEntry);
}

void TTreeMerge::DeleteFavoritesEntry(const std::string& path, bool isFolder) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (ec || !std::filesystem::exists(status)) return;  // already gone
  if (isFolder) {
    TFileTools::DeleteFolder(path);
  } else {
    TFileTools::DeleteFile(path);
  }
}

std::string TTreeMerge::DiskPath(const IBNode& node) const {
  const std::string path = NodeFilePath(directory_, node);
  return path.empty() ? path : StripTrailingDots(path);
}

void TTreeMerge::MoveOnDisk(const std::string& oldPath, const IBNode& node) {
  const std::string newPath = DiskPath(node);
  if (oldPath.empty() || newPath.empty() || oldPath == newPath) return;
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(oldPath, ec))) return;
  if (std::filesystem::exists(std::filesystem::symlink_status(newPath, ec))) return;
  try {
    TFileTools::CreateFolder(std::filesystem::path(newPath).parent_path().string());
    TFileTools::RenameFile(oldPath, newPath);
  } catch (const TKException& e) {
    // The write of the tree still puts the node in its new place.
    TLog::Warning(std::string(kClassContext) + "MoveOnDisk:" + oldPath + ":" + e.FullMessage());
  }
}

// ---- Merge mode

void TTreeMerge::ApplyDifferences(const TBNodeDifferenceList& list) {
  names_->Clear();
  try {
    for (const IBNodeDifferencePtr& difference : list) {
      if (difference) ApplyOne(*difference);
    }
  } catch (...) {
    names_->Clear();
    throw;
  }
  names_->Clear();
}

void TTreeMerge::ApplyOne(const IBNodeDifference& difference) {
  const IBNodePtr local = difference.GetLocalNode();
  const IBNodePtr server = difference.GetServerNode();
  switch (difference.GetKind()) {
    case DiffMoved:
      if (local && server) ApplyMoved(local, server);
      break;
    case DiffCaptionChanged:
      if (local && server) ApplyCaptionChanged(local, server);
      break;
    case DiffUrlChanged:
      if (local && server) ApplyUrlChanged(local, server);
      break;
    case DiffAdded:
      if (server) ApplyAdded(server);
      break;
    case DiffDeleted:
    case DiffNone:
      break;
  }
}

void TTreeMerge::ApplyMoved(const IBNodePtr& local, const IBNodePtr& server) {
  try {
    if (InPrivateFolder(*local)) {
      TLog::Warning(std::string(kMoveContext) + ":private node kept:" + Describe(local));
      return;
    }
    const IFolderPtr parent = GetParentFolder(local);
    if (!parent) return;
    const IFolderPtr target = LocalFolderForNode(*server);
    if (!target) {
      TLog::Warning(std::string(kMoveContext) + ":target is private:" + Describe(server));
      return;
    }
    if (target == parent) {
      PairNodes(*local, *server);
      return;
    }
    // A folder cannot go into its own subtree.
    for (const IBNode* at = target.get(); at != nullptr; at = at->GetParent()) {
      if (at == local.get()) {
        TLog::Warning(std::string(kMoveContext) + ":target inside the node:" + Describe(local));
        return;
      }
    }
    if (metas_ != nullptr) {
      const TStringList oldPath = NamePath(local);
      const TStringList newPath = NamePath(server);
      if (!oldPath.empty() && !newPath.empty() && !metas_->FindUnderPath(oldPath).empty()) {
        metas_->MovePaths(oldPath, newPath);
      }
    }
    const std::string oldDisk = DiskPath(*local);
    const bool isFolder = IsFolderNode(*local);
    names_->Removed(*parent, *local);
    parent->Remove(local);
    const std::string name = FreeName(*names_, *target, local->GetName(), isFolder, nullptr);
    if (name != local->GetName()) local->SetName(name);
    if (target->Add(local) < 0) {
      // Refused: it stays where it was rather than leave the tree.
      parent->Add(local);
      names_->Added(*parent, *local);
      return;
    }
    names_->Added(*target, *local);
    // Its files now belong in another directory.
    MarkSubtreeModified(*local);
    MoveOnDisk(oldDisk, *local);
    PairNodes(*local, *server);
  } catch (const std::exception& e) {
    TLog::LogException(e, kMoveContext);
  }
}

void TTreeMerge::ApplyCaptionChanged(const IBNodePtr& local, const IBNodePtr& server) {
  if (InPrivateFolder(*local)) {
    TLog::Warning(std::string(kClassContext) + "CaptionChanged:private node kept:" + Describe(local));
    return;
  }
  const bool isFolder = IsFolderNode(*local);
  if (metas_ != nullptr) {
    if (!isFolder) {
      if (const IBNodeMetaPtr record = metas_->FindByPathHash(local->GetHash(hkPath))) {
        const auto* serverBookmark = dynamic_cast<const IBookmark*>(server.get());
        metas_->RenameBookmarkRecord(record, NormalizeName(server->GetName(), nmBookmark),
                                     serverBookmark ? serverBookmark->GetURL() : record->GetURL());
      }
    } else {
      // The folder's records and those of everything below it take the new
      // name at the folder's place in their paths.
      const std::string newName = NormalizeName(server->GetName(), nmFolder);
      const TStringList oldPath = NamePath(local);
      if (!oldPath.empty()) {
        for (const IBNodeMetaPtr& record : metas_->FindUnderPath(oldPath)) {
          TStringList path = record->GetPath();
          path[oldPath.size() - 1] = newName;
          metas_->SetRecordPath(record, std::move(path));
        }
      }
      if (const IBNodeMetaPtr record = metas_->FindByPathHash(server->GetHash(hkPath))) {
        metas_->RenameRecord(record, newName);
      }
    }
  }
  const std::string oldDisk = DiskPath(*local);
  std::string name = LocalName(server->GetName(), isFolder);
  const IFolderPtr parent = GetParentFolder(local);
  if (parent) {
    name = FreeName(*names_, *parent, name, isFolder, local.get());
    names_->Removed(*parent, *local);
  }
  local->SetName(name);
  if (parent) names_->Added(*parent, *local);
  if (isFolder) MarkSubtreeModified(*local);
  MoveOnDisk(oldDisk, *local);
  PairNodes(*local, *server);
}

void TTreeMerge::ApplyUrlChanged(const IBNodePtr& local, const IBNodePtr& server) {
  auto* localBookmark = dynamic_cast<IBookmark*>(local.get());
  const auto* serverBookmark = dynamic_cast<const IBookmark*>(server.get());
  if (localBookmark == nullptr || serverBookmark == nullptr) return;
  if (InPrivateFolder(*local)) {
    TLog::Warning(std::string(kClassContext) + "UrlChanged:private node kept:" + Describe(local));
    return;
  }
  if (metas_ != nullptr) {
    if (const IBNodeMetaPtr record = metas_->FindByPathHash(local->GetHash(hkPath))) {
      metas_->RenameBookmarkRecord(record, local->GetNormalizedName(), serverBookmark->GetURL());
    }
  }
  localBookmark->SetURL(serverBookmark->GetURL());
  SetPair(*local, *server);
}

void TTreeMerge::ApplyAdded(const IBNodePtr& server) {
  const IFolderPtr target = LocalFolderForNode(*server);
  if (!target) {
    TLog::Warning(std::string(kClassContext) + "Added:target is private:" + Describe(server));
    return;
  }
  AddCopy(*target, *server);
}

void TTreeMerge::AddCopy(IFolder& folder, IBNode& source) {
  if (const auto* sourceFolder = dynamic_cast<const IFolder*>(&source)) {
    const std::string name = LocalName(source.GetName(), true);
    const std::string key = DiskKey(name, true);
    if (names_->Taken(folder, key, nullptr)) {
      // That directory exists: the content joins it, a private one is left
      // alone.
      const IFolderPtr existing = AsFolder(ChildWithKey(folder, key));
      if (existing) {
        if (IsPrivateFolder(*existing)) {
          TLog::Warning(std::string(kClassContext) + "Added:private folder kept:" + Describe(existing));
          return;
        }
        if (!IsPaired(*existing)) SetPair(*existing, source);
        const int count = sourceFolder->Count();
        for (int i = 0; i < count; ++i) {
          if (const IBNodePtr child = sourceFolder->Get(i)) AddCopy(*existing, *child);
        }
        return;
      }
    }
    auto copy = std::make_shared<TFileFolder>(*sourceFolder);
    copy->SetName(name);
    MarkCreated(*copy);
    folder.Add(copy);
    names_->Added(folder, *copy);
    // Paired with its source, the copy gets the server's data with the rest.
    copy->InitHashes(ChildKeyPath(folder));
    PairNodes(*copy, source);
    return;
  }
  const auto* sourceBookmark = dynamic_cast<const IBookmark*>(&source);
  if (sourceBookmark == nullptr) return;
  auto copy = std::make_shared<TFileBookmark>(*sourceBookmark);
  copy->SetName(LocalName(source.GetName(), false));
  const std::string key = DiskKey(*copy);
  if (names_->Taken(folder, key, nullptr)) {
    const IBNodePtr existing = ChildWithKey(folder, key);
    const auto* existingBookmark = dynamic_cast<const IBookmark*>(existing.get());
    // The same bookmark is there already (a folder made for a moved node
    // can hold it): nothing to add.
    if (existingBookmark != nullptr && existingBookmark->GetURL() == sourceBookmark->GetURL()) {
      if (!IsPaired(*existing)) SetPair(*existing, source);
      return;
    }
    copy->SetName(FreeName(*names_, folder, copy->GetName(), false, nullptr));
  }
  MarkCreated(*copy);
  folder.Add(copy);
  names_->Added(folder, *copy);
  SetPair(*copy, source);
}

void TTreeMerge::CopyBookmarkData(IBNode& local, const IBNode& server) {
  auto* localBookmark = dynamic_cast<IBookmark*>(&local);
  const auto* serverBookmark = dynamic_cast<const IBookmark*>(&server);
  if (localBookmark == nullptr || serverBookmark == nullptr) return;
  localBookmark->SetId(ServerIdFromRef(serverBookmark->GetRef()));
  localBookmark->SetURL(serverBookmark->GetURL());
  if (local.GetNormalizedName() != NormalizeName(server.GetName(), nmBookmark)) {
    const std::string oldDisk = DiskPath(local);
    std::string name = LocalName(server.GetName(), false);
    if (const IFolderPtr parent = GetParentFolder(&local)) {
      name = FreeName(*names_, *parent, name, false, &local);
      names_->Removed(*parent, local);
      local.SetName(name);
      names_->Added(*parent, local);
    } else {
      local.SetName(name);
    }
    MoveOnDisk(oldDisk, local);
  }
  if (!serverBookmark->GetFeedURL().empty()) localBookmark->SetFeedURL(serverBookmark->GetFeedURL());
}

void TTreeMerge::CopyFolderData(IBNode& local, const IBNode& server) {
  auto* localFolder = dynamic_cast<IFolderEx*>(&local);
  const auto* serverFolder = dynamic_cast<const IServerFolder*>(&server);
  if (localFolder == nullptr || serverFolder == nullptr || localFolder->IsPrivate()) return;
  localFolder->SetId(ServerIdFromRef(serverFolder->GetRef()));
  if (serverFolder->GetPrivate()) localFolder->SetPrivate(true);
}

void TTreeMerge::CopyServerData(IFolder& localFolder) {
  names_->Clear();
  std::vector<IFolderPtr> pending;
  pending.push_back(AsFolder(SelfPtr(localFolder)));
  while (!pending.empty()) {
    const IFolderPtr folder = std::move(pending.back());
    pending.pop_back();
    if (!folder) continue;
    const int count = folder->Count();
    for (int i = 0; i < count; ++i) {
      const IBNodePtr child = folder->Get(i);
      if (!child) continue;
      IBNode* server = PairedNode(*child);
      if (server == nullptr) continue;
      if (IsBookmarkNode(*child)) {
        CopyBookmarkData(*child, *server);
      } else if (IsFolderNode(*child)) {
        CopyFolderData(*child, *server);
        pending.push_back(AsFolder(child));
      }
    }
  }
  names_->Clear();
}

TBNodeDifferenceList TTreeMerge::MergeFrom(IFolder& serverTree) {
  TTreeUpdateBracket bracket(dynamic_cast<ITreeChangeNotifier*>(tree_.get()));
  // Keep "paired" but drop the addresses into the server tree, which the
  // caller is about to free, also when the merge fails half way.
  auto unpoint = [&] {
    WalkBelow(*tree_, [](const IBNodePtr& node) {
      if (IsPaired(*node)) node->SetTag(kMarkTouched);
    });
    ClearMarks(serverTree);
  };
  TBNodeDifferenceList list;
  try {
    PairTrees(*tree_, serverTree);
    list = ComputeDifferences(*tree_, serverTree);
    TLog::Info("Differences:" + DifferencesText(list));
    ApplyDifferences(list);
    CopyServerData(*tree_);
  } catch (...) {
    unpoint();
    throw;
  }
  unpoint();
  bracket.End();
  return list;
}

// ---- Import and restore

void TTreeMerge::IndexSubtree(const IBNodePtr& node) {
  auto put = [this](const IBNodePtr& at) {
    try {
      pathIndex_.try_emplace(at->GetHash(hkPath), at);
      if (IsBookmarkNode(*at)) urlIndex_[at->GetHash(hkURL)].push_back(at);
    } catch (const TKException& e) {
      TLog::LogException(e, std::string(kClassContext) + "IndexSubtree");
    }
  };
  put(node);
  if (const auto folder = AsFolder(node)) WalkBelow(*folder, put);
}

void TTreeMerge::IndexLocalTree() {
  pathIndex_.clear();
  urlIndex_.clear();
  auto put = [this](const IBNodePtr& at) {
    try {
      pathIndex_.try_emplace(at->GetHash(hkPath), at);
      if (IsBookmarkNode(*at)) urlIndex_[at->GetHash(hkURL)].push_back(at);
    } catch (const TKException& e) {
      TLog::LogException(e, std::string(kClassContext) + "IndexLocalTree");
    }
  };
  WalkBelow(*tree_, put);
}

void TTreeMerge::OverlayTree(const IFolder& source, IFolder& target, bool withoutServerData) {
  names_->Clear();
  IndexLocalTree();
  try {
    OverlayFolder(source, target, withoutServerData);
  } catch (...) {
    names_->Clear();
    pathIndex_.clear();
    urlIndex_.clear();
    throw;
  }
  names_->Clear();
  pathIndex_.clear();
  urlIndex_.clear();
}

void TTreeMerge::OverlayFolder(const IFolder& source, IFolder& target, bool withoutServerData) {
  if (IsPrivateFolder(target)) return;
  const int count = source.Count();
  for (int i = 0; i < count; ++i) {
    const IBNodePtr child = source.Get(i);
    if (!child) continue;
    if (const auto* sourceFolder = dynamic_cast<const IFolder*>(child.get())) {
      const std::string key = child->GetHash(hkPath);
      IFolderPtr local;
      if (const auto found = pathIndex_.find(key); found != pathIndex_.end()) local = AsFolder(found->second);
      if (local) {
        // A private folder keeps its content and flags as they are.
        if (IsPrivateFolder(*local)) continue;
        local->SetTag(kMarkTouched);
        if (!withoutServerData) CopyFolderData(*local, *child);
        OverlayFolder(*sourceFolder, *local, withoutServerData);
      } else {
        auto copy = std::make_shared<TFileFolder>(*sourceFolder);
        copy->SetName(FreeName(*names_, target, copy->GetName(), true, nullptr));
        MarkCreated(*copy);
        target.Add(copy);
        names_->Added(target, *copy);
        copy->InitHashes(ChildKeyPath(target));
        IndexSubtree(copy);
        local = copy;
      }
      if (metas_ != nullptr) {
        if (const IBNodeMetaPtr record = metas_->FindByPathHash(key); record && record->GetIsFolder()) {
          if (auto* ex = dynamic_cast<IFolderEx*>(local.get())) {
            if (record->GetIsPrivate()) {
              ex->SetPrivate(true);
            } else if (record->GetId() != -1) {
              ex->SetId(record->GetId());
              ex->SetPublic(record->GetIsPublic());
            }
          }
        }
      }
      continue;
    }
    const auto* sourceBookmark = dynamic_cast<const IBookmark*>(child.get());
    if (sourceBookmark == nullptr) continue;
    IBNodePtr local;
    const IBNode* sourceParent = child->GetParent();
    const bool sourceAtRoot = sourceParent == nullptr || IsTreeRoot(*sourceParent);
    const std::string sourceParentKey = sourceAtRoot ? std::string() : sourceParent->GetHash(hkPath);
    if (const auto found = urlIndex_.find(child->GetHash(hkURL)); found != urlIndex_.end()) {
      for (const IBNodePtr& candidate : found->second) {
        const IBNode* parent = candidate->GetParent();
        if (parent == nullptr) continue;
        const bool atRoot = IsTreeRoot(*parent);
        if (atRoot ? sourceAtRoot : (!sourceAtRoot && parent->GetHash(hkPath) == sourceParentKey)) {
          local = candidate;
          break;
        }
      }
    }
    if (!local) {
      if (const auto found = pathIndex_.find(child->GetHash(hkPath));
          found != pathIndex_.end() && IsBookmarkNode(*found->second)) {
        local = found->second;
      }
    }
    if (local && InPrivateFolder(*local)) continue;
    if (local) {
      local->SetTag(kMarkTouched);
      if (!withoutServerData) CopyBookmarkData(*local, *child);
    } else {
      auto copy = std::make_shared<TFileBookmark>(*sourceBookmark);
      copy->SetName(FreeName(*names_, target, copy->GetName(), false, nullptr));
      MarkCreated(*copy);
      target.Add(copy);
      names_->Added(target, *copy);
      copy->InitHashes(ChildKeyPath(target));
      IndexSubtree(copy);
      local = copy;
    }
    auto* bookmark = dynamic_cast<IBookmark*>(local.get());
    if (bookmark == nullptr) continue;
    IBNodeMetaPtr record;
    if (metas_ != nullptr) record = metas_->FindByPathHash(local->GetHash(hkPath));
    if (record) {
      bookmark->SetId(record->GetId());
    } else if (withoutServerData) {
      bookmark->SetId(-1);
    }
    // With server data the id just copied from the server stays: a record
    // only exists for published bookmarks, and dropping the server's id
    // would make the tree differ from the server's again.
  }
}

bool TTreeMerge::DeleteWithRetry(const std::string& path, bool isFolder) {
  if (path.empty()) return true;
  try {
    delete_(path, isFolder);
    return true;
  } catch (const TKFileException&) {
    TLog::Warning("Could not delete:" + path);
  }
  try {
    delete_(path, isFolder);
    TLog::Info(isFolder ? "Deleted Dir after retry" : "Deleted file after retry");
  } catch (const TKFileException& e) {
    TLog::LogException(e, std::string(kClassContext) + "RemoveUntouchedNodes:" + path);
  }
  return false;
}

bool TTreeMerge::RemoveUntouchedNodes(IFolder& localFolder) {
  // Last child first, depth first; a collected folder goes whole.
  TNodeList collected;
  struct TFrame {
    IFolderPtr folder;
    int next;  // counts down
  };
  std::vector<TFrame> stack;
  stack.push_back({AsFolder(SelfPtr(localFolder)), localFolder.Count() - 1});
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.next < 0) {
      stack.pop_back();
      continue;
    }
    const IBNodePtr child = top.folder->Get(top.next--);
    if (!child) continue;
    const IFolderPtr folder = AsFolder(child);
    if (folder && IsPrivateFolder(*folder)) continue;
    if (child->GetTag() == 0) {
      collected.push_back(child);
    } else if (folder) {
      stack.push_back({folder, folder->Count() - 1});
    }
  }
  bool ok = true;
  for (const IBNodePtr& node : collected) {
    if (!DeleteWithRetry(DiskPath(*node), IsFolderNode(*node))) ok = false;
  }
  for (const IBNodePtr& node : collected) {
    if (const IFolderPtr parent = GetParentFolder(node)) parent->Remove(node);
  }
  return ok;
}

bool TTreeMerge::RestoreFrom(const IFolder& archivedTree) {
  TTreeUpdateBracket bracket(dynamic_cast<ITreeChangeNotifier*>(tree_.get()));
  ClearMarks(*tree_);
  OverlayTree(archivedTree, *tree_, true);
  const bool ok = RemoveUntouchedNodes(*tree_);
  bracket.End();
  return ok;
}

// ---- Shared

IFolderPtr TTreeMerge::LocalFolderForNode(const IBNode& sourceNode) {
  const TNodeList chain = Ancestors(&sourceNode);  // the source root first
  IFolderPtr current = tree_;
  for (std::size_t i = 1; i < chain.size(); ++i) {
    IBNode& level = *chain[i];
    IFolderPtr next;
    // A paired server folder names its local partner directly.
    if (IBNode* partner = PairedNode(level);
        partner != nullptr && partner->GetParent() == static_cast<const IBNode*>(current.get())) {
      next = AsFolder(SelfPtr(*partner));
    }
    if (!next) {
      const std::string name = NormalizeName(level.GetName(), nmFolder);
      IFolderPtr privateMatch;
      const int count = current->Count();
      for (int c = 0; c < count && !next; ++c) {
        IFolderPtr child = AsFolder(current->Get(c));
        if (!child || child->GetNormalizedName() != name) continue;
        if (IsPrivateFolder(*child)) {
          if (!privateMatch) privateMatch = child;
        } else {
          next = child;
        }
      }
      if (!next && privateMatch) return nullptr;
    }
    if (!next) {
      const std::string name = FreeName(*names_, *current, LocalName(level.GetName(), true), true, nullptr);
      // On disk first: a folder that cannot be made never enters the tree.
      if (const auto* parentFile = dynamic_cast<const IFileFolder*>(current.get())) {
        std::string root = directory_;
        while (!root.empty() && root.back() == '/') root.pop_back();
        TFileTools::CreateFolder(
            StripTrailingDots(root + parentFile->GetRelativePath() + FavoritesFolderDirectoryName(name)));
      }
      auto folder = std::make_shared<TFileFolder>(std::string(), false, name);
      current->Add(folder);
      names_->Added(*current, *folder);
      MarkCreated(*folder);
      folder->InitHashes(ChildKeyPath(*current));
      PairNodes(*folder, level);
      next = folder;
    }
    if (IsPrivateFolder(*next)) return nullptr;
    current = std::move(next);
  }
  return current;
}

}  // namespace kelvo
