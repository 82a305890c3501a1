// Settings are read from the registry database at every access (no cache),
// so a read must stay far below a millisecond; writes wait for the file.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/linux/SqliteRegistry.h"

namespace {

std::string TempDatabase() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kelvo-bench-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return "";
  return tmpl + "/registry.db";
}

void BM_RegistryReadString(benchmark::State& state) {
  const std::string file = TempDatabase();
  kelvo::TSqliteRegistry reg(file);
  for (int i = 0; i < 200; ++i)
    reg.WriteString(kelvo::TRegRoot::HKCU, "Software\\Kelvo\\s" + std::to_string(i % 10),
                    "v" + std::to_string(i), "value");
  for (auto _ : state)
    benchmark::DoNotOptimize(reg.ReadString(kelvo::TRegRoot::HKCU, "software\\kelvo\\S7", "V57"));
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}
BENCHMARK(BM_RegistryReadString);

void BM_RegistryWriteString(benchmark::State& state) {
  const std::string file = TempDatabase();
  kelvo::TSqliteRegistry reg(file);
  int i = 0;
  for (auto _ : state)
    reg.WriteString(kelvo::TRegRoot::HKCU, "Software\\Kelvo\\stats\\data", "getreco",
                    std::to_string(++i));
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}
BENCHMARK(BM_RegistryWriteString);

}  // namespace

BENCHMARK_MAIN();
