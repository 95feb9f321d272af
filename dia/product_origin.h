// The origin of a reference product: header cards that tie each file the reference step writes
// to the reference it was made from, to the step and its settings, and to the other files of
// the same run of the step. A reader compares them before it trusts a set of products.
#ifndef DIA_PRODUCT_ORIGIN_H
#define DIA_PRODUCT_ORIGIN_H

#include <optional>
#include <string>

#include "orv/fits/fits.h"
#include "orv/marray.h"

namespace dia_files {

// What a product records of the run of the reference step that wrote it.
struct ProductOrigin {
  int referenceWidth = 0;  // the reference's extent in x and y
  int referenceHeight = 0;
  std::string referenceChecksum;  // pixelChecksum of the reference
  std::string step;               // the step, as its caller names it ("stars", "field")
  int backgroundOrder = 0;
  std::string kernel;  // kernelSettings of the engine
  std::string set;     // one identifier for every product of one run of the step
};

// The keywords of the cards, in the order they are written.
inline constexpr const char* setKey = "DIASET  ";
inline constexpr const char* stepKey = "DIASTEP ";
inline constexpr const char* backgroundOrderKey = "DIABGORD";
inline constexpr const char* kernelKey = "DIAKERN ";
inline constexpr const char* widthKey = "DIAREFN1";
inline constexpr const char* heightKey = "DIAREFN2";
inline constexpr const char* checksumKey = "DIAREFCK";

// A 64-bit FNV-1a hash of the bit patterns of the pixels, as 16 lower-case hex digits: y outer,
// x inner, each 32-bit pattern fed least significant byte first. Equal images give equal sums;
// any changed bit, a value replaced by another one (also 0.0 by -0.0) changes it.
std::string pixelChecksum(const orv::MArray<float, 2>& image);

// The kernel settings as one card value, "d=6,4,2,0 sig=1,3,9,0.1 half=17,17 order=0 flux=1"
// (degrees and sigmas per Gaussian, half sizes, spatial order, flux basis; numbers in their
// shortest exact form); a text too long for a string card is given as "fnv=" and its hash.
std::string kernelSettings(const orv::MArray<int, 1>& degrees, const orv::MArray<double, 1>& sigmas, int hx,
                           int hy, int kernOrder, int fluxBasis);

// A new identifier for the products of one run of the step: 16 hex digits from the system's
// random source, so that two runs, also concurrent ones, never share one.
std::string newProductSet();

// Adds the cards of origin to a header about to be written.
void addOriginCards(orv::FitsHeader& header, const ProductOrigin& origin);

// The origin that a header's cards record; none when a card is missing or of another type.
std::optional<ProductOrigin> readOriginCards(const orv::FitsHeader& header);

// Reads the image of the product file into a, whole (indexed from 1) or over the box [x0 … x1] ×
// [y0 … y1] (indexed in image coordinates), when its cards name the run `set` of the step; false,
// having read no pixels, when they name another run or none. Cards and pixels come from one
// opening of the file, so a file replaced meanwhile cannot slip in between.
template <class T>
bool readProductOfSet(const std::string& file, const std::string& set, orv::MArray<T, 2>& a);
template <class T>
bool readProductOfSet(const std::string& file, const std::string& set, int x0, int x1, int y0, int y1,
                      orv::MArray<T, 2>& a);

}  // namespace dia_files

#endif
