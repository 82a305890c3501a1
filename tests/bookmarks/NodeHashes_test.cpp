// Identity keys of the node classes, the folder checksums and hash tracing.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "NodeTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/BookmarkExceptions.h"
#include "bookmarks/Folder.h"
#include "bookmarks/Hashing.h"

namespace kelvo {
namespace {

using test::NodeLogTest;

// The smallest tree root: a folder that supports ISimpleTree and hashes
// itself the way the roots do.
class TTestRoot : public TFolder, public virtual ISimpleTree {
 public:
  explicit TTestRoot(const std::string& name) : TFolder(name) {}
  void CollectStats(TBookmarkStats&) const override {}
  void InitRootHashes() {
    InitChildHashes("");
    ComputeRootHashes();
  }
};

std::int32_t Signed(const std::string& s) { return static_cast<std::int32_t>(StringChecksum(s)); }
// Signed 32-bit sum that wraps.
std::int32_t Add32(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

TEST(NodeHashes, TopLevelFolderAndItsBookmark) {
  auto root = std::make_shared<TTestRoot>("Favorites");
  auto news = std::make_shared<TDefaultKFolder>("News", false, 7);
  const std::string url = "HTTP://www.Daily.com/index.html#top";
  auto daily = std::make_shared<TDefaultKBookmark>("Daily", url, "", 3);
  root->Add(news);
  news->Add(daily);
  root->InitRootHashes();

  EXPECT_EQ(news->GetHash(hkPath), "/newsF");
  EXPECT_EQ(daily->GetHash(hkPath), "/news/dailyB");
  const std::string expected[8] = {"daily" + url, "daily" + url + "3", url, "dailyB",
                                   "/news/daily" + url + "3B", "/news/dailyB", "", ""};
  for (std::uint8_t kind = 0; kind < 8; ++kind) EXPECT_EQ(daily->GetHash(kind), expected[kind]) << int(kind);
  EXPECT_EQ(daily->GetCanonicalURL(), "http:daily.com/");
  EXPECT_EQ(daily->GetNormalizedName(), "daily");

  EXPECT_EQ(news->GetHash(hkNameURL), "");
  EXPECT_EQ(news->GetHash(hkNameURLId), "news7");
  EXPECT_EQ(news->GetHash(hkURL), "");
  EXPECT_EQ(news->GetHash(hkNameKind), "newsF");
  EXPECT_EQ(news->GetHash(hkPathURLId), "/news7F");
  EXPECT_EQ(news->GetHash(8), "");

  // The root keeps kinds 3 and 5 only.
  EXPECT_EQ(root->GetHash(hkNameKind), "favoritesF");
  EXPECT_EQ(root->GetHash(hkPath), "/favoritesF");
}

TEST(NodeHashes, RootPassesItsParentPathOnAndNamelessFoldersAddNothing) {
  auto root = std::make_shared<TTestRoot>("Favorites");
  auto blank = std::make_shared<TFolder>("??");  // normalizes to nothing
  auto inner = std::make_shared<TBookmark>("In", "http://i/");
  auto top = std::make_shared<TBookmark>("Top", "http://t/");
  root->Add(blank);
  root->Add(top);
  blank->Add(inner);
  root->InitHashes("/up");
  EXPECT_EQ(top->GetHash(hkPath), "/up/topB");
  EXPECT_EQ(blank->GetHash(hkPath), "/up/F");
  EXPECT_EQ(inner->GetHash(hkPath), "/up/inB");
  EXPECT_EQ(root->GetHash(hkNameURLId), "favorites") << "as an ordinary node the root has all its keys";

  // A plain folder does put its name into the path.
  auto plain = std::make_shared<TFolder>("Plain");
  auto b = std::make_shared<TBookmark>("B", "http://b/");
  plain->Add(b);
  plain->InitHashes("/up");
  EXPECT_EQ(plain->GetHash(hkPath), "/up/plainF");
  EXPECT_EQ(b->GetHash(hkPath), "/up/plain/bB");
}

TEST(NodeHashes, IdTextPerClassAndURLCut) {
  const std::string longURL = "http://h/" + std::string(300, 'a');
  auto plain = std::make_shared<TBookmark>("P", longURL);
  auto noId = std::make_shared<TDefaultKBookmark>("N", "http://n/", "", -1);
  auto zero = std::make_shared<TDefaultKBookmark>("Z", "http://z/", "", 0);
  auto folder = std::make_shared<TFolder>("F");
  auto kfolder = std::make_shared<TDefaultKFolder>("K", false, -1);
  auto kfolder2 = std::make_shared<TDefaultKFolder>("K2", false, 12);
  for (const IBNodePtr& node : {IBNodePtr(plain), IBNodePtr(noId), IBNodePtr(zero), IBNodePtr(folder),
                                IBNodePtr(kfolder), IBNodePtr(kfolder2)}) {
    node->InitHashes("");
  }
  EXPECT_EQ(plain->GetHash(hkURL).size(), 254u);
  EXPECT_EQ(plain->GetHash(hkNameURLId), "p" + longURL.substr(0, 254));
  EXPECT_EQ(noId->GetHash(hkNameURLId), "nhttp://n/");
  EXPECT_EQ(zero->GetHash(hkNameURLId), "zhttp://z/0");
  EXPECT_EQ(folder->GetHash(hkPathURLId), "/fF");
  EXPECT_EQ(kfolder->GetHash(hkNameURLId), "k");
  EXPECT_EQ(kfolder2->GetHash(hkPathURLId), "/k212F");
}

TEST(NodeHashes, EmptyURLBookmarkGetsKeysButIsInvalid) {
  TDefaultKBookmark b("Nothing", "");
  b.InitHashes("/f");
  EXPECT_FALSE(b.IsValid());
  EXPECT_EQ(b.GetHash(hkNameURL), "nothing");
  EXPECT_EQ(b.GetHash(hkURL), "");
  EXPECT_EQ(b.GetHash(hkPath), "/f/nothingB");
  EXPECT_EQ(b.GetCanonicalURL(), "");
}

TEST(NodeHashes, BookmarkGetHashBeforeInitHashesRaises) {
  TBookmark b("Daily", "http://h/");
  try {
    b.GetHash(hkURL);
    FAIL() << "no exception";
  } catch (const TBookmarkException& e) {
    EXPECT_EQ(e.Message(), "TBookmark.No hash value found - ensure InitHashes is called:Daily:type:2");
    EXPECT_STREQ(e.ClassName(), "TBookmarkException");
  }
  EXPECT_EQ(b.GetHash(hkTreeSum), "") << "a kind bookmarks do not have never raises";
  // Without name or URL there is nothing to compute: no exception.
  EXPECT_EQ(TBookmark("", "http://h/").GetHash(hkURL), "");
  EXPECT_EQ(TBookmark("Daily", "").GetHash(hkNameURL), "");
}

TEST(NodeHashes, InitHashesReplacesStaleKeys) {
  auto folder = std::make_shared<TDefaultKFolder>("News");
  auto b = std::make_shared<TDefaultKBookmark>("Daily", "http://h/");
  folder->Add(b);
  folder->InitHashes("");
  const std::string before = folder->GetHash(hkContentSum);
  b->SetName("Weekly");
  b->SetId(4);
  EXPECT_EQ(b->GetHash(hkPath), "/news/dailyB") << "keys go stale until the next InitHashes";
  EXPECT_EQ(folder->GetHash(hkContentSum), before) << "the checksum is cached";
  folder->InitHashes("");
  EXPECT_EQ(b->GetHash(hkPath), "/news/weeklyB");
  EXPECT_EQ(b->GetNormalizedName(), "weekly");
  EXPECT_EQ(folder->GetHash(hkContentSum), std::to_string(Signed("weeklyhttp://h/4")));
}

TEST_F(NodeLogTest, FolderGetHashBeforeInitHashesLogs) {
  TFolder folder("News");
  EXPECT_EQ(folder.GetHash(hkNameURL), "");
  EXPECT_EQ(folder.GetHash(hkURL), "");
  EXPECT_EQ(folder.GetHash(200), "");
  EXPECT_FALSE(LogHas("No hash value found")) << "kinds a folder does not have are not an error";
  EXPECT_EQ(folder.GetHash(hkPath), "");
  EXPECT_TRUE(LogHas("TFolder.No hash value found:ensure InitHashes is called (News)"));
}

// Root: [News(7): [Daily(3), Empty: [], NoURL, Sub: [Paper]]]
class NodeChecksumTest : public NodeLogTest {
 protected:
  void SetUp() override {
    NodeLogTest::SetUp();
    root_ = std::make_shared<TTestRoot>("Root");
    news_ = std::make_shared<TDefaultKFolder>("News", false, 7);
    root_->Add(news_);
    sub_ = std::make_shared<TDefaultKFolder>("Sub");
    news_->Add(std::make_shared<TDefaultKBookmark>("Daily", "http://d/", "", 3));
    news_->Add(std::make_shared<TDefaultKFolder>("Empty"));
    news_->Add(std::make_shared<TDefaultKBookmark>("NoURL", ""));
    news_->Add(sub_);
    sub_->Add(std::make_shared<TBookmark>("Paper", "http://p/"));
    root_->InitRootHashes();
  }
  std::shared_ptr<TTestRoot> root_;
  std::shared_ptr<TDefaultKFolder> news_;
  std::shared_ptr<TDefaultKFolder> sub_;
};

TEST_F(NodeChecksumTest, ChecksumsComposeFromTheValidChildren) {
  const std::int32_t subTree = Add32(Signed("sub"), Signed("paperhttp://p/"));
  const std::int32_t content = Add32(Add32(Signed("dailyhttp://d/3"), Signed("sub")), Signed(std::to_string(subTree)));
  EXPECT_EQ(sub_->GetHash(hkTreeSum), std::to_string(subTree));
  EXPECT_EQ(sub_->GetHash(hkContentSum), std::to_string(Signed("paperhttp://p/")));
  EXPECT_EQ(news_->GetHash(hkContentSum), std::to_string(content));
  EXPECT_EQ(news_->GetHash(hkTreeSum), std::to_string(Add32(Signed("news7"), content)));
  EXPECT_TRUE(LogHas("BNode not valid for server:F>/News/Empty"));
  EXPECT_TRUE(LogHas("BNode not valid for server:B>/News:NoURL:"));
}

TEST_F(NodeChecksumTest, PrivateFoldersStayOutOfTheChecksum) {
  const std::string before = news_->GetHash(hkContentSum);
  sub_->SetPrivate(true);
  news_->InitHashes("");
  EXPECT_EQ(news_->GetHash(hkContentSum), std::to_string(Signed("dailyhttp://d/3")));
  EXPECT_NE(news_->GetHash(hkContentSum), before);
}

TEST_F(NodeChecksumTest, AChildWithoutKeysIsLoggedAndSkipped) {
  const std::string before = news_->GetHash(hkContentSum);
  news_->Add(std::make_shared<TDefaultKBookmark>("Late", "http://late/"));  // never hashed
  news_->ResetCounts();
  news_->InitHashes("");  // now it is: cached sums were cleared
  EXPECT_NE(news_->GetHash(hkContentSum), before);
  auto late = std::make_shared<TDefaultKBookmark>("Later", "http://later/");
  news_->Add(late);
  THashTrace::Create();  // forces a recomputation without new keys
  const std::string withLate = news_->GetHash(hkContentSum);
  THashTrace::Discard();
  EXPECT_TRUE(LogHas("TBookmark.No hash value found - ensure InitHashes is called:Later:type:1"));
  EXPECT_TRUE(LogHas("TBookmarkException"));
  late->InitHashes("/news");
  news_->InitHashes("");
  EXPECT_EQ(withLate, std::to_string(Add32(std::stoi(news_->GetHash(hkContentSum)),
                                           -Signed("laterhttp://later/"))));
}

TEST_F(NodeChecksumTest, TracingRecomputesAndRecordsEveryTerm) {
  const std::string cached = news_->GetHash(hkContentSum);
  // A new bookmark with its keys, while the folder's sum stays cached.
  auto extra = std::make_shared<TDefaultKBookmark>("Extra", "http://e/");
  news_->Add(extra);
  extra->InitHashes("/news");
  EXPECT_EQ(news_->GetHash(hkContentSum), cached);

  THashTrace::Create();
  const std::string traced = news_->GetHash(hkContentSum);
  const TStringList lines = THashTrace::Take();
  EXPECT_FALSE(THashTrace::Exists());
  EXPECT_EQ(traced, std::to_string(Add32(std::stoi(cached), Signed("extrahttp://e/"))));
  const std::int32_t subTree = Add32(Signed("sub"), Signed("paperhttp://p/"));
  const TStringList expected = {
      "B>dailyhttp://d/3[" + std::to_string(Signed("dailyhttp://d/3")) + "]",
      "F>sub[" + std::to_string(Signed("sub")) + "]",
      "B>paperhttp://p/[" + std::to_string(Signed("paperhttp://p/")) + "]",
      "F>sub content:[" + std::to_string(Signed(std::to_string(subTree))) + "]",
      "B>extrahttp://e/[" + std::to_string(Signed("extrahttp://e/")) + "]",
  };
  EXPECT_EQ(lines, expected);
  THashTrace::Add("after");  // no list: nothing happens
  EXPECT_TRUE(THashTrace::Lines().empty());
}

TEST(NodeHashes, SumsWrapAsSigned32Bit) {
  // Find bookmarks whose checksums are large enough to overflow together.
  auto folder = std::make_shared<TFolder>("F");
  std::int64_t exact = 0;
  std::int32_t wrapped = 0;
  for (int i = 0; folder->Count() < 3 && i < 100000; ++i) {
    const std::string name = "n" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 150), 'z');
    const std::int32_t sum = Signed(name + "http://x/");
    if (sum < 900000000) continue;
    folder->Add(std::make_shared<TBookmark>(name, "http://x/"));
    exact += sum;
    wrapped = Add32(wrapped, sum);
  }
  ASSERT_EQ(folder->Count(), 3);
  ASSERT_GT(exact, std::numeric_limits<std::int32_t>::max());
  folder->InitHashes("");
  EXPECT_EQ(folder->GetHash(hkContentSum), std::to_string(wrapped));
  EXPECT_LT(wrapped, 0);
}

}  // namespace
}  // namespace kelvo
