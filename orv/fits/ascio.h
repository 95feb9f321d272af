#ifndef ORV_FITS_ASCIO_H
#define ORV_FITS_ASCIO_H

#include <fstream>
#include <string>
#include <vector>

#include "orv/fits/io_exception.h"
#include "orv/marray.h"

namespace orv {

// Reader of ASCII column tables: one table row per line, columns separated by
// runs of whitespace (delimiter 0) or by one given character, and a comment
// string that cuts off the rest of a line. Rows and columns are numbered from 1;
// empty lines and comment-only lines are no rows. A range of data lines can be
// chosen at construction; every operation sees only that range.
//
// After every operation that succeeds the stream stands at the start of the
// range with clear state flags, so repeated reads of one object agree.
class AscFile {
 public:
  AscFile(const std::string& fileName, char delimiter, const std::string& comment);
  // Restricts the object to data lines firstLine..lastLine (inclusive);
  // lastLine -1 means up to the end of the file.
  AscFile(const std::string& fileName, int firstLine, int lastLine, char delimiter,
          const std::string& comment);
  virtual ~AscFile();

  AscFile(const AscFile&) = delete;
  AscFile& operator=(const AscFile&) = delete;

  // Number of data lines in the range (counted once, on first need).
  int rows();
  // Number of columns of the first data line (counted once, on first need).
  int cols();
  // Appends the comment lines at the top of the range to header, without the
  // comment string unless keepComment; returns the size of header afterwards.
  int getHeader(std::vector<std::string>& header, bool keepComment);

  MArray<int, 1> readIntColumn(int col);
  MArray<float, 1> readFloatColumn(int col);
  MArray<double, 1> readDoubleColumn(int col);

  // Columns firstCol..lastCol as an array of lengths (columns, rows): the values
  // of one row lie next to each other. firstCol 0 means 1, lastCol 0 means cols().
  MArray<int, 2> readIntColumns(int firstCol, int lastCol);
  MArray<float, 2> readFloatColumns(int firstCol, int lastCol);
  MArray<double, 2> readDoubleColumns(int firstCol, int lastCol);
  // The listed columns (strictly increasing, from 1); whitespace mode only.
  MArray<float, 2> readFloatColumns(const int* colList, int colListLength);

  // Appends column col of every data line, as text, to out (emptied first);
  // returns the number of fields read. Provided for std::string.
  template <class S>
  int readColumn(int col, std::vector<S>& out);

 private:
  friend struct AscFileTestAccess;

  // " (file 'name', line n)" for data row `row` of the range, lines counted from the file's
  // first; for messages about the row.
  std::string whereRow__(int row);
  bool readNextLine__(std::string& line);
  bool readNextLine__(std::string& line, std::streampos* lineStart);
  void countRows__();
  void countCols__();
  std::string readColumnFromLine__(int col, const std::string& line) const;
  std::string replaceColumnsInLine__(int startCol, int endCol, std::string& line,
                                     const std::string& replacement);
  bool eof__();
  void rewind__();
  void restrictRange__(int firstLine, int lastLine);
  // Calls onRow(row, line) for data rows 1..n of the range at most and leaves the
  // stream at rangeStart, also when onRow throws. With allRows, a range that
  // ends before row n (the file lost lines after they were counted) throws.
  template <class OnRow>
  void forEachCountedRow__(int n, OnRow&& onRow, bool allRows = true);

  template <class T>
  MArray<T, 1> readSingleCol__(int col);
  template <class T>
  MArray<T, 2> readCols__(int firstCol, int lastCol);

  std::string fileName;
  std::ifstream stream;
  std::streampos rangeStart;
  std::streampos rangeEnd;
  int rowCount;
  int colCount;
  char delimiter;
  std::string comment;
};

}  // namespace orv

#endif
