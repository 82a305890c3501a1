#pragma once
// Folder nodes: an ordered list of child nodes. A folder owns its children
// (counted references) and sets itself as their parent when they are added.
// Single list operations are locked; walks over a tree are not, and a tree
// is used by one thread at a time.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "bookmarks/BNode.h"
#include "bookmarks/FolderEx.h"

namespace kelvo {

class IFolder : public virtual IBNode {
 public:
  virtual int Count() const = 0;
  // The i-th child; nullptr when i is out of range.
  virtual IBNodePtr Get(int index) const = 0;
  // Drops the i-th child from the list, leaving its parent pointer as it is.
  virtual void Delete(int index) = 0;
  // Drops node from the list and clears its parent; the former index or -1.
  virtual int Remove(const IBNodePtr& node) = 0;
  // Appends node and becomes its parent; the new index (-1 when refused).
  // Does not detach node from a previous folder: callers Remove it there.
  virtual int Add(const IBNodePtr& node) = 0;
  // Cached counts of the whole subtree, computed on first demand.
  virtual std::int32_t BookmarkCount() const = 0;
  virtual std::int32_t ValidBookmarkCount() const = 0;
  virtual std::int32_t FolderCount() const = 0;
  virtual std::int32_t ValidFolderCount() const = 0;
  virtual std::int32_t NodeCount() const = 0;
  // Folders first, then case-insensitive by name; recursively.
  virtual void Sort() = 0;
  // Forgets the cached counts here and in every descendant folder.
  virtual void ResetCounts() = 0;
  virtual void IndexFolders(INodeMap& map) const = 0;
  virtual void IndexBookmarksByURL(INodeMap& map) const = 0;
  virtual void IndexBookmarksByCanonicalURL(INodeMap& map) const = 0;
  virtual void IndexNodes(std::uint8_t kind, INodeMap& map) const = 0;
};
using IFolderPtr = std::shared_ptr<IFolder>;

// A tree root. Supporting this interface is how code recognizes a root.
class ISimpleTree : public virtual IFolder {
 public:
  virtual void CollectStats(TBookmarkStats& stats) const = 0;
};
using ISimpleTreePtr = std::shared_ptr<ISimpleTree>;

// Every folder writes itself as XBEL (the writer lives with the XBEL
// store); a tree root writes only its children unless the flag is set.
class TFolder : public virtual IFolder, public virtual IXBELWritable {
 public:
  explicit TFolder(const std::string& name);
  ~TFolder() override;
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;

  // IBNode
  std::uint8_t GetNodeType() const override { return kNodeTypeFolder; }
  std::string GetName() const override { return name_; }
  std::string GetNormalizedName() const override;
  void SetName(const std::string& name) override;
  IBNode* GetParent() const override;
  void SetParent(IBNode* parent) override;
  using IBNode::IsValid;
  bool IsValid(std::uint8_t& reason) const override;
  std::uint32_t GetFlags() const override { return flags_; }
  void SetFlags(std::uint32_t flags) override { flags_ = flags; }
  void SetFlagsDeep(std::uint32_t flags) override;
  TNodeTag GetTag() const override { return tag_; }
  void SetTag(TNodeTag tag) override { tag_ = tag; }
  void SetTagDeep(TNodeTag tag) override;
  void InitHashes(const std::string& parentPath) override;
  std::string GetHash(std::uint8_t kind) const override;
  void DumpHashes(std::uint8_t kind, TStringList& list) const override;
  std::weak_ptr<const void> ParentToken() const override { return token_; }

