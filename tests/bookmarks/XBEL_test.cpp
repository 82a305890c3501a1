#include "bookmarks/XBEL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "NodeTestSupport.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "foundation/FileTools.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

using XBELTest = test::NodeLogTest;

const std::string kCorpus = std::string(KELVO_CORPUS_DIR) + "/xbel/";

// Every node below a folder as "depth|name|url" (folders "depth|name/"),
// in walk order.
void Flatten(const IFolder& folder, int depth, std::vector<std::string>& out) {
  for (int i = 0; i < folder.Count(); ++i) {
    IBNodePtr node = folder.Get(i);
    if (auto sub = std::dynamic_pointer_cast<IFolder>(node)) {
      out.push_back(std::to_string(depth) + "|" + node->GetName() + "/");
      Flatten(*sub, depth + 1, out);
    } else if (auto bookmark = std::dynamic_pointer_cast<IBookmark>(node)) {
      out.push_back(std::to_string(depth) + "|" + node->GetName() + "|" + bookmark->GetURL());
    }
  }
}

std::vector<std::string> Flatten(const IFolder& folder) {
  std::vector<std::string> out;
  Flatten(folder, 0, out);
  return out;
}

std::shared_ptr<TXBELTree> ReadText(const std::string& text) {
  return std::make_shared<TXBELTree>(MakeFromString(text), "t");
}

std::string Body(const TXmlDocument& doc) {
  std::string text = XmlText(doc);
  std::string head = std::string(kXmlDeclaration) + "\n";
  EXPECT_EQ(text.rfind(head, 0), 0u) << text;
  return text.substr(head.size());
}

TEST_F(XBELTest, WritesTheSubsetInListOrder) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Favorites");
  auto news = std::make_shared<TFolder>("News & <Views>");
  news->Add(std::make_shared<TBookmark>("Caf\xC3\xA9 \"Le Monde\"", "http://lemonde.fr/?a=1&b=2"));
  auto empty = std::make_shared<TDefaultKFolder>("");
  news->Add(empty);
  tree->Add(std::make_shared<TBookmark>("Top", "http://top/"));
  tree->Add(news);
  tree->Add(std::make_shared<TBookmark>("No URL", ""));
  // The feed address of a live bookmark is not written.
  tree->Add(std::make_shared<TDefaultKBookmark>("Feed", "", "http://feed/rss"));

  EXPECT_EQ(Body(TreeToXBEL(tree)),
            "<xbel version=\"1.0\">"
            "<bookmark href=\"http://top/\"><title>Top</title></bookmark>"
            "<folder folded=\"yes\"><title>News &amp; &lt;Views&gt;</title>"
            "<bookmark href=\"http://lemonde.fr/?a=1&amp;b=2\"><title>Caf\xC3\xA9 \"Le Monde\"</title></bookmark>"
            "<folder folded=\"yes\"><title/></folder>"
            "</folder>"
            "<bookmark><title>No URL</title></bookmark>"
            "<bookmark href=\"http://feed/rss\"><title>Feed</title></bookmark>"
            "</xbel>\n");

  // A root writes only its children; with the flag it is a folder itself.
  TXmlDocument doc = CreateXBELDocument();
  EXPECT_FALSE(WriteXBELNode(tree, doc.DocumentElement(), false));
  TXmlDocument flagged = CreateXBELDocument();
  TXmlElement self = WriteXBELNode(tree, flagged.DocumentElement(), true);
  ASSERT_TRUE(self);
  EXPECT_EQ(self.Name(), "folder");
  EXPECT_EQ(ValueOf(self, "title"), "Favorites");
  EXPECT_EQ(SelectNodes(flagged, "/xbel/folder/folder/folder").Length(), 1u);
  // A folder's element is the one it wrote.
  TXmlElement folderElement = WriteXBELNode(news, doc.DocumentElement(), false);
  EXPECT_EQ(ValueOf(folderElement, "title"), "News & <Views>");
}

