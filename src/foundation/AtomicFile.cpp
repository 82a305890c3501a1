#include "foundation/AtomicFile.h"

#include <filesystem>

namespace kelvo {

void WriteFileAtomic(const std::string& path, std::string_view bytes) {
  if (path.empty()) {
    throw TKFileException("Error writing file: empty path");
  }
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(parent, ec)) TFileTools::CreateFolder(parent.string());
  }
  TFileTools::WriteFileAtomically(path, bytes);
}

}  // namespace kelvo
