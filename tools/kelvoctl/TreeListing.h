#pragma once
// The listing of a bookmark tree that "kelvoctl tree" and "kelvoctl
// show-xbel" print, so that a Favorites folder and an XBEL file can be
// compared line by line.
//
// One line per node, the tree root first at depth 0, each node below it
// indented by two spaces per level, in list order:
//   indent + name + "\t" + URL + "\t" + kind-5 key
// A folder's name is followed by "/" and its URL field is empty. Tab, line
// breaks and "\" inside names and URLs are written as "\t", "\n", "\r" and
// "\\", so every node stays on one line. The last line is "sync-id-text:"
// + the root's kind-7 content checksum. Every line ends with "\n".

#include <iosfwd>
#include <string>

#include "bookmarks/DefaultSimpleTree.h"

namespace kelvo::ctl {

// Computes the tree's keys (InitHashes) and prints its listing.
void PrintTreeListing(TDefaultSimpleTree& tree, std::ostream& out);

// A name or URL as it appears in a listing field.
std::string ListingField(const std::string& text);

}  // namespace kelvo::ctl
