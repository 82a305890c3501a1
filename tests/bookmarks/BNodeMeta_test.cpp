#include "bookmarks/BNodeMeta.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "NodeTestSupport.h"
#include "TestHome.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerLinks.h"
#include "bookmarks/ServerTree.h"
#include "foundation/XmlTools.h"

namespace kelvo {
namespace {

using test::ReadFileText;
using test::WriteFileText;

const std::string kDecl = R"(<?xml version="1.0" encoding="utf-8"?>)";
// How the XML tools lay out a saved document around its root element.
std::string SavedText(const std::string& root) { return kDecl + "\n" + root + "\n"; }

// Records the actions in the order they are appended.
class TRecordingSink : public IMetaActionSink {
 public:
  struct TAction {
    std::string kind;  // "add" or "remove"
    IBNodeMetaPtr record;
    int metaKind = -1;
    std::string path;
    std::string ref;
  };
  void AddXLink(const IBNodeMetaPtr& record, int kind) override {
    actions.push_back({"add", record, kind, "", ""});
  }
  void RemoveXLink(const std::string& path, const std::string& ref) override {
    actions.push_back({"remove", nullptr, -1, path, ref});
  }
  std::vector<TAction> actions;
};

std::shared_ptr<TBNodeMeta> Folder(TStringList path, std::int32_t id = -1) {
  auto record = std::make_shared<TBNodeMeta>(true);
  record->SetPath(std::move(path));
  record->SetId(id);
  return record;
}

std::shared_ptr<TBNodeMeta> Bookmark(TStringList path, const std::string& url, std::int32_t id) {
  auto record = std::make_shared<TBNodeMeta>(false);
  record->SetPath(std::move(path));
  record->SetURL(url);
  record->SetId(id);
  return record;
}

std::vector<TStringList> Paths(const TBNodeMetaList& records) {
  std::vector<TStringList> paths;
  for (const auto& record : records) paths.push_back(record->GetPath());
  return paths;
}

std::vector<TStringList> Paths(const TBNodeMetas& store) { return Paths(store.Items()); }

class BNodeMetaTest : public test::NodeLogTest {
 protected:
  std::string MetaFile() const { return home_->Sub("data/" + std::string(kMetaFileName)); }
  std::string FileText() const { return ReadFileText(MetaFile()); }
  void WriteMeta(const std::string& body) {
    std::filesystem::create_directories(std::filesystem::path(MetaFile()).parent_path());
    WriteFileText(MetaFile(), kDecl + "<bnode-meta>" + body + "</bnode-meta>");
  }
};

// --- The file layout ---------------------------------------------------------

TEST(BNodeMetaLayout, PathValuesSplitWithEscapes) {
  struct TCase {
    std::string value;
    std::string title;
    TStringList names;
  } cases[] = {
      {R"(/c/a\/b)", "", {"c", "a/b"}},
      {R"(/a\\/b)", "", {"a\\", "b"}},           // an escaped backslash, then a separator
      {R"(/a\x)", "", {"ax"}},                    // any escaped character is literal
      {R"(/a\)", "", {"a"}},                      // a trailing lone backslash is dropped
      {"//a///b/", "", {"a", "b"}},               // empty names skipped
      {"/", "Title", {"Title"}},
      {"/f", "t/u", {"f", "t/u"}},                // the title is taken unescaped
      {"", "Title", {}},                          // no leading slash: nothing, title neither
      {"a/b", "Title", {}},
      {"/" + std::string(300, 'n'), "", {std::string(300, 'n')}},  // long names stay whole
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(MetaPathNames(c.value, c.title), c.names) << c.value;
  }
  EXPECT_EQ(MetaPathText({"c", "a/b"}), R"(/c/a\/b)");
  EXPECT_EQ(MetaPathText({"x\\y", "/"}), R"(/x\\y/\/)");
  EXPECT_EQ(MetaPathText({}), "");
  // Whatever the names hold, writing and reading them gives them back.
  const TStringList odd = {"a\\", "/", "\\/\\", "é ü", "x"};
  EXPECT_EQ(MetaPathNames(MetaPathText(odd)), odd);
}

TEST(BNodeMetaLayout, TypeTokens) {
  EXPECT_EQ(MetaTypeText(false, false), "");
  EXPECT_EQ(MetaTypeText(true, false), "pub,");
  EXPECT_EQ(MetaTypeText(false, true), "private,");
  EXPECT_EQ(MetaTypeText(true, true), "pub,private,");
  struct TCase {
    std::string value;
    bool pub;
    bool priv;
  } cases[] = {
      {"pub,private,", true, true}, {"private,pub,", true, true}, {"pub", true, false},
      {"private", false, true},     {"pub;", true, false},        {"private;", false, true},
      {"pubxy", false, false},      {"publicity", false, false},  {"", false, false},
      {"PUB,", false, false},       {"xpub,", true, false},       {"pubx,pub", true, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(MetaTypeHas(c.value, "pub"), c.pub) << c.value;
    EXPECT_EQ(MetaTypeHas(c.value, "private"), c.priv) << c.value;
  }
}

TEST(BNodeMetaLayout, Integers) {
  EXPECT_EQ(MetaIntOr("42", -1), 42);
  EXPECT_EQ(MetaIntOr("-7", -1), -7);
  EXPECT_EQ(MetaIntOr("+7", -1), 7);
  EXPECT_EQ(MetaIntOr("", -1), -1);
  EXPECT_EQ(MetaIntOr("12a", -1), -1);
  EXPECT_EQ(MetaIntOr(" 12", -1), -1);
  EXPECT_EQ(MetaIntOr("99999999999", -1), -1);
  EXPECT_EQ(MetaIntOr("+-1", -1), -1);
}

TEST_F(BNodeMetaTest, WrittenFileHasTheExactLayout) {
  TBNodeMetas store(MetaFile());
  auto privateFolder = Folder({"Work", "a/b"});
  privateFolder->SetIsPrivate(true);
  auto publicFolder = Folder({"Fun"}, 7);
  publicFolder->SetIsPublic(true, nullptr);
  publicFolder->SetRank(2);
  auto publicBookmark = Bookmark({"Work", "Tom & \"Jerry\""}, "http://x.example/?a=1&b=<2>", 12);
  publicBookmark->SetIsPublic(true, nullptr);
  publicBookmark->SetRank(0);
  auto rootBookmark = Bookmark({"Top"}, "http://top.example/", 3);
  auto noPath = std::make_shared<TBNodeMeta>(true);
  auto emptyPath = std::make_shared<TBNodeMeta>("/$pub/9", "", 9, "x");
  for (const IBNodeMetaPtr& r :
       std::vector<IBNodeMetaPtr>{privateFolder, publicFolder, publicBookmark, rootBookmark, noPath, emptyPath}) {
    store.Add(r);
  }
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(FileText(),
            SavedText(
                "<bnode-meta>"
                R"(<folder type="private," path="/Work/a\/b"/>)"
                R"(<folder id="7" type="pub," path="/Fun" rank="2"/>)"
                R"(<bookmark id="12" type="pub," path="/Work" title="Tom &amp; &quot;Jerry&quot;" url="http://x.example/?a=1&amp;b=&lt;2&gt;" rank="0"/>)"
                R"(<bookmark id="3" path="" title="Top" url="http://top.example/"/>)"
                R"(<folder/>)"
                R"(<bookmark id="9" type="pub," path=""/>)"
                "</bnode-meta>"));
  // Save to another file leaves the own file alone.
  const std::string other = home_->Sub("elsewhere/copy.xml");
  ASSERT_TRUE(store.Save(other));
  EXPECT_EQ(ReadFileText(other), FileText());
}

TEST_F(BNodeMetaTest, EmptyStoreWritesTheEmptyRoot) {
  TBNodeMetas store(MetaFile());
  EXPECT_FALSE(std::filesystem::exists(MetaFile()));  // loading a missing file writes nothing
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(FileText(), SavedText("<bnode-meta/>"));
}

TEST_F(BNodeMetaTest, ValidFileReadsBackAndRoundTrips) {
  const std::string body =
      R"(<folder type="private," path="/c/a\/b"/>)"
      R"(<folder id="7" type="pub," path="/Fun" rank="2"/>)"
      R"(<bookmark id="12" type="pub," path="/Work/Sub" title="Élan" url="http://x/?a=1&amp;b=2" rank="5"/>)"
      R"(<folder path="/Plain"/>)";
  WriteMeta(body);
  TBNodeMetas store(MetaFile());
  ASSERT_EQ(store.Count(), 4u);
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"c", "a/b"}, {"Fun"}, {"Work", "Sub", "Élan"}, {"Plain"}}));
  const IBNodeMetaPtr priv = store.Item(0);
  EXPECT_TRUE(priv->GetIsFolder());
  EXPECT_TRUE(priv->GetIsPrivate());
  EXPECT_FALSE(priv->GetIsPublic());
  EXPECT_EQ(priv->GetId(), -1);
  EXPECT_EQ(priv->GetRank(), -1);
  const IBNodeMetaPtr bm = store.Item(2);
  EXPECT_FALSE(bm->GetIsFolder());
  EXPECT_TRUE(bm->GetIsPublic());
  EXPECT_EQ(bm->GetId(), 12);
  EXPECT_EQ(bm->GetRank(), 5);
  EXPECT_EQ(bm->GetURL(), "http://x/?a=1&b=2");
  EXPECT_TRUE(store.Item(3)->IsNormal());
  EXPECT_EQ(store.Item(4), nullptr);
  EXPECT_TRUE(LogHas("TBNodeMetas.Create:aFilename=" + MetaFile()));
  EXPECT_TRUE(LogHas("TBNodeMetas.Create:Count=4"));

  ASSERT_TRUE(store.Save());
  TBNodeMetas again(MetaFile());
  ASSERT_EQ(Paths(again), Paths(store));
  EXPECT_NE(FileText().find(R"(path="/c/a\/b")"), std::string::npos);
  for (std::size_t i = 0; i < store.Count(); ++i) {
    EXPECT_EQ(again.Item(i)->ToString(), store.Item(i)->ToString());
    EXPECT_EQ(again.Item(i)->GetIsFolder(), store.Item(i)->GetIsFolder());
  }
}

