// Duplicate removal over whole Favorites-sized trees (should grow linearly
// with the tree) and over one crowded folder, the worst case of the sibling
// comparison (must stay well under a second for 5,000 bookmarks).
//
// Each iteration builds a fresh tree with its keys outside the timing; the
// timed part is Unduplicate including the rebuild of its closing EndUpdate.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/Folder.h"
#include "bookmarks/TreeTools.h"

namespace kelvo {
namespace {

std::string Numbered(const char* prefix, int n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s %06d", prefix, n);
  return buffer;
}

// bookmarks spread over bookmarks / 20 folders, in groups of ten (one
// top-level folder holding nine others). One bookmark in ten repeats the
// URL of a sibling, one in forty the name of a sibling, and one folder in
// twenty-five has the name of an earlier sibling folder, so every branch of
// the pass has work.
template <class TRoot = TDefaultSimpleTree>
std::shared_ptr<TRoot> WholeTree(int bookmarks) {
  auto tree = std::make_shared<TRoot>("Favorites");
  const int folders = bookmarks / 20;
  std::shared_ptr<IFolder> group;
  int made = 0;
  for (int f = 0; f < folders; ++f) {
    const bool top = f % 10 == 0;
    const bool twin = f % 25 == 24;
    auto folder = std::make_shared<TDefaultKFolder>(Numbered("Folder", twin ? f - 1 : f));
    for (int b = 0; b < 20 && made < bookmarks; ++b, ++made) {
      std::string url = "http://site" + std::to_string(made) + ".example/page";
      std::string name = Numbered("Bookmark", made);
      if (b % 10 == 9) url = "http://site" + std::to_string(made - 3) + ".example/page";
      if (b == 15 && f % 2 == 0) name = Numbered("Bookmark", made - 1);
      folder->Add(std::make_shared<TDefaultKBookmark>(name, url));
    }
    if (top) {
      tree->Add(folder);
      group = folder;
    } else {
      group->Add(folder);
    }
  }
  if constexpr (std::is_base_of_v<IHashableTree, TRoot>) {
    tree->InitHashes();
  } else {
    tree->InitHashes(std::string());
  }
  return tree;
}

// One folder of count bookmarks with distinct names in scrambled order;
// with pairs, half of them share their URL with one partner a quarter of
// the folder away, otherwise half of them share one URL.
std::shared_ptr<TDefaultSimpleTree> CrowdedFolder(int count, bool pairs) {
  auto tree = std::make_shared<TDefaultSimpleTree>("Favorites");
  auto folder = std::make_shared<TDefaultKFolder>("Crowded");
  const int half = count / 2;
  const int quarter = count / 4;
  for (int i = 0; i < count; ++i) {
    std::string url;
    if (i >= half) {
      url = "http://unique" + std::to_string(i) + ".example/";
    } else if (pairs) {
      url = "http://pair" + std::to_string(i % quarter) + ".example/";
    } else {
      url = "http://same.example/";
    }
    folder->Add(std::make_shared<TDefaultKBookmark>(Numbered("Bookmark", (i * 7919) % count), url));
  }
  tree->Add(folder);
  tree->InitHashes();
  return tree;
}

void BM_UnduplicateWholeTree(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  std::size_t removed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = WholeTree(bookmarks);
    state.ResumeTiming();
    removed = Unduplicate(*tree).size();
    benchmark::DoNotOptimize(removed);
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
  state.counters["removed"] = static_cast<double>(removed);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_UnduplicateWholeTree)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The pass alone: the same trees under a plain folder, which has no update
// bracket and so no rebuild.
void BM_UnduplicatePassOnly(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto root = WholeTree<TDefaultKFolder>(bookmarks);
    state.ResumeTiming();
    benchmark::DoNotOptimize(Unduplicate(*root).size());
    state.PauseTiming();
    root.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_UnduplicatePassOnly)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The rebuild alone (keys, counts, indexes) on the same trees: the part of
// the figures above that is not the pass itself.
void BM_RebuildWholeTree(benchmark::State& state) {
  const int bookmarks = static_cast<int>(state.range(0));
  auto tree = WholeTree(bookmarks);
  for (auto _ : state) {
    tree->BeginUpdate();
    tree->EndUpdate();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RebuildWholeTree)
    ->Arg(10000)
    ->Arg(30000)
    ->Arg(100000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_UnduplicateCrowdedFolder(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool pairs = state.range(1) != 0;
  std::size_t removed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = CrowdedFolder(count, pairs);
    state.ResumeTiming();
    removed = Unduplicate(*tree).size();
    benchmark::DoNotOptimize(removed);
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
  state.counters["removed"] = static_cast<double>(removed);
}
BENCHMARK(BM_UnduplicateCrowdedFolder)
    ->ArgNames({"bookmarks", "pairs"})
    ->Args({5000, 1})
    ->Args({5000, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
