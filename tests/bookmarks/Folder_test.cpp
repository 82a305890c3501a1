// Folder lists, counting, validity, privacy, statistics, sorting, pruning
// and the index walks.

#include "bookmarks/Folder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NodeTestSupport.h"
#include "bookmarks/Bookmark.h"

namespace kelvo {
namespace {

using test::TRecordingMap;

std::shared_ptr<TDefaultKBookmark> Bm(const std::string& name, const std::string& url = "http://h/") {
  return std::make_shared<TDefaultKBookmark>(name, url);
}
std::shared_ptr<TDefaultKFolder> Fd(const std::string& name) { return std::make_shared<TDefaultKFolder>(name); }

std::vector<std::string> Names(const IFolder& folder) {
  std::vector<std::string> names;
  for (int i = 0; i < folder.Count(); ++i) names.push_back(folder.Get(i)->GetName());
  return names;
}

TEST(Folder, ListOperations) {
  auto folder = Fd("F");
  auto a = Bm("a");
  auto b = Bm("b");
  auto c = Bm("c");
  EXPECT_EQ(folder->Add(a), 0);
  EXPECT_EQ(folder->Add(b), 1);
  EXPECT_EQ(folder->Add(c), 2);
  EXPECT_EQ(folder->Get(1), b);
  EXPECT_EQ(folder->Get(3), nullptr);
  EXPECT_EQ(folder->Get(-1), nullptr);
  EXPECT_EQ(folder->Remove(b), 1);
  EXPECT_EQ(Names(*folder), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(folder->Remove(b), -1);
  EXPECT_EQ(folder->Remove(nullptr), -1);
  folder->Delete(5);  // out of range: nothing happens
  folder->Delete(0);
  EXPECT_EQ(Names(*folder), (std::vector<std::string>{"c"}));
}

TEST(Folder, EmptyFolderIsInvalidAndNamelessToo) {
  std::uint8_t reason = 9;
  TFolder empty("Empty");
  EXPECT_FALSE(empty.IsValid(reason));
  EXPECT_EQ(reason, 0);
  auto nameless = std::make_shared<TFolder>("");
  nameless->Add(Bm("a"));
  EXPECT_FALSE(nameless->IsValid());
  auto named = std::make_shared<TFolder>("N");
  named->Add(Bm("a"));
  EXPECT_TRUE(named->IsValid());
  auto onlyInvalid = std::make_shared<TFolder>("N");
  onlyInvalid->Add(Bm("no url", ""));
  EXPECT_FALSE(onlyInvalid->IsValid());
}

TEST(Folder, FolderOfEmptyFoldersCountsNoValidFolder) {
  auto top = Fd("Top");
  auto sub1 = Fd("Sub1");
  auto sub2 = Fd("Sub2");
  top->Add(sub1);
  top->Add(sub2);
  sub1->Add(Fd("Deep"));
  EXPECT_FALSE(top->IsValid());
  EXPECT_EQ(top->BookmarkCount(), 0);
  EXPECT_EQ(top->ValidFolderCount(), 0);
  EXPECT_EQ(top->FolderCount(), 3);
  EXPECT_EQ(top->NodeCount(), 3);
}

TEST(Folder, CountsCoverTheSubtreeAndStayCachedUntilReset) {
  // Root: [A: [b1, b2(no url), C: [b3]], E: [], b4]
  auto root = Fd("Root");
  auto a = Fd("A");
  auto c = Fd("C");
  auto e = Fd("E");
  root->Add(a);
  root->Add(e);
  root->Add(Bm("b4"));
  a->Add(Bm("b1"));
  a->Add(Bm("b2", ""));
  a->Add(c);
  c->Add(Bm("b3"));
  EXPECT_EQ(root->NodeCount(), 3 + 3 + 1 + 0);
  EXPECT_EQ(root->BookmarkCount(), 4);
  EXPECT_EQ(root->ValidBookmarkCount(), 3);
  EXPECT_EQ(root->FolderCount(), 3);
  EXPECT_EQ(root->ValidFolderCount(), 2);  // A and C; E is empty
  EXPECT_EQ(a->ValidBookmarkCount(), 2);

  c->Add(Bm("b5"));
  EXPECT_EQ(root->BookmarkCount(), 4) << "counts are not invalidated by edits";
  root->ResetCounts();
  EXPECT_EQ(root->BookmarkCount(), 5);
  EXPECT_EQ(c->ValidBookmarkCount(), 2) << "reset reaches every descendant";
}

TEST(Folder, PrivacyIsInheritedAndOnlyTheTopmostIsItsRoot) {
  auto root = Fd("Root");
  auto priv = Fd("Private");
  auto inner = Fd("Inner");
  auto innerPriv = Fd("InnerPrivate");
  root->Add(priv);
  priv->Add(inner);
  priv->Add(innerPriv);
  inner->Add(Bm("b"));
  innerPriv->Add(Bm("c"));
  priv->Add(Bm("d"));
  EXPECT_EQ(priv->GetFlags() & nfModified, nfModified);  // from the adds
  inner->SetFlags(0);
  priv->SetPrivate(true);
  innerPriv->SetPrivate(true);
  EXPECT_TRUE(inner->IsPrivate());
  EXPECT_EQ(inner->GetFlags(), 0u) << "inheriting privacy does not mark the child";
  EXPECT_FALSE(root->IsPrivate());
  EXPECT_TRUE(priv->IsPrivateRoot());
  EXPECT_FALSE(inner->IsPrivateRoot());
  EXPECT_FALSE(innerPriv->IsPrivateRoot());

  std::uint8_t reason = 0;
  EXPECT_FALSE(priv->IsValid(reason));
  EXPECT_EQ(reason, 1);
  EXPECT_FALSE(inner->IsValid(reason));
  EXPECT_EQ(reason, 0);
  root->ResetCounts();
  EXPECT_EQ(root->ValidBookmarkCount(), 0) << "private content is invalid for the server";
  EXPECT_EQ(root->BookmarkCount(), 3);

  // A private folder that lost its parent is its own private root.
  priv->Remove(innerPriv);
  EXPECT_TRUE(innerPriv->IsPrivateRoot());
}

TEST(Folder, PublicFlagsMarkOnChange) {
  auto folder = Fd("F");
  folder->SetPublic(false);
  folder->SetPublicCount(0);
  folder->SetId(-1);
  folder->SetPrivate(false);
  EXPECT_EQ(folder->GetFlags(), 0u);
  folder->SetPublicCount(3);
  EXPECT_EQ(folder->GetPublicCount(), 3);
  EXPECT_NE(folder->GetFlags() & nfModified, 0u);
  auto other = Fd("G");
  other->SetPublic(true);
  EXPECT_TRUE(other->GetPublic());
  EXPECT_NE(other->GetFlags() & nfModified, 0u);
  TDefaultKFolder links("Links", true, 8);
  EXPECT_TRUE(links.GetIsLinksFolder());
  EXPECT_EQ(links.GetId(), 8);
}

TEST(Folder, AddStatsCountsBookmarksFoldersAndPrivateOnes) {
  // Root(K): [b, P(private, K): [b, b, Q(K): [b]], Plain(TFolder): [b]]
  auto root = Fd("Root");
  auto p = Fd("P");
  auto q = Fd("Q");
  auto plain = std::make_shared<TFolder>("Plain");
  root->Add(Bm("b"));
  root->Add(p);
  root->Add(plain);
  p->Add(Bm("b"));
  p->Add(Bm("b"));
  p->Add(q);
  q->Add(Bm("b"));
  plain->Add(Bm("b"));
  p->SetPrivate(true);
  TBookmarkStats stats;
  root->AddStats(stats);
  EXPECT_EQ(stats.Folders, 3);
  EXPECT_EQ(stats.Bookmarks, 4) << "a folder without IFolderEx is not entered";
  EXPECT_EQ(stats.PrivateBookmarks, 3);
}

TEST(Folder, SortPutsFoldersFirstThenNamesCaseInsensitively) {
  auto root = std::make_shared<TFolder>("Root");
  root->Add(Bm("b"));
  auto z = Fd("Z");
  root->Add(z);
  root->Add(Bm("A"));
  root->Add(Fd("a"));
  z->Add(Bm("y"));
  z->Add(Bm("X"));
  z->Add(Bm("\xC3\xA9t\xC3\xA9"));  // été: beyond ASCII, after the letters
  root->Sort();
  EXPECT_EQ(Names(*root), (std::vector<std::string>{"a", "Z", "A", "b"}));
  EXPECT_EQ(Names(*z), (std::vector<std::string>{"X", "y", "\xC3\xA9t\xC3\xA9"}));
  for (int i = 0; i < root->Count(); ++i) {
    EXPECT_EQ(root->Get(i)->GetParent(), static_cast<IBNode*>(root.get()));
  }
  EXPECT_EQ(z->GetFlags() & nfModified, nfModified);  // from the adds only
}

TEST(Folder, PruneToPrivateKeepsOnlyPrivateBranches) {
  // Root: [b, Pub: [b, Deep(private): [b, Sub: [b]]], Priv(private): [b, Plain(TFolder)], Other: [b]]
  auto root = Fd("Root");
  auto pub = Fd("Pub");
  auto deep = Fd("Deep");
  auto sub = Fd("Sub");
  auto priv = Fd("Priv");
  auto other = Fd("Other");
  root->Add(Bm("b"));
  root->Add(pub);
  root->Add(priv);
  root->Add(other);
  pub->Add(Bm("b"));
  pub->Add(deep);
  deep->Add(Bm("b"));
  deep->Add(sub);
  sub->Add(Bm("b"));
  priv->Add(Bm("b"));
  priv->Add(std::make_shared<TFolder>("Plain"));
  other->Add(Bm("b"));
  deep->SetPrivate(true);
  priv->SetPrivate(true);

  EXPECT_TRUE(root->PruneToPrivate());
  EXPECT_EQ(Names(*root), (std::vector<std::string>{"Pub", "Priv"}));
  EXPECT_EQ(Names(*pub), (std::vector<std::string>{"Deep"}));
  EXPECT_EQ(Names(*deep), (std::vector<std::string>{"b", "Sub"})) << "a private folder keeps everything";
  EXPECT_EQ(Names(*priv), (std::vector<std::string>{"b", "Plain"}));

  auto nothing = Fd("Nothing");
  nothing->Add(Bm("b"));
  nothing->Add(Fd("Sub"));
  EXPECT_FALSE(nothing->PruneToPrivate());
  EXPECT_EQ(nothing->Count(), 0);
}

TEST(Folder, IndexWalksVisitFoldersBeforeTheirContent) {
  // Root: [News: [Daily, Local: [Paper]], Top]
  auto root = std::make_shared<TFolder>("Root");
  auto news = Fd("News");
  auto local = Fd("Local");
  root->Add(news);
  root->Add(Bm("Top", "http://top/"));
  news->Add(Bm("Daily", "http://www.Daily/"));
  news->Add(local);
  local->Add(Bm("Paper", "http://paper/"));
  root->InitHashes("");

  TRecordingMap folders;
  root->IndexFolders(folders);
  EXPECT_EQ(folders.Keys(), (std::vector<std::string>{"/root/newsF", "/root/news/localF"}));
  EXPECT_EQ(folders.pairs[0].second, news);

  TRecordingMap nodes;
  root->IndexNodes(hkPath, nodes);
  EXPECT_EQ(nodes.Keys(), (std::vector<std::string>{"/root/newsF", "/root/news/dailyB", "/root/news/localF",
                                                    "/root/news/local/paperB", "/root/topB"}));
  TRecordingMap urls;
  root->IndexBookmarksByURL(urls);
  EXPECT_EQ(urls.Keys(), (std::vector<std::string>{"http://www.Daily/", "http://paper/", "http://top/"}));
  TRecordingMap canonical;
  root->IndexBookmarksByCanonicalURL(canonical);
  EXPECT_EQ(canonical.Keys(), (std::vector<std::string>{"http:daily/", "http:paper/", "http:top/"}));
}

TEST(Folder, DumpHashesWritesFolderKeysTwice) {
  auto root = std::make_shared<TFolder>("Root");
  auto news = Fd("News");
  root->Add(news);
  news->Add(Bm("Daily"));
  root->InitHashes("");
  TStringList dump;
  root->DumpHashes(hkPath, dump);
  EXPECT_EQ(dump, (TStringList{"/rootF:/rootF", "/root/newsF:/root/newsF", "/root/news/dailyB"}));
}

}  // namespace
}  // namespace kelvo
