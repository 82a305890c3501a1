// XBEL archives of 10,000 bookmarks (500 folders of twenty, two levels):
// building the document, serialising it, the whole save to a file, parsing
// a file and the whole read into a tree. An archive is written on every
// backup and read on every restore, so both should stay well below a
// second.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/XBEL.h"
#include "foundation/XmlTools.h"

namespace kelvo {
namespace {

constexpr int kBookmarks = 10000;

std::string Numbered(const char* format, int n) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, n, n);
  return buffer;
}

std::shared_ptr<TDefaultSimpleTree> MakeTree() {
  auto root = std::make_shared<TDefaultSimpleTree>("Favorites");
  int made = 0;
  for (int top = 0; made < kBookmarks; ++top) {
    auto folder = std::make_shared<TDefaultKFolder>(Numbered("Folder %04d & more", top));
    root->Add(folder);
    for (int sub = 0; sub < 10 && made < kBookmarks; ++sub) {
      auto inner = std::make_shared<TDefaultKFolder>(Numbered("Sub %04d", sub));
      folder->Add(inner);
      for (int i = 0; i < 20 && made < kBookmarks; ++i, ++made) {
        inner->Add(std::make_shared<TDefaultKBookmark>(
            Numbered("Site %06d - Caf\xC3\xA9 <News>", made),
            Numbered("http://www.site%06d.example.com/path/page%06d.html?a=1&b=2", made)));
      }
    }
  }
  return root;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("kelvo-xbel-bench-") + std::to_string(getpid()) + "-" + name))
      .string();
}

void BM_XBEL_BuildDocument(benchmark::State& state) {
  auto tree = MakeTree();
  for (auto _ : state) benchmark::DoNotOptimize(TreeToXBEL(tree));
  state.SetItemsProcessed(state.iterations() * kBookmarks);
}

void BM_XBEL_Serialise(benchmark::State& state) {
  TXmlDocument doc = TreeToXBEL(MakeTree());
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = XmlText(doc);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Document, serialisation and the atomic write (temporary file, flush to
// the disk, rename).
void BM_XBEL_SaveFile(benchmark::State& state) {
  auto tree = MakeTree();
  const std::string file = TempFile("save.xbel");
  for (auto _ : state) SaveTreeAsXBEL(tree, file);
  state.SetItemsProcessed(state.iterations() * kBookmarks);
  std::filesystem::remove(file);
}

void BM_XBEL_ParseFile(benchmark::State& state) {
  const std::string file = TempFile("parse.xbel");
  SaveTreeAsXBEL(MakeTree(), file);
  for (auto _ : state) benchmark::DoNotOptimize(LoadFromFile(file));
  state.SetItemsProcessed(state.iterations() * kBookmarks);
  std::filesystem::remove(file);
}

// Parse plus building the tree of XBEL nodes.
void BM_XBEL_ReadTree(benchmark::State& state) {
  const std::string file = TempFile("read.xbel");
  SaveTreeAsXBEL(MakeTree(), file);
  for (auto _ : state) {
    auto tree = std::make_shared<TXBELTree>(file, "restore");
    if (tree->BookmarkCount() != kBookmarks) state.SkipWithError("bookmarks lost");
    benchmark::DoNotOptimize(tree);
  }
  state.SetItemsProcessed(state.iterations() * kBookmarks);
  std::filesystem::remove(file);
}

BENCHMARK(BM_XBEL_BuildDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBEL_Serialise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBEL_SaveFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBEL_ParseFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBEL_ReadTree)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
