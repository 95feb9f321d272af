// Round trip: what the writer writes, the reader reads back identically, for every element
// type with every BITPIX that holds its values exactly; cfitsio's fitscopy rewrites the files.
#include <gtest/gtest.h>

#include <random>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

// Value sets that a BITPIX holds exactly.
enum class Domain { bytes, shorts, floatInts, ints, floats, doubles };

double randomValue(Domain domain, std::mt19937_64& rng) {
  switch (domain) {
    case Domain::bytes:
      return std::uniform_int_distribution<int>(0, 255)(rng);
    case Domain::shorts:
      return std::uniform_int_distribution<int>(-32768, 32767)(rng);
    case Domain::floatInts:  // integers a float holds exactly
      return std::uniform_int_distribution<int>(-(1 << 24), 1 << 24)(rng);
    case Domain::ints:
      return std::uniform_int_distribution<int>(INT_MIN, INT_MAX)(rng);
    case Domain::floats:
      return static_cast<float>(std::normal_distribution<double>(0, 1e4)(rng));
    case Domain::doubles:
      return std::normal_distribution<double>(0, 1e4)(rng);
  }
  return 0;
}

template <class T, int N>
void roundTrip(const std::string& file, int bitpix, Domain domain, std::mt19937_64& rng) {
  orv::MArray<T, N> written;
  if constexpr (N == 1)
    written.makeReference(orv::MArray<T, 1>(301));
  else
    written.makeReference(orv::MArray<T, 2>(29, 31));
  for (orv::MArrayIter<T, N> it(written); !it.isDone(); ++it) *it = static_cast<T>(randomValue(domain, rng));
  orv::FitsOut out(file);
  out.setBitpixOut(bitpix);
  out << written;

  orv::FitsIn in(file, true);
  orv::MArray<T, N> read;
  in >> read;
  ASSERT_EQ(read.numElements(), written.numElements());
  for (int d = 1; d <= N; ++d) ASSERT_EQ(read.length(d), written.length(d));
  orv::MArrayIterConst<T, N> a(written), b(read);
  for (int i = 0; !a.isDone(); ++a, ++b, ++i) ASSERT_EQ(*a, *b) << "element " << i;
}

TEST(FitsRoundTrip, WriterAndReaderAgreeAndFitscopyRewritesTheFiles) {
  struct Case {
    const char* type;
    int rank;
    int bitpix;
    Domain domain;
  };
  const Case cases[] = {
      {"float", 2, -32, Domain::floats},   {"float", 2, -64, Domain::floats},
      {"float", 2, 32, Domain::floatInts}, {"float", 2, 16, Domain::shorts},
      {"float", 2, 8, Domain::bytes},      {"double", 1, -64, Domain::doubles},
      {"double", 2, -64, Domain::doubles}, {"double", 2, -32, Domain::floats},
      {"double", 2, 32, Domain::ints},     {"short", 2, 16, Domain::shorts},
      {"short", 2, 32, Domain::shorts},    {"short", 2, -32, Domain::shorts},
      {"short", 2, -64, Domain::shorts},   {"short", 2, 8, Domain::bytes},
      {"int", 2, 32, Domain::ints},        {"int", 2, -64, Domain::ints},
      {"int", 2, -32, Domain::floatInts},  {"int", 2, 16, Domain::shorts},
  };
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::mt19937_64 rng(20261210);
  for (const Case& c : cases) {
    const std::string name = std::string(c.type) + std::to_string(c.rank) + "_" + std::to_string(c.bitpix);
    SCOPED_TRACE(name);
    const std::string file = dir + name + ".fits";
    const std::string type = c.type;
    if (type == "float") roundTrip<float, 2>(file, c.bitpix, c.domain, rng);
    if (type == "double" && c.rank == 1) roundTrip<double, 1>(file, c.bitpix, c.domain, rng);
    if (type == "double" && c.rank == 2) roundTrip<double, 2>(file, c.bitpix, c.domain, rng);
    if (type == "short") roundTrip<short, 2>(file, c.bitpix, c.domain, rng);
    if (type == "int") roundTrip<int, 2>(file, c.bitpix, c.domain, rng);
    std::string output;
    EXPECT_EQ(test_support::runCommand("fitscopy " + file + " '!" + dir + "copy.fits' 2>&1", &output), 0)
        << output;
    EXPECT_EQ(output, "");
  }
}

TEST(FitsRoundTrip, ImageOfSeveralWriteChunksFromAStridedView) {
  // Several megabytes, so that the writer stores and flushes the data in more than one chunk;
  // a view with stride 2 along x, so that chunks end inside runs of the array.
  const int nx = 1031, ny = 1100;
  orv::MArray<float, 2> storage(2 * nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= 2 * nx; ++x) storage(x, y) = static_cast<float>((x * 31 + y * 17) % 65536 - 32768);
  const orv::MArray<float, 2> view = storage(orv::Range(1, 2 * nx - 1, 2), orv::Range(1, ny));
  const std::string dir = test_support::programScratchDir("orv_fits");
  for (int bitpix : {16, -32, -64}) {
    SCOPED_TRACE(bitpix);
    const std::string file = dir + "large.fits";
    orv::FitsOut out(file);
    out.setBitpixOut(bitpix);
    out << view;
    orv::FitsIn in(file, true);
    const long dataBytes = static_cast<long>(nx) * ny * (std::abs(bitpix) / 8);
    EXPECT_EQ(std::filesystem::file_size(file), in.getDataOffset() + (dataBytes + 2879) / 2880 * 2880);
    orv::MArray<float, 2> read;
    in >> read;
    ASSERT_EQ(read.length(1), nx);
    ASSERT_EQ(read.length(2), ny);
    for (int y = 1; y <= ny; ++y)
      for (int x = 1; x <= nx; ++x) ASSERT_EQ(read(x, y), view(x, y)) << x << "," << y;
  }
}

}  // namespace
