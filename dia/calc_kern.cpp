// The image side of difference imaging: the kernel and background fit over cells.
#include <cmath>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <stdexcept>
#include <string>

#include "dia/cell_median.h"
#include "dia/dia.h"
#include "dia/normal_matrix.h"
#include "dia/product_boxes.h"
#include "dia/product_names.h"
#include "numerics/linsolve.h"
#include "numerics/printf.h"
#include "numerics/stopwatch.h"
#include "orv/fits/fits_image.h"

namespace {

// Runs the stopwatch for the lifetime of the object: around one FITS data read. Pausing in
// the destructor keeps the watch paused also when the read throws.
class ReadTimer {
 public:
  explicit ReadTimer(Stopwatch& watch) : watch_(watch) { watch_.resume(); }
  ~ReadTimer() { watch_.pause(); }
  ReadTimer(const ReadTimer&) = delete;
  ReadTimer& operator=(const ReadTimer&) = delete;

 private:
  Stopwatch& watch_;
};

void printFitArea(int mx0, int mx1, int my0, int my1) {
  std::cout << " mx0 = " << mx0 << std::endl
            << " mx1 = " << mx1 << std::endl
            << " my0 = " << my0 << std::endl
            << " my1 = " << my1 << std::endl;
}

// x^i as a double with an integer power; 1 for i = 0.
double power(int x, int i) {
  double v = 1.0;
  for (int k = 0; k < i; ++k) v *= x;
  return v;
}

}  // namespace

class diffima::ProductReads {
 public:
  ProductReads(Stopwatch& watch, dia_products::ProductBoxes& files) : watch_(watch), files_(files) {}
  // The box [x0 … x1] × [y0 … y1] of the file, indexed in image coordinates. A file that is
  // missing or does not hold the box is named in the exception, with what makes it.
  template <class T>
  orv::MArray<T, 2> read(const std::string& file, int x0, int x1, int y0, int y1) {
    ReadTimer timer(watch_);
    try {
      return files_.read<T>(file, x0, x1, y0, y1);
    } catch (const std::exception& e) {
      throw std::runtime_error("reference product " + file + " cannot be used (" + e.what() +
                               "): the reference step makes the products; run it again");
    }
  }

 private:
  Stopwatch& watch_;
  dia_products::ProductBoxes& files_;
};

std::vector<diffima::KernelTerm> diffima::kernelTerms__() const {
  std::vector<KernelTerm> terms;
  for (int n = 1; n <= ngauss; ++n)
    for (int i = 0; i <= d(n); ++i)
      for (int j = 0; j <= d(n) - i; ++j) {
        const int s = (nbg + 1 + static_cast<int>(terms.size()) == nbg + flux_basis) ? 0 : kern_order;
        for (int k = 0; k <= s; ++k)
          for (int l = 0; l <= s - k; ++l) terms.push_back({n, i, j, k, l});
      }
  return terms;
}

int diffima::cellCount__(int& ncx, int& ncy) const {
  ncx = ncy = 0;
  if (lefx <= 0 || lefy <= 0 || mx1 < mx0 || my1 < my0) return 0;
  ncx = (mx1 - mx0) / lefx + 1;
  ncy = (my1 - my0) / lefy + 1;
  return ncx * ncy;
}

bool diffima::fitCompleted__() const {
  int ncx, ncy;
  const int cells = cellCount__(ncx, ncy);
  return cells > 0 && !cell_factor.isEmpty() && cell_factor.length(1) == cells && !image_i.isEmpty() &&
         image_i.first(1) == mx0 && image_i.last(1) == mx1 && image_i.first(2) == my0 &&
         image_i.last(2) == my1;
}