// Names come from file names, which may hold any bytes: the file written
// must still load, with every record.
TEST_F(BNodeMetaTest, OddBytesInNamesStillGiveALoadableFile) {
  TBNodeMetas store(MetaFile());
  store.Add(Folder({"bad\xff\xfe", std::string("ctl\x01\x1f", 5)}));
  store.Add(Bookmark({"tab\there", "line\nbreak"}, "http://x/\x02", 2));
  store.Add(Folder({"plain"}, 3));
  ASSERT_TRUE(store.Save());
  TBNodeMetas reread(MetaFile());
  ASSERT_EQ(reread.Count(), 3u);
  EXPECT_EQ(reread.Item(1)->GetPath(), (TStringList{"tab\there", "line\nbreak"}));
  EXPECT_EQ(reread.Item(2)->GetPath(), (TStringList{"plain"}));
  EXPECT_FALSE(LogHas("err]"));
}

// A bookmark record of one name stands for a bookmark directly under the
// root, which has no name path: it is written with an empty "path" and so
// does not survive the next load.
TEST_F(BNodeMetaTest, OneNameBookmarkIsDroppedOnTheNextLoad) {
  WriteMeta(R"(<bookmark id="4" path="/" title="Top" url="http://y/"/>)");
  {
    TBNodeMetas store(MetaFile());
    ASSERT_EQ(Paths(store), (std::vector<TStringList>{{"Top"}}));
    ASSERT_TRUE(store.Save());
  }
  EXPECT_EQ(FileText(), SavedText(R"(<bnode-meta><bookmark id="4" path="" title="Top" url="http://y/"/></bnode-meta>)"));
  TBNodeMetas reread(MetaFile());
  EXPECT_EQ(reread.Count(), 0u);
  EXPECT_TRUE(LogHas("TBNodeMeta.Create:invalid path for bookmark"));
  EXPECT_EQ(FileText(), SavedText("<bnode-meta/>"));
}

TEST_F(BNodeMetaTest, InvalidElementsAreLoggedAndDroppedFromTheFile) {
  struct TCase {
    std::string element;
    std::string message;
  } cases[] = {
      {R"(<bookmark id="1" path="" title="t" url="http://a/"/>)", "TBNodeMeta.Create:invalid path for bookmark"},
      {R"(<folder id="2" type="pub,private," path="/f"/>)", "TBNodeMeta.Create:id present for private folder"},
      {R"(<folder type="pub," path="/f"/>)", "TBNodeMeta.Create:id invalid for folder"},
      {R"(<folder id="x" type="pub," path="/f"/>)", "TBNodeMeta.Create:id invalid for folder"},
      {R"(<folder path=""/>)", "TBNodeMeta.Create:invalid path for folder"},
      {R"(<folder path="/f" url="http://a/"/>)", "TBNodeMeta.Create:URL found for folder"},
      {R"(<folder path="f"/>)", "TBNodeMeta.Create:invalid Path for folder"},
      {R"(<folder path="///"/>)", "TBNodeMeta.Create:invalid Path for folder"},
      {R"(<bookmark path="/f" title="t" url="http://a/"/>)", "TBNodeMeta.Create:invalid id for bookmark"},
      {R"(<bookmark id="1" title="t" url="http://a/"/>)", "TBNodeMeta.Create:invalid path for bookmark"},
      {R"(<bookmark id="1" path="/f" title="t"/>)", "TBNodeMeta.Create:invalid URL for bookmark"},
      {R"(<bookmark id="1" path="f" title="t" url="http://a/"/>)", "TBNodeMeta.Create:invalid Path for bookmark"},
  };
  const std::string good1 = R"(<folder type="private," path="/Keep"/>)";
  const std::string good2 = R"(<bookmark id="5" path="/Keep" title="b" url="http://b/"/>)";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.element);
    TLog::ResetForTests();
    std::filesystem::remove(logFile_);
    TLog::Init(5, logFile_, false, false);
    WriteMeta(good1 + c.element + good2);
    TBNodeMetas store(MetaFile());
    EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"Keep"}, {"Keep", "b"}}));
    EXPECT_TRUE(LogHas("err] " + c.message)) << LogText();
    EXPECT_TRUE(LogHas("TBNodeMetas.Create:Count=2"));
    // Rewritten right away, without the rejected element.
    EXPECT_EQ(FileText(), SavedText("<bnode-meta>" + good1 + good2 + "</bnode-meta>"));
  }
}

TEST_F(BNodeMetaTest, OtherContentIsIgnoredWithoutARewrite) {
  const std::string text = kDecl +
                           "<bnode-meta>\n  <!-- note -->\n  <other id=\"1\"/>\n"
                           R"(  <folder type="private," path="/P"/>)"
                           "\n</bnode-meta>\n";
  std::filesystem::create_directories(std::filesystem::path(MetaFile()).parent_path());
  WriteFileText(MetaFile(), text);
  TBNodeMetas store(MetaFile());
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"P"}}));
  EXPECT_EQ(FileText(), text);  // nothing was rejected, so nothing rewritten
  EXPECT_FALSE(LogHas("err]"));
}

