#include "foundation/XmlTools.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "foundation/AtomicFile.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace kelvo {

namespace xml_detail {

// Owns the libxml2 document and every node detached from it, so that no
// wrapper can outlive the memory it points at.
struct TDocHolder : std::enable_shared_from_this<TDocHolder> {
  explicit TDocHolder(xmlDocPtr d) : doc(d) { doc->_private = this; }
  ~TDocHolder() {
    for (xmlNodePtr node : detached) {
      if (node->parent == nullptr) xmlFreeNode(node);
    }
    xmlFreeDoc(doc);
  }
  TDocHolder(const TDocHolder&) = delete;
  TDocHolder& operator=(const TDocHolder&) = delete;

  xmlDocPtr doc;
  std::vector<xmlNodePtr> detached;
};

}  // namespace xml_detail

struct TXmlAccess {
  static TXmlNode Make(const std::shared_ptr<xml_detail::TDocHolder>& holder, xmlNodePtr node) {
    if (node == nullptr) return {};
    return TXmlNode(holder, node);
  }
  static const std::shared_ptr<xml_detail::TDocHolder>& Holder(const TXmlNode& node) {
    return node.holder_;
  }
};

namespace {

using xml_detail::TDocHolder;

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::string S(const xmlChar* s) { return s ? std::string(reinterpret_cast<const char*>(s)) : ""; }

// Takes ownership of a string libxml2 allocated.
std::string Take(xmlChar* s) {
  std::string out = S(s);
  xmlFree(s);
  return out;
}

// Set while one of our parses runs on this thread: external entities and
// DTDs are then never loaded, from the network or from local files. Other
// users of libxml2 in the process keep the default loader.
thread_local bool tGuardedParse = false;
xmlExternalEntityLoader gDefaultLoader = nullptr;

xmlParserInputPtr GuardedLoader(const char* url, const char* id, xmlParserCtxtPtr context) {
  if (tGuardedParse) return nullptr;
  return gDefaultLoader ? gDefaultLoader(url, id, context) : nullptr;
}

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    gDefaultLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(GuardedLoader);
  });
}

struct TGuard {
  TGuard() { tGuardedParse = true; }
  ~TGuard() { tGuardedParse = false; }
  TGuard(const TGuard&) = delete;
  TGuard& operator=(const TGuard&) = delete;
};

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string Reason(xmlParserCtxtPtr context) {
  const xmlError* error = xmlCtxtGetLastError(context);
  if (error == nullptr || error->message == nullptr) return "the document could not be parsed";
  std::string reason = Trimmed(error->message);
  if (error->line > 0) {
    reason += " (line " + std::to_string(error->line);
    if (error->int2 > 0) reason += ", column " + std::to_string(error->int2);
    reason += ")";
  }
  return reason;
}

constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// encoding: nullptr lets the document's mark and declaration decide.
TXmlDocument Parse(const std::string& data, const char* url, const char* encoding,
                   const std::string& where) {
  InitLibrary();
  if (data.size() > static_cast<std::size_t>(INT_MAX)) {
    throw TXmlException("MakeFromString:document too large" + where);
  }
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (context == nullptr) throw TXmlException("MakeFromString:out of memory" + where);
  xmlDocPtr doc = nullptr;
  {
    TGuard guard;
    doc = xmlCtxtReadMemory(context, data.data(), static_cast<int>(data.size()), url, encoding,
                            kParseOptions);
  }
  if (doc == nullptr || !context->wellFormed) {
    std::string reason = Reason(context);
    if (doc != nullptr) xmlFreeDoc(doc);
    xmlFreeParserCtxt(context);
    throw TXmlException("MakeFromString:" + reason + where);
  }
  xmlFreeParserCtxt(context);
  auto holder = std::make_shared<TDocHolder>(doc);
  return TXmlAccess::Make(holder, reinterpret_cast<xmlNodePtr>(doc));
}

