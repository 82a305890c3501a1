// Identity keys and folder checksums of the node classes, and the
// process-wide hash trace list.

#include <mutex>
#include <optional>

#include "bookmarks/Bookmark.h"
#include "bookmarks/BookmarkExceptions.h"
#include "bookmarks/Folder.h"
#include "bookmarks/Hashing.h"
#include "bookmarks/TreeTools.h"
#include "foundation/Log.h"

namespace kelvo {

namespace {

std::mutex gTraceLock;
std::optional<TStringList> gTrace;

// Checksums enter the sums as signed 32-bit values.
std::int32_t SignedChecksum(const std::string& s) { return static_cast<std::int32_t>(StringChecksum(s)); }

}  // namespace

// THashTrace

void THashTrace::Create() {
  std::lock_guard<std::mutex> guard(gTraceLock);
  gTrace.emplace();
}

void THashTrace::Discard() {
  std::lock_guard<std::mutex> guard(gTraceLock);
  gTrace.reset();
}

bool THashTrace::Exists() {
  std::lock_guard<std::mutex> guard(gTraceLock);
  return gTrace.has_value();
}

void THashTrace::Add(const std::string& line) {
  std::lock_guard<std::mutex> guard(gTraceLock);
  if (gTrace) gTrace->push_back(line);
}

TStringList THashTrace::Lines() {
  std::lock_guard<std::mutex> guard(gTraceLock);
  return gTrace ? *gTrace : TStringList();
}

TStringList THashTrace::Take() {
  std::lock_guard<std::mutex> guard(gTraceLock);
  TStringList lines = gTrace ? std::move(*gTrace) : TStringList();
  gTrace.reset();
  return lines;
}

// TBookmark

void TBookmark::InitHashes(const std::string& parentPath) {
  const std::string n = NormalizeName(name_, nmBookmark);
  normalizedName_ = n;
  const std::string u = KeyURL(url_);
  const std::string i = HashIdText();
  hashes_[hkNameURL] = n + u;
  hashes_[hkNameURLId] = n + u + i;
  hashes_[hkURL] = u;
  hashes_[hkNameKind] = n + "B";
  hashes_[hkPathURLId] = parentPath + "/" + n + u + i + "B";
  hashes_[hkPath] = parentPath + "/" + n + "B";
  hashes_[hkTreeSum].clear();
  hashes_[hkContentSum].clear();
  canonicalURL_ = CanonicalizeURL(url_);
}

std::string TBookmark::GetHash(std::uint8_t kind) const {
  if (!IsBookmarkHashKind(kind)) return std::string();
  const std::string& key = hashes_[kind];
  if (key.empty() && !name_.empty() && !url_.empty()) {
    throw TBookmarkException("TBookmark.No hash value found - ensure InitHashes is called:" + name_ +
                             ":type:" + std::to_string(kind));
  }
  return key;
}

void TBookmark::DumpHashes(std::uint8_t kind, TStringList& list) const { list.push_back(GetHash(kind)); }

// TFolder

std::string TFolder::ComputeOwnHashes(const std::string& parentPath) {
  const std::string n = NormalizeName(name_, nmFolder);
  normalizedName_ = n;
  const std::string i = HashIdText();
  for (std::string& key : hashes_) key.clear();
  hashes_[hkNameURLId] = n + i;
  hashes_[hkNameKind] = n + "F";
  hashes_[hkPathURLId] = parentPath + "/" + n + i + "F";
  hashes_[hkPath] = parentPath + "/" + n + "F";
  return n;
}

void TFolder::ComputeRootHashes() {
  const std::string n = NormalizeName(name_, nmFolder);
  normalizedName_ = n;
  for (std::string& key : hashes_) key.clear();
  hashes_[hkNameKind] = n + "F";
  hashes_[hkPath] = "/" + n + "F";
}

void TFolder::InitChildHashes(const std::string& childPath) {
  for (const IBNodePtr& child : Children()) child->InitHashes(childPath);
}

void TFolder::InitHashes(const std::string& parentPath) {
  const std::string n = ComputeOwnHashes(parentPath);
  // A tree root keeps its children at the top of the path.
  const bool isRoot = dynamic_cast<const ISimpleTree*>(this) != nullptr;
  InitChildHashes(n.empty() || isRoot ? parentPath : parentPath + "/" + n);
}

std::string TFolder::GetHash(std::uint8_t kind) const {
  if (!IsFolderHashKind(kind)) return std::string();
  if ((kind == hkTreeSum || kind == hkContentSum) && (hashes_[kind].empty() || THashTrace::Exists())) {
    hashes_[kind] = ComputeChecksum(kind == hkTreeSum);
  }
  const std::string& key = hashes_[kind];
  if (key.empty()) TLog::Error("TFolder.No hash value found:ensure InitHashes is called (" + name_ + ")");
  return key;
}

void TFolder::DumpHashes(std::uint8_t kind, TStringList& list) const {
  const std::string key = GetHash(kind);
  list.push_back(key + ":" + key);
  for (const IBNodePtr& child : Children()) child->DumpHashes(kind, list);
}

std::string TFolder::ComputeChecksum(bool withOwnKey) const {
  // Unsigned arithmetic gives the wrapping of the signed 32-bit total.
  std::uint32_t total = withOwnKey ? StringChecksum(GetHash(hkNameURLId)) : 0;
  const bool tracing = THashTrace::Exists();
  for (const IBNodePtr& child : Children()) {
    try {
      if (!child->IsValid()) {
        TLog::Debug("BNode not valid for server:" + Describe(child));
        continue;
      }
      const std::string key = child->GetHash(hkNameURLId);
      const std::int32_t keySum = SignedChecksum(key);
      if (dynamic_cast<const IFolder*>(child.get()) != nullptr) {
        total += static_cast<std::uint32_t>(keySum);
        if (tracing) THashTrace::Add("F>" + key + "[" + std::to_string(keySum) + "]");
        const std::int32_t contentSum = SignedChecksum(child->GetHash(hkTreeSum));
        total += static_cast<std::uint32_t>(contentSum);
        if (tracing) THashTrace::Add("F>" + key + " content:[" + std::to_string(contentSum) + "]");
      } else {
        total += static_cast<std::uint32_t>(keySum);
        if (tracing) {
          THashTrace::Add(key.empty() ? "Empty hash for bookmark:" + Describe(child)
                                      : "B>" + key + "[" + std::to_string(keySum) + "]");
        }
      }
    } catch (const TBookmarkException& e) {
      TLog::LogException(e, "TFolder.GetHash:" + Describe(child));
    } catch (const TFolderException& e) {
      TLog::LogException(e, "TFolder.GetHash:" + Describe(child));
    }
  }
  return std::to_string(static_cast<std::int32_t>(total));
}

}  // namespace kelvo
