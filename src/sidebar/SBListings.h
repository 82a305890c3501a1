#pragma once
// Listings the sidebar services hand to script as text: one folder of the
// bookmark tree as JSON, the widget manifests below the sidebar code
// folder, and the comma-separated list form they and the file access use.
// Main thread (the tree is borrowed from its owner for the call).

#include <string>
#include <vector>

#include "bookmarks/Folder.h"
#include "foundation/KException.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TSBServicesException, TKException);

// The name of the manifest file a widget carries.
inline constexpr const char* kKeldgetManifestName = "keldget.manifest";

// Comma-separated list: an entry holding a blank or control character, a
// comma or a double quote is written in double quotes with its quotes
// doubled; a list of one empty entry is written "\"\"".
std::string CommaText(const std::vector<std::string>& entries);

// The children of one folder of the tree as a JSON object: member i for
// child i ({"title","path","bkCount"} for a folder, {"url","title","path"}
// for a bookmark, path being the listed folder's server path), then
// "length"; counts are strings. path is a comma-separated list of child
// positions from the root ("" the root, "2,0" the first child of its third
// child). A position past the children is logged as a bad index and
// skipped; a position that is not a number or names a bookmark raises
// TSBServicesException. No tree gives "".
std::string GetBookmarksJSON(const IFolderPtr& root, const std::string& path);

// Full paths of every file named "keldget.manifest" below the folder, in
// search order, as a CommaText. Folders that cannot be read are skipped.
std::string FindKeldgetManifests(const std::string& sidebarFolder);

}  // namespace kelvo
