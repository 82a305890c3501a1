#pragma once
// The tree root shared by the Favorites, server and XBEL trees: a folder
// that answers lookups by key and URL and brackets edits so that keys,
// counts and indexes are rebuilt once per batch, telling its listeners when
// a batch begins and ends.
//
// Create it with std::make_shared. One thread uses a tree at a time: the
// reader thread that builds it, then the agent's main thread. Indexes hold
// counted references to the nodes they list and are released with the tree.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bookmarks/Folder.h"
#include "bookmarks/HashableTree.h"
#include "bookmarks/TreeChangeNotifier.h"

namespace kelvo {

class TDefaultSimpleTree : public TFolder,
                           public virtual ISimpleTree,
                           public IHashableTree,
                           public ITreeChangeNotifier {
 public:
  explicit TDefaultSimpleTree(const std::string& name);
  ~TDefaultSimpleTree() override;

  // ISimpleTree: a plain tree collects nothing.
  void CollectStats(TBookmarkStats& stats) const override;

  // IHashableTree. The node form InitHashes (parentPath) stays the folder's.
  using TFolder::InitHashes;
  void InitHashes() override;
  IFolderPtr FindFolder(const std::string& key) const override;
  TNodeList FindBookmarksByURL(const std::string& url) const override;
  TNodeList FindBookmarksByCanonicalURL(const std::string& canonical) const override;
  std::int32_t CountByURL(const std::string& url) const override;
  std::int32_t CountByCanonicalURL(const std::string& canonical) const override;
  IBNodePtr FindNode(const std::string& key) const override;

  // ITreeChangeNotifier
  void AddListener(const TTreeChangeMethod& method) override;
  void RemoveListener(const TTreeChangeMethod& method) override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void NotifyTerminated() override;

  // Nesting depth of the current update (0 outside any).
  std::int32_t UpdateDepth() const { return updateDepth_; }

 protected:
  // Whether the rebuild at the end of an update marks duplicate bookmarks;
  // the Favorites tree answers true.
  virtual bool MarksDuplicates() const { return false; }

 private:
  using TUniqueIndex = std::unordered_map<std::string, IBNodePtr>;
  using TRepeatIndex = std::unordered_map<std::string, TNodeList>;

  void Rebuild();
  void Notify(TChangeKind kind, TChangeScope scope);
  // Initial capacity of an index: the matching cached count of the tree,
  // or the size of the index it replaces when that is larger (the counts
  // are not known during a rebuild, and computing them there would be
  // thrown away).
  std::size_t CapacityHint(std::int32_t (IFolder::*count)() const, std::size_t previous) const;

  void EnsureFolderIndex() const;
  void EnsureNodeIndex() const;
  void EnsureURLIndex() const;
  void EnsureCanonicalIndex() const;

  // Built on first use, dropped by every rebuild.
  mutable std::unique_ptr<TUniqueIndex> folderIndex_;
  mutable std::unique_ptr<TUniqueIndex> nodeIndex_;
  mutable std::unique_ptr<TRepeatIndex> urlIndex_;
  mutable std::unique_ptr<TRepeatIndex> canonicalIndex_;
  // Sizes of the indexes dropped by the last rebuild.
  std::size_t lastFolderIndexSize_ = 0;
  std::size_t lastNodeIndexSize_ = 0;
  std::size_t lastURLIndexSize_ = 0;
  std::size_t lastCanonicalIndexSize_ = 0;
  std::vector<TTreeChangeMethod> listeners_;
  bool terminationPending_ = false;
  std::int32_t updateDepth_ = 0;
};

}  // namespace kelvo
