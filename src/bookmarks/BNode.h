#pragma once
// The base interface of every bookmark-tree node, the flag bits the model
// and the engine share, and the interfaces the stores use to serialize nodes.
//
// Nodes are always held through std::shared_ptr (create them with
// std::make_shared). A folder holds counted references to its children; a
// child keeps only an uncounted back-pointer to its parent, which reads as
// none once the parent is gone, so it can never dangle.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bookmarks/Hashing.h"

struct _xmlNode;  // libxml2 element, for the XBEL writers

namespace kelvo {

// Flag bits. nfModified is the model's own; 1, 4 and 8 belong to the
// synchronization engine; the whole word 64 marks a bookmark that duplicate
// removal is about to drop.
inline constexpr std::uint32_t nfModified = 2;
inline constexpr std::uint32_t kFlagsUnduplicate = 64;

// Results of GetNodeType. Code 2 is not used.
inline constexpr std::uint8_t kNodeTypeBookmark = 0;
inline constexpr std::uint8_t kNodeTypeServerBookmark = 1;
inline constexpr std::uint8_t kNodeTypeXBELBookmark = 3;
inline constexpr std::uint8_t kNodeTypeFolder = 4;

// The engine's pairing field: 0, a small mark value, or the address of the
// paired node of another tree (uncounted), hence pointer-sized.
using TNodeTag = std::uintptr_t;

using TStringList = std::vector<std::string>;

class IBNode;
using IBNodePtr = std::shared_ptr<IBNode>;
using TNodeList = std::vector<IBNodePtr>;

// Every node. Getters that fill a cache (normalized name, counts, folder
// checksums) are const and not locked: one thread uses a tree at a time.
class IBNode : public std::enable_shared_from_this<IBNode> {
 public:
  virtual ~IBNode() = default;

  virtual std::uint8_t GetNodeType() const = 0;
  virtual std::string GetName() const = 0;
  // Comparison form of the name (bookmark or folder mode), cached.
  virtual std::string GetNormalizedName() const = 0;
  // Case-sensitive change test; a change clears the cache and sets nfModified.
  virtual void SetName(const std::string& name) = 0;
  // The containing folder, or nullptr (also once that folder is destroyed).
  virtual IBNode* GetParent() const = 0;
  // Sets nfModified when a set parent changes; the first parenting does not.
  virtual void SetParent(IBNode* parent) = 0;
  virtual bool IsValid(std::uint8_t& reason) const = 0;
  bool IsValid() const {
    std::uint8_t reason = 0;
    return IsValid(reason);
  }
  virtual std::uint32_t GetFlags() const = 0;
  virtual void SetFlags(std::uint32_t flags) = 0;
  virtual void SetFlagsDeep(std::uint32_t flags) = 0;
  virtual TNodeTag GetTag() const = 0;
  virtual void SetTag(TNodeTag tag) = 0;
  virtual void SetTagDeep(TNodeTag tag) = 0;
  // Computes every identity key valid for the node kind (and, on a folder,
  // for the whole subtree). parentPath is the kind-5 path of the parent.
  virtual void InitHashes(const std::string& parentPath) = 0;
  // The key of one kind; empty for a kind the node does not have.
  // Raises TBookmarkException for a bookmark whose keys were never computed.
  virtual std::string GetHash(std::uint8_t kind) const = 0;
  virtual void DumpHashes(std::uint8_t kind, TStringList& list) const = 0;

  // Liveness token of a node that can hold children. A child keeps it weakly
  // beside its raw back-pointer, so the pointer reads as none once the
  // parent is destroyed, even when the child outlives it. Empty for nodes
  // that never hold children.
  virtual std::weak_ptr<const void> ParentToken() const { return {}; }

 protected:
  IBNode() = default;
  IBNode(const IBNode&) = default;
  IBNode& operator=(const IBNode&) = default;
};

// A child's uncounted back-pointer to its parent. It keeps the parent's
// liveness token weakly, so it reads as none once the parent is destroyed.
class TParentLink {
 public:
  IBNode* Get() const {
    if (node_ == nullptr || (tracked_ && token_.expired())) return nullptr;
    return node_;
  }
  void Set(IBNode* node) {
    node_ = node;
    token_ = node != nullptr ? node->ParentToken() : std::weak_ptr<const void>();
    tracked_ = !token_.expired();
  }

 private:
  IBNode* node_ = nullptr;
  std::weak_ptr<const void> token_;
  bool tracked_ = false;
};

// Target of the folder index walks (IFolder::IndexFolders ...). Whether an
// equal key replaces, is ignored or accumulates is the container's business.
class INodeMap {
 public:
  virtual ~INodeMap() = default;
  virtual void Put(const std::string& key, const IBNodePtr& node) = 0;
};

// Nodes that write themselves as XBEL (the XBEL store implements the
// writing). parentElement is the libxml2 element to append to; element
// receives the element written (nullptr for tree roots, which write only
// their children).
class IXBELWritable {
 public:
  virtual ~IXBELWritable() = default;
  virtual void WriteXBEL(_xmlNode* parentElement, bool flag, _xmlNode*& element) = 0;
};

// Nodes of the Favorites folder store. mask selects by Flags which
// bookmarks are written (nfModified for changed ones, all bits for all).
class IFileSavable {
 public:
  virtual ~IFileSavable() = default;
  virtual bool SaveToDisk(const std::string& directory, std::uint32_t mask) = 0;
};

// The process-wide hash trace list. While it exists, folder checksums are
// always recomputed and their trace lines are collected here; the sync-id
// digest creates it at the debug log level and saves it afterwards.
// Thread-safe.
class THashTrace {
 public:
  THashTrace() = delete;

  // Starts a new, empty list (an existing one is discarded).
  static void Create();
  static void Discard();
  static bool Exists();
  // Appends a line; does nothing when no list exists.
  static void Add(const std::string& line);
  // A copy of the lines (empty when no list exists).
  static TStringList Lines();
  // The lines, discarding the list.
  static TStringList Take();
};

}  // namespace kelvo
