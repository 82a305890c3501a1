#include "bookmarks/TreeTools.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TestHome.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/FolderEx.h"
#include "foundation/KException.h"
#include "foundation/Log.h"

namespace kelvo {
namespace {

using test::TTestHome;

std::shared_ptr<TDefaultKBookmark> Bm(const std::string& name, const std::string& url, std::int32_t id = -1) {
  return std::make_shared<TDefaultKBookmark>(name, url, "", id);
}

std::shared_ptr<TDefaultKFolder> Fd(const std::string& name, std::int32_t id = -1) {
  return std::make_shared<TDefaultKFolder>(name, false, id);
}

// A bookmark that keeps its server id in a reference, as server bookmarks do.
class TRefBookmark : public TBookmark {
 public:
  TRefBookmark(const std::string& name, const std::string& url, std::string ref)
      : TBookmark(name, url), ref_(std::move(ref)) {}
  std::string GetRef() const override { return ref_; }

 private:
  std::string ref_;
};

std::vector<std::string> Names(const TNodeList& nodes) {
  std::vector<std::string> names;
  for (const auto& n : nodes) names.push_back(n->GetName());
  return names;
}

std::vector<std::string> ChildNames(const IFolder& folder) {
  std::vector<std::string> names;
  for (int i = 0; i < folder.Count(); ++i) names.push_back(folder.Get(i)->GetName());
  return names;
}

class TreeToolsTest : public ::testing::Test {
 protected:
  void SetUp() override { TLog::Init(2, home_.Sub("kelvo.log"), false, false); }
  void TearDown() override { TLog::ResetForTests(); }

  TTestHome home_;
};

// Root
//   News/            (id 7)
//     Sport/         (private)
//       Daily  http://d/
//     Weather http://w/
//   Top http://t/    (id 3)
struct TSample {
  std::shared_ptr<TDefaultSimpleTree> tree = std::make_shared<TDefaultSimpleTree>("Root");
  std::shared_ptr<TDefaultKFolder> news = Fd("News", 7);
  std::shared_ptr<TDefaultKFolder> sport = Fd("Sport");
  std::shared_ptr<TDefaultKBookmark> daily = Bm("Daily", "http://d/");
  std::shared_ptr<TDefaultKBookmark> weather = Bm("Weather", "http://w/");
  std::shared_ptr<TDefaultKBookmark> top = Bm("Top", "http://t/", 3);

  TSample() {
    sport->Add(daily);
    news->Add(sport);
    news->Add(weather);
    tree->Add(news);
    tree->Add(top);
    tree->InitHashes();
  }
};

TEST_F(TreeToolsTest, ParentsPathsAndAncestors) {
  TSample s;
  EXPECT_EQ(GetParentFolder(s.daily), s.sport);
  EXPECT_EQ(GetParentFolder(s.top), s.tree);
  EXPECT_EQ(GetParentFolder(s.tree), nullptr);
  EXPECT_EQ(GetParentFolder(nullptr), nullptr);

  struct TCase {
    IBNodePtr node;
    TStringList path;
  } cases[] = {
      {s.tree, {}},
      {s.top, {}},  // directly under the root
      {s.news, {"news"}},
      {s.sport, {"news", "sport"}},
      {s.daily, {"news", "sport", "daily"}},
      {s.weather, {"news", "weather"}},
  };
  for (const auto& c : cases) EXPECT_EQ(NamePath(c.node), c.path) << c.node->GetName();

  TNameTbls tables = NameTables({s.top, s.daily, s.tree, s.news});
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0], (TStringList{"news", "sport", "daily"}));
  EXPECT_EQ(tables[1], TStringList{"news"});

  EXPECT_EQ(Ancestors(s.daily), (TNodeList{s.tree, s.news, s.sport}));
  EXPECT_EQ(Ancestors(s.top), TNodeList{s.tree});
  EXPECT_TRUE(Ancestors(s.tree).empty());

  // A detached folder is its own top-level folder.
  auto loose = Fd("Loose");
  EXPECT_EQ(NamePath(loose), TStringList{"loose"});
  EXPECT_TRUE(NamePath(Bm("b", "http://b/")).empty());
}

