#pragma once
// Stateless walks over bookmark trees shared by the stores, the metadata
// store and the synchronization engine: parent lookup, name paths, nodes
// collected by flags, node descriptions for the log, server ids, and the
// duplicate marking and removal run on the Favorites tree.
//
// They work on any nodes through the node interfaces. A tree is used by one
// thread at a time; none of these lock.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "bookmarks/BNode.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"

namespace kelvo {

// One name path per node (see NamePath).
using TNameTbls = std::vector<TStringList>;

// The node's parent as a folder, or nullptr (no parent, or a parent that is
// not a folder). A failure while reading the parent is logged as
// "GetParentFolder:" + its text and answers nullptr.
IFolderPtr GetParentFolder(const IBNode* node);
inline IFolderPtr GetParentFolder(const IBNodePtr& node) { return GetParentFolder(node.get()); }

// Normalized names from the top-level folder down: for a folder the folders
// down to itself, for a bookmark its containing folders followed by its own
// name. Empty for a tree root and for a bookmark directly under the root.
// The root's name never appears.
TStringList NamePath(const IBNode* node);
inline TStringList NamePath(const IBNodePtr& node) { return NamePath(node.get()); }

// NamePath of every node, in order, leaving out the empty ones.
TNameTbls NameTables(const TNodeList& nodes);

// The node's containing folders, the root first.
TNodeList Ancestors(const IBNode* node);
inline TNodeList Ancestors(const IBNodePtr& node) { return Ancestors(node.get()); }

// Depth-first (a folder before its content): every folder below folder that
// supports IFolderEx, is not private and whose Flags share a bit with mask.
// Private folders are entered too, since a public folder can sit below one
// only in trees that were never pruned.
void CollectFoldersWithFlags(const IFolder& folder, std::uint32_t mask, TNodeList& list);

// Depth-first: every private IFolderEx folder below folder gets SetFlags (flags).
void FlagPrivateFolders(const IFolder& folder, std::uint32_t flags);

// Depth-first: every bookmark below folder whose Flags share a bit with mask
// or equal mask (so mask 0 collects the bookmarks whose Flags are 0).
void CollectBookmarksWithFlags(const IFolder& folder, std::uint32_t mask, TNodeList& list);

// Log description: "B>" + server path of the bookmark's folder + ":" + name
// + ":" + URL, "F>" + the folder's server path, "" for anything else. Paths
// use the display names unescaped; the root's path is "/".
std::string Describe(const IBNode* node);
inline std::string Describe(const IBNodePtr& node) { return Describe(node.get()); }

// The server id: IFolderEx id for folders, the bookmark id (or, when that is
// -1, the id part of its server reference) for bookmarks; -1 when none.
std::int32_t GetServerId(const IBNode* node);
inline std::int32_t GetServerId(const IBNodePtr& node) { return GetServerId(node.get()); }

bool HasFeedURL(const IBookmark& bookmark);

// Kinds of IsPrivateNode.
inline constexpr int kPrivateKindPublic = 0;
inline constexpr int kPrivateKindPrivate = 1;
// kind 1: a folder's IsPrivate, or that of a bookmark's folder (false when
// the folder has no private flag); kind 0: a folder's GetPublic, false for
// bookmarks.
bool IsPrivateNode(const IBNode* node, int kind);
inline bool IsPrivateNode(const IBNodePtr& node, int kind) { return IsPrivateNode(node.get(), kind); }

// Recursively forgets every server id: bookmarks get id -1, IFolderEx
// folders id -1 and their public and private flags cleared.
void ClearServerIds(IBNode& node);

// Sets the duplicate flag of every bookmark of the tree whose URL key is
// shared with another bookmark of the tree, clears it on every other, and
// counts the flagged ones (DuplicateCount). Uses the tree's URL index when
// it is a hashable tree. Keys must be computed.
void MarkDuplicates(IFolder& tree);

// Number of bookmarks flagged by the last MarkDuplicates, readable from any
// thread.
std::int32_t DuplicateCount();

// Removes duplicate siblings: later folders of the same normalized name are
// merged into the earliest one, and of two sibling bookmarks that share
// their URL key or their normalized name the one with the greater
// normalized name goes. Runs inside an update bracket when the tree has
// one (closed also when the pass raises). Answers the bookmarks removed;
// they keep pointing at the folder they were in for as long as it lives.
// Nothing is deleted on disk.
TNodeList Unduplicate(IFolder& tree);
inline TNodeList Unduplicate(const IFolderPtr& tree) { return tree ? Unduplicate(*tree) : TNodeList(); }

}  // namespace kelvo
