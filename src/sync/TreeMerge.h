#pragma once
// Changing the local Favorites tree from another tree: applying the
// differences of a merge, copying the server's identifiers onto paired
// nodes, overlaying a whole tree (import, archive restore), and removing the
// local nodes an overlay did not touch, from the Favorites folder on disk
// and from the tree.
//
// Owns nothing: it works on the controller's tree, Favorites directory and
// (optional) metadata store, which must outlive it. Main thread only, with
// the change watcher stopped and inside an update bracket of the local tree
// (the Merge/Import/Restore helpers open their own bracket), so that neither
// the watcher nor the tree's indexes see half of an operation.
//
// Private folders (the user's "not synchronized" folders) are never changed,
// entered or removed by anything here.
//
// How the callers use it:
// - merge (controller): MergeFrom (serverTree), then write the tree with
//   mask 3 (kFlagCreated | nfModified): every node the merge created, moved,
//   renamed or changed carries one of those bits.
// - import (controller): ClearMarks (tree); OverlayTree (server, tree,
//   false); mark what must be uploaded; RemoveUntouchedNodes (tree); write.
// - restore (archive): RestoreFrom (archivedTree), then write with all bits.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bookmarks/BNode.h"
#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Folder.h"
#include "sync/BNodeDifference.h"

namespace kelvo {

class TSiblingNames;

class TTreeMerge {
 public:
  // Deletes one file (isFolder false) or one folder with its content from
  // the Favorites folder; a path that does not exist counts as deleted.
  // Raises TKFileException when it cannot delete.
  using TDeleteFunction = std::function<void(const std::string& path, bool isFolder)>;

  // localTree is the Favorites tree (its nodes are the Favorites store's),
  // favoritesDirectory the folder it was read from; metas may be null.
  TTreeMerge(IFolderPtr localTree, std::string favoritesDirectory, TBNodeMetas* metas = nullptr);
  ~TTreeMerge();
  TTreeMerge(const TTreeMerge&) = delete;
  TTreeMerge& operator=(const TTreeMerge&) = delete;

  // Replaces the deletion used by RemoveUntouchedNodes (tests); an empty
  // function restores the default (TFileTools).
  void SetDeleteFunction(TDeleteFunction deleteFunction);

  // ---- Merge mode

  // One difference after the other, in list order:
  // - DiffMoved: the local node goes to the local folder at the server
  //   node's location (created where missing), its file or directory moved
  //   along on disk; its metadata records follow. A failure is logged
  //   ("TBookmarksCtrl.Merge_MoveC") and the next difference applied.
  // - DiffCaptionChanged: the local node takes the server's name (records
  //   renamed); DiffUrlChanged: the local bookmark takes the server's URL.
  // - DiffAdded: a local copy of the server node (with its content) is added
  //   at the server node's location, marked created. Where that folder
  //   already holds a folder of the same directory name, the copy's content
  //   joins it instead (nothing already there is duplicated).
  // - DiffDeleted: nothing; a merge never removes local nodes.
  // A name already used by a sibling on disk gets " (2)", " (3)" ... so no
  // two nodes ever share a file. Differences on private nodes are skipped.
  // Failures of the other kinds reach the caller. The nodes a difference
  // matched, and each copy with its source, end up paired, so that
  // CopyServerData gives them the server's ids too.
  //
  // Each difference carries counted references to its nodes; the server
  // nodes' parents must still be alive (keep the server tree until done).
  void ApplyDifferences(const TBNodeDifferenceList& list);

  // For every node below localFolder paired with a server node: the
  // server's id, URL, name (when the comparison forms differ) and feed
  // address (when it has one) for a bookmark; the id and private flag for a
  // folder, whose pair is then entered.
  void CopyServerData(IFolder& localFolder);

  // Pairs, computes, logs ("Differences:" + text), applies and copies the
  // server data inside an update bracket of the local tree; afterwards the
  // local tree holds no pointers into serverTree (paired nodes keep the mark
  // kMarkTouched). Answers the differences.
  TBNodeDifferenceList MergeFrom(IFolder& serverTree);

