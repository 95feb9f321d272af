// The block copy of one image, and its error image, into the common frame.
#include "brisel/cut_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "orv/fits/fits.h"

namespace {

// Frame columns that image j fills, firstColumn..lastColumn (empty when first > last), and
// the input column of frame column firstColumn.
struct ColumnSpan {
  int firstColumn, lastColumn, firstInputColumn;
};

ColumnSpan columnSpan(const ImageTable& table, int j, const Frame& frame) {
  ColumnSpan span;
  span.firstColumn = std::max(1, table.xstart(j));
  span.lastColumn = std::min(frame.width, table.xend(j));
  span.firstInputColumn = span.firstColumn - table.xstart(j) + 1;
  return span;
}

util::Region rowRegion(int columns, int firstRow, int lastRow) {
  util::Region region(2);
  region.setRange(1, 1, columns);
  region.setRange(2, firstRow, lastRow);
  return region;
}

// The leading `rows` rows of a block array (a view sharing its storage).
orv::MArray<double, 2> leadingRows(const orv::MArray<double, 2>& block, int rows) {
  if (rows == block.length(2)) return block;
  return block(orv::Range(1, block.length(1)), orv::Range(1, rows));
}

// Fills output rows 1..rows of the block: input rows of inBlock go to the rows from
// firstFilled on, placed by the span; everything else is 0. Both blocks are contiguous.
void placeRows(const orv::MArray<double, 2>& inBlock, orv::MArray<double, 2>& outBlock, int rows,
               int firstFilled, int filledRows, const ColumnSpan& span) {
  const long width = outBlock.length(1);
  const long inWidth = inBlock.length(1);
  double* out = outBlock.firstElement();
  const double* in = inBlock.firstElement();
  const long left = span.firstColumn - 1;
  const long count = std::max(0, span.lastColumn - span.firstColumn + 1);
  for (int k = 1; k <= rows; ++k) {
    double* row = out + (k - 1) * width;
    const int inputRow = k - firstFilled;  // from 0
    if (inputRow < 0 || inputRow >= filledRows || count == 0) {
      std::fill(row, row + width, 0.0);
      continue;
    }
    std::fill(row, row + left, 0.0);
    std::memcpy(row + left, in + inputRow * inWidth + (span.firstInputColumn - 1), count * sizeof(double));
    std::fill(row + left + count, row + width, 0.0);
  }
}

// Gives the undefined pixels of rows read, which hold NaN, the value that marks them in an
// integer image. The rows are contiguous.
void markUndefined(orv::MArray<double, 2>& rows, double blank) {
  double* const first = rows.firstElement();
  double* const end = first + static_cast<long>(rows.length(1)) * rows.length(2);
  for (double* pixel = first; pixel != end; ++pixel)
    if (std::isnan(*pixel)) *pixel = blank;
}

// One input file copied block by block into one output file.
struct BlockCopy {
  orv::FitsIn& in;
  orv::FitsOut& out;
  orv::MArray<double, 2> inBlock, outBlock;
  std::optional<double> blank;  // the BLANK value of an integer output

  // Reads filledRows input rows (the region inputRows, none when filledRows is 0), places them
  // from block row firstFilled on and writes the block as the region outputRows.
  void copy(const util::Region& inputRows, int filledRows, const util::Region& outputRows, int firstFilled,
            const ColumnSpan& span) {
    if (filledRows > 0) {
      orv::MArray<double, 2> inView = leadingRows(inBlock, filledRows);
      in.setRegion(inputRows);
      in >> inView;
      if (blank) markUndefined(inView, *blank);
    }
    const int rows = static_cast<int>(outputRows.getLength(2));
    orv::MArray<double, 2> outView = leadingRows(outBlock, rows);
    placeRows(inBlock, outView, rows, firstFilled, filledRows, span);
    out.setRegion(outputRows);
    out << outView;
  }
};

// Whether the header holds a card of the keyword, parsed or not (the CONTINUE cards of long
// strings are kept unparsed).
bool hasCard(const orv::FitsHeader& header, const std::string& keyword) {
  try {
    header.getValueCard(keyword);
    return true;
  } catch (const orv::FitsException&) {
    return false;
  }
}

// The value that marks an undefined pixel in the cut of an image, when the cut keeps an integer
// BITPIX and the image has a BLANK card: that BLANK. None otherwise: an undefined pixel, read as
// NaN, stays NaN in a float cut.
std::optional<double> integerBlank(const orv::FitsIn& in) {
  if (cut_bitpix(in) < 0 || !hasCard(in, "BLANK   ")) return std::nullopt;
  return static_cast<double>(in.getInt("BLANK   "));
}

}  // namespace

