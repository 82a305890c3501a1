#pragma once
// A folder of the tree built from the link server's link list. Besides its
// children it keeps the server reference of its folder link ("...:<id>",
// empty when the server sent none), the server's rank and whether the user
// keeps it on the client only (private, excluded from synchronization).
// Used by one thread at a time, like every tree.

#include <cstdint>
#include <memory>
#include <string>

#include "bookmarks/Folder.h"

namespace kelvo {

class IServerFolder;
using IServerFolderPtr = std::shared_ptr<IServerFolder>;

class IServerFolder : public virtual IFolder {
 public:
  virtual std::string GetRef() const = 0;
  virtual void SetRef(const std::string& ref) = 0;
  // Position on the server, -1 = none.
  virtual std::int32_t GetRank() const = 0;
  virtual void SetRank(std::int32_t rank) = 0;
  // The server folder at names[index..] below this one, created where
  // missing; nullptr when index is past the end. Names compare exactly.
  // Among several children of the same name, the last one is used.
  virtual IServerFolderPtr FindOrCreatePath(const TStringList& names, std::size_t index) = 0;
  // Server folders never stand for the Links toolbar folder: the server
  // names that one by its path.
  virtual bool IsLinksFolder() const = 0;
  virtual bool GetPrivate() const = 0;
  virtual void SetPrivate(bool isPrivate) = 0;
};

class TServerFolder : public TFolder, public virtual IServerFolder {
 public:
  explicit TServerFolder(const std::string& name, bool isPrivate = false);

  std::string GetRef() const override { return ref_; }
  void SetRef(const std::string& ref) override { ref_ = ref; }
  std::int32_t GetRank() const override { return rank_; }
  void SetRank(std::int32_t rank) override { rank_ = rank; }
  IServerFolderPtr FindOrCreatePath(const TStringList& names, std::size_t index) override;
  bool IsLinksFolder() const override { return false; }
  bool GetPrivate() const override { return private_; }
  void SetPrivate(bool isPrivate) override { private_ = isPrivate; }

 protected:
  std::string HashIdText() const override;

 private:
  std::string ref_;
  std::int32_t rank_ = -1;
  bool private_ = false;
};

// The walk behind FindOrCreatePath, for any folder (the server tree's root
// uses it too). firstMatch: the first child of a matching name is used at
// the first level (the root's rule); below it, always the last one.
IServerFolderPtr FindOrCreateServerPath(IFolder& folder, const TStringList& names,
                                        std::size_t index, bool firstMatch);

}  // namespace kelvo