  // ---- Import and restore

  // Overlays source onto target (a folder of the local tree): each source
  // folder is found by its path key anywhere in the local tree and marked
  // touched (unless withoutServerData its identifiers are copied) and
  // overlaid in turn, or copied in marked created; its metadata record
  // (private flag, id, shared flag) is applied to the local folder. Each
  // source bookmark is found by URL in the same folder path, else by its
  // path key, and marked touched (unless withoutServerData its server data
  // copied), or copied in marked created; its id is then taken from its
  // metadata record (without server data, -1 when it has none).
  void OverlayTree(const IFolder& source, IFolder& target, bool withoutServerData);

  // Deletes from disk, then removes from the tree, every node below
  // localFolder whose pairing field is empty (not entering private folders
  // or the folders collected). A deletion that fails is logged as a warning
  // "Could not delete:" + path and tried once more ("Deleted Dir after
  // retry" / "Deleted file after retry" when that works). The node leaves
  // the tree either way (the next read brings back what is still on disk).
  // False when any deletion attempt failed.
  bool RemoveUntouchedNodes(IFolder& localFolder);

  // Restore of an archived tree, inside an update bracket: ClearMarks,
  // OverlayTree (archived, local tree, without server data),
  // RemoveUntouchedNodes. Answers RemoveUntouchedNodes' result.
  bool RestoreFrom(const IFolder& archivedTree);

  // ---- Shared

  // The local folder at the source node's location (its containing
  // folders' names from the root down, compared in their comparison form;
  // a paired server folder leads to its partner). Missing folders are
  // created on disk and in the tree, outermost first, marked created.
  // nullptr when the location lies in a private folder.
  IFolderPtr LocalFolderForNode(const IBNode& sourceNode);

  // The default deletion (see TDeleteFunction).
  static void DeleteFavoritesEntry(const std::string& path, bool isFolder);

 private:
  void ApplyOne(const IBNodeDifference& difference);
  void ApplyMoved(const IBNodePtr& local, const IBNodePtr& server);
  void ApplyCaptionChanged(const IBNodePtr& local, const IBNodePtr& server);
  void ApplyUrlChanged(const IBNodePtr& local, const IBNodePtr& server);
  void ApplyAdded(const IBNodePtr& server);
  // Adds a created copy of source to folder, or joins it with a folder of
  // the same directory name there.
  void AddCopy(IFolder& folder, IBNode& source);
  void CopyBookmarkData(IBNode& local, const IBNode& server);
  void CopyFolderData(IBNode& local, const IBNode& server);
  void OverlayFolder(const IFolder& source, IFolder& target, bool withoutServerData);
  void IndexLocalTree();
  void IndexSubtree(const IBNodePtr& node);
  bool DeleteWithRetry(const std::string& path, bool isFolder);
  // The full path of a node of the local tree on disk ("" outside it).
  std::string DiskPath(const IBNode& node) const;
  // Moves a node's file or directory on disk from oldPath to where the node
  // is now, when the old one exists and the new one does not; logged, never
  // raised (the write of the tree puts the node there anyway).
  void MoveOnDisk(const std::string& oldPath, const IBNode& node);

  IFolderPtr tree_;
  std::string directory_;
  TBNodeMetas* metas_;
  TDeleteFunction delete_;
  // Overlay's lookups by path key and by URL key, kept current while it
  // adds copies (the tree's own indexes wait for the end of the bracket).
  std::unordered_map<std::string, IBNodePtr> pathIndex_;
  std::unordered_map<std::string, TNodeList> urlIndex_;
  // Disk names in use per folder, for the edits of one operation.
  std::unique_ptr<TSiblingNames> names_;
};

// Marks a node and everything below it changed (nfModified), so that the
// Favorites writer rewrites it: used for moved and renamed folders, whose
// files now live in another directory.
void MarkSubtreeModified(IBNode& node);

}  // namespace kelvo
