#include "bookmarks/XBEL.h"

#include <exception>

#include "foundation/Log.h"

namespace kelvo {

namespace {

constexpr const char* kRoot = "xbel";
constexpr const char* kFolder = "folder";
constexpr const char* kBookmark = "bookmark";
constexpr const char* kTitle = "title";

// Reads the "bookmark" and "folder" children of an element into the
// folder, in order; other children go to onOther (titles). A child that
// fails ends the reading, logged; those already added stay.
template <typename TOnOther>
void ReadChildren(IFolder& folder, const TXmlElement& element, TOnOther onOther) {
  try {
    for (const TXmlElement& child : element.ChildElements()) {
      std::string name = child.Name();
      if (name == kBookmark) {
        folder.Add(std::make_shared<TXBELBookmark>(child));
      } else if (name == kFolder) {
        folder.Add(std::make_shared<TXBELFolder>(child));
      } else {
        onOther(name, child);
      }
    }
  } catch (const TKException& e) {
    TLog::Error("TXBELFolder.Create:" + e.FullMessage());
  }
}

TXmlElement Wrap(_xmlNode* raw) {
  TXmlElement element = XmlNodeFromRaw(raw);
  if (!element) throw TXBELException("Invalid dom element");
  return element;
}

}  // namespace

// ---------------------------------------------------------------------------
// Writing

TXmlDocument CreateXBELDocument() {
  TXmlDocument doc = MakeFromString(MakeEmptyDocText(kRoot));
  SetAttr(doc.DocumentElement(), "version", "1.0");
  return doc;
}

TXmlElement WriteXBELNode(const IBNodePtr& node, const TXmlElement& parentElement, bool flag) {
  auto* writable = dynamic_cast<IXBELWritable*>(node.get());
  if (writable == nullptr) return {};
  _xmlNode* written = nullptr;
  writable->WriteXBEL(parentElement.Raw(), flag, written);
  return XmlNodeFromRaw(written);
}

TXmlDocument TreeToXBEL(const IBNodePtr& root) {
  TXmlDocument doc = CreateXBELDocument();
  if (root) WriteXBELNode(root, doc.DocumentElement(), false);
  return doc;
}

void SaveTreeAsXBEL(const IBNodePtr& root, const std::string& fileName) {
  SaveToFile(TreeToXBEL(root), fileName);
}

void TBookmark::WriteXBEL(_xmlNode* parentElement, bool, _xmlNode*& element) {
  TXmlElement parent = Wrap(parentElement);
  TXmlDocument doc = parent.OwnerDocument();
  TXmlElement self = AddElement(doc, parent, kBookmark);
  if (!url_.empty()) SetAttr(self, "href", url_);
  AddTextElement(doc, self, kTitle, name_);
  element = self.Raw();
}

void TFolder::WriteXBEL(_xmlNode* parentElement, bool flag, _xmlNode*& element) {
  TXmlElement parent = Wrap(parentElement);
  element = nullptr;
  TXmlElement target = parent;
  if (flag || dynamic_cast<const ISimpleTree*>(this) == nullptr) {
    TXmlDocument doc = parent.OwnerDocument();
    target = AddAttrElement(doc, parent, kFolder, "yes", "folded");
    AddTextElement(doc, target, kTitle, name_);
    element = target.Raw();
  }
  for (const IBNodePtr& child : Children()) WriteXBELNode(child, target, flag);
}

// ---------------------------------------------------------------------------
// Reading

TXBELBookmark::TFields TXBELBookmark::Read(const TXmlElement& element) {
  if (!element.IsElement()) throw TXBELBookmarkException("Invalid dom element");
  TFields fields;
  fields.url = GetAttr(element, "href");
  fields.feed = element.HasAttr("feed") && GetAttr(element, "feed") == "true";
  for (const TXmlElement& child : element.ChildElements()) {
    if (child.Name() == kTitle) {
      fields.name = child.Text();
      break;
    }
  }
  return fields;
}

TXBELBookmark::TXBELBookmark(const TXmlElement& element) : TXBELBookmark(Read(element)) {}

TXBELBookmark::TXBELBookmark(const TFields& fields) : TBookmark(fields.name, fields.url) {
  if (fields.feed) feedURL_ = fields.url;
}

TXBELFolder::TXBELFolder(const TXmlElement& element) : TFolder(std::string()) {
  if (!element.IsElement()) throw TXBELException("Invalid dom element");
  ReadChildren(*this, element, [this](const std::string& name, const TXmlElement& child) {
    if (name == kTitle) SetName(child.Text());
  });
}

TXBELTree::TXBELTree(const std::string& fileName, const std::string& treeName)
    : TDefaultSimpleTree(treeName) {
  TXmlDocument doc;
  try {
    doc = LoadFromFile(fileName);
  } catch (const TXmlException& e) {
    throw TXBELException("Invalid xml file:" + fileName, e);
  }
  Build(doc);
}

TXBELTree::TXBELTree(const TXmlDocument& document, const std::string& treeName)
    : TDefaultSimpleTree(treeName) {
  Build(document);
}

void TXBELTree::Build(const TXmlDocument& document) {
  if (!document) return;
  TXmlElement root = document.DocumentElement();
  if (!root || root.Name() != kRoot) return;
  // The document's own "title" is read and not used: the caller names the tree.
  ReadChildren(*this, root, [](const std::string&, const TXmlElement&) {});
}

}  // namespace kelvo
