#include "archive/ArchiveCtrl.h"

#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/HashableTree.h"
#include "bookmarks/TreeTools.h"
#include "bookmarks/XBEL.h"
#include "foundation/Config.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "server/SrvActnLinks.h"
#include "server/SrvScript.h"
#include "sync/BNodeDifference.h"
#include "sync/TreeMerge.h"

namespace kelvo {

namespace {

constexpr const char* kRestoreError = "RestoreFromArchive error";

bool IsBookmarkNode(const IBNodePtr& node) { return node && dynamic_cast<const IBookmark*>(node.get()) != nullptr; }

bool IsPrivateFolder(const IBNode& node) {
  return dynamic_cast<const IFolder*>(&node) != nullptr && IsPrivateNode(&node, kPrivateKindPrivate);
}

// The bookmarks of one archived folder against those of the local folder
// the overlay matched it with. The overlay keeps a matched local bookmark as
// it is; a restore must give it the archive's name and URL again, and must
// bring back every archived bookmark even when two share a URL.
class TRestoreAligner {
 public:
  TRestoreAligner(std::string favorites) : favorites_(std::move(favorites)) {}

  void Align(const IFolder& source, IFolder& local) {
    std::vector<IBNodePtr> locals;
    for (int i = 0; i < local.Count(); ++i) {
      IBNodePtr child = local.Get(i);
      if (IsBookmarkNode(child)) locals.push_back(child);
    }
    std::vector<bool> claimed(locals.size(), false);
    for (int i = 0; i < source.Count(); ++i) {
      IBNodePtr child = source.Get(i);
      if (!child) continue;
      if (auto* sourceBookmark = dynamic_cast<const IBookmark*>(child.get())) {
        AlignBookmark(*sourceBookmark, local, locals, claimed);
      } else if (auto* sourceFolder = dynamic_cast<const IFolder*>(child.get())) {
        if (IFolderPtr localFolder = MatchingFolder(*sourceFolder, local)) Align(*sourceFolder, *localFolder);
      }
    }
    // What the overlay touched but no archived bookmark claims (it matched a
    // URL the archive also holds under another name) goes with the others.
    for (std::size_t i = 0; i < locals.size(); ++i) {
      if (claimed[i] || locals[i]->GetTag() == 0 || locals[i]->GetTag() >= kMarkLimit) continue;
      locals[i]->SetTag(0);
      // Not written either: its file may carry a name the restore now owns.
      locals[i]->SetFlags(locals[i]->GetFlags() & ~(kEngineFlags | nfModified));
    }
  }

  // Files of renamed bookmarks, to be deleted once the new ones are written.
  const std::vector<std::string>& OldPaths() const { return oldPaths_; }

 private:
  static IFolderPtr MatchingFolder(const IFolder& source, IFolder& local) {
    const std::string name = source.GetNormalizedName();
    for (int i = 0; i < local.Count(); ++i) {
      auto folder = std::dynamic_pointer_cast<IFolder>(local.Get(i));
      if (!folder || IsBookmarkNode(folder)) continue;
      if (IsPrivateFolder(*folder)) continue;
      if (folder->GetNormalizedName() == name) return folder;
    }
    return nullptr;
  }

  void AlignBookmark(const IBookmark& source, IFolder& local, std::vector<IBNodePtr>& locals,
                     std::vector<bool>& claimed) {
    // The name the bookmark has as a file of the Favorites folder.
    TFileBookmark wanted(source);
    const std::string url = source.GetURL();
    auto find = [&](auto matches) -> int {
      for (std::size_t i = 0; i < locals.size(); ++i) {
        if (!claimed[i] && matches(*std::dynamic_pointer_cast<IBookmark>(locals[i]))) return static_cast<int>(i);
      }
      return -1;
    };
    int index = find([&](const IBookmark& b) { return b.GetName() == wanted.GetName() && b.GetURL() == url; });
    if (index < 0) index = find([&](const IBookmark& b) { return b.GetURL() == url; });
    if (index < 0) {
      index = find([&](const IBookmark& b) { return b.GetNormalizedName() == wanted.GetNormalizedName(); });
    }
    if (index < 0) {
      auto copy = std::make_shared<TFileBookmark>(source);
      copy->SetFlags(copy->GetFlags() | kFlagCreated);
      copy->SetTag(kMarkCreated);
      local.Add(copy);
      return;
    }
    claimed[static_cast<std::size_t>(index)] = true;
    auto node = locals[static_cast<std::size_t>(index)];
    auto bookmark = std::dynamic_pointer_cast<IBookmark>(node);
    if (node->GetName() != wanted.GetName()) {
      oldPaths_.push_back(NodeFilePath(favorites_, *node));
      node->SetName(wanted.GetName());
    }
    if (bookmark->GetURL() != url) bookmark->SetURL(url);
    if (node->GetTag() == 0) node->SetTag(kMarkTouched);
    node->SetFlags(node->GetFlags() | kFlagTouched);
  }

