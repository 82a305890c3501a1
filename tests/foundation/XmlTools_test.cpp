#include "foundation/XmlTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestHome.h"
#include "foundation/FileTools.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/fake/MemoryRegistry.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

// Each test runs with its own HOME and a log file, so that what the
// functions log can be checked.
class XmlToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<test::TTestHome>();
    registry_ = std::make_shared<TMemoryRegistry>();
    SetRegistry(registry_);
    TLog::ResetForTests();
    logFile_ = home_->Sub("log.txt");
    TLog::Init(5, logFile_, false, false);
  }
  void TearDown() override {
    TLog::ResetForTests();
    SetRegistry(nullptr);
    home_.reset();
  }
  std::string LogText() const { return test::ReadFileText(logFile_); }

  std::unique_ptr<test::TTestHome> home_;
  std::shared_ptr<TMemoryRegistry> registry_;
  std::string logFile_;
};

std::string ParseError(const std::string& text) {
  try {
    MakeFromString(text);
  } catch (const TXmlException& e) {
    return e.Message();
  }
  return "(no exception)";
}

TEST_F(XmlToolsTest, MakeFromStringBuildsDocumentsAndReportsTheParserReason) {
  TXmlDocument doc = MakeFromString("<root/>");
  ASSERT_TRUE(doc.IsDocument());
  EXPECT_EQ(doc.DocumentElement().Name(), "root");
  EXPECT_TRUE(doc.DocumentElement().Children().empty());

  // An existing declaration is kept; one naming another encoding does not
  // change how the (already decoded) text is read; a byte-order mark is fine.
  EXPECT_EQ(ValueOf(MakeFromString("<?xml version=\"1.0\"?><a>x</a>"), ""), "x");
  EXPECT_EQ(ValueOf(MakeFromString("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>")),
            "\xC3\xA9");
  EXPECT_EQ(ValueOf(MakeFromString("\xEF\xBB\xBF<a>b</a>")), "b");

  const char* bad[] = {"<root", "", "   ", "<a></b>", "<a>&nbsp;</a>", "<a>\xFF</a>",
                       "<a/><b/>", "text only"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    std::string message = ParseError(text);
    EXPECT_EQ(message.rfind("MakeFromString:", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("MakeFromString:").size() + 5) << message;
  }
  // The reason is the parser's own text.
  EXPECT_NE(ParseError("<a>&nbsp;</a>").find("nbsp"), std::string::npos);
  EXPECT_NE(ParseError("<a></b>").find("line 1"), std::string::npos);
}

TEST_F(XmlToolsTest, NothingExternalIsEverLoaded) {
  std::string secretFile = home_->Sub("secret.txt");
  test::WriteFileText(secretFile, "SECRET");
  // A remote DTD is not fetched (parsing does not wait for the network) and
  // its entities stay unknown; a local external entity is not read.
  TXmlDocument doc = MakeFromString(
      "<!DOCTYPE a SYSTEM \"http://192.0.2.1/none.dtd\"><a x=\"1\">ok</a>");
  EXPECT_EQ(ValueOf(doc), "ok");
  TXmlDocument local = MakeFromString("<!DOCTYPE a [<!ENTITY s SYSTEM \"file://" + secretFile +
                                      "\">]><a>[&s;]</a>");
  EXPECT_EQ(XmlText(local).find("SECRET"), std::string::npos) << XmlText(local);
  // Entities declared inside the document are expanded.
  EXPECT_EQ(ValueOf(MakeFromString("<!DOCTYPE a [<!ENTITY e \"expanded\">]><a>&e;</a>")),
            "expanded");
}

TEST_F(XmlToolsTest, XmlTextStartsWithTheDeclarationAndIsUtf8) {
  EXPECT_EQ(MakeEmptyDocText("xbel"), "<?xml version=\"1.0\" encoding=\"utf-8\"?><xbel />");
  TXmlDocument doc = MakeFromString(MakeEmptyDocText("r"));
  TXmlElement child = AddTextElement(doc, doc.DocumentElement(), "t", "caf\xC3\xA9 & <b> \"q\"");
  SetAttr(child, "href", "http://x/?a=1&b=\"2\"<");
  std::string text = XmlText(doc);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << text;
  EXPECT_NE(text.find("caf\xC3\xA9"), std::string::npos) << text;  // the bytes C3 A9, no reference
  // What was written reads back the same.
  TXmlDocument again = MakeFromString(text);
  EXPECT_EQ(ValueOf(again, "t"), "caf\xC3\xA9 & <b> \"q\"");
  EXPECT_EQ(ValueOf(again, "t/@href"), "http://x/?a=1&b=\"2\"<");
  // An element gives its own markup only.
  EXPECT_EQ(XmlText(again.DocumentElement().FirstChild()).rfind("<t href=", 0), 0u);
  EXPECT_EQ(XmlText(TXmlNode()), "");
}

TEST_F(XmlToolsTest, TextThatXmlCannotHoldIsMadeSafeSoTheDocumentReadsBack) {
  TXmlDocument doc = MakeFromString("<r/>");
  // A stray Windows-1252 byte and control characters, as file names may hold.
  AddTextElement(doc, doc.DocumentElement(), "t", std::string("a\x01" "b\x85" "c\x00" "d", 7));
  SetAttr(doc.DocumentElement().FirstChild(), "v", "x\x1Fy");
  TXmlDocument again = MakeFromString(XmlText(doc));
  EXPECT_EQ(ValueOf(again, "t"), "a\xEF\xBF\xBD" "b\xE2\x80\xA6" "c\xEF\xBF\xBD" "d");
  EXPECT_EQ(ValueOf(again, "t/@v"), "x\xEF\xBF\xBDy");
}

TEST_F(XmlToolsTest, SelectionsAndTheirLoggedFailures) {
  TXmlDocument doc = MakeFromString(
      "<r id=\"7\"><item n=\"1\">one</item><item n=\"2\">two<sub>!</sub></item></r>");
  // A document stands for its root element.
  EXPECT_EQ(ValueOf(doc, "@id"), "7");
  EXPECT_EQ(ValueOf(doc, "item"), "one");
  EXPECT_EQ(ValueOf(doc, "item[2]"), "two!");
  EXPECT_EQ(ValueOf(doc, "item[@n='2']/sub"), "!");
  EXPECT_EQ(ValueOf(doc.DocumentElement().ChildElements()[1]), "two!");
  EXPECT_EQ(ValueOf(doc, "nothing/here"), "");
  EXPECT_EQ(SelectNodes(doc, "//item").Length(), 2u);
  EXPECT_EQ(SelectSingleNode(doc, "//item").Text(), "one");
  EXPECT_FALSE(SelectSingleNode(doc, "//none"));
  TXmlNodeList empty = SelectNodes(doc, "//none");
  EXPECT_TRUE(empty);
  EXPECT_EQ(empty.Length(), 0u);
  EXPECT_EQ(LogText(), "") << "selecting nothing is not a failure";

  EXPECT_EQ(ValueOf(doc, "item[@n="), "");
  EXPECT_NE(LogText().find("ValueOf_ aXPath=item[@n="), std::string::npos) << LogText();
  EXPECT_TRUE(SelectNodes(doc, "count(item)").IsNone());  // not a node set
  EXPECT_NE(LogText().find("SelectNodes_"), std::string::npos);
  EXPECT_FALSE(SelectSingleNode(TXmlNode(), "x"));
  EXPECT_NE(LogText().find("SelectSingleNode_"), std::string::npos);
  EXPECT_EQ(ValueOf(TXmlNode(), "x"), "");
}

TEST_F(XmlToolsTest, PrefixedNamesOfTheDocumentCanBeSelected) {
  TXmlDocument doc = MakeFromString(
      "<xbel xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\">"
      "<info><metadata><bookmark:icon name=\"folder\"/></metadata></info></xbel>");
  EXPECT_EQ(ValueOf(doc, "info/metadata/bookmark:icon/@name"), "folder");
  EXPECT_EQ(SelectSingleNode(doc, "//bookmark:icon").Name(), "bookmark:icon");
}

TEST_F(XmlToolsTest, AttributesAndChildText) {
  TXmlDocument doc = MakeFromString("<r a=\"1\" b=\"2\"/>");
  TXmlElement root = doc.DocumentElement();
  SetAttr(root, "@code", "404");
  SetAttr(root, "a", "one");
  EXPECT_EQ(GetAttr(root, "code"), "404");
  EXPECT_FALSE(root.HasAttr("@code"));
  EXPECT_EQ(GetAttr(root, "missing"), "");
  EXPECT_EQ(GetAttr(TXmlNode(), "a"), "");
  // Replacing a value keeps the attribute's place.
  std::vector<std::pair<std::string, std::string>> expected = {
      {"a", "one"}, {"b", "2"}, {"code", "404"}};
  EXPECT_EQ(root.Attributes(), expected);
  EXPECT_THROW(SetAttr(root, "bad name", "x"), TXmlException);
  EXPECT_THROW(SetAttr(TXmlNode(), "a", "x"), TXmlException);

  SetChildText(root, "c", "x");
  SetChildText(root, "c", "y");
  EXPECT_EQ(SelectNodes(root, "c").Length(), 1u);
  EXPECT_EQ(ValueOf(root, "c"), "xy");
  EXPECT_EQ(XmlText(root), "<r a=\"one\" b=\"2\" code=\"404\"><c>xy</c></r>");
}

TEST_F(XmlToolsTest, NodeTextIsTheFirstChildsValue) {
  TXmlDocument doc = MakeFromString(
      "<r><t>text<b>bold</b></t><e/><n><b>x</b>after</n><c><![CDATA[<raw>]]></c>"
      "<m><!--note--></m></r>");
  struct TCase {
    const char* xpath;
    const char* text;
  } cases[] = {{"t", "text"}, {"e", ""}, {"n", ""}, {"c", "<raw>"}, {"m", "note"}};
  for (const TCase& c : cases) {
    EXPECT_EQ(NodeText(SelectSingleNode(doc.DocumentElement(), c.xpath)), c.text) << c.xpath;
  }
  EXPECT_EQ(NodeText(doc), "");                                 // not an element
  EXPECT_EQ(NodeText(SelectSingleNode(doc, "r/t/text()")), "");  // not an element
  EXPECT_EQ(NodeText(TXmlNode()), "");
}

TEST_F(XmlToolsTest, BuildersRaiseWhileChildAddersLog) {
  TXmlDocument doc = MakeFromString("<r/>");
  TXmlElement root = doc.DocumentElement();
  TXmlElement a = AddAttrElement(doc, root, "a", "v", "@k");
  EXPECT_EQ(GetAttr(a, "k"), "v");
  TXmlElement t = AddTextChild(a, "t", "hello");
  EXPECT_EQ(NodeText(t), "hello");
  EXPECT_TRUE(AddChild(t, "u"));
  EXPECT_EQ(XmlText(root), "<r><a k=\"v\"><t>hello<u/></t></a></r>");
  EXPECT_EQ(LogText(), "");

  EXPECT_THROW(AddElement(doc, root, "1bad"), TXmlException);
  EXPECT_THROW(AddElement(doc, TXmlNode(), "x"), TXmlException);
  EXPECT_THROW(AddElement(TXmlNode(), root, "x"), TXmlException);
  EXPECT_THROW(AddElement(MakeFromString("<o/>"), root, "x"), TXmlException);
  EXPECT_THROW(AddElement(doc, doc, "second-root"), TXmlException);
  EXPECT_THROW(AddTextElement(doc, root, "", "x"), TXmlException);

  EXPECT_FALSE(AddChild(TXmlNode(), "x"));
  EXPECT_NE(LogText().find("AddChild_"), std::string::npos);
  EXPECT_FALSE(AddTextChild(root, "<bad>", "x"));
  EXPECT_NE(LogText().find("AddTextChild_"), std::string::npos);
  EXPECT_EQ(XmlText(root), "<r><a k=\"v\"><t>hello<u/></t></a></r>");
}

TEST_F(XmlToolsTest, NodesKeepTheirDocumentAlive) {
  TXmlElement kept;
  TXmlElement removed;
  {
    TXmlDocument doc = MakeFromString("<r><a>1</a><b>2</b></r>");
    // A selection from the document starts at the document node.
    EXPECT_FALSE(SelectSingleNode(doc, "b"));
    kept = SelectSingleNode(doc, "r/b");
    removed = SelectSingleNode(doc.DocumentElement(), "a");
    doc.DocumentElement().RemoveChild(removed);
    EXPECT_THROW(doc.DocumentElement().RemoveChild(removed), TXmlException);
    // A raw node handed through an interface comes back as an owning one.
    kept = XmlNodeFromRaw(kept.Raw());
    EXPECT_TRUE(XmlNodeFromRaw(doc.Raw()).IsDocument());
  }
  EXPECT_EQ(NodeText(kept), "2");
  EXPECT_EQ(NodeText(removed), "1");
  EXPECT_EQ(XmlText(kept.OwnerDocument()), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<r><b>2</b></r>\n");

  TXmlDocument copy = CloneDocument(kept);
  AddChild(copy.DocumentElement(), "c");
  EXPECT_EQ(XmlText(kept), "<b>2</b>");
  EXPECT_EQ(XmlText(copy.DocumentElement()), "<b>2<c/></b>");
  EXPECT_FALSE(CloneDocument(TXmlNode()));
  EXPECT_FALSE(XmlNodeFromRaw(nullptr));
}

TEST_F(XmlToolsTest, FilesLoadAndSaveAtomically) {
  std::string path = home_->Sub("data/deeper/doc.xml");
  EXPECT_FALSE(LoadFromFile(path));  // missing: none, no exception

  TXmlDocument doc = MakeFromString(MakeEmptyDocText("bnode-meta"));
  AddAttrElement(doc, doc.DocumentElement(), "folder", "/N\xC3\xA9ws", "path");
  SaveToFile(doc, path);
  std::string bytes = test::ReadFileText(path);
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u);
  EXPECT_EQ(ValueOf(LoadFromFile(path), "folder/@path"), "/N\xC3\xA9ws");
  EXPECT_EQ(fs::directory_iterator(home_->Sub("data/deeper")) == fs::directory_iterator(), false);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(home_->Sub("data/deeper"))) ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file is left";

  // A file is read as stored: its declared encoding counts.
  std::string latin = home_->Sub("latin.xml");
  test::WriteFileText(latin, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>");
  EXPECT_EQ(ValueOf(LoadFromFile(latin)), "\xC3\xA9");

  std::string broken = home_->Sub("broken.xml");
  test::WriteFileText(broken, "<a><b></a>");
  try {
    LoadFromFile(broken);
    FAIL() << "no exception";
  } catch (const TXmlException& e) {
    EXPECT_EQ(e.Message().rfind("MakeFromString:", 0), 0u);
    EXPECT_NE(e.Message().find(broken), std::string::npos) << e.Message();
  }
  EXPECT_THROW(LoadFromFile(home_->Sub("data")), TXmlException);  // a folder

  // A save that cannot happen is reported, and the old file stays.
  test::WriteFileText(home_->Sub("blocker"), "keep");
  EXPECT_THROW(SaveToFile(doc, home_->Sub("blocker/doc.xml")), TKFileException);
  EXPECT_EQ(test::ReadFileText(home_->Sub("blocker")), "keep");
  EXPECT_THROW(SaveToFile(TXmlNode(), path), TXmlException);
}

}  // namespace
}  // namespace kelvo
