#include "bookmarks/DefaultSimpleTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestHome.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "bookmarks/TreeTools.h"
#include "foundation/KException.h"
#include "foundation/Log.h"

namespace kelvo {
namespace {

using test::ReadFileText;
using test::TTestHome;

std::shared_ptr<TDefaultKBookmark> Bm(const std::string& name, const std::string& url) {
  return std::make_shared<TDefaultKBookmark>(name, url);
}

std::shared_ptr<TDefaultKFolder> Fd(const std::string& name) {
  return std::make_shared<TDefaultKFolder>(name);
}

// A tree root like the Favorites tree: the rebuild marks duplicates. It
// also counts the rebuilds.
class TMarkingTree : public TDefaultSimpleTree {
 public:
  using TDefaultSimpleTree::TDefaultSimpleTree;
  mutable int rebuilds = 0;
  bool marking = true;

 protected:
  bool MarksDuplicates() const override {
    ++rebuilds;
    return marking;
  }
};

// Records what it hears; can be told to throw or to act on the tree.
class TRecorder {
 public:
  std::vector<std::string> heard;
  std::string name;

  explicit TRecorder(std::string n = "") : name(std::move(n)) {}
  void OnChange(const TChange& change) {
    heard.push_back(std::string(ChangeKindName(change.Kind)) + "/" + ChangeScopeName(change.Scope));
  }
  TTreeChangeMethod Method() { return TTreeChangeMethod::Of<TRecorder, &TRecorder::OnChange>(this); }
};

class TThrower {
 public:
  int kind = 0;
  void OnChange(const TChange&) {
    if (kind == 0) throw TKException("listener broke");
    if (kind == 1) throw std::runtime_error("std listener broke");
    throw 42;
  }
};

class DefaultSimpleTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { TLog::Init(2, home_.Sub("kelvo.log"), false, false); }
  void TearDown() override { TLog::ResetForTests(); }
  std::string LogText() const { return ReadFileText(TLog::GetFileName()); }

  TTestHome home_;
};

// Root
//   News/ Daily (http://d/), Sport (http://s/)
//   Tech/ Daily (http://d/)
//   Top (http://t/)
std::shared_ptr<TMarkingTree> SampleTree() {
  auto tree = std::make_shared<TMarkingTree>("Root");
  auto news = Fd("News");
  news->Add(Bm("Daily", "http://d/"));
  news->Add(Bm("Sport", "http://s/"));
  auto tech = Fd("Tech");
  tech->Add(Bm("Daily", "http://d/"));
  tree->Add(news);
  tree->Add(tech);
  tree->Add(Bm("Top", "http://t/"));
  tree->InitHashes();
  return tree;
}

TEST_F(DefaultSimpleTreeTest, LookupsByKeyAndURL) {
  auto tree = SampleTree();
  auto news = tree->FindFolder("/newsF");
  ASSERT_TRUE(news);
  EXPECT_EQ(news->GetName(), "News");
  EXPECT_FALSE(tree->FindFolder("/news/dailyB"));  // bookmarks are not folders
  auto daily = tree->FindNode("/news/dailyB");
  ASSERT_TRUE(daily);
  EXPECT_EQ(daily->GetParent(), news.get());
  EXPECT_EQ(tree->FindNode("/techF"), tree->Get(1));
  EXPECT_EQ(tree->FindNode("/topB"), tree->Get(2));
  EXPECT_FALSE(tree->FindNode("/nothingF"));

  // Same URL in two folders: both, in walk order.
  TNodeList same = tree->FindBookmarksByURL("http://d/");
  ASSERT_EQ(same.size(), 2u);
  EXPECT_EQ(same[0], daily);
  EXPECT_EQ(same[1]->GetParent(), tree->Get(1).get());
  EXPECT_EQ(tree->CountByURL("http://d/"), 2);
  EXPECT_EQ(tree->CountByURL("http://s/"), 1);
  EXPECT_EQ(tree->CountByURL("http://x/"), 0);
  EXPECT_TRUE(tree->FindBookmarksByURL("http://x/").empty());
}

TEST_F(DefaultSimpleTreeTest, SiblingFoldersOfTheSameNameFindTheFirst) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  auto first = Fd("News");
  auto second = Fd("news.");  // folder mode trims dots and folds case
  tree->Add(first);
  tree->Add(second);
  tree->InitHashes();
  EXPECT_EQ(tree->FindFolder("/newsF"), first);
  EXPECT_EQ(tree->FindNode("/newsF"), first);
}