// Text made safe for an XML document: a byte that is not part of a
// well-formed UTF-8 sequence is read as the Windows-1252 character it
// would be on the original platform, and characters XML 1.0 cannot hold
// (most control characters) become U+FFFD. Otherwise the document would be
// written but could never be read back.
std::string XmlSafe(const std::string& text) {
  bool clean = true;
  for (unsigned char c : text) {
    if (c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
      clean = false;
      break;
    }
  }
  if (clean) return text;
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    TUtf8Char ch = DecodeUtf8(text, pos);
    char32_t code = ch.valid ? ch.code : Windows1252ToUnicode(static_cast<unsigned char>(ch.code));
    bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                   (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    AppendUtf8(out, allowed ? code : char32_t{0xFFFD});
    pos += ch.length;
  }
  return out;
}

bool ValidName(const std::string& name) {
  return !name.empty() && IsValidUtf8(name) && xmlValidateQName(X(name), 0) == 0;
}

std::string QualifiedName(const xmlChar* name, const xmlNs* ns) {
  std::string out;
  if (ns != nullptr && ns->prefix != nullptr) out = S(ns->prefix) + ":";
  return out + S(name);
}

xmlAttrPtr FindAttr(xmlNodePtr node, const std::string& name) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return nullptr;
  for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
    if (QualifiedName(attr->name, attr->ns) == name) return attr;
  }
  return nullptr;
}

std::string Serialize(xmlNodePtr node) {
  xmlBufferPtr buffer = xmlBufferCreate();
  if (buffer == nullptr) throw TXmlException("XmlText:out of memory");
  xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
  if (save == nullptr) {
    xmlBufferFree(buffer);
    throw TXmlException("XmlText:out of memory");
  }
  if (node->type == XML_DOCUMENT_NODE) {
    xmlSaveDoc(save, reinterpret_cast<xmlDocPtr>(node));
  } else {
    xmlSaveTree(save, node);
  }
  xmlSaveClose(save);
  std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                  static_cast<std::size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return out;
}

void CollectXPathError(void* data, xmlError* error) {
  auto* message = static_cast<std::string*>(data);
  if (error != nullptr && error->message != nullptr && message->empty()) {
    *message = Trimmed(error->message);
  }
}

// The nodes an XPath selects from the node; raises TXmlException.
std::vector<TXmlNode> Evaluate(const TXmlNode& node, const std::string& xpath) {
  InitLibrary();
  if (!node) throw TXmlException("no node to select from");
  xmlXPathContextPtr context = xmlXPathNewContext(node.RawDocument());
  if (context == nullptr) throw TXmlException("out of memory");
  std::string message;
  context->error = CollectXPathError;
  context->userData = &message;
  context->node = node.Raw();
  // Prefixes in scope of the node can be used in the expression.
  xmlNodePtr scope = node.IsDocument() ? xmlDocGetRootElement(node.RawDocument()) : node.Raw();
  xmlNsPtr* namespaces = scope ? xmlGetNsList(node.RawDocument(), scope) : nullptr;
  if (namespaces != nullptr) {
    for (xmlNsPtr* ns = namespaces; *ns != nullptr; ++ns) {
      if ((*ns)->prefix != nullptr) xmlXPathRegisterNs(context, (*ns)->prefix, (*ns)->href);
    }
    xmlFree(namespaces);
  }
  xmlXPathObjectPtr result = IsValidUtf8(xpath) ? xmlXPathEvalExpression(X(xpath), context)
                                                : nullptr;
  xmlXPathFreeContext(context);
  if (result == nullptr) {
    throw TXmlException("Invalid XPath expression \"" + xpath + "\"" +
                        (message.empty() ? "" : ": " + message));
  }
  if (result->type != XPATH_NODESET) {
    xmlXPathFreeObject(result);
    throw TXmlException("XPath expression \"" + xpath + "\" does not select nodes");
  }
  std::vector<TXmlNode> nodes;
  const auto& holder = TXmlAccess::Holder(node);
  if (result->nodesetval != nullptr) {
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
      xmlNodePtr found = result->nodesetval->nodeTab[i];
      // Namespace nodes are copies that die with the result.
      if (found == nullptr || found->type == XML_NAMESPACE_DECL) continue;
      nodes.push_back(TXmlAccess::Make(holder, found));
    }
  }
  xmlXPathFreeObject(result);
  return nodes;
}