int diffima::calc_kern(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg,
                       util::Region& area, int lef_, bool circ, int nx, int ny) {
  Stopwatch watch("dia calc_kern image I/O");
  watch.start();
  watch.pause();
  if (verbose > 1) std::cout << "************* calc_kern **************** " << std::endl;
  if (stampxy.first(1) != 1 || stampxy.last(1) != 2 || stampxy.first(2) != 0 || stampxy.last(2) != 1 ||
      stampxy.first(3) != 1 || stampxy.last(3) != numberofstamps) {
    std::cerr << "wrong stampxy in diffima" << std::endl;
    watch.stop("");
    return -1;
  }
  if (!fixArea__(area, img.first(1), img.last(1), img.first(2), img.last(2))) {
    std::cerr << bx0 << " " << mx0 << std::endl
              << bx1 << " " << mx1 << std::endl
              << by0 << " " << my0 << std::endl
              << by1 << " " << my1 << std::endl
              << "wrong area in diffima" << std::endl;
    watch.stop("");
    return -1;
  }
  // One cell when no positive edge is given; nx, ny only when both are positive.
  lef = lef_ > 0 ? lef_ : std::max(mx1 - mx0, my1 - my0) + 1;
  try {
    if (verbose > 2) std::cout << "lef: " << lef << std::endl << std::endl;
    lefx = lefy = lef;
    if (nx > 0 && ny > 0) {
      lefx = static_cast<int>(static_cast<double>(mx1 - mx0) / nx) + 1;
      lefy = static_cast<int>(static_cast<double>(my1 - my0) / ny) + 1;
    }
    // Without files shared by the caller, each product file is opened once for this call.
    dia_products::ProductBoxes ownFiles;
    ProductReads reads(watch, products ? *products : ownFiles);
    fitCells__(img, eimg, circ, reads);
    watch.stop("");
  } catch (const std::exception& e) {
    dia_fatal(e.what(), 1);
  }
  return 0;
}

void diffima::fitCells__(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg, bool circ,
                         ProductReads& reads) {
  const int V = verbose;
  if (V > 2) printFitArea(mx0, mx1, my0, my1);
  int ncx, ncy;
  const int cells = cellCount__(ncx, ncy);
  if (V > 2) std::cout << "total areas: " << cells << std::endl;
  allocateCellResults__(ncx, ncy);
  loadImageSide__(img, eimg);
  const orv::MArray<float, 2> Vr = loadReferenceSide__(reads);

  // P holds the background monomials of the last rectangle summed; a cell that no stamp
  // reaches is not solved, so it never reads another cell's values.
  std::vector<float> P(std::max(nbg, 1));
  forEachCell__([&](int c, int x0, int x1, int y0, int y1) {
    const long t0 = static_cast<long>(std::time(nullptr));
    if (V > 2)
      std::cout << " field = " << c << std::endl
                << " nx = " << x0 << std::endl
                << " ny = " << y0 << std::endl;
    const bool anyStampUsed = sumCell__(c, x0, x1, y0, y1, circ, Vr, P, reads);
    // Solve: only a cell whose stamps gave sums, with a regular, finite solution, is fitted.
    if (!(hits(c) > 0 && good(c) > 10 * mat && anyStampUsed)) return;
    solveCell__(c, (x0 - mx0) / lefx + 1, (y0 - my0) / lefy + 1, ncx, P, t0);
  });

  const std::vector<KernelTerm> terms = kernelTerms__();
  forEachCell__([&](int c, int x0, int, int y0, int) {
    cellKernel__(c, (x0 - mx0) / lefx + 1, (y0 - my0) / lefy + 1, terms);
  });

  const dia_cells::Combined r =
      dia_cells::combineCells(cell_factor, cell_factor_err, cell_constant, cell_constant_err, V);
  factor = r.factor;
  factor_err = r.factor_err;
  constant = r.constant;
  constant_err = r.constant_err;
  if (V > 0) {
    std::cout << std::endl << "---------------------- MEDIAN ------------------" << std::endl;
    std::cout << " factor:     " << factor << " +/- " << factor_err << std::endl;
    std::cout << " constant:   " << constant << " +/- " << constant_err << std::endl;
    std::cout << std::string(48, '-') << std::endl;
  }
  std::cout << std::defaultfloat;
}

void diffima::allocateCellResults__(int ncx, int ncy) {
  const orv::Range allCells(1, ncx * ncy), params(1, mat);
  kern.makeReference(orv::MArray<double, 3>(range_x, range_y, allCells));
  kern = 0.0;
  const int kx = 2 * hx + 1, ky = 2 * hy + 1;
  kern_mosaic.makeReference(orv::MArray<float, 2>(kx * ncx, ky * ncy));
  kern_mosaic = 0.0f;
  coef_map.makeReference(orv::MArray<float, 2>(mat * (ncx + 1) - 1, ncy));
  coef_map = 1.0e10f;
  coef.makeReference(orv::MArray<double, 2>(params, allCells));
  coef = 0.0;
  coef_var.makeReference(orv::MArray<double, 2>(params, allCells));
  coef_var = 0.0;
  for (orv::MArray<double, 1>* a : {&cell_factor, &cell_factor_err, &cell_constant, &cell_constant_err}) {
    a->makeReference(orv::MArray<double, 1>(allCells));
    *a = 0.0;
  }
  good.makeReference(orv::MArray<int, 1>(allCells));
  good = 0;
  hits.makeReference(orv::MArray<int, 1>(allCells));
  hits = 0;
}

