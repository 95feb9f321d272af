// Reading and editing ASCII column tables with AscFile: modes, line ranges, headers and messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orv/fits/ascio.h"
#include "tests/support/fifo.h"
#include "tests/support/message_of.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace orv {
// Reaches the line editor, which the class keeps private.
struct AscFileTestAccess {
  static std::string replace(AscFile& file, int startCol, int endCol, std::string line,
                             const std::string& with) {
    return file.replaceColumnsInLine__(startCol, endCol, line, with);
  }
};
}  // namespace orv

namespace {

using orv::AscFile;
using orv::IOException;
using test_support::messageOf;

std::string fixture(const std::string& name) { return std::string(ORV_TEST_DATA_DIR) + "/" + name; }

template <class T>
std::vector<T> column(const orv::MArray<T, 1>& a) {
  std::vector<T> v;
  for (int i = 1; i <= a.length(1); ++i) v.push_back(a(i));
  return v;
}

TEST(AscFile, WhitespaceModeSkipsBlankAndCommentLines) {
  AscFile f(fixture("asc_whitespace.txt"), 0, "#");
  EXPECT_EQ(f.rows(), 5);
  EXPECT_EQ(f.cols(), 3);
  EXPECT_EQ(column(f.readIntColumn(1)), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(column(f.readDoubleColumn(2)), (std::vector<double>{2.5, -325.0, 0.1, 1e-5, 123456.789}));
  EXPECT_EQ(column(f.readFloatColumn(3)), (std::vector<float>{7, 8, 9, -10, 11}));

  // Run of columns: lengths (columns, rows), one row's values side by side.
  orv::MArray<double, 2> all = f.readDoubleColumns(0, 0);
  ASSERT_EQ(all.length(1), 3);
  ASSERT_EQ(all.length(2), 5);
  EXPECT_EQ(all.stride(1), 1);
  EXPECT_EQ(all.stride(2), 3);
  EXPECT_EQ(all(1, 2), 2.0);
  EXPECT_EQ(all(2, 2), -325.0);
  EXPECT_EQ(all(3, 5), 11.0);
  orv::MArray<int, 2> tail = f.readIntColumns(2, 3);
  ASSERT_EQ(tail.length(1), 2);
  EXPECT_EQ(tail(1, 1), 2);  // 2.5 read as int
  EXPECT_EQ(tail(2, 4), -10);

  const int wanted[] = {1, 3};
  orv::MArray<float, 2> listed = f.readFloatColumns(wanted, 2);
  ASSERT_EQ(listed.length(1), 2);
  ASSERT_EQ(listed.length(2), 5);
  EXPECT_EQ(listed(1, 3), 3.0f);
  EXPECT_EQ(listed(2, 3), 9.0f);

  std::vector<std::string> text{"stale"};
  EXPECT_EQ(f.readColumn(2, text), 5);
  EXPECT_EQ(text, (std::vector<std::string>{"2.5", "-3.25e2", "0.1", "1e-5", "123456.789"}));
}

TEST(AscFile, RepeatedReadsFromOneObjectAgree) {
  AscFile f(fixture("asc_whitespace.txt"), 0, "#");
  const std::vector<double> first = column(f.readDoubleColumn(2));
  std::vector<std::string> header;
  f.getHeader(header, false);
  f.cols();
  const orv::MArray<double, 2> all = f.readDoubleColumns(0, 0);
  EXPECT_EQ(column(f.readDoubleColumn(2)), first);
  EXPECT_EQ(f.rows(), 5);
  const orv::MArray<double, 2> again = f.readDoubleColumns(0, 0);
  for (int i = 1; i <= 5; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(all(j, i), again(j, i));
}

TEST(AscFile, CharacterModeKeepsEmptyColumnsAndBlankRows) {
  AscFile f(fixture("asc_comma.txt"), ',', "#");
  EXPECT_EQ(f.rows(), 4);  // "   " is a data row in character mode
  EXPECT_EQ(f.cols(), 3);
  std::vector<std::string> text;
  EXPECT_EQ(f.readColumn(1, text), 4);
  EXPECT_EQ(text, (std::vector<std::string>{"1", " 4 ", "   ", "7"}));
  EXPECT_EQ(messageOf<IOException>([&] { f.readColumn(2, text); }),
            "Column does not exist! (file '" + fixture("asc_comma.txt") + "', line 4)");  // the blank row
  // The failed read leaves the object usable.
  EXPECT_EQ(f.readColumn(1, text), 4);

  AscFile firstTwo(fixture("asc_comma.txt"), 1, 2, ',', "#");
  EXPECT_EQ(firstTwo.readColumn(2, text), 2);
  EXPECT_EQ(text, (std::vector<std::string>{"", " 5 "}));
  EXPECT_EQ(firstTwo.readColumn(3, text), 2);
  EXPECT_EQ(text, (std::vector<std::string>{"3", "6"}));
  EXPECT_EQ(messageOf<IOException>([&] { firstTwo.readDoubleColumn(2); }),
            "Failed to read data from file! (file '" + fixture("asc_comma.txt") + "', line 2)");
  const orv::MArray<double, 2> last = firstTwo.readDoubleColumns(3, 3);  // a run after an empty column
  ASSERT_EQ(last.length(1), 1);
  ASSERT_EQ(last.length(2), 2);
  EXPECT_EQ(last(1, 1), 3.0);
  EXPECT_EQ(last(1, 2), 6.0);
  EXPECT_EQ(messageOf<IOException>([&] { firstTwo.readDoubleColumns(3, 4); }),
            "Column does not exist! (file '" + fixture("asc_comma.txt") + "', line 2)");
  EXPECT_EQ(messageOf<IOException>([&] { f.readDoubleColumns(1, 3); }),
            "Failed to read data from line: 1,,3 (file '" + fixture("asc_comma.txt") + "', line 2)");
  EXPECT_EQ(messageOf<IOException>([&] { f.readFloatColumns(std::vector<int>{1}.data(), 1); }),
            "Can only read whitespace delims");

  AscFile single(fixture("asc_ragged.txt"), ',', "#");
  EXPECT_EQ(single.cols(), 1);  // no delimiter in the line
}

TEST(AscFile, CarriageReturns) {
  AscFile chars(fixture("asc_crlf.txt"), ',', "#");
  EXPECT_EQ(chars.rows(), 3);  // the "\r" line is a data row in character mode
  std::vector<std::string> text;
  EXPECT_EQ(messageOf<IOException>([&] { chars.readColumn(3, text); }),
            "Column does not exist! (file '" + fixture("asc_crlf.txt") + "', line 3)");  // the "\r" line
  AscFile words(fixture("asc_crlf.txt"), 0, "#");
  EXPECT_EQ(words.rows(), 2);  // whitespace mode: "\r" alone is empty
  EXPECT_EQ(words.readColumn(1, text), 2);
  EXPECT_EQ(text, (std::vector<std::string>{"1,2,3", "4,5,6"}));

  AscFile ranged(fixture("asc_crlf.txt"), 1, 1, ',', "#");
  EXPECT_EQ(ranged.readColumn(3, text), 1);
  EXPECT_EQ(text, (std::vector<std::string>{"3\r"}));  // the last field keeps its CR
  EXPECT_EQ(column(ranged.readDoubleColumn(3)), (std::vector<double>{3.0}));
}

TEST(AscFile, LineRanges) {
  struct Case {
    int first, last;
    std::vector<int> values;
  };
  const Case cases[] = {
      {1, -1, {10, 20, 30, 40}}, {2, 3, {20, 30}}, {3, 3, {30}}, {4, -1, {40}}, {1, 1, {10}},
      {2, 99, {20, 30, 40}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << ".." << c.last);
    AscFile f(fixture("asc_range.txt"), c.first, c.last, 0, "#");
    EXPECT_EQ(f.rows(), static_cast<int>(c.values.size()));
    EXPECT_EQ(column(f.readIntColumn(1)), c.values);
    EXPECT_EQ(column(f.readIntColumn(1)), c.values);
    std::vector<std::string> letters;
    EXPECT_EQ(f.readColumn(2, letters), static_cast<int>(c.values.size()));
  }
  AscFile middle(fixture("asc_range.txt"), 2, 3, 0, "#");
  std::vector<std::string> letters;
  middle.readColumn(2, letters);
  EXPECT_EQ(letters, (std::vector<std::string>{"b", "c"}));
}

TEST(AscFile, Messages) {
  const std::string range = fixture("asc_range.txt");
  const std::string ragged = fixture("asc_ragged.txt");
  struct Case {
    const char* what;
    std::function<void()> call;
    std::string message;
  };
  const std::string missing = fixture("asc_no_such_file.txt");
  const std::string directory = std::string(ORV_TEST_DATA_DIR);
  const test_support::Fifo fifo(test_support::tempPath("asc_fifo"));
  // A failure on a data line names the file and the line (counted from 1, comments included).
  const auto at = [](const std::string& file, int line) {
    return " (file '" + file + "', line " + std::to_string(line) + ")";
  };
  const std::string partial = fixture("asc_partial.txt"), limits = fixture("asc_limits.txt");
  ASSERT_TRUE(fifo.made);
  const Case cases[] = {
      {"open", [&] { AscFile f(missing, 0, "#"); }, "Cannot open file " + missing + "!"},
      {"open ranged", [&] { AscFile f(missing, 1, 2, 0, "#"); }, "Cannot open file " + missing + "!"},
      {"directory", [&] { AscFile f(directory, 0, "#"); }, "Cannot open file " + directory + "!"},
      {"fifo", [&] { AscFile f(fifo.path, 1, 2, 0, "#"); }, "Cannot open file " + fifo.path + "!"},
      {"first 0", [&] { AscFile f(range, 0, 2, 0, "#"); }, "Irregular lines parameters!"},
      {"last 0", [&] { AscFile f(range, 1, 0, 0, "#"); }, "Irregular lines parameters!"},
      {"last -2", [&] { AscFile f(range, 1, -2, 0, "#"); }, "Irregular lines parameters!"},
      {"last < first", [&] { AscFile f(range, 3, 2, 0, "#"); }, "Irregular lines parameters!"},
      {"no line 5", [&] { AscFile f(range, 5, -1, 0, "#"); }, "No such line: 5"},
      {"ws missing col", [&] { AscFile(ragged, 0, "#").readIntColumn(4); },
       "Unexpected EOF encountered!" + at(ragged, 2)},
      {"ws negative col", [&] { AscFile(ragged, 0, "#").readIntColumn(-1); },
       "Unexpected EOF encountered!" + at(ragged, 1)},
      {"ws run missing col", [&] { AscFile(ragged, 0, "#").readIntColumns(0, 0); },
       "Unexpected EOF encountered!" + at(ragged, 2)},
      {"char col 0", [&] { AscFile(ragged, ' ', "#").readIntColumn(0); },
       "Column does not exist!" + at(ragged, 1)},
      {"char missing col", [&] { AscFile(ragged, ' ', "#").readIntColumn(4); },
       "Column does not exist!" + at(ragged, 2)},
      {"listed missing",
       [&] {
         AscFile(ragged, 0, "#").readFloatColumns(std::vector<int>{2, 4}.data(), 2);
       },
       "Failed to read data from line: 5 6 7" + at(ragged, 2)},
      {"letters", [&] { AscFile(partial, 0, "#").readFloatColumn(3); },
       "Failed to read data from file!" + at(partial, 1)},
      {"letters run", [&] { AscFile(partial, 0, "#").readFloatColumns(1, 3); },
       "Failed to read data from line: 12abc 3.7 x" + at(partial, 1)},
      {"int out of range", [&] { AscFile(limits, 0, "#").readIntColumn(1); },
       "Failed to read data from file!" + at(limits, 1)},
      {"double out of range", [&] { AscFile(limits, 0, "#").readDoubleColumns(2, 3); },
       "Failed to read data from line: 99999999999 1e400 2" + at(limits, 1)},
      {"listed not increasing",
       [&] {
         AscFile(ragged, 0, "#").readFloatColumns(std::vector<int>{3, 1}.data(), 2);
       },
       "Failed to read data from line: 1 2 3 4" + at(ragged, 1)},
      {"listed far column",
       [&] {
         AscFile(ragged, 0, "#").readFloatColumns(std::vector<int>{1, 2147483647}.data(), 2);
       },
       "Failed to read data from line: 1 2 3 4" + at(ragged, 1)},
      {"last column INT_MAX", [&] { AscFile(ragged, 0, "#").readIntColumns(2147483647, 2147483647); },
       "Unexpected EOF encountered!" + at(ragged, 1)},
      {"result too large", [&] { AscFile(ragged, 0, "#").readIntColumns(1, 2147483647); },
       "A memory error occured!"},
      {"too many columns",
       [&] { AscFile(fixture("asc_comments_only.txt"), 0, "#").readIntColumns(-5, 2147483647); },
       "A memory error occured!"},
  };
  for (const Case& c : cases) EXPECT_EQ(messageOf<IOException>(c.call), c.message) << c.what;
}

TEST(AscFile, PartialFieldsConvertTheirPrefix) {
  AscFile f(fixture("asc_partial.txt"), 0, "#");
  EXPECT_EQ(column(f.readIntColumn(1)), (std::vector<int>{12}));
  EXPECT_EQ(column(f.readIntColumn(2)), (std::vector<int>{3}));
  EXPECT_EQ(column(f.readDoubleColumn(2)), (std::vector<double>{3.7}));
}

TEST(AscFile, FileWithoutDataLines) {
  for (char delimiter : {'\0', ','}) {
    AscFile f(fixture("asc_comments_only.txt"), delimiter, "#");
    EXPECT_EQ(f.rows(), delimiter == ',' ? 2 : 0);  // character mode: blanks before a comment are a row
    if (delimiter == ',') continue;
    EXPECT_EQ(f.cols(), 0);
    EXPECT_EQ(f.readDoubleColumn(1).length(1), 0);
    orv::MArray<double, 2> none = f.readDoubleColumns(0, 0);
    EXPECT_EQ(none.length(1), 0);
    EXPECT_EQ(none.length(2), 0);
    EXPECT_EQ(f.readFloatColumns(std::vector<int>{1, 2}.data(), 2).length(2), 0);
    std::vector<std::string> text{"x"};
    EXPECT_EQ(f.readColumn(1, text), 0);
    EXPECT_TRUE(text.empty());
  }
}

TEST(AscFile, Header) {
  struct Case {
    const char* file;
    bool keepComment;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"asc_header.txt", false, {" Title of table"}},
      {"asc_header.txt", true, {"# Title of table"}},
      {"asc_whitespace.txt", false, {" Star table", "  x y flux"}},
      {"asc_ragged.txt", false, {}},
  };
  for (const Case& c : cases) {
    for (char delimiter : {'\0', ' '}) {
      AscFile f(fixture(c.file), delimiter, "#");
      std::vector<std::string> header{"kept"};
      EXPECT_EQ(f.getHeader(header, c.keepComment), static_cast<int>(c.expected.size()) + 1) << c.file;
      header.erase(header.begin());
      EXPECT_EQ(header, c.expected) << c.file;
    }
  }
  // The header of a line range is the comment run at the top of the range.
  AscFile ranged(fixture("asc_range.txt"), 2, -1, 0, "#");
  std::vector<std::string> header;
  EXPECT_EQ(ranged.getHeader(header, false), 0);
  EXPECT_EQ(ranged.rows(), 3);
}

TEST(AscFile, ColumnReplacement) {
  AscFile f(fixture("asc_ragged.txt"), 0, "#");
  ASSERT_EQ(f.cols(), 4);
  struct Case {
    int start, end;
    std::string line, result;
  };
  const Case cases[] = {
      {2, 3, "a b c d", "a X d\n"},        {1, 2, "a b c d", "X c d\n"}, {2, 9, "a b c d", "a X\n"},
      {3, 3, "a b c d", "a b X d\n"},      {1, 1, "  a\tb", "  X\tb\n"}, {4, 4, "a b c d", "a b c X\n"},
      {2, 3, "a  b \t c  d", "a  X  d\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(orv::AscFileTestAccess::replace(f, c.start, c.end, c.line, "X"), c.result) << c.line;
  }
  EXPECT_EQ(messageOf<IOException>([&] { orv::AscFileTestAccess::replace(f, 3, 2, "a b c d", "X"); }),
            "Start col > end col!");
  AscFile commas(fixture("asc_comma.txt"), ',', "#");
  EXPECT_EQ(orv::AscFileTestAccess::replace(commas, 2, 2, "1,,3", "X"), "1,,X\n");  // runs count as one
}

// Writes `before` to a scratch file, counts its rows through `file`, then
// rewrites the file with `after` (appended or replacing it).
void countThenChange(std::unique_ptr<AscFile>& file, const std::string& name, const std::string& before,
                     const std::string& after, std::ios::openmode mode) {
  std::ofstream(name) << before;
  file = std::make_unique<AscFile>(name, 0, "#");
  ASSERT_EQ(file->rows(), 3);
  std::ofstream(name, mode) << after;
}

// The row count, once made, bounds every reader. Lines added later are not
// read; when counted lines are gone the numeric readers fail instead of
// returning unset elements, and the text reader returns the fields it found.
TEST(AscFile, ReadersKeepTheCountedRows) {
  const std::string name = "asc_changing_table.txt";
  std::unique_ptr<AscFile> f;
  std::vector<std::string> text;
  std::string added;
  for (int i = 0; i < 100; ++i) added += std::to_string(i) + " " + std::to_string(i) + "\n";
  countThenChange(f, name, "1 2\n3 4\n5 6\n", added, std::ios::app);
  EXPECT_EQ(column(f->readIntColumn(1)), (std::vector<int>{1, 3, 5}));
  EXPECT_EQ(f->readDoubleColumns(0, 0).length(2), 3);
  EXPECT_EQ(f->readFloatColumns(std::vector<int>{2}.data(), 1).length(2), 3);
  EXPECT_EQ(f->readColumn(2, text), 3);
  EXPECT_EQ(column(f->readIntColumn(2)), (std::vector<int>{2, 4, 6}));

  countThenChange(f, name, "1 2\n3 4\n5 6\n", "# now shorter\n7 8\n", std::ios::trunc);
  const std::string eof = "Unexpected EOF encountered!";
  EXPECT_EQ(messageOf<IOException>([&] { f->readIntColumn(1); }), eof);
  EXPECT_EQ(messageOf<IOException>([&] { f->readDoubleColumns(0, 0); }), eof);
  EXPECT_EQ(messageOf<IOException>([&] { f->readFloatColumns(std::vector<int>{2}.data(), 1); }), eof);
  EXPECT_EQ(f->readColumn(2, text), 1);
  EXPECT_EQ(text, (std::vector<std::string>{"8"}));
  f.reset();
  std::remove(name.c_str());
}

// Whitespace columns equal numpy.loadtxt of the same file, value for value.
TEST(AscFile, WhitespaceColumnsEqualNumpyLoadtxt) {
  const std::string table = "asc_random_table.txt";
  {
    std::mt19937 rng(20261210);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30), spaces(1, 4), kind(0, 5);
    std::ofstream out(table);
    out << "# generated table\n\n";
    out.precision(17);
    for (int row = 0; row < 200; ++row) {
      out << std::string(spaces(rng) - 1, ' ');
      for (int col = 0; col < 4; ++col) {
        const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        if (col > 0) out << (kind(rng) == 0 ? "\t" : std::string(spaces(rng), ' '));
        if (col == 0)
          out << row - 100;
        else if (col == 1)
          out << std::scientific << v << std::defaultfloat;
        else
          out << v;
      }
      if (kind(rng) == 0) out << " # note";
      out << "\n";
      if (kind(rng) == 1) out << "   # comment line\n \t\n";
    }
  }
  const std::string command = test_support::pythonCommand(
      "-c \"import numpy\nfor row in numpy.loadtxt('" + table +
      "', comments='#', ndmin=2):\n print(' '.join(repr(float(v)) for v in row))\"");
  std::string output;
  ASSERT_EQ(test_support::runCommand(command, &output), 0) << output;

  AscFile f(table, 0, "#");
  const orv::MArray<double, 2> values = f.readDoubleColumns(0, 0);
  ASSERT_EQ(values.length(1), 4);
  ASSERT_EQ(values.length(2), 200);
  std::istringstream lines(output);
  std::string word;
  for (int i = 1; i <= 200; ++i) {
    for (int j = 1; j <= 4; ++j) {
      ASSERT_TRUE(lines >> word);
      EXPECT_EQ(values(j, i), std::strtod(word.c_str(), nullptr)) << "row " << i << " column " << j;
    }
  }
  EXPECT_FALSE(lines >> word);
  std::remove(table.c_str());
}

}  // namespace
