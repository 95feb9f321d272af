// Damaged input: truncated files and headers with insane sizes give a FitsException, never a
// signal or a read outside the file.
#include <gtest/gtest.h>

#include "orv/fits/fits.h"
#include "tests/orv/fits/fits_fixtures.h"

using fits_test::imageFixtures;
using fits_test::intCard;

namespace {

// Opens the file and reads its image into a float array of rank N; returns the message of
// the FitsException thrown on the way, or "" when everything was read.
template <int N>
std::string readAll(const std::string& file) {
  return test_support::messageOf<orv::FitsException>([&] {
    orv::FitsIn in(file, true);
    orv::MArray<float, N> a;
    in >> a;
  });
}

TEST(FitsInRobust, TruncatedFilesAreRefused) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  for (const char* fixture : {"img_f32.fits", "img_many.fits"}) {
    const std::string source = imageFixtures() + fixture;
    const std::vector<unsigned char> whole = fits_test::readBytes(source);
    orv::FitsIn complete(source, true);
    const long headerEnd = complete.getDataOffset();
    const long dataEnd = headerEnd + complete.getDataLength();  // padding excluded
    for (long cut : {0L, 1L, 79L, 80L, 1000L, 2879L, 2880L, 2881L, 3001L, headerEnd - 1, headerEnd,
                     headerEnd + 1, dataEnd - 1, dataEnd, dataEnd + 1, static_cast<long>(whole.size()) - 1}) {
      SCOPED_TRACE(std::string(fixture) + " cut at " + std::to_string(cut));
      const std::string file = dir + "cut.fits";
      fits_test::writeBytes(file, std::vector<unsigned char>(whole.begin(), whole.begin() + cut));
      const std::string message = complete.getNaxis() == 3 ? readAll<3>(file) : readAll<2>(file);
      if (cut >= dataEnd) {
        EXPECT_EQ(message, "");
      } else {
        EXPECT_NE(message, "");
      }
      if (cut >= headerEnd && cut < dataEnd) {
        EXPECT_NE(message.find("is truncated"), std::string::npos) << message;
      }
    }
  }
}

TEST(FitsInRobust, InsaneSizesAreRefusedWithoutTouchingTheFile) {
  struct Case {
    const char* name;
    std::vector<std::string> cards;
  };
  const std::string simple = "SIMPLE  =                    T";
  const Case cases[] = {
      {"huge axes",
       {simple, intCard("BITPIX", -64), intCard("NAXIS", 2), intCard("NAXIS1", 2147483647),
        intCard("NAXIS2", 2147483647)}},
      {"axis above int", {simple, intCard("BITPIX", 8), intCard("NAXIS", 1), intCard("NAXIS1", 4294967296L)}},
      {"negative axis", {simple, intCard("BITPIX", 8), intCard("NAXIS", 1), intCard("NAXIS1", -5)}},
      {"product overflows",
       {simple, intCard("BITPIX", 16), intCard("NAXIS", 3), intCard("NAXIS1", 2000000000),
        intCard("NAXIS2", 2000000000), intCard("NAXIS3", 2000000000)}},
      {"negative PCOUNT",
       {simple, intCard("BITPIX", 8), intCard("NAXIS", 1), intCard("NAXIS1", 10), intCard("PCOUNT", -100)}},
      {"GCOUNT 0",
       {simple, intCard("BITPIX", 8), intCard("NAXIS", 1), intCard("NAXIS1", 10), intCard("GCOUNT", 0)}},
      {"huge PCOUNT",
       {simple, intCard("BITPIX", 8), intCard("NAXIS", 1), intCard("NAXIS1", 10),
        intCard("PCOUNT", 2000000000)}},
      {"data missing", {simple, intCard("BITPIX", 32), intCard("NAXIS", 1), intCard("NAXIS1", 100000)}},
  };
  const std::string dir = test_support::programScratchDir("orv_fits");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes = fits_test::headerBytes(c.cards);
    bytes.resize(bytes.size() + 2880, 0);  // one record of data, far too little for any of them
    fits_test::writeBytes(dir + "bad.fits", bytes);
    EXPECT_NE(readAll<1>(dir + "bad.fits"), "");
    EXPECT_NE(readAll<2>(dir + "bad.fits"), "");
  }
}

TEST(FitsInRobust, HeaderOfAnImageTooLargeForAnArrayCanBeRead) {
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> bytes =
      fits_test::headerBytes({"SIMPLE  =                    T", intCard("BITPIX", 8), intCard("NAXIS", 2),
                              intCard("NAXIS1", 100000), intCard("NAXIS2", 100000)});
  fits_test::writeBytes(dir + "large.fits", bytes);
  orv::FitsIn in(dir + "large.fits", true);
  EXPECT_EQ(in.getNaxis(2), 100000);
  EXPECT_EQ(in.getDataLength(), 10000000000L);
  orv::MArray<float, 2> a;
  EXPECT_THROW(in >> a, orv::FitsException);     // 10^10 elements: no array can hold them
  EXPECT_THROW(in.begin(), orv::FitsException);  // and the file does not hold them either
}

TEST(FitsInRobust, GroupCountsOfAnImageDoNotOverrunTheArray) {
  // PCOUNT and GCOUNT make the data segment longer than the image: reads still move only the
  // image's 2 x 2 elements.
  const std::string dir = test_support::programScratchDir("orv_fits");
  std::vector<unsigned char> bytes = fits_test::headerBytes(
      {"SIMPLE  =                    T", intCard("BITPIX", 8), intCard("NAXIS", 2), intCard("NAXIS1", 2),
       intCard("NAXIS2", 2), intCard("PCOUNT", 3), intCard("GCOUNT", 2)});
  for (unsigned char v = 1; v <= 14; ++v) bytes.push_back(v);
  bytes.resize(5760, 0);
  fits_test::writeBytes(dir + "groups.fits", bytes);
  orv::FitsIn in(dir + "groups.fits", true);
  ASSERT_EQ(in.getDataLength(), 14);
  orv::MArray<float, 2> fresh;
  in >> fresh;
  orv::MArray<float, 2> sized(2, 2);
  in >> sized;
  for (const orv::MArray<float, 2>* a : {&fresh, &sized}) {
    ASSERT_EQ(a->numElements(), 4);
    EXPECT_EQ(a->firstElement()[0], 1.0f);
    EXPECT_EQ(a->firstElement()[3], 4.0f);
  }
}

}  // namespace
