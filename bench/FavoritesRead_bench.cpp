// Reading a Favorites folder of 10,000 .url files in 500 folders (warm
// cache) into a tree with its keys and duplicates marked, against the limit
// of a plain loop that lists the same folders and opens and reads the same
// files in the same run. Target: at most twice the limit.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bookmarks/ReadBookmarksThread.h"
#include "bookmarks/TreeTools.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

constexpr int kTopFolders = 50;
constexpr int kSubFolders = 9;  // per top folder: 50 * (1 + 9) = 500 folders
constexpr int kFilesPerFolder = 20;

// A shortcut as Internet Explorer writes it, about 300 bytes; one URL in ten
// repeats one from another folder.
std::string ShortcutText(int n) {
  const int site = (n % 10 == 0) ? n / 10 : n;
  char url[96];
  std::snprintf(url, sizeof url, "http://www.site%05d.example/path/page.html?id=%d", site, site);
  return std::string("[DEFAULT]\r\nBASEURL=") + url +
         "\r\n[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,2\r\n"
         "[InternetShortcut]\r\nURL=" + url +
         "\r\nIDList=\r\nIconFile=http://www.example/favicon.ico\r\nIconIndex=1\r\nHotKey=0\r\n";
}

// Built once per process in a temporary folder, removed at exit.
class TFavoritesFixture {
 public:
  TFavoritesFixture() {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("kelvo-bench-favorites-" + std::to_string(random()));
    int n = 0;
    for (int t = 0; t < kTopFolders; ++t) {
      const fs::path top = root_ / ("Folder " + std::to_string(t));
      for (int s = 0; s <= kSubFolders; ++s) {
        const fs::path folder = s == 0 ? top : top / ("Sub folder " + std::to_string(s));
        fs::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f, ++n) {
          const fs::path file = folder / ("Bookmark number " + std::to_string(n) + ".url");
          std::FILE* out = std::fopen(file.c_str(), "wb");
          const std::string text = ShortcutText(n);
          std::fwrite(text.data(), 1, text.size(), out);
          std::fclose(out);
        }
      }
    }
  }
  ~TFavoritesFixture() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string Root() const { return root_.string(); }

 private:
  fs::path root_;
};

const TFavoritesFixture& Favorites() {
  static TFavoritesFixture fixture;
  return fixture;
}

// The limit: list every folder and read every file whole.
std::size_t PlainRead(const fs::path& folder) {
  std::size_t bytes = 0;
  char buffer[4096];
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_directory()) {
      bytes += PlainRead(entry.path());
      continue;
    }
    std::FILE* in = std::fopen(entry.path().c_str(), "rb");
    if (in == nullptr) continue;
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes += got;
    std::fclose(in);
  }
  return bytes;
}

void BM_PlainReadLoop(benchmark::State& state) {
  const fs::path root = Favorites().Root();
  for (auto _ : state) benchmark::DoNotOptimize(PlainRead(root));
  state.counters["files"] = kTopFolders * (1 + kSubFolders) * kFilesPerFolder;
}
BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond);

// What the reader thread does: the tree, its keys, duplicate removal with
// the duplicate marking of its closing rebuild.
void BM_FavoritesReadTree(benchmark::State& state) {
  const std::string root = Favorites().Root();
  std::int32_t bookmarks = 0;
  for (auto _ : state) {
    TFileTreePtr tree = TReadBookmarksThread::ReadTree(root);
    bookmarks = tree->BookmarkCount();
    benchmark::DoNotOptimize(tree);
  }
  SetCurrentFavoritesTree(nullptr);
  state.counters["bookmarks"] = bookmarks;
  state.counters["duplicates"] = DuplicateCount();
}
BENCHMARK(BM_FavoritesReadTree)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
