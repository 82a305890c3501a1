// The controller's side of the change watcher: each batch of watched
// changes applied to the tree, and the server actions they make.

#include <algorithm>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/ServerLinks.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"
#include "server/SrvActnLinks.h"
#include "sync/BookmarksCtrl.h"

namespace kelvo {

namespace {

TStringList SplitRelative(const std::string& path) {
  TStringList names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// The reader takes .url files of at least five characters, any letter case.
bool IsUrlFileName(const std::string& name) {
  if (name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".url";
}

// A bookmark is named after its file up to the last ".".
std::string BookmarkNameOfFile(const std::string& fileName) {
  const std::size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::string UrlOf(const IBNodePtr& node) {
  auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
  return bookmark ? bookmark->GetURL() : std::string();
}

bool IsPrivateFolder(const IFolderPtr& folder) {
  return folder && IsPrivateNode(folder, kPrivateKindPrivate);
}

}  // namespace

// --- Finding nodes by their place on disk -----------------------------------

IFolderPtr TBookmarksCtrl::ChildFolder(const IFolderPtr& parent, const std::string& name) const {
  if (!parent) return nullptr;
  const int count = parent->Count();
  for (int i = 0; i < count; ++i) {
    auto folder = std::dynamic_pointer_cast<IFolder>(parent->Get(i));
    if (!folder) continue;
    if (folder->GetName() == name || FavoritesFolderDirectoryName(folder->GetName()) == name) return folder;
  }
  return nullptr;
}

IBNodePtr TBookmarksCtrl::ChildBookmarkByFileName(const IFolderPtr& parent, const std::string& fileName) const {
  if (!parent || fileName.size() < 4) return nullptr;
  const std::string base = fileName.substr(0, fileName.size() - 4);
  const int count = parent->Count();
  for (int i = 0; i < count; ++i) {
    IBNodePtr child = parent->Get(i);
    if (!child || dynamic_cast<const IBookmark*>(child.get()) == nullptr) continue;
    if (FileNameOfNode(child->GetName()) == base) return child;
  }
  return nullptr;
}

IFolderPtr TBookmarksCtrl::FolderForNames(const TStringList& names, bool create) {
  IFolderPtr folder = tree_;
  std::string directory = favoritesPath_;
  for (const std::string& name : names) {
    IFolderPtr child = ChildFolder(folder, name);
    if (!child) {
      if (!create) return nullptr;
      // A level whose own notice has not come (or was lost): its content
      // arrives with the notices of its entries.
      child = std::make_shared<TFileFolder>(directory, false, name);
      folder->Add(child);
    }
    folder = child;
    directory += name + "/";
  }
  return folder;
}

IBNodePtr TBookmarksCtrl::NodeForNames(const TStringList& names, bool isFolder) {
  if (names.empty()) return isFolder ? tree_ : nullptr;
  IFolderPtr parent = FolderForNames(TStringList(names.begin(), names.end() - 1), false);
  if (!parent) return nullptr;
  if (isFolder) return ChildFolder(parent, names.back());
  return ChildBookmarkByFileName(parent, names.back());
}

std::string TBookmarksCtrl::AbsolutePath(const std::string& relativePath) const {
  return favoritesPath_.substr(0, favoritesPath_.size() - 1) + relativePath;
}

std::string TBookmarksCtrl::DirectoryOf(const TStringList& names) const {
  std::string directory = favoritesPath_;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) directory += names[i] + "/";
  return directory;
}

void TBookmarksCtrl::RepathRecords(const TStringList& oldPath, const TStringList& newPath) {
  if (oldPath.empty() || oldPath == newPath) return;
  for (const IBNodeMetaPtr& record : metas_->FindUnderPath(oldPath)) {
    TStringList path = newPath;
    const TStringList& current = record->GetPath();
    path.insert(path.end(), current.begin() + static_cast<std::ptrdiff_t>(oldPath.size()), current.end());
    metas_->SetRecordPath(record, std::move(path));
  }
}

// --- Files caught half-written ---------------------------------------------------

void TBookmarksCtrl::RecheckLater(const std::string& path) {
  int tries = 1;
  if (auto it = carriedTries_.find(path); it != carriedTries_.end()) tries = it->second + 1;
  if (tries > kRecheckTries) {
    TLog::Warning("ApplyShellChanges:no URL in:" + AbsolutePath(path));
    return;
  }
  int& stored = recheck_[path];
  stored = std::max(stored, tries);
  SetTimer(window_, kRecheckTimerId, kRecheckDelayMs);
}

void TBookmarksCtrl::OnRecheckTimer() {
  KillTimer(window_, kRecheckTimerId);
  carriedTries_ = std::move(recheck_);
  recheck_.clear();
  std::vector<TShellChangePtr> changes;
  for (const auto& entry : carriedTries_) {
    changes.push_back(std::make_shared<TShellChange>(TShellChangeKind::Change, false, entry.first, ""));
  }
  ApplyShellChanges(changes);
  carriedTries_.clear();
}

// --- The batch ----------------------------------------------------------------

void TBookmarksCtrl::OnShellChanges(TBookmarksShellNotifier& notifier) {
  if (shutDown_ || !tree_) return;
  ApplyShellChanges(notifier.Pending());
}

void TBookmarksCtrl::ApplyShellChanges(const std::vector<TShellChangePtr>& changes) {
  if (shutDown_ || !tree_) return;
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
  {
    TTreeUpdateBracket bracket(tree_.get());
    for (const TShellChangePtr& change : changes) {
      if (!change) continue;
      try {
        ApplyShellChange(*change, script);
      } catch (const std::exception& e) {
        TLog::LogException(e, "ApplyShellChanges");
      }
    }
    bracket.End();
  }
  if (script.Count() > 1 && !SyncOff()) SendScript(script);
  IntegrateMeta();
}

void TBookmarksCtrl::ApplyShellChange(const IShellChange& change, ISrvScript& script) {
  switch (change.Kind()) {
    case TShellChangeKind::Create:
      ApplyCreate(change.NewPath(), change.IsFolder(), script);
      break;
    case TShellChangeKind::Delete:
      ApplyDelete(change.NewPath(), change.IsFolder(), script);
      break;
    case TShellChangeKind::Rename:
      ApplyRename(change.OldPath(), change.NewPath(), change.IsFolder(), script);
      break;
    case TShellChangeKind::Change:
      ApplyChange(change.NewPath(), change.IsFolder(), script);
      break;
  }
}

void TBookmarksCtrl::ApplyCreate(const std::string& path, bool isFolder, ISrvScript& script) {
  const TStringList names = SplitRelative(path);
  if (names.empty()) return;
  const std::string& name = names.back();
  // Only what the reader would take is a favorite (not desktop.ini, not an
  // editor's temporary file).
  if (!isFolder && !IsUrlFileName(name)) return;
  IFolderPtr parent = FolderForNames(TStringList(names.begin(), names.end() - 1), true);
  const std::string directory = DirectoryOf(names);
  IBNodePtr node;
  if (isFolder) {
    if (ChildFolder(parent, name)) {
      TLog::Debug("ApplyShellCreate folder known:" + AbsolutePath(path));
      return;
    }
    node = std::make_shared<TFileFolder>(directory, true, name);
  } else {
    if (ChildBookmarkByFileName(parent, name)) {
      ApplyChange(path, false, script);
      return;
    }
    node = std::make_shared<TFileBookmark>(directory, name);
  }
  parent->Add(node);
  if (!isFolder && UrlOf(node).empty()) {
    // Read while it was being written: sent once its URL is there.
    RecheckLater(path);
    return;
  }
  if (!IsPrivateFolder(parent)) {
    script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd, TNodeList{node}));
  }
}

void TBookmarksCtrl::ApplyDelete(const std::string& path, bool isFolder, ISrvScript& script) {
  const std::string absolute = AbsolutePath(path);
  IBNodePtr node = NodeForNames(SplitRelative(path), isFolder);
  if (!node || node == tree_) {
    TLog::Warning("ApplyShellDelete node not found:" + absolute);
    return;
  }
  TLog::Debug("ApplyShellDelete deleting:" + absolute);
  IFolderPtr parent = GetParentFolder(node);
  if (!IsPrivateFolder(parent)) AddRemoveLinkActions(TNodeList{node}, script);
  auto* sink = dynamic_cast<IMetaActionSink*>(&script);
  metas_->RemoveUnderNodes(TNodeList{node}, sink);
  if (parent) parent->Remove(node);
}

void TBookmarksCtrl::ApplyRename(const std::string& oldPath, const std::string& newPath, bool isFolder,
                                 ISrvScript& script) {
  const TStringList oldNames = SplitRelative(oldPath);
  const TStringList newNames = SplitRelative(newPath);
  if (newNames.empty()) return;
  IBNodePtr node = NodeForNames(oldNames, isFolder);
  const std::string& newName = newNames.back();
  if (!node || node == tree_) {
    // Renamed into place (an editor's temporary file, a folder coming in
    // under another name): new to us.
    if (isFolder || IsUrlFileName(newName)) {
      ApplyCreate(newPath, isFolder, script);
    } else {
      TLog::Warning("ApplyShellRename node not found:" + AbsolutePath(oldPath));
    }
    return;
  }
  if (!isFolder && !IsUrlFileName(newName)) {
    // No longer a favorite.
    ApplyDelete(oldPath, false, script);
    return;
  }
  IFolderPtr newParent = FolderForNames(TStringList(newNames.begin(), newNames.end() - 1), true);
  IFolderPtr oldParent = GetParentFolder(node);
  const std::string name = isFolder ? newName : BookmarkNameOfFile(newName);
  if (newParent != oldParent) {
    if (node->GetName() == name) {
      MoveNodes(TNodeList{node}, newParent, script);
      return;
    }
    // Moved and renamed at once: the server's records are matched by path
    // and name together, so the old link goes and the node comes anew.
    if (!IsPrivateFolder(oldParent)) AddRemoveLinkActions(TNodeList{node}, script);
    const TStringList oldMeta = NamePath(node);
    moving_ = true;
    oldParent->Remove(node);
    node->SetName(name);
    newParent->Add(node);
    moving_ = false;
    RepathRecords(oldMeta, NamePath(node));
    if (!IsPrivateFolder(newParent)) {
      script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd, TNodeList{node}));
    }
    return;
  }
  RenameNode(node, name, script);
}

