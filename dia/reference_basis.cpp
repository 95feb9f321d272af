// The reference driver: basis-convolved references of every kernel parameter and the
// background term images, on disk under the reference path or in memory per stamp.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <vector>

#include "dia/basis_correlation.h"
#include "dia/dia.h"
#include "dia/product_names.h"
#include "dia/usable_values.h"

namespace {

// x^a·y^b in double with integer powers; a power 0 gives 1.
double powers(int x, int a, int y, int b) {
  double v = 1.0;
  for (int k = 0; k < a; ++k) v *= x;
  for (int k = 0; k < b; ++k) v *= y;
  return v;
}

void printReferenceModel(const diffima& e) {
  std::cout << "nbg: " << e.nbg << std::endl << std::endl;
  std::cout << "mat: " << e.mat << std::endl << std::endl;
  std::cout << "quad:\n" << e.quad << std::endl << std::endl;
  std::cout << "NB:\n" << e.NB << std::endl << std::endl;
  std::cout << "positiv:\n " << e.positiv << std::endl << std::endl;
}

}  // namespace

bool diffima::readReferenceProducts__(orv::MArray<float, 2>& image_r, orv::MArray<float, 2>& e2image_r,
                                      orv::MArray<short, 2>& rmask_calc, orv::MArray<short, 2>& rmask_conv) {
  if (verbose > 2)
    std::cout << " mx0 = " << mx0 << std::endl
              << " mx1 = " << mx1 << std::endl
              << " my0 = " << my0 << std::endl
              << " my1 = " << my1 << std::endl
              << std::endl;
  if (!readOwnProduct__(refpath + dia_files::modifiedReference, bx0, bx1, by0, by1, image_r)) return false;
  if (!no_ref_error &&
      !readOwnProduct__(refpath + dia_files::referenceVariance, bx0, bx1, by0, by1, e2image_r))
    return false;
  if (!readOwnProduct__(refpath + dia_files::calcMask, mx0, mx1, my0, my1, rmask_calc)) return false;
  if (!readOwnProduct__(refpath + dia_files::convMask, mx0, mx1, my0, my1, rmask_conv)) return false;
  if (verbose > 2) {
    std::cout << "calc_reference: image_r Array:" << std::endl;
    image_r.describeSelf();
    if (!no_ref_error) {
      std::cout << "calc_reference: e2image_r Array:" << std::endl;
      e2image_r.describeSelf();
    }
    std::cout << "calc_reference: rmask_calc Array:" << std::endl;
    rmask_calc.describeSelf();
  }
  return true;
}

int diffima::calc_reference(const orv::MArray<float, 2>& ref, const orv::MArray<float, 2>& eref,
                            util::Region& area, int k, std::string varmask) {
  if (verbose > 2) printReferenceModel(*this);
  if (!checkReferenceInputs__(ref, eref, varmask)) return -1;
  productOrigin__ = product_origin(ref);
  productOrigin__.set = dia_files::newProductSet();
  if (!getpicsR(ref, eref, area, k)) return -1;
  if (!getpicsRmasks(area, varmask)) return -1;

  orv::MArray<float, 2> image_r, e2image_r;
  orv::MArray<short, 2> rmask_calc, rmask_conv;
  if (!readReferenceProducts__(image_r, e2image_r, rmask_calc, rmask_conv)) return -1;

  // Products on disk cover the whole reference; in memory only the fit area, so that
  // cc(1, 1, ·, 1) is the pixel (mx0, my0).
  orv::Range rx(ref.first(1), ref.last(1)), ry(ref.first(2), ref.last(2));
  if (basis_in_memory) rx = orv::Range(mx0, mx1), ry = orv::Range(my0, my1);

  numberofstamps = 1;
  stampxy.makeReference(orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1)));
  stampxy(1, 0, 1) = mx0;
  stampxy(1, 1, 1) = mx1;
  stampxy(2, 0, 1) = my0;
  stampxy(2, 1, 1) = my1;
  if (verbose > 1) std::cout << " numberofstamps = " << numberofstamps << std::endl;

  if (basis_in_memory) {
    const orv::Range cx(1, rx.length), cy(1, ry.length), params(1, mat), stamps(1, 1);
    cc.makeReference(orv::MArray<float, 4>(cx, cy, params, stamps));
    cc = 0.0f;
    if (!no_ref_error) {
      e2cc.makeReference(orv::MArray<float, 4>(cx, cy, params, stamps));
      e2cc = 0.0f;
    }
    cc.describeSelf();
  }
  return calc_basis(image_r, e2image_r, rmask_calc, rmask_conv, rx, ry, 1);
}

