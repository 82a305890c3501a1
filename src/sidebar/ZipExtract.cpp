#include "sidebar/ZipExtract.h"

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace kelvo {

namespace fs = std::filesystem;

namespace {

struct TZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct TZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

bool IsSymlink(const fs::path& p) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(p, ec));
}

// A symbolic link anywhere below the target on the way to the entry could
// carry the write elsewhere; such entries are refused rather than followed.
bool CrossesSymlink(const fs::path& target, const std::string& relative) {
  fs::path at = target;
  for (const auto& part : fs::path(relative)) {
    if (part.empty()) continue;
    at /= part;
    if (IsSymlink(at)) return true;
  }
  return false;
}

}  // namespace

std::string SafeZipEntryPath(const std::string& entryName) {
  std::string name = entryName;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.empty() || name.front() == '/') return "";
  if (name.size() >= 2 && name[1] == ':') return "";  // "C:..." names a drive
  bool folder = name.back() == '/';
  std::string out;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return "";
    if (!out.empty()) out += '/';
    out += part;
  }
  if (out.empty()) return "";
  if (folder) out += '/';
  return out;
}

TZipExtractResult ExtractZip(const std::string& zipPath, const std::string& targetFolder,
                             const TZipProgress& progress) {
  int err = 0;
  std::unique_ptr<zip_t, TZipCloser> archive(zip_open(zipPath.c_str(), ZIP_RDONLY, &err));
  if (!archive) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, err);
    std::string reason = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    throw TZipException("Cannot open zip file " + zipPath,
                        std::runtime_error(reason));
  }
  TZipExtractResult result;
  const fs::path target(targetFolder);
  std::error_code ec;
  fs::create_directories(target, ec);

  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  std::uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 &&
        (st.valid & ZIP_STAT_SIZE)) {
      total += st.size;
    }
  }
  std::uint64_t done = 0;
  int lastPercent = -1;
  auto report = [&] {
    if (!progress) return;
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent > 100) percent = 100;
    if (percent != lastPercent) {
      lastPercent = percent;
      progress(percent);
    }
  };
  report();

  std::vector<char> buffer(64 * 1024);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* rawName = zip_get_name(archive.get(), index, ZIP_FL_ENC_GUESS);
    std::string name = rawName ? rawName : "";
    std::string relative = SafeZipEntryPath(name);
    if (relative.empty() || CrossesSymlink(target, relative)) {
      result.refused.push_back(name);
      continue;
    }
    fs::path out = target / relative;
    if (relative.back() == '/') {
      fs::create_directories(out, ec);
      if (ec) result.errors.push_back(name + ": " + ec.message());
      continue;
    }
    fs::create_directories(out.parent_path(), ec);
    if (ec) {
      result.errors.push_back(name + ": " + ec.message());
      continue;
    }
    std::unique_ptr<zip_file_t, TZipFileCloser> in(zip_fopen_index(archive.get(), index, 0));
    if (!in) {
      result.errors.push_back(name + ": " + zip_strerror(archive.get()));
      continue;
    }
    // Never write through a link or into a folder of the same name.
    if (fs::is_directory(fs::symlink_status(out, ec))) {
      result.errors.push_back(name + ": a folder of that name exists");
      continue;
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!file) {
      result.errors.push_back(name + ": cannot be written");
      continue;
    }
    bool ok = true;
    for (;;) {
      zip_int64_t n = zip_fread(in.get(), buffer.data(), buffer.size());
      if (n < 0) {
        result.errors.push_back(name + ": " + zip_file_strerror(in.get()));
        ok = false;
        break;
      }
      if (n == 0) break;
      file.write(buffer.data(), n);
      if (!file) {
        result.errors.push_back(name + ": write failed");
        ok = false;
        break;
      }
      done += static_cast<std::uint64_t>(n);
      report();
    }
    file.close();
    if (ok && !file) {
      result.errors.push_back(name + ": write failed");
      ok = false;
    }
    if (ok) ++result.files;
  }
  done = total;
  report();
  return result;
}

}  // namespace kelvo
