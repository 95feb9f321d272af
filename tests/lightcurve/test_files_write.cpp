// Tests the ASCII writers byte for byte against text made by Python's %*.*g.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"
#include "tests/support/python_reference.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::pyList;
using lightcurve_test::pyNum;

using test_support::readText;
using test_support::tempPath;

const std::string kLongName = "a_forty_character_image_file_name.fits_x";  // 40 characters

// 12 points: a date needing 18 digits, a flux needing exponent form.
struct Record {
  std::vector<double> jd, flux, error, nchi, boxval, removed, nonoise;
};

Record record() {
  Record r;
  for (int i = 0; i < 12; ++i) {
    r.jd.push_back(2454321.123456789 + 0.3719 * i * i);
    r.flux.push_back(1.0 + 0.001 * ((i * 7) % 5) - 0.0123456789 * (i == 4));
    r.error.push_back(0.00123 + 0.0001 * i);
    r.nchi.push_back(1.0 + 0.25 * i);
    r.boxval.push_back(i % 3 == 0 ? 0.99 : 1.0);
    r.removed.push_back(1.0 + 0.0002 * (i - 6));
    r.nonoise.push_back(i % 4 == 1 ? 0.99 : 1.0);
  }
  r.flux[7] = 1.234e-7;
  return r;
}

std::unique_ptr<Lightcurve> makeRecord(const Record& r) {
  orv::MArray<std::string, 1> names(12);
  for (int i = 1; i <= 12; ++i) names(i) = i == 3 ? kLongName : "img" + std::to_string(i) + ".fits";
  auto lc =
      std::make_unique<Lightcurve>(arrayOf(r.jd), arrayOf(r.flux), arrayOf(r.error), arrayOf(r.nchi), names);
  for (int i = 1; i <= 12; ++i) lc->boxval(i) = r.boxval[i - 1];
  lc->removed.makeReference(arrayOf(r.removed));
  lc->nonoise.makeReference(arrayOf(r.nonoise));
  lc->nonoise_ok = true;
  lc->M_star = 0.93;
  lc->R_star = 1.1;
  lc->gamma1 = 0.4;
  lc->gamma2 = 0.25;
  lc->R_planet = 1.234567891;
  lc->inclination = 89.5;
  lc->period = 3.14159265358979;
  lc->t0 = 2454321.98765432109;
  lc->drop = 0.0123;
  lc->noise = 0.0015;
  lc->rednoise = 1e-8;
  lc->SNR = 42.5;
  lc->tau = 0.031;
  return lc;
}

// Python definitions shared by the expected texts.
std::string pythonHead(const Record& r) {
  return "import numpy as np\njd=" + pyList(r.jd) + "\nfl=" + pyList(r.flux) + "\ner=" + pyList(r.error) +
         "\nnc=" + pyList(r.nchi) + "\nbv=" + pyList(r.boxval) + "\nrm=" + pyList(r.removed) +
         "\nnn=" + pyList(r.nonoise) + "\nnames=['img%d.fits'%(i+1) for i in range(12)]\nnames[2]='" +
         kLongName +
         "'\ndef g(w,p,v): return '%*.*g'%(w,p,v)\n"
         "def mag(x): return -2.5*np.log10(x/3060.0)\n"
         "out=[]\n";
}