int diffima::calc_reference_stamps(orv::MArray<float, 2>& ref, orv::MArray<float, 2>& eref,
                                   util::Region& area, const orv::MArray<int, 3>& stamps, int k,
                                   std::string varmask) {
  if (verbose > 1) std::cout << " calc_reference_stamps ... " << std::endl;
  if (!basis_in_memory) std::cerr << " calc_reference_stamps wors only with basis_in_memory" << std::endl;
  if (verbose > 2) printReferenceModel(*this);
  if (stamps.first(1) != 1 || stamps.last(1) != 2 || stamps.first(2) != 0 || stamps.last(2) != 1 ||
      stamps.first(3) != 1) {
    std::cerr << "wrong stampxy in diffima" << std::endl;
    return -1;
  }
  if (!checkReferenceInputs__(ref, eref, varmask)) return -1;
  productOrigin__ = product_origin(ref);
  productOrigin__.set = dia_files::newProductSet();
  if (!getpicsR(ref, eref, area, k)) return -1;

  // Each stamp is clipped to the basis area, the only part of the reference read back.
  numberofstamps = stamps.last(3);
  stampxy.makeReference(
      orv::MArray<int, 3>(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, numberofstamps)));
  int widest = 0, highest = 0;
  for (int s = 1; s <= numberofstamps; ++s) {
    stampxy(1, 0, s) = std::max(stamps(1, 0, s), bx0);
    stampxy(1, 1, s) = std::min(stamps(1, 1, s), bx1);
    stampxy(2, 0, s) = std::max(stamps(2, 0, s), by0);
    stampxy(2, 1, s) = std::min(stamps(2, 1, s), by1);
    std::cout << " stampxy(1,0," << s << ")" << stampxy(1, 0, s) << std::endl;
    std::cout << " stampxy(1,1," << s << ")" << stampxy(1, 1, s) << std::endl;
    std::cout << " stampxy(2,0," << s << ")" << stampxy(2, 0, s) << std::endl;
    std::cout << " stampxy(2,1," << s << ")" << stampxy(2, 1, s) << std::endl;
    widest = std::max(widest, stampxy(1, 1, s) - stampxy(1, 0, s));
    highest = std::max(highest, stampxy(2, 1, s) - stampxy(2, 0, s));
  }
  if (verbose > 2) std::cout << " stampxy = " << stampxy << std::endl;
  ref.free();
  eref.free();

  if (!getpicsRmasks(area, varmask)) return -1;
  orv::MArray<float, 2> image_r, e2image_r;
  orv::MArray<short, 2> rmask_calc, rmask_conv;
  if (!readReferenceProducts__(image_r, e2image_r, rmask_calc, rmask_conv)) return -1;

  const orv::Range cx(1, widest + 1), cy(1, highest + 1), params(1, mat), all(1, numberofstamps);
  cc.makeReference(orv::MArray<float, 4>(cx, cy, params, all));
  if (!no_ref_error) e2cc.makeReference(orv::MArray<float, 4>(cx, cy, params, all));
  cc.describeSelf();
  cc = 0.0f;
  if (!no_ref_error) e2cc = 0.0f;

  for (int s = 1; s <= numberofstamps; ++s) {
    std::cout << " ####################### STAMP " << s << " #######################" << std::endl;
    const int x0 = stampxy(1, 0, s), x1 = stampxy(1, 1, s), y0 = stampxy(2, 0, s), y1 = stampxy(2, 1, s);
    if (x0 > x1 || y0 > y1) {
      std::cout << " stamp " << s << " lies outside the basis area: skipped" << std::endl;
      continue;
    }
    if (x1 - x0 < 2 * hx || y1 - y0 < 2 * hy) {
      std::cout << " stamp " << s << " is smaller than the kernel footprint: skipped" << std::endl;
      continue;
    }
    calc_basis(image_r, e2image_r, rmask_calc, rmask_conv, orv::Range(x0, x1), orv::Range(y0, y1), s);
  }
  if (verbose > 1) std::cout << " calc_reference_stamps done! " << std::endl;
  return 0;
}