TEST_F(BNodeMetaTest, DamagedFilesGiveAnEmptyStoreAndKeepTheBytes) {
  const std::string damaged[] = {
      "",                                                           // empty file
      "not xml at all \x01\x02\xff",                                // binary garbage
      kDecl + R"(<bnode-meta><folder type="private," path="/P"/>)",  // cut off
      kDecl + "<bnode-meta><folder path=\"/P\"></bookmark></bnode-meta>",
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    std::filesystem::create_directories(std::filesystem::path(MetaFile()).parent_path());
    std::filesystem::remove(MetaFile() + ".corrupt");
    WriteFileText(MetaFile(), text);
    TBNodeMetas store(MetaFile());
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_TRUE(LogHas("TBNodeMetas.Create:Count=0"));
    // The next save replaces the file; what was in it stays readable beside it.
    EXPECT_EQ(ReadFileText(MetaFile() + ".corrupt"), text);
    store.Add(Folder({"New"}));
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(TBNodeMetas(MetaFile()).Count(), 1u);
    EXPECT_EQ(ReadFileText(MetaFile() + ".corrupt"), text);
  }
}

TEST_F(BNodeMetaTest, SaveFailureAnswersFalseAndKeepsTheRecords) {
  const std::string blocker = home_->Sub("blocker");
  WriteFileText(blocker, "a file where a folder should be");
  TBNodeMetas store(blocker + "/" + kMetaFileName);
  store.Add(Folder({"A"}));
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_TRUE(LogHas("TBNodeMetas.Save:"));
  // A saving operation survives the failure too.
  store.RenameRecord(store.Item(0), "B");
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"B"}}));
}