TEST_F(XBELTest, WrittenFileReadsBackTheSameTree) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Favorites");
  auto a = std::make_shared<TFolder>("A");
  auto b = std::make_shared<TFolder>("B\tTabbed");
  b->Add(std::make_shared<TBookmark>("deep", "ftp://x/y"));
  a->Add(b);
  a->Add(std::make_shared<TBookmark>("Stray \x85 byte \x01", "http://x/\xC3\xA9"));
  tree->Add(a);
  tree->Add(std::make_shared<TBookmark>("", "http://no-name/"));
  tree->Add(std::make_shared<TBookmark>("no url", ""));

  std::string file = home_->Sub("archive/sub/Favorites.xbel");
  SaveTreeAsXBEL(tree, file);
  EXPECT_EQ(std::distance(fs::directory_iterator(home_->Sub("archive/sub")), fs::directory_iterator()), 1);

  auto back = std::make_shared<TXBELTree>(file, "restored");
  EXPECT_EQ(back->GetName(), "restored");
  std::vector<std::string> expected = {
      "0|A/", "1|B\tTabbed/", "2|deep|ftp://x/y",
      // Text XML cannot hold is stored safely instead of making the file unreadable.
      "1|Stray \xE2\x80\xA6 byte \xEF\xBF\xBD|http://x/\xC3\xA9", "0||http://no-name/", "0|no url|"};
  EXPECT_EQ(Flatten(*back), expected);
  // Read nodes are of the XBEL classes.
  EXPECT_EQ(back->Get(0)->GetNodeType(), kNodeTypeFolder);
  EXPECT_NE(std::dynamic_pointer_cast<TXBELFolder>(back->Get(0)), nullptr);
  EXPECT_EQ(back->Get(1)->GetNodeType(), kNodeTypeXBELBookmark);
  // Written again, the read tree gives the same document.
  EXPECT_EQ(XmlText(TreeToXBEL(back)), test::ReadFileText(file));
}

TEST_F(XBELTest, ReadingRules) {
  auto tree = ReadText(
      "<xbel version=\"1.0\"><title>Ignored</title><info><metadata/></info>"
      "<folder><title>first</title><desc>d</desc><title>second</title>"
      "<bookmark href=\"u1\"><title>one</title><title>two</title></bookmark>"
      "<separator/><alias ref=\"x\"/>"
      "<bookmark feed=\"true\" href=\"http://f/rss\"><title>live</title></bookmark>"
      "<bookmark feed=\"TRUE\" href=\"http://g/\"/>"
      "</folder><separator/><bookmark><title>no href</title></bookmark></xbel>");
  std::vector<std::string> expected = {"0|second/", "1|one|u1", "1|live|http://f/rss",
                                       "1||http://g/", "0|no href|"};
  EXPECT_EQ(Flatten(*tree), expected);
  auto folder = std::dynamic_pointer_cast<IFolder>(tree->Get(0));
  auto live = std::dynamic_pointer_cast<IBookmark>(folder->Get(1));
  auto notLive = std::dynamic_pointer_cast<IBookmark>(folder->Get(2));
  EXPECT_EQ(live->GetFeedURL(), "http://f/rss");
  EXPECT_EQ(notLive->GetFeedURL(), "");
  // Written back, the live bookmark loses its feed marking.
  EXPECT_EQ(SelectNodes(TreeToXBEL(tree), "//@feed").Length(), 0u);

  // A root that is not "xbel", or no document: an empty tree, no message.
  EXPECT_EQ(ReadText("<bookmarks><bookmark href=\"x\"/></bookmarks>")->Count(), 0);
  EXPECT_EQ(std::make_shared<TXBELTree>(TXmlDocument(), "t")->Count(), 0);
  EXPECT_EQ(std::make_shared<TXBELTree>(home_->Sub("missing.xbel"), "t")->Count(), 0);
  EXPECT_FALSE(LogHas("TXBELFolder.Create:"));

  EXPECT_THROW(TXBELFolder{TXmlElement{}}, TXBELException);
  EXPECT_THROW(TXBELBookmark{TXmlElement{}}, TXBELBookmarkException);
}

struct TCorpusCase {
  const char* file;
  int bookmarks;
  int folders;
  int topLevel;
  // Some nodes the file must give, as Flatten writes them.
  std::vector<std::string> nodes;
};

