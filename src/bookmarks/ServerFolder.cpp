#include "bookmarks/ServerFolder.h"

#include "bookmarks/Bookmark.h"

namespace kelvo {

TServerFolder::TServerFolder(const std::string& name, bool isPrivate)
    : TFolder(name), private_(isPrivate) {}

std::string TServerFolder::HashIdText() const { return ServerIdTextFromRef(ref_); }

IServerFolderPtr TServerFolder::FindOrCreatePath(const TStringList& names, std::size_t index) {
  return FindOrCreateServerPath(*this, names, index, false);
}

// Walks down level by level instead of recursing, so a path of any depth
// cannot exhaust the stack. Where a folder holds several children of the
// same name, only the one that gives the answer is entered: entering the
// others too would create the rest of the path inside each of them, folders
// the server never sent.
IServerFolderPtr FindOrCreateServerPath(IFolder& folder, const TStringList& names,
                                        std::size_t index, bool firstMatch) {
  if (index >= names.size()) return nullptr;
  IFolder* current = &folder;
  IServerFolderPtr found;
  bool first = firstMatch;
  for (std::size_t level = index; level < names.size(); ++level) {
    const std::string& name = names[level];
    IServerFolderPtr match;
    const int count = current->Count();
    for (int i = 0; i < count; ++i) {
      auto child = std::dynamic_pointer_cast<IServerFolder>(current->Get(i));
      if (!child || child->GetName() != name) continue;
      match = std::move(child);
      if (first) break;
    }
    if (!match) {
      match = std::make_shared<TServerFolder>(name);
      current->Add(match);
    }
    found = std::move(match);
    current = found.get();
    first = false;
  }
  return found;
}

}  // namespace kelvo
