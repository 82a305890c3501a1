#pragma once
// XML documents for everything that builds or reads XML (server scripts and
// responses, node metadata, XBEL, statistics): a thin set of free functions
// over libxml2's DOM and XPath 1.0. Text in and out is UTF-8.
//
// Parsing never touches the network and never loads external DTDs or
// external entities: XBEL files in the wild name DTDs on remote servers, and
// a document must not be able to pull in local files either. Entities
// declared inside the document are expanded.
//
// Ownership: a TXmlNode holds a shared reference to its document, so an
// element keeps its document alive however long it is kept. A
// default-constructed node is "none". A document and its nodes may be used
// by one thread at a time; different documents on different threads are
// fine.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/KException.h"

struct _xmlNode;
struct _xmlDoc;

namespace kelvo {

KELVO_DECLARE_EXCEPTION(TXmlException, TKException);

namespace xml_detail {
struct TDocHolder;
}

// A document, an element, or any other node of a document (text, comment,
// attribute from an XPath selection). Copies share the same node.
class TXmlNode {
 public:
  TXmlNode() = default;

  explicit operator bool() const { return node_ != nullptr; }
  bool IsNone() const { return node_ == nullptr; }
  bool IsDocument() const;
  bool IsElement() const;
  // Text or CDATA.
  bool IsText() const;
  // The element's (or attribute's) name with its prefix; "#text",
  // "#comment", "#document" and the like for other nodes; "" for none.
  std::string Name() const;

  // The document this node belongs to (the document itself for a document).
  TXmlNode OwnerDocument() const;
  // A document's root element; for an element its own document's root.
  TXmlNode DocumentElement() const;
  TXmlNode Parent() const;
  TXmlNode FirstChild() const;
  TXmlNode NextSibling() const;
  // Every child node in order (elements, text, comments...).
  std::vector<TXmlNode> Children() const;
  // The child elements only, in order.
  std::vector<TXmlNode> ChildElements() const;

  // All text below the node (the DOM's "text"); an attribute's value.
  std::string Text() const;
  // Attributes of an element in document order, as (name, value).
  std::vector<std::pair<std::string, std::string>> Attributes() const;
  bool HasAttr(const std::string& name) const;
  // Detaches the child from this node. The child stays valid (it is freed
  // with its document), so wrappers still pointing at it never dangle.
  void RemoveChild(const TXmlNode& child);

  bool operator==(const TXmlNode& other) const { return node_ == other.node_; }
  bool operator!=(const TXmlNode& other) const { return node_ != other.node_; }

  // For code in this module; never freed by the caller.
  _xmlNode* Raw() const { return node_; }
  _xmlDoc* RawDocument() const;

 private:
  friend struct TXmlAccess;
  TXmlNode(std::shared_ptr<xml_detail::TDocHolder> holder, _xmlNode* node)
      : holder_(std::move(holder)), node_(node) {}

  std::shared_ptr<xml_detail::TDocHolder> holder_;
  _xmlNode* node_ = nullptr;
};

// The owning wrapper of a raw node of a document made by this module (for
// interfaces that pass libxml2 nodes); none for nullptr or a node of a
// document made elsewhere.
TXmlNode XmlNodeFromRaw(_xmlNode* node);

// Names that say what a function expects; all are the same node type.
using TXmlDocument = TXmlNode;
using TXmlElement = TXmlNode;

// The result of a selection: a list of nodes, or none when the selection
// failed (an empty list is a selection that matched nothing).
class TXmlNodeList {
 public:
  TXmlNodeList() = default;
  explicit TXmlNodeList(std::vector<TXmlNode> nodes) : nodes_(std::move(nodes)), valid_(true) {}

  explicit operator bool() const { return valid_; }
  bool IsNone() const { return !valid_; }
  std::size_t Length() const { return nodes_.size(); }
  const TXmlNode& Item(std::size_t index) const { return nodes_.at(index); }
  const TXmlNode& operator[](std::size_t index) const { return nodes_.at(index); }
  std::vector<TXmlNode>::const_iterator begin() const { return nodes_.begin(); }
  std::vector<TXmlNode>::const_iterator end() const { return nodes_.end(); }
  const std::vector<TXmlNode>& Nodes() const { return nodes_; }