// --- Records -----------------------------------------------------------------

TEST_F(BNodeMetaTest, SetIsPublicAppendsActionsInOrder) {
  TRecordingSink sink;
  auto a = Bookmark({"F", "a"}, "http://a/", 5);
  auto b = Folder({"G"}, 6);
  a->SetIsPublic(true, &sink);
  a->SetIsPublic(true, &sink);  // no change, no action
  b->SetIs(kMetaKindPublic, true, &sink);
  a->SetIsPublic(false, &sink);
  b->Unpublish(&sink);
  b->Unpublish(&sink);  // no longer public: nothing
  ASSERT_EQ(sink.actions.size(), 4u);
  EXPECT_EQ(sink.actions[0].kind, "add");
  EXPECT_EQ(sink.actions[0].record, a);
  EXPECT_EQ(sink.actions[0].metaKind, kMetaKindPublic);
  EXPECT_EQ(sink.actions[1].kind, "add");
  EXPECT_EQ(sink.actions[1].record, b);
  EXPECT_EQ(sink.actions[2].kind, "remove");
  EXPECT_EQ(sink.actions[2].path, "/$pub/5");
  EXPECT_EQ(sink.actions[2].ref, "5");
  EXPECT_EQ(sink.actions[3].path, "/$pub/6");
  EXPECT_EQ(sink.actions[3].ref, "6");

  // Without a sink the flag still changes.
  a->SetIsPublic(true, nullptr);
  EXPECT_TRUE(a->GetIsPublic());
  EXPECT_TRUE(a->IsPublished());
  EXPECT_EQ(sink.actions.size(), 4u);
}

