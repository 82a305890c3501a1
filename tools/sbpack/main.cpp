// Build-time packer of the sidebar code: zips every file below a folder
// into an archive, each entry named prefix + "/" + its path below the
// folder, in name order so that the same files always give the same entries.
//
//   kelvo-sbpack OUTPUT.zip PREFIX FOLDER

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("Usage: kelvo-sbpack OUTPUT.zip PREFIX FOLDER\n", stderr);
    return 2;
  }
  const fs::path output = argv[1];
  const std::string prefix = argv[2];
  const fs::path folder = argv[3];
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "kelvo-sbpack: not a folder: %s\n", folder.c_str());
    return 1;
  }
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  if (ec) {
    std::fprintf(stderr, "kelvo-sbpack: %s: %s\n", folder.c_str(), ec.message().c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());
  fs::create_directories(output.parent_path(), ec);

  int err = 0;
  // libzip writes beside the target and renames on close, so a failed run
  // never leaves a half-written package.
  zip_t* archive = zip_open(output.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!archive) {
    std::fprintf(stderr, "kelvo-sbpack: cannot create %s (libzip error %d)\n", output.c_str(),
                 err);
    return 1;
  }
  for (const auto& file : files) {
    std::string name = prefix + "/" + fs::relative(file, folder).generic_string();
    zip_source_t* source = zip_source_file(archive, file.c_str(), 0, -1);
    if (!source || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      if (source) zip_source_free(source);
      std::fprintf(stderr, "kelvo-sbpack: %s: %s\n", file.c_str(), zip_strerror(archive));
      zip_discard(archive);
      return 1;
    }
  }
  if (zip_close(archive) != 0) {
    std::fprintf(stderr, "kelvo-sbpack: %s: %s\n", output.c_str(), zip_strerror(archive));
    zip_discard(archive);
    return 1;
  }
  return 0;
}