 private:
  std::vector<TXmlNode> nodes_;
  bool valid_ = false;
};

// The declaration every document of this system starts with.
inline constexpr const char* kXmlDeclaration = R"(<?xml version="1.0" encoding="utf-8"?>)";

// Parses the text as a document; the declaration is put in front when the
// text does not contain "<?xml" (a leading byte-order mark is dropped). The
// text is UTF-8 whatever its declaration says. Raises TXmlException
// "MakeFromString:" + the parser's reason (with line and column).
TXmlDocument MakeFromString(const std::string& text);
// None when the file does not exist. Otherwise the file is parsed as
// stored (byte-order mark and declared encoding honoured); a malformed or
// unreadable file raises TXmlException "MakeFromString:" + reason + " in "
// + path.
TXmlDocument LoadFromFile(const std::string& path);
// Writes XmlText(document) atomically, creating missing parent folders. A
// failed write raises TKFileException (a lost save must not look like a
// successful one); a none document raises TXmlException.
void SaveToFile(const TXmlDocument& document, const std::string& path);
// A new document parsed from the node's markup; none for none.
TXmlDocument CloneDocument(const TXmlNode& node);
// kXmlDeclaration + "<" + rootName + " />".
std::string MakeEmptyDocText(const std::string& rootName);
// The UTF-8 serialisation: for a document the declaration followed by its
// content (no indentation added); for another node its own markup. "" for
// none.
std::string XmlText(const TXmlNode& node);

// A document stands for its root element. With an XPath: the text of the
// first node selected, "" when none; without: the node's own text. Failures
// are logged (context "ValueOf_ aXPath=" + xpath) and give "".
std::string ValueOf(const TXmlNode& node, const std::string& xpath = "");
// Failures (none node, bad expression, a result that is not a node set) are
// logged with context "SelectNodes_" and give a none list.
TXmlNodeList SelectNodes(const TXmlNode& node, const std::string& xpath);
// The first node selected, or none; failures logged "SelectSingleNode_".
TXmlNode SelectSingleNode(const TXmlNode& node, const std::string& xpath);

// The attribute's value; "" when absent or for a none element.
std::string GetAttr(const TXmlElement& element, const std::string& name);
// A leading "@" of the name is removed. Raises TXmlException for a none
// element or an invalid name.
void SetAttr(const TXmlElement& element, const std::string& name, const std::string& value);
// A new child element appended to the element; failures logged
// "AddChild_", result none.
TXmlElement AddChild(const TXmlElement& element, const std::string& name);
// A new child element holding one text node; failures logged
// "AddTextChild_", result none.
TXmlElement AddTextChild(const TXmlElement& element, const std::string& name,
                         const std::string& text);
// The first child selected by childName (an XPath relative to the
// element), or a new child of that name; a new text node with the text is
// appended to it, after any text it already holds. Raises TXmlException.
void SetChildText(const TXmlElement& element, const std::string& childName,
                  const std::string& text);
// The value of the element's first child (text, CDATA, comment; "" for an
// element child), or "" when it has none; "" for a node that is not an
// element.
std::string NodeText(const TXmlNode& element);

// The document creates the element and the parent appends it. Raises
// TXmlException (none document or parent, invalid name, parent of another
// document).
TXmlElement AddElement(const TXmlDocument& document, const TXmlNode& parent,
                       const std::string& name);
// AddElement, then the element's text.
TXmlElement AddTextElement(const TXmlDocument& document, const TXmlNode& parent,
                           const std::string& name, const std::string& text);
// AddElement, then the attribute attrName := value.
TXmlElement AddAttrElement(const TXmlDocument& document, const TXmlNode& parent,
                           const std::string& name, const std::string& value,
                           const std::string& attrName);

}  // namespace kelvo
