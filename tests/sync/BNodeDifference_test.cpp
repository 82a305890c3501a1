// Tree differences between a real Favorites folder read from disk and the
// tree of a server answer: pairing by key, the unpaired lists, how two nodes
// relate, the difference list in its order and its texts.

// GCC 12 folds the shared_ptr set-up of the node classes with virtual
// bases and then warns falsely about reads past the smaller nodes
// (-Warray-bounds); the sanitizer build checks the real accesses.
#pragma GCC diagnostic ignored "-Warray-bounds"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TreeSyncTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/Folder.h"
#include "bookmarks/FolderEx.h"
#include "bookmarks/TreeTools.h"
#include "sync/BNodeDifference.h"

namespace kelvo {
namespace {

using test::ServerTreeOf;
namespace fs = std::filesystem;

// The node at "a/b/name" below folder (folders and bookmarks by name).
IBNodePtr NodeAt(const IFolder& folder, const std::string& path) {
  IBNodePtr node;
  const IFolder* at = &folder;
  std::size_t start = 0;
  while (at != nullptr && start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    node = nullptr;
    for (int i = 0; i < at->Count(); ++i) {
      if (at->Get(i)->GetName() == name) node = at->Get(i);
    }
    if (!node || slash == std::string::npos) return node;
    at = dynamic_cast<const IFolder*>(node.get());
    start = slash + 1;
  }
  return node;
}

// "Kind local-description | server-description" per difference.
std::vector<std::string> Summary(const TBNodeDifferenceList& list) {
  std::vector<std::string> out;
  for (const auto& difference : list) {
    out.push_back(std::string(DiffKindName(difference->GetKind())) + " " + Describe(difference->GetLocalNode()) +
                  " | " + Describe(difference->GetServerNode()));
  }
  return out;
}

std::vector<std::string> Describe(const TNodeList& nodes) {
  std::vector<std::string> out;
  for (const auto& node : nodes) out.push_back(kelvo::Describe(node));
  return out;
}

class BNodeDifferenceTest : public test::TreeSyncTest {
 protected:
  // Pairs and computes the differences of the Favorites folder against the
  // server links.
  TBNodeDifferenceList Differences(const std::string& links) {
    local_ = ReadFavorites();
    server_ = ServerTreeOf(links);
    PairTrees(*local_, *server_);
    return ComputeDifferences(*local_, *server_);
  }