int diffima::calc_basis(const orv::MArray<float, 2>& image_r, const orv::MArray<float, 2>& e2image_r,
                        const orv::MArray<short, 2>& rmask_calc, const orv::MArray<short, 2>& rmask_conv,
                        const orv::Range& rx, const orv::Range& ry, int s) {
  if (verbose > 0) std::cout << "###################### calc_basis ###################### " << std::endl;
  const bool variances = !no_ref_error;
  orv::MArray<float, 2> W = dia_basis::zeroImage(rx, ry), V;
  if (variances) V.makeReference(dia_basis::zeroImage(rx, ry));
  if (verbose > 3) {
    std::cout << std::endl << " image_r      =   " << std::endl;
    image_r.describeSelf();
    if (variances) {
      std::cout << std::endl << " e2image_r    =   " << std::endl;
      e2image_r.describeSelf();
    }
    std::cout << std::endl << " rmask_calc =   " << std::endl;
    rmask_calc.describeSelf();
    std::cout << std::endl << " rmask_conv =   " << std::endl;
    rmask_conv.describeSelf();
    std::cout << std::endl << " cc         =   " << std::endl;
    W.describeSelf();
  }
  const int x0 = stampxy(1, 0, s), x1 = stampxy(1, 1, s), y0 = stampxy(2, 0, s), y1 = stampxy(2, 1, s);
  if (verbose > 2) {
    std::cout << "stamp_" << s << ":  x,0 = " << x0 << std::endl;
    std::cout << "stamp_" << s << ":  x,1 = " << x1 << std::endl;
    std::cout << "stamp_" << s << ":  y,0 = " << y0 << std::endl;
    std::cout << "stamp_" << s << ":  y,1 = " << y1 << std::endl;
  }
  // The inner area, where the footprint centred on a pixel stays inside the stamp box; the
  // mask covers the fit area only, so pixels beyond it count as masked.
  const int ix0 = x0 + hx, ix1 = x1 - hx, iy0 = y0 + hy, iy1 = y1 - hy;
  const orv::MArray<short, 2>& mask = use_calc_mask ? rmask_calc : rmask_conv;
  auto usable = [&](int x, int y) {
    return x >= mask.first(1) && x <= mask.last(1) && y >= mask.first(2) && y <= mask.last(2) &&
           mask(x, y) == 1;
  };
  const int CX = rx.length, CY = ry.length;
  auto store = [&](orv::MArray<float, 4>& target, const orv::MArray<float, 2>& work, int p) {
    for (int y = 0; y < CY; ++y)
      for (int x = 0; x < CX; ++x) target(x + 1, y + 1, p, s) = work(rx.first + x, ry.first + y);
  };

  nbg = 0;
  if (bg_order >= 0) {
    for (int i = 0; i <= bg_order; ++i)
      for (int j = 0; j <= bg_order - i; ++j) {
        ++nbg;
        for (int y = iy0; y <= iy1; ++y)
          for (int x = ix0; x <= ix1; ++x)
            if (usable(x, y)) W(x, y) = static_cast<float>(powers(x, i, y, j));
        if (verbose > 3) std::cout << nbg << " ";
        std::cout.flush();
        if (!basis_in_memory) {
          writeProduct__(dia_files::backgroundTermName(refpath, i, j), W);
        } else {
          if (verbose > 2) std::cout << " CX = " << CX << " CY = " << CY << std::endl;
          store(cc, W, nbg);
        }
      }
  }

  // The convolution input: the stamp box of the reference (and of its variance), read in
  // place through a view in image coordinates.
  auto stampBox = [&](const orv::MArray<float, 2>& a) {
    orv::MArray<float, 2> box = a(orv::Range(x0, x1), orv::Range(y0, y1));
    box.setBase(x0, y0);
    return box;
  };
  const orv::MArray<float, 2> image_r_trim = stampBox(image_r);
  if (verbose > 2) {
    std::cout << std::endl << " image_r_trim =   " << std::endl;
    image_r_trim.describeSelf();
  }
  orv::MArray<float, 2> e2image_r_trim;
  if (variances) {
    e2image_r_trim.makeReference(stampBox(e2image_r));
    if (verbose > 2) {
      std::cout << " e2image_r_trim = " << std::endl;
      e2image_r_trim.describeSelf();
    }
  }

  // Which pixels of the inner area count, row by row: 0xff or 0.
  const int innerWidth = std::max(0, ix1 - ix0 + 1);
  std::vector<std::uint8_t> usableInner(static_cast<std::size_t>(innerWidth) * std::max(0, iy1 - iy0 + 1));
  for (int y = iy0, k = 0; y <= iy1; ++y)
    for (int x = ix0; x <= ix1; ++x) usableInner[k++] = usable(x, y) ? 0xff : 0;
  auto usableRow = [&](int y) { return &usableInner[static_cast<std::size_t>(y - iy0) * innerWidth]; };

  // The correlations run in one-dimensional passes, sharing the row passes of a Gaussian and
  // x exponent between the basis functions. A basis function with one spatial term has its
  // correlation made straight in the stamp box of W and V and masked there, W and V being 0
  // outside the inner area anyway; with several terms the correlations G and H keep their
  // storage from one basis function to the next.
  dia_basis::BasisCorrelator correlations(*this, image_r_trim, e2image_r_trim);
  const bool inWork = x0 >= rx.first && x1 <= rx.last && y0 >= ry.first && y1 <= ry.last;
  const orv::MArray<float, 2> Wbox = inWork ? stampBox(W) : orv::MArray<float, 2>();
  const orv::MArray<float, 2> Vbox = inWork && variances ? stampBox(V) : orv::MArray<float, 2>();
  orv::MArray<float, 2> G, H;
  int p = nbg + 1;
  for (int n = 1; n <= ngauss; ++n)
    for (int i = 0; i <= d(n); ++i)
      for (int j = 0; j <= d(n) - i; ++j) {
        const int t = (p == nbg + flux_basis) ? 0 : kern_order;
        // One correlation serves every spatial term of the basis function.
        const bool direct = inWork && t == 0;
        if (direct) {
          G.makeReference(Wbox);
          if (variances) H.makeReference(Vbox);
        } else if (G.getData() == Wbox.getData()) {
          G.free();
          H.free();
        }
        correlations.image(p, G);
        if (variances) correlations.variance(p, H);
        for (int a = 0; a <= t; ++a)
          for (int b = 0; b <= t - a; ++b) {
            // Row by row through plain pointers: x runs along memory in every image. The
            // plain term (a power 0 in both) is the masked correlation itself.
            for (int y = iy0; y <= iy1; ++y) {
              const std::uint8_t* ok = usableRow(y);
              float* w = &W(ix0, y);
              float* v = variances ? &V(ix0, y) : nullptr;
              const float* g = &G(ix0, y);
              const float* h = variances ? &H(ix0, y) : nullptr;
              if (a == 0 && b == 0) {
                dia_usable::keepUsable(g, ok, w, innerWidth);
                if (variances) dia_usable::keepUsable(h, ok, v, innerWidth);
                continue;
              }
              for (int k = 0; k < innerWidth; ++k) {
                const double m = powers(ix0 + k, a, y, b);
                w[k] = ok[k] ? static_cast<float>(g[k] * m) : 0.0f;
                if (variances) v[k] = ok[k] ? static_cast<float>(h[k] * (m * m)) : 0.0f;
              }
            }
            if (verbose > 0) std::cout << p - nbg << " " << std::flush;
            if (!basis_in_memory) {
              writeProduct__(dia_files::basisImageName(refpath, p - nbg), W);
              if (variances) writeProduct__(dia_files::basisVarianceName(refpath, p - nbg), V);
            } else {
              store(cc, W, p);
              if (variances) store(e2cc, V, p);
            }
            ++p;
          }
      }
  if (verbose > 0) std::cout << std::endl;
  return 0;
}
