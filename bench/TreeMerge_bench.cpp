// Comparing and merging two 10,000-bookmark trees (the local Favorites and
// the server's copy) with 1% and with 10% of the bookmarks changed on the
// server: renamed, given a new URL, moved to another folder, or replaced by
// another bookmark (name and URL both new).
//
// The key pairing must grow linearly with the trees (also in one crowded
// folder); only the matching of what is left unpaired may be quadratic in
// the number of unpaired nodes. Each iteration of the merge starts from
// fresh trees built outside the timing; the timed merge includes the
// closing EndUpdate that rebuilds the local tree's keys and indexes.

// GCC 12 folds the shared_ptr set-up of the node classes with virtual
// bases and then warns falsely about reads past the smaller nodes
// (-Warray-bounds).
#pragma GCC diagnostic ignored "-Warray-bounds"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "bookmarks/Bookmark.h"
#include "bookmarks/FileBookmark.h"
#include "bookmarks/FileFolder.h"
#include "bookmarks/FileTree.h"
#include "bookmarks/ServerBookmark.h"
#include "bookmarks/ServerFolder.h"
#include "bookmarks/ServerTree.h"
#include "foundation/Log.h"
#include "sync/BNodeDifference.h"
#include "sync/TreeMerge.h"

namespace kelvo {
namespace {

std::string Numbered(const char* prefix, int n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s %06d", prefix, n);
  return buffer;
}

// A Favorites folder that does not exist on disk: the tree starts empty and
// nothing the merge writes or moves touches a real file.
std::string ScratchDirectory() {
  return (std::filesystem::temp_directory_path() / "kelvo-merge-bench-absent").string();
}

struct TTrees {
  std::shared_ptr<TFileTree> local;
  TServerTreePtr server;
};

// bookmarks spread over folders of perFolder; every changeEvery-th bookmark
// differs on the server (0: none), cycling through the four changes.
TTrees MakeTrees(int bookmarks, int perFolder, int changeEvery) {
  TTrees trees;
  trees.local = std::make_shared<TFileTree>(ScratchDirectory(), "My Favorites");
  trees.server = TServerTree::Create("Server");
  const int folders = (bookmarks + perFolder - 1) / perFolder;
  std::vector<std::shared_ptr<TFileFolder>> localFolders;
  std::vector<std::shared_ptr<TServerFolder>> serverFolders;
  for (int f = 0; f < folders; ++f) {
    localFolders.push_back(std::make_shared<TFileFolder>(std::string(), false, Numbered("Folder", f)));
    serverFolders.push_back(std::make_shared<TServerFolder>(Numbered("Folder", f)));
    trees.local->Add(localFolders.back());
    trees.server->Add(serverFolders.back());
  }
  for (int b = 0; b < bookmarks; ++b) {
    const int f = b / perFolder;
    std::string name = Numbered("Bookmark", b);
    std::string url = "http://site" + std::to_string(b) + ".example/page";
    localFolders[f]->Add(std::make_shared<TFileBookmark>(TDefaultKBookmark(name, url)));
    int serverFolder = f;
    if (changeEvery > 0 && b % changeEvery == 0) {
      switch ((b / changeEvery) % 4) {
        case 0:
          name += " renamed";
          break;
        case 1:
          url += "?v=2";
          break;
        case 2:
          serverFolder = (f + 1) % folders;
          break;
        default:
          name += " new";
          url += "?new";
          break;
      }
    }
    std::string ref = ":";
    ref += std::to_string(b + 1);
    serverFolders[serverFolder]->Add(NewServerBookmark(name, url, ref));
  }
  trees.local->InitHashes();
  trees.server->InitHashes();
  return trees;
}

void QuietLog() { TLog::Init(0, std::string(), false, false); }

int ChangeEvery(int percent) { return percent == 0 ? 0 : 100 / percent; }

void BM_PairTrees(benchmark::State& state) {
  QuietLog();
  TTrees trees = MakeTrees(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                           ChangeEvery(static_cast<int>(state.range(2))));
  for (auto _ : state) {
    PairTrees(*trees.local, *trees.server);
    benchmark::ClobberMemory();
  }
  state.SetComplexityN(state.range(0));
}

void BM_Differences(benchmark::State& state) {
  QuietLog();
  TTrees trees = MakeTrees(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                           ChangeEvery(static_cast<int>(state.range(2))));
  std::size_t count = 0;
  for (auto _ : state) {
    PairTrees(*trees.local, *trees.server);
    TBNodeDifferenceList list = ComputeDifferences(*trees.local, *trees.server);
    count = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["differences"] = static_cast<double>(count);
  state.SetComplexityN(state.range(0));
}

void BM_Merge(benchmark::State& state) {
  QuietLog();
  std::size_t count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TTrees trees = MakeTrees(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                             ChangeEvery(static_cast<int>(state.range(2))));
    TTreeMerge merge(trees.local, ScratchDirectory());
    state.ResumeTiming();
    count = merge.MergeFrom(*trees.server).size();
    state.PauseTiming();
    trees = TTrees();  // freeing the trees is not part of the merge
    state.ResumeTiming();
  }
  state.counters["differences"] = static_cast<double>(count);
}

// Arguments: bookmarks, bookmarks per folder, percent changed.
void TenThousand(benchmark::internal::Benchmark* b) {
  b->Args({10000, 100, 0})->Args({10000, 100, 1})->Args({10000, 100, 10});
  // One crowded folder: the pairing must not compare siblings pairwise.
  b->Args({10000, 10000, 1})->Args({10000, 10000, 10});
  b->Unit(benchmark::kMillisecond);
}

// Growth of the paired part: unchanged trees of 5,000 to 80,000 bookmarks.
void Growth(benchmark::internal::Benchmark* b) {
  for (int n = 5000; n <= 80000; n *= 2) b->Args({n, 100, 0});
  b->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PairTrees)->Apply(TenThousand);
BENCHMARK(BM_Differences)->Apply(TenThousand);
BENCHMARK(BM_Merge)->Apply(TenThousand);
BENCHMARK(BM_PairTrees)->Name("BM_PairTrees/growth")->Apply(Growth);
BENCHMARK(BM_Differences)->Name("BM_Differences/growth")->Apply(Growth);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
