// Bookmark construction, copying, setters and validity.

#include "bookmarks/Bookmark.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kelvo {
namespace {

// Stands in for the server store's bookmark: node type 1 with a reference.
class TRefBookmark : public TBookmark {
 public:
  TRefBookmark(const std::string& name, const std::string& url, const std::string& ref,
               const std::string& feedURL = std::string())
      : TBookmark(name, url), ref_(ref) {
    feedURL_ = feedURL;
  }
  std::uint8_t GetNodeType() const override { return kNodeTypeServerBookmark; }
  std::string GetRef() const override { return ref_; }

 private:
  std::string ref_;
};

TEST(Bookmark, PlainBookmarkHasFixedDefaults) {
  TBookmark b("Daily", "http://h/");
  EXPECT_EQ(b.GetName(), "Daily");
  EXPECT_EQ(b.GetURL(), "http://h/");
  EXPECT_EQ(b.GetId(), -1);
  EXPECT_EQ(b.GetCanonicalURL(), "") << "filled only by InitHashes";
  EXPECT_EQ(b.GetTag(), 0u);
  b.SetId(5);
  b.SetDuplicate(true);
  b.SetFeedURL("http://feed/");
  b.SetRef("x:1");
  EXPECT_EQ(b.GetId(), -1);
  EXPECT_FALSE(b.GetDuplicate());
  EXPECT_EQ(b.GetFeedURL(), "");
  EXPECT_EQ(b.GetRef(), "");
  EXPECT_EQ(b.GetFlags(), 0u) << "ignored setters change nothing";
}

TEST(Bookmark, DefaultKSettersMarkOnlyRealChanges) {
  TDefaultKBookmark b("Daily", "http://h/", "", 12);
  EXPECT_EQ(b.GetId(), 12);
  b.SetId(12);
  b.SetDuplicate(false);
  b.SetFeedURL("");
  b.SetURL("http://h/");
  EXPECT_EQ(b.GetFlags(), 0u);
  struct TCase {
    const char* label;
    void (*change)(TDefaultKBookmark&);
  };
  const TCase cases[] = {
      {"id", [](TDefaultKBookmark& x) { x.SetId(-1); }},
      {"duplicate", [](TDefaultKBookmark& x) { x.SetDuplicate(true); }},
      {"feed", [](TDefaultKBookmark& x) { x.SetFeedURL("http://f/"); }},
      {"url", [](TDefaultKBookmark& x) { x.SetURL("http://H/"); }},
  };
  for (const TCase& c : cases) {
    TDefaultKBookmark fresh("Daily", "http://h/", "", 12);
    c.change(fresh);
    EXPECT_NE(fresh.GetFlags() & nfModified, 0u) << c.label;
  }
}

TEST(Bookmark, FeedURLReplacesTheURL) {
  TDefaultKBookmark live("Feed", "http://page/", "http://page/rss", 3);
  EXPECT_EQ(live.GetURL(), "http://page/rss");
  EXPECT_EQ(live.GetFeedURL(), "http://page/rss");
  TDefaultKBookmark plain("Page", "http://page/");
  EXPECT_EQ(plain.GetURL(), "http://page/");
  EXPECT_EQ(plain.GetFeedURL(), "");
  EXPECT_EQ(plain.GetId(), -1);
}

TEST(Bookmark, CopyTakesTheIdOnlyFromAServerReference) {
  struct TCase {
    std::shared_ptr<IBookmark> source;
    std::int32_t id;
    const char* feed;
  };
  const TCase cases[] = {
      {std::make_shared<TRefBookmark>("n", "http://u/", "user:links:42"), 42, ""},
      {std::make_shared<TRefBookmark>("n", "http://u/", "user:links:42", "http://f/"), 42, "http://f/"},
      {std::make_shared<TRefBookmark>("n", "http://u/", "no-colon"), -1, ""},
      {std::make_shared<TRefBookmark>("n", "http://u/", "a:x1"), -1, ""},
      {std::make_shared<TRefBookmark>("n", "http://u/", "a:"), -1, ""},
      // Any other kind never gives an id, even with one of its own.
      {std::make_shared<TDefaultKBookmark>("n", "http://u/", "", 9), -1, ""},
      {std::make_shared<TDefaultKBookmark>("n", "http://u/", "http://f/", 9), -1, "http://f/"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.source->GetRef() + "/" + std::to_string(c.source->GetId()));
    TDefaultKBookmark copy(*c.source);
    EXPECT_EQ(copy.GetName(), "n");
    EXPECT_EQ(copy.GetURL(), c.source->GetURL());
    EXPECT_EQ(copy.GetId(), c.id);
    EXPECT_EQ(copy.GetFeedURL(), c.feed);
    EXPECT_EQ(copy.GetFlags(), 0u);
    EXPECT_EQ(copy.GetParent(), nullptr);
  }
}

TEST(Bookmark, ServerIdFromRef) {
  const struct {
    const char* ref;
    std::int32_t id;
    const char* text;
  } cases[] = {
      {"a:b:17", 17, "17"}, {"17", -1, ""},        {"a:", -1, ""},         {"a:-3", -3, "-3"},
      {"a:+4", 4, "+4"},    {"a:+-4", -1, "+-4"},  {"a:4 ", -1, "4 "},     {"a:99999999999", -1, "99999999999"},
      {"", -1, ""},         {"a:2147483647", 2147483647, "2147483647"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServerIdFromRef(c.ref), c.id) << c.ref;
    EXPECT_EQ(ServerIdTextFromRef(c.ref), c.text) << c.ref;
  }
}

TEST(Bookmark, ValidNeedsANormalizedNameAndAURL) {
  const struct {
    const char* name;
    const char* url;
    bool valid;
  } cases[] = {
      {"Daily", "http://h/", true},
      {"Daily", "", false},
      {"", "http://h/", false},
      {"??", "http://h/", false},  // the name normalizes to nothing
      {"Daily", "not a url", true},
  };
  for (const auto& c : cases) {
    TBookmark b(c.name, c.url);
    std::uint8_t reason = 9;
    EXPECT_EQ(b.IsValid(reason), c.valid) << c.name << "|" << c.url;
    EXPECT_EQ(reason, 0);
  }
}

}  // namespace
}  // namespace kelvo