TEST_F(BNodeMetaTest, KindsOfGetIsAndSetIs) {
  TRecordingSink sink;
  auto r = Folder({"F"});
  r->SetIs(kMetaKindPrivate, true, &sink);
  EXPECT_TRUE(r->GetIs(kMetaKindPrivate));
  EXPECT_FALSE(r->GetIs(kMetaKindPublic));
  EXPECT_FALSE(r->IsNormal());
  r->SetIs(2, false, &sink);  // unknown kinds change nothing
  r->SetIs(-1, false, &sink);
  EXPECT_TRUE(r->GetIsPrivate());
  EXPECT_TRUE(sink.actions.empty());
  for (const int kind : {2, -1, 100}) {
    try {
      r->GetIs(kind);
      ADD_FAILURE() << "no exception for kind " << kind;
    } catch (const TBNodeMetaException& e) {
      EXPECT_EQ(e.Message(), "TBNodeMeta.GetIs:unknown type");
    }
  }
}

TEST_F(BNodeMetaTest, ServerRecordConstructorAndDescriptions) {
  const TBNodeMeta pub("/$pub/17", "user data", 17, "4");
  EXPECT_TRUE(pub.GetIsPublic());
  EXPECT_EQ(pub.GetRank(), 4);
  EXPECT_TRUE(pub.HasPath());
  EXPECT_TRUE(pub.GetPath().empty());
  EXPECT_EQ(pub.GetPublicPath(), "/$pub/17");
  const TBNodeMeta news("/$news/3", "", 3, "high");
  EXPECT_FALSE(news.GetIsPublic());
  EXPECT_EQ(news.GetRank(), -1);
  EXPECT_EQ(news.GetPublicPath(), "");
  const TBNodeMeta plain(false);
  EXPECT_FALSE(plain.HasPath());
  EXPECT_EQ(plain.GetPathHash(), "");
  EXPECT_EQ(plain.ToString(), "");

  auto r = Bookmark({"F", "b"}, "http://b/", 8);
  r->SetIsPublic(true, nullptr);
  r->SetIsPrivate(true);
  r->SetRank(3);
  EXPECT_EQ(r->ToString(), "id:8 type:pub,private,F\nb\n url:http://b/ rank:3");
  EXPECT_EQ(r->GetPathHash(), PathHash({"F", "b"}, false));
  EXPECT_NE(r->GetPathHash(), Folder({"F", "b"})->GetPathHash());

  // Renaming touches the last name only, and nothing without a path.
  r->SetTitle("c");
  EXPECT_EQ(r->GetPath(), (TStringList{"F", "c"}));
  TBNodeMeta none(true);
  none.SetTitle("x");
  EXPECT_FALSE(none.HasPath());
}

TEST_F(BNodeMetaTest, PublicPathIsTracedWhileTracing) {
  auto r = Folder({"F"}, 21);
  r->SetIsPublic(true, nullptr);
  EXPECT_EQ(r->GetPublicPath(), "/$pub/21");
  EXPECT_TRUE(THashTrace::Lines().empty());
  THashTrace::Create();
  r->GetPublicPath();
  Folder({"G"})->GetPublicPath();
  EXPECT_EQ(THashTrace::Take(), (TStringList{"Meta>/$pub/21", "Meta>"}));
}

TEST_F(BNodeMetaTest, LinkElementsForTheServer) {
  const TXmlDocument doc = MakeFromString("<x/>");
  const TXmlElement root = doc.DocumentElement();
  auto ranked = Bookmark({"F", "a"}, "http://a/", 5);
  ranked->SetIsPublic(true, nullptr);
  ranked->SetRank(1);
  auto unranked = Folder({"G"}, 6);
  unranked->SetIsPublic(true, nullptr);
  auto notPublic = Folder({"H"}, 7);
  auto noId = Folder({"I"});
  noId->SetIsPublic(true, nullptr);
  TBNodeMetas store(MetaFile());
  for (const IBNodeMetaPtr& r : std::vector<IBNodeMetaPtr>{ranked, notPublic, unranked, noId}) store.Add(r);
  store.WriteXLinks(root);
  EXPECT_EQ(XmlText(root), R"(<x><link path="/$pub/5" rank="1" ref=":5"/><link path="/$pub/6" ref=":6"/></x>)");

  const TXmlElement add = AddElement(doc, root, "add-xlink");
  ranked->WriteRefAttributes(add, kMetaKindPrivate);  // only kind 0 writes
  noId->WriteRefAttributes(add, kMetaKindPublic);     // and only with an id
  EXPECT_EQ(XmlText(add), "<add-xlink/>");
  notPublic->WriteRefAttributes(add, kMetaKindPublic);
  EXPECT_EQ(XmlText(add), R"(<add-xlink ref=":7" path="/$pub/7"/>)");
}

