// The reference side of difference imaging, first steps: the fit and basis areas, the
// modified reference with its variance, and the three reference masks.
#include <cmath>
#include <iomanip>
#include <iostream>

#include "dia/basis_correlation.h"
#include "dia/dia.h"
#include "dia/footprint_spread.h"
#include "dia/product_names.h"
#include "orv/fits/fits_image.h"

bool diffima::fixArea__(const util::Region& region, int X0, int X1, int Y0, int Y1) {
  if (region.getStart(1) != 0) mx0 = region.getStart(1);
  if (region.getEnd(1) != 0) mx1 = region.getEnd(1);
  if (region.getStart(2) != 0) my0 = region.getStart(2);
  if (region.getEnd(2) != 0) my1 = region.getEnd(2);
  // The fit area keeps hx, hy pixels of margin inside the image; the basis area is the fit
  // area widened by that margin. Differences in 64 bits: bounds are arbitrary ints.
  auto clip = [](int& m0, int& m1, int& b0, int& b1, int h, int first, int last) {
    const long long low = static_cast<long long>(m0) - h, high = static_cast<long long>(m1) + h;
    if (m0 == 0 || low < first) {
      b0 = first;
      m0 = first + h;
    } else {
      b0 = static_cast<int>(low);
    }
    if (m1 == 0 || high > last) {
      b1 = last;
      m1 = last - h;
    } else {
      b1 = static_cast<int>(high);
    }
  };
  clip(mx0, mx1, bx0, bx1, hx, X0, X1);
  clip(my0, my1, by0, by1, hy, Y0, Y1);
  return mx0 < mx1 && my0 < my1;
}

bool diffima::checkReferenceInputs__(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref,
                                     const std::string& varmask) const {
  // Product files index pixels from 1, as image coordinates: so must the reference.
  if (ref.first(1) != 1 || ref.first(2) != 1) {
    std::cerr << "the reference must be indexed from 1 in diffima" << std::endl;
    return false;
  }
  if (!no_ref_error && (eref.first(1) != ref.first(1) || eref.last(1) != ref.last(1) ||
                        eref.first(2) != ref.first(2) || eref.last(2) != ref.last(2))) {
    std::cerr << "eref does not match the reference in diffima" << std::endl;
    return false;
  }
  if (!varmask.empty()) {
    orv::FitsIn mask(varmask);  // a missing or malformed file throws here, before any write
    if (mask.getNaxis() != 2 || mask.getNaxis(1) != ref.length(1) || mask.getNaxis(2) != ref.length(2)) {
      std::cerr << "varmask " << varmask << " does not match the reference in diffima" << std::endl;
      return false;
    }
  }
  return true;
}

namespace {

void printArea(int b0, int m0, const char* bName, const char* mName) {
  std::cout << bName << std::setw(6) << b0 << mName << std::setw(6) << m0 << std::endl;
}

}  // namespace