TEST_F(TreeToolsTest, DescribeAndServerIds) {
  TSample s;
  EXPECT_EQ(Describe(s.daily), "B>/News/Sport:Daily:http://d/");
  EXPECT_EQ(Describe(s.top), "B>/:Top:http://t/");
  EXPECT_EQ(Describe(s.sport), "F>/News/Sport");
  EXPECT_EQ(Describe(s.tree), "F>/");
  EXPECT_EQ(Describe(nullptr), "");

  EXPECT_EQ(GetServerId(s.news), 7);
  EXPECT_EQ(GetServerId(s.sport), -1);
  EXPECT_EQ(GetServerId(s.top), 3);
  EXPECT_EQ(GetServerId(s.daily), -1);
  EXPECT_EQ(GetServerId(std::make_shared<TBookmark>("p", "http://p/")), -1);
  EXPECT_EQ(GetServerId(std::make_shared<TRefBookmark>("r", "http://r/", "user:links:42")), 42);
  EXPECT_EQ(GetServerId(std::make_shared<TRefBookmark>("r", "http://r/", "42")), -1);
  EXPECT_EQ(GetServerId(s.tree), -1);

  EXPECT_FALSE(HasFeedURL(*s.daily));
  EXPECT_TRUE(HasFeedURL(TDefaultKBookmark("Feed", "http://x/", "http://x/rss")));
}

TEST_F(TreeToolsTest, PrivacyAndFlagWalks) {
  TSample s;
  s.sport->SetPrivate(true);
  auto inner = Fd("Inner");
  s.sport->Add(inner);
  s.news->SetPublic(true);

  EXPECT_TRUE(IsPrivateNode(s.sport, kPrivateKindPrivate));
  EXPECT_TRUE(IsPrivateNode(inner, kPrivateKindPrivate));  // inherited
  EXPECT_TRUE(IsPrivateNode(s.daily, kPrivateKindPrivate));
  EXPECT_FALSE(IsPrivateNode(s.weather, kPrivateKindPrivate));
  EXPECT_FALSE(IsPrivateNode(s.top, kPrivateKindPrivate));  // the root has no private flag
  EXPECT_TRUE(IsPrivateNode(s.news, kPrivateKindPublic));
  EXPECT_FALSE(IsPrivateNode(s.sport, kPrivateKindPublic));
  EXPECT_FALSE(IsPrivateNode(s.top, kPrivateKindPublic));

  s.tree->SetFlagsDeep(0);
  s.news->SetFlags(1);
  s.sport->SetFlags(1);
  inner->SetFlags(1);
  TNodeList folders;
  CollectFoldersWithFlags(*s.tree, 1, folders);
  EXPECT_EQ(folders, TNodeList{s.news});  // private ones left out
  folders.clear();
  CollectFoldersWithFlags(*s.tree, 4, folders);
  EXPECT_TRUE(folders.empty());

  FlagPrivateFolders(*s.tree, 8);
  EXPECT_EQ(s.sport->GetFlags(), 8u);
  EXPECT_EQ(inner->GetFlags(), 8u);
  EXPECT_EQ(s.news->GetFlags(), 1u);

  s.weather->SetFlags(4);
  s.top->SetFlags(5);
  TNodeList bookmarks;
  CollectBookmarksWithFlags(*s.tree, 0, bookmarks);  // Flags 0 exactly
  EXPECT_EQ(bookmarks, TNodeList{s.daily});
  bookmarks.clear();
  CollectBookmarksWithFlags(*s.tree, 4, bookmarks);  // depth-first order
  EXPECT_EQ(bookmarks, (TNodeList{s.weather, s.top}));
}

TEST_F(TreeToolsTest, ClearServerIdsForgetsEveryId) {
  TSample s;
  s.sport->SetPrivate(true);
  s.news->SetPublic(true);
  s.daily->SetId(11);
  ClearServerIds(*s.tree);
  EXPECT_EQ(s.news->GetId(), -1);
  EXPECT_FALSE(s.news->GetPublic());
  EXPECT_FALSE(s.sport->IsPrivate());
  EXPECT_EQ(s.daily->GetId(), -1);
  EXPECT_EQ(s.top->GetId(), -1);

  auto single = Bm("One", "http://1/", 5);
  ClearServerIds(*single);
  EXPECT_EQ(single->GetId(), -1);
}

