#pragma once
// A bookmark of the Favorites folder store: one .url file. Built by the
// folder reader (reader thread) or copied from another tree's bookmark; then
// used by the agent's main thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"
#include "bookmarks/BookmarkExceptions.h"

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TFileBookmarkException, TBookmarkException);

// An IBookmark of the Favorites store; it adds nothing.
class IFileBookmark : public virtual IBookmark {};

class TFileBookmark : public TDefaultKBookmark, public IFileBookmark, public IFileSavable {
 public:
  // Reads directory + "/" + fileName (directory with or without its "/").
  // The URL is the file's "InternetShortcut" URL (see UrlFromUrlFileText);
  // Name is fileName up to its last ".". A file that cannot be opened, is
  // not a regular file, is larger than 1 MB or holds NUL bytes (not text)
  // raises TFileBookmarkException "Cannot open file:" + path.
  TFileBookmark(const std::string& directory, const std::string& fileName);
  // Copy of another tree's bookmark with a file-safe name; the name is also
  // made usable as a file name (see FileNameOfNode).
  explicit TFileBookmark(const IBookmark& source);

  // Writes the file when mask shares a bit with Flags (true otherwise,
  // without writing). False, after logging "TFileBookmark.WriteFile:Error
  // saving:" + path, when it cannot be written.
  bool SaveToDisk(const std::string& directory, std::uint32_t mask) override;
};
using TFileBookmarkPtr = std::shared_ptr<TFileBookmark>;

// The name a node's file or directory gets on disk: the node's Name with
// "/" and NUL turned into "_", and "_" put before an empty name, "." and
// "..", so that a name from another tree can never reach outside its own
// folder. Any other name is used unchanged.
std::string FileNameOfNode(const std::string& name);

// The path with the trailing dots of every name removed ("a/b../c" gives
// "a/b/c"), as the Windows file system drops them; names made only of dots
// are kept.
std::string StripTrailingDots(const std::string& path);

// The directory with one "/" at its end.
std::string WithTrailingSlash(const std::string& directory);

}  // namespace kelvo
