// The page host: calls between script and host, calls into a page, and
// what a document costs (time and memory of a context with its window
// environment).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "pagehost/PageHost.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"

namespace {

using namespace kelvo;

// Settings in a throw-away database, so the real home is never touched.
void UseScratchSettings() {
  static bool done = [] {
    const std::string dir = std::filesystem::temp_directory_path() / ("kelvo-pagehost-bench-" +
                                                                      std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    SetRegistry(OpenRegistryDatabase(dir + "/registry.db"));
    return true;
  }();
  (void)done;
}

std::unique_ptr<TPageDocument> BridgeLikeDocument() {
  UseScratchSettings();
  auto doc = std::make_unique<TPageDocument>();
  doc->SetExternalProvider([](TPageDocument& d) {
    return THostObject()
        .Method("noop", [](TScriptCall&) { return TScriptValue(); })
        .Method("setKeyValue",
                [](TScriptCall& call) {
                  const TScriptValue params = call.Arg(0);
                  const std::string key = params.Shift().ToString();
                  const std::string value = params.Shift().ToString();
                  return TScriptValue::Number(static_cast<double>(key.size() + value.size()));
                })
        .Make(d);
  });
  doc->Evaluate("var ext = window.external;"
                "function noops(n) { for (var i = 0; i < n; i++) ext.noop(i); }"
                "function pairs(n) { for (var i = 0; i < n; i++) ext.setKeyValue(['key' + i, 'v']); }"
                "function add(a, b) { return a + b; }");
  return doc;
}

// Script calling a host method with one argument; items = calls.
void BM_HostCall(benchmark::State& state) {
  auto doc = BridgeLikeDocument();
  const int n = 1000;
  const TScriptValue count = TScriptValue::Number(n);
  for (auto _ : state) doc->CallFunction("noops", {count});
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HostCall);

// The bridge's common shape: an array argument taken apart with shift, a
// number answered; items = calls.
void BM_HostCallWithParamsArray(benchmark::State& state) {
  auto doc = BridgeLikeDocument();
  const int n = 1000;
  const TScriptValue count = TScriptValue::Number(n);
  for (auto _ : state) doc->CallFunction("pairs", {count});
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HostCallWithParamsArray);

// The host calling a page function by name.
void BM_CallIntoPage(benchmark::State& state) {
  auto doc = BridgeLikeDocument();
  const TScriptValue a = TScriptValue::Number(1);
  const TScriptValue b = TScriptValue::Number(2);
  for (auto _ : state) benchmark::DoNotOptimize(doc->CallFunction("add", {a, b}).Raw());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallIntoPage);

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A document with its window environment, made and dropped.
void BM_NewDocument(benchmark::State& state) {
  UseScratchSettings();
  for (auto _ : state) {
    TPageDocument doc;
    benchmark::DoNotOptimize(doc.Context());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NewDocument);

// Memory of documents kept alive: resident growth per document.
void BM_DocumentMemory(benchmark::State& state) {
  UseScratchSettings();
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const long before = ResidentKb();
    state.ResumeTiming();
    std::vector<std::unique_ptr<TPageDocument>> docs;
    for (int i = 0; i < n; ++i) docs.push_back(std::make_unique<TPageDocument>());
    state.PauseTiming();
    state.counters["KB_per_document"] =
        static_cast<double>(ResidentKb() - before) / static_cast<double>(n);
    docs.clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DocumentMemory)->Arg(200)->Iterations(3);

// Loading a small page: parse, two scripts, one frame, onload.
void BM_LoadPage(benchmark::State& state) {
  UseScratchSettings();
  const std::string dir = std::filesystem::temp_directory_path() /
                          ("kelvo-pagehost-bench-pages-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/lib.js") << "function lib(x) { return x * 2; }\n";
  std::ofstream(dir + "/frame.html") << "<script>var inFrame = parent.lib(2);</script>";
  std::ofstream(dir + "/page.html")
      << "<html><head><script src=\"lib.js\"></script></head><body>"
         "<iframe id=\"f\" src=\"frame.html\"></iframe>"
         "<script>var v = lib(21); window.onload = function () { v++; };</script></body></html>";
  TPageDocument doc;
  for (auto _ : state) doc.Load(dir + "/page.html");
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadPage);

}  // namespace

BENCHMARK_MAIN();
