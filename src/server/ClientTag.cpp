#include "server/ClientTag.h"

#include <array>
#include <utility>

namespace kelvo {

namespace {

constexpr std::array<const char*, kAreaCount> kAreaNames = {
    "",          "main-area", "sync-check-area",        "sync-area",
    "id-dialog", "id-swap-dialog", "bookmarks-manager-area", "srv-script-wait"};

std::string AreaText(int areaIndex, const std::string& subName) {
  std::string text = "/" + ClientAreaName(areaIndex);
  std::string sub = subName;
  if (!sub.empty() && sub.front() == '/') sub.erase(0, 1);
  if (!sub.empty()) text += "/" + sub;
  return text;
}

}  // namespace

std::string ClientAreaName(int index) {
  if (index < 0 || index >= kAreaCount) return std::string();
  return kAreaNames[static_cast<std::size_t>(index)];
}

TClientTag::TClientTag(std::string text, std::uint8_t kind) : text_(std::move(text)), kind_(kind) {}

TClientTag::TClientTag(int areaIndex) : text_(AreaText(areaIndex, std::string())) {}

TClientTag::TClientTag(int areaIndex, std::uint8_t kind, TClientTagHandler handler)
    : text_(AreaText(areaIndex, std::string())), kind_(kind), handler_(std::move(handler)) {}

TClientTag::TClientTag(int areaIndex, std::uint8_t kind, const std::string& subName,
                       TClientTagHandler handler)
    : text_(AreaText(areaIndex, subName)), kind_(kind), handler_(std::move(handler)) {}

int TClientTag::GetAreaIndex() const {
  if (text_.empty() || text_.front() != '/') return kAreaNone;
  const std::size_t end = text_.find('/', 1);
  const std::string first = text_.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  // Index 0 has the empty name; an empty first segment is "no area" anyway.
  for (int i = 1; i < kAreaCount; ++i) {
    if (first == kAreaNames[static_cast<std::size_t>(i)]) return i;
  }
  return kAreaNone;
}

std::string TClientTag::GetSubName() const {
  const std::size_t first = text_.find('/');
  if (first == std::string::npos) return std::string();
  const std::size_t second = text_.find('/', first + 1);
  if (second == std::string::npos) return std::string();
  return text_.substr(second + 1);
}

void TClientTag::WriteTo(const TXmlElement& element) const { SetAttr(element, "client-area", text_); }

IClientAreaTagPtr NoAreaTag() { return std::make_shared<TClientTag>(kAreaNone); }

}  // namespace kelvo
