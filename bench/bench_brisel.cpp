// Cutting a 4096 x 4096 float image into a frame shifted by 10 columns, without the wait:
// the overlap cutter's block copy against cfitsio's imcopy of the same section
// ('in.fits[11:4096,1:4096]'), and against writing the frame one row per region. The cut
// runs with blocks of 1, 4 (its default) and 16 MB.
//
// Files go to the directory named by ORV_BENCH_DIR (default /tmp).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "brisel/cut_image.h"
#include "brisel/image_table.h"
#include "orv/fits/fits.h"

namespace {

constexpr int kSide = 4096;
constexpr int kShift = 10;

std::string benchPath(const std::string& name) {
  const char* dir = std::getenv("ORV_BENCH_DIR");
  return std::string(dir ? dir : "/tmp") + "/orv_bench_brisel_" + name + ".fits";
}

// The input, made once: a float image with a world-coordinate frame.
const std::string& inputFile() {
  static const std::string file = [] {
    const std::string name = benchPath("in");
    orv::MArray<float, 2> a(kSide, kSide);
    float* p = a.firstElement();
    for (long i = 0; i < static_cast<long>(kSide) * kSide; ++i) p[i] = static_cast<float>((i * 7919) % 65536);
    orv::FitsOut out(name);
    out.addValueCard("CRVAL1  ", 150.0, "", true);
    out.addValueCard("CRVAL2  ", 2.0, "", true);
    out.addValueCard("CRPIX1  ", 2048 + kShift, "", true);
    out.addValueCard("CRPIX2  ", 2048, "", true);
    out.addValueCard("CD1_1   ", -1e-4, "", true);
    out.addValueCard("CD2_2   ", 1e-4, "", true);
    out << a;
    return name;
  }();
  return file;
}

// The placement of the input in the frame of a reference 10 columns to its left.
ImageTable shiftedTable() {
  ImageTable table(1);
  table.naxis1(1) = kSide;
  table.naxis2(1) = kSide;
  table.crpix1(1) = 2048 + kShift;
  table.crpix2(1) = 2048;
  table.xstart(1) = 1 - kShift;
  table.xend(1) = kSide - kShift;
  table.ystart(1) = 1;
  table.yend(1) = kSide;
  return table;
}

const Frame shiftedFrame{2048, 2048, kSide, kSide};

void briselCut(benchmark::State& state) {
  const ImageTable table = shiftedTable();
  const CutFiles files{inputFile(), benchPath("cut"), "", benchPath("e_cut")};
  for (auto _ : state) cut_image(files, false, table, 1, shiftedFrame, state.range(0) << 20);
}

void imcopySection(benchmark::State& state) {
  const std::string command = "imcopy '" + inputFile() + "[" + std::to_string(kShift + 1) + ":" +
                              std::to_string(kSide) + ",1:" + std::to_string(kSide) + "]' '!" +
                              benchPath("imcopy") + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("imcopy failed");
}

// The frame written one row per region, each row read as its own region.
void rowByRow(benchmark::State& state) {
  for (auto _ : state) {
    orv::FitsIn in(inputFile(), true);
    orv::FitsOut out(benchPath("rows"), in, true, false);
    util::Region frame(2);
    frame.setRange(1, 1, kSide);
    frame.setRange(2, 1, kSide);
    out.setGeometry(-32, frame);
    orv::MArray<float, 1> input(kSide), output(kSide);
    output = 0.0f;
    util::Region row(2);
    for (int k = 1; k <= kSide; ++k) {
      row.setRange(1, 1, kSide);
      row.setRange(2, k, k);
      in.setRegion(row);
      in >> input;
      for (int l = 1; l <= kSide - kShift; ++l) output(l) = input(l + kShift);
      out.setRegion(row);
      out << output;
    }
  }
}

}  // namespace

BENCHMARK(briselCut)->Unit(benchmark::kMillisecond)->Iterations(5)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(imcopySection)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(rowByRow)->Unit(benchmark::kMillisecond)->Iterations(2);
