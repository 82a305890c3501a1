#include "bookmarks/ServerBookmark.h"

#include "foundation/Utf8.h"

namespace kelvo {

namespace {
constexpr std::string_view kLiveSuffix = ".LIV";
}

std::string ServerTitleToName(const std::string& title) {
  if (title.size() >= kLiveSuffix.size() && Utf8Length(title) >= kLiveSuffix.size() + 1 &&
      title.ends_with(kLiveSuffix)) {
    return title.substr(0, title.size() - kLiveSuffix.size());
  }
  return title;
}

TServerBookmark::TServerBookmark(const std::string& name, const std::string& url,
                                 const std::string& ref)
    : TBookmark(ServerTitleToName(name), url), ref_(ref) {}

std::shared_ptr<TServerBookmark> NewServerBookmark(const std::string& name, const std::string& url,
                                                   const std::string& ref) {
  return std::make_shared<TServerBookmark>(name, url, ref);
}

}  // namespace kelvo
