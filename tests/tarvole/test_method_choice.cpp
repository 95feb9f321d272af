// Tests the choice of the fitting method from the option flags: the first row whose test holds.
#include <gtest/gtest.h>

#include <string>

#include "tarvole/method_choice.h"

namespace {

TEST(MethodChoice, FirstRowWhoseTestHolds) {
  struct Case {
    const char* flags;  // letters: d diffima, f fielddiffima, y fielddiffimaY, s skynew, m binspline,
                        // h binsplinedez, w verynew, n fitnew, b const_abs, c const, e error, o rOund
    int row;
    const char* announcement;  // null: nothing printed
  };
  const Case cases[] = {
      {"", 7, "\nbintarvole with free absorption:"},
      {"eo", 7, "\nbintarvole with free absorption:"},
      {"df", 1, " tarvole with difference imaging of stars"},
      {"dfysmhwnbc", 1, " tarvole with difference imaging of stars"},
      {"fy", 2, " tarvole with difference imaging in field"},
      {"y", 3, " tarvole with difference imaging in field and spline in Y"},
      {"ysm", 3, " tarvole with difference imaging in field and spline in Y"},
      {"sm", 4, nullptr},
      {"cm", 5, nullptr},
      {"h", 5, nullptr},
      {"hw", 5, nullptr},
      {"w", 6, nullptr},
      {"n", 6, nullptr},
      {"b", 6, nullptr},
      {"c", 6, nullptr},
  };
  for (const Case& c : cases) {
    Pliste P;
    const std::string f = c.flags;
    const auto has = [&](char letter) { return f.find(letter) != std::string::npos; };
    P.diffima = has('d');
    P.fielddiffima = has('f');
    P.fielddiffimaY = has('y');
    P.skynew = has('s');
    P.binspline = has('m');
    P.binsplinedez = has('h');
    P.verynew = has('w');
    P.fitnew = has('n');
    P.const_abs = has('b');
    P.const_sky = has('c');
    P.error = has('e');
    P.rOund = has('o');
    const MethodRow& row = choose_method(P);
    EXPECT_EQ(row.number, c.row) << c.flags;
    EXPECT_EQ(row.announcement == nullptr ? "<none>" : std::string(row.announcement),
              c.announcement == nullptr ? "<none>" : std::string(c.announcement))
        << c.flags;
    EXPECT_EQ(&method_table()[static_cast<std::size_t>(row.number - 1)], &row);
  }
  EXPECT_STREQ(method_table()[6].name, "fit_abs_sky");
  EXPECT_NE(method_table()[6].call, nullptr);
}

}  // namespace