void TBookmarksCtrl::RenameNode(const IBNodePtr& node, const std::string& newName, ISrvScript& script) {
  if (node->GetName() == newName) return;
  const bool inPrivate = IsPrivateFolder(GetParentFolder(node));
  const TStringList oldMeta = NamePath(node);
  if (auto folder = std::dynamic_pointer_cast<IFolder>(node)) {
    const std::string previousPath = ServerPath(node);
    auto folderEx = std::dynamic_pointer_cast<IFolderEx>(node);
    const bool shared = folderEx && folderEx->GetPublic();
    folder->SetName(newName);
    if (!inPrivate && ServerPath(node) != previousPath) {
      script.AddAction(TSrvActnUpdateLink::RenameFolder(nullptr, shared, previousPath, folder));
    }
    RepathRecords(oldMeta, NamePath(node));
    return;
  }
  auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
  if (!bookmark) return;
  const std::string previousName = bookmark->GetName();
  bookmark->SetName(newName);
  if (!inPrivate) {
    script.AddAction(TSrvActnUpdateLink::ChangeBookmark(nullptr, bookmark->GetURL(), previousName, bookmark));
  }
  if (IBNodeMetaPtr record = metas_->FindByPath(oldMeta)) {
    metas_->RenameBookmarkRecord(record, bookmark->GetNormalizedName(), bookmark->GetURL());
  }
}

