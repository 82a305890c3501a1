#pragma once
// The Favorites folder as a bookmark tree: the root of the directory tree of
// .url files, the path mapping between nodes and files, the Links folder
// name and where the Favorites directory is.
//
// A tree is built on the reader thread and used on the agent's main thread
// afterwards (see TDefaultSimpleTree). Paths use "/".

#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/FileFolder.h"

namespace kelvo {

class IFileTree : public IFileFolder {};

class TFileTree : public TDefaultSimpleTree, public IFileTree, public IFileSavable {
 public:
  // Reads the whole directory (see ReadFavoritesDirectory). A directory that
  // does not exist gives an empty tree (there are no Favorites yet); one that
  // cannot be listed raises TFileFolderException.
  TFileTree(const std::string& directory, const std::string& treeName);

  // ISimpleTree: direct bookmarks count one each, direct folders AddStats.
  void CollectStats(TBookmarkStats& stats) const override;

  // IFileFolder
  bool IsLinksFolder() const override { return false; }
  std::string GetRelativePath() const override { return "/"; }
  // Examines directory + name.
  void RemoveOldFiles(const std::string& directory, const std::string& name) override;

  // Creates directory when missing and saves the children in order, the rest
  // skipped after the first failure; answers the last child's result. False
  // after logging "Could not save tree:" + directory on any other failure.
  bool SaveToDisk(const std::string& directory, std::uint32_t mask) override;

 protected:
  bool MarksDuplicates() const override { return true; }
};
using TFileTreePtr = std::shared_ptr<TFileTree>;

// Full path of a node's directory or file: rootDirectory (its trailing "/"
// dropped) + the parent's relative path + the name (+ ".url" for a
// bookmark). Empty for a node without a parent folder.
std::string NodeFilePath(const std::string& rootDirectory, const IBNode& node);

// The node of tree a file-system path names: the tree itself for the root
// directory, otherwise the node with the path key of the names below
// rootDirectory (".url" dropped for a bookmark); nullptr when there is none
// or filePath does not lie below rootDirectory.
IBNodePtr FindNodeByFilePath(const std::shared_ptr<TFileTree>& tree, const std::string& rootDirectory,
                             const std::string& filePath, bool isFolder);

// Internet Explorer's Links folder name, read once per process from the
// settings (HKCU "Software\Microsoft\Internet Explorer\Toolbar\" value
// "LinksFolderName"). With useDefault an empty name answers "Links".
std::string LinksFolderName(bool useDefault);
// Test support: forget the cached name.
void ResetLinksFolderNameForTests();

// The Favorites directory with a trailing "/": the override when set, else
// the Favorites shell folder ($HOME/Favorites); a shell folder path holding
// "LocalService" gives way to the "location" setting of "browser" when that
// names an existing directory.
std::string FavoritesDirectory();
// Sets (or, with "", clears) the override path.
void SetFavoritesDirectoryOverride(const std::string& directory);

}  // namespace kelvo
