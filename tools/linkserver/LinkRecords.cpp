#include "LinkRecords.h"

#include <charconv>
#include <limits>
#include <map>

#include "bookmarks/BNodeMeta.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/ServerTree.h"
#include "foundation/FileTools.h"

namespace kelvo::linkserver {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The areas whose links the metadata store turns into records.
bool IsPublicArea(const std::string& path) {
  for (const char* area : {"/$pub/", "/$news/", "/$forum/", "/$news-keyword/"}) {
    if (path.find(area) != std::string::npos) return true;
  }
  return false;
}

// A decimal integer filling the whole text, else 0 (the checksum text of
// a tree is always one).
std::int64_t IntOrZero(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end ? value : 0;
}

// The checksum the client's metadata store computes after rebuilding
// itself from these public links: one record per id, public when one of
// its links is under "/$pub/".
std::int32_t PublicChecksum(const std::vector<TXLinkRecord>& xlinks) {
  std::map<std::int32_t, std::shared_ptr<TBNodeMeta>> records;
  for (const TXLinkRecord& xlink : xlinks) {
    const std::int32_t id = ParseLinkId(xlink.ref);
    if (!IsPublicArea(xlink.path) || id == -1 || xlink.ref.empty()) continue;
    auto found = records.find(id);
    if (found == records.end()) {
      records.emplace(id, std::make_shared<TBNodeMeta>(xlink.path, xlink.userData, id, xlink.rank));
    } else if (xlink.path.find("/$pub/") != std::string::npos) {
      found->second->SetIsPublic(true, nullptr);
    }
  }
  std::uint32_t sum = 0;
  for (const auto& [id, record] : records) {
    if (!record->GetIsPrivate()) sum += StringChecksum(record->GetPublicPath());
  }
  return static_cast<std::int32_t>(sum);
}

}  // namespace

std::int32_t ParseLinkId(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  if (digits.empty()) return -1;
  std::int32_t value = -1;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (ec != std::errc() || ptr != end || value < 0) return -1;
  return value;
}

TXmlElement WriteLinkElement(const TXmlElement& parent, const TLinkRecord& link,
                             const std::string& elementName) {
  const TXmlElement element = AddElement(parent.OwnerDocument(), parent, elementName);
  SetAttr(element, "path", link.path);
  if (!link.title.empty()) SetAttr(element, "title", link.title);
  if (!link.url.empty()) SetAttr(element, "url", link.url);
  if (link.id != -1) SetAttr(element, "id", ":" + std::to_string(link.id));
  if (!link.rank.empty()) SetAttr(element, "rank", link.rank);
  if (link.isPrivate) SetAttr(element, "private", "CLIENT");
  return element;
}

std::optional<TLinkRecord> ReadLinkElement(const TXmlElement& element) {
  if (!element || !element.IsElement()) return std::nullopt;
  TLinkRecord link;
  link.path = GetAttr(element, "path");
  if (link.path.empty()) return std::nullopt;
  if (link.path.front() != '/') link.path.insert(link.path.begin(), '/');
  link.title = GetAttr(element, "title");
  link.url = GetAttr(element, "url");
  link.rank = GetAttr(element, "rank");
  link.isPrivate = link.url.empty() && Lower(GetAttr(element, "private")) == "client";
  // The agent reads a folder link with an id as an ordinary folder, so a
  // stored id would make a private folder public.
  if (!link.isPrivate) link.id = ParseLinkId(GetAttr(element, "id"));
  return link;
}

TXmlElement WriteXLinkElement(const TXmlElement& parent, const TXLinkRecord& xlink) {
  const TXmlElement element = AddElement(parent.OwnerDocument(), parent, "link");
  SetAttr(element, "path", xlink.path);
  if (!xlink.rank.empty()) SetAttr(element, "rank", xlink.rank);
  SetAttr(element, "ref", xlink.ref);
  if (!xlink.userData.empty()) SetAttr(element, "user-data", xlink.userData);
  return element;
}

std::optional<TXLinkRecord> ReadXLinkElement(const TXmlElement& element) {
  if (!element || !element.IsElement()) return std::nullopt;
  TXLinkRecord xlink{GetAttr(element, "path"), GetAttr(element, "ref"), GetAttr(element, "rank"),
                     GetAttr(element, "user-data")};
  if (xlink.path.empty() && xlink.ref.empty()) return std::nullopt;
  if (!xlink.ref.empty() && xlink.ref.find(':') == std::string::npos) xlink.ref.insert(0, ":");
  return xlink;
}

namespace {

TServerTreePtr BuildTree(const TAccountData& data) {
  const TXmlDocument document = MakeFromString(MakeEmptyDocText("links"));
  const TXmlElement root = document.DocumentElement();
  for (const TLinkRecord& link : data.links) WriteLinkElement(root, link);
  return TServerTree::Create(SelectNodes(root, "link"), "server");
}

std::string TextOf(const TServerTree& tree, const TAccountData& data) {
  const std::string contentSum = tree.GetHash(hkContentSum);
  const std::int32_t publicSum = PublicChecksum(data.xlinks);
  if (publicSum == 0) return contentSum;
  // Summed without wrapping, as the agent's controller does.
  return std::to_string(std::int64_t{publicSum} + IntOrZero(contentSum));
}

}  // namespace

std::string SyncIdText(const TAccountData& data) { return TextOf(*BuildTree(data), data); }

TServerFacts ComputeServerFacts(const TAccountData& data) {
  const TServerTreePtr tree = BuildTree(data);
  TServerFacts facts;
  facts.syncId = TFileTools::TextMD5(TextOf(*tree, data));
  facts.linkCount = tree->BookmarkCount();
  facts.folderCount = tree->FolderCount();
  return facts;
}

}  // namespace kelvo::linkserver