TEST_F(DefaultSimpleTreeTest, CanonicalLookupsAndEmptyKeys) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  tree->Add(Bm("a", "http://www.Host/index.html"));
  tree->Add(Bm("b", "http://host:80/#top"));
  tree->Add(Bm("c", ""));
  tree->Add(Bm("d", ""));
  tree->Add(Bm("e", "ftp://host/"));
  tree->InitHashes();

  EXPECT_EQ(tree->CountByCanonicalURL("http:host/"), 2);
  TNodeList found = tree->FindBookmarksByCanonicalURL("http:host/");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->GetName(), "a");
  EXPECT_EQ(tree->CountByURL("http://www.Host/index.html"), 1);  // kind-2 keys still differ

  // Unknown schemes and empty URLs share the empty canonical form, which
  // never counts; the empty URL key does.
  EXPECT_EQ(tree->CountByCanonicalURL(""), 0);
  EXPECT_EQ(tree->CountByURL(""), 2);
  EXPECT_EQ(tree->FindBookmarksByURL("").size(), 2u);
}

TEST_F(DefaultSimpleTreeTest, LongURLsAreLookedUpByTheirKey) {
  const std::string prefix = "http://h/" + std::string(245, 'x');  // 254 characters
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  tree->Add(Bm("a", prefix + "AAAA"));
  tree->Add(Bm("b", prefix + "BBBB"));
  tree->InitHashes();
  // Both keys are the first 254 characters, so any URL with that start finds both.
  EXPECT_EQ(tree->CountByURL(prefix + "zzz"), 2);
  EXPECT_EQ(tree->FindBookmarksByURL(prefix).size(), 2u);
}

TEST_F(DefaultSimpleTreeTest, EditsShowAfterTheClosingEndUpdate) {
  auto tree = SampleTree();
  auto news = std::dynamic_pointer_cast<IFolder>(tree->FindFolder("/newsF"));
  EXPECT_EQ(tree->BookmarkCount(), 4);

  tree->BeginUpdate();
  tree->BeginUpdate();
  news->SetName("Headlines");
  news->Add(Bm("Weather", "http://w/"));
  tree->EndUpdate();
  // Still inside the outer bracket: old keys and indexes.
  EXPECT_EQ(tree->FindFolder("/newsF"), news);
  EXPECT_EQ(tree->CountByURL("http://w/"), 0);
  EXPECT_EQ(tree->GetName(), "Root");
  tree->EndUpdate();

  EXPECT_FALSE(tree->FindFolder("/newsF"));
  EXPECT_EQ(tree->FindFolder("/headlinesF"), news);
  EXPECT_TRUE(tree->FindNode("/headlines/weatherB"));
  EXPECT_EQ(news->Get(0)->GetHash(hkPath), "/headlines/dailyB");
  EXPECT_EQ(tree->CountByURL("http://w/"), 1);
  EXPECT_EQ(tree->CountByCanonicalURL("http:w/"), 1);
  EXPECT_EQ(tree->BookmarkCount(), 5);  // counts were reset
  EXPECT_EQ(tree->GetHash(hkPath), "/rootF");
}

TEST_F(DefaultSimpleTreeTest, NestedBracketsNotifyAndRebuildOnce) {
  auto tree = SampleTree();
  TRecorder recorder;
  tree->AddListener(recorder.Method());
  tree->rebuilds = 0;

  tree->BeginUpdate();
  EXPECT_EQ(tree->UpdateDepth(), 1);
  tree->BeginUpdate();
  tree->BeginUpdate();
  tree->EndUpdate();
  tree->EndUpdate();
  EXPECT_EQ(tree->rebuilds, 0);
  EXPECT_EQ(recorder.heard, std::vector<std::string>{"begin update/none"});
  tree->EndUpdate();
  EXPECT_EQ(tree->rebuilds, 1);
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"begin update/none", "end update/structure"}));
  EXPECT_EQ(tree->UpdateDepth(), 0);

  // An unpaired EndUpdate is ignored: the next bracket still notifies.
  tree->EndUpdate();
  EXPECT_EQ(tree->UpdateDepth(), 0);
  EXPECT_EQ(tree->rebuilds, 1);
  tree->BeginUpdate();
  tree->EndUpdate();
  EXPECT_EQ(recorder.heard.size(), 4u);
}

