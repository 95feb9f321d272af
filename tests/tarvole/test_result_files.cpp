// Tests the files a run writes: the diagnostic images of each verbosity and their sizes, the
// binned sky, the output error image, the notation of later images, fitsverify on every file,
// and runs whose fit or output fails.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::Image;
using test_support::ScratchDir;

const std::string fit = "-g 32,28 -r 4:60,4:52 -a 5 -i 6 ";

void write_pair(const ScratchDir& dir, int nx = 64, int ny = 56) {
  const auto pair = tarvole_test::galaxy_pair(nx, ny, 32, 28, 6.0, -17);
  orv::writeFitsImage(dir / "ref.fits", pair.R);
  orv::writeFitsImage(dir / "img.fits", pair.I);
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

struct VerbosityCase {
  std::string options;
  std::set<std::string> written;  // besides the inputs
};

std::ostream& operator<<(std::ostream& os, const VerbosityCase& c) { return os << c.options; }

class FilesOfEachVerbosity : public testing::TestWithParam<VerbosityCase> {};

TEST_P(FilesOfEachVerbosity, WritesTheseBesidesTheInputs) {
  const VerbosityCase& c = GetParam();
  ScratchDir dir;
  write_pair(dir);
  std::filesystem::copy_file(dir / "ref.fits", dir / "e.ref.fits");
  std::filesystem::copy_file(dir / "img.fits", dir / "e.img.fits");
  const auto inputs = files_in(dir.path);
  const auto run = tarvole_test::run_tarvole(dir.path, c.options + " " + fit + "ref.fits img.fits");
  ASSERT_EQ(run.status, 0) << run.err;
  std::set<std::string> written;
  for (const std::string& name : files_in(dir.path))
    if (!inputs.count(name)) written.insert(name);
  EXPECT_EQ(written, c.written);
}

INSTANTIATE_TEST_SUITE_P(
    ResultFiles, FilesOfEachVerbosity,
    testing::Values(VerbosityCase{"-v 0", {"bimg.fits"}}, VerbosityCase{"-v 0 -e", {"bimg.fits", "e.bimg.fits"}},
                    VerbosityCase{"-v 1", {"bimg.fits", "sky-bimg.fits"}},
                    VerbosityCase{"-v 2", {"bimg.fits", "sky-bimg.fits", "abs-bimg.fits", "skybinned-bimg.fits"}},
                    VerbosityCase{"-v 3",
                                  {"bimg.fits", "sky-bimg.fits", "abs-bimg.fits", "skybinned-bimg.fits",
                                   "diff-bimg.fits", "ref_new.fits", "e.ref_new.fits", "ima_new-bimg.fits",
                                   "e.ima_new-bimg.fits"}}),
    [](const testing::TestParamInfo<VerbosityCase>& info) { return tarvole_test::case_name(info.param.options); });

// Binned images leave out the last partial blocks; on a plane sky the binned sky is the plane's
// block means minus its centre value, and a block without data holds 0.
TEST(ResultFiles, BinnedImages) {
  ScratchDir dir;
  const auto pair = tarvole_test::galaxy_pair(2050, 2047, 1025, 1020, 100.0, -4);
  Image I = pair.I;
  for (int y = 9; y <= 12; ++y)
    for (int x = 5; x <= 8; ++x) I(x, y) = 0.0f;  // block (2, 3): no data
  orv::writeFitsImage(dir / "ref.fits", pair.R);
  orv::writeFitsImage(dir / "img.fits", I);
  const auto run = tarvole_test::run_tarvole(dir.path, "-v 3 -a 4 -i 200 -g 1025,1020 ref.fits img.fits");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto check = test_support::runPythonIn(dir.path, R"(
import numpy as np
from astropy.io import fits
sb = fits.getdata("skybinned-bimg.fits"); d = fits.getdata("diff-bimg.fits")
S = fits.getdata("sky-bimg.fits").astype(np.float64)
print("shapes", sb.shape == (511, 512), d.shape == (1023, 1025))
want = S[:2044, :2048].reshape(511, 4, 512, 4).mean(axis=(1, 3)) - S[1019, 1024]
want[2, 1] = 0.0
print("empty", sb[2, 1] == 0.0)
print("plane", np.allclose(sb, want, rtol=0, atol=1e-3), np.max(np.abs(sb - want)))
)");
  EXPECT_NE(check.out.find("shapes True True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("empty True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("plane True"), std::string::npos) << check.out;
}

// The output error image holds A*eI with the codes 0 and -1, takes the header of the input error
// image and carries no cards; every file passes fitsverify and reads in astropy, also from
// inputs with CHECKSUM, DATASUM and BLANK. A second image prints its numbers in fixed notation.
TEST(ResultFiles, ErrorImageVerifiedFilesAndNotation) {
  ScratchDir dir;
  write_pair(dir);
  const auto prepare = test_support::runPythonIn(dir.path, R"(
import numpy as np
from astropy.io import fits
R = fits.getdata("ref.fits"); I = fits.getdata("img.fits")
eI = np.sqrt(I)
eI[10, 12] = -1.0; eI[40, 50] = 0.0
h = fits.Header(); h["ERRKEY"] = ("kept", "a card of the error image")
fits.writeto("e.img.fits", eI, h, overwrite=True)
fits.writeto("e.ref.fits", np.sqrt(R), overwrite=True)
# Integer copies with BLANK, CHECKSUM and DATASUM.
for name in ("img2.fits", "e.img2.fits"):
    src = fits.getdata(name.replace("2", ""))
    hdu = fits.PrimaryHDU(np.round(src * 10).astype(np.int16))
    hdu.header["BSCALE"] = 0.1; hdu.header["BZERO"] = 0.0; hdu.header["BLANK"] = -32768
    hdu.data = np.round(src * 10).astype(np.int16)
    hdu.writeto(name, checksum=True, overwrite=True, output_verify="silentfix")
print("ok")
)");
  ASSERT_NE(prepare.out.find("ok"), std::string::npos) << prepare.out;
  const auto run = tarvole_test::run_tarvole(dir.path, "-e -v 3 " + fit + "ref.fits img.fits img2.fits");
  ASSERT_EQ(run.status, 0) << run.err;

  const auto check = test_support::runPythonIn(dir.path, R"(
import numpy as np
from astropy.io import fits
e = fits.getdata("e.img.fits"); A = fits.getdata("abs-bimg.fits"); out = fits.getdata("e.bimg.fits")
h = fits.getheader("e.bimg.fits")
print("codes", out[10, 12] == -1.0, out[40, 50] == 0.0)
good = (out > 0)
print("scaled", np.allclose(out[good], (A * e)[good], rtol=1e-6))
print("header", h.get("ERRKEY") == "kept", "ABSORP" not in h, "HISTORY" not in h)
)");
  EXPECT_NE(check.out.find("codes True True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("scaled True"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("header True True True"), std::string::npos) << check.out;

  for (const std::string& name : files_in(dir.path)) {
    if (name.find("bimg") == std::string::npos && name.find("ref_new") == std::string::npos) continue;
    std::string report;
    test_support::fitsverifyReport(dir / name, &report);
    EXPECT_NE(report.find("found 0 warning(s) and 0 error(s)"), std::string::npos) << name << "\n" << report;
  }
  const auto astropy = test_support::runPythonIn(dir.path, R"(
import glob
from astropy.io import fits
for name in sorted(glob.glob("*bimg*.fits") + glob.glob("*ref_new.fits")):
    fits.getdata(name); print("read", name)
)");
  EXPECT_EQ(astropy.status, 0) << astropy.out;

  // The second image's block of results is in fixed notation with 5 decimals.
  const std::size_t second = run.out.find("img2.fits\n");
  ASSERT_NE(second, std::string::npos);
  const std::string later = run.out.substr(second);
  const auto [value, error] = tarvole_test::value_and_error(later, " sky grad x: ");
  EXPECT_TRUE(tarvole_test::fixed_with_decimals(value, 5)) << value;
  EXPECT_TRUE(tarvole_test::fixed_with_decimals(error, 5)) << error;
}

struct FailureCase {
  const char* what;
  void (*setup)(const ScratchDir& dir);
  const char* err;
  const char* written;  // a file that must be written and pass fitsverify, or null (then no bimg.fits)
};

std::ostream& operator<<(std::ostream& os, const FailureCase& c) { return os << c.what; }

class ResultFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(ResultFailures, EndWithStatusOne) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  c.setup(dir);
  const auto run = tarvole_test::run_tarvole(dir.path, fit + "ref.fits img.fits");
  EXPECT_EQ(run.status, 1);
  if (c.err) {
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  if (c.written) {
    std::string report;
    test_support::fitsverifyReport(dir / c.written, &report);
    EXPECT_NE(report.find("found 0 warning(s) and 0 error(s)"), std::string::npos) << report;
    for (const std::string& card : tarvole_test::header_cards(dir / c.written))
      EXPECT_EQ(card.find("nan"), std::string::npos) << card;
  } else {
    EXPECT_FALSE(std::filesystem::is_regular_file(dir / "bimg.fits"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    ResultFiles, ResultFailures,
    testing::Values(
        FailureCase{"flat images: every box without scatter",
                    [](const ScratchDir& d) {
                      Image flat(64, 56);
                      flat = 100.0f;
                      orv::writeFitsImage(d / "ref.fits", flat);
                      orv::writeFitsImage(d / "img.fits", flat);
                    },
                    "img.fits: fewer sampling points with a weight (0) than fitted coefficients (4), no output "
                    "written\n",
                    nullptr},
        FailureCase{"output name taken by a directory",
                    [](const ScratchDir& d) {
                      write_pair(d);
                      std::filesystem::create_directory(d / "bimg.fits");
                    },
                    "cannot write 'bimg.fits': it is a directory", nullptr}),
    [](const testing::TestParamInfo<FailureCase>& info) { return tarvole_test::case_name(info.param.what); });

}  // namespace
