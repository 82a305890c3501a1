// The sidebar's two stores under load. Key-value store: 1,000 new keys set
// one after another (each set writes its value file and rewrites the index,
// both atomically), then the same 1,000 read back. SQL storage: one run of
// an INSERT over 10,000 parameter rows, beside the same inserts made
// directly through SQLite in one transaction, the limit the run can reach.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Config.h"
#include "platform/Registry.h"
#include "platform/linux/SqliteRegistry.h"
#include "sidebar/KeyValueStore.h"
#include "sidebar/SQLiteStorage.h"

namespace kelvo {
namespace {

constexpr int kKeys = 1000;
constexpr int kRows = 10000;

// A HOME of its own with the agent's folders computed in it.
class TBenchHome {
 public:
  TBenchHome() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelvo-sb-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    ::setenv("HOME", path_.c_str(), 1);
    for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) ::unsetenv(v);
    SetRegistry(OpenRegistryDatabase(DefaultRegistryPath()));
    TConfig::ResetForTesting();
    TConfig::InitPaths(0, path_ + "/app/kelvo", false);
  }
  ~TBenchHome() {
    TKeyValueStore::ResetForTesting();
    TSQLite3::ResetForTesting();
    TConfig::ResetForTesting();
    SetRegistry(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

 private:
  std::string path_;
};

std::string Key(int i) { return "bench.key." + std::to_string(i); }
std::string Value(int i) { return "value number " + std::to_string(i) + " with some text"; }

void BM_KeyValue_Set1000NewKeys(benchmark::State& state) {
  TBenchHome home;
  for (auto _ : state) {
    state.PauseTiming();
    TKeyValueStore::ResetForTesting();
    std::error_code ec;
    std::filesystem::remove_all(TKeyValueStore::Folder(), ec);
    TKeyValueStore::Open();
    state.ResumeTiming();
    for (int i = 0; i < kKeys; ++i) TKeyValueStore::Set(Key(i), Value(i));
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_KeyValue_Set1000NewKeys)->Unit(benchmark::kMillisecond);

void BM_KeyValue_Get1000Keys(benchmark::State& state) {
  TBenchHome home;
  TKeyValueStore::Open();
  for (int i = 0; i < kKeys; ++i) TKeyValueStore::Set(Key(i), Value(i));
  for (auto _ : state) {
    for (int i = 0; i < kKeys; ++i) benchmark::DoNotOptimize(TKeyValueStore::Get(Key(i)));
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_KeyValue_Get1000Keys)->Unit(benchmark::kMillisecond);

TSQLParamRows InsertRows() {
  TSQLParamRows rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) rows.push_back({std::to_string(i), Value(i)});
  return rows;
}

const char* const kCreate = "CREATE TABLE IF NOT EXISTS t (a TEXT, b TEXT)";
const char* const kInsert = "INSERT INTO t (a, b) VALUES (?, ?)";

void BM_SQL_RunInsert10000Rows(benchmark::State& state) {
  TBenchHome home;
  TSQLite3::OpenStorage();
  TSQLite3::RunSQL(kCreate, {});
  const TSQLParamRows rows = InsertRows();
  for (auto _ : state) {
    benchmark::DoNotOptimize(TSQLite3::RunSQL(kInsert, rows));
    state.PauseTiming();
    TSQLite3::RunSQL("DELETE FROM t", {});
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQL_RunInsert10000Rows)->Unit(benchmark::kMillisecond);

// The same inserts straight through SQLite: one transaction, one prepared
// statement, the same pragmas.
void BM_SQL_DirectInsert10000Rows(benchmark::State& state) {
  TBenchHome home;
  TSQLite3::OpenStorage();
  TSQLite3::RunSQL(kCreate, {});
  TSQLite3::CloseStorage();
  sqlite3* db = nullptr;
  sqlite3_open(TSQLite3::StoragePath().c_str(), &db);
  sqlite3_exec(db, "PRAGMA SYNCHRONOUS=NORMAL; PRAGMA temp_store = MEMORY;", nullptr, nullptr,
               nullptr);
  const TSQLParamRows rows = InsertRows();
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, kInsert, -1, &stmt, nullptr);
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        sqlite3_bind_text(stmt, static_cast<int>(i) + 1, row[i].data(),
                          static_cast<int>(row[i].size()), SQLITE_STATIC);
      }
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    state.PauseTiming();
    sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SQL_DirectInsert10000Rows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvo

BENCHMARK_MAIN();
