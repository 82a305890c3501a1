// The reference link server's per-script cost on a large account: a full
// export of 10,000 links (the sync dialog's "save-all-links" REPLACE), one
// single change against such an account (the controller's everyday
// "update-link"; the whole account is read and written back once per
// script), and the server's sync id alone (the agent's server tree and
// checksums over the stored links), all without HTTP.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "LinkRecords.h"
#include "LinkStore.h"
#include "ScriptProcessor.h"

namespace kelvo::linkserver {
namespace {

constexpr int kLinks = 10000;

std::string Numbered(const char* format, int a, int b) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

// 10,000 bookmark links in 500 folders of twenty, under 50 top folders.
std::string ExportScript() {
  std::string script =
      "<server-script version=\"1.0\"><context><user-id>bench:pw</user-id></context>"
      "<save-all-links mode=\"REPLACE\">";
  for (int i = 0; i < kLinks; ++i) {
    const int folder = i / 20;
    script += Numbered("<link path=\"/Top %02d/Folder %03d\"", folder / 10, folder);
    script += Numbered(" title=\"Site %06d - Home %d\"", i, i % 7);
    script += Numbered(" url=\"http://www.site%06d.example.com/page%d.html\"/>", i, i % 13);
  }
  return script + "</save-all-links></server-script>";
}

class TBenchStore {
 public:
  TBenchStore()
      : path_(std::filesystem::temp_directory_path() /
              ("kelvo-linkserver-bench-" + std::to_string(::getpid()) + ".db")),
        store_(path_.string()) {
    store_.SetAccount("bench", "pw");
  }
  ~TBenchStore() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TLinkStore& Store() { return store_; }

 private:
  std::filesystem::path path_;
  TLinkStore store_;
};

void BM_ExportTenThousandLinks(benchmark::State& state) {
  TBenchStore bench;
  const std::string script = ExportScript();
  for (auto _ : state) {
    const std::string answer = ProcessScript(bench.Store(), script);
    if (answer.find("MSG_LINKS_SAVED") == std::string::npos) state.SkipWithError("not saved");
  }
  state.SetItemsProcessed(state.iterations() * kLinks);
}
BENCHMARK(BM_ExportTenThousandLinks)->Unit(benchmark::kMillisecond);

void BM_OneChangeOnTenThousandLinks(benchmark::State& state) {
  TBenchStore bench;
  ProcessScript(bench.Store(), ExportScript());
  const std::string there =
      "<old-link path=\"/Top 00/Folder 000\" title=\"Site 000000 - Home 0\" "
      "url=\"http://www.site000000.example.com/page0.html\"/>"
      "<new-link path=\"/Top 00/Folder 001\" title=\"Site 000000 - Home 0\" "
      "url=\"http://www.site000000.example.com/page0.html\"/>";
  const std::string back =
      "<old-link path=\"/Top 00/Folder 001\" title=\"Site 000000 - Home 0\" "
      "url=\"http://www.site000000.example.com/page0.html\"/>"
      "<new-link path=\"/Top 00/Folder 000\" title=\"Site 000000 - Home 0\" "
      "url=\"http://www.site000000.example.com/page0.html\"/>";
  bool forth = true;
  for (auto _ : state) {
    const std::string script =
        "<server-script version=\"1.0\"><context><user-id>bench:pw</user-id></context>"
        "<update-link>" +
        (forth ? there : back) + "</update-link></server-script>";
    forth = !forth;
    const std::string answer = ProcessScript(bench.Store(), script);
    if (answer.find("MSG_LINKS_SAVED") == std::string::npos) state.SkipWithError("not saved");
  }
}
BENCHMARK(BM_OneChangeOnTenThousandLinks)->Unit(benchmark::kMillisecond);

void BM_ServerSyncIdOfTenThousandLinks(benchmark::State& state) {
  TBenchStore bench;
  ProcessScript(bench.Store(), ExportScript());
  const TAccountData data = bench.Store().Load("bench");
  for (auto _ : state) benchmark::DoNotOptimize(ComputeServerFacts(data));
  state.SetItemsProcessed(state.iterations() * kLinks);
}
BENCHMARK(BM_ServerSyncIdOfTenThousandLinks)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo::linkserver

BENCHMARK_MAIN();
