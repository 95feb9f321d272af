// Tests the reference step: modified reference, masks, basis-convolved references on disk
// and in memory, against independent numpy/scipy evaluations, fitsverify and astropy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "tests/dia/dia_fixtures.h"

namespace {

using dia_test::Model;
using Image = orv::MArray<float, 2>;

using dia_test::region;

std::string ccName(int q) {
  char name[32];
  std::snprintf(name, sizeof name, "cc%4.4i.fits", q);
  return name;
}

Model smallModel(std::vector<int> d, int bg, int ko = 0) {
  Model m;
  m.d = d;
  m.sig.assign(d.size(), 1.5);
  m.half[0] = m.half[1] = 2;
  m.bg_order = bg;
  m.kern_order = ko;
  return m;
}

TEST(DiaReference, SkyModelProductsMatchScipy) {
  const std::string dir = test_support::programScratchDir("sky_products");
  dia_test::StarField field(200, 240);
  std::unique_ptr<diffima> e(dia_test::makeEngine(Model{}, dir));
  util::Region whole = region(0, 0, 0, 0);
  ASSERT_EQ(e->calc_reference(field.image, field.error, whole, 0, ""), 0);
  EXPECT_EQ(e->mx0, 18);
  EXPECT_EQ(e->mx1, 183);
  EXPECT_EQ(e->my0, 18);
  EXPECT_EQ(e->my1, 223);
  EXPECT_EQ(e->numberofstamps, 1);
  const std::set<std::string> files = test_support::namesIn(dir);
  EXPECT_EQ(files.size(), 106u);
  for (const char* name :
       {"image_r.fits", "e2.image_r.fits", "rmask_calc.fits", "rmask_conv.fits", "e.rmask_conv.fits",
        "bb0000.fits", "cc0001.fits", "cc0050.fits", "e2.cc0050.fits"})
    EXPECT_TRUE(files.count(name)) << name;
  std::string all;
  for (const std::string& name : files) all += dir + name + " ";
  EXPECT_EQ(dia_test::fitsverifyCleanCount(all), 106);

  const std::string script = std::string(dia_test::pythonBasis()) + "D='" + dir + "'\n" + R"(
import glob, os
from astropy.io import fits
from scipy import signal
B=basis([6,4,2,0],[1.0,3.0,9.0,0.1],17,17,0,1,1)
img=fits.getdata(D+'image_r.fits').astype(float)
e2=fits.getdata(D+'e2.image_r.fits').astype(float)
conv=fits.getdata(D+'rmask_conv.fits')
box=(slice(17,223),slice(17,183))
trim=np.zeros_like(img); trim[box]=img[box]
e2trim=np.zeros_like(e2); e2trim[box]=e2[box]
valid=np.zeros(img.shape,bool); valid[34:206,34:166]=True; valid&=(conv==1)
bad=[]
for f in sorted(glob.glob(D+'*.fits')):
  h=fits.open(f)[0]
  mask=os.path.basename(f) in ('rmask_calc.fits','rmask_conv.fits','e.rmask_conv.fits')
  if h.data.shape!=(240,200) or h.header['BITPIX']!=(16 if mask else -32): bad.append('shape '+f)
bb=fits.getdata(D+'bb0000.fits')
if not ((bb==np.where(valid,1,0)).all()): bad.append('bb0000')
worst=0
for q,b in enumerate(B):
  for name,src,ker in (('cc',trim,b),('e2.cc',e2trim,b*b)):
    f=fits.getdata(D+'%s%04d.fits'%(name,q+1)).astype(float)
    ref=np.where(valid,signal.correlate(src,ker,mode='same',method='fft'),0.0)
    worst=max(worst,np.abs(f-ref).max()/np.abs(f).max())
    if (f[~valid]!=0).any(): bad.append('outside '+name+str(q+1))
print(worst, len(bad), bad[:5])
)";
  const std::vector<std::string> words = [&] {
    std::istringstream in(test_support::runPython(script).out);
    std::vector<std::string> w;
    std::string s;
    while (in >> s) w.push_back(s);
    return w;
  }();
  ASSERT_GE(words.size(), 2u) << test_support::runPython(script).out;
  EXPECT_LE(std::stod(words[0]), 1e-5);
  EXPECT_EQ(words[1], "0") << words.size();
  std::filesystem::remove_all(dir);
}

