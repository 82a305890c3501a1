#pragma once
// Lookups of a tree root by identity key and by URL. Code asks a node
// whether it is a hashable tree with dynamic_pointer_cast.
//
// The answers come from indexes built when the keys are computed; between
// an edit and the EndUpdate that closes its bracket they still show the old
// keys. A lookup whose index cannot be built (a node whose key was never
// computed) raises that node's exception.

#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/BNode.h"
#include "bookmarks/Folder.h"

namespace kelvo {

class IHashableTree {
 public:
  virtual ~IHashableTree() = default;

  // Computes the keys of every node below (children get an empty parent
  // path), the root's own kind-3 and kind-5 keys, and builds the node, URL
  // and folder indexes that do not exist yet.
  virtual void InitHashes() = 0;
  // The folder with that kind-5 key (the first in walk order), or nullptr.
  virtual IFolderPtr FindFolder(const std::string& key) const = 0;
  // Every bookmark whose kind-2 key is url cut to 254 characters, in walk
  // order; empty when there is none.
  virtual TNodeList FindBookmarksByURL(const std::string& url) const = 0;
  // Every bookmark whose canonical URL is the argument cut to 254
  // characters; empty when there is none.
  virtual TNodeList FindBookmarksByCanonicalURL(const std::string& canonical) const = 0;
  virtual std::int32_t CountByURL(const std::string& url) const = 0;
  // 0 for an empty argument (unknown schemes all canonicalize to "").
  virtual std::int32_t CountByCanonicalURL(const std::string& canonical) const = 0;
  // The node (folder or bookmark) with that kind-5 key, or nullptr.
  virtual IBNodePtr FindNode(const std::string& key) const = 0;
};
using IHashableTreePtr = std::shared_ptr<IHashableTree>;

}  // namespace kelvo