void AppendText(xmlNodePtr element, const std::string& text) {
  std::string safe = XmlSafe(text);
  xmlNodePtr textNode =
      xmlNewDocTextLen(element->doc, X(safe), static_cast<int>(safe.size()));
  if (textNode == nullptr) throw TXmlException("out of memory");
  if (xmlAddChild(element, textNode) == nullptr) {
    xmlFreeNode(textNode);
    throw TXmlException("cannot append text");
  }
}

void RequireElement(const TXmlNode& element, const char* what) {
  if (!element) throw TXmlException(std::string(what) + ":no element");
  if (!element.IsElement()) throw TXmlException(std::string(what) + ":not an element");
}

// A new element of the node's document appended to the node (an element,
// or an empty document). Raises TXmlException.
TXmlElement AppendElement(const TXmlNode& parent, const std::string& name, const char* what) {
  if (!parent) throw TXmlException(std::string(what) + ":no parent");
  if (!ValidName(name)) throw TXmlException(std::string(what) + ":invalid name \"" + name + "\"");
  if (parent.IsDocument()) {
    if (xmlDocGetRootElement(parent.RawDocument()) != nullptr) {
      throw TXmlException(std::string(what) + ":the document already has a root element");
    }
  } else if (!parent.IsElement()) {
    throw TXmlException(std::string(what) + ":parent is not an element");
  }
  xmlNodePtr node = xmlNewDocNode(parent.RawDocument(), nullptr, X(name), nullptr);
  if (node == nullptr) throw TXmlException(std::string(what) + ":out of memory");
  if (xmlAddChild(parent.Raw(), node) == nullptr) {
    xmlFreeNode(node);
    throw TXmlException(std::string(what) + ":cannot append");
  }
  return TXmlAccess::Make(TXmlAccess::Holder(parent), node);
}

}  // namespace

// ---------------------------------------------------------------------------
// TXmlNode

TXmlNode XmlNodeFromRaw(_xmlNode* node) {
  if (node == nullptr) return {};
  xmlDocPtr doc = node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDocPtr>(node) : node->doc;
  if (doc == nullptr || doc->_private == nullptr) return {};
  auto* holder = static_cast<xml_detail::TDocHolder*>(doc->_private);
  if (holder->doc != doc) return {};
  return TXmlAccess::Make(holder->shared_from_this(), node);
}

bool TXmlNode::IsDocument() const {
  return node_ && (node_->type == XML_DOCUMENT_NODE || node_->type == XML_HTML_DOCUMENT_NODE);
}

bool TXmlNode::IsElement() const { return node_ && node_->type == XML_ELEMENT_NODE; }

bool TXmlNode::IsText() const {
  return node_ && (node_->type == XML_TEXT_NODE || node_->type == XML_CDATA_SECTION_NODE);
}

std::string TXmlNode::Name() const {
  if (!node_) return "";
  switch (node_->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
      return QualifiedName(node_->name, node_->ns);
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return "#document";
    default:
      return S(node_->name);
  }
}

_xmlDoc* TXmlNode::RawDocument() const { return holder_ ? holder_->doc : nullptr; }

TXmlNode TXmlNode::OwnerDocument() const {
  if (!node_) return {};
  return TXmlAccess::Make(holder_, reinterpret_cast<xmlNodePtr>(holder_->doc));
}

TXmlNode TXmlNode::DocumentElement() const {
  if (!node_) return {};
  return TXmlAccess::Make(holder_, xmlDocGetRootElement(holder_->doc));
}

TXmlNode TXmlNode::Parent() const {
  if (!node_) return {};
  return TXmlAccess::Make(holder_, node_->parent);
}