TEST_F(BNodeMetaTest, PublicChecksum) {
  TBNodeMetas store(MetaFile());
  EXPECT_EQ(store.PublicChecksum(), 0);
  store.Add(Folder({"P"}));
  store.Add(Bookmark({"F", "b"}, "http://b/", 4));  // has an id but is not public
  EXPECT_EQ(store.PublicChecksum(), 0);

  auto pub1 = Folder({"A"}, 1);
  pub1->SetIsPublic(true, nullptr);
  auto pub2 = Bookmark({"A", "x"}, "http://x/", 23);
  pub2->SetIsPublic(true, nullptr);
  auto privatePub = Folder({"B"}, 99);
  privatePub->SetIsPublic(true, nullptr);
  privatePub->SetIsPrivate(true);
  store.Add(pub1);
  store.Add(pub2);
  store.Add(privatePub);
  // StringChecksum("/$pub/1") = 0x07DA01FA and ("/$pub/23") = 0x0A09022E,
  // worked out by hand from the checksum rule.
  EXPECT_EQ(StringChecksum("/$pub/1"), 0x07DA01FAu);
  EXPECT_EQ(StringChecksum("/$pub/23"), 0x0A09022Eu);
  EXPECT_EQ(store.PublicChecksum(), 0x07DA01FA + 0x0A09022E);

  // The sum wraps instead of overflowing.
  TBNodeMetas many(home_->Sub("many.xml"));
  for (int i = 0; i < 200; ++i) {
    auto r = Folder({"F" + std::to_string(i)}, 1000000 + i);
    r->SetIsPublic(true, nullptr);
    many.Add(r);
  }
  std::int64_t wide = 0;
  for (int i = 0; i < 200; ++i) wide += StringChecksum("/$pub/" + std::to_string(1000000 + i));
  ASSERT_GT(wide, INT32_MAX);
  EXPECT_EQ(many.PublicChecksum(), static_cast<std::int32_t>(static_cast<std::uint32_t>(wide)));
}

// --- List operations ---------------------------------------------------------

TEST_F(BNodeMetaTest, FindOperations) {
  TBNodeMetas store(MetaFile());
  auto a = Folder({"a"}, 1);
  auto ax = Folder({"a", "x"});
  auto axy = Bookmark({"a", "x", "y"}, "http://y/", 3);
  auto ab = Folder({"ab"}, 4);
  auto upper = Folder({"A"}, 5);
  auto axAgain = Bookmark({"a", "x"}, "http://x/", 6);
  for (const IBNodeMetaPtr& r : std::vector<IBNodeMetaPtr>{a, ax, axy, ab, upper, axAgain}) store.Add(r);

  EXPECT_EQ(store.FindByPath({"a", "x"}), ax);  // first of two
  EXPECT_EQ(store.FindByPath({"A"}), upper);    // case-sensitive
  EXPECT_EQ(store.FindByPath({"a", "x", "y", "z"}), nullptr);
  EXPECT_EQ(store.FindByPath({"x"}), nullptr);

  EXPECT_EQ(store.FindUnderPath({"a"}), (TBNodeMetaList{a, ax, axy, axAgain}));
  EXPECT_EQ(store.FindUnderPath({"a", "x", "y"}), (TBNodeMetaList{axy}));
  EXPECT_TRUE(store.FindUnderPath({"b"}).empty());

  EXPECT_EQ(store.FindById(3), axy);
  EXPECT_EQ(store.FindById(-1), nullptr);  // records without an id are never found by it
  EXPECT_EQ(store.FindById(42), nullptr);

  EXPECT_EQ(store.FindByPathHash(PathHash({"a", "x"}, false)), axAgain);  // the bookmark form
  EXPECT_EQ(store.FindByPathHash(PathHash({"a", "x"}, true)), ax);
  EXPECT_EQ(store.FindByPathHash(""), nullptr);
}

