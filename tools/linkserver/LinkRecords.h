#pragma once
// Stored links as the protocol's "link" elements, both ways, and the
// server's sync id of an account: the agent's own server-tree and hashing
// code applied to the stored links, so that a client whose Favorites equal
// the server's copy computes the same id.
#include <cstdint>
#include <optional>
#include <string>

#include "LinkStore.h"
#include "foundation/XmlTools.h"

namespace kelvo::linkserver {

// A link "id" as sent by a client (decimal) or by the server (a reference,
// ":" + decimal): the decimal after the last ":", -1 when it is not a
// non-negative 32-bit number.
std::int32_t ParseLinkId(const std::string& text);

// Appends a "link" element in the answer form: "path", "title" and "url"
// when not empty, "id" = ":" + id when there is one, "rank" when not empty,
// private = "CLIENT" for a private folder.
TXmlElement WriteLinkElement(const TXmlElement& parent, const TLinkRecord& link,
                             const std::string& elementName = "link");
// The record of a "link" element (or "old-link", "new-link"): none when it
// has no path. A path without its leading "/" gets one. A private folder
// link keeps no id: it stands for a folder whose content stays on the
// client.
std::optional<TLinkRecord> ReadLinkElement(const TXmlElement& element);

// "link" elements of public links: "path", "rank" when not empty, "ref",
// "user-data" when not empty.
TXmlElement WriteXLinkElement(const TXmlElement& parent, const TXLinkRecord& xlink);
// None when the element has neither path nor ref.
std::optional<TXLinkRecord> ReadXLinkElement(const TXmlElement& element);

// What the server tells about an account's copy.
struct TServerFacts {
  std::string syncId;  // 32 lower-case hex digits
  int linkCount = 0;
  int folderCount = 0;
};

// The sync-id text the agent digests: the root's content checksum of the
// tree built from the links, plus (when not zero) the checksum of the
// public links, as one decimal number.
std::string SyncIdText(const TAccountData& data);
TServerFacts ComputeServerFacts(const TAccountData& data);

}  // namespace kelvo::linkserver