TEST_F(DefaultSimpleTreeTest, RebuildMarksDuplicatesOnlyOnMarkingTrees) {
  auto tree = SampleTree();
  tree->BeginUpdate();
  tree->EndUpdate();
  auto daily1 = std::dynamic_pointer_cast<IBookmark>(tree->FindNode("/news/dailyB"));
  auto daily2 = std::dynamic_pointer_cast<IBookmark>(tree->FindNode("/tech/dailyB"));
  auto sport = std::dynamic_pointer_cast<IBookmark>(tree->FindNode("/news/sportB"));
  EXPECT_TRUE(daily1->GetDuplicate());
  EXPECT_TRUE(daily2->GetDuplicate());
  EXPECT_FALSE(sport->GetDuplicate());
  EXPECT_EQ(DuplicateCount(), 2);
  EXPECT_NE(daily1->GetFlags() & nfModified, 0u);

  // Once one of them is gone, the other is no longer a duplicate.
  tree->BeginUpdate();
  std::dynamic_pointer_cast<IFolder>(tree->Get(1))->Delete(0);
  tree->EndUpdate();
  EXPECT_FALSE(daily1->GetDuplicate());
  EXPECT_EQ(DuplicateCount(), 0);

  auto plain = std::make_shared<TDefaultSimpleTree>("Root");
  auto a = Bm("a", "http://d/");
  auto b = Bm("b", "http://d/");
  plain->Add(a);
  plain->Add(b);
  plain->BeginUpdate();
  plain->EndUpdate();
  EXPECT_FALSE(a->GetDuplicate());
  EXPECT_EQ(plain->CountByURL("http://d/"), 2);
}

TEST_F(DefaultSimpleTreeTest, ListenersAreRegisteredOnceAndRemovedCompletely) {
  auto tree = SampleTree();
  TRecorder one("one");
  TRecorder two("two");
  tree->AddListener(one.Method());
  tree->AddListener(one.Method());
  tree->AddListener(two.Method());
  tree->BeginUpdate();
  EXPECT_EQ(one.heard.size(), 1u);
  EXPECT_EQ(two.heard.size(), 1u);
  tree->RemoveListener(one.Method());
  tree->EndUpdate();
  EXPECT_EQ(one.heard.size(), 1u);
  EXPECT_EQ(two.heard.size(), 2u);
  // Same object, other method: a different listener.
  struct TTwoMethods {
    int a = 0, b = 0;
    void A(const TChange&) { ++a; }
    void B(const TChange&) { ++b; }
  } both;
  tree->AddListener(TTreeChangeMethod::Of<TTwoMethods, &TTwoMethods::A>(&both));
  tree->AddListener(TTreeChangeMethod::Of<TTwoMethods, &TTwoMethods::B>(&both));
  tree->BeginUpdate();
  EXPECT_EQ(both.a, 1);
  EXPECT_EQ(both.b, 1);
  tree->RemoveListener(TTreeChangeMethod::Of<TTwoMethods, &TTwoMethods::A>(&both));
  tree->EndUpdate();
  EXPECT_EQ(both.a, 1);
  EXPECT_EQ(both.b, 2);
}

TEST_F(DefaultSimpleTreeTest, AFailingListenerIsLoggedAndTheNextOneStillCalled) {
  auto tree = SampleTree();
  TThrower own, standard, other;
  standard.kind = 1;
  other.kind = 2;
  TRecorder last;
  tree->AddListener(TTreeChangeMethod::Of<TThrower, &TThrower::OnChange>(&own));
  tree->AddListener(TTreeChangeMethod::Of<TThrower, &TThrower::OnChange>(&standard));
  tree->AddListener(TTreeChangeMethod::Of<TThrower, &TThrower::OnChange>(&other));
  tree->AddListener(last.Method());
  EXPECT_NO_THROW(tree->BeginUpdate());
  EXPECT_NO_THROW(tree->EndUpdate());
  EXPECT_EQ(last.heard, (std::vector<std::string>{"begin update/none", "end update/structure"}));
  // The rebuild went through despite the listeners.
  EXPECT_EQ(tree->UpdateDepth(), 0);
  const std::string log = LogText();
  EXPECT_NE(log.find("listener broke"), std::string::npos);
  EXPECT_NE(log.find("std listener broke"), std::string::npos);
  EXPECT_NE(log.find("TDefaultSimpleTree.Notify:end update"), std::string::npos);
}

