// The result stage of one image: centre values, diagnostic images, correction, output files.
#include "tarvole/result_stage.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "orv/fits/fits_image.h"
#include "tarvole/block_means.h"
#include "tarvole/create.h"
#include "tarvole/names.h"

namespace {

bool inside(const Image& a, int x, int y) {
  return x >= a.first(1) && x <= a.last(1) && y >= a.first(2) && y <= a.last(2);
}

// The value at the centre, NaN when the centre lies outside the image.
float centre_value(const Image& a, const Pliste& P) {
  return inside(a, P.cx, P.cy) ? a(P.cx, P.cy) : std::numeric_limits<float>::quiet_NaN();
}

// A pixel of the image as read that holds data: a value other than 0 or a positive error.
inline bool has_data(const Image& I, const Image& eI, int x, int y) {
  return I(x, y) != 0.0f || eI(x, y) > 0.0f;
}

// 4x4 block means of the sky minus its value at the centre (0 when the centre is outside).
Image binned_sky(const Image& I, const Image& eI, const Image& S, const Pliste& P) {
  const float blank = P.blank;
  const float centre = inside(S, P.cx, P.cy) ? S(P.cx, P.cy) : 0.0f;
  return block_means(
      S, 4, [&](int x, int y) { return has_data(I, eI, x, y) && S(x, y) != blank; }, centre);
}

// 2x2 block means of the residual MR - (A*MI - S) where reference, image and absorption hold
// data, and 0 elsewhere.
Image binned_residual(const Image& I, const Image& eI, const Image& MR, const Image& MI, const Image& A,
                      const Image& S, const Pliste& P) {
  const float blank = P.blank;
  const int nx = MR.last(1), ny = MR.last(2);
  Image D(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const float r = MR(x, y), i = MI(x, y), a = A(x, y);
      D(x, y) = (r != blank && i != blank && a != blank) ? r - (a * i - S(x, y)) : 0.0f;
    }
  return block_means(D, 2, [&](int x, int y) { return has_data(I, eI, x, y) && D(x, y) != blank; });
}

// The HISTORY text: the reference as named and the words of the methods in use.
std::string history_text(const std::string& reference_name, const Pliste& P) {
  std::string text = "reference: " + reference_name + "            methods:";
  if (P.abs_poly > 0) text += "    abs_poly";
  if (P.abs_bicu) text += "    abs_bicu";
  if (P.binspline) text += "    abs_binspline";
  return text;
}

}  // namespace

bool result_stage(const Image& R, const Image& eR, Image& I, Image& eI, const Image& MR, const Image& MI,
                  const Image& A, const Image& S, const Coefficients& c, const std::string& reference_name,
                  const std::string& image_name, const orv::FitsHeader& header, Pliste& P) {
  std::cout << std::fixed;
  if (!inside(A, P.cx, P.cy))
    std::cerr << "warning: centre " << P.cx << " " << P.cy << " lies outside " << image_name << std::endl;
  if (P.verbose > 1) orv::writeFitsImage(newname(P.outname, "abs-"), A);
  std::cout << " abs = " << centre_value(A, P) << std::endl;
  if (P.verbose > 1) orv::writeFitsImage(newname(P.outname, "skybinned-"), binned_sky(I, eI, S, P));
  if (P.verbose > 0) orv::writeFitsImage(newname(P.outname, "sky-"), S);
  std::cout << " sky = " << centre_value(S, P) << std::endl;
  if (P.verbose > 2)
    orv::writeFitsImage(newname(P.outname, "diff-"), binned_residual(I, eI, MR, MI, A, S, P));

  create(R, eR, I, eI, A, S, c, P);

  std::cout << "writing images: " << std::endl << P.outname << std::endl;
  orv::FitsOut out(P.outname, header, false, false);
  struct Card {
    const char* key;
    double value;
    const char* comment;
  };
  const double zeropoint = 2.5 * std::log10(c(1));
  const Card cards[] = {{"ABSORP  ", c(1), "A=R/I   for R=A*(I-B)"},
                        {"NSKY    ", c(2), "sky=A*B for R=A*(I-B)"},
                        {"NSKYDX  ", c(3), "skygrad x/abs"},
                        {"NSKYDY  ", c(4), "skygrad y/abs"},
                        {"ABSIDX  ", c(5), "absIgrad x"},
                        {"ABSIDY  ", c(6), "absIgrad y"},
                        {"ZPOFFSET", zeropoint, "zeropoint offset"}};
  bool complete = true;
  for (const Card& card : cards) {
    if (std::isfinite(card.value)) {
      out.addValueCard(card.key, card.value, card.comment, true);
    } else {
      // A header card cannot hold a value that is not finite: the card is left out.
      std::cerr << "warning: " << card.key << " of " << P.outname << " is not finite (" << card.value
                << "), card left out" << std::endl;
      complete = false;
    }
  }
  std::cout << "zeropoint offset = " << zeropoint << std::endl;
  out.addHistory(history_text(reference_name, P));
  out << I;

  if (P.error) {
    orv::FitsIn error_in(newname(image_name, "e."), false, true);
    std::cout << P.errname << std::endl;
    orv::FitsOut error_out(P.errname, error_in, false, false);
    error_out << eI;
  }
  return complete;
}
