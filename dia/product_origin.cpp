#include "dia/product_origin.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <random>

#include "util/region.h"

namespace dia_files {

namespace {

constexpr std::uint64_t fnvOffset = 14695981039346656037ull;
constexpr std::uint64_t fnvPrime = 1099511628211ull;

// At most 68 characters fit between the quotes of a string card.
constexpr std::size_t maxStringValue = 68;

void hashBytes(std::uint64_t& h, std::uint32_t bits) {
  for (int k = 0; k < 4; ++k) {
    h ^= (bits >> (8 * k)) & 0xffu;
    h *= fnvPrime;
  }
}

std::string hex(std::uint64_t value) {
  char text[17];
  for (int k = 15; k >= 0; --k, value >>= 4) text[k] = "0123456789abcdef"[value & 0xfu];
  text[16] = '\0';
  return text;
}

// The shortest text that reads back as the same double.
std::string shortest(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// FITS string values keep their leading blanks; trailing ones do not count.
std::string withoutTrailingBlanks(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace

std::string pixelChecksum(const orv::MArray<float, 2>& image) {
  std::uint64_t h = fnvOffset;
  if (image.isEmpty()) return hex(h);
  const std::ptrdiff_t step = image.stride(1);
  for (int y = image.first(2); y <= image.last(2); ++y) {
    const float* row = &image(image.first(1), y);
    for (int k = 0; k < image.length(1); ++k) {
      std::uint32_t bits;
      std::memcpy(&bits, row + k * step, sizeof bits);
      hashBytes(h, bits);
    }
  }
  return hex(h);
}

std::string kernelSettings(const orv::MArray<int, 1>& degrees, const orv::MArray<double, 1>& sigmas, int hx,
                           int hy, int kernOrder, int fluxBasis) {
  std::string text = "d=";
  for (int n = degrees.first(1); n <= degrees.last(1); ++n)
    text += (n == degrees.first(1) ? "" : ",") + std::to_string(degrees(n));
  text += " sig=";
  for (int n = sigmas.first(1); n <= sigmas.last(1); ++n)
    text += (n == sigmas.first(1) ? "" : ",") + shortest(sigmas(n));
  text += " half=" + std::to_string(hx) + "," + std::to_string(hy) + " order=" + std::to_string(kernOrder) +
          " flux=" + std::to_string(fluxBasis);
  if (text.size() <= maxStringValue) return text;
  std::uint64_t h = fnvOffset;
  for (const unsigned char c : text) {
    h ^= c;
    h *= fnvPrime;
  }
  return "fnv=" + hex(h);
}

std::string newProductSet() {
  std::random_device source;
  const std::uint64_t high = source(), low = source();
  return hex((high << 32) ^ low);
}

void addOriginCards(orv::FitsHeader& header, const ProductOrigin& origin) {
  header.addValueCard(setKey, origin.set, "run of the reference step", true);
  header.addValueCard(stepKey, origin.step, "reference step", true);
  header.addValueCard(backgroundOrderKey, origin.backgroundOrder, "background order", true);
  header.addValueCard(kernelKey, origin.kernel, "kernel", true);
  header.addValueCard(widthKey, origin.referenceWidth, "reference pixels in x", true);
  header.addValueCard(heightKey, origin.referenceHeight, "reference pixels in y", true);
  header.addValueCard(checksumKey, origin.referenceChecksum, "FNV-1a 64 of the reference pixel bits", true);
}

std::optional<ProductOrigin> readOriginCards(const orv::FitsHeader& header) {
  try {
    ProductOrigin origin;
    origin.set = withoutTrailingBlanks(header.getString(setKey));
    origin.step = withoutTrailingBlanks(header.getString(stepKey));
    origin.backgroundOrder = static_cast<int>(header.getInt(backgroundOrderKey));
    origin.kernel = withoutTrailingBlanks(header.getString(kernelKey));
    origin.referenceWidth = static_cast<int>(header.getInt(widthKey));
    origin.referenceHeight = static_cast<int>(header.getInt(heightKey));
    origin.referenceChecksum = withoutTrailingBlanks(header.getString(checksumKey));
    return origin;
  } catch (const orv::FitsException&) {
    return std::nullopt;
  }
}

template <class T>
bool readProductOfSet(const std::string& file, const std::string& set, orv::MArray<T, 2>& a) {
  orv::FitsIn in(file);
  const auto origin = readOriginCards(in);
  if (!origin || origin->set != set) return false;
  in >> a;
  return true;
}

template <class T>
bool readProductOfSet(const std::string& file, const std::string& set, int x0, int x1, int y0, int y1,
                      orv::MArray<T, 2>& a) {
  util::Region box(2);
  box.setRange(1, x0, x1);
  box.setRange(2, y0, y1);
  orv::FitsIn in(file, box);
  const auto origin = readOriginCards(in);
  if (!origin || origin->set != set) return false;
  in >> a;
  a.setBase(x0, y0);
  return true;
}

template bool readProductOfSet(const std::string&, const std::string&, orv::MArray<float, 2>&);
template bool readProductOfSet(const std::string&, const std::string&, orv::MArray<short, 2>&);
template bool readProductOfSet(const std::string&, const std::string&, int, int, int, int,
                               orv::MArray<float, 2>&);
template bool readProductOfSet(const std::string&, const std::string&, int, int, int, int,
                               orv::MArray<short, 2>&);

}  // namespace dia_files