TXmlNode TXmlNode::FirstChild() const {
  if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return {};
  return TXmlAccess::Make(holder_, node_->children);
}

TXmlNode TXmlNode::NextSibling() const {
  if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return {};
  return TXmlAccess::Make(holder_, node_->next);
}

std::vector<TXmlNode> TXmlNode::Children() const {
  std::vector<TXmlNode> out;
  if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return out;
  for (xmlNodePtr child = node_->children; child != nullptr; child = child->next) {
    out.push_back(TXmlAccess::Make(holder_, child));
  }
  return out;
}

std::vector<TXmlNode> TXmlNode::ChildElements() const {
  std::vector<TXmlNode> out;
  if (!node_ || node_->type == XML_ATTRIBUTE_NODE) return out;
  for (xmlNodePtr child = node_->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) out.push_back(TXmlAccess::Make(holder_, child));
  }
  return out;
}

std::string TXmlNode::Text() const {
  if (!node_) return "";
  return Take(xmlNodeGetContent(node_));
}

std::vector<std::pair<std::string, std::string>> TXmlNode::Attributes() const {
  std::vector<std::pair<std::string, std::string>> out;
  if (!IsElement()) return out;
  for (xmlAttrPtr attr = node_->properties; attr != nullptr; attr = attr->next) {
    out.emplace_back(QualifiedName(attr->name, attr->ns),
                     Take(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr))));
  }
  return out;
}

bool TXmlNode::HasAttr(const std::string& name) const { return FindAttr(node_, name) != nullptr; }

void TXmlNode::RemoveChild(const TXmlNode& child) {
  if (!node_ || !child || child.node_->parent != node_ || child.holder_ != holder_ ||
      child.node_->type == XML_ATTRIBUTE_NODE) {
    throw TXmlException("RemoveChild:not a child of this node");
  }
  holder_->detached.reserve(holder_->detached.size() + 1);
  xmlUnlinkNode(child.node_);
  holder_->detached.push_back(child.node_);
}

// ---------------------------------------------------------------------------
// Documents

TXmlDocument MakeFromString(const std::string& text) {
  std::string_view body = text;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  std::string data;
  if (body.find("<?xml") == std::string_view::npos) {
    data = std::string(kXmlDeclaration);
    data += body;
  } else {
    data = std::string(body);
  }
  return Parse(data, nullptr, "UTF-8", "");
}

TXmlDocument LoadFromFile(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) throw TXmlException("MakeFromString:cannot read the file in " + path);
  return Parse(bytes.str(), path.c_str(), nullptr, " in " + path);
}

void SaveToFile(const TXmlDocument& document, const std::string& path) {
  if (!document) throw TXmlException("SaveToFile:no document");
  WriteFileAtomic(path, XmlText(document.OwnerDocument()));
}

TXmlDocument CloneDocument(const TXmlNode& node) {
  if (!node) return {};
  return MakeFromString(XmlText(node));
}

std::string MakeEmptyDocText(const std::string& rootName) {
  return std::string(kXmlDeclaration) + "<" + rootName + " />";
}

std::string XmlText(const TXmlNode& node) {
  if (!node) return "";
  if (node.IsDocument()) return std::string(kXmlDeclaration) + "\n" + Serialize(node.Raw());
  return Serialize(node.Raw());
}

// ---------------------------------------------------------------------------
// Selection

std::string ValueOf(const TXmlNode& node, const std::string& xpath) {
  try {
    TXmlNode from = node.IsDocument() ? node.DocumentElement() : node;
    if (!from) throw TXmlException("no element to read");
    if (xpath.empty()) return from.Text();
    auto nodes = Evaluate(from, xpath);
    return nodes.empty() ? std::string() : nodes.front().Text();
  } catch (const std::exception& e) {
    TLog::LogException(e, "ValueOf_ aXPath=" + xpath);
    return "";
  }
}

TXmlNodeList SelectNodes(const TXmlNode& node, const std::string& xpath) {
  try {
    return TXmlNodeList(Evaluate(node, xpath));
  } catch (const std::exception& e) {
    TLog::LogException(e, "SelectNodes_");
    return {};
  }
}

