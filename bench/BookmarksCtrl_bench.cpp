// Latency from a rename in the watched Favorites folder to the server script
// the controller hands to the transport: the inotify event, the watcher's
// 10 ms batch, the change applied to the tree (with the rebuild of its keys
// at the end of the bracket) and the script written. The transport points
// at a closed loopback port, so nothing waits for a server.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bookmarks/ReadBookmarksThread.h"
#include "foundation/Config.h"
#include "foundation/HandlerList.h"
#include "foundation/Identification.h"
#include "foundation/Log.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "platform/linux/SqliteRegistry.h"
#include "server/PostedText.h"
#include "server/Web.h"
#include "sync/BookmarksCtrl.h"

namespace {

namespace fs = std::filesystem;
using namespace kelvo;

void WriteUrl(const fs::path& path, const std::string& url) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << "[InternetShortcut]\r\nURL=" << url << "\r\n";
}

// A temporary HOME with a Favorites folder of `bookmarks` links in folders
// of 50, and a ready controller on it.
class TCtrlBench {
 public:
  explicit TCtrlBench(int bookmarks) {
    std::string tmpl = (fs::temp_directory_path() / "kelvo-ctrl-bench-XXXXXX").string();
    home_ = mkdtemp(tmpl.data());
    setenv("HOME", home_.c_str(), 1);
    for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) unsetenv(v);
    fs::create_directory(home_ / "run");
    setenv("XDG_RUNTIME_DIR", (home_ / "run").c_str(), 1);
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::WriteValue("", "RunsSinceInstall", "3");
    TConfig::InitPaths(0, "/opt/kelvo/bin/kelvo", false);
    TLog::ResetForTests();
    TLog::Init(0, "", false, false);
    // Nothing listens there: the request fails at once on its worker.
    TConfig::WriteValue("", "link-server-base", "http://127.0.0.1:9/");
    TIdentification::SetIdentity("bench1", "secret1");
    favorites_ = (home_ / "Favorites").string() + "/";
    for (int i = 0; i < bookmarks; ++i) {
      WriteUrl(fs::path(favorites_) / ("Folder " + std::to_string(i / 50)) / ("Link " + std::to_string(i) + ".url"),
               "http://example.com/page" + std::to_string(i));
    }
    WriteUrl(fs::path(favorites_) / "Renamed A.url", "http://example.com/renamed");
    mainForm_ = CreateWindowObject("TBenchMainForm", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == TBookmarksCtrl::kConnectMessage) ready_ = true;
      return DefWindowProc(w, m, wp, lp);
    });
    ctrl_ = std::make_unique<TBookmarksCtrl>(favorites_, (home_ / "meta.xml").string(), mainForm_);
    ctrl_->SetScriptObserver([this](const std::string&) {
      handed_ = std::chrono::steady_clock::now();
      ++scripts_;
    });
    while (!ready_) PumpMessages(10);
  }
  ~TCtrlBench() {
    ctrl_.reset();
    TWeb::Shutdown();
    TPostedText::Clear();
    DestroyWindowObject(mainForm_);
    SetCurrentFavoritesTree(nullptr);
    THandlerList::Clear();
    TLog::ResetForTests();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

  // One rename on disk; the seconds until its script was handed over.
  double RenameOnce() {
    const std::string from = favorites_ + (flip_ ? "Renamed B.url" : "Renamed A.url");
    const std::string to = favorites_ + (flip_ ? "Renamed A.url" : "Renamed B.url");
    flip_ = !flip_;
    const int before = scripts_;
    const auto start = std::chrono::steady_clock::now();
    fs::rename(from, to);
    while (scripts_ == before) PumpMessages(1);
    return std::chrono::duration<double>(handed_ - start).count();
  }

 private:
  fs::path home_;
  std::string favorites_;
  HWND mainForm_ = 0;
  bool ready_ = false;
  bool flip_ = false;
  int scripts_ = 0;
  std::chrono::steady_clock::time_point handed_{};
  std::unique_ptr<TBookmarksCtrl> ctrl_;
};

void BM_RenameToScript(benchmark::State& state) {
  TCtrlBench bench(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.SetIterationTime(bench.RenameOnce());
  }
  state.counters["bookmarks"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_RenameToScript)->Arg(100)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