TEST(LightcurveWriteText, Write) {
  const Record r = record();
  std::unique_ptr<Lightcurve> lc = makeRecord(r);
  lc->number_transits = 3;
  lc->number_transit_points = 15;
  lc->points_per_transit.makeReference(orv::MArray<int, 1>(3));
  lc->points_per_transit(1) = 5;
  lc->points_per_transit(2) = 6;
  lc->points_per_transit(3) = 4;
  const std::string header =
      "hdr=['#','# lightcurve parameters:','#','# M_star:      '+g(0,6,0.93),'# R_star:      '+g(0,6,1.1),"
      "'# gamma1:      '+g(0,6,0.4),'# gamma2:      '+g(0,6,0.25),'# R_planet:    '+g(0,6,1.234567891),"
      "'# inclination: '+g(0,6,89.5),'# period:      '+g(0,12,3.14159265358979),"
      "'# t0:          '+g(0,14,2454321.98765432109),'# drop:        '+g(0,6,0.0123),"
      "'# noise:       '+g(0,6,0.0015),'# rednoise:    '+g(0,6,1e-8),'#']\n";
  const std::string rows =
      "def rows(c):\n"
      "  out.append('#      date           flux          error '+('     nchi   '+'   boxval   '+"
      "'             filename               ' if c else ''))\n  out.append('#')\n"
      "  for i in range(12):\n"
      "    s=g(16,14,jd[i])+'    '+g(10,8,fl[i])+'    '+g(10,8,er[i])+'  '\n"
      "    if c: s+=g(10,8,nc[i])+'  '+g(10,8,bv[i])+'  '+'%34s'%names[i]+'  '\n"
      "    out.append(s)\n";
  struct Case {
    const char* label;
    bool removedOk;
    int transits;
    bool columns, header;
    std::string tail;  // Python lines after hdr
  };
  const Case cases[] = {
      {"header, no removal, three transits", false, 3, true, true,
       "out+=hdr+['# rms of lightcurve:            0.','# signal-to-noise ratio:        '+g(0,6,42.5),"
       "'# fractional transit length:    '+g(0,6,0.031),'# number of transits:           3',"
       "'# number of trasint datapoints: 15 ( 5, 6, 4 )','#','#']\nrows(True)\n"},
      {"header, removed, no transit", true, 0, true, true,
       "rms=np.sqrt(np.sum((np.array(rm)-1)**2)/11)\n"
       "out+=hdr+['# rms of lightcurve:            '+g(0,6,rms),'# signal-to-noise ratio:        "
       "'+g(0,6,42.5),"
       "'# fractional transit length:    '+g(0,6,0.031),'# number of transits:           0',"
       "'# number of trasint datapoints: 0','#','#']\nrows(True)\n"},
      {"plain", false, 3, false, false, "rows(False)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    lc->removed_ok = c.removedOk;
    lc->number_transits = c.transits;
    const std::string path = tempPath("write.txt");
    EXPECT_EQ(captured([&] { lc->write(path, c.columns, c.columns, c.columns, c.header); }), "");
    const std::string expected =
        test_support::runPython(pythonHead(r) + header + rows + c.tail + "print('\\n'.join(out))\n").out;
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(readText(path), expected);
    std::remove(path.c_str());
  }
}

TEST(LightcurveWriteText, SimulatedCurvesSpectrumAndFold) {
  const Record r = record();
  std::unique_ptr<Lightcurve> lc = makeRecord(r);
  lc->removed_ok = true;
  lc->boxfitted = true;
  lc->SR.makeReference(arrayOf({0.25, 1.0, 0.123456789012}));
  lc->frequency.makeReference(arrayOf({0.1, 0.3333333333333333, 1.0 / 7}));
  lc->fold(1.7, 2454321.5);
  std::vector<double> ph(12), pf(12), pe(12), pn(12), pb(12);
  std::string pnames = "[";
  for (int k = 1; k <= 12; ++k) {
    ph[k - 1] = lc->phase(k);
    pf[k - 1] = lc->phased_flux(k);
    pe[k - 1] = lc->phased_error(k);
    pn[k - 1] = lc->phased_nchi(k);
    pb[k - 1] = lc->phased_boxval(k);
    pnames += "'" + lc->phased_filename(k) + "',";
  }
  pnames += "]";
  struct Case {
    const char* label;
    std::function<void(const std::string&)> write;
    std::string python;
  };
  const std::string head = "out+=['#   date         flux         error ','#']\n";
  const Case cases[] = {
      {"nonoise", [&](const std::string& p) { lc->write_nonoise(p, false, false); },
       head + "for i in range(12): out.append(g(10,18,jd[i])+'    '+g(10,8,nn[i]))\n"},
      {"nonoise in magnitudes", [&](const std::string& p) { lc->write_nonoise(p, true, false); },
       head + "for i in range(12): out.append(g(10,18,jd[i])+'    '+g(10,8,mag(nn[i])))\n"},
      {"removed", [&](const std::string& p) { lc->write_removed(p, false, false); },
       head +
           "for i in range(12): out.append(g(10,18,jd[i])+'    '+g(10,8,rm[i])+'    '+g(10,8,er[i])+'  ')\n"},
      {"removed in magnitudes", [&](const std::string& p) { lc->write_removed(p, true, true); },
       head + "for i in range(12): out.append(g(10,18,jd[i])+'    '+g(10,8,mag(rm[i]))+'    '+"
              "g(10,8,(mag(rm[i]-er[i])-mag(rm[i]+er[i]))/2)+'  ')\n"},
      {"SR", [&](const std::string& p) { lc->write_SR(p, false); },
       "out+=['#        1/p             SR','#']\nfor f,s in zip([0.1,0.3333333333333333,1.0/7],"
       "[0.25,1.0,0.123456789012]): out.append(g(0,10,f)+' '+g(16,10,s))\n"},
      {"folded", [&](const std::string& p) { lc->write_folded(p, true, true, true, false); },
       "ph=" + pyList(ph) + "\npf=" + pyList(pf) + "\npe=" + pyList(pe) + "\npn=" + pyList(pn) +
           "\npb=" + pyList(pb) + "\npnames=" + pnames +
           "\nout+=['#   date         flux         error '+'     nchi   '+'   boxval   '+"
           "'             filename               ','#']\n"
           "for i in range(12): out.append(g(10,8,ph[i])+'    '+g(10,8,pf[i])+'    '+g(10,8,pe[i])+'  '+"
           "g(10,8,pn[i])+'  '+g(10,8,pb[i])+'  '+'%34s'%pnames[i]+'  ')\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = tempPath("sim.txt");
    EXPECT_EQ(captured([&] { c.write(path); }), "");
    const std::string expected =
        test_support::runPython(pythonHead(r) + c.python + "print('\\n'.join(out))\n").out;
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(readText(path), expected);
    std::remove(path.c_str());
  }
}

// The curve boxed on a peak set by hand: 3 bins in magnitudes with box values
// (window edges inclusive), and magnitudes without box values (fluxes kept).
TEST(LightcurveWriteText, Boxed) {
  const Record r = record();
  for (bool withBox : {true, false}) {
    SCOPED_TRACE(withBox ? "box values" : "no box values");
    std::unique_ptr<Lightcurve> lc = makeRecord(r);
    lc->source_file = "curve.txt";
    lc->boxfitted = true;
    lc->SDE.makeReference(arrayOf(std::vector<double>(10, 7.123456789)));
    lc->period_box.makeReference(arrayOf(std::vector<double>(10, 2.3)));
    lc->t0_box.makeReference(arrayOf(std::vector<double>(10, 2454321.7654321987)));
    lc->tau_box.makeReference(arrayOf(std::vector<double>(10, 0.3)));
    lc->H_box.makeReference(arrayOf(std::vector<double>(10, 1.0005)));
    lc->L_box.makeReference(arrayOf(std::vector<double>(10, 0.99)));
    // The same fold and binning on a twin record, before any conversion.
    std::unique_ptr<Lightcurve> twin = makeRecord(r);
    twin->fold(2.3, 2454321.7654321987);
    twin->binning_phased(3);
    const int m = twin->phased_length;
    const std::vector<double> ph = lightcurve_test::vectorOf(twin->phase, m),
                              pf = lightcurve_test::vectorOf(twin->phased_flux, m),
                              pe = lightcurve_test::vectorOf(twin->phased_error, m);
    const std::string path = tempPath("boxed.txt");
    EXPECT_EQ(captured([&] { lc->write_boxed(path, 2, true, false, false, withBox, 3, true); }), "");
    const std::string expected =
        test_support::runPython(
            pythonHead(r) + "ph=" + pyList(ph) + "\npf=" + pyList(pf) + "\npe=" + pyList(pe) +
            "\nbox=" + (withBox ? "True" : "False") +
            "\nout.append('# SDE = '+g(0,8,7.123456789)+', p = '+g(0,8,2.3)+', t0 = "
            "'+g(0,18,2454321.7654321987)+"
            "', tau = '+g(0,8,0.3)+' filename = curve.txt')\nout.append('#')\n"
            "out.append('#   phase        flux         error '+('   boxval   ' if box else "
            "''))\nout.append('#')\n"
            "for p,f,e in zip(ph,pf,pe):\n"
            "  if box: e=(mag(f-e)-mag(f+e))/2; f=mag(f)\n"
            "  s=g(10,8,p)+'    '+g(10,8,f)+'    '+g(10,8,e)+'  '\n"
            "  if box: s+=g(10,8,mag(0.99) if 0.4999-0.15<=p<=0.5001+0.15 else mag(1.0005))+'  '\n"
            "  out.append(s)\nprint('\\n'.join(out))\n")
            .out;
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(readText(path), expected);
    EXPECT_EQ(lc->getPeriod(), 2.3);  // left folded on the peak
    EXPECT_EQ(lc->phased_length, m);
    std::remove(path.c_str());
  }
}

TEST(LightcurveWriteText, Refusals) {
  Lightcurve empty;
  const std::string path = tempPath("never.txt");
  struct Case {
    const char* label;
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {"write", [&] { empty.write(path, false, false, false, true); },
       "lightcurve contains no data points\n"},
      {"nonoise", [&] { empty.write_nonoise(path, false, false); },
       "error: nonoise lightcurve not available!\n"},
      {"removed", [&] { empty.write_removed(path, false, false); },
       "error: transits have not yet been removed!\n"},
      {"SR", [&] { empty.write_SR(path, false); }, "no SR-spectrum available!\n"},
      {"folded", [&] { empty.write_folded(path, true, true, true, false); },
       "lightcurve has not been folded, yet!\n"},
      {"boxed", [&] { empty.write_boxed(path, 1, false, false, false, true, 0, true); },
       "no boxed-lightcurve available!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.call), c.message);
    EXPECT_FALSE(std::ifstream(path).good());
  }
  // A file that cannot be created.
  Lightcurve lc(arrayOf({1, 2}), arrayOf({1, 1}), arrayOf({.1, .1}));
  const std::string bad = ::testing::TempDir() + "no_such_dir_lc/out.txt";
  testing::internal::CaptureStderr();
  lc.write(bad, false, false, false, false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "error: cannot open file " + bad + " for writing\n");
  EXPECT_FALSE(std::ifstream(bad).good());
}

}  // namespace
