#include "orv/fits/ascio.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <locale>
#include <sstream>
#include <string_view>

#include "orv/fits/ascio_field.h"
#include "util/regular_file.h"

namespace orv {

namespace {

const std::streampos noPosition(-1);

// Whitespace as isspace() accepts it in the classic locale.
bool isClassicSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void dropLeadingWhitespace(std::string& line) {
  std::size_t first = 0;
  while (first < line.size() && isClassicSpace(line[first])) ++first;
  line.erase(0, first);
}

// Finds the next word (maximal run of non-whitespace) at or after pos; returns
// false when there is none. On success [wordStart, wordEnd) is the word.
bool nextWord(const std::string& line, std::size_t pos, std::size_t& wordStart, std::size_t& wordEnd) {
  while (pos < line.size() && isClassicSpace(line[pos])) ++pos;
  if (pos == line.size()) return false;
  wordStart = pos;
  while (pos < line.size() && !isClassicSpace(line[pos])) ++pos;
  wordEnd = pos;
  return true;
}

// A result of cols x rows elements must have lengths and an element count that
// an int can hold, as every array; a larger one could not be allocated, and the
// reader reports a memory error.
void checkElementCount(std::int64_t cols, int rows) {
  const std::int64_t limit = std::numeric_limits<int>::max();
  if (cols > limit || cols * rows > limit) throw IOException("A memory error occured!");
}

// Walks the fields of one data line from the first on, so that a run of columns
// finds each field once. Fields are the words of the line in whitespace mode and
// the texts between delimiters in character mode.
class FieldWalk {
 public:
  FieldWalk(const std::string& line, char delimiter) : line_(line), delimiter_(delimiter) {}

  // Moves to the next field; throws the mode's message for a missing column when
  // the line has no further field.
  void next() {
    if (delimiter_ != 0) {
      if (nextStart_ == std::string::npos) throw IOException("Column does not exist!");
      start_ = nextStart_;
      const std::size_t found = line_.find(delimiter_, start_);
      end_ = found == std::string::npos ? line_.size() : found;
      nextStart_ = found == std::string::npos ? std::string::npos : found + 1;
    } else {
      if (!nextWord(line_, end_, start_, end_)) throw IOException("Unexpected EOF encountered!");
    }
  }

  void skip(int count) {
    for (int k = 0; k < count; ++k) next();
  }

  // The current field.
  std::string_view field() const { return std::string_view(line_).substr(start_, end_ - start_); }