TEST_F(BNodeMetaTest, RemoveUnderPathsUnpublishesAndSaves) {
  TBNodeMetas store(MetaFile());
  auto a = Folder({"a"}, 1);
  a->SetIsPublic(true, nullptr);
  auto ax = Folder({"a", "x"});
  auto axy = Bookmark({"a", "x", "y"}, "http://y/", 3);
  axy->SetIsPublic(true, nullptr);
  auto ab = Folder({"ab"}, 4);
  ab->SetIsPublic(true, nullptr);
  auto axyNotPublic = Bookmark({"a", "x", "z"}, "http://z/", 5);
  for (const IBNodeMetaPtr& r : std::vector<IBNodeMetaPtr>{a, ax, axy, ab, axyNotPublic}) store.Add(r);
  ASSERT_TRUE(store.Save());

  TRecordingSink sink;
  EXPECT_TRUE(store.RemoveUnderPaths({{"a"}}, &sink));
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"ab"}}));
  // Last to first: the bookmark, then the folder.
  ASSERT_EQ(sink.actions.size(), 2u);
  EXPECT_EQ(sink.actions[0].path, "/$pub/3");
  EXPECT_EQ(sink.actions[1].path, "/$pub/1");
  EXPECT_FALSE(a->GetIsPublic());
  EXPECT_EQ(Paths(TBNodeMetas(MetaFile())), (std::vector<TStringList>{{"ab"}}));

  // Nothing under the paths (and an empty path, which names no node): false,
  // nothing saved.
  std::filesystem::remove(MetaFile());
  EXPECT_FALSE(store.RemoveUnderPaths({{"zz"}, {}}, &sink));
  EXPECT_FALSE(std::filesystem::exists(MetaFile()));
  EXPECT_EQ(store.Count(), 1u);

  // Without actions the records go but stay as they were.
  EXPECT_TRUE(store.RemoveUnderPaths({{"ab"}}, nullptr));
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_TRUE(ab->GetIsPublic());
  EXPECT_EQ(sink.actions.size(), 2u);
  EXPECT_EQ(FileText(), SavedText("<bnode-meta/>"));
}

TEST_F(BNodeMetaTest, RemoveUnderNodesUsesTheNodesNamePaths) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Favorites");
  auto news = std::make_shared<TDefaultKFolder>("  News  ");
  auto sports = std::make_shared<TDefaultKFolder>("Sports");
  auto site = std::make_shared<TDefaultKBookmark>("My Site", "http://site/");
  auto top = std::make_shared<TDefaultKBookmark>("Top", "http://top/");
  tree->Add(news);
  news->Add(sports);
  news->Add(site);
  tree->Add(top);

  TBNodeMetas store(MetaFile());
  store.Add(Folder(NamePath(sports), 1));
  store.Add(Bookmark(NamePath(site), "http://site/", 2));
  store.Add(Folder({"other"}, 3));
  EXPECT_FALSE(store.RemoveUnderNodes({}, nullptr));
  // The bookmark under the root has no name path and removes nothing.
  EXPECT_FALSE(store.RemoveUnderNodes({top}, nullptr));
  EXPECT_EQ(store.Count(), 3u);
  EXPECT_TRUE(store.RemoveUnderNodes({site, top}, nullptr));
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{NamePath(sports), {"other"}}));
  EXPECT_TRUE(store.RemoveUnderNodes({news}, nullptr));
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"other"}}));
}

TEST_F(BNodeMetaTest, MovePathsAndRenames) {
  TBNodeMetas store(MetaFile());
  auto abx = Bookmark({"a", "b", "x"}, "http://x/", 1);
  auto ab = Folder({"a", "b"}, 2);
  auto abc = Folder({"a", "bc"}, 3);
  auto other = Folder({"c", "b"}, 4);
  for (const IBNodeMetaPtr& r : std::vector<IBNodeMetaPtr>{abx, ab, abc, other}) store.Add(r);

  store.MovePaths({"a", "b"}, {"c", "b"});
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"c", "b", "x"}, {"c", "b"}, {"a", "bc"}, {"c", "b"}}));
  EXPECT_EQ(Paths(TBNodeMetas(MetaFile())), Paths(store));

  // Deeper and back up to the top level.
  store.MovePaths({"c", "b"}, {"d", "e", "b"});
  EXPECT_EQ(Paths(store),
            (std::vector<TStringList>{{"d", "e", "b", "x"}, {"d", "e", "b"}, {"a", "bc"}, {"d", "e", "b"}}));
  store.MovePaths({"d", "e", "b"}, {"b"});
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"b", "x"}, {"b"}, {"a", "bc"}, {"b"}}));
  store.MovePaths({}, {"z"});  // names no node: nothing moves
  EXPECT_EQ(Paths(store)[2], (TStringList{"a", "bc"}));

  store.RenameRecord(ab, "renamed");
  store.RenameBookmarkRecord(abx, "new title", "http://new/");
  store.SetRecordPath(abc, {"q", "r"});
  TBNodeMetas reread(MetaFile());
  EXPECT_EQ(Paths(reread), (std::vector<TStringList>{{"b", "new title"}, {"renamed"}, {"q", "r"}, {"b"}}));
  EXPECT_EQ(reread.Item(0)->GetURL(), "http://new/");
}

