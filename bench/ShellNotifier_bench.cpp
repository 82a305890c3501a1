// Latency of the Favorites change watcher: from a rename on disk to the
// batch of records handed to the owner (the 10 ms batch delay included, so
// about 10 ms is the floor), and to the first notification of the shell
// component (no batching). Also the cost of starting the watcher on a
// large Favorites folder, which adds one watch per folder.
//
// Everything runs on real temporary folders through the real message loop.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/Window.h"
#include "sync/BookmarksShellNotifier.h"
#include "sync/SHChangeNotify.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

// A Favorites folder of `folders` folders with `perFolder` bookmarks each,
// removed again with the object.
class TTempFavorites {
 public:
  TTempFavorites(int folders, int perFolder) {
    std::string tmpl = (fs::temp_directory_path() / "kelvo-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = fs::path(tmpl) / "Favorites";
    fs::create_directories(root_);
    for (int f = 0; f < folders; ++f) {
      fs::path dir = root_ / ("Folder " + std::to_string(f));
      fs::create_directories(dir);
      for (int b = 0; b < perFolder; ++b) {
        std::ofstream(dir / ("Bookmark " + std::to_string(b) + ".url"))
            << "[InternetShortcut]\r\nURL=http://example.com/" << f << "/" << b << "\r\n";
      }
    }
    std::ofstream(root_ / "a.url") << "[InternetShortcut]\r\nURL=http://a.example/\r\n";
  }
  ~TTempFavorites() {
    std::error_code ec;
    fs::remove_all(root_.parent_path(), ec);
  }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

// Pumps until done; false after five seconds.
bool PumpUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    PumpMessages(50);
  }
  return true;
}

void BM_RenameToBatch(benchmark::State& state) {
  TTempFavorites fav(20, 10);
  TBookmarksShellNotifier notifier(fav.Root().string());
  int batches = 0;
  bool sawRename = false;
  notifier.SetOnChanges([&](TBookmarksShellNotifier& n) {
    ++batches;
    for (const auto& r : n.Pending()) sawRename |= r->Kind() == TShellChangeKind::Rename;
  });
  notifier.Start();
  const fs::path a = fav.Root() / "Folder 3" / "a.url";
  const fs::path b = fav.Root() / "Folder 3" / "b.url";
  std::ofstream(a) << "[InternetShortcut]\r\nURL=http://x/\r\n";
  PumpUntil([&] { return batches > 0; });
  bool forward = true;
  for (auto _ : state) {
    const int before = batches;
    sawRename = false;
    fs::rename(forward ? a : b, forward ? b : a);
    forward = !forward;
    if (!PumpUntil([&] { return batches > before; }) || !sawRename) {
      state.SkipWithError("no rename batch");
      break;
    }
  }
}
BENCHMARK(BM_RenameToBatch)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenameToNotification(benchmark::State& state) {
  TTempFavorites fav(20, 10);
  TSHChangeNotify* notify = nullptr;
  HWND owner = CreateWindowObject("BenchOwner", [&](HWND h, UINT m, WPARAM w, LPARAM l) {
    LRESULT result = 0;
    if (notify && notify->HandleMessage(m, w, l, result)) return result;
    return DefWindowProc(h, m, w, l);
  });
  TSHChangeNotify component(owner, fav.Root().string() + "/");
  notify = &component;
  component.SetMessageNo(TBookmarksShellNotifier::kNotifyMessageNo);
  int renames = 0;
  component.SetHandler(SHCNE_RENAMEITEM, TSHChangeNotify::TTwoPathHandler(
                                             [&](const std::string&, const std::string&) {
                                               ++renames;
                                             }));
  component.Register();
  const fs::path a = fav.Root() / "a.url";
  const fs::path b = fav.Root() / "b.url";
  bool forward = true;
  for (auto _ : state) {
    const int before = renames;
    fs::rename(forward ? a : b, forward ? b : a);
    forward = !forward;
    if (!PumpUntil([&] { return renames > before; })) {
      state.SkipWithError("no rename notification");
      break;
    }
  }
  component.Deregister();
  notify = nullptr;
  DestroyWindowObject(owner);
}
BENCHMARK(BM_RenameToNotification)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Start and stop on folders x 20 bookmarks (500 folders: 10,000 bookmarks).
void BM_StartOnLargeFolder(benchmark::State& state) {
  TTempFavorites fav(static_cast<int>(state.range(0)), 20);
  TBookmarksShellNotifier notifier(fav.Root().string());
  for (auto _ : state) {
    notifier.Start();
    notifier.Stop();
  }
  state.counters["folders"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_StartOnLargeFolder)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
