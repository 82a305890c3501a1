#pragma once
// XBEL (XML Bookmark Exchange Language), the format of the Favorites
// archives: writing any bookmark tree, and reading a file back into a tree
// for restoring. Only a subset is written and understood: "xbel" with
// "version", "folder" (folded, title, content), "bookmark" (href, title);
// everything else in a file read (separators, aliases, descriptions,
// metadata) is ignored.
//
// A tree read here is built once, given InitHashes by its user, compared
// with or copied into another tree and dropped; one thread at a time.

#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "foundation/KException.h"
#include "foundation/XmlTools.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TXBELException, TKException);
KELVO_DECLARE_EXCEPTION(TXBELBookmarkException, TKException);

// A new document: the declaration and the root "xbel" with version "1.0".
TXmlDocument CreateXBELDocument();
// Appends the XBEL of a node under the element: nodes that write
// themselves do so, other nodes are skipped. The element written, or none
// (tree roots, skipped nodes).
TXmlElement WriteXBELNode(const IBNodePtr& node, const TXmlElement& parentElement, bool flag);
// The whole tree as a document: the root's children directly under "xbel".
TXmlDocument TreeToXBEL(const IBNodePtr& root);
// TreeToXBEL written to the file atomically (missing folders created).
// Raises TKFileException when the file cannot be written.
void SaveTreeAsXBEL(const IBNodePtr& root, const std::string& fileName);

// A bookmark read from a "bookmark" element: URL from "href", name from the
// first "title" child, and the feed address when "feed" is "true".
class TXBELBookmark : public TBookmark {
 public:
  // Raises TXBELBookmarkException "Invalid dom element" for none.
  explicit TXBELBookmark(const TXmlElement& element);

  std::uint8_t GetNodeType() const override { return kNodeTypeXBELBookmark; }

 private:
  struct TFields {
    std::string name;
    std::string url;
    bool feed = false;
  };
  explicit TXBELBookmark(const TFields& fields);
  static TFields Read(const TXmlElement& element);
};

// A folder read from a "folder" element: the last "title" child names it,
// "bookmark" and "folder" children become its children in order. A child
// that cannot be read is logged "TXBELFolder.Create:" + message and ends
// the reading of this folder (what was read stays).
class TXBELFolder : public TFolder {
 public:
  // Raises TXBELException "Invalid dom element" for none.
  explicit TXBELFolder(const TXmlElement& element);
};

// A tree read from an XBEL document; its display name is the caller's.
class TXBELTree : public TDefaultSimpleTree {
 public:
  // A missing file gives an empty tree; one that does not parse raises
  // TXBELException "Invalid xml file:" + fileName (chained to the parser's
  // reason).
  TXBELTree(const std::string& fileName, const std::string& treeName);
  // No document, or a root that is not "xbel", gives an empty tree.
  TXBELTree(const TXmlDocument& document, const std::string& treeName);

 private:
  void Build(const TXmlDocument& document);
};

}  // namespace kelvo
