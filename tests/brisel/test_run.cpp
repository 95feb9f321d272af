// Runs of the overlap cutter on small astropy images: frame, cut data and world coordinates
// against astropy (Cutout2D, WCS), output BITPIX and cards, "common.part", warnings, and
// fitsverify on every output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <set>

#include "brisel/brisel_run.h"
#include "tests/brisel/brisel_fixtures.h"
#include "tests/support/program_run.h"

namespace {

using brisel_test::TestImage;

// An image expected in the frame with its pixel (1, 1) at frame pixel (xstart, ystart).
struct Placement {
  int xstart, ystart;
};

struct Case {
  std::string name;
  std::vector<TestImage> images;
  std::vector<std::string> options;
  int width, height;                  // of the frame
  std::vector<Placement> placements;  // one per image
  std::string region;                 // the contents of "common.part"; empty: the images share no
                                      // region, the run ends with 1 and leaves no such file
  std::string warnings;               // standard error
  bool garbageErrorImages = false;    // "e."+F files that are no FITS files lie beside the inputs
};

TestImage image(const std::string& name, double crpix1, double crpix2, int bitpix = -32, double bzero = 0,
                int errorBitpix = 0, std::string cards = "") {
  TestImage t;
  t.name = name;
  t.crpix1 = crpix1;
  t.crpix2 = crpix2;
  t.bitpix = bitpix;
  t.bzero = bzero;
  t.errorBitpix = errorBitpix;
  t.cards = std::move(cards);
  return t;
}

TestImage scaled(TestImage t, double bscale) {
  t.bscale = bscale;
  return t;
}

TestImage withBlanks(TestImage t, long blank, std::optional<long> errorBlank = std::nullopt) {
  t.blank = blank;
  t.errorBlank = errorBlank;
  return t;
}

TestImage sized(TestImage t, int nx, int ny) {
  t.nx = nx;
  t.ny = ny;
  return t;
}

const char crvalWarning[] =
    "Warning: CRVAL1/CRVAL2 differ between images; the frame is placed by CRPIX alone!\n";
// Long strings continued over CONTINUE cards, one with '&' inside and a comment at its end, one
// over three cards, between short strings with comments.
const char longStringCards[] =
    "\"OBJECT\": [\"A field whose name is long enough to need more than one card & an ampersand & "
    "some more words\", \"the target\"], \"FILTNAME\": [\"R\", \"filter\"], "
    "\"NOTE\": \"Seeing 1.2 arcsec, thin clouds from the west after midnight, the dome closed twice "
    "for wind; flats taken at dawn in R and V, darks at the end of the night.\", "
    "\"OBSERVER\": [\"someone\", \"who\"]";
const char cdeltCards[] =
    "\"CD1_1\": null, \"CD1_2\": null, \"CD2_1\": null, \"CD2_2\": null, "
    "\"CDELT1\": -1e-4, \"CDELT2\": 1e-4";

std::vector<Case> cases() {
  const TestImage a = image("a.fits", 50, 50);
  return {
      // One image is its own frame; the region is the central half of it.
      {"one image", {sized(image("a.fits", 50, 50, 16), 120, 90)}, {}, 120, 90, {{1, 1}}, "30:91,23:68", ""},
      // The second image 10 columns further right on the sky is cut on the left and padded on
      // the right; error images are neither read nor written without --error.
      {"shift by 10 columns",
       {a, image("b.fits", 60, 50)},
       {},
       100,
       100,
       {{1, 1}, {-9, 1}},
       "23:68,25:76",
       "",
       true},
      {"border has no effect",
       {a, image("b.fits", 60, 50)},
       {"-b", "7"},
       100,
       100,
       {{1, 1}, {-9, 1}},
       "23:68,25:76",
       ""},
      {"expand holds both whole",
       {a, image("b.fits", 60, 50)},
       {"-e"},
       110,
       100,
       {{11, 1}, {1, 1}},
       "33:78,25:76",
       ""},
      // Integer images with float and integer error images, unsigned 16-bit among them.
      {"error images expanded",
       {image("a.fits", 50, 50, 16, 0, -32), image("b.fits", 60, 50, 16, 32768, 16)},
       {"--error", "-e", "-p", "x_"},
       110,
       100,
       {{11, 1}, {1, 1}},
       "33:78,25:76",
       ""},
      // An image wholly below the frame is all zeros and leaves the box alone.
      {"image outside the frame",
       {a, image("b.fits", 50, 250)},
       {},
       100,
       100,
       {{1, 1}, {1, -199}},
       "25:76,25:76",
       ""},
      {"CDELT stands for missing CD cards",
       {a, image("b.fits", 45, 52, -32, 0, 0, cdeltCards)},
       {},
       100,
       100,
       {{1, 1}, {6, -1}},
       "29:77,25:74",
       ""},
      // Fractional reference pixels place by their truncation; the cards keep the fraction.
      {"fractional CRPIX",
       {image("a.fits", 55.4, 52.7, 8, 0, -32), image("b.fits", 65.9, 50.2, 32, 0, 16)},
       {"--error"},
       100,
       100,
       {{1, 1}, {-9, 3}},
       "23:68,27:76",
       ""},
      {"fractional CRPIX expanded",
       {image("a.fits", 55.4, 52.7), image("b.fits", 65.9, 50.2)},
       {"-e"},
       110,
       102,
       {{11, 1}, {1, 3}},
       "33:78,27:76",
       ""},
      // A negative reference pixel truncates toward zero too: -20.7 places at 50 - (-20) + 1.
      {"negative fractional CRPIX",
       {a, image("b.fits", -20.7, 50)},
       {},
       100,
       100,
       {{1, 1}, {71, 1}},
       "78:93,25:76",
       "Warning: overlapping region in all images is small( 29, 99 )!\n"},
      // Every value of every type reaches the frame exactly: the stored values of unscaled
      // inputs, the physical values of scaled ones, error images too.
      {"every BITPIX keeps its values",
       {image("u8.fits", 50, 50, 8, 0, -64), image("i16.fits", 55, 50, 16, 0, 32),
        image("i32.fits", 45, 50, 32, 0, -32), image("f32.fits", 50, 45, -32, 0, 8),
        image("f64.fits", 50, 55, -64, 0, 16), image("u16.fits", 50, 50, 16, 32768, -32),
        scaled(image("half16.fits", 50, 50, 16, 0, -32), 0.5),
        image("u32.fits", 50, 50, 32, 2147483648.0, -32),
        scaled(image("half32.fits", 50, 50, 32, -3, -64), 0.5), image("s8.fits", 50, 50, 8, -128, 16)},
       {"--error", "-e"},
       110,
       110,
       {{6, 6}, {1, 6}, {11, 6}, {6, 11}, {6, 1}, {6, 6}, {6, 6}, {6, 6}, {6, 6}, {6, 6}},
       "33:78,33:78",
       ""},
      // A CD matrix without its off-diagonal terms: they read as 0.
      {"CD without off-diagonal terms",
       {a, image("b.fits", 60, 50, -32, 0, 0, "\"CD1_2\": null, \"CD2_1\": null")},
       {},
       100,
       100,
       {{1, 1}, {-9, 1}},
       "23:68,25:76",
       ""},
      {"CRVAL differs",
       {a, image("b.fits", 60, 50, -32, 0, 0, "\"CRVAL1\": 150.01")},
       {},
       100,
       100,
       {{1, 1}, {-9, 1}},
       "23:68,25:76",
       crvalWarning},
      // Long strings keep their CONTINUE cards right after the card they continue, also in a
      // scaled integer image, whose scaling cards go.
      {"long strings",
       {image("a.fits", 50, 50, 16, 32768, 0, longStringCards), image("b.fits", 60, 50)},
       {},
       100,
       100,
       {{1, 1}, {-9, 1}},
       "23:68,25:76",
       ""},
      // Undefined pixels of integer images stay undefined where they fall in the frame: the
      // BLANK value in an integer cut, NaN in the float cut of a scaled image (whole-number
      // and real scaling); padding is 0.
      {"blank pixels",
       {withBlanks(image("i16.fits", 50, 50, 16, 0, 16), -32768, 7),
        withBlanks(image("u16.fits", 55, 50, 16, 32768, -32), -32768),
        withBlanks(image("i32.fits", 45, 52, 32, 0, 32), -999, -2147483648L),
        withBlanks(image("u32.fits", 50, 47, 32, 2147483648.0, -32), 12345),
        withBlanks(scaled(image("s8.fits", 47, 53, 8, 10, 8), 0.5), 255, 200)},
       {"--error"},
       100,
       100,
       {{1, 1}, {-4, 1}, {6, -1}, {1, 4}, {4, -2}},
       "28:73,27:74",
       ""},
      // The overlap width and height are differences: images that share one column (w = 0), or
      // one pixel (w = h = 0), overlap.
      {"images sharing one column",
       {a, image("b.fits", 149, 50)},
       {},
       100,
       100,
       {{1, 1}, {-98, 1}},
       "1:1,25:76",
       "Warning: overlapping region in all images is small( 0, 99 )!\n"},
      {"images sharing one corner pixel",
       {a, image("b.fits", 149, 149)},
       {"-e"},
       199,
       199,
       {{100, 100}, {1, 1}},
       "100:100,100:100",
       "Warning: overlapping region in all images is small( 0, 0 )!\n"},
      // Tiles side by side share no column (w = -1) but make a mosaic, which is written.
      {"tiles side by side expanded",
       {a, image("b.fits", 150, 50)},
       {"-e"},
       200,
       100,
       {{101, 1}, {1, 1}},
       "",
       "Error: the images have no region in common( -1, 99 )!\n"},
  };
}

std::string optionValue(const std::vector<std::string>& options, const std::string& name,
                        std::string fallback) {
  for (size_t i = 0; i + 1 < options.size(); ++i)
    if (options[i] == name) return options[i + 1];
  return fallback;
}

bool hasFlag(const std::vector<std::string>& options, const std::string& name) {
  for (const std::string& option : options)
    if (option == name) return true;
  return false;
}

// The expectations of the astropy check as JSON.
std::string expectationJson(const Case& c, const std::string& prefix, bool withError) {
  std::string json =
      "{\"frame\": [" + std::to_string(c.width) + ", " + std::to_string(c.height) + "], \"images\": [";
  for (size_t i = 0; i < c.images.size(); ++i) {
    json += (i ? ", " : "") + std::string("{\"name\": \"") + c.images[i].name + "\", \"out\": \"" + prefix +
            c.images[i].name + "\", \"start\": [" + std::to_string(c.placements[i].xstart) + ", " +
            std::to_string(c.placements[i].ystart) + "], \"error\": " + (withError ? "true" : "false") + "}";
  }
  return json + "]}";
}

// Runs the cutter in dir without the wait, in this process: the program waits two seconds
// after each image, which a table of many cases cannot afford.
test_support::RunResult runIn(const std::string& dir, std::vector<std::string> args) {
  std::vector<char*> argv;
  args.insert(args.begin(), "brisel");
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string before = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  test_support::RunResult run;
  run.status = brisel_run(static_cast<int>(args.size()), argv.data(), 0);
  run.out = testing::internal::GetCapturedStdout();
  run.err = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(before);
  return run;
}

// Written into a test name by gtest.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class BriselRun : public brisel_test::ImageCaseTable<Case, cases> {};

// Runs one case in its directory: status, messages, the region, the files written, fitsverify,
// and the cut images against astropy.
TEST_P(BriselRun, CutsEveryImageToTheCommonFrame) {
  const Case& c = GetParam();
  const std::string dir = scratch + brisel_test::caseName(c.name);
  if (c.garbageErrorImages)
    for (const TestImage& t : c.images) test_support::writeText(dir + "/e." + t.name, "no FITS file");
  const auto inputs = brisel_test::snapshot(dir);

  std::vector<std::string> args = c.options;
  for (const TestImage& t : c.images) args.push_back(t.name);
  const test_support::RunResult run = runIn(dir, args);
  const bool commonRegion = !c.region.empty();
  ASSERT_EQ(run.status, commonRegion ? 0 : 1) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, c.warnings);
  if (commonRegion)
    EXPECT_EQ(test_support::readText(dir + "/common.part"), c.region);
  else
    EXPECT_FALSE(std::filesystem::exists(dir + "/common.part"));

  // Inputs unchanged; the outputs, and nothing else, beside them.
  const std::string prefix = optionValue(c.options, "-p", "cut_");
  const bool withError = hasFlag(c.options, "--error");
  std::set<std::string> expected;
  if (commonRegion) expected.insert("common.part");
  for (const TestImage& t : c.images) {
    expected.insert(prefix + t.name);
    if (withError) expected.insert("e." + prefix + t.name);
  }
  EXPECT_EQ(brisel_test::changedFiles(inputs, brisel_test::snapshot(dir)), expected);
  for (const std::string& name : expected) {
    if (name != "common.part") {
      EXPECT_EQ(test_support::fitsverifyVerdict(dir + "/" + name), "clean") << name;
    }
  }

  std::string report;
  const std::string expectation =
      "{\"" + brisel_test::caseName(c.name) + "\": " + expectationJson(c, prefix, withError) + "}";
  EXPECT_EQ(brisel_test::runImageScript("check", scratch, expectation, &report), 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Cases, BriselRun, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return brisel_test::caseName(info.param.name);
                         });

}  // namespace
