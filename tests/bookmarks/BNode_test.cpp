// Behaviour every node shares: names and the modified flag, parent links
// and their safety when folders go away, deep flags and tags.

#include "bookmarks/BNode.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "NodeTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"

namespace kelvo {
namespace {

using test::NodeLogTest;

struct TNodeMaker {
  const char* label;
  std::function<IBNodePtr(const std::string&)> make;
};

const TNodeMaker kMakers[] = {
    {"TBookmark", [](const std::string& n) { return std::make_shared<TBookmark>(n, "http://h/"); }},
    {"TDefaultKBookmark", [](const std::string& n) { return std::make_shared<TDefaultKBookmark>(n, "http://h/"); }},
    {"TFolder", [](const std::string& n) { return std::make_shared<TFolder>(n); }},
    {"TDefaultKFolder", [](const std::string& n) { return std::make_shared<TDefaultKFolder>(n); }},
};

TEST(BNode, SetNameSetsModifiedOnlyOnARealChange) {
  for (const TNodeMaker& maker : kMakers) {
    SCOPED_TRACE(maker.label);
    IBNodePtr node = maker.make("News");
    EXPECT_EQ(node->GetFlags(), 0u) << "creation does not mark a node";
    node->SetName("News");
    EXPECT_EQ(node->GetFlags() & nfModified, 0u);
    EXPECT_EQ(node->GetNormalizedName(), "news");
    node->SetName("NEWS");  // a change of case is a change
    EXPECT_NE(node->GetFlags() & nfModified, 0u);
    EXPECT_EQ(node->GetName(), "NEWS");
    node->SetName("Sport");
    EXPECT_EQ(node->GetNormalizedName(), "sport") << "the comparison form follows the new name";
  }
}

TEST(BNode, ModifiedIsNeverClearedByTheModel) {
  auto bookmark = std::make_shared<TDefaultKBookmark>("a", "http://h/");
  bookmark->SetURL("http://other/");
  bookmark->SetURL("http://h/");
  EXPECT_NE(bookmark->GetFlags() & nfModified, 0u);
  bookmark->SetFlags(0);  // the engine clears the word itself
  EXPECT_EQ(bookmark->GetFlags(), 0u);
}

TEST(BNode, FirstParentingDoesNotMarkAMoveDoes) {
  for (const TNodeMaker& maker : kMakers) {
    SCOPED_TRACE(maker.label);
    auto from = std::make_shared<TFolder>("From");
    auto to = std::make_shared<TFolder>("To");
    IBNodePtr node = maker.make("n");
    from->Add(node);
    EXPECT_EQ(node->GetFlags() & nfModified, 0u);
    EXPECT_EQ(node->GetParent(), static_cast<IBNode*>(from.get()));
    EXPECT_NE(from->GetFlags() & nfModified, 0u) << "adding marks the folder";

    EXPECT_EQ(from->Remove(node), 0);
    EXPECT_EQ(node->GetParent(), nullptr);
    EXPECT_NE(node->GetFlags() & nfModified, 0u) << "losing its parent marks the node";
    EXPECT_EQ(to->GetFlags(), 0u);
    EXPECT_EQ(to->Add(node), 0);
    EXPECT_NE(to->GetFlags() & nfModified, 0u);
    EXPECT_EQ(node->GetParent(), static_cast<IBNode*>(to.get()));
    EXPECT_EQ(from->Count(), 0);
  }
}

TEST(BNode, SetParentToTheSameParentChangesNothing) {
  auto folder = std::make_shared<TFolder>("F");
  auto bookmark = std::make_shared<TBookmark>("b", "http://h/");
  folder->Add(bookmark);
  bookmark->SetParent(folder.get());
  EXPECT_EQ(bookmark->GetFlags() & nfModified, 0u);
}

// The back-pointer is uncounted: it must read as none, never dangle, once
// the folder it names is gone, whichever way the child left it.
TEST(BNodeParentLink, ChildOutlivingItsFolderSeesNoParent) {
  auto bookmark = std::make_shared<TBookmark>("b", "http://h/");
  auto sub = std::make_shared<TFolder>("Sub");
  {
    auto folder = std::make_shared<TFolder>("F");
    folder->Add(sub);
    sub->Add(bookmark);
    folder->Add(std::make_shared<TBookmark>("x", "http://x/"));
    EXPECT_EQ(sub->GetParent(), static_cast<IBNode*>(folder.get()));
  }  // still listed in the folder when it died
  EXPECT_EQ(sub->GetParent(), nullptr);
  EXPECT_EQ(bookmark->GetParent(), static_cast<IBNode*>(sub.get()));
  sub.reset();
  EXPECT_EQ(bookmark->GetParent(), nullptr);
}

TEST(BNodeParentLink, DeleteKeepsTheParentOnlyWhileTheFolderLives) {
  auto bookmark = std::make_shared<TDefaultKBookmark>("b", "http://h/");
  auto folder = std::make_shared<TDefaultKFolder>("F");
  folder->Add(bookmark);
  folder->Delete(0);
  EXPECT_EQ(folder->Count(), 0);
  // Deleting leaves the back-pointer: a dropped duplicate still knows its folder.
  EXPECT_EQ(bookmark->GetParent(), static_cast<IBNode*>(folder.get()));
  folder.reset();
  EXPECT_EQ(bookmark->GetParent(), nullptr);
  // A new folder, possibly at the same address, is not mistaken for the old one.
  auto next = std::make_shared<TDefaultKFolder>("G");
  EXPECT_EQ(bookmark->GetParent(), nullptr);
  next->Add(bookmark);
  EXPECT_EQ(bookmark->GetFlags() & nfModified, 0u) << "the old parent was gone, this is a first parenting";
}

TEST(BNodeParentLink, RemoveFromAStaleFolderKeepsTheNewerParent) {
  auto a = std::make_shared<TFolder>("A");
  auto b = std::make_shared<TFolder>("B");
  auto bookmark = std::make_shared<TBookmark>("b", "http://h/");
  a->Add(bookmark);
  b->Add(bookmark);  // the caller forgot to remove it from A first
  EXPECT_EQ(a->Remove(bookmark), 0);
  EXPECT_EQ(bookmark->GetParent(), static_cast<IBNode*>(b.get()));
  EXPECT_EQ(a->Remove(bookmark), -1) << "no longer listed";
  EXPECT_EQ(bookmark->GetParent(), static_cast<IBNode*>(b.get()));
}

TEST(BNodeParentLink, MovesRenamesSortsAndDeletesLeaveNoDanglingParent) {
  auto keep = std::make_shared<TBookmark>("keep", "http://k/");
  std::shared_ptr<TFolder> inner;
  {
    auto root = std::make_shared<TFolder>("Root");
    auto left = std::make_shared<TDefaultKFolder>("Left");
    auto right = std::make_shared<TDefaultKFolder>("Right");
    inner = std::make_shared<TFolder>("Inner");
    root->Add(left);
    root->Add(right);
    left->Add(inner);
    inner->Add(keep);
    inner->Add(std::make_shared<TBookmark>("z", "http://z/"));
    // Move Inner from Left to Right, rename, sort, then drop Right.
    left->Remove(inner);
    right->Add(inner);
    inner->SetName("Renamed");
    root->Sort();
    EXPECT_EQ(inner->GetParent(), static_cast<IBNode*>(right.get()));
    EXPECT_EQ(keep->GetParent(), static_cast<IBNode*>(inner.get()));
    root->Delete(root->Count() - 1);  // Right, still Inner's parent
    EXPECT_EQ(inner->GetParent(), static_cast<IBNode*>(right.get()));
    right.reset();
    EXPECT_EQ(inner->GetParent(), nullptr);
  }
  EXPECT_EQ(keep->GetParent(), static_cast<IBNode*>(inner.get()));
  inner.reset();
  EXPECT_EQ(keep->GetParent(), nullptr);
  EXPECT_EQ(keep->GetName(), "keep");
}

TEST_F(NodeLogTest, AddRefusesANullNodeAndCycles) {
  auto root = std::make_shared<TFolder>("Root");
  auto sub = std::make_shared<TFolder>("Sub");
  root->Add(sub);
  EXPECT_EQ(root->Add(nullptr), -1);
  EXPECT_TRUE(LogHas("Cannot set parent"));
  EXPECT_EQ(root->Add(root), -1);
  EXPECT_EQ(sub->Add(root), -1);
  EXPECT_EQ(root->Count(), 1);
  EXPECT_EQ(sub->Count(), 0);
  EXPECT_EQ(root->GetParent(), nullptr);
  EXPECT_TRUE(LogHas("TFolder.Add:a folder cannot hold itself or its own ancestor:Root"));
}

TEST(BNode, FlagsAndTagsDeepReachEveryNode) {
  auto root = std::make_shared<TFolder>("Root");
  auto sub = std::make_shared<TDefaultKFolder>("Sub");
  auto b1 = std::make_shared<TBookmark>("b1", "http://1/");
  auto b2 = std::make_shared<TDefaultKBookmark>("b2", "http://2/");
  root->Add(sub);
  root->Add(b1);
  sub->Add(b2);
  root->SetFlagsDeep(5);
  root->SetTagDeep(7);
  for (const IBNode* node : {static_cast<IBNode*>(root.get()), static_cast<IBNode*>(sub.get()),
                             static_cast<IBNode*>(b1.get()), static_cast<IBNode*>(b2.get())}) {
    EXPECT_EQ(node->GetFlags(), 5u) << node->GetName();
    EXPECT_EQ(node->GetTag(), 7u) << node->GetName();
  }
  sub->SetFlags(0);
  sub->SetTag(0);
  EXPECT_EQ(b2->GetFlags(), 5u) << "the plain setters stay on the node";
  EXPECT_EQ(b2->GetTag(), 7u);
  // A tag may hold the address of a paired node.
  b1->SetTag(reinterpret_cast<TNodeTag>(static_cast<IBNode*>(b2.get())));
  EXPECT_EQ(reinterpret_cast<IBNode*>(b1->GetTag()), static_cast<IBNode*>(b2.get()));
}

TEST(BNode, KindsAreToldApartByTheirInterfaces) {
  IBNodePtr bookmark = std::make_shared<TDefaultKBookmark>("b", "http://h/");
  IBNodePtr folder = std::make_shared<TFolder>("F");
  IBNodePtr kfolder = std::make_shared<TDefaultKFolder>("K");
  EXPECT_TRUE(std::dynamic_pointer_cast<IBookmark>(bookmark));
  EXPECT_FALSE(std::dynamic_pointer_cast<IFolder>(bookmark));
  EXPECT_TRUE(std::dynamic_pointer_cast<IFolder>(folder));
  EXPECT_FALSE(std::dynamic_pointer_cast<IFolderEx>(folder));
  EXPECT_TRUE(std::dynamic_pointer_cast<IFolderEx>(kfolder));
  EXPECT_FALSE(std::dynamic_pointer_cast<ISimpleTree>(kfolder));
  EXPECT_EQ(bookmark->GetNodeType(), kNodeTypeBookmark);
  EXPECT_EQ(folder->GetNodeType(), kNodeTypeFolder);
  EXPECT_EQ(kfolder->GetNodeType(), kNodeTypeFolder);
}

}  // namespace
}  // namespace kelvo