// --- Rebuilding from the server ----------------------------------------------

TEST_F(BNodeMetaTest, RebuildFromServerMatchesPublicLinksToServerNodes) {
  const TXmlDocument links = MakeFromString(
      "<links>"
      R"(<link path="/News" id=":10"/>)"
      R"(<link path="/News" title="Site" url="http://site/" id=":11"/>)"
      R"(<link path="/News/Deep" private="client"/>)"
      R"(<link path="/Private" private="CLIENT"/>)"
      R"(<link path="/Shared" id=":12"/>)"
      R"(<link path="/Shared" private="CLIENT"/>)"
      "</links>");
  auto tree = std::make_shared<TServerTree>(SelectNodes(links, "//link"), "Server");
  const TNodeList refNodes = CollectNodesWithRef(*tree);
  ASSERT_EQ(refNodes.size(), 3u);

  const TXmlDocument xlinks = MakeFromString(
      "<xlinks>"
      R"(<link path="/$pub/11" ref=":11" rank="3" user-data="u"/>)"
      R"(<link path="/$news/10" ref="user:10" rank="x"/>)"
      R"(<link path="/$pub/10" ref=":10" rank="7"/>)"
      R"(<link path="/$pub/99" ref=":99"/>)"
      R"(<link path="/$pub/12" ref=":12"/>)"
      R"(<link path="/other/5" ref=":5"/>)"       // not a public root
      R"(<link path="/$pub/6" ref=""/>)"          // no reference
      R"(<link path="/$forum/abc" ref="abc"/>)"   // no id
      "</xlinks>");

  TBNodeMetas store(MetaFile());
  store.Add(Folder({"old"}, 1));
  store.RebuildFromServer(SelectNodes(xlinks, "//link"), &refNodes, tree.get());

  EXPECT_EQ(Paths(store), (std::vector<TStringList>{
                              {"news", "site"}, {"news"}, {}, {"shared"}, {"news", "deep"}, {"private"}}));
  const IBNodeMetaPtr site = store.Item(0);
  EXPECT_FALSE(site->GetIsFolder());
  EXPECT_EQ(site->GetURL(), "http://site/");
  const IBNodeMetaPtr news = store.Item(1);
  EXPECT_TRUE(news->GetIsFolder());
  EXPECT_TRUE(news->GetIsPublic());  // made public by the second link of the same id
  EXPECT_EQ(news->GetRank(), 7);
  // The file is saved: the record without a node is written without a name
  // (and is dropped on the next load); the private folder that already has
  // a record gets no second one.
  EXPECT_EQ(FileText(), SavedText("<bnode-meta>"
                                  R"(<bookmark id="11" type="pub," path="/news" title="site" url="http://site/" rank="3"/>)"
                                  R"(<folder id="10" type="pub," path="/news" rank="7"/>)"
                                  R"(<bookmark id="99" type="pub," path=""/>)"
                                  R"(<folder id="12" type="pub," path="/shared"/>)"
                                  R"(<folder type="private," path="/news/deep"/>)"
                                  R"(<folder type="private," path="/private"/>)"
                                  "</bnode-meta>"));
  EXPECT_EQ(store.PublicChecksum(),
            static_cast<std::int32_t>(StringChecksum("/$pub/11") + StringChecksum("/$pub/10") +
                                      StringChecksum("/$pub/99") + StringChecksum("/$pub/12")));

  // Without the reference nodes only the private folders are recorded; the
  // ids of a link list alone match nothing.
  store.RebuildFromServer(SelectNodes(xlinks, "//link"), nullptr, tree.get());
  EXPECT_EQ(Paths(store), (std::vector<TStringList>{{"news", "deep"}, {"private"}, {"shared"}}));
  store.RebuildFromServer(TXmlNodeList(), &refNodes, nullptr);
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(FileText(), SavedText("<bnode-meta/>"));
}

}  // namespace
}  // namespace kelvo
