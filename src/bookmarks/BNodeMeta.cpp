// Metadata records and the layout of their elements in the metadata file.

#include "bookmarks/BNodeMeta.h"

#include <charconv>
#include <string>
#include <system_error>

#include "bookmarks/Hashing.h"

namespace kelvo {

namespace {

constexpr const char* kPubToken = "pub";
constexpr const char* kPrivateToken = "private";
constexpr const char* kPubPathPrefix = "/$pub/";

std::string PublicLinkPath(std::int32_t id) { return kPubPathPrefix + std::to_string(id); }
std::string PublicLinkRef(std::int32_t id) { return ":" + std::to_string(id); }

void AppendEscapedName(std::string& out, const std::string& name) {
  for (const char c : name) {
    if (c == '/' || c == '\\') out += '\\';
    out += c;
  }
}

}  // namespace

// --- Layout helpers ---------------------------------------------------------

std::string MetaTypeText(bool isPublic, bool isPrivate) {
  std::string text;
  if (isPublic) text += std::string(kPubToken) + ",";
  if (isPrivate) text += std::string(kPrivateToken) + ",";
  return text;
}

bool MetaTypeHas(const std::string& value, const std::string& token) {
  if (token.empty()) return false;
  for (std::size_t at = value.find(token); at != std::string::npos; at = value.find(token, at + 1)) {
    const std::size_t end = at + token.size();
    // A comma after it, the end of the value, or one last character (a
    // value written with another separator).
    if (end == value.size() || value[end] == ',' || end + 1 == value.size()) return true;
  }
  return false;
}

std::string MetaPathText(const TStringList& names) {
  std::string text;
  for (const std::string& name : names) {
    text += '/';
    AppendEscapedName(text, name);
  }
  return text;
}

TStringList MetaPathNames(const std::string& value, const std::string& title) {
  TStringList names;
  if (value.empty() || value[0] != '/') return names;
  // A name is taken whole, however long: cutting it would make the record
  // miss its node.
  std::string name;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\') {
      if (i + 1 < value.size()) name += value[++i];
    } else if (c == '/') {
      if (!name.empty()) names.push_back(std::move(name));
      name.clear();
    } else {
      name += c;
    }
  }
  if (!name.empty()) names.push_back(std::move(name));
  if (!title.empty()) names.push_back(title);
  return names;
}

std::optional<std::int32_t> MetaInt(const std::string& text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  // from_chars takes "-12" but not "+12".
  if (last - first >= 2 && first[0] == '+' && first[1] >= '0' && first[1] <= '9') ++first;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (first == last || error != std::errc() || end != last) return std::nullopt;
  return value;
}

// --- Construction -----------------------------------------------------------

TBNodeMeta::TBNodeMeta(const TXmlElement& element) {
  isFolder_ = element.Name() == "folder";
  const std::string pathText = GetAttr(element, "path");
  const std::int32_t id = MetaIntOr(GetAttr(element, "id"), -1);
  const std::string rankText = GetAttr(element, "rank");
  const std::string typeText = GetAttr(element, "type");
  const std::string url = GetAttr(element, "url");
  const std::string title = GetAttr(element, "title");

  isPublic_ = MetaTypeHas(typeText, kPubToken);
  isPrivate_ = MetaTypeHas(typeText, kPrivateToken);
  TStringList names = MetaPathNames(pathText, title);

  if (isFolder_) {
    if (isPrivate_ && id != -1) throw TBNodeMetaException("TBNodeMeta.Create:id present for private folder");
    if (isPublic_ && id == -1) throw TBNodeMetaException("TBNodeMeta.Create:id invalid for folder");
    if (pathText.empty()) throw TBNodeMetaException("TBNodeMeta.Create:invalid path for folder");
    if (!url.empty()) throw TBNodeMetaException("TBNodeMeta.Create:URL found for folder");
    if (names.empty()) throw TBNodeMetaException("TBNodeMeta.Create:invalid Path for folder");
  } else {
    if (id == -1) throw TBNodeMetaException("TBNodeMeta.Create:invalid id for bookmark");
    if (pathText.empty()) throw TBNodeMetaException("TBNodeMeta.Create:invalid path for bookmark");
    if (url.empty()) throw TBNodeMetaException("TBNodeMeta.Create:invalid URL for bookmark");
    if (names.empty()) throw TBNodeMetaException("TBNodeMeta.Create:invalid Path for bookmark");
  }

  id_ = id;
  rank_ = MetaIntOr(rankText, -1);
  url_ = url;
  path_ = std::move(names);
}

