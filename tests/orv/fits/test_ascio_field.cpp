// Numbers read from ASCII table fields: the same results as formatted extraction from a
// string stream in the classic locale, which is the reference.
#include <gtest/gtest.h>

#include <cstring>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>

#include "orv/fits/ascio_field.h"

namespace {

// Whether the stream reads a number from text, and which.
template <class T>
bool streamReads(const std::string& text, T& value) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> value;
  return !in.fail();
}

template <class T>
void expectAgreement(const std::string& text) {
  T expected{};
  T got{};
  const bool streamOk = streamReads(text, expected);
  const bool ok = orv::detail::readFieldValue(text, got);
  ASSERT_EQ(ok, streamOk) << "field '" << text << "' as " << typeid(T).name();
  // Bit for bit: the same rounding, the same sign of a zero.
  if (ok) {
    ASSERT_EQ(std::memcmp(&got, &expected, sizeof(T)), 0) << "field '" << text << "': " << got;
  }
}

void expectAgreementForAllTypes(const std::string& text) {
  expectAgreement<int>(text);
  expectAgreement<float>(text);
  expectAgreement<double>(text);
}

TEST(AscFieldValue, AgreesWithTheStreamOnChosenFields) {
  // clang-format off
  const char* fields[] = {
      "0", "-0", "+0", "7", "-7", "+7", "007", "12abc", "3.7", "-3.7e2x", " \t42", "\v\f\r-1",
      "", " ", "-", "+", "+-5", "-+5", ".", "-.", ".5", "-.5", "5.", "1.2.3", "1e", "1e+", "1e-",
      "1E5", "1e+05", "1e-05", "0e5", "e5", ".e5", "-e5", "1e5e3", "1e5.3", "0x1p3", "0x10", "inf",
      "-inf", "nan", "NaN", "infinity", "2147483647", "2147483648", "-2147483648", "-2147483649",
      "99999999999", "0000000000000000000000012", "99999999999999999999999999", "1e38", "3.4028235e38",
      "3.4028236e38", "1e39", "-1e39", "1e-45", "1e-46", "1.17549435e-38", "1e308", "1.7976931348623157e308",
      "1.7976931348623159e308", "1e309", "1e400", "-1e400", "4.9406564584124654e-324", "2e-324", "1e-400",
      "-1e-400", "1e-99999999999", "1e99999999999", "0e99999999999", "0.1000000000000000055511151231257827",
      "9007199254740993", "1.00000005960464477539062500000000001", "12,5", "1_000", "١٢"};
  // clang-format on
  for (const char* field : fields) {
    SCOPED_TRACE(field);
    expectAgreementForAllTypes(field);
  }
}

TEST(AscFieldValue, AgreesWithTheStreamOnRandomFields) {
  // Short texts over the characters a number is made of, and a few it is not.
  const std::string alphabet = "0123456789012345+-.eE ex9";
  const unsigned seed = 20261210;
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int i = 0; i < 200000; ++i) {
    std::string text(length(random), ' ');
    for (char& c : text) c = alphabet[pick(random)];
    SCOPED_TRACE("seed " + std::to_string(seed) + ", case " + std::to_string(i));
    expectAgreementForAllTypes(text);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