void diffima::loadImageSide__(const orv::MArray<float, 2>& img, const orv::MArray<float, 2>& eimg) {
  const int V = verbose;
  // The image over the fit area. A non-finite value or error counts as no data.
  if (V > 1) std::cout << " load images and calculate mask ..." << std::endl << std::endl;
  const orv::Range fx(mx0, mx1), fy(my0, my1);
  image_i.makeReference(orv::MArray<float, 2>(fx, fy));
  image_i = 0.0f;
  if (no_image_error) {
    e2image_i.free();
  } else {
    e2image_i.makeReference(orv::MArray<float, 2>(fx, fy));
    e2image_i = 0.0f;
  }
  auto insideImage = [&](int x, int y) {
    return x >= img.first(1) && x <= img.last(1) && y >= img.first(2) && y <= img.last(2);
  };
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x) {
      if (!insideImage(x, y)) continue;
      const float p = img(x, y);
      const bool data = p != 0.0f && std::isfinite(p);
      if (no_image_error) {
        if (data) image_i(x, y) = p;
        continue;
      }
      const float e = eimg(x, y);
      if (e == -1.0f) {
        e2image_i(x, y) = -1.0f;
      } else if (data && std::isfinite(e) && e >= 0.0f) {
        image_i(x, y) = p;
        e2image_i(x, y) = e;
      }
    }
  // Pixels within the cut radius of a pixel marked −1 lose their data.
  if (!no_image_error) {
    const int k = cut_radius;
    const double reach = static_cast<double>(k) * (k + 1);
    for (int y = my0; y <= my1; ++y)
      for (int x = mx0; x <= mx1; ++x) {
        if (!insideImage(x, y) || eimg(x, y) != -1.0f) continue;
        for (int dy = std::max(-k, my0 - y); dy <= std::min(k, my1 - y); ++dy)
          for (int dx = std::max(-k, mx0 - x); dx <= std::min(k, mx1 - x); ++dx) {
            if (static_cast<double>(dx * dx + dy * dy) > reach) continue;
            image_i(x + dx, y + dy) = 0.0f;
            if (e2image_i(x + dx, y + dy) != -1.0f) e2image_i(x + dx, y + dy) = 0.0f;
          }
      }
  }
  if (V > 2) {
    {
      orv::FitsOut out("image_i.fits");
      write_ima(out, image_i);
    }
    if (!no_image_error) {
      orv::FitsOut out("e.image_i.fits");
      write_ima(out, e2image_i);
    }
    printFitArea(mx0, mx1, my0, my1);
  }
}

orv::MArray<float, 2> diffima::loadReferenceSide__(ProductReads& reads) {
  const int V = verbose;
  // Usable pixels: data on the image side and in the reference's calculation mask.
  if (V > 1) std::cout << " loading rmask ... " << std::endl;
  const orv::MArray<short, 2> rmask = reads.read<short>(refpath + dia_files::calcMask, mx0, mx1, my0, my1);
  if (V > 2) {
    std::cout << "calc_kern: rmask_calc Array" << std::endl;
    rmask.describeSelf();
  }
  imask.makeReference(orv::MArray<bool, 2>(orv::Range(mx0, mx1), orv::Range(my0, my1)));
  for (int y = my0; y <= my1; ++y)
    for (int x = mx0; x <= mx1; ++x)
      imask(x, y) = rmask(x, y) != 0 && (no_image_error ? image_i(x, y) != 0.0f : e2image_i(x, y) > 0.0f);
  orv::MArray<float, 2> Vr;
  if (!no_ref_error) {
    Vr.makeReference(reads.read<float>(refpath + dia_files::referenceVariance, bx0, bx1, by0, by1));
    if (V > 2) {
      std::cout << "calc_kern: e2image_r Array" << std::endl;
      Vr.describeSelf();
    }
  }
  return Vr;
}

