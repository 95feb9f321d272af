// The header pass of the overlap cutter, the scale check and the placement in the common frame.
#include "brisel/image_table.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "brisel/output_names.h"
#include "orv/fits/fits.h"

namespace {

// A zero-filled table column of n entries from index 1.
template <class T>
orv::MArray<T, 1> zeroColumn(int n) {
  orv::MArray<T, 1> column(n);
  column = T(0);
  return column;
}

// Refuses an image that the cut cannot copy row by row: not two-dimensional, without pixels,
// or with a data segment that ends early (the cut would fail after writing began).
void requireCompleteImage(orv::FitsIn& in, const std::string& file) {
  if (in.getNaxis() != 2)
    throw std::runtime_error(
        "file '" + file + "' is not a two-dimensional image (NAXIS = " + std::to_string(in.getNaxis()) + ")");
  if (in.getNaxis(1) < 1 || in.getNaxis(2) < 1) throw std::runtime_error("file '" + file + "' has no pixels");
  // Mapping the last row checks that the file holds the whole data segment, without reading it.
  util::Region lastRow(2);
  lastRow.setRange(1, 1, in.getNaxis(1));
  lastRow.setRange(2, in.getNaxis(2), in.getNaxis(2));
  in.setRegion(lastRow);
  in.openData();
  in.freeData();
}

// The value of a keyword, or none when the header cannot give it.
std::optional<double> optionalValue(const orv::FitsHeader& header, const std::string& keyword) {
  try {
    return header.getFloat(keyword);
  } catch (const orv::FitsException&) {
    return std::nullopt;
  }
}

// Row j of the CD columns. CD1_1 and CD2_2 give the matrix, an absent CD1_2 or CD2_1 reading as
// 0 as the world-coordinate convention has it; without them CDELT1 and CDELT2 stand for CD1_1
// and CD2_2, the off-diagonal terms still taken from the header where it has them. A header
// with neither pair is refused, naming the file and the keywords it lacks.
void readScale(const orv::FitsHeader& header, const std::string& file, ImageTable& table, int j) {
  const std::optional<double> cd1_1 = optionalValue(header, "CD1_1   ");
  const std::optional<double> cd2_2 = optionalValue(header, "CD2_2   ");
  table.cd1_2(j) = optionalValue(header, "CD1_2   ").value_or(0.0);
  table.cd2_1(j) = optionalValue(header, "CD2_1   ").value_or(0.0);
  if (cd1_1 && cd2_2) {
    table.cd1_1(j) = *cd1_1;
    table.cd2_2(j) = *cd2_2;
    return;
  }
  const std::optional<double> cdelt1 = optionalValue(header, "CDELT1  ");
  const std::optional<double> cdelt2 = optionalValue(header, "CDELT2  ");
  if (cdelt1 && cdelt2) {
    table.cd1_1(j) = *cdelt1;
    table.cd2_2(j) = *cdelt2;
    return;
  }
  std::string missing;
  const std::pair<const char*, bool> keywords[] = {{"CD1_1", cd1_1.has_value()},
                                                   {"CD2_2", cd2_2.has_value()},
                                                   {"CDELT1", cdelt1.has_value()},
                                                   {"CDELT2", cdelt2.has_value()}};
  for (const auto& [keyword, present] : keywords)
    if (!present) missing += (missing.empty() ? "" : ", ") + std::string(keyword);
  throw std::runtime_error("file '" + file +
                           "' has no pixel scale: neither CD1_1 and CD2_2 nor CDELT1 and CDELT2 (missing " +
                           missing + ")");
}

}  // namespace

ImageTable::ImageTable(int n)
    : cd1_1(zeroColumn<double>(n)),
      cd1_2(zeroColumn<double>(n)),
      cd2_1(zeroColumn<double>(n)),
      cd2_2(zeroColumn<double>(n)),
      crval1(zeroColumn<double>(n)),
      crval2(zeroColumn<double>(n)),
      crpix1(zeroColumn<double>(n)),
      crpix2(zeroColumn<double>(n)),
      naxis1(zeroColumn<int>(n)),
      naxis2(zeroColumn<int>(n)),
      xstart(zeroColumn<int>(n)),
      xend(zeroColumn<int>(n)),
      ystart(zeroColumn<int>(n)),
      yend(zeroColumn<int>(n)) {}