orv::FitsHeader cut_header(const orv::FitsIn& in, const std::string& file) {
  if (!hasCard(in, "CONTINUE")) return in;
  // Parsed cards are written back sorted by kind, and a CONTINUE card after all of them, away
  // from the card it continues. Read unparsed, every card keeps its place in the file.
  orv::FitsHeader header(file, false, true);
  // The long-string convention is declared by this card; FITS checkers warn without it.
  if (!hasCard(header, "LONGSTRN"))
    header.addValueCard("LONGSTRN", "OGIP 1.0", "The OGIP long string convention may be used", true);
  return header;
}

int cut_bitpix(const orv::FitsHeader& input) {
  const bool scaled = input.getBscale() != 1.0 || input.getBzero() != 0.0;
  if (!scaled) return input.getBitpix();
  const int bitpix = input.getBitpix();
  return bitpix == 8 || bitpix == 16 ? -32 : -64;
}

void set_reference_pixel(orv::FitsHeader& header, const std::string& keyword, double value) {
  header.eraseCard(keyword);
  if (value == std::trunc(value) && std::fabs(value) <= 2147483647.0)
    header.addValueCard(keyword, static_cast<int>(value), "", true);
  else
    header.addValueCard(keyword, value, "", true);
}

void cut_image(const CutFiles& files, bool withError, const ImageTable& table, int j, const Frame& frame,
               long blockBytes) {
  const int width = frame.width;
  const int height = frame.height;
  const int inWidth = table.naxis1(j);
  const int ystart = table.ystart(j);
  const int yend = table.yend(j);
  const ColumnSpan span = columnSpan(table, j, frame);
  const util::Region frameRegion = rowRegion(width, 1, height);

  orv::FitsIn in(files.input, false, false);
  orv::FitsOut out(files.output, cut_header(in, files.input), false, false);
  set_reference_pixel(out, "CRPIX1  ", table.crpix1(j) + (table.xstart(j) - 1));
  set_reference_pixel(out, "CRPIX2  ", table.crpix2(j) + (ystart - 1));
  out.setGeometry(cut_bitpix(in), frameRegion);

  // The error writer exists in any case, but only gets a file when error images are cut.
  std::unique_ptr<orv::FitsIn> errorIn;
  orv::FitsOut errorOut(files.errorOutput);
  std::optional<double> errorBlank;
  if (withError) {
    errorIn = std::make_unique<orv::FitsIn>(files.errorInput, false, false);
    errorBlank = integerBlank(*errorIn);
    if (errorBlank) errorOut.addValueCard(errorIn->getValueCard("BLANK   ")->clone());
    errorOut.setGeometry(cut_bitpix(*errorIn), frameRegion);
  }

  const long rowBytes = static_cast<long>(std::max(width, inWidth)) * static_cast<long>(sizeof(double));
  const int blockRows = static_cast<int>(std::clamp(blockBytes / rowBytes, 1L, static_cast<long>(height)));
  BlockCopy image{in, out, orv::MArray<double, 2>(inWidth, blockRows),
                  orv::MArray<double, 2>(width, blockRows), integerBlank(in)};
  std::unique_ptr<BlockCopy> error;
  if (withError)
    error =
        std::make_unique<BlockCopy>(BlockCopy{*errorIn, errorOut, orv::MArray<double, 2>(inWidth, blockRows),
                                              orv::MArray<double, 2>(width, blockRows), errorBlank});

  for (int first = 1; first <= height; first += blockRows) {
    const int last = static_cast<int>(std::min<long>(height, static_cast<long>(first) + blockRows - 1));
    // Frame rows firstFilled..lastFilled of this block come from the input rows from
    // firstFilled - ystart + 1 on.
    const int firstFilled = std::max(first, ystart);
    const int lastFilled = std::min(last, yend);
    const int filledRows = std::max(0, lastFilled - firstFilled + 1);
    const util::Region inputRows = rowRegion(inWidth, firstFilled - ystart + 1, lastFilled - ystart + 1);
    const util::Region outputRows = rowRegion(width, first, last);
    image.copy(inputRows, filledRows, outputRows, firstFilled - first + 1, span);
    if (error) error->copy(inputRows, filledRows, outputRows, firstFilled - first + 1, span);
  }
  // Each cut image takes its name only here, whole; a failure to give it its name is a failed write.
  out.finish();
  if (withError) errorOut.finish();
}
