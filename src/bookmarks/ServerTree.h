#pragma once
// The bookmark tree built from the link server's answer: its flat list of
// "link" elements becomes folders (TServerFolder) and bookmarks
// (TServerBookmark) placed by their server paths. Built from one answer,
// given its keys, compared and merged by the engine, then dropped. Create it
// with std::make_shared; one thread uses it at a time.

#include <cstddef>
#include <memory>
#include <string>

#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/ServerFolder.h"
#include "foundation/XmlTools.h"

namespace kelvo {

class IServerTree {
 public:
  virtual ~IServerTree() = default;
  // Replaces the whole content by the links. rootPath, when neither empty
  // nor "/", keeps only the links at or below that server path and places
  // them as if it were the root.
  virtual void Load(const TXmlNodeList& links, const std::string& rootPath) = 0;
};

class TServerTree : public TDefaultSimpleTree, public IServerTree {
 public:
  explicit TServerTree(const std::string& treeName);
  // The tree of the links, loaded with an empty root path.
  TServerTree(const TXmlNodeList& links, const std::string& treeName);

  // make_shared of the two constructors, kept out of line (see
  // NewServerBookmark).
  static std::shared_ptr<TServerTree> Create(const std::string& treeName);
  static std::shared_ptr<TServerTree> Create(const TXmlNodeList& links, const std::string& treeName);

  // Runs inside an update bracket, so keys, counts and indexes match the
  // new content when it returns. Links that cannot be placed are logged and
  // skipped.
  void Load(const TXmlNodeList& links, const std::string& rootPath) override;

  // The server folder at names[index..] below the root, created where
  // missing; among top-level folders of the same name the first is used.
  IServerFolderPtr FindOrCreatePath(const TStringList& names, std::size_t index);

 private:
  void RemoveAllChildren();
};

using TServerTreePtr = std::shared_ptr<TServerTree>;

}  // namespace kelvo