ImageTable read_image_table(const std::vector<std::string>& files, bool withError) {
  ImageTable table(static_cast<int>(files.size()));
  for (int j = 1; j <= table.count(); ++j) {
    const std::string& file = files[j - 1];
    orv::FitsIn header(file, false, false);
    readScale(header, file, table, j);
    table.crval1(j) = header.getFloat("CRVAL1  ");
    table.crval2(j) = header.getFloat("CRVAL2  ");
    table.crpix1(j) = header.getFloat("CRPIX1  ");
    table.crpix2(j) = header.getFloat("CRPIX2  ");
    table.naxis1(j) = static_cast<int>(header.getInt("NAXIS1  "));
    table.naxis2(j) = static_cast<int>(header.getInt("NAXIS2  "));
    requireCompleteImage(header, file);
    if (withError) {
      const std::string errorFile = error_image_name(file);
      orv::FitsIn error(errorFile, false, false);
      requireCompleteImage(error, errorFile);
      if (error.getNaxis(1) != header.getNaxis(1) || error.getNaxis(2) != header.getNaxis(2))
        throw std::runtime_error("error image '" + errorFile + "' differs in size from '" + file + "'");
    }
  }
  return table;
}

bool cd_compatible(const ImageTable& table) {
  for (int j = 1; j <= table.count(); ++j) {
    // Written as equalities so that a NaN fails every test.
    const bool axesAligned = table.cd1_2(j) == 0.0 && table.cd2_1(j) == 0.0;
    const bool sameScale = table.cd1_1(j) == table.cd1_1(1) && table.cd2_2(j) == table.cd2_2(1);
    if (!axesAligned || !sameScale) return false;
  }
  return true;
}

bool crval_agree(const ImageTable& table) {
  for (int j = 2; j <= table.count(); ++j)
    if (table.crval1(j) != table.crval1(1) || table.crval2(j) != table.crval2(1)) return false;
  return true;
}

namespace {

// The reference pixel truncated toward zero; refused when it is not finite or beyond an int.
int truncatedPixel(double crpix, const char* keyword, int j) {
  if (!(std::fabs(crpix) < 2147483648.0))
    throw std::runtime_error(std::string(keyword) + " of image " + std::to_string(j) + " (" +
                             std::to_string(crpix) + ") is out of range");
  return static_cast<int>(crpix);
}

int checkedInt(long long value, const char* what) {
  if (value < INT_MIN || value > INT_MAX)
    throw std::runtime_error(std::string("common frame too large: ") + what + " " + std::to_string(value) +
                             " does not fit the pixel index range");
  return static_cast<int>(value);
}

}  // namespace

Frame place_images(ImageTable& table, bool expand) {
  const int n = table.count();
  Frame frame;
  if (n == 0) return frame;
  frame.rx = truncatedPixel(table.crpix1(1), "CRPIX1", 1);
  frame.ry = truncatedPixel(table.crpix2(1), "CRPIX2", 1);
  for (int j = 1; j <= n; ++j) {
    const int px = truncatedPixel(table.crpix1(j), "CRPIX1", j);
    const int py = truncatedPixel(table.crpix2(j), "CRPIX2", j);
    if (expand) {
      frame.rx = std::max(frame.rx, px);
      frame.ry = std::max(frame.ry, py);
    }
  }
  // Start and end in 64 bits first: reference pixels far apart must not wrap around.
  for (int j = 1; j <= n; ++j) {
    const long long xstart = static_cast<long long>(frame.rx) - static_cast<int>(table.crpix1(j)) + 1;
    const long long ystart = static_cast<long long>(frame.ry) - static_cast<int>(table.crpix2(j)) + 1;
    table.xstart(j) = checkedInt(xstart, "column");
    table.xend(j) = checkedInt(xstart + table.naxis1(j) - 1, "column");
    table.ystart(j) = checkedInt(ystart, "row");
    table.yend(j) = checkedInt(ystart + table.naxis2(j) - 1, "row");
  }
  frame.width = table.xend(1);
  frame.height = table.yend(1);
  if (expand) {
    for (int j = 2; j <= n; ++j) {
      frame.width = std::max(frame.width, table.xend(j));
      frame.height = std::max(frame.height, table.yend(j));
    }
  }
  return frame;
}