bool diffima::sumCell__(int c, int x0, int x1, int y0, int y1, bool circ, const orv::MArray<float, 2>& Vr,
                        std::vector<float>& P, ProductReads& reads) {
  const int rows = mat + 1;  // the basis values, then the image: the last column gives vv
  mm.makeReference(orv::MArray<double, 2>(mat, mat));
  mm = 0.0;
  vv.makeReference(orv::MArray<double, 1>(mat));
  vv = 0.0;
  std::vector<double> sums(static_cast<std::size_t>(rows) * rows, 0.0);
  bool anyStampUsed = false;
  for (int s = 1; s <= numberofstamps; ++s)
    anyStampUsed = addStampSums__(c, s, x0, x1, y0, y1, circ, Vr, P, sums, reads) || anyStampUsed;
  for (int i = 1; i <= mat; ++i) {
    for (int j = i; j <= mat; ++j)
      mm(i, j) = mm(j, i) = sums[static_cast<std::size_t>(i - 1) * rows + (j - 1)];
    vv(i) = sums[static_cast<std::size_t>(i - 1) * rows + mat];
  }
  return anyStampUsed;
}

bool diffima::addStampSums__(int c, int s, int x0, int cx1, int y0, int cy1, bool circ,
                             const orv::MArray<float, 2>& Vr, std::vector<float>& P,
                             std::vector<double>& sums, ProductReads& reads) {
  const int V = verbose;
  const int rows = mat + 1;
  const int sx0 = stampxy(1, 0, s), sx1 = stampxy(1, 1, s), sy0 = stampxy(2, 0, s), sy1 = stampxy(2, 1, s);
  if (V > 2)
    std::cout << std::endl
              << std::string(43, '#') << std::endl
              << " stamp NR " << s << std::endl
              << " stamp x0 = " << sx0 << std::endl
              << " stamp x1 = " << sx1 << std::endl
              << " stamp y0 = " << sy0 << std::endl
              << " stamp y1 = " << sy1 << std::endl;
  if (sx1 < x0 || cx1 < sx0 || sy1 < y0 || cy1 < sy0) {
    if (V > 2) std::cout << " OUTSIDE " << std::endl;
    return false;
  }
  hits(c) += 1;
  const int fx0 = std::max(x0, sx0), fx1 = std::min(cx1, sx1);
  const int fy0 = std::max(y0, sy0), fy1 = std::min(cy1, sy1);
  if (V > 2)
    std::cout << " INSIDE " << std::endl
              << " fx0 = " << fx0 << std::endl
              << " fx1 = " << fx1 << std::endl
              << " fy0 = " << fy0 << std::endl
              << " fy1 = " << fy1 << std::endl;

  // Background monomials at the rectangle's centre, halved as integers.
  const int xc = (fx0 + fx1) / 2, yc = (fy0 + fy1) / 2;
  for (int i = 0, k = 0; i <= bg_order; ++i)
    for (int j = 0; j <= bg_order - i; ++j) P[k++] = static_cast<float>(power(xc, i) * power(yc, j));

  if (circ) {
    const double R = 0.5 * (fy1 - fy0) + 0.5, xm = 0.5 * (fx0 + fx1), ym = 0.5 * (fy0 + fy1);
    for (int y = fy0; y <= fy1; ++y)
      for (int x = fx0; x <= fx1; ++x)
        if ((x - xm) * (x - xm) + (y - ym) * (y - ym) >= R * R) imask(x, y) = false;
  }
  if (V > 2) {
    orv::MArray<int, 2> cellMask(orv::Range(fx0, fx1), orv::Range(fy0, fy1));
    for (int y = fy0; y <= fy1; ++y)
      for (int x = fx0; x <= fx1; ++x) cellMask(x, y) = imask(x, y) ? 1 : 0;
    orv::writeFitsImage("irmask_calc_cell.fits", cellMask);
  }
  long n = 0;
  for (int y = fy0; y <= fy1; ++y)
    for (int x = fx0; x <= fx1; ++x) n += imask(x, y);
  good(c) += static_cast<int>(n);
  if (V > 2)
    std::cout << std::endl
              << "area nr " << c << ":   x: " << fx0 << ".." << fx1 << "   y: " << fy0 << ".." << fy1
              << "  good pixels: " << n << std::endl
              << "     mat = " << mat << std::endl;
  if (n <= 10L * mat) return false;

  // In memory the stamp's cc starts at its first pixel; a rectangle beyond it adds nothing.
  if (basis_in_memory &&
      (fx1 - sx0 + 1 > cc.length(1) || fy1 - sy0 + 1 > cc.length(2) || s > cc.last(4) || cc.last(3) < mat))
    return false;

  // The usable pixels of the rectangle, packed with their weights.
  dia_normal::PackedBasis packed(rows, static_cast<std::size_t>(n));
  {
    double* w = packed.weights();
    float* image = packed.row(mat);
    std::size_t k = 0;
    for (int y = fy0; y <= fy1; ++y)
      for (int x = fx0; x <= fx1; ++x) {
        if (!imask(x, y)) continue;
        const double E = no_image_error ? 0.0 : e2image_i(x, y);
        const double vr = no_ref_error ? 0.0 : Vr(x, y);
        if (!no_ref_error && !no_image_error)
          w[k] = 1.0 / (vr + E * E);
        else if (!no_ref_error)
          w[k] = 1.0 / vr;
        else if (!no_image_error)
          w[k] = 1.0 / (E * E);
        else
          w[k] = 1.0;
        image[k++] = image_i(x, y);
      }
  }
  // Offsets of the usable pixels from the rectangle's first pixel in an array of the given
  // strides: every file read shares one layout, every stamp of cc another.
  std::vector<std::ptrdiff_t> offsets(static_cast<std::size_t>(n));
  auto setOffsets = [&](std::ptrdiff_t strideX, std::ptrdiff_t strideY) {
    std::size_t k = 0;
    for (int y = fy0; y <= fy1; ++y)
      for (int x = fx0; x <= fx1; ++x)
        if (imask(x, y)) offsets[k++] = (x - fx0) * strideX + (y - fy0) * strideY;
  };
  if (!basis_in_memory) {
    int p = 0;
    auto pack = [&](const std::string& file) {
      const orv::MArray<float, 2> T = reads.read<float>(file, fx0, fx1, fy0, fy1);
      if (p == 0) setOffsets(T.stride(1), T.stride(2));
      packed.gatherRow(p++, &T(fx0, fy0), offsets);
    };
    for (int i = 0; i <= bg_order; ++i)
      for (int j = 0; j <= bg_order - i; ++j) pack(dia_files::backgroundTermName(refpath, i, j));
    for (int q = 1; q <= mat - nbg; ++q) pack(dia_files::basisImageName(refpath, q));
    if (V > 4) orv::writeFitsImage("ttti.fits", image_i);
  } else {
    if (V > 2) cc.describeSelf();
    setOffsets(cc.stride(1), cc.stride(2));
    for (int p = 1; p <= mat; ++p) packed.gatherRow(p - 1, &cc(fx0 - sx0 + 1, fy0 - sy0 + 1, p, s), offsets);
  }
  if (V > 1) std::cout << "calculation of mm.dta ....." << std::endl;
  packed.addWeightedProducts(sums);
  return true;
}

