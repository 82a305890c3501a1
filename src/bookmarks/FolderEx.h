#pragma once
// The extra interface of folders that carry a server id and the user's
// private flag (TDefaultKFolder and its descendants). Code asks a node
// whether it supports IFolderEx with dynamic_pointer_cast.

#include <cstdint>

namespace kelvo {

// Counters filled by AddStats / CollectStats; the caller zeroes them first.
struct TBookmarkStats {
  std::int32_t Bookmarks = 0;         // every bookmark below
  std::int32_t Folders = 0;           // every TDefaultKFolder visited
  std::int32_t PrivateBookmarks = 0;  // bookmarks directly in a private folder
};

class IFolderEx {
 public:
  virtual ~IFolderEx() = default;

  virtual bool GetPublic() const = 0;
  virtual void SetPublic(bool isPublic) = 0;
  virtual std::int32_t GetPublicCount() const = 0;
  virtual void SetPublicCount(std::int32_t count) = 0;
  // Own flag, or inherited from the nearest IFolderEx ancestor.
  virtual bool IsPrivate() const = 0;
  virtual void SetPrivate(bool isPrivate) = 0;
  // True only for the topmost private folder of a branch.
  virtual bool IsPrivateRoot() const = 0;
  virtual std::int32_t GetId() const = 0;
  virtual void SetId(std::int32_t id) = 0;
  virtual void AddStats(TBookmarkStats& stats) const = 0;
  // Cuts the folder down to its private folders; true when something private
  // is left (or the folder itself is private and kept whole).
  virtual bool PruneToPrivate() = 0;
};

}  // namespace kelvo