// The rules of the modified reference and the masks, written independently in numpy: reads
// ref.fits, eref.fits (and mask.fits) from D and compares every product.
const char* pythonMasks = R"(
ref=fits.getdata(D+'ref.fits').astype(np.float32); eref=fits.getdata(D+'eref.fits').astype(np.float32)
ny,nx=ref.shape
def clip(m0,m1,first,last,h):
  if m0==0 or m0-h<first: b0,m0=first,first+h
  else: b0=m0-h
  if m1==0 or m1+h>last: b1,m1=last,last-h
  else: b1=m1+h
  return m0,m1,b0,b1
mx0,mx1,bx0,bx1=clip(RX0,RX1,1,nx,H); my0,my1,by0,by1=clip(RY0,RY1,1,ny,H)
B=np.zeros(ref.shape,bool); B[by0-1:by1,bx0-1:bx1]=True
M=np.zeros(ref.shape,bool); M[my0-1:my1,mx0-1:mx1]=True
with np.errstate(invalid='ignore',over='ignore'):
  fin=np.isfinite(ref)&np.isfinite(eref)
  img=np.where(B&fin&(ref!=0)&((eref>0)|((eref==0)&KEEP)),ref,np.float32(0)).astype(np.float32)
  e2=np.where(B&fin&(ref!=0)&(eref>0),(eref.astype(float)**2).astype(np.float32),np.float32(0))
  e2=np.where(B&(eref==-1),np.float32(-1),e2).astype(np.float32)
  img=np.where(B&(eref==-1),np.float32(0),img)
if SCALE>0:
  img=np.where(img!=0,img*np.float32(SCALE),img).astype(np.float32)
  e2=np.where(e2>0,(e2.astype(float)*SCALE*SCALE).astype(np.float32),e2)
if K>0:
  Y,X=np.mgrid[-K:K+1,-K:K+1]
  cut=ndimage.binary_dilation(B&(e2==-1),structure=(X*X+Y*Y<=K*(K+1)))&B
  e2=np.where(cut,np.float32(-1),e2)
Y,X=np.mgrid[-H:H+1,-H:H+1]; quad=(X/(H+0.5))**2+(Y/(H+0.5))**2<1
vm=fits.getdata(D+'mask.fits')!=0 if VARMASK else np.ones(ref.shape,bool)
bad=B&((e2<=0)|~vm)
good=(M&~bad).sum(); half=M.sum()//2
spread=bad&M if good>half else bad
calc=M&~ndimage.binary_dilation(spread,structure=quad)
conv=M&~ndimage.binary_dilation(M&((img==0) if KEEP else (e2<=0)),structure=quad)
econv=M&~ndimage.binary_dilation(M&(e2<=0),structure=quad)
out=[]
for name,want in (('image_r',img),('e2.image_r',e2),('rmask_calc',calc),('rmask_conv',conv),('e.rmask_conv',econv)):
  got=fits.getdata(D+name+'.fits')
  if not (got==want).all(): out.append(name+':'+str(int((got!=want).sum())))
print('form', 'spread' if good>half else 'scan', 'mismatches', len(out), *out)
)";

struct MaskCase {
  const char* name;
  bool keep_zero_var;
  int k;
  double scale;
  int rx0, rx1, ry0, ry1;
  bool manyBad;
  bool varmask;
  const char* form;
};

