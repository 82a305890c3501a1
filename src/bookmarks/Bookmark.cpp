#include "bookmarks/Bookmark.h"

#include <charconv>
#include <system_error>

#include "bookmarks/Hashing.h"

namespace kelvo {

TBookmark::TBookmark(const std::string& name, const std::string& url) : name_(name), url_(url) {}

TBookmark::~TBookmark() = default;

std::string TBookmark::GetNormalizedName() const {
  if (normalizedName_.empty()) normalizedName_ = NormalizeName(name_, nmBookmark);
  return normalizedName_;
}

void TBookmark::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  normalizedName_.clear();
  MarkModified();
}

IBNode* TBookmark::GetParent() const { return parent_.Get(); }

void TBookmark::SetParent(IBNode* parent) {
  IBNode* old = parent_.Get();
  if (parent == old) return;
  if (old != nullptr) MarkModified();
  parent_.Set(parent);
}

bool TBookmark::IsValid(std::uint8_t& reason) const {
  reason = 0;
  return !url_.empty() && !GetNormalizedName().empty();
}

void TBookmark::SetURL(const std::string& url) {
  if (url == url_) return;
  url_ = url;
  MarkModified();
}

TDefaultKBookmark::TDefaultKBookmark(const std::string& name, const std::string& url,
                                     const std::string& feedURL, std::int32_t id)
    : TBookmark(name, feedURL.empty() ? url : feedURL) {
  feedURL_ = feedURL;
  id_ = id;
}

TDefaultKBookmark::TDefaultKBookmark(const IBookmark& source)
    : TBookmark(source.GetName(), source.GetURL()) {
  if (source.GetNodeType() == kNodeTypeServerBookmark) {
    id_ = ServerIdFromRef(source.GetRef());
    const std::string feedURL = source.GetFeedURL();
    if (!feedURL.empty()) feedURL_ = feedURL;
  } else {
    id_ = -1;
    feedURL_ = source.GetFeedURL();
  }
}

void TDefaultKBookmark::SetId(std::int32_t id) {
  if (id == id_) return;
  id_ = id;
  MarkModified();
}

void TDefaultKBookmark::SetDuplicate(bool duplicate) {
  if (duplicate == duplicate_) return;
  duplicate_ = duplicate;
  MarkModified();
}

void TDefaultKBookmark::SetFeedURL(const std::string& feedURL) {
  if (feedURL == feedURL_) return;
  feedURL_ = feedURL;
  MarkModified();
}

std::string TDefaultKBookmark::HashIdText() const {
  return id_ == -1 ? std::string() : std::to_string(id_);
}

std::string ServerIdTextFromRef(const std::string& ref) {
  const std::size_t colon = ref.rfind(':');
  return colon == std::string::npos ? std::string() : ref.substr(colon + 1);
}

std::int32_t ServerIdFromRef(const std::string& ref) {
  const std::size_t colon = ref.rfind(':');
  if (colon == std::string::npos) return -1;
  const char* first = ref.data() + colon + 1;
  const char* last = ref.data() + ref.size();
  // "+12" is an integer too, "+-12" is not.
  if (last - first >= 2 && first[0] == '+' && first[1] >= '0' && first[1] <= '9') ++first;
  std::int32_t value = -1;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return -1;
  return value;
}

}  // namespace kelvo