TEST_F(TreeToolsTest, MarkDuplicatesAcrossFolders) {
  TSample s;
  auto copy = Bm("Other name", "http://d/");
  s.news->Add(copy);
  s.weather->SetDuplicate(true);  // stale flag from an earlier run
  s.tree->BeginUpdate();           // the edit reaches the indexes at its end
  s.tree->EndUpdate();
  MarkDuplicates(*s.tree);
  EXPECT_TRUE(s.daily->GetDuplicate());
  EXPECT_TRUE(copy->GetDuplicate());
  EXPECT_FALSE(s.weather->GetDuplicate());
  EXPECT_EQ(DuplicateCount(), 2);

  // A plain folder without indexes gives the same answer.
  auto folder = Fd("Plain");
  auto a = Bm("a", "http://same/");
  auto b = Bm("b", "http://same/");
  auto c = Bm("c", "http://other/");
  folder->Add(a);
  auto sub = Fd("Sub");
  sub->Add(b);
  folder->Add(sub);
  folder->Add(c);
  folder->InitHashes("");
  MarkDuplicates(*folder);
  EXPECT_TRUE(a->GetDuplicate());
  EXPECT_TRUE(b->GetDuplicate());
  EXPECT_FALSE(c->GetDuplicate());
  EXPECT_EQ(DuplicateCount(), 2);
}

// Sibling scans, one folder each: the children in order (name, URL), then
// what remains and what was removed.
struct TSiblingCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> children;
  std::vector<std::string> remaining;
  std::vector<std::string> removed;
};

TEST_F(TreeToolsTest, UnduplicateSiblingBookmarks) {
  const TSiblingCase cases[] = {
      {"later greater name goes at once", {{"a", "X"}, {"b", "X"}}, {"a"}, {"b"}},
      {"earlier greater name is flagged", {{"b", "X"}, {"a", "X"}}, {"a"}, {"b"}},
      {"same name, other URL: earlier goes", {{"x", "U1"}, {"x", "U2"}}, {"x"}, {"x"}},
      {"names equal after normalizing", {{"Tips", "U1"}, {"tips ", "U2"}}, {"tips "}, {"Tips"}},
      {"nothing shared", {{"a", "U1"}, {"b", "U2"}}, {"a", "b"}, {}},
      {"three of a kind", {{"c", "X"}, {"b", "X"}, {"a", "X"}}, {"a"}, {"b", "c"}},
      {"flagged one still scans", {{"a", "X"}, {"c", "X"}, {"b", "X"}}, {"a"}, {"b", "c"}},
      {"chain by URL then name", {{"m", "U1"}, {"z", "U2"}, {"m", "U2"}}, {"m"}, {"z", "m"}},
      {"invalid earlier sibling is removed", {{"a", ""}, {"a", "X"}}, {"a"}, {"a"}},
      {"invalid later sibling is never compared", {{"a", "X"}, {"a", ""}}, {"a", "a"}, {}},
  };
  for (const auto& c : cases) {
    auto tree = std::make_shared<TDefaultSimpleTree>("Root");
    auto folder = Fd("F");
    for (const auto& [name, url] : c.children) {
      folder->Add(Bm(name, url.empty() ? "" : "http://h/" + url));
    }
    tree->Add(folder);
    tree->InitHashes();
    TNodeList removed = Unduplicate(*tree);
    EXPECT_EQ(ChildNames(*folder), c.remaining) << c.label;
    EXPECT_EQ(Names(removed), c.removed) << c.label;
    // Removed bookmarks still name the folder they were in.
    for (const auto& r : removed) EXPECT_EQ(r->GetParent(), folder.get()) << c.label;
  }
}

