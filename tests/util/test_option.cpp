// Typed options: reading their texts, bound variables, defaults and type names.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/message_of.h"
#include "util/option.h"
#include "util/region.h"
#include "util/uexception.h"

namespace {

using test_support::messageOf;

TEST(Option, ScalarTextsAreReadLenientlyAndWrittenToTheBoundVariable) {
  struct Case {
    const char* text;
    int asInt;
    double asDouble;
    const char* floatText;  // toString of a FloatOption given the text
  };
  const Case cases[] = {
      {"12abc", 12, 12.0, "12"},
      {"abc", 0, 0.0, "0"},
      {" -7", -7, -7.0, "-7"},
      {"", 0, 0.0, "0"},
      {"0.1", 0, 0.1, "0.1"},
      {"2.5e3x", 2, 2500.0, "2500"},
      {"99999999999", INT_MAX, 99999999999.0, "1e+11"},
      {"-99999999999", INT_MIN, -99999999999.0, "-1e+11"},
      {"1e300", 1, 1e300, "inf"},
      {"-1e300", -1, -1e300, "-inf"},
      // Just above FLT_MAX, but nearer to it than to 2^128: rounds to FLT_MAX.
      {"3.4028235e38", 3, 3.4028235e38, "3.40282e+38"},
      {"-3.4028235e38", -3, -3.4028235e38, "-3.40282e+38"},
      {"3.40282367e38", 3, 3.40282367e38, "inf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int i = -1;
    float f = -1.0f;
    double d = -1.0;
    util::IntOption intOption("count", "3", "", 0, &i);
    util::FloatOption floatOption("scale", "3", "", 0, &f);
    util::DoubleOption doubleOption("factor", "3", "", 0, &d);
    intOption.setValue(c.text);
    floatOption.setValue(c.text);
    doubleOption.setValue(c.text);
    EXPECT_EQ(i, c.asInt);
    EXPECT_EQ(intOption.getInt(), c.asInt);
    EXPECT_EQ(d, c.asDouble);
    EXPECT_EQ(doubleOption.getDouble(), c.asDouble);
    EXPECT_EQ(floatOption.toString(), c.floatText);
  }
}

TEST(Option, ConstructorStoresTheDefaultAtOnce) {
  int i = 0;
  float f = 0;
  double d = 0;
  bool b = false;
  std::string s;
  util::IntOption intOption("verbose", "4", "", 'v', &i);
  util::FloatOption floatOption(std::string("f"), std::string("0.5"), std::string(""), 0, &f);
  util::DoubleOption doubleOption("d", "1e-3", "", 0, &d);
  util::BoolOption boolOption("flag", "yes", "", 0, &b);
  util::StringOption stringOption("prefix", "b", "", 'p', &s);
  EXPECT_EQ(i, 4);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(d, 1e-3);
  EXPECT_TRUE(b);
  EXPECT_EQ(s, "b");
  EXPECT_EQ(stringOption.getDefault(), "b");
  EXPECT_EQ(stringOption.getName(), "prefix");
  EXPECT_EQ(stringOption.getCmdLineChar(), 'p');
}

TEST(Option, BoolWordsAndToggle) {
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {
      {"FALSE", false}, {"false", false}, {"NO", false},  {"no", false},   {"F", false},
      {"f", false},     {"N", false},     {"n", false},   {"0", false},    {"No", true},
      {"", true},       {"yes", true},    {"TRUE", true}, {"False", true}, {"00", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    bool bound = !c.expected;
    util::BoolOption option("flag", "false", "", 0, &bound);
    option.setValue(c.text);
    EXPECT_EQ(bound, c.expected);
    EXPECT_EQ(option.toString(), c.expected ? "TRUE" : "FALSE");
  }

  bool bound = false;
  util::BoolOption option("flag", "true", "", 0, &bound);
  option.setValue("toggle");
  EXPECT_FALSE(bound);
  option.setValue("toggle");
  EXPECT_TRUE(bound);
  EXPECT_FALSE(option.needsValue());
}

TEST(Option, GettersFollowTheBoundVariableExceptForDouble) {
  int i = 0;
  std::string s;
  bool b = false;
  double d = 0;
  util::IntOption intOption("i", "1", "", 0, &i);
  util::StringOption stringOption("s", "x", "", 0, &s);
  util::BoolOption boolOption("b", "false", "", 0, &b);
  util::DoubleOption doubleOption("d", "1.5", "", 0, &d);
  i = 9;
  s = "changed";
  b = true;
  d = 7.0;
  EXPECT_EQ(intOption.toString(), "9");
  EXPECT_EQ(stringOption.toString(), "changed");
  EXPECT_EQ(boolOption.toString(), "TRUE");
  EXPECT_EQ(doubleOption.toString(), "1.5");
}

TEST(Option, UnboundOptionsKeepTheirValue) {
  util::IntOption intOption("i", "1", "", 0, nullptr);
  util::FloatOption floatOption("f", "0.1", "", 0, nullptr);
  util::StringOption stringOption("s", "x", "", 0, nullptr);
  util::BoolOption boolOption("b", "true", "", 0, nullptr);
  util::IntArrayOption arrayOption("a", "1,2,3", "", 0, 3, nullptr);
  util::RegionArrayOption regionOption("r", "3:1", "", 0, 1, nullptr);
  intOption.setValue("5");
  boolOption.setValue("toggle");
  EXPECT_EQ(intOption.getInt(), 5);
  EXPECT_EQ(floatOption.toString(), "0.1");
  EXPECT_FLOAT_EQ(floatOption.getFloat(), 0.1f);
  EXPECT_EQ(stringOption.getString(), "x");
  EXPECT_FALSE(boolOption.getBool());
  EXPECT_EQ(arrayOption.toString(), "1,2,3");
  EXPECT_EQ(arrayOption.getIntArray()[2], 3);
  EXPECT_EQ(regionOption.toString(), "1:3");
}

TEST(Option, TypeNamesAndBaseDefaults) {
  const std::vector<std::pair<std::unique_ptr<util::Option>, const char*>> cases = [] {
    std::vector<std::pair<std::unique_ptr<util::Option>, const char*>> v;
    v.emplace_back(std::make_unique<util::IntOption>("a", "0", "", 0, nullptr), "INT");
    v.emplace_back(std::make_unique<util::FloatOption>("a", "0", "", 0, nullptr), "FLOAT");
    v.emplace_back(std::make_unique<util::DoubleOption>("a", "0", "", 0, nullptr), "DOUBLE");
    v.emplace_back(std::make_unique<util::BoolOption>("a", "0", "", 0, nullptr), "FLAG");
    v.emplace_back(std::make_unique<util::StringOption>("a", "0", "", 0, nullptr), "STRING");
    v.emplace_back(std::make_unique<util::IntArrayOption>("a", "0", "", 0, 1, nullptr), "INTARRAY");
    v.emplace_back(std::make_unique<util::FloatArrayOption>("a", "0", "", 0, 1, nullptr), "FLOATARRAY");
    v.emplace_back(std::make_unique<util::DoubleArrayOption>("a", "0", "", 0, 1, nullptr), "DOUBLEARRAY");
    v.emplace_back(std::make_unique<util::RegionArrayOption>("a", "0", "", 0, 1, nullptr), "REGIONARRAY");
    return v;
  }();
  for (const auto& [option, typeName] : cases) {
    EXPECT_EQ(option->getTypeName(), typeName);
    EXPECT_EQ(option->needsValue(), std::string(typeName) != "FLAG") << typeName;
  }
  // A string option answers the base getters of the other kinds.
  const util::Option& s = *cases[4].first;
  EXPECT_EQ(s.getInt(), 0);
  EXPECT_EQ(s.getFloat(), 0.0f);
  EXPECT_FALSE(s.getBool());
  EXPECT_EQ(cases[0].first->getString(), "");
}

TEST(Option, NumberArraysSplitAtEveryComma) {
  struct Case {
    const char* text;
    std::vector<int> expected;  // elements 0 and 1 afterwards (they start as 8, 9)
    const char* message;        // empty when nothing is thrown
  };
  const Case cases[] = {
      {"5", {5, 9}, ""},
      {"3,4", {3, 4}, ""},
      {",7", {0, 7}, ""},
      {"1,2,3", {1, 2}, "Too many elements in IntArrayOption pair!"},
      {"1,2,", {1, 2}, "Too many elements in IntArrayOption pair!"},
      {"1x, -2", {1, -2}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int bound[2] = {0, 0};
    util::IntArrayOption option("pair", "8,9", "", 'g', 2, bound);
    EXPECT_EQ(messageOf<util::UException>([&] { option.setValue(c.text); }, "<nothing thrown>"),
              *c.message ? c.message : "<nothing thrown>");
    EXPECT_EQ(std::vector<int>(bound, bound + 2), c.expected);
  }
}

TEST(Option, ArrayKindsNameThemselvesInTheirMessageAndFormatWithG) {
  float floats[3];
  double doubles[2];
  util::FloatArrayOption floatOption("scales", "0.1,2.5,1e6", "", 0, 3, floats);
  util::DoubleArrayOption doubleOption(std::string("factors"), std::string("1,0.25"), std::string(), 0, 2,
                                       doubles);
  EXPECT_EQ(floatOption.toString(), "0.1,2.5,1e+06");
  EXPECT_EQ(doubleOption.toString(), "1,0.25");
  EXPECT_EQ(doubles[1], 0.25);
  EXPECT_EQ(floats[0], 0.1f);
  EXPECT_EQ(messageOf<util::UException>([&] { floatOption.setValue("1,2,3,4"); }),
            "Too many elements in FloatArrayOption scales!");
  EXPECT_EQ(messageOf<util::UException>([&] { doubleOption.setValue("1,2,3"); }),
            "Too many elements in DoubleArrayOption factors!");
  EXPECT_EQ(floatOption.getFloatArray(), floats);
  EXPECT_EQ(doubleOption.getDoubleArray(), doubles);
}

TEST(Option, ArrayAndRegionKindsWithoutElementsCannotBeMade) {
  EXPECT_EQ(messageOf<util::UException>([] { util::IntArrayOption("a", "", "", 0, 0, nullptr); }),
            "Too many elements in IntArrayOption a!");
  EXPECT_EQ(messageOf<util::UException>([] { util::DoubleArrayOption("b", "", "", 0, -3, nullptr); }),
            "Too many elements in DoubleArrayOption b!");
  EXPECT_EQ(messageOf<util::UException>([] { util::RegionArrayOption("r", "", "", 0, 0, nullptr); }),
            "Too many elements in RegionArrayOption r!");
  // A default with too many pieces makes the constructor throw as well.
  EXPECT_EQ(messageOf<util::UException>([] { util::FloatArrayOption("c", "1,2", "", 0, 1, nullptr); }),
            "Too many elements in FloatArrayOption c!");
}

TEST(Option, ArrayCopyWritesTheSameVariableButOwnsItsElements) {
  int bound[2] = {0, 0};
  util::IntArrayOption original("pair", "1,2", "", 0, 2, bound);
  util::IntArrayOption copy(original);
  copy.setValue("7");
  EXPECT_EQ(bound[0], 7);
  EXPECT_EQ(copy.getName(), "pair");

  util::IntArrayOption unbound("own", "1,2", "", 0, 2, nullptr);
  util::IntArrayOption unboundCopy(unbound);
  unboundCopy.setValue("5,6");
  EXPECT_EQ(unbound.toString(), "1,2");
  EXPECT_EQ(unboundCopy.toString(), "5,6");
}

TEST(Option, RegionTextsInEitherOrder) {
  struct Case {
    int n;
    const char* text;
    const char* expected;  // toString afterwards; default "1:2,3:4" for n = 2, "1:2" for n = 1
    const char* message;
  };
  const Case cases[] = {
      {2, "270:1870,280:1880", "270:1870,280:1880", ""},
      {2, "1880:280,1870:270", "280:1880,270:1870", ""},
      {2, "-5:5", "-5:5,3:4", ""},
      {1, "5", "0:5", ""},
      {1, "-3", "-3:0", ""},
      {2, "1:2,3:4,5:6", "1:2,3:4", "Too many elements in RegionArrayOption region!"},
      {2, "9:8,7:6,", "8:9,6:7", "Too many elements in RegionArrayOption region!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    util::Region bound(static_cast<unsigned long>(c.n));
    util::RegionArrayOption option("region", c.n == 2 ? "1:2,3:4" : "2:1", "", 'r', c.n, &bound);
    EXPECT_EQ(messageOf<util::UException>([&] { option.setValue(c.text); }, "<nothing thrown>"),
              *c.message ? c.message : "<nothing thrown>");
    EXPECT_EQ(option.toString(), c.expected);
    EXPECT_EQ(option.toRegionString(), std::string("[") + c.expected + "]");
    const util::Region copy = option.getRegionArray();
    EXPECT_EQ(copy.getStart(1), bound.getStart(1));
    EXPECT_EQ(copy.getEnd(1), bound.getEnd(1));
  }
}

TEST(Option, RegionBoundWithTooFewDimensionsReportsTheRegionError) {
  util::Region bound(1);
  EXPECT_EQ(
      messageOf<util::UException>([&] { util::RegionArrayOption("region", "1:2,3:4", "", 0, 2, &bound); }),
      "request to set region parameter of illegal dimension");
}

TEST(Option, ListingLine) {
  struct Case {
    const char* name;
    char c;
    const char* defaultText;
    const char* value;
    const char* line;
  };
  const Case cases[] = {
      {"verbose", 'v', "0", "2", "verbose          | v |                          0 | 2"},
      {"ref", 0, "false", "true", "ref              |   |                      false | TRUE"},
      {"a_name_longer_than_16", 'x', "a default text longer than 26 chars", "",
       "a_name_longer_than_16 | x | a default text longer than 26 chars | "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<util::Option> option;
    if (std::string(c.name) == "ref") {
      option = std::make_unique<util::BoolOption>(c.name, c.defaultText, "", c.c, nullptr);
    } else {
      option = std::make_unique<util::StringOption>(c.name, c.defaultText, "", c.c, nullptr);
    }
    option->setValue(c.value);
    std::ostringstream os;
    os << *option;
    EXPECT_EQ(os.str(), c.line);
  }
}

}  // namespace
