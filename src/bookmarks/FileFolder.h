#pragma once
// A folder of the Favorites folder store: one directory below the Favorites
// root. Built by the reader (reader thread) or copied from another tree;
// saved and cleaned up on the agent's main thread. Paths use "/".

#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/BookmarkExceptions.h"
#include "bookmarks/Folder.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TFileFolderException, TFolderException);

class IFileFolder : public virtual IFolder {
 public:
  // Internet Explorer's Links toolbar folder (never the tree).
  virtual bool IsLinksFolder() const = 0;
  // Path below the Favorites root with a leading and a trailing "/": "/" for
  // the tree, "/News/" for a folder directly under it (the directory names
  // as saved, see FavoritesFolderDirectoryName).
  virtual std::string GetRelativePath() const = 0;
  // Deletes what this folder no longer holds from its directory: the tree
  // examines directory + name, a folder directory + name + "/" (a folder is
  // called with its parent's directory and its own name).
  virtual void RemoveOldFiles(const std::string& directory, const std::string& name) = 0;
};
using IFileFolderPtr = std::shared_ptr<IFileFolder>;

class TFileFolder : public TDefaultKFolder, public IFileFolder, public IFileSavable {
 public:
  // The folder of directory parentDirectory + name; with recurse its
  // directory is read (see ReadFavoritesDirectory). Raises
  // TFileFolderException "Cannot read directory:" + path when it cannot be
  // entered.
  TFileFolder(const std::string& parentDirectory, bool recurse, const std::string& name);
  // Copy of another tree's folder and all its content, with file-safe names.
  explicit TFileFolder(const IFolder& source);

  bool IsLinksFolder() const override { return isLinksFolder_; }
  std::string GetRelativePath() const override;
  void RemoveOldFiles(const std::string& directory, const std::string& name) override;
  bool SaveToDisk(const std::string& directory, std::uint32_t mask) override;
};
using TFileFolderPtr = std::shared_ptr<TFileFolder>;

// Reads the entries of directory into folder (which must be empty):
// subdirectories become TFileFolders, ".url" files (any letter case) become
// TFileBookmarks, in the order the file system lists them; entries whose
// name is shorter than 5 characters (directories excepted) and other files
// are ignored, damaged file names repaired first. An entry that cannot be
// read is logged and skipped. Symbolic links to directories are not
// followed (they could loop). Raises TFileFolderException "Cannot read
// directory:" + directory when the directory cannot be listed.
void ReadFavoritesDirectory(IFolder& folder, const std::string& directory);

// The name repairs, for one file name: the repaired name, or the name itself
// when no repair applies.
std::string RepairedFavoritesFileName(const std::string& fileName);

// The name of a folder's directory on disk: FileNameOfNode without the
// trailing dots (the Windows file system drops them), unless it is made only
// of dots.
std::string FavoritesFolderDirectoryName(const std::string& name);

// Saves children of folder into directory in list order, stopping after the
// first that answers false; answers the last result (true when empty).
bool SaveFavoritesChildren(const IFolder& folder, const std::string& directory, std::uint32_t mask);

// The RemoveOldFiles walk of one directory against folder's children; an
// entry that cannot be deleted is logged (by a folder with its path, by the
// tree as the exception) and the walk goes on.
void RemoveOldFavoritesFiles(const IFolder& folder, const std::string& directory, bool isTree);

}  // namespace kelvo
