#include "TreeListing.h"

#include <ostream>

#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "bookmarks/Hashing.h"

namespace kelvo::ctl {

namespace {

void PrintNode(const IBNode& node, int depth, std::ostream& out) {
  out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << ListingField(node.GetName());
  auto* folder = dynamic_cast<const IFolder*>(&node);
  std::string url;
  if (folder) {
    out << '/';
  } else if (auto* bookmark = dynamic_cast<const IBookmark*>(&node)) {
    url = bookmark->GetURL();
  }
  out << '\t' << ListingField(url) << '\t' << node.GetHash(hkPath) << '\n';
  if (!folder) return;
  for (int i = 0; i < folder->Count(); ++i) {
    if (IBNodePtr child = folder->Get(i)) PrintNode(*child, depth + 1, out);
  }
}

}  // namespace

std::string ListingField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

void PrintTreeListing(TDefaultSimpleTree& tree, std::ostream& out) {
  tree.InitHashes();
  PrintNode(tree, 0, out);
  out << "sync-id-text:" << tree.GetHash(hkContentSum) << '\n';
}

}  // namespace kelvo::ctl