void diffima::solveCell__(int c, int column, int row, int ncx, const std::vector<float>& P, long t0) {
  const int V = verbose;
  if (V > 4) {
    std::cout << "mm:" << mm << std::endl << std::endl;
    std::cout << "vv:" << vv << std::endl << std::endl;
  }
  const long t1 = static_cast<long>(std::time(nullptr));
  if (V > 2) std::cout << "  calculation  finished after " << t1 - t0 << " sec" << std::endl;
  const orv::Range params(1, mat);
  orv::MArray<double, 1> solution(params), variance(params);
  const int f = nbg + flux_basis;
  if (flux_basis < 1 || scale <= 0.0f) {
    if (lu_iter(mm, vv, 1, V + 1) != 0) return;
    for (int p = 1; p <= mat; ++p) solution(p) = vv(p), variance(p) = mm(p, p);
  } else {
    // The flux coefficient is 1: its column moves to the right-hand side.
    for (int i = 1; i <= mat; ++i) vv(i) -= mm(i, f);
    solution(f) = 1.0;
    variance(f) = 0.0;
    if (mat > 1) {
      orv::MArray<double, 2> a(mat - 1, mat - 1);
      orv::MArray<double, 1> b(mat - 1);
      for (int i = 1, ri = 1; i <= mat; ++i) {
        if (i == f) continue;
        b(ri) = vv(i);
        for (int j = 1, rj = 1; j <= mat; ++j)
          if (j != f) a(ri, rj++) = mm(i, j);
        ++ri;
      }
      if (lu_iter(a, b, 1, V + 1) != 0) return;
      for (int p = 1, r = 1; p <= mat; ++p)
        if (p != f) solution(p) = b(r), variance(p) = a(r, r), ++r;
    }
  }
  bool finite = true;
  for (int p = 1; p <= mat; ++p) finite = finite && std::isfinite(solution(p)) && std::isfinite(variance(p));
  if (!finite) return;
  for (int p = 1; p <= mat; ++p) {
    coef(p, c) = solution(p);
    coef_var(p, c) = variance(p);
    coef_map(column + (p - 1) * (ncx + 1), row) = static_cast<float>(coef(p, c));
  }
  double constantSum = 0.0;
  for (int k = 1; k <= nbg; ++k) constantSum += static_cast<double>(P[k - 1]) * coef(k, c);
  cell_constant(c) = constantSum;
  cell_constant_err(c) = 1.0e10;
  if (bg_order >= 0 && coef_var(1, c) >= 0) cell_constant_err(c) = std::sqrt(coef_var(1, c));
}