TBNodeMeta::TBNodeMeta(bool isFolder) : isFolder_(isFolder) {}

TBNodeMeta::TBNodeMeta(const std::string& publicPath, const std::string& /*userData*/, std::int32_t id,
                       const std::string& rank)
    : id_(id),
      isPublic_(publicPath.find(kPubPathPrefix) != std::string::npos),
      rank_(MetaIntOr(rank, -1)),
      path_(TStringList()) {}

// --- Flags ------------------------------------------------------------------

bool TBNodeMeta::GetIs(int kind) const {
  switch (kind) {
    case kMetaKindPublic:
      return isPublic_;
    case kMetaKindPrivate:
      return isPrivate_;
    default:
      throw TBNodeMetaException("TBNodeMeta.GetIs:unknown type");
  }
}

void TBNodeMeta::SetIs(int kind, bool value, IMetaActionSink* actions) {
  if (kind == kMetaKindPublic) {
    SetIsPublic(value, actions);
  } else if (kind == kMetaKindPrivate) {
    SetIsPrivate(value);
  }
}

void TBNodeMeta::Unpublish(IMetaActionSink* actions) {
  if (isPublic_) SetIsPublic(false, actions);
}

void TBNodeMeta::SetIsPublic(bool isPublic, IMetaActionSink* actions) {
  if (isPublic == isPublic_) return;
  isPublic_ = isPublic;
  if (actions == nullptr) return;
  if (isPublic) {
    actions->AddXLink(shared_from_this(), kMetaKindPublic);
  } else {
    actions->RemoveXLink(PublicLinkPath(id_), std::to_string(id_));
  }
}

// --- Path -------------------------------------------------------------------

void TBNodeMeta::SetTitle(const std::string& name) {
  if (path_ && !path_->empty()) path_->back() = name;
}

const TStringList& TBNodeMeta::GetPath() const {
  static const TStringList kNoPath;
  return path_ ? *path_ : kNoPath;
}

std::string TBNodeMeta::GetPathHash() const { return PathHash(GetPath(), isFolder_); }

std::string TBNodeMeta::GetPublicPath() const {
  std::string result = isPublic_ ? PublicLinkPath(id_) : std::string();
  if (THashTrace::Exists()) THashTrace::Add("Meta>" + result);
  return result;
}

std::string TBNodeMeta::ToString() const {
  std::string text;
  if (id_ != -1) text += "id:" + std::to_string(id_) + " ";
  const std::string type = MetaTypeText(isPublic_, isPrivate_);
  if (!type.empty()) text += "type:" + type;
  for (const std::string& name : GetPath()) text += name + "\n";
  if (!url_.empty()) text += " url:" + url_;
  if (rank_ != -1) text += " rank:" + std::to_string(rank_);
  return text;
}

// --- XML --------------------------------------------------------------------

void TBNodeMeta::WriteXml(const TXmlElement& parentElement) const {
  const TXmlElement element =
      AddElement(parentElement.OwnerDocument(), parentElement, isFolder_ ? "folder" : "bookmark");
  if (id_ != -1) SetAttr(element, "id", std::to_string(id_));
  if (isPublic_ || isPrivate_) SetAttr(element, "type", MetaTypeText(isPublic_, isPrivate_));
  if (path_) {
    if (isFolder_ || path_->empty()) {
      SetAttr(element, "path", MetaPathText(*path_));
    } else {
      SetAttr(element, "path", MetaPathText(TStringList(path_->begin(), path_->end() - 1)));
    }
  }
  if (!isFolder_ && path_ && !path_->empty()) SetAttr(element, "title", path_->back());
  if (!url_.empty()) SetAttr(element, "url", url_);
  if (rank_ != -1) SetAttr(element, "rank", std::to_string(rank_));
}

void TBNodeMeta::WriteRefAttributes(const TXmlElement& element, int kind) const {
  if (kind != kMetaKindPublic || id_ == -1) return;
  SetAttr(element, "ref", PublicLinkRef(id_));
  SetAttr(element, "path", PublicLinkPath(id_));
}

void TBNodeMeta::WriteXLink(const TXmlElement& parentElement) const {
  if (id_ == -1 || !isPublic_) return;
  const TXmlElement link = AddElement(parentElement.OwnerDocument(), parentElement, "link");
  SetAttr(link, "path", PublicLinkPath(id_));
  if (rank_ != -1) SetAttr(link, "rank", std::to_string(rank_));
  SetAttr(link, "ref", PublicLinkRef(id_));
}

}  // namespace kelvo