TEST(DiaReference, ModifiedReferenceAndMasksMatchNumpy) {
  const MaskCase cases[] = {
      {"plain", false, 0, 0.0, 0, 0, 0, 0, false, false, "spread"},
      {"keep zero variance, k 1", true, 1, 0.0, 0, 0, 0, 0, false, false, "spread"},
      {"k 2, scale 2", false, 2, 2.0, 8, 50, 6, 40, false, false, "spread"},
      {"bad pixels common: scan form", false, 1, 0.0, 0, 0, 0, 0, true, false, "scan"},
      {"bad pixels common, keep", true, 0, 2.0, 8, 50, 6, 40, true, false, "scan"},
      {"field-like region with varmask", false, 1, 0.0, 10, 48, 12, 40, false, true, "spread"},
  };
  std::ostringstream script;
  script << "import numpy as np\nfrom astropy.io import fits\nfrom scipy import ndimage\n"
         << "def check(D,RX0,RX1,RY0,RY1,H,KEEP,K,SCALE,VARMASK):\n";
  {
    std::istringstream body(pythonMasks);
    std::string line;
    while (std::getline(body, line))
      if (!line.empty()) script << "  " << line << "\n";
  }
  std::vector<std::string> dirs;
  for (const MaskCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir =
        test_support::programScratchDir(std::string("masks") + std::to_string(dirs.size()));
    dirs.push_back(dir);
    dia_test::StarField field(60, 50, 3, 8);
    Image& ref = field.image;
    Image& eref = field.error;
    // Special pixels: each row of the decision table, marks, and non-finite values.
    struct Pixel {
      int x, y;
      float p, s;
    };
    const Pixel specials[] = {{20, 20, 0.0f, 3.0f},     {24, 20, 50.0f, 0.0f},      {28, 20, 50.0f, -1.0f},
                              {32, 20, -40.0f, 2.0f},   {36, 20, NAN, 2.0f},        {40, 20, 50.0f, NAN},
                              {20, 30, INFINITY, 2.0f}, {24, 30, 50.0f, -INFINITY}, {28, 30, 0.0f, -1.0f},
                              {3, 3, 50.0f, 0.0f},      {12, 25, 50.0f, -1.0f},     {46, 44, 0.0f, 1.0f},
                              {51, 20, 50.0f, -1.0f}};
    for (const Pixel& s : specials) ref(s.x, s.y) = s.p, eref(s.x, s.y) = s.s;
    if (c.manyBad)
      for (int y = 1; y <= 50; ++y)
        for (int x = 1; x <= 40; ++x) eref(x, y) = 0.0f;
    orv::writeFitsImage(dir + "ref.fits", ref);
    orv::writeFitsImage(dir + "eref.fits", eref);
    std::string varmask;
    if (c.varmask) {
      orv::MArray<short, 2> mask(60, 50);
      mask = 1;
      for (int y = 20; y <= 24; ++y)
        for (int x = 30; x <= 35; ++x) mask(x, y) = 0;
      varmask = dir + "mask.fits";
      orv::FitsOut out(varmask);
      out << mask;
    }
    Model m = smallModel({0, 2}, 0);
    m.keep_zero_var = c.keep_zero_var;
    m.scale = c.scale;
    std::unique_ptr<diffima> e(dia_test::makeEngine(m, dir));
    util::Region area = region(c.rx0, c.rx1, c.ry0, c.ry1);
    ASSERT_EQ(e->calc_reference(ref, eref, area, c.k, varmask), 0);
    script << "check('" << dir << "'," << c.rx0 << "," << c.rx1 << "," << c.ry0 << "," << c.ry1 << ",2,"
           << (c.keep_zero_var ? "True" : "False") << "," << c.k << "," << c.scale << ","
           << (c.varmask ? "True" : "False") << ")\n";
  }
  std::istringstream verdicts(test_support::runPython(script.str()).out);
  for (const MaskCase& c : cases) {
    std::string line;
    std::getline(verdicts, line);
    EXPECT_EQ(line, std::string("form ") + c.form + " mismatches 0") << c.name;
  }
  for (const std::string& dir : dirs) std::filesystem::remove_all(dir);
}