TEST_F(TreeToolsTest, UnduplicateMergesSiblingFoldersIntoTheEarliest) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  auto first = Fd("News");
  first->Add(Bm("a", "http://a/"));
  auto middle = Fd("Other");
  middle->Add(Bm("o", "http://o/"));
  auto second = Fd("news.");
  second->Add(Bm("b", "http://b/"));
  second->Add(Bm("a", "http://a/"));
  auto deeper = Fd("Deep");
  deeper->Add(Bm("d", "http://d/"));
  second->Add(deeper);
  auto emptyOne = Fd("NEWS");  // invalid (no bookmark): never merged
  tree->Add(first);
  tree->Add(middle);
  tree->Add(second);
  tree->Add(emptyOne);
  // The same bookmark in another folder is not a sibling.
  middle->Add(Bm("a", "http://a/"));
  tree->InitHashes();

  std::weak_ptr<TDefaultKFolder> merged = second;
  second.reset();
  TNodeList removed = Unduplicate(*tree);

  EXPECT_TRUE(merged.expired());  // dropped with the merge, not kept in removed
  EXPECT_EQ(ChildNames(*tree), (std::vector<std::string>{"News", "Other", "NEWS"}));
  // The merged children were deduplicated inside their new folder: the
  // second "a" (same URL, same name) flagged the first, which went.
  EXPECT_EQ(ChildNames(*first), (std::vector<std::string>{"b", "a", "Deep"}));
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0]->GetName(), "a");
  EXPECT_EQ(removed[0]->GetParent(), first.get());
  EXPECT_EQ(ChildNames(*middle), (std::vector<std::string>{"o", "a"}));
  EXPECT_EQ(first->Get(2)->GetParent(), first.get());
  EXPECT_EQ(deeper->Get(0)->GetParent(), deeper.get());
  // The closing EndUpdate rebuilt the keys.
  EXPECT_EQ(tree->FindNode("/news/deep/dB"), deeper->Get(0));
  EXPECT_EQ(tree->CountByURL("http://a/"), 2);
  EXPECT_EQ(tree->BookmarkCount(), 5);
}

TEST_F(TreeToolsTest, RemovedListKeepsOneEntryPerPlace) {
  // Three bookmarks of one name and different URLs: the last one stays,
  // the two earlier ones are flagged and removed from the last down. Both
  // have the same kind-5 key but differ in kind-4: without a server id the
  // second replaces the first; with ids both are kept.
  for (bool withIds : {false, true}) {
    auto tree = std::make_shared<TDefaultSimpleTree>("Root");
    tree->Add(Bm("x", "http://1/", withIds ? 1 : -1));
    tree->Add(Bm("x", "http://2/", withIds ? 2 : -1));
    tree->Add(Bm("x", "http://3/", withIds ? 3 : -1));
    tree->InitHashes();
    TNodeList removed = Unduplicate(*tree);
    ASSERT_EQ(tree->Count(), 1);
    EXPECT_EQ(std::dynamic_pointer_cast<IBookmark>(tree->Get(0))->GetURL(), "http://3/");
    std::vector<std::string> urls;
    for (const auto& r : removed) urls.push_back(std::dynamic_pointer_cast<IBookmark>(r)->GetURL());
    if (withIds) {
      EXPECT_EQ(urls, (std::vector<std::string>{"http://2/", "http://1/"}));
    } else {
      EXPECT_EQ(urls, std::vector<std::string>{"http://1/"});
    }
  }
}

TEST_F(TreeToolsTest, PreFlaggedBookmarksGoOnlyWithAMarkingPass) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  auto stale = Bm("s", "http://s/");
  tree->Add(stale);
  tree->Add(Bm("a", "http://a/"));
  tree->InitHashes();
  stale->SetFlags(kFlagsUnduplicate);
  EXPECT_TRUE(Unduplicate(*tree).empty());
  EXPECT_EQ(tree->Count(), 2);

  // Once something in the folder is flagged, every flagged child goes.
  tree->Add(Bm("b", "http://a/"));
  tree->Add(Bm("a", "http://a/"));
  tree->InitHashes();
  TNodeList removed = Unduplicate(*tree);
  EXPECT_EQ(Names(removed), (std::vector<std::string>{"b", "a", "s"}));
  EXPECT_EQ(ChildNames(*tree), std::vector<std::string>{"a"});
}