bool diffima::getpicsR(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref,
                       util::Region& region, int k) {
  if (verbose > 0) std::cout << "############ create modified reference frame ########### " << std::endl;
  const bool areaOk = fixArea__(region, ref.first(1), ref.last(1), ref.first(2), ref.last(2));
  if (verbose > 2) {
    printArea(bx0, mx0, "bx0 ", "   mx0 ");
    printArea(bx1, mx1, "bx1 ", "   mx1 ");
    printArea(by0, my0, "by0 ", "   my0 ");
    printArea(by1, my1, "by1 ", "   my1 ");
  }
  if (!areaOk) {
    std::cerr << "wrong area in diffima" << std::endl;
    return false;
  }
  // Basis images are made only where the footprint centred on a pixel of the fit area stays
  // inside it: a fit area smaller than the footprint would leave none.
  if (mx1 - mx0 < 2 * hx || my1 - my0 < 2 * hy) {
    std::cerr << "wrong area in diffima: the fit area " << mx0 << ":" << mx1 << "," << my0 << ":" << my1
              << " is smaller than the kernel footprint of " << 2 * hx + 1 << " x " << 2 * hy + 1
              << " pixels (the fit area keeps " << hx << " pixels inside the reference in x and " << hy
              << " in y: a whole reference needs at least " << 4 * hx + 1 << " x " << 4 * hy + 1 << ")"
              << std::endl;
    return false;
  }
  const orv::Range rx(ref.first(1), ref.last(1)), ry(ref.first(2), ref.last(2));
  orv::MArray<float, 2> image_r = dia_basis::zeroImage(rx, ry);
  cut_radius = k;

  if (no_ref_error) {
    for (int y = by0; y <= by1; ++y)
      for (int x = bx0; x <= bx1; ++x) {
        const float p = ref(x, y);
        if (p != 0.0f && std::isfinite(p)) image_r(x, y) = scale > 0 ? p * scale : p;
      }
    writeProduct__(refpath + dia_files::modifiedReference, image_r);
    if (verbose > 9) {
      std::cout << "getpicsR: image_r.fits" << std::endl;
      image_r.describeSelf();
      std::cout << std::endl;
    }
    return true;
  }

  orv::MArray<float, 2> e2image_r = dia_basis::zeroImage(rx, ry);
  // A non-finite value or error counts as no data, so that the masks exclude the pixel.
  for (int y = by0; y <= by1; ++y)
    for (int x = bx0; x <= bx1; ++x) {
      const float p = ref(x, y), s = eref(x, y);
      if (s == -1.0f) {
        e2image_r(x, y) = -1.0f;
      } else if (p != 0.0f && std::isfinite(p) && std::isfinite(s)) {
        if (s > 0.0f) {
          image_r(x, y) = p;
          e2image_r(x, y) = static_cast<float>(static_cast<double>(s) * s);
        } else if (s == 0.0f && keep_zero_var) {
          image_r(x, y) = p;
        }
      }
    }
  if (scale > 0) {
    const double scale2 = static_cast<double>(scale) * scale;
    for (int y = by0; y <= by1; ++y)
      for (int x = bx0; x <= bx1; ++x) {
        if (image_r(x, y) != 0.0f) image_r(x, y) *= scale;
        if (e2image_r(x, y) > 0.0f) e2image_r(x, y) = static_cast<float>(e2image_r(x, y) * scale2);
      }
  }
  if (k > 0) {
    if (verbose > 1) std::cout << " cut saturation radius = " << k << std::endl;
    // Marks are read from a copy, so that the marks set here do not spread further.
    orv::MArray<float, 2> marks(rx, ry);
    marks = e2image_r;
    const double reach = static_cast<double>(k) * (k + 1);
    for (int y = by0; y <= by1; ++y)
      for (int x = bx0; x <= bx1; ++x) {
        if (marks(x, y) != -1.0f) continue;
        for (int dy = std::max(-k, by0 - y); dy <= std::min(k, by1 - y); ++dy)
          for (int dx = std::max(-k, bx0 - x); dx <= std::min(k, bx1 - x); ++dx)
            if (static_cast<double>(dx * dx + dy * dy) <= reach) e2image_r(x + dx, y + dy) = -1.0f;
      }
  }
  writeProduct__(refpath + dia_files::modifiedReference, image_r);
  writeProduct__(refpath + dia_files::referenceVariance, e2image_r);
  if (verbose > 9) {
    std::cout << "getpicsR: image_r.fits" << std::endl;
    image_r.describeSelf();
    std::cout << "getpicsR: e2.image_r.fits" << std::endl;
    e2image_r.describeSelf();
    std::cout << std::endl;
  }
  return true;
}