  std::shared_ptr<TFileTree> local_;
  TServerTreePtr server_;
};

// The local folder used by most cases.
const std::vector<std::string> kNews = {
    "News/Daily.url=http://daily.example/", "News/Weekly.url=http://weekly.example/",
    "Tools/Search.url=http://search.example/", "Top.url=http://top.example/"};

TEST_F(BNodeDifferenceTest, IdenticalTreesPairEveryNodeAndDifferInNothing) {
  // Server titles the Favorites folder cannot store as file names still
  // pair: the keys use the comparison form ("News: Daily" is stored as
  // "News Daily").
  WriteFavorites({"News/Daily.url=http://daily.example/", "News/News Daily.url=http://nd.example/",
                  "Top.url=http://top.example/", "Empty/"});
  const auto list = Differences(
      R"(<link path="/News" title="Daily" url="http://daily.example/" id=":11"/>)"
      R"(<link path="/News" title="News: Daily" url="http://nd.example/" id=":12"/>)"
      R"(<link path="/" title="Top" url="http://top.example/" id=":13"/>)"
      R"(<link path="/Empty" id=":14"/>)");
  EXPECT_TRUE(list.empty()) << DifferencesText(list);
  EXPECT_TRUE(CollectUnpaired(*local_).empty());
  EXPECT_TRUE(CollectUnpaired(*server_).empty());
  // Partners point at each other; paired bookmarks carry the touched bit.
  const IBNodePtr daily = NodeAt(*local_, "News/Daily");
  IBNode* partner = PairedNode(*daily);
  ASSERT_NE(partner, nullptr);
  EXPECT_EQ(PairedNode(*partner), daily.get());
  EXPECT_EQ(partner->GetName(), "Daily");
  EXPECT_NE(daily->GetFlags() & kFlagTouched, 0u);
  EXPECT_EQ(PairedNode(*partner->GetParent()), NodeAt(*local_, "News").get());
}

TEST_F(BNodeDifferenceTest, SingleChangesGiveTheirKind) {
  struct TCase {
    const char* what;
    std::string links;
    std::vector<std::string> expected;
  };
  const std::string weekly = R"(<link path="/News" title="Weekly" url="http://weekly.example/"/>)";
  const std::string daily = R"(<link path="/News" title="Daily" url="http://daily.example/"/>)";
  const std::string search = R"(<link path="/Tools" title="Search" url="http://search.example/"/>)";
  const std::string top = R"(<link path="/" title="Top" url="http://top.example/"/>)";
  const TCase cases[] = {
      {"renamed in its folder",
       weekly + R"(<link path="/News" title="Daily news" url="http://daily.example/"/>)" + search + top,
       {"DiffCaptionChanged B>/News:Daily:http://daily.example/ | B>/News:Daily news:http://daily.example/"}},
      {"URL changed",
       weekly + R"(<link path="/News" title="Daily" url="http://daily.example/v2"/>)" + search + top,
       {"DiffUrlChanged B>/News:Daily:http://daily.example/ | B>/News:Daily:http://daily.example/v2"}},
      {"moved to another folder", weekly + search + R"(<link path="/Tools" title="Daily" url="http://daily.example/"/>)" + top,
       {"DiffMoved B>/News:Daily:http://daily.example/ | B>/Tools:Daily:http://daily.example/"}},
      {"moved to the root", weekly + search + R"(<link path="/" title="Daily" url="http://daily.example/"/>)" + top,
       {"DiffMoved B>/News:Daily:http://daily.example/ | B>/:Daily:http://daily.example/"}},
      {"name and URL both changed",
       weekly + R"(<link path="/News" title="Morning" url="http://morning.example/"/>)" + search + top,
       {"DiffDeleted B>/News:Daily:http://daily.example/ | ",
        "DiffAdded  | B>/News:Morning:http://morning.example/"}},
      {"folder renamed, same content",
       daily + weekly + R"(<link path="/Utilities" title="Search" url="http://search.example/"/>)" + top,
       {"DiffCaptionChanged F>/Tools | F>/Utilities"}},
      {"folder moved, same content",
       daily + weekly + R"(<link path="/News/Tools" title="Search" url="http://search.example/"/>)" + top,
       {"DiffMoved F>/Tools | F>/News/Tools"}},
      {"folder renamed and its content changed",
       daily + weekly + R"(<link path="/Utilities" title="Search" url="http://search.example/v2"/>)" + top,
       {"DiffDeleted F>/Tools | ", "DiffAdded  | F>/Utilities"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFavorites(kNews);
    EXPECT_EQ(Summary(Differences(c.links)), c.expected);
    fs::remove_all(favorites_);
  }
}

TEST_F(BNodeDifferenceTest, RenamedFolderIsFoundThoughOnlyTheServerKnowsItsIds) {
  // The Favorites folder cannot keep server ids, the server's links always
  // carry them: the content still counts as the same.
  WriteFavorites({"Old name/Keep.url=http://keep.example/", "Old name/Sub/In.url=http://in.example/"});
  const auto list = Differences(R"(<link path="/Archive" id=":5"/>)"
                                R"(<link path="/Archive" title="Keep" url="http://keep.example/" id=":15"/>)"
                                R"(<link path="/Archive/Sub" title="In" url="http://in.example/" id=":16"/>)"
                                R"(<link path="/Archive/Sub" id=":6"/>)");
  EXPECT_EQ(Summary(list), (std::vector<std::string>{"DiffCaptionChanged F>/Old name | F>/Archive"}));
  // Content that differs in a URL is another folder.
  fs::remove_all(favorites_);
  WriteFavorites({"Old name/Keep.url=http://keep.example/", "Old name/Sub/In.url=http://in.example/other"});
  EXPECT_EQ(Differences(R"(<link path="/Archive" title="Keep" url="http://keep.example/" id=":15"/>)"
                        R"(<link path="/Archive/Sub" title="In" url="http://in.example/" id=":16"/>)")
                .size(),
            2u);
}

TEST_F(BNodeDifferenceTest, FolderAndBookmarkOfTheSameNameNeverRelate) {
  WriteFavorites({"News/Daily.url=http://daily.example/"});
  const auto list = Differences(R"(<link path="/" title="News" url="http://daily.example/"/>)");
  EXPECT_EQ(Summary(list), (std::vector<std::string>{"DiffDeleted F>/News | ",
                                                     "DiffAdded  | B>/:News:http://daily.example/"}));
  EXPECT_EQ(CompareNodes(*NodeAt(*local_, "News"), *server_->Get(0)), DiffNone);
  EXPECT_EQ(CompareNodes(*server_->Get(0), *NodeAt(*local_, "News")), DiffNone);
}

TEST_F(BNodeDifferenceTest, PrivateFolderIsOneUnpairedNodeThatRelatesToNothing) {
  WriteFavorites({"Secret/Bank.url=http://bank.example/", "Secret/Inner/Deep.url=http://deep.example/",
                  "Top.url=http://top.example/"});
  local_ = ReadFavorites();
  std::dynamic_pointer_cast<IFolderEx>(NodeAt(*local_, "Secret"))->SetPrivate(true);
  // The server holds the folder as a private link, and once more as a public
  // copy with the same content (from another machine).
  server_ = ServerTreeOf(R"(<link path="/Secret" private="CLIENT"/>)"
                         R"(<link path="/" title="Top" url="http://top.example/"/>)"
                         R"(<link path="/Copy" title="Bank" url="http://bank.example/"/>)"
                         R"(<link path="/Copy/Inner" title="Deep" url="http://deep.example/"/>)");
  PairTrees(*local_, *server_);
  EXPECT_EQ(PairedNode(*NodeAt(*local_, "Secret")), nullptr);
  EXPECT_EQ(Describe(CollectUnpaired(*local_)), (std::vector<std::string>{"F>/Secret"}));
  const auto list = ComputeDifferences(*local_, *server_);
  EXPECT_EQ(Summary(list), (std::vector<std::string>{"DiffDeleted F>/Secret | ", "DiffAdded  | F>/Copy",
                                                     "DiffAdded  | F>/Secret"}));
}

TEST_F(BNodeDifferenceTest, FirstRelatedServerNodeWinsAndTheOtherIsAdded) {
  WriteFavorites({"News/Daily.url=http://daily.example/"});
  const auto list = Differences(R"(<link path="/News" title="Daily paper" url="http://daily.example/"/>)"
                                R"(<link path="/News" title="The Daily" url="http://daily.example/"/>)");
  EXPECT_EQ(Summary(list),
            (std::vector<std::string>{
                "DiffCaptionChanged B>/News:Daily:http://daily.example/ | B>/News:Daily paper:http://daily.example/",
                "DiffAdded  | B>/News:The Daily:http://daily.example/"}));
}

TEST_F(BNodeDifferenceTest, DuplicatesPairOneToOneInOrder) {
  // Two local copies of one bookmark (in two folders of the same name),
  // three on the server: two pair, the third is added.
  WriteFavorites({"A/X.url=http://x.example/", "B/X.url=http://x.example/"});
  const auto list = Differences(R"(<link path="/A" title="X" url="http://x.example/"/>)"
                                R"(<link path="/A" title="X" url="http://x.example/"/>)"
                                R"(<link path="/B" title="X" url="http://x.example/"/>)");
  EXPECT_EQ(Summary(list), (std::vector<std::string>{"DiffAdded  | B>/A:X:http://x.example/"}));
  // The second server copy in /A is the one left over.
  const auto serverA = std::dynamic_pointer_cast<IFolder>(server_->Get(0));
  ASSERT_TRUE(serverA);
  EXPECT_EQ(list[0]->GetServerNode(), serverA->Get(1));
}

TEST_F(BNodeDifferenceTest, ListHoldsLocalSideInReversePreOrderThenAdditions) {
  WriteFavorites({"A/One.url=http://one.example/", "B/Two.url=http://two.example/", "Three.url=http://three.example/"});
  const auto list = Differences(R"(<link path="/C" title="New1" url="http://new1.example/"/>)"
                                R"(<link path="/" title="New2" url="http://new2.example/"/>)");
  // Local pre-order: A, B, Three (nothing pairs); reversed. Server
  // pre-order: C, New2; reversed.
  std::vector<std::string> order;
  for (const auto& difference : list) {
    order.push_back(difference->GetLocalNode() ? difference->GetLocalNode()->GetName()
                                               : "+" + difference->GetServerNode()->GetName());
  }
  const IBNodePtr first = local_->Get(0);
  std::vector<std::string> expected = {local_->Get(2)->GetName(), local_->Get(1)->GetName(), first->GetName(), "+New2",
                                       "+C"};
  EXPECT_EQ(order, expected);
}

TEST_F(BNodeDifferenceTest, TextsNameKindAndBothNodes) {
  // The server folder "a/b" is stored locally as "a-b"; they pair.
  WriteFavorites({"News/Daily.url=http://daily.example/", "Tools/a-b/Other.url=http://other.example/", "Old/"});
  const auto list = Differences(R"(<link path="/News" id=":3"/>)"
                                R"(<link path="/Tools/a\/b" title="Other" url="http://other.example/"/>)"
                                R"(<link path="/Tools/a\/b" title="Daily" url="http://daily.example/"/>)"
                                R"(<link path="/New" id=":9"/>)");
  ASSERT_EQ(list.size(), 3u) << DifferencesText(list);
  auto textOf = [&](TBNodeDiffKind kind) {
    for (const auto& difference : list) {
      if (difference->GetKind() == kind) return difference->GetText();
    }
    return std::string("(none)");
  };
  EXPECT_EQ(textOf(DiffDeleted), "Type:DiffDeleted\r\nF>/Old");
  EXPECT_EQ(textOf(DiffMoved),
            "Type:DiffMoved\r\nB>/News:Daily:http://daily.example/\r\nB>/Tools/a/b:Daily:http://daily.example/");
  EXPECT_EQ(textOf(DiffAdded), "Type:DiffAdded\r\nF>/New");
  EXPECT_EQ(DifferencesText(list),
            "\r\n" + list[0]->GetText() + "\r\n" + list[1]->GetText() + "\r\n" + list[2]->GetText());
  EXPECT_EQ(DifferencesText({}), "");
  EXPECT_STREQ(DiffKindName(DiffNone), "DiffNone");
  EXPECT_STREQ(DiffKindName(static_cast<TBNodeDiffKind>(9)), "");
}

TEST_F(BNodeDifferenceTest, NamesAndPathsCompareInTheirComparisonForm) {
  // The server renamed a bookmark inside a folder whose server name the
  // Favorites folder stores in its file-safe form ("Q&A: Misc" as "Q&A
  // Misc"): still one renamed bookmark, not a deletion and an addition.
  WriteFavorites({"Q&A Misc/Faq.url=http://faq.example/", "Q&A Misc/Keep.url=http://keep.example/"});
  const auto list = Differences(R"(<link path="/Q&amp;A: Misc" title="FAQ list" url="http://faq.example/"/>)"
                                R"(<link path="/Q&amp;A: Misc" title="Keep" url="http://keep.example/"/>)");
  EXPECT_EQ(Summary(list), (std::vector<std::string>{"DiffCaptionChanged B>/Q&A Misc:Faq:http://faq.example/ | "
                                                     "B>/Q&A: Misc:FAQ list:http://faq.example/"}));
}

TEST_F(BNodeDifferenceTest, EmptyFoldersRelateToNothing) {
  // Two folders without valid content have equal checksums; they are not
  // therefore one folder renamed or moved.
  WriteFavorites({"New folder/", "A/Holder/", "A/Keep.url=http://keep.example/"});
  const auto list = Differences(R"(<link path="/Other" id=":5"/>)"
                                R"(<link path="/A" title="Keep" url="http://keep.example/"/>)"
                                R"(<link path="/B/Holder" id=":6"/>)");
  for (const auto& difference : list) {
    EXPECT_TRUE(difference->GetKind() == DiffDeleted || difference->GetKind() == DiffAdded) << difference->GetText();
  }
  EXPECT_EQ(list.size(), 4u) << DifferencesText(list);
}

TEST_F(BNodeDifferenceTest, PairingAgainClearsTheEarlierPairing) {
  WriteFavorites(kNews);
  local_ = ReadFavorites();
  auto first = ServerTreeOf(R"(<link path="/News" title="Daily" url="http://daily.example/"/>)");
  PairTrees(*local_, *first);
  ASSERT_NE(PairedNode(*NodeAt(*local_, "News/Daily")), nullptr);
  auto second = ServerTreeOf(R"(<link path="/" title="Top" url="http://top.example/"/>)");
  PairTrees(*local_, *second);
  EXPECT_EQ(PairedNode(*NodeAt(*local_, "News/Daily")), nullptr);
  EXPECT_EQ(PairedNode(*NodeAt(*local_, "Top")), second->Get(0).get());
  ClearMarks(*local_);
  EXPECT_EQ(NodeAt(*local_, "Top")->GetTag(), 0u);
  EXPECT_EQ(NodeAt(*local_, "Top")->GetFlags() & kEngineFlags, 0u);
}

}  // namespace
}  // namespace kelvo