void TBookmarksCtrl::ApplyChange(const std::string& path, bool isFolder, ISrvScript& script) {
  if (isFolder) return;
  const TStringList names = SplitRelative(path);
  if (names.empty() || !IsUrlFileName(names.back())) return;
  IBNodePtr node = NodeForNames(names, false);
  if (!node) {
    // The notice of its creation was missed.
    ApplyCreate(path, false, script);
    return;
  }
  auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
  if (!bookmark) return;
  TFileBookmark onDisk(DirectoryOf(names), names.back());
  const std::string url = onDisk.GetURL();
  if (url.empty()) {
    // A file caught between truncation and writing: its one notice may
    // already be spent, so look again shortly.
    RecheckLater(path);
    return;
  }
  if (url == bookmark->GetURL()) return;
  const std::string previousURL = bookmark->GetURL();
  const TStringList meta = NamePath(node);
  bookmark->SetURL(url);
  if (!IsPrivateFolder(GetParentFolder(node))) {
    if (previousURL.empty()) {
      // Read while it was still being written: the server never had it.
      script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd, TNodeList{node}));
    } else {
      script.AddAction(
          TSrvActnUpdateLink::ChangeBookmark(nullptr, previousURL, bookmark->GetName(), bookmark));
    }
  }
  if (IBNodeMetaPtr record = metas_->FindByPath(meta)) {
    metas_->RenameBookmarkRecord(record, bookmark->GetNormalizedName(), url);
  }
}

void TBookmarksCtrl::MoveNodes(const TNodeList& nodes, const IFolderPtr& newParent, ISrvScript& script) {
  moving_ = true;
  try {
    const bool newPrivate = IsPrivateFolder(newParent);
    TNodeList newToServer;
    for (const IBNodePtr& node : nodes) {
      IFolderPtr oldParent = GetParentFolder(node);
      if (!oldParent || oldParent == newParent) continue;
      const bool oldPrivate = IsPrivateFolder(oldParent);
      const TStringList oldMeta = NamePath(node);
      std::string previousPath;
      bool shared = false;
      if (oldPrivate) {
        if (!newPrivate) newToServer.push_back(node);
      } else if (newPrivate) {
        AddRemoveLinkActions(TNodeList{node}, script);
      } else {
        previousPath = ServerPath(node);
        if (auto folderEx = std::dynamic_pointer_cast<IFolderEx>(node)) shared = folderEx->GetPublic();
      }
      oldParent->Remove(node);
      newParent->Add(node);
      if (!oldPrivate && !newPrivate) {
        if (auto folder = std::dynamic_pointer_cast<IFolder>(node)) {
          script.AddAction(TSrvActnUpdateLink::RenameFolder(nullptr, shared, previousPath, folder));
        } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(node)) {
          script.AddAction(TSrvActnUpdateLink::MoveBookmark(nullptr, previousPath, bookmark));
        }
      }
      RepathRecords(oldMeta, NamePath(node));
    }
    if (!newToServer.empty()) {
      script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smAdd, newToServer));
    }
  } catch (...) {
    moving_ = false;
    throw;
  }
  moving_ = false;
}

}  // namespace kelvo
