// Identity keys of a whole tree: InitHashes over every node followed by the
// root's content checksum (the tree fingerprint behind the sync id), with
// the counts reset as every rebuild does. Both should grow linearly with the
// tree: 10,000 and 100,000 bookmarks, one folder per twenty bookmarks.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"

namespace kelvo {
namespace {

std::string Numbered(const char* format, int n) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, n, n);
  return buffer;
}

// Fills root with bookmarks spread over bookmarks / 20 folders: top-level
// folders of ten, each holding nine subfolders; twenty bookmarks per folder,
// every other one with a server id.
void Fill(TFolder& root, int bookmarks) {
  const int folders = bookmarks / 20;
  int made = 0;
  int folderNo = 0;
  auto addBookmarks = [&](TFolder& folder) {
    for (int i = 0; i < 20 && made < bookmarks; ++i, ++made) {
      folder.Add(std::make_shared<TDefaultKBookmark>(
          Numbered("Site %06d - Home &amp; News", made),
          Numbered("http://www.site%06d.example.com/path/page%06d.html", made), "",
          made % 2 == 0 ? made : -1));
    }
  };
  while (folderNo < folders) {
    const int topNo = folderNo++;
    auto top = std::make_shared<TDefaultKFolder>(Numbered("Folder %05d", topNo), false, topNo + 1);
    root.Add(top);
    addBookmarks(*top);
    for (int j = 0; j < 9 && folderNo < folders; ++j) {
      auto sub = std::make_shared<TDefaultKFolder>(Numbered("Folder %05d", folderNo++));
      top->Add(sub);
      addBookmarks(*sub);
    }
  }
}

void BM_InitHashesAndContentSum_Folder(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  auto root = std::make_shared<TDefaultKFolder>("Favorites");
  Fill(*root, bookmarks);
  for (auto _ : state) {
    root->ResetCounts();
    root->InitHashes("");
    benchmark::DoNotOptimize(root->GetHash(hkContentSum));
  }
  state.SetComplexityN(bookmarks);
  state.counters["bookmarks"] = bookmarks;
  state.counters["folders"] = root->FolderCount();
}

// The same through the tree root, whose InitHashes also builds the node,
// URL and folder indexes.
void BM_InitHashesAndContentSum_Tree(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_shared<TDefaultSimpleTree>("Favorites");
    Fill(*tree, bookmarks);
    state.ResumeTiming();
    tree->ResetCounts();
    tree->InitHashes();
    benchmark::DoNotOptimize(tree->GetHash(hkContentSum));
    state.PauseTiming();
    tree.reset();  // not timed: releasing the nodes
    state.ResumeTiming();
  }
  state.SetComplexityN(bookmarks);
}

BENCHMARK(BM_InitHashesAndContentSum_Folder)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_InitHashesAndContentSum_Tree)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