// Records the notifications of one Unduplicate.
struct TCounter {
  int begins = 0, ends = 0;
  void OnChange(const TChange& c) { (c.Kind == ckBeginUpdate ? begins : ends)++; }
};

TEST_F(TreeToolsTest, UnduplicateRunsInOneBracketEvenWhenItFails) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  TCounter counter;
  tree->AddListener(TTreeChangeMethod::Of<TCounter, &TCounter::OnChange>(&counter));
  auto folder = Fd("F");
  folder->Add(Bm("b", "http://x/"));
  folder->Add(Bm("a", "http://x/"));
  tree->Add(folder);
  tree->InitHashes();
  EXPECT_EQ(Unduplicate(tree).size(), 1u);
  EXPECT_EQ(counter.begins, 1);
  EXPECT_EQ(counter.ends, 1);
  EXPECT_EQ(tree->CountByURL("http://x/"), 1);

  // Keys never computed: the pass raises, the bracket still closes (and
  // its rebuild computes them).
  auto fresh = Fd("G");
  fresh->Add(Bm("c", "http://c/"));
  tree->Add(fresh);
  EXPECT_THROW(Unduplicate(*tree), TKException);
  EXPECT_EQ(tree->UpdateDepth(), 0);
  EXPECT_EQ(counter.ends, 2);
  EXPECT_EQ(tree->CountByURL("http://c/"), 1);

  // A folder that is not a tree has no bracket.
  auto plain = Fd("Plain");
  plain->Add(Bm("b", "http://x/"));
  plain->Add(Bm("a", "http://x/"));
  plain->InitHashes("");
  EXPECT_EQ(Names(Unduplicate(plain)), std::vector<std::string>{"b"});
}

TEST_F(TreeToolsTest, RemovedBookmarksOutliveTheirTree) {
  TNodeList removed;
  TNodeList moved;
  {
    auto tree = std::make_shared<TDefaultSimpleTree>("Root");
    auto a = Fd("A");
    a->Add(Bm("x", "http://x/"));
    auto a2 = Fd("a");
    a2->Add(Bm("y", "http://x/"));
    tree->Add(a);
    tree->Add(a2);
    tree->InitHashes();
    removed = Unduplicate(*tree);
    moved.push_back(a->Get(0));
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(Describe(removed[0]), "B>/A:y:http://x/");
  }
  // The folders are gone: the parent pointers read as none.
  EXPECT_EQ(removed[0]->GetParent(), nullptr);
  EXPECT_EQ(moved[0]->GetParent(), nullptr);
  EXPECT_EQ(Describe(removed[0]), "B>/:y:http://x/");
  EXPECT_TRUE(NamePath(removed[0]).empty());
  EXPECT_EQ(GetParentFolder(removed[0]), nullptr);
}

// ---------------------------------------------------------------------------
// The pass exactly as first stated, scanning every earlier sibling, to check
// that the indexed version answers the same on random trees.

void ReferencePut(TNodeList& removed, const IBNodePtr& b) {
  for (int i = static_cast<int>(removed.size()) - 1; i >= 0; --i) {
    const IBNodePtr& e = removed[static_cast<std::size_t>(i)];
    if (e->GetHash(hkPath) != b->GetHash(hkPath)) continue;
    if (e->GetHash(hkPathURLId) == b->GetHash(hkPathURLId)) return;
    if (GetServerId(b) != -1) continue;
    removed.erase(removed.begin() + i);
    removed.push_back(b);
    return;
  }
  removed.push_back(b);
}