  // IFolder
  int Count() const override;
  IBNodePtr Get(int index) const override;
  void Delete(int index) override;
  int Remove(const IBNodePtr& node) override;
  int Add(const IBNodePtr& node) override;
  std::int32_t BookmarkCount() const override;
  std::int32_t ValidBookmarkCount() const override;
  std::int32_t FolderCount() const override;
  std::int32_t ValidFolderCount() const override;
  std::int32_t NodeCount() const override;
  void Sort() override;
  void ResetCounts() override;
  void IndexFolders(INodeMap& map) const override;
  void IndexBookmarksByURL(INodeMap& map) const override;
  void IndexBookmarksByCanonicalURL(INodeMap& map) const override;
  void IndexNodes(std::uint8_t kind, INodeMap& map) const override;

  // IXBELWritable: a "folder" element (folded, title, then each child that
  // writes itself, in list order). A tree root (ISimpleTree) writes its
  // children straight under parentElement and answers no element; with the
  // flag set it writes itself as a folder like any other.
  void WriteXBEL(_xmlNode* parentElement, bool flag, _xmlNode*& element) override;

  // A snapshot of the child list (taken under the list lock).
  TNodeList Children() const;

 protected:
  // The id text I of the identity keys: empty here; folders with a server
  // id answer it.
  virtual std::string HashIdText() const { return std::string(); }
  void MarkModified() { flags_ |= nfModified; }

  // Pieces of InitHashes for the tree roots: a root gives its children an
  // empty parent path and keeps only kinds 3 and 5 of its own.
  // Computes keys 1, 3, 4 and 5 (all other slots emptied); returns N.
  std::string ComputeOwnHashes(const std::string& parentPath);
  // Computes keys 3 and 5 with an empty parent path, all others emptied.
  void ComputeRootHashes();
  // InitHashes (childPath) on every child, in list order.
  void InitChildHashes(const std::string& childPath);

  // Folder checksum of kind 6 (withOwnKey) or 7 over the valid children.
  std::string ComputeChecksum(bool withOwnKey) const;

  std::string name_;
  mutable std::string normalizedName_;  // empty = not computed
  // Cached counts; nodeCount_ == -1 means not computed.
  mutable std::int32_t nodeCount_ = -1;
  mutable std::int32_t bookmarkCount_ = 0;
  mutable std::int32_t validBookmarkCount_ = 0;
  mutable std::int32_t folderCount_ = 0;
  mutable std::int32_t validFolderCount_ = 0;
  std::uint32_t flags_ = 0;
  TNodeTag tag_ = 0;
  mutable std::array<std::string, kHashKindCount> hashes_;  // 6 and 7 on demand
  TParentLink parent_;

 private:
  void EnsureCounts() const;
  bool IsSelfOrAncestor(const IBNode* node) const;

  mutable std::mutex lock_;  // guards children_ for single operations
  TNodeList children_;
  std::shared_ptr<const char> token_;  // liveness seen by the children
};

// Folder with a server id, the user's private flag and the Links mark.
class TDefaultKFolder : public TFolder, public virtual IFolderEx {
 public:
  TDefaultKFolder(const std::string& name, bool isLinksFolder = false, std::int32_t id = -1);

  using TFolder::IsValid;
  bool IsValid(std::uint8_t& reason) const override;

  // IFolderEx
  bool GetPublic() const override { return public_; }
  void SetPublic(bool isPublic) override;
  std::int32_t GetPublicCount() const override { return publicCount_; }
  void SetPublicCount(std::int32_t count) override;
  bool IsPrivate() const override;
  void SetPrivate(bool isPrivate) override;
  bool IsPrivateRoot() const override;
  std::int32_t GetId() const override { return id_; }
  void SetId(std::int32_t id) override;
  void AddStats(TBookmarkStats& stats) const override;
  bool PruneToPrivate() override;

  bool GetIsLinksFolder() const { return isLinksFolder_; }
  void SetIsLinksFolder(bool isLinksFolder) { isLinksFolder_ = isLinksFolder; }

 protected:
  std::string HashIdText() const override;

  std::int32_t id_ = -1;
  bool private_ = false;
  bool isLinksFolder_ = false;
  bool public_ = false;
  std::int32_t publicCount_ = 0;
};

}  // namespace kelvo
