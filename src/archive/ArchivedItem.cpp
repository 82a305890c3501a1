#include "archive/ArchivedItem.h"

#include <charconv>
#include <utility>

#include "foundation/FileTools.h"
#include "foundation/Translate.h"

namespace kelvo {

int LinkCountFromFileName(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t open = name.find('(');
  if (open == std::string::npos) return -1;
  const std::size_t close = name.find(')', open + 1);
  if (close == std::string::npos) return -1;
  const char* first = name.data() + open + 1;
  const char* last = name.data() + close;
  if (first == last) return -1;
  int value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return -1;
  return value;
}

TArchivedItem::TArchivedItem(std::string fileName)
    : fileName_(std::move(fileName)),
      linkCountValue_(LinkCountFromFileName(fileName_)),
      linkCount_(std::to_string(linkCountValue_)) {}

std::string TArchivedItem::Caption() const {
  return Translate("Archive") + " " + DateText(kArchiveCaptionDateFormat);
}

std::string TArchivedItem::DateText(const std::string& format) const {
  auto time = TFileTools::FileTime(fileName_);
  if (!time) return std::string();
  return FormatDateTime(format, *time);
}

void TArchivedItem::Delete() const { TFileTools::DeleteFile(fileName_); }

}  // namespace kelvo