  std::string favorites_;
  std::vector<std::string> oldPaths_;
};

// Disk paths of the nodes the restore keeps (touched or created), so that
// removing an untouched node can never delete a file the restore has just
// written under the same name.
void CollectKeptPaths(const std::string& favorites, const IFolder& folder, std::set<std::string>& paths) {
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr child = folder.Get(i);
    if (!child) continue;
    const bool kept = child->GetTag() != 0 || IsPrivateFolder(*child);
    if (!kept) continue;
    std::string path = NodeFilePath(favorites, *child);
    if (!path.empty()) paths.insert(StripTrailingDots(path));
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child); sub && !IsBookmarkNode(child)) {
      CollectKeptPaths(favorites, *sub, paths);
    }
  }
}

// Every bookmark the restore keeps is on disk with its URL; the writer
// gives up on a folder after a file that cannot be written without telling
// its caller, so this is where a half-written restore is noticed.
void CheckWritten(const std::string& favorites, const IFolder& folder, std::vector<std::string>& missing) {
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr child = folder.Get(i);
    if (!child || child->GetTag() == 0) continue;
    const std::string path = StripTrailingDots(NodeFilePath(favorites, *child));
    std::error_code ec;
    if (IsBookmarkNode(child)) {
      if (!std::filesystem::is_regular_file(path, ec)) missing.push_back(path);
    } else if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      if (IsPrivateFolder(*child)) continue;
      if (!std::filesystem::is_directory(path, ec)) {
        missing.push_back(path);
      } else {
        CheckWritten(favorites, *sub, missing);
      }
    }
  }
}

void SendAllLinks(TBookmarksCtrl& ctrl) {
  TFileTreePtr tree = ctrl.Tree(false);
  if (!tree) return;
  TSrvScript script;
  script.AddAction(std::make_shared<TSrvActnContext>(nullptr, false));
  script.AddAction(std::make_shared<TSrvActnSaveAllLinks>(nullptr, smReplace, IFolderPtr(tree)));
  script.AddAction(std::make_shared<TSrvActnSaveAllXLinks>(nullptr, smReplace));
  ctrl.SendScript(script);
}

// The tree again from what is on disk, also after a failure, so that the
// controller never holds nodes that are not there.
void ReadAgain(TBookmarksCtrl& ctrl) {
  try {
    ctrl.ReadSynchronously();
  } catch (const std::exception& e) {
    TLog::LogException(e, "TBookmarksCtrl.RestoreFromArchive");
  }
}

}  // namespace

TArchiveOutcome ArchiveFavorites(TBookmarksCtrl& ctrl, const std::string& folder, bool forced) {
  return ArchiveTree(ctrl.Tree(forced), ctrl.FavoritesPath(), folder, forced);
}

