// The reference, or its variance, correlated directly with the fitted kernel of each cell,
// or with a kernel rebuilt at every pixel when the kernel varies over the image.
#include <cmath>
#include <ctime>
#include <iostream>

#include "dia/dia.h"
#include "dia/product_names.h"
#include "orv/fits/fits_image.h"

int diffima::convolve_kern(orv::Range rx, orv::Range ry, orv::MArray<float, 2>& out) {
  return convolveKernel__(false, rx, ry, out);
}

int diffima::convolve_kern_e(orv::Range rx, orv::Range ry, orv::MArray<float, 2>& out) {
  return convolveKernel__(true, rx, ry, out);
}

void diffima::rebuildKernel__(int n, int x, int y, const std::vector<KernelTerm>& terms) {
  for (int j = -hy; j <= hy; ++j)
    for (int i = -hx; i <= hx; ++i) kern(i, j, n) = 0.0;
  for (int p = nbg + 1; p <= mat; ++p) {
    const KernelTerm& t = terms[p - nbg - 1];
    double P = 1.0;
    for (int k = 0; k < t.delx; ++k) P *= x;
    for (int l = 0; l < t.dely; ++l) P *= y;
    const double c = coef(p, n);
    for (int j = -hy; j <= hy; ++j)
      for (int i = -hx; i <= hx; ++i) kern(i, j, n) += (c * basis(i, j, p)) * P;
  }
}

int diffima::convolveKernel__(bool variance, const orv::Range& rx, const orv::Range& ry,
                              orv::MArray<float, 2>& out) {
  const int V = verbose;
  if (V > 0) std::cout << " ##################### convolve_kern ################ " << std::endl;
  if (variance && no_ref_error) return 0;
  if (!convolutionAreaOk__(rx, ry)) return -1;
  auto printArea = [&] {
    std::cout << " mx0 = " << mx0 << std::endl
              << " mx1 = " << mx1 << std::endl
              << " my0 = " << my0 << std::endl
              << " my1 = " << my1 << std::endl;
  };
  try {
    if (V > 2 && !variance) printArea();
    const long t0 = static_cast<long>(std::time(nullptr));
    if (V > (variance ? 1 : 2)) std::cout << "  nbg+1 = " << nbg + 1 << "  mat   = " << mat << std::endl;
    if (!variance && V > 1) std::cout << " ############# Convolution image ########### " << std::endl;
    if (variance && V > 0) {
      std::cout << " ############# convolution error image ########### " << std::endl;
      if (V > 2) printArea();
    }
    orv::MArray<float, 2> image_r = orv::readFitsBox<float>(
        refpath + (variance ? dia_files::referenceVariance : dia_files::modifiedReference), bx0, bx1, by0,
        by1);
    if (V > 2) {
      std::cout << (variance ? "convolve: e2image_r Array" : "convolve: image_r Array  ") << std::endl;
      image_r.describeSelf();
    }
    const orv::MArray<short, 2> mask = orv::readFitsBox<short>(
        refpath + (variance ? dia_files::varianceConvMask : dia_files::convMask), mx0, mx1, my0, my1);
    orv::MArray<float, 2> image_rk(orv::Range(mx0, mx1), orv::Range(my0, my1));
    image_rk = 0.0f;

    // With a kernel per cell the variance takes the squared kernel.
    orv::MArray<float, 3> kernels(range_x, range_y, orv::Range(kern.first(3), kern.last(3)));
    if (kern_order == 0)
      for (int n = kern.first(3); n <= kern.last(3); ++n)
        for (int j = -hy; j <= hy; ++j)
          for (int i = -hx; i <= hx; ++i)
            kernels(i, j, n) = static_cast<float>(variance ? kern(i, j, n) * kern(i, j, n) : kern(i, j, n));
    const std::vector<KernelTerm> terms = kernelTerms__();

    forEachCell__([&](int n, int x0, int x1, int y0, int y1) {
      if (!variance) {
        if (V > 2)
          std::cout << " ######## " << n << " ######### " << std::endl
                    << " number of stamps(" << n << ") = " << hits(n) << std::endl;
        std::cout << "fx0 = " << x0 << std::endl
                  << "fx1 = " << x1 << std::endl
                  << "fy0 = " << y0 << std::endl
                  << "fy1 = " << y1 << std::endl;
      }
      if (cell_factor(n) == 0.0) return;  // not fitted: no kernel to apply
      if (kern_order == 0) {
        const orv::MArray<float, 2> K(kernels, orv::Range::all(), orv::Range::all(), n);
        if (V > 1 && !variance) std::cout << " ... start convolution ... " << std::endl;
        // The view keeps image coordinates, so the result is indexed like the cell.
        orv::MArray<float, 2> image_r_big =
            image_r(orv::Range(x0 - hx, x1 + hx), orv::Range(y0 - hy, y1 + hy));
        image_r_big.setBase(x0 - hx, y0 - hy);
        const orv::MArray<float, 2> image_rk_big = convolve2d_circ(K, image_r_big);
        if (V > 3 && !variance) {
          std::cout << "convolve: image_r_big  " << std::endl;
          image_r_big.describeSelf();
          std::cout << "convolve: image_rk_big  " << std::endl;
          image_rk_big.describeSelf();
          std::cout << "convolve: image_rk      " << std::endl;
          image_rk.describeSelf();
          std::cout << "convolve: rmask_conv  " << std::endl;
          mask.describeSelf();
        }
        for (int y = y0; y <= y1; ++y)
          for (int x = x0; x <= x1; ++x) image_rk(x, y) = mask(x, y) != 0 ? image_rk_big(x, y) : 0.0f;
        if (V > 1 && !variance) std::cout << " ... convolution ended ... " << std::endl;
        return;
      }
      for (int y = y0; y <= y1; ++y) {
        if (V > 4) std::cout << y << " " << std::flush;
        for (int x = x0; x <= x1; ++x) {
          if (mask(x, y) != 1) {
            image_rk(x, y) = (variance && image_r(x, y) == -1.0f) ? -1.0f : 0.0f;
            continue;
          }
          if (V > 4) std::cout << "." << std::flush;
          rebuildKernel__(n, x, y, terms);
          float sum = 0.0f;
          for (int j = -hy; j <= hy; ++j)
            for (int i = -hx; i <= hx; ++i) {
              if (!quad(i, j)) continue;
              const double k = kern(i, j, n);
              sum = static_cast<float>(sum +
                                       static_cast<double>(image_r(x + i, y + j)) * (variance ? k * k : k));
            }
          image_rk(x, y) = sum;
        }
      }
    });
    image_r.free();
    const long t1 = static_cast<long>(std::time(nullptr));
    if (V > (variance ? 1 : 2))
      std::cout << std::endl << " convolution   ended after " << t1 - t0 << " sec" << std::endl;

    out.makeReference(orv::MArray<float, 2>(orv::Range(rx.first, rx.first + rx.length - 1),
                                            orv::Range(ry.first, ry.first + ry.length - 1)));
    out = 0.0f;
    for (int y = my0; y <= my1; ++y)
      for (int x = mx0; x <= mx1; ++x) {
        const float v = image_rk(x, y);
        out(x, y) = !variance ? v : v > 0.0f ? std::sqrt(v) : v == -1.0f ? -1.0f : 0.0f;
      }
  } catch (const std::exception& e) {
    dia_fatal(e.what(), 1);
  }
  return 0;
}