void diffima::cellKernel__(int c, int column, int row, const std::vector<KernelTerm>& terms) {
  const int V = verbose;
  const int kx = 2 * hx + 1, ky = 2 * hy + 1;
  std::cout << std::defaultfloat;
  if (V > 1) {
    std::cout << " background parameter: " << std::endl
              << std::setw(8) << " " << std::setw(8) << "i" << std::setw(8) << "j" << std::setw(40) << "a"
              << std::setw(16) << "err_a" << std::endl;
    for (int i = 0, k = 1; i <= bg_order; ++i)
      for (int j = 0; j <= bg_order - i; ++j, ++k)
        std::cout << std::setw(8) << k << std::setw(8) << i << std::setw(8) << j
                  << dia_printF(40, 6, coef(k, c), 1)
                  << dia_printF(16, 6, std::sqrt(std::fabs(coef_var(k, c))), 1) << std::endl;
    std::cout << " kernel parameter: " << std::endl;
    for (const char* h : {" ", "n", "dnx", "dny", "delx", "dely"}) std::cout << std::setw(8) << h;
    std::cout << std::setw(16) << "a" << std::setw(16) << "err_a" << std::endl;
    for (int p = nbg + 1; p <= mat; ++p) {
      const KernelTerm& t = terms[p - nbg - 1];
      std::cout << std::setw(8) << p << std::setw(8) << t.gauss << std::setw(8) << t.dnx << std::setw(8)
                << t.dny << std::setw(8) << t.delx << std::setw(8) << t.dely << std::setw(16) << coef(p, c)
                << std::setw(16) << std::sqrt(std::fabs(coef_var(p, c))) << std::endl;
    }
  }
  // The kernel is the sum of the basis functions weighted by their constant spatial terms.
  for (int p = nbg + 1; p <= mat; ++p) {
    const KernelTerm& t = terms[p - nbg - 1];
    if (t.delx != 0 || t.dely != 0) continue;
    for (int y = -hy; y <= hy; ++y)
      for (int x = -hx; x <= hx; ++x) kern(x, y, c) += coef(p, c) * basis(x, y, p);
  }
  double sum = 0.0;
  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x) sum += kern(x, y, c);
  cell_factor(c) = sum;
  if (norm_kern && sum != 0.0)
    for (int y = -hy; y <= hy; ++y)
      for (int x = -hx; x <= hx; ++x) kern(x, y, c) /= sum;
  for (int y = -hy; y <= hy; ++y)
    for (int x = -hx; x <= hx; ++x)
      kern_mosaic((column - 1) * kx + x + hx + 1, (row - 1) * ky + y + hy + 1) =
          static_cast<float>(kern(x, y, c));
  cell_factor_err(c) = flux_basis > 0 ? std::sqrt(std::fabs(coef_var(nbg + flux_basis, c))) : 0.0;
  if (V > 1) {
    std::cout << " factor:      " << dia_printF(16, 3, cell_factor(c), 1) << " +/-"
              << dia_printF(16, 3, cell_factor_err(c), 1) << std::endl;
    std::cout << " constant:    " << dia_printF(16, 3, cell_constant(c), 1) << " +/-"
              << dia_printF(16, 3, cell_constant_err(c), 1) << std::endl;
  }
}