TEST(DiaReference, FileSetsFollowTheModel) {
  struct SetCase {
    const char* name;
    Model model;
    bool noRefError;
    std::vector<std::string> basisFiles;
  };
  const SetCase cases[] = {
      {"bg 2, kern_order 1",
       smallModel({1}, 2, 1),
       false,
       {"bb0000",    "bb0001",    "bb0002",    "bb0100",    "bb0101",    "bb0200",   "cc0001",
        "cc0002",    "cc0003",    "cc0004",    "cc0005",    "cc0006",    "cc0007",   "e2.cc0001",
        "e2.cc0002", "e2.cc0003", "e2.cc0004", "e2.cc0005", "e2.cc0006", "e2.cc0007"}},
      {"no background", smallModel({0}, -1), false, {"cc0001", "e2.cc0001"}},
      {"no reference error", smallModel({0}, 0), true, {"bb0000", "cc0001"}},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = test_support::programScratchDir("sets");
    dia_test::StarField field(40, 36, 9, 5);
    std::unique_ptr<diffima> e(dia_test::makeEngine(c.model, dir));
    e->no_ref_error = c.noRefError;
    util::Region whole = region(0, 0, 0, 0);
    ASSERT_EQ(e->calc_reference(field.image, field.error, whole, 0, ""), 0);
    std::set<std::string> expected = {"image_r.fits", "rmask_calc.fits", "rmask_conv.fits",
                                      "e.rmask_conv.fits"};
    if (!c.noRefError) expected.insert("e2.image_r.fits");
    for (const std::string& f : c.basisFiles) expected.insert(f + ".fits");
    EXPECT_EQ(test_support::namesIn(dir), expected);
    if (c.model.kern_order == 1) {
      // The triplets hold G, G·y, G·x of one correlation; bb0102-style names hold x^i·y^j.
      const Image g = orv::readFitsImage<float>(dir + "cc0002.fits");
      const Image gy = orv::readFitsImage<float>(dir + "cc0003.fits");
      const Image gx = orv::readFitsImage<float>(dir + "cc0004.fits");
      const Image xy = orv::readFitsImage<float>(dir + "bb0101.fits");
      const Image y2 = orv::readFitsImage<float>(dir + "bb0002.fits");
      int nonZero = 0;
      for (int y = 1; y <= 36; ++y)
        for (int x = 1; x <= 40; ++x) {
          EXPECT_EQ(gy(x, y), static_cast<float>(static_cast<double>(g(x, y)) * y));
          EXPECT_EQ(gx(x, y), static_cast<float>(static_cast<double>(g(x, y)) * x));
          if (xy(x, y) != 0) {
            ++nonZero;
            EXPECT_EQ(xy(x, y), static_cast<float>(x * y));
            EXPECT_EQ(y2(x, y), static_cast<float>(y * y));
          }
        }
      EXPECT_GT(nonZero, 100);
    }
    std::filesystem::remove_all(dir);
  }
}

