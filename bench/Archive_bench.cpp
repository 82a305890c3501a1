// Favorites backups: the rule check that runs at every connect and
// periodic run (nothing to write, a folder of many backups to scan), a
// forced backup of a large tree identical to the newest (written, digested,
// deleted again), and the listing the archive dialog shows.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/Archive.h"
#include "bookmarks/Bookmark.h"
#include "bookmarks/DefaultSimpleTree.h"
#include "bookmarks/XBEL.h"
#include "foundation/FileTools.h"

namespace {

using namespace kelvo;
namespace fs = std::filesystem;

std::string TempFolder(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("kelvo-archive-bench-" + tag + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern + "/";
}

std::shared_ptr<TDefaultSimpleTree> Tree(int links) {
  auto tree = std::make_shared<TDefaultSimpleTree>("My Favorites");
  std::shared_ptr<TFolder> folder;
  for (int i = 0; i < links; ++i) {
    if (i % 20 == 0) {
      folder = std::make_shared<TFolder>("Folder " + std::to_string(i / 20));
      tree->Add(folder);
    }
    folder->Add(std::make_shared<TBookmark>("Bookmark " + std::to_string(i),
                                            "http://site" + std::to_string(i % 97) + ".example/page/" +
                                                std::to_string(i)));
  }
  tree->InitHashes();
  return tree;
}

// An archive folder holding `count` backups a minute apart, the newest
// an hour before `now`.
void FillArchive(const std::string& folder, int count, const TDateTime& now) {
  for (int i = 0; i < count; ++i) {
    TDateTime time = AddMinutes(now, -60 - i);
    const std::string name = ArchiveFileName(folder, time, 10000);
    TFileTools::WriteFileAtomically(name, "<?xml version=\"1.0\" encoding=\"utf-8\"?><xbel version=\"1.0\"/>");
    TFileTools::SetFileTime(name, time);
  }
}

void BM_ArchiveRuleSkips(benchmark::State& state) {
  const std::string favorites = TempFolder("fav");
  const std::string archive = TempFolder("skip");
  const TDateTime now = Now();
  FillArchive(archive, static_cast<int>(state.range(0)), now);
  auto tree = Tree(10000);
  for (auto _ : state) {
    auto outcome = ArchiveTree(tree, favorites, archive, false, now);
    if (outcome.written) state.SkipWithError("a backup was written");
    benchmark::DoNotOptimize(outcome);
  }
  fs::remove_all(archive);
  fs::remove_all(favorites);
}
BENCHMARK(BM_ArchiveRuleSkips)->Arg(10)->Arg(500)->Unit(benchmark::kMicrosecond);

void BM_ArchiveForcedIdentical(benchmark::State& state) {
  const std::string favorites = TempFolder("fav");
  const std::string archive = TempFolder("forced");
  auto tree = Tree(static_cast<int>(state.range(0)));
  ArchiveTree(tree, favorites, archive, true);
  for (auto _ : state) {
    auto outcome = ArchiveTree(tree, favorites, archive, true);
    if (!outcome.identical) state.SkipWithError("the copy was not recognised as identical");
  }
  fs::remove_all(archive);
  fs::remove_all(favorites);
}
BENCHMARK(BM_ArchiveForcedIdentical)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ArchiveListing(benchmark::State& state) {
  const std::string archive = TempFolder("list");
  FillArchive(archive, static_cast<int>(state.range(0)), Now());
  for (auto _ : state) {
    TArchive listing(archive);
    benchmark::DoNotOptimize(listing.Count());
  }
  fs::remove_all(archive);
}
BENCHMARK(BM_ArchiveListing)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