void ReferencePass(IFolder& f, TNodeList& removed) {
  bool marked = false;
  for (int p = f.Count() - 1; p >= 0; --p) {
    IBNodePtr node = f.Get(p);
    if (!node->IsValid()) continue;
    if (auto folder = std::dynamic_pointer_cast<IFolder>(node)) {
      for (int q = p - 1; q >= 0; --q) {
        IBNodePtr other = f.Get(q);
        if (other->GetHash(hkNameKind) != node->GetHash(hkNameKind)) continue;
        auto target = std::dynamic_pointer_cast<IFolder>(other);
        TNodeList children;
        for (int i = 0; i < folder->Count(); ++i) children.push_back(folder->Get(i));
        for (const auto& child : children) target->Add(child);
        f.Delete(p);
        break;
      }
      continue;
    }
    for (int q = p - 1; q >= 0; --q) {
      IBNodePtr other = f.Get(q);
      if (other->GetFlags() == kFlagsUnduplicate) continue;
      if (other->GetHash(hkURL) == node->GetHash(hkURL) ||
          other->GetHash(hkNameKind) == node->GetHash(hkNameKind)) {
        if (node->GetNormalizedName().compare(other->GetNormalizedName()) > 0) {
          ReferencePut(removed, node);
          f.Delete(p);
          break;
        }
        other->SetFlags(kFlagsUnduplicate);
        marked = true;
      }
    }
  }
  if (marked) {
    for (int b = f.Count() - 1; b >= 0; --b) {
      IBNodePtr child = f.Get(b);
      if (child->GetFlags() == kFlagsUnduplicate) {
        ReferencePut(removed, child);
        f.Delete(b);
      }
    }
  }
  for (int i = 0; i < f.Count(); ++i) {
    if (auto sub = std::dynamic_pointer_cast<IFolder>(f.Get(i))) ReferencePass(*sub, removed);
  }
}

// A small random tree with many collisions: few names (some equal only
// after normalizing), few URLs, empty ones, ids and stale flags.
std::shared_ptr<TDefaultSimpleTree> RandomTree(unsigned seed) {
  std::mt19937 rng(seed);
  const char* folderNames[] = {"A", "a", "a.", "B", "C"};
  const char* bookmarkNames[] = {"x", "X", "x ", "y", "z", ""};
  const char* urls[] = {"http://1/", "http://2/", "http://3/", ""};
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  std::function<void(IFolder&, int)> fill = [&](IFolder& folder, int depth) {
    const int n = pick(9);
    for (int i = 0; i < n; ++i) {
      IBNodePtr node;
      if (depth < 3 && pick(3) == 0) {
        auto sub = Fd(folderNames[pick(5)], pick(3) == 0 ? pick(4) : -1);
        fill(*sub, depth + 1);
        node = sub;
      } else {
        node = Bm(bookmarkNames[pick(6)], urls[pick(4)], pick(3) == 0 ? pick(4) : -1);
      }
      folder.Add(node);
      const int f = pick(10);
      node->SetFlags(f == 0 ? kFlagsUnduplicate : f == 1 ? 1u : 0u);
    }
  };
  fill(*tree, 0);
  tree->InitHashes();
  return tree;
}

void Dump(const IFolder& folder, std::string& out, int depth) {
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr n = folder.Get(i);
    out += std::string(static_cast<std::size_t>(depth), ' ') + n->GetName() + "|" + std::to_string(n->GetFlags());
    if (auto b = std::dynamic_pointer_cast<IBookmark>(n)) out += "|" + b->GetURL() + "|" + std::to_string(b->GetId());
    out += "\n";
    if (auto f = std::dynamic_pointer_cast<IFolder>(n)) Dump(*f, out, depth + 1);
  }
}

std::string DumpRemoved(const TNodeList& removed) {
  std::string out;
  for (const auto& r : removed) out += Describe(r) + "|" + std::to_string(GetServerId(r)) + "\n";
  return out;
}

TEST_F(TreeToolsTest, UnduplicateAnswersAsTheFullSiblingScan) {
  for (unsigned seed = 1; seed <= 400; ++seed) {
    auto mine = RandomTree(seed);
    auto reference = RandomTree(seed);
    std::string before;
    Dump(*mine, before, 0);

    TNodeList removedMine = Unduplicate(*mine);
    TNodeList removedReference;
    reference->BeginUpdate();
    ReferencePass(*reference, removedReference);
    reference->EndUpdate();

    std::string a, b;
    Dump(*mine, a, 0);
    Dump(*reference, b, 0);
    ASSERT_EQ(a, b) << "seed " << seed << "\n" << before;
    ASSERT_EQ(DumpRemoved(removedMine), DumpRemoved(removedReference)) << "seed " << seed << "\n" << before;
  }
}

}  // namespace
}  // namespace kelvo