TEST_F(DefaultSimpleTreeTest, NotifyTerminatedOutsideAnUpdateFreezesTheTree) {
  auto tree = SampleTree();
  TRecorder recorder;
  tree->AddListener(recorder.Method());
  tree->rebuilds = 0;
  tree->NotifyTerminated();
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"begin update/none", "end update/terminated"}));
  EXPECT_EQ(tree->UpdateDepth(), 1);
  // From now on brackets are silent and nothing is rebuilt.
  tree->BeginUpdate();
  tree->EndUpdate();
  EXPECT_EQ(recorder.heard.size(), 2u);
  EXPECT_EQ(tree->rebuilds, 0);
}

TEST_F(DefaultSimpleTreeTest, NotifyTerminatedInsideAnUpdateWaitsForItsEnd) {
  auto tree = SampleTree();
  TRecorder recorder;
  tree->AddListener(recorder.Method());
  tree->BeginUpdate();
  tree->BeginUpdate();
  tree->NotifyTerminated();
  tree->EndUpdate();
  EXPECT_EQ(recorder.heard, std::vector<std::string>{"begin update/none"});
  tree->EndUpdate();
  EXPECT_EQ(recorder.heard, (std::vector<std::string>{"begin update/none", "end update/structure",
                                                      "begin update/none", "end update/terminated"}));
  EXPECT_EQ(tree->UpdateDepth(), 1);
  tree->BeginUpdate();
  tree->EndUpdate();
  EXPECT_EQ(recorder.heard.size(), 4u);
}

// A listener may let go of the tree, or of another listener, while it is
// being notified.
class TTreeOwner {
 public:
  std::shared_ptr<TDefaultSimpleTree> tree;
  TRecorder* other = nullptr;
  int calls = 0;
  void OnChange(const TChange& change) {
    ++calls;
    if (change.Kind != ckEndUpdate || !tree) return;
    if (other) tree->RemoveListener(other->Method());
    tree.reset();  // the last reference
  }
};

TEST_F(DefaultSimpleTreeTest, AListenerMayDropTheTreeOrAnotherListener) {
  TTreeOwner owner;
  TRecorder later;
  std::weak_ptr<TDefaultSimpleTree> watch;
  {
    auto tree = SampleTree();
    watch = tree;
    owner.tree = tree;
    owner.other = &later;
    tree->AddListener(TTreeChangeMethod::Of<TTreeOwner, &TTreeOwner::OnChange>(&owner));
    tree->AddListener(later.Method());
    tree->BeginUpdate();
    tree->NotifyTerminated();
  }
  // Only the owner holds the tree now; the closing EndUpdate lets it go
  // from inside the first notification, and the pending termination is
  // still delivered after that.
  ASSERT_FALSE(watch.expired());
  TDefaultSimpleTree* raw = watch.lock().get();
  raw->EndUpdate();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(owner.calls, 4);
  EXPECT_EQ(later.heard, std::vector<std::string>{"begin update/none"});
}

TEST_F(DefaultSimpleTreeTest, UpdateBracketClosesOnException) {
  auto tree = SampleTree();
  TRecorder recorder;
  tree->AddListener(recorder.Method());
  try {
    TTreeUpdateBracket bracket(tree.get());
    tree->Add(Bm("New", "http://n/"));
    throw std::runtime_error("edit failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(tree->UpdateDepth(), 0);
  EXPECT_EQ(recorder.heard.size(), 2u);
  EXPECT_TRUE(tree->FindNode("/newB"));

  TTreeUpdateBracket none(nullptr);  // trees without a notifier
  none.End();
}

TEST_F(DefaultSimpleTreeTest, ALookupBeforeInitHashesRaisesTheNodesError) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Root");
  tree->Add(Bm("a", "http://a/"));
  EXPECT_THROW(tree->FindBookmarksByURL("http://a/"), TKException);
  tree->InitHashes();
  EXPECT_EQ(tree->CountByURL("http://a/"), 1);
}

}  // namespace
}  // namespace kelvo
