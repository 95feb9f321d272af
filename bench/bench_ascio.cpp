// Reading a table of 1,000 rows x 20,000 whitespace-separated columns with
// AscFile::readDoubleColumns and readFloatColumns against numpy.loadtxt of the same
// file (timed inside python, interpreter start-up excluded), and rows of 10,000 to
// 200,000 columns, whose time must grow in proportion to the columns.
//
// The file goes to the directory named by ORV_BENCH_DIR (default /tmp).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "orv/fits/ascio.h"

namespace {

std::string benchPath(const std::string& name) {
  const char* dir = std::getenv("ORV_BENCH_DIR");
  return std::string(dir ? dir : "/tmp") + "/orv_bench_" + name + ".txt";
}

// A table of rows x cols values with nine significant digits, as a catalogue or a
// light-curve file holds them, made once per shape.
std::string table(int rows, int cols) {
  const std::string file = benchPath("ascio_" + std::to_string(rows) + "x" + std::to_string(cols));
  std::ifstream existing(file);
  if (existing.good()) return file;
  std::ofstream out(file);
  std::mt19937_64 random(17);
  std::normal_distribution<double> normal(0.0, 1.0);
  char number[32];
  for (int r = 0; r < rows; ++r) {
    std::string line;
    for (int c = 0; c < cols; ++c) {
      std::snprintf(number, sizeof number, c == 0 ? "%.9g" : " %.9g", normal(random) * 1000.0);
      line += number;
    }
    out << line << '\n';
  }
  return file;
}

template <class T>
void orvReadColumns(benchmark::State& state) {
  const std::string file = table(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    orv::AscFile in(file, 0, "#");
    if constexpr (sizeof(T) == sizeof(double))
      benchmark::DoNotOptimize(in.readDoubleColumns(0, 0).firstElement());
    else
      benchmark::DoNotOptimize(in.readFloatColumns(0, 0).firstElement());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// numpy.loadtxt of the same file; the time of the call alone is reported.
void numpyLoadtxt(benchmark::State& state, const char* dtype) {
  const std::string file = table(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const std::string command =
      "/usr/bin/python3 -c \"import time, numpy; t = time.perf_counter(); "
      "a = numpy.loadtxt('" +
      file + "', dtype=numpy." + dtype + "); print(time.perf_counter() - t)\"";
  for (auto _ : state) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    double seconds = -1.0;
    if (!pipe || std::fscanf(pipe.get(), "%lf", &seconds) != 1 || seconds < 0) {
      state.SkipWithError("python3 with numpy did not run");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

BENCHMARK_TEMPLATE(orvReadColumns, double)->Args({1000, 20000})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(numpyLoadtxt, float64, "float64")
    ->Args({1000, 20000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(orvReadColumns, float)->Args({1000, 20000})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(numpyLoadtxt, float32, "float32")
    ->Args({1000, 20000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Growth with the row length: ten rows of 10,000, 40,000 and 200,000 columns.
BENCHMARK_TEMPLATE(orvReadColumns, double)
    ->Args({10, 10000})
    ->Args({10, 40000})
    ->Args({10, 200000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