TEST(DiaReference, StampsInMemoryEqualFileProducts) {
  const std::string files = test_support::programScratchDir("stamp_files");
  const std::string memory = test_support::programScratchDir("stamp_memory");
  dia_test::StarField field(80, 70, 13, 10);
  const Model m = smallModel({0, 1}, 0);
  util::Region area = region(10, 70, 8, 60);
  {
    std::unique_ptr<diffima> e(dia_test::makeEngine(m, files));
    ASSERT_EQ(e->calc_reference(field.image, field.error, area, 0, ""), 0);
  }
  orv::MArray<int, 3> stamps(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 3));
  const int boxes[3][4] = {{12, 40, 10, 30}, {50, 95, 40, 75}, {1, 6, 1, 5}};
  for (int s = 1; s <= 3; ++s) {
    stamps(1, 0, s) = boxes[s - 1][0], stamps(1, 1, s) = boxes[s - 1][1];
    stamps(2, 0, s) = boxes[s - 1][2], stamps(2, 1, s) = boxes[s - 1][3];
  }
  std::unique_ptr<diffima> e(dia_test::makeEngine(m, memory));
  e->basis_in_memory = true;
  Image ref(field.image), eref(field.error);
  testing::internal::CaptureStdout();
  util::Region area2 = region(10, 70, 8, 60);
  ASSERT_EQ(e->calc_reference_stamps(ref, eref, area2, stamps, 0, ""), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ref.isEmpty());
  EXPECT_NE(out.find(" stampxy(1,1,2)" + std::to_string(e->bx1) + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" ####################### STAMP 3 #######################\n"), std::string::npos);
  EXPECT_NE(out.find("stamp 3 lies outside the basis area: skipped"), std::string::npos);
  // Stamp 2 is clipped to the basis area 8 … 72 × 6 … 62.
  EXPECT_EQ(e->stampxy(1, 1, 2), 72);
  EXPECT_EQ(e->stampxy(2, 1, 2), 62);
  for (int s = 1; s <= 2; ++s) {
    const int x0 = e->stampxy(1, 0, s), x1 = e->stampxy(1, 1, s), y0 = e->stampxy(2, 0, s),
              y1 = e->stampxy(2, 1, s);
    for (int p = 1; p <= e->mat; ++p) {
      const Image product =
          orv::readFitsImage<float>(files + (p <= e->nbg ? std::string("bb0000.fits") : ccName(p - e->nbg)));
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          // The file products are valid on the inner area of the fit area 12 … 68 × 10 … 58.
          const bool inner = x >= x0 + 2 && x <= x1 - 2 && y >= y0 + 2 && y <= y1 - 2;
          const bool both = inner && x >= 12 && x <= 68 && y >= 10 && y <= 58;
          if (inner && !both) continue;
          EXPECT_EQ(e->cc(x - x0 + 1, y - y0 + 1, p, s), inner ? product(x, y) : 0.0f)
              << "stamp " << s << " parameter " << p << " at " << x << "," << y;
        }
    }
  }
  for (int p = 1; p <= e->mat; ++p) EXPECT_EQ(e->cc(1, 1, p, 3), 0.0f);
  EXPECT_EQ(test_support::namesIn(memory).count("cc0001.fits"), 0u);

  // Without basis_in_memory the warning goes to the error stream and files are written.
  std::unique_ptr<diffima> f(dia_test::makeEngine(m, memory));
  Image ref2(field.image), eref2(field.error);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  f->calc_reference_stamps(ref2, eref2, area2, stamps, 0, "");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " calc_reference_stamps wors only with basis_in_memory\n");
  std::filesystem::remove_all(files);
  std::filesystem::remove_all(memory);
}

TEST(DiaReference, RefusedInputsWriteNothing) {
  const std::string dir = test_support::programScratchDir("refused");
  dia_test::StarField field(40, 36, 9, 5);
  // A stale product stays untouched.
  Image stale(5, 5);
  stale = 7.0f;
  orv::writeFitsImage(dir + "image_r.fits", stale);
  const auto before = std::filesystem::last_write_time(dir + "image_r.fits");
  struct Refusal {
    const char* name;
    util::Region area;
    Image eref;
    std::string varmask;
    const char* message;
  };
  Image wrongSize(40, 35);
  wrongSize = 1.0f;
  orv::MArray<short, 2> smallMask(20, 20);
  smallMask = 1;
  {
    orv::FitsOut out(dir + "small_mask.fits");
    out << smallMask;
  }
  Refusal refusals[] = {
      {"empty area", region(20, 20, 0, 0), field.error, "", "wrong area in diffima\n"},
      {"eref of another extent", region(0, 0, 0, 0), wrongSize, "",
       "eref does not match the reference in diffima\n"},
      {"mask of another extent", region(0, 0, 0, 0), field.error, dir + "small_mask.fits",
       "does not match the reference in diffima\n"},
      {"reference not indexed from 1", region(0, 0, 0, 0), field.error, "",
       "the reference must be indexed from 1 in diffima\n"},
  };
  Image shifted(field.image);
  shifted.setBase(0, 1);
  for (Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    std::unique_ptr<diffima> e(dia_test::makeEngine(smallModel({0}, 0), dir));
    testing::internal::CaptureStderr();
    const bool baseCase = std::string(r.name) == "reference not indexed from 1";
    EXPECT_EQ(e->calc_reference(baseCase ? shifted : field.image, r.eref, r.area, 0, r.varmask), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(r.message), std::string::npos) << err;
    EXPECT_EQ(test_support::namesIn(dir), (std::set<std::string>{"image_r.fits", "small_mask.fits"}));
  }
  EXPECT_EQ(std::filesystem::last_write_time(dir + "image_r.fits"), before);
  std::unique_ptr<diffima> e(dia_test::makeEngine(smallModel({0}, 0), dir));
  util::Region whole = region(0, 0, 0, 0);
  EXPECT_THROW(e->calc_reference(field.image, field.error, whole, 0, dir + "missing.fits"), std::exception);
  EXPECT_EQ(test_support::namesIn(dir).size(), 2u);
  // A "%" in the reference path reaches no format string.
  const std::string percent = test_support::programScratchDir("per%scent%n");
  std::unique_ptr<diffima> p(dia_test::makeEngine(smallModel({0}, 0), percent));
  ASSERT_EQ(p->calc_reference(field.image, field.error, whole, 0, ""), 0);
  EXPECT_TRUE(test_support::namesIn(percent).count("cc0001.fits"));
  std::filesystem::remove_all(dir);
  std::filesystem::remove_all(percent);
}

