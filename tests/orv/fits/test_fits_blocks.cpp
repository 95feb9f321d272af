// The free reading and writing building blocks on a small BITPIX 16 image, each checked
// against a hand loop over the raw values, and the accessors of the readers that the
// stream operators do not reach: getHeader and the extension reader's counters.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

namespace {

using fits_test::intCard;

constexpr int kNx = 5;
constexpr int kNy = 4;

// Raw values of the image, small enough that every scaling below fits a short.
short rawValue(int x, int y) { return static_cast<short>((x * 37 + y * 101) % 400 - 200); }

// A BITPIX 16 image of kNx x kNy with the raw values above, big-endian, and an OBJECT card.
std::string writeImage(const std::string& dir) {
  std::vector<unsigned char> bytes =
      fits_test::headerBytes({"SIMPLE  =                    T", intCard("BITPIX", 16), intCard("NAXIS", 2),
                              intCard("NAXIS1", kNx), intCard("NAXIS2", kNy), "OBJECT  = 'blocks  '"});
  for (int y = 1; y <= kNy; ++y) {
    for (int x = 1; x <= kNx; ++x) {
      const auto raw = static_cast<unsigned short>(rawValue(x, y));
      bytes.push_back(static_cast<unsigned char>(raw >> 8));
      bytes.push_back(static_cast<unsigned char>(raw & 0xFF));
    }
  }
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, 0);
  const std::string file = dir + "blocks.fits";
  fits_test::writeBytes(file, bytes);
  return file;
}

util::Region box(int x1, int x2, int y1, int y2) {
  util::Region r(2);
  r.setRange(1, x1, x2);
  r.setRange(2, y1, y2);
  return r;
}

// The raw values of a box in file order (x fastest), scaled by the hand formula.
std::vector<double> expected(const util::Region& r, const std::function<double(short)>& scale) {
  std::vector<double> values;
  for (int y = r.getStart(2); y <= r.getEnd(2); ++y)
    for (int x = r.getStart(1); x <= r.getEnd(1); ++x) values.push_back(scale(rawValue(x, y)));
  return values;
}

template <class T>
std::vector<double> fromBuffer(T* buffer, long n) {
  std::unique_ptr<T[]> owned(buffer);
  return std::vector<double>(owned.get(), owned.get() + n);
}

template <class T, int N>
std::vector<double> fromArray(const orv::MArray<T, N>& a) {
  return std::vector<double>(a.firstElement(), a.firstElement() + a.numElements());
}

TEST(FitsBlocks, FreeReadersAndWriterOnABitpix16Image) {
  const std::string file = writeImage(test_support::programScratchDir("orv_fits"));
  orv::FitsIn in(file, true);
  unsigned char* data = in.begin();
  const unsigned long length = static_cast<unsigned long>(in.getDataLength());
  const util::Region full = in.getFullRegion();
  const util::Region part = box(2, 4, 2, 3);
  using DoubleIter = orv::MArrayIter<double, 1>;

  auto plain = [](short raw) { return double(raw); };
  auto whole = [](short raw) { return double(raw * 2 - 3); };  // in int, BSCALE 2, BZERO -3
  auto real = [](short raw) { return raw * 0.5 + 10.0; };      // in double, BSCALE 0.5, BZERO 10
  struct Case {
    const char* what;
    std::function<std::vector<double>()> read;
    std::vector<double> want;
  };
  const Case cases[] = {
      {"getDataArray float plain",
       [&] { return fromBuffer(orv::getDataArray<float, 16>(data, length, 1.0, 0.0), kNx * kNy); },
       expected(full, plain)},
      {"getDataArray double real",
       [&] { return fromBuffer(orv::getDataArray<double, 16>(data, length, 0.5, 10.0), kNx * kNy); },
       expected(full, real)},
      {"getRegionArray short whole",
       [&] { return fromBuffer(orv::getRegionArray<short, 16>(data, full, part, 2.0, -3.0), 6); },
       expected(part, whole)},
      {"readDataArray double whole",
       [&] {
         orv::MArray<double, 1> a(kNx * kNy);
         orv::readDataArray<DoubleIter, 16>(DoubleIter(a), data, length, 2.0, -3.0);
         return fromArray(a);
       },
       expected(full, whole)},
      {"readRegionArray float real",
       [&] {
         orv::MArray<float, 2> a(3, 2);
         orv::readRegionArray<orv::MArrayIter<float, 2>, 16>(orv::MArrayIter<float, 2>(a), data, full, part,
                                                             0.5, 10.0);
         return fromArray(a);
       },
       expected(part, real)},
      {"readIData plain",
       [&] {
         orv::MArray<double, 1> a(kNx * kNy);
         DoubleIter it(a);
         orv::readIData<DoubleIter, 16>(it, data, length);
         return fromArray(a);
       },
       expected(full, plain)},
      {"readIData whole",
       [&] {
         orv::MArray<double, 1> a(kNx * kNy);
         DoubleIter it(a);
         orv::readIData<DoubleIter, 16>(it, data, length, 2, -3);
         return fromArray(a);
       },
       expected(full, whole)},
      {"readIData real",
       [&] {
         orv::MArray<double, 1> a(kNx * kNy);
         DoubleIter it(a);
         orv::readIData<DoubleIter, 16>(it, data, length, 0.5, 10.0);
         return fromArray(a);
       },
       expected(full, real)},
      {"writeRegionArray then getDataArray",
       [&] {
         // Written into a copy of the segment: the box's elements change, no other does.
         std::vector<unsigned char> copy(data, data + length);
         orv::MArray<double, 2> a(3, 2);
         for (int k = 0; k < 6; ++k) a.firstElement()[k] = 1000.0 + k + 0.75;  // truncated on the way
         orv::writeRegionArray<orv::MArrayIter<double, 2>, 16>(copy.data(), orv::MArrayIter<double, 2>(a),
                                                               full, part);
         return fromBuffer(orv::getDataArray<int, 16>(copy.data(), length, 1.0, 0.0), kNx * kNy);
       },
       [&] {
         std::vector<double> want = expected(full, plain);
         int k = 0;
         for (int y = 2; y <= 3; ++y)
           for (int x = 2; x <= 4; ++x) want[(y - 1) * kNx + (x - 1)] = 1000 + k++;
         return want;
       }()},
  };
  for (const Case& c : cases) EXPECT_EQ(c.read(), c.want) << c.what;
}

TEST(FitsBlocks, HeaderAndExtensionCounters) {
  // getHeader reads the header at the start of the file again, also for an extension.
  const std::string file = writeImage(test_support::programScratchDir("orv_fits"));
  const orv::FitsHeader header = orv::FitsIn(file, true).getHeader();
  EXPECT_EQ(header.getNaxis(1), kNx);
  EXPECT_EQ(header.getString("OBJECT  "), "blocks");

  orv::FitsExtensionIn in(fits_test::imageFixtures() + "img_ext.fits", true);
  EXPECT_TRUE(in.getPrimary());
  const orv::FitsIn image = in.getExtension(1);
  EXPECT_EQ(image.getNaxis(), 2);
  EXPECT_EQ(image.getHeader().getNaxis(), 0);  // the primary header
  in.unsetPrimary();
  EXPECT_FALSE(in.getPrimary());
  EXPECT_EQ(in.getExtNo(), 1u);
  in.resetExtNo();
  EXPECT_TRUE(in.getPrimary());
  EXPECT_EQ(in.getExtNo(), 0u);
  EXPECT_EQ(in.getNextExtension().getNaxis(1), image.getNaxis(1));  // extension 1 again
  EXPECT_EQ(in.getExtNo(), 1u);
}

}  // namespace
