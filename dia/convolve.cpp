// Full-frame convolution with the fitted kernel, from the stored basis-convolved references:
// the model of the image, the image side and their difference, or their errors.
#include <cmath>
#include <ctime>
#include <iostream>

#include "dia/dia.h"
#include "dia/product_names.h"
#include "orv/fits/fits_image.h"

bool diffima::convolutionAreaOk__(const orv::Range& rx, const orv::Range& ry) const {
  const bool ok = fitCompleted__() && rx.first <= mx0 && rx.last >= mx1 && ry.first <= my0 && ry.last >= my1;
  if (!ok) std::cerr << "wrong area in diffima" << std::endl;
  return ok;
}

int diffima::convolve(const orv::MArray<float, 2>& img, orv::MArray<float, 2>& rk, orv::MArray<float, 2>& dif,
                      int mode) {
  const bool imageMode = mode == 1;
  if (!imageMode && (no_ref_error || no_image_error)) return -1;
  const orv::Range ix(img.first(1), img.last(1)), iy(img.first(2), img.last(2));
  if (!convolutionAreaOk__(ix, iy)) return -1;
  try {
    const int V = verbose;
    if (V > 3) {
      conv_a.makeReference(orv::MArray<float, 2>(ix, iy));
      conv_a = 0.0f;
      conv_b.makeReference(orv::MArray<float, 2>(ix, iy));
      conv_b = 0.0f;
    }
    const orv::Range fx(mx0, mx1), fy(my0, my1);
    orv::MArray<float, 2> backgr(fx, fy), image_rk(fx, fy), nimage_i(fx, fy);
    backgr = 0.0f;
    image_rk = 0.0f;
    nimage_i = 0.0f;
    const orv::MArray<float, 2> reference = orv::readFitsBox<float>(
        refpath + (imageMode ? dia_files::modifiedReference : dia_files::referenceVariance), bx0, bx1, by0,
        by1);
    const orv::MArray<short, 2> mask = orv::readFitsBox<short>(
        refpath + (imageMode ? dia_files::convMask : dia_files::varianceConvMask), mx0, mx1, my0, my1);
    if (V > 2) {
      std::cout << "convolve: image_r Array" << std::endl;
      reference.describeSelf();
    }
    const long t0 = static_cast<long>(std::time(nullptr));
    if (V > 2) std::cout << "  nbg+1 = " << nbg + 1 << "  mat   = " << mat << std::endl;

    // Used cells: enough usable pixels and a non-zero factor to divide by.
    int cells = 0;
    forEachCell__([&](int, int, int, int, int) { ++cells; });
    orv::MArray<int, 1> good_pixels(cells);
    good_pixels = 0;
    forEachCell__([&](int n, int x0, int x1, int y0, int y1) {
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) good_pixels(n) += imask(x, y) ? 1 : 0;
    });
    if (V > 2) std::cout << " AREAS: " << cells << std::endl << " GOOD_PIXELS = " << good_pixels << std::endl;
    auto forEachUsedCell = [&](auto fn) {
      forEachCell__([&](int n, int x0, int x1, int y0, int y1) {
        if (good_pixels(n) > 10 * mat && cell_factor(n) != 0.0) fn(n, x0, x1, y0, y1);
      });
    };
    // Adds weight(n) · file over every used cell, in double, stored as float. Every product
    // is read into the same array, filled in place: no fresh frame per file.
    orv::MArray<float, 2> product;
    auto addWeighted = [&](orv::MArray<float, 2>& target, const std::string& file, auto weight) {
      orv::FitsIn in(file);
      if (!product.isEmpty() &&
          (in.getNaxis() != 2 || in.getNaxis(1) != product.length(1) || in.getNaxis(2) != product.length(2)))
        product.free();
      in >> product;
      forEachUsedCell([&](int n, int x0, int x1, int y0, int y1) {
        const double w = weight(n);
        for (int y = y0; y <= y1; ++y)
          for (int x = x0; x <= x1; ++x) target(x, y) = static_cast<float>(target(x, y) + w * product(x, y));
      });
    };

    if (imageMode && bg_order >= 0) {
      int p = 0;
      for (int i = 0; i <= bg_order; ++i)
        for (int j = 0; j <= bg_order - i; ++j) {
          ++p;
          addWeighted(backgr, dia_files::backgroundTermName(refpath, i, j),
                      [&](int n) { return coef(p, n); });
        }
    }
    for (int p = nbg + 1; p <= mat; ++p) {
      if (imageMode)
        addWeighted(image_rk, dia_files::basisImageName(refpath, p - nbg), [&](int n) { return coef(p, n); });
      else
        addWeighted(image_rk, dia_files::basisVarianceName(refpath, p - nbg),
                    [&](int n) { return coef(p, n) * coef(p, n); });
    }

    forEachUsedCell([&](int n, int x0, int x1, int y0, int y1) {
      const double f = cell_factor(n), sf = cell_factor_err(n);
      const float ff = static_cast<float>(f), f2 = static_cast<float>(f * f);
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
          if (V > 3 && kern_order == 0) conv_a(x, y) = ff;
          if (imageMode && !norm_kern) {
            image_rk(x, y) = backgr(x, y) + image_rk(x, y);
            nimage_i(x, y) = image_i(x, y);
          } else if (imageMode) {
            image_rk(x, y) = image_rk(x, y) / ff;
            nimage_i(x, y) = static_cast<float>(static_cast<float>(image_i(x, y) - backgr(x, y)) / f);
          } else if (!norm_kern) {
            nimage_i(x, y) = e2image_i(x, y);
          } else {
            image_rk(x, y) = image_rk(x, y) / f2;
            if (!conv_flag) {
              const double a = e2image_i(x, y) / f, b = image_i(x, y) / (f * f) * sf;
              nimage_i(x, y) = static_cast<float>(std::sqrt(a * a + b * b));
            } else {
              nimage_i(x, y) = static_cast<float>(e2image_i(x, y) / std::fabs(f));
            }
          }
        }
    });
    for (int y = my0; y <= my1; ++y)
      for (int x = mx0; x <= mx1; ++x) {
        if (mask(x, y) == 0) image_rk(x, y) = 0.0f;
        if (image_i(x, y) == 0.0f) nimage_i(x, y) = 0.0f;
        if (mode == 0) {
          if (reference(x, y) == -1.0f) image_rk(x, y) = -1.0f;
          if (image_i(x, y) == -1.0f) nimage_i(x, y) = -1.0f;
        }
      }
    if (V > 2) {
      orv::writeFitsImage(imageMode ? "image_rk.fits" : "e2.image_rk.fits", image_rk);
      orv::writeFitsImage(imageMode ? "nimage_i.fits" : "e.nimage_i.fits", nimage_i);
      if (imageMode) orv::writeFitsImage("backgr.fits", backgr);
    }
    const long t1 = static_cast<long>(std::time(nullptr));
    if (V > 2) std::cout << std::endl << " convolution   ended after " << t1 - t0 << " sec" << std::endl;

    rk.makeReference(orv::MArray<float, 2>(ix, iy));
    rk = 0.0f;
    dif.makeReference(orv::MArray<float, 2>(ix, iy));
    dif = 0.0f;
    for (int y = my0; y <= my1; ++y)
      for (int x = mx0; x <= mx1; ++x) {
        const float r = image_rk(x, y), s = nimage_i(x, y);
        if (imageMode) {
          rk(x, y) = r;
          dif(x, y) = (s != 0.0f && r != 0.0f) ? s - r : 0.0f;
          if (V > 3) conv_b(x, y) = backgr(x, y);
        } else {
          rk(x, y) = r > 0.0f ? std::sqrt(r) : r;
          if (r > 0.0f && s > 0.0f)
            dif(x, y) = std::sqrt(s * s + r);
          else
            dif(x, y) = (s == -1.0f || r == -1.0f) ? -1.0f : 0.0f;
        }
      }
  } catch (const std::exception& e) {
    dia_fatal(e.what(), 1);
  }
  return 0;
}