TEST_F(XBELTest, EveryCorpusFileReadsAsExpected) {
  const TCorpusCase cases[] = {
      {"02-arora-bad-version.xbel", 4, 5, 4,
       {"0|/", "0|Folder Title/", "1|Title 2|http://www.bar.com/", "1|SubFolder/", "2|Title3|http://www.foo.com"}},
      {"03-arora-frank.xbel", 64, 11, 0,
       {"0|Literate Programming/", "1|Synopsis of Literate Programming|http://www.vivtek.com/litprog.html",
        "1|STL/", "1|Alex Catalogue of Electronic Texts.|http://www.infomotions.com/alex2/"}},
      {"04-kde4-konqueror-bookmarks.xml", 6, 0, 6,
       {"0|Qt site|http://qt.nokia.com/", "0|KDE site|http://www.kde.org/"}},
      {"05-kde4-okular-bookmarks.xml", 4, 2, 2,
       {"0|/home/zach/Dropbox/Research/HUSL/Autorotation/Thesis/tamuthesis.pdf/",
        "1|#51|file:///home/zach/Dropbox/Research/HUSL/Autorotation/Thesis/tamuthesis.pdf#50"}},
      {"06-kde4-kdesvn-bookmarks.xml", 3, 0, 3, {"0|ACM|file:///home/zach/HUSLSVN/ACM"}},
      {"07-kde4-kfileplaces-bookmarks.xml", 19, 0, 19,
       {"0|Home|file:///home/zach", "0|Network|remote:/", "0|Bluetooth|bluetooth:/"}},
      {"08-kf5-user-places.xbel", 15, 0, 15, {"0|Desktop|file:///home/guest/Desktop", "0|Videos|search:/videos"}},
      {"09-gtk-recently-used.xbel", 1, 0, 1, {"0||file:///home/jsr/.config/wall.jpg"}},
      {"10-glib-valid-01.xbel", 1, 0, 1, {"0||file:///home/zefram/Documents/milan-stuttgart.ps"}},
      {"11-glib-valid-03-doctype-public.xbel", 1, 0, 1,
       {"0||file:///home/zefram/Documents/milan-stuttgart.ps"}},
      // Declared ISO-8859-1 while the bytes are UTF-8: read as declared.
      {"13-boof-wikipedia-latin1-decl.xbel", 2, 2, 1,
       {"0|Wiki/", "1|Wikimedia Foundation|http://wikimediafoundation.org/", "1|/"}},
      {"14-boof-complex-alias.xbel", 14, 6, 0,
       {"0|HTTP Clients/", "1|Netscape|http://www.netscape.com/download/", "1|RSS/",
        "2|XML By Example|http://www.amazon.com/exec/obidos/ASIN/0789725045/"}},
      {"15-floccus-sync.xbel", 5, 2, 0,
       {"2|Bank 2 because 2 gt 1 !#\xE2\x82\xAC|https://www.bank2.com/", "0|Bank3 my current bank|https://www.bank3.com/"}},
      {"16-webbrowser2-unindented.xbel", 1063, 179, 0,
       {"0|X/", "1|Multiterminal with Xephyr - Wikibooks, collection of open-content textbooks|"
                "http://en.wikibooks.org/wiki/Multiterminal_with_Xephyr",
        "2|Red Kidney Beans - Bulkfoods.com|http://www.bulkfoods.com/dried-beans/4244-red-kidney-beans.html"}},
      {"17-slleditor-two-titles.xbel", 0, 3, 2,
       {"0|Qt Resources 2/", "1|Community Resources 2/", "0|Online Dictionaries/"}},
  };
  for (const TCorpusCase& c : cases) {
    SCOPED_TRACE(c.file);
    auto tree = std::make_shared<TXBELTree>(kCorpus + c.file, c.file);
    tree->InitHashes();
    EXPECT_EQ(tree->BookmarkCount(), c.bookmarks);
    EXPECT_EQ(tree->FolderCount(), c.folders);
    if (c.topLevel > 0) {
      EXPECT_EQ(tree->Count(), c.topLevel);
    }
    std::vector<std::string> all = Flatten(*tree);
    for (const std::string& node : c.nodes) {
      EXPECT_NE(std::find(all.begin(), all.end(), node), all.end()) << node;
    }
    // Nothing of what was read is lost when it is written and read again.
    std::string copy = home_->Sub(std::string("copy/") + c.file);
    SaveTreeAsXBEL(tree, copy);
    EXPECT_EQ(Flatten(*std::make_shared<TXBELTree>(copy, "copy")), all);
  }
  EXPECT_FALSE(LogHas("TXBELFolder.Create:"));
}

TEST_F(XBELTest, UnreadableCorpusFilesFailCleanly) {
  struct TBad {
    const char* file;
    const char* reason;
  } cases[] = {{"01-arora-all.xbel", "nbsp"}, {"12-glib-fail-01-empty.xbel", "MakeFromString:"}};
  for (const TBad& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = kCorpus + c.file;
    try {
      TXBELTree tree(path, "t");
      FAIL() << "read without error";
    } catch (const TXBELException& e) {
      EXPECT_EQ(e.Message(), "Invalid xml file:" + path);
      EXPECT_NE(e.Origin().find(c.reason), std::string::npos) << e.Origin();
    }
  }
}

}  // namespace
}  // namespace kelvo