 private:
  const std::string& line_;
  char delimiter_;
  std::size_t start_ = 0;
  std::size_t end_ = 0;        // whitespace mode: the search for the next word starts here
  std::size_t nextStart_ = 0;  // character mode: start of the next field, npos after the last
};

}  // namespace

AscFile::AscFile(const std::string& fileName_, char delimiter_, const std::string& comment_)
    : fileName(fileName_),
      rangeStart(0),
      rangeEnd(noPosition),
      rowCount(0),
      colCount(0),
      delimiter(delimiter_),
      comment(comment_) {
  // Only a regular file is opened: the stream would block forever on a FIFO and
  // read a directory as an empty table.
  if (util::isReadableRegularFile(fileName)) stream.open(fileName, std::ios::in);
  if (!stream.is_open() || !stream.good()) throw IOException("Cannot open file " + fileName + "!");
}

AscFile::AscFile(const std::string& fileName_, int firstLine, int lastLine, char delimiter_,
                 const std::string& comment_)
    : AscFile(fileName_, delimiter_, comment_) {
  restrictRange__(firstLine, lastLine);
}

AscFile::~AscFile() {
  if (stream.is_open()) stream.close();
}

void AscFile::restrictRange__(int firstLine, int lastLine) {
  if (firstLine < 1 || (lastLine != -1 && lastLine < firstLine))
    throw IOException("Irregular lines parameters!");
  std::string line;
  if (firstLine > 1) {
    // Read data lines 1..firstLine and keep where the file line of the last one starts.
    std::streampos lineStart = 0;
    for (int dataLine = 1; dataLine <= firstLine; ++dataLine) {
      if (!readNextLine__(line, &lineStart)) throw IOException("No such line: " + std::to_string(firstLine));
    }
    rangeStart = lineStart;
    rewind__();
  }
  if (lastLine != -1) {
    // Data line firstLine is the first one read; the range ends behind the
    // newline of data line lastLine, or at the end of the file if that comes first.
    int dataLine = firstLine;
    bool complete = true;
    for (; dataLine <= lastLine; ++dataLine) {
      if (!readNextLine__(line)) {
        complete = false;
        break;
      }
    }
    if (complete && !stream.eof()) {
      stream.clear();
      rangeEnd = stream.tellg();
    }
  }
  rewind__();
}

int AscFile::rows() {
  if (rowCount == 0) countRows__();
  return rowCount;
}

int AscFile::cols() {
  if (colCount == 0) countCols__();
  return colCount;
}

bool AscFile::eof__() {
  // A stream that failed for any reason can make no progress: treat it as the end.
  if (!stream.good()) return true;
  if (rangeEnd != noPosition) return stream.tellg() >= rangeEnd;
  return false;
}

void AscFile::rewind__() {
  stream.clear();
  stream.seekg(rangeStart);
}

template <class OnRow>
void AscFile::forEachCountedRow__(int n, OnRow&& onRow, bool allRows) {
  std::string line;
  try {
    // The count bounds the pass: lines added to the file after it was counted are not read.
    int row = 0;
    while (row < n && readNextLine__(line)) {
      ++row;
      try {
        onRow(row, line);
      } catch (const IOException& e) {
        throw IOException(e.what() + whereRow__(row));
      }
    }
    rewind__();
    // A file that lost lines after they were counted cannot fill every row.
    if (allRows && row < n) throw IOException("Unexpected EOF encountered!");
  } catch (...) {
    rewind__();
    throw;
  }
}

std::string AscFile::whereRow__(int row) {
  // Found again only now, so that reading pays nothing for it: where the row's line starts,
  // then the line breaks before it.
  rewind__();
  std::string line;
  std::streampos lineStart = rangeStart;
  for (int r = 1; r <= row && readNextLine__(line, &lineStart); ++r) {
  }
  rewind__();
  std::ifstream text(fileName, std::ios::binary);
  long number = 1;
  char c;
  for (std::streamoff k = 0; k < std::streamoff(lineStart) && text.get(c); ++k)
    if (c == '\n') ++number;
  return " (file '" + fileName + "', line " + std::to_string(number) + ")";
}

bool AscFile::readNextLine__(std::string& line) { return readNextLine__(line, nullptr); }

bool AscFile::readNextLine__(std::string& line, std::streampos* lineStart) {
  line.clear();
  for (;;) {
    if (eof__()) {
      rewind__();
      return false;
    }
    if (lineStart != nullptr) *lineStart = stream.tellg();
    std::getline(stream, line);
    if (delimiter == 0) dropLeadingWhitespace(line);
    const std::size_t commentAt = line.find(comment);
    if (commentAt != std::string::npos) line.erase(commentAt);
    if (!line.empty()) return true;
  }
}

void AscFile::countRows__() {
  stream.clear();
  const std::streampos found = stream.tellg();
  rewind__();
  int count = 0;
  std::string line;
  while (readNextLine__(line)) ++count;
  rowCount = count;
  stream.clear();
  stream.seekg(found);
}

void AscFile::countCols__() {
  stream.clear();
  const std::streampos found = stream.tellg();
  rewind__();
  std::string line;
  int count = 0;
  if (readNextLine__(line)) {
    if (delimiter != 0) {
      count = 1;
      for (char c : line)
        if (c == delimiter) ++count;
    } else {
      std::size_t wordStart = 0, wordEnd = 0;
      while (nextWord(line, wordEnd, wordStart, wordEnd)) ++count;
    }
  }
  colCount = count;
  stream.clear();
  stream.seekg(found);
}

std::string AscFile::readColumnFromLine__(int col, const std::string& line) const {
  // Columns below 1: no column in character mode; in whitespace mode column 0 is
  // the empty text before the first word.
  if (delimiter != 0 && col < 1) throw IOException("Column does not exist!");
  if (col < 0) throw IOException("Unexpected EOF encountered!");
  if (col == 0) return std::string();
  FieldWalk walk(line, delimiter);
  walk.skip(col);
  return std::string(walk.field());
}

template <class T>
MArray<T, 1> AscFile::readSingleCol__(int col) {
  const int n = rows();
  MArray<T, 1> values(n, false);
  forEachCountedRow__(n, [&](int row, const std::string& line) {
    T value;
    if (!detail::readFieldValue(readColumnFromLine__(col, line), value))
      throw IOException("Failed to read data from file!");
    values(row) = value;
  });
  return values;
}

template <class T>
MArray<T, 2> AscFile::readCols__(int firstCol, int lastCol) {
  if (firstCol == 0) firstCol = 1;
  if (lastCol == 0) lastCol = cols();
  // A first column more than one beyond the last reads no column.
  const std::int64_t wantedCols = std::max<std::int64_t>(std::int64_t{lastCol} - firstCol + 1, 0);
  const int n = rows();
  checkElementCount(wantedCols, n);
  const int numCols = static_cast<int>(wantedCols);
  MArray<T, 2> values(numCols, n, false);
  // Columns below 1 (never asked for by callers) go through the single-field lookup.
  const int columnsBelowOne =
      static_cast<int>(std::clamp<std::int64_t>(1 - std::int64_t{firstCol}, 0, numCols));
  forEachCountedRow__(n, [&](int row, const std::string& line) {
    for (int j = 1; j <= columnsBelowOne; ++j) {
      T value;
      if (!detail::readFieldValue(readColumnFromLine__(firstCol + (j - 1), line), value))
        throw IOException("Failed to read data from line: " + line);
      values(j, row) = value;
    }
    // Each line is walked once, field by field, from the first column wanted.
    FieldWalk walk(line, delimiter);
    walk.skip(std::max(firstCol, 1) - 1);
    for (int j = columnsBelowOne + 1; j <= numCols; ++j) {
      walk.next();
      T value;
      if (!detail::readFieldValue(walk.field(), value))
        throw IOException("Failed to read data from line: " + line);
      values(j, row) = value;
    }
  });
  return values;
}

template MArray<int, 1> AscFile::readSingleCol__<int>(int);
template MArray<float, 1> AscFile::readSingleCol__<float>(int);
template MArray<double, 1> AscFile::readSingleCol__<double>(int);
template MArray<int, 2> AscFile::readCols__<int>(int, int);
template MArray<float, 2> AscFile::readCols__<float>(int, int);
template MArray<double, 2> AscFile::readCols__<double>(int, int);

MArray<int, 1> AscFile::readIntColumn(int col) { return readSingleCol__<int>(col); }
MArray<float, 1> AscFile::readFloatColumn(int col) { return readSingleCol__<float>(col); }
MArray<double, 1> AscFile::readDoubleColumn(int col) { return readSingleCol__<double>(col); }

MArray<int, 2> AscFile::readIntColumns(int firstCol, int lastCol) {
  return readCols__<int>(firstCol, lastCol);
}
MArray<float, 2> AscFile::readFloatColumns(int firstCol, int lastCol) {
  return readCols__<float>(firstCol, lastCol);
}
MArray<double, 2> AscFile::readDoubleColumns(int firstCol, int lastCol) {
  return readCols__<double>(firstCol, lastCol);
}

MArray<float, 2> AscFile::readFloatColumns(const int* colList, int colListLength) {
  if (delimiter != 0) throw IOException("Can only read whitespace delims");
  const int numCols = colListLength > 0 ? colListLength : 0;
  const int n = rows();
  checkElementCount(numCols, n);
  MArray<float, 2> values(numCols, n, false);
  if (numCols == 0) return values;
  const int lastWanted = colList[numCols - 1];
  forEachCountedRow__(n, [&](int row, const std::string& line) {
    std::istringstream in(line);
    in.imbue(std::locale::classic());
    // Walk the words up to the last wanted column, keeping the wanted ones.
    int next = 0;
    std::string skipped;
    // A failed stream reads nothing more: the walk stops there.
    for (int position = 1; position <= lastWanted && !in.fail(); ++position) {
      if (next < numCols && position == colList[next]) {
        float value = 0.0f;
        in >> value;
        values(next + 1, row) = value;
        ++next;
      } else {
        in >> skipped;
      }
    }
    if (in.bad()) throw IOException("Bad stream state!");
    // Entries the walk never met (a list that is not strictly increasing from 1)
    // are columns missing from the line, like words missing before the last one.
    if (in.fail() || next < numCols) throw IOException("Failed to read data from line: " + line);
  });
  return values;
}

template <class S>
int AscFile::readColumn(int col, std::vector<S>& out) {
  const int n = rows();
  if (n < 0 || static_cast<std::size_t>(n) > out.max_size()) throw IOException("A memory error occured!");
  out.reserve(static_cast<std::size_t>(n));
  out.clear();
  // The count of fields read tells the caller how many rows the file still held.
  forEachCountedRow__(
      n, [&](int, const std::string& line) { out.push_back(readColumnFromLine__(col, line)); }, false);
  return static_cast<int>(out.size());
}

template int AscFile::readColumn<std::string>(int, std::vector<std::string>&);

int AscFile::getHeader(std::vector<std::string>& header, bool keepComment) {
  rewind__();
  std::string line;
  while (!eof__()) {
    std::getline(stream, line);
    dropLeadingWhitespace(line);
    if (line.empty()) continue;
    if (line.compare(0, comment.size(), comment) != 0) break;
    if (!keepComment) line.erase(0, comment.size());
    header.push_back(line);
  }
  rewind__();
  return static_cast<int>(header.size());
}

std::string AscFile::replaceColumnsInLine__(int startCol, int endCol, std::string& line,
                                            const std::string& replacement) {
  if (startCol > endCol) throw IOException("Start col > end col!");
  // Here a field is a maximal run of non-separators; runs of separators count as one.
  auto isSeparator = [this](char c) { return delimiter != 0 ? c == delimiter : (c == ' ' || c == '\t'); };
  auto fieldStart = [&](int field) -> std::size_t {
    std::size_t pos = 0;
    for (int k = 1; k <= field; ++k) {
      while (pos < line.size() && isSeparator(line[pos])) ++pos;
      if (pos == line.size()) return std::string::npos;
      if (k == field) return pos;
      while (pos < line.size() && !isSeparator(line[pos])) ++pos;
    }
    return std::string::npos;
  };
  auto fieldEnd = [&](std::size_t pos) {
    while (pos < line.size() && !isSeparator(line[pos])) ++pos;
    return pos;
  };
  const int n = cols();
  const std::size_t start = startCol >= 1 ? fieldStart(startCol) : std::string::npos;
  if (start == std::string::npos) throw IOException("Column does not exist!");
  std::size_t end;
  if (startCol == endCol) {
    end = fieldEnd(start);
  } else if (endCol > n) {
    end = line.size();
  } else {
    const std::size_t endFieldStart = fieldStart(endCol);
    end = endFieldStart == std::string::npos ? line.size() : fieldEnd(endFieldStart);
  }
  line.replace(start, end - start, replacement);
  return line + "\n";
}

}  // namespace orv