TXmlNode SelectSingleNode(const TXmlNode& node, const std::string& xpath) {
  try {
    auto nodes = Evaluate(node, xpath);
    return nodes.empty() ? TXmlNode() : nodes.front();
  } catch (const std::exception& e) {
    TLog::LogException(e, "SelectSingleNode_");
    return {};
  }
}

// ---------------------------------------------------------------------------
// Elements

std::string GetAttr(const TXmlElement& element, const std::string& name) {
  xmlAttrPtr attr = FindAttr(element.Raw(), name);
  if (attr == nullptr) return "";
  return Take(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr)));
}

void SetAttr(const TXmlElement& element, const std::string& name, const std::string& value) {
  RequireElement(element, "SetAttr");
  std::string attrName = !name.empty() && name[0] == '@' ? name.substr(1) : name;
  if (!ValidName(attrName)) throw TXmlException("SetAttr:invalid name \"" + name + "\"");
  std::string safe = XmlSafe(value);
  if (xmlAttrPtr existing = FindAttr(element.Raw(), attrName)) {
    // Replacing keeps the attribute's place and namespace.
    if (xmlSetNsProp(element.Raw(), existing->ns, existing->name, X(safe)) == nullptr) {
      throw TXmlException("SetAttr:cannot set \"" + attrName + "\"");
    }
    return;
  }
  if (xmlSetProp(element.Raw(), X(attrName), X(safe)) == nullptr) {
    throw TXmlException("SetAttr:cannot set \"" + attrName + "\"");
  }
}

TXmlElement AddChild(const TXmlElement& element, const std::string& name) {
  try {
    RequireElement(element, "AddChild");
    return AppendElement(element, name, "AddChild");
  } catch (const std::exception& e) {
    TLog::LogException(e, "AddChild_");
    return {};
  }
}

TXmlElement AddTextChild(const TXmlElement& element, const std::string& name,
                         const std::string& text) {
  try {
    RequireElement(element, "AddTextChild");
    TXmlElement child = AppendElement(element, name, "AddTextChild");
    AppendText(child.Raw(), text);
    return child;
  } catch (const std::exception& e) {
    TLog::LogException(e, "AddTextChild_");
    return {};
  }
}

void SetChildText(const TXmlElement& element, const std::string& childName,
                  const std::string& text) {
  RequireElement(element, "SetChildText");
  TXmlElement child;
  for (const auto& found : Evaluate(element, childName)) {
    if (found.IsElement()) {
      child = found;
      break;
    }
  }
  if (!child) child = AppendElement(element, childName, "SetChildText");
  AppendText(child.Raw(), text);
}

std::string NodeText(const TXmlNode& element) {
  if (!element.IsElement()) return "";
  xmlNodePtr first = element.Raw()->children;
  if (first == nullptr) return "";
  switch (first->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return S(first->content);
    default:
      return "";
  }
}

TXmlElement AddElement(const TXmlDocument& document, const TXmlNode& parent,
                       const std::string& name) {
  if (!document) throw TXmlException("AddElement:no document");
  if (!parent) throw TXmlException("AddElement:no parent");
  if (parent.RawDocument() != document.RawDocument()) {
    throw TXmlException("AddElement:the parent belongs to another document");
  }
  return AppendElement(parent, name, "AddElement");
}

TXmlElement AddTextElement(const TXmlDocument& document, const TXmlNode& parent,
                           const std::string& name, const std::string& text) {
  TXmlElement element = AddElement(document, parent, name);
  if (!text.empty()) AppendText(element.Raw(), text);
  return element;
}

TXmlElement AddAttrElement(const TXmlDocument& document, const TXmlNode& parent,
                           const std::string& name, const std::string& value,
                           const std::string& attrName) {
  TXmlElement element = AddElement(document, parent, name);
  SetAttr(element, attrName, value);
  return element;
}

}  // namespace kelvo