void RestoreFromArchive(TBookmarksCtrl& ctrl, const std::string& fileName, const IFolderPtr& archivedTree) {
  TLog::Info("TBookmarksCtrl.RestoreFromArchive:" + fileName);
  if (!archivedTree) {
    RestoreFromInstallBackup(ctrl);
    return;
  }
  if (auto hashable = std::dynamic_pointer_cast<IHashableTree>(archivedTree)) hashable->InitHashes();
  const std::string favorites = ctrl.FavoritesPath();
  TFileTreePtr local = ctrl.Tree(true);
  if (!local) throw TArchiveException(kRestoreError);
  std::vector<std::string> failures;
  try {
    ctrl.WithFolderWrite([&](TFileTree& tree) {
      TTreeMerge merge(local, favorites, &ctrl.Metas());
      ClearMarks(tree);
      merge.OverlayTree(*archivedTree, tree, true);
      TRestoreAligner aligner(favorites);
      aligner.Align(*archivedTree, tree);

      if (!tree.SaveToDisk(favorites, TBookmarksCtrl::kWriteAll)) failures.push_back("Could not save tree:" + favorites);
      CheckWritten(favorites, tree, failures);
      if (!failures.empty()) return;  // nothing is deleted before everything is written

      std::set<std::string> kept;
      CollectKeptPaths(favorites, tree, kept);
      merge.SetDeleteFunction([&kept](const std::string& path, bool isFolder) {
        if (kept.count(StripTrailingDots(path)) != 0) return;
        TTreeMerge::DeleteFavoritesEntry(path, isFolder);
      });
      if (!merge.RemoveUntouchedNodes(tree)) failures.push_back("Could not delete every untouched node");
      for (const auto& oldPath : aligner.OldPaths()) {
        if (kept.count(StripTrailingDots(oldPath)) != 0) continue;
        try {
          std::error_code ec;
          if (std::filesystem::exists(oldPath, ec)) TFileTools::DeleteFile(oldPath);
        } catch (const TKFileException& e) {
          TLog::LogException(e, "TBookmarksCtrl.RestoreFromArchive");
          failures.push_back("Could not delete:" + oldPath);
        }
      }
    });
  } catch (const TKFileException& e) {
    TLog::LogException(e, "TBookmarksCtrl.RestoreFromArchive");
    ReadAgain(ctrl);
    throw TArchiveException(kRestoreError, e);
  } catch (...) {
    // Whatever stopped the restore, the tree must not keep nodes the disk
    // does not have.
    ReadAgain(ctrl);
    throw;
  }
  ReadAgain(ctrl);
  if (!failures.empty()) {
    for (const auto& failure : failures) TLog::Error("TBookmarksCtrl.RestoreFromArchive:" + failure);
    throw TArchiveException(kRestoreError);
  }
  SendAllLinks(ctrl);
}

void RestoreFromArchiveFile(TBookmarksCtrl& ctrl, const std::string& fileName) {
  std::error_code ec;
  if (!TFileTools::IsXbel(fileName) || !std::filesystem::is_regular_file(fileName, ec)) {
    TLog::Error("TBookmarksCtrl.RestoreFromArchive:not an XBEL backup:" + fileName);
    throw TArchiveException(kRestoreError);
  }
  auto tree = std::make_shared<TXBELTree>(fileName, std::filesystem::path(fileName).stem().string());
  RestoreFromArchive(ctrl, fileName, tree);
}

void RestoreFromInstallBackup(TBookmarksCtrl& ctrl) {
  const std::string favorites = ctrl.FavoritesPath();
  const std::string backup = TConfig::ArchiveInitPath();
  std::error_code ec;
  // Emptying the Favorites is only safe when there is a whole copy to put back.
  if (!TConfig::GetSafetyBackupDone() || backup.empty() || !std::filesystem::is_directory(backup, ec)) {
    TLog::Error("TBookmarksCtrl.RestoreFromArchive:no install backup in " + backup);
    throw TArchiveException(kRestoreError);
  }
  std::vector<std::string> failures;
  ctrl.WithFolderWrite([&](TFileTree&) {
    failures = TFileTools::DeleteMatchingFiles(favorites, "*.*", true);
    if (!TFileTools::CopyFolder(backup, favorites, true)) failures.push_back("Could not copy " + backup);
  });
  ReadAgain(ctrl);
  if (!failures.empty()) {
    for (const auto& failure : failures) TLog::Error("TBookmarksCtrl.RestoreFromArchive:" + failure);
    throw TArchiveException(kRestoreError);
  }
  SendAllLinks(ctrl);
}

}  // namespace kelvo
