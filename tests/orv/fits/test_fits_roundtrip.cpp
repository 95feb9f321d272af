// Round trip: what the writer writes, the reader reads back identically, for every element
// type with every BITPIX that holds its values exactly; cfitsio's fitscopy rewrites the files.
#include <gtest/gtest.h>

#include <random>

#include "orv/fits/fits.h"
#include "tests/orv/fits/test_fits_in_support.h"

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
  const std::string dir = fits_test::makeScratchDir();
  std::mt19937_64 rng(20261210);
  for (const Case& c : cases) {
    const std::string name = std::string(c.type) + std::to_string(c.rank) + "_" + std::to_string(c.bitpix);
    SCOPED_TRACE(name);
    const std::string file = dir + "/" + name + ".fits";
    const std::string type = c.type;
    if (type == "float") roundTrip<float, 2>(file, c.bitpix, c.domain, rng);
    if (type == "double" && c.rank == 1) roundTrip<double, 1>(file, c.bitpix, c.domain, rng);
    if (type == "double" && c.rank == 2) roundTrip<double, 2>(file, c.bitpix, c.domain, rng);
    if (type == "short") roundTrip<short, 2>(file, c.bitpix, c.domain, rng);
    if (type == "int") roundTrip<int, 2>(file, c.bitpix, c.domain, rng);
    std::string output;
    EXPECT_EQ(fits_test::runCommand("fitscopy " + file + " '!" + dir + "/copy.fits'", &output), 0) << output;
    EXPECT_EQ(output, "");
  }
}

}  // namespace
