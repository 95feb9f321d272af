#!/usr/bin/python3
"""Writes the ASCII column fixtures asc_*.txt used by test_ascio.cpp.

Written byte for byte (CR characters, tabs, missing final newline) so that the
files do not depend on an editor. Run from this directory.
"""

FIXTURES = {
    # Whitespace mode, comment "#": header after an empty line and a blank line,
    # comment-only and whitespace-only lines between rows, tabs, comments behind data.
    "asc_whitespace.txt": (
        "\n"
        "  # Star table\n"
        "#  x y flux\n"
        "\n"
        "   1 2.5 7 # first star\n"
        "   # a comment line\n"
        "\t  \n"
        "2\t-3.25e2   8\n"
        "3 0.1 9\n"
        "  4 1e-5 -10   \n"
        "# a trailing comment line\n"
        "5 123456.789 11"
    ),
    # Character mode with ',': an empty column, blanks that belong to the column,
    # a row of blanks only (a data row here), a comment behind data.
    "asc_comma.txt": (
        "# a,b,c\n"
        "1,,3\n"
        " 4 , 5 ,6\n"
        "   \n"
        "7,8,9 # note\n"
    ),
    # CR LF line ends: whitespace-only lines (a CR alone) are empty in whitespace
    # mode; in character mode the last field keeps its CR.
    "asc_crlf.txt": "# crlf\r\n1,2,3\r\n\r\n4,5,6\r\n",
    # Data lines 10..40 with comment and empty lines before and between them.
    "asc_range.txt": (
        "# range test\n"
        "10 a\n"
        "\n"
        "# between\n"
        "20 b\n"
        "30 c\n"
        "   # between\n"
        "40 d\n"
    ),
    # No data lines at all.
    "asc_comments_only.txt": "# only\n\n   \n  # comments\n",
    # First data line has four columns, a later one three.
    "asc_ragged.txt": "1 2 3 4\n5 6 7\n",
    # Fields that convert partly or not at all.
    "asc_partial.txt": "12abc 3.7 x\n",
    # Values outside the range of int and of double.
    "asc_limits.txt": "99999999999 1e400 2\n",
    # The header example: an empty line, two blanks, '#', a blank and a title.
    "asc_header.txt": "\n  # Title of table\n1 2\n# not header\n",
}

for name, text in FIXTURES.items():
    with open(name, "wb") as out:
        out.write(text.encode("ascii"))