bool diffima::getpicsRmasks(util::Region& region, std::string varmask) {
  if (verbose > 0) std::cout << "############### calculate reference masks ##############" << std::endl;
  orv::MArray<float, 2> image_r;
  if (!readOwnProduct__(refpath + dia_files::modifiedReference, image_r)) return false;
  const orv::Range rx(image_r.first(1), image_r.last(1)), ry(image_r.first(2), image_r.last(2));
  if (!fixArea__(region, image_r.first(1), image_r.last(1), image_r.first(2), image_r.last(2))) {
    std::cerr << "wrong area in diffima" << std::endl;
    return false;
  }
  const dia_spread::Box mArea{mx0, mx1, my0, my1}, bArea{bx0, bx1, by0, by1};

  // The b-area mask: 0 where the mask file holds 0.
  orv::MArray<short, 2> mask(orv::Range(bx0, bx1), orv::Range(by0, by1));
  mask = 1;
  if (!varmask.empty()) {
    if (verbose > 1) std::cout << " use varmask: " << varmask << std::endl;
    const orv::MArray<short, 2> file = orv::readFitsImage<short>(varmask);
    for (int y = by0; y <= by1; ++y)
      for (int x = bx0; x <= bx1; ++x)
        if (file(x, y) == 0) mask(x, y) = 0;
  }

  // Without an error image the data stand in for the variance: no data is bad.
  orv::MArray<float, 2> e2;
  if (no_ref_error) {
    e2.makeReference(image_r);
  } else {
    orv::MArray<float, 2> variance;
    if (!readOwnProduct__(refpath + dia_files::referenceVariance, variance)) return false;
    e2.makeReference(variance);
    image_r.free();
  }
  auto noVariance = [&](int x, int y) { return no_ref_error ? e2(x, y) == 0.0f : e2(x, y) <= 0.0f; };
  auto bad = [&](int x, int y) { return noVariance(x, y) || mask(x, y) != 1; };
  if (verbose > 1) std::cout << std::endl << "####### create rmask_calc..." << std::endl;

  orv::MArray<short, 2> rmask(rx, ry);
  rmask = 0;
  if (verbose > 9) {
    std::cout << "getpicsR: rmask_calc.fits" << std::endl;
    rmask.describeSelf();
  }
  long good = 0;
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x) good += !bad(x, y);
  const long half = (static_cast<long>(mx1 - mx0 + 1) * (my1 - my0 + 1)) / 2;
  if (verbose > 1) std::cout << " good = " << good << std::endl << " half = " << half << std::endl;

  // With bad pixels rare only those of the fit area are spread; with bad pixels common every
  // fit-area pixel scans its footprint, which also meets bad pixels of the border band
  // between fit and basis area. The scan equals a spread of the whole basis area.
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x) rmask(x, y) = 1;
  if (good > half)
    dia_spread::spreadBad(rmask, mArea, mArea, bad, quad, verbose > 3 ? " " : nullptr);
  else
    dia_spread::spreadBad(rmask, mArea, bArea, bad, quad, verbose > (no_ref_error ? 3 : 4) ? " " : nullptr);
  writeProduct__(refpath + dia_files::calcMask, rmask);
  mask.free();

  // rmask_conv: valid where no pixel without variance (with keep_zero_var: without data)
  // lies in the footprint; e.rmask_conv: the same from the variance alone.
  if (verbose > 1) std::cout << std::endl << "####### create rmask_conv..." << std::endl;
  rmask = 0;
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x) rmask(x, y) = 1;
  if (keep_zero_var && !no_ref_error) {
    orv::MArray<float, 2> data;
    if (!readOwnProduct__(refpath + dia_files::modifiedReference, data)) return false;
    dia_spread::spreadBad(
        rmask, mArea, mArea, [&](int x, int y) { return data(x, y) == 0.0f; }, quad,
        verbose > 3 ? "." : nullptr);
  } else {
    dia_spread::spreadBad(rmask, mArea, mArea, noVariance, quad, verbose > 3 ? "." : nullptr);
  }
  writeProduct__(refpath + dia_files::convMask, rmask);

  if (verbose > 1) std::cout << std::endl << "### create ermask_conv..." << std::endl;
  rmask = 0;
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x) rmask(x, y) = 1;
  dia_spread::spreadBad(rmask, mArea, mArea, noVariance, quad, verbose > 3 ? " " : nullptr);
  writeProduct__(refpath + dia_files::varianceConvMask, rmask);
  if (verbose > 1) std::cout << std::endl;
  return true;
}
