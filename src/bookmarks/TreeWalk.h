#pragma once
// The shared depth-first walk over a folder's subtree.

#include <vector>

#include "bookmarks/Folder.h"

namespace kelvo {

// Visits every node below folder depth-first, a folder before its content,
// in child order. Iterative, so that a deeply nested tree cannot exhaust the
// stack; the folders on the way are held so that a visitor may edit them.
template <class TVisit>
void WalkBelow(const IFolder& folder, TVisit&& visit) {
  struct TFrame {
    const IFolder* folder;
    IFolderPtr hold;
    int next;
  };
  std::vector<TFrame> stack;
  stack.push_back({&folder, nullptr, 0});
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.next >= top.folder->Count()) {
      stack.pop_back();
      continue;
    }
    const IBNodePtr child = top.folder->Get(top.next++);
    if (!child) continue;
    visit(child);
    if (auto sub = std::dynamic_pointer_cast<IFolder>(child)) {
      const IFolder* raw = sub.get();
      stack.push_back({raw, std::move(sub), 0});
    }
  }
}

}  // namespace kelvo