TEST(DiaReference, AreasSmallerThanTheFootprintAreRefused) {
  // A kernel of 7 x 5 pixels: the fit area keeps 3 and 2 pixels inside the reference and must
  // hold the footprint, so a whole reference needs 13 x 9 pixels. Every size up to a little
  // beyond, and a region narrower than the footprint inside a large reference.
  Model m = smallModel({1, 0}, 0);
  m.half[0] = 3;
  m.half[1] = 2;
  struct Area {
    int nx, ny;
    util::Region region;
  };
  std::vector<Area> areas;
  for (int nx = 1; nx <= 15; ++nx)
    for (int ny = 1; ny <= 11; ++ny) areas.push_back({nx, ny, region(0, 0, 0, 0)});
  areas.push_back({40, 40, region(10, 15, 1, 40)});
  areas.push_back({40, 40, region(10, 16, 1, 40)});
  areas.push_back({40, 40, region(1, 40, 20, 23)});
  for (Area& a : areas) {
    SCOPED_TRACE(std::to_string(a.nx) + " x " + std::to_string(a.ny) + " region x " +
                 std::to_string(a.region.getStart(1)) + ":" + std::to_string(a.region.getEnd(1)));
    const std::string dir = test_support::programScratchDir("small_area");
    dia_test::StarField field(a.nx, a.ny, 4, 2);
    std::unique_ptr<diffima> e(dia_test::makeEngine(m, dir));
    testing::internal::CaptureStderr();
    const int status = e->calc_reference(field.image, field.error, a.region, 0, "");
    const std::string err = testing::internal::GetCapturedStderr();
    const bool whole = a.region.getStart(1) == 0;
    const int fitWidth =
        whole ? a.nx - 6 : std::min(a.region.getEnd(1), a.nx - 3) - std::max(a.region.getStart(1), 4) + 1;
    const int fitHeight =
        whole ? a.ny - 4 : std::min(a.region.getEnd(2), a.ny - 2) - std::max(a.region.getStart(2), 3) + 1;
    if (fitWidth >= 7 && fitHeight >= 5) {
      EXPECT_EQ(status, 0) << err;
      EXPECT_TRUE(test_support::namesIn(dir).count("cc0001.fits"));
    } else {
      EXPECT_EQ(status, -1);
      EXPECT_NE(err.find("wrong area in diffima"), std::string::npos) << err;
      if (fitWidth >= 2 && fitHeight >= 2) {
        EXPECT_NE(err.find("is smaller than the kernel footprint of 7 x 5 pixels"), std::string::npos) << err;
      }
      EXPECT_TRUE(test_support::namesIn(dir).empty());
    }
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
