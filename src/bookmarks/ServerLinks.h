#pragma once
// Link records: the "link" elements through which the link server stores a
// user's bookmarks, one per bookmark and one per folder that carries server
// data, each naming its place by a server path. Here: server paths of
// nodes, the element writers used by the server actions, the Links-folder
// rule both ways, and the tools that keep server references consistent.
//
// Server paths are "/" for the tree root, else "/" + the folders' display
// names from the top-level folder down; a "/" or "\" inside a name is
// preceded by "\". They are not file paths.
//
// Stateless apart from the Links-folder name source; trees and documents
// are used by one thread at a time.

#include <cstdint>
#include <functional>
#include <string>

#include "bookmarks/BNode.h"
#include "bookmarks/Folder.h"
#include "foundation/KException.h"
#include "foundation/XmlTools.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TServerLinkException, TKException);

// The path segment by which the server names the Links toolbar folder.
inline constexpr const char* kServerLinksFolderSegment = "PERSONAL_BOOKMARK_FOLDER";

// Longest server path (in segments) a link may name. The node model walks
// trees recursively, so a server answer must not be able to build a tree
// deep enough to exhaust the stack; no folder tree that fits in a file
// system comes near it.
inline constexpr std::size_t kMaxServerPathDepth = 1000;

// ---- Paths

// The escaped server path of a node: for a bookmark, that of its folder;
// for a folder, its own. A node outside any tree is placed as if its
// topmost folder were at the top level. Raises TServerLinkException naming
// "ServerPath" when the parent chain is broken (a parent that is not a
// folder, or a chain that loops).
std::string ServerPath(const IBNode* node);
inline std::string ServerPath(const IBNodePtr& node) { return ServerPath(node.get()); }
// The same with raw names; failures name "GetPathUnescaped".
std::string GetPathUnescaped(const IBNode* node);
inline std::string GetPathUnescaped(const IBNodePtr& node) { return GetPathUnescaped(node.get()); }

// A name with every "/" and "\" preceded by "\".
std::string EscapeServerName(const std::string& name);
// A "path" value as its segments: it must start with "/" (else the list is
// empty); it is split at every "/" not preceded by "\"; a "\" makes the
// next character literal and is dropped; empty segments are skipped.
// Segments are kept whole, however long.
TStringList SplitServerPath(const std::string& path);

// ---- The Links folder

// Where the local Links folder name comes from. The default source is the
// Favorites store's LinksFolderName with its default ("Links"), for reading
// and writing alike; tests replace it.
// Passing an empty function restores the default. Thread-safe.
using TLinksFolderNameSource = std::function<std::string()>;
void SetLinksFolderNameSource(TLinksFolderNameSource source);
// The current local Links folder name ("" when the source knows none).
std::string CurrentLinksFolderName();

// Writing: a path that is "/" + the Links folder name, or starts with it
// followed by "/", gets that first segment replaced by
// "/PERSONAL_BOOKMARK_FOLDER". Unchanged when no name is known.
std::string ApplyLinksFolderRule(const std::string& path);
// Reading: the first segment that is exactly "PERSONAL_BOOKMARK_FOLDER" is
// replaced by the (escaped) local Links folder name, "Links" when none is
// known.
std::string ResolveLinksFolderSegment(const std::string& path);

// ---- Writers

// Appends elementName to parent with "path", "url", "title" and, when id is
// not -1, "id". The Links-folder rule is applied to path; a live bookmark's
// title gets ".LIV"; the title is cut to 255 characters and the URL to
// 5120. Raises TServerLinkException "WriteBookmarkLinkEx: bad path, url,
// caption:" + path + ":" + title + ":" + url when one of them is empty.
TXmlElement WriteBookmarkLinkEx(const TXmlElement& parent, const std::string& elementName,
                                const std::string& path, bool isLive, std::int32_t id,
                                const std::string& url, const std::string& title);
// Appends elementName with "path", "id" (when not -1) and private="CLIENT"
// (when isPrivate). Raises TServerLinkException "WriteFolderLinkEx: empty
// path" for an empty path.
TXmlElement WriteFolderLinkEx(const TXmlElement& parent, const std::string& elementName,
                              const std::string& path, bool isPrivate, std::int32_t id);
// Appends "link" elements for the whole (sub)tree below folder: a bookmark
// link per valid bookmark, a folder link per folder with a server id, a
// private link for each topmost private folder (whose content stays on the
// client). Invalid nodes are skipped; a child that cannot be written is
// logged and the walk goes on.
void WriteTreeLinks(const IFolder& folder, const TXmlElement& parent);

// ---- Server references

// Sets the reference of a bookmark or server folder: ":" + id, or empty for
// -1. Other nodes are left alone.
void SetServerRef(IBNode& node, std::int32_t id);
// The reference of a server folder or bookmark, else "".
std::string GetServerRef(const IBNode& node);

// Depth-first, a folder before its content: every node below tree whose
// reference is non-empty.
TNodeList CollectNodesWithRef(const IFolder& tree);
// Depth-first: every server folder below tree that is private.
TNodeList CollectPrivateFolders(const IFolder& tree);
// The first node of the list whose reference equals ref; nullptr if none.
IBNodePtr FindNodeByRef(const TNodeList& nodes, const std::string& ref);
// The last node of the list whose reference + "-" contains ":" + id + "-";
// nullptr if none.
IBNodePtr FindNodeById(const TNodeList& nodes, const std::string& id);
IBNodePtr FindNodeById(const TNodeList& nodes, std::int32_t id);

// Checks the nodes that carry references against the server's public links
// (xlinks). A public link ("/$news/" or "/$pub/" in its path) whose "ref"
// is empty, or names no node of the list (its "ref" is then emptied),
// counts as dangling. A node that no public link names counts as orphaned
// and loses its reference.
void ReconcileRefs(const TNodeList& nodes, const TXmlNodeList& links, std::int32_t& orphanNodes,
                   std::int32_t& danglingLinks);
// True when two "link" elements carry the same "path" (exact).
bool HasDuplicatePaths(const TXmlNodeList& links);

}  // namespace kelvo
