// The exact-decimal module: quotients of any size, powers of two and ten,
// rounding half up with the carry into the whole part.
#include <gtest/gtest.h>

#include "platform/decimal.h"

namespace tallowin {
namespace {

constexpr uint64_t kTop = ~uint64_t{0};

TEST(Decimal, Quotients) {
  struct Row {
    Wide128 n, d;
    int decimals;
    const char* text;
  };
  const Row rows[] = {
      {{0, 4294967295u}, {0, 1000000}, 2, "4294.97"},
      {{0, 10000000000u}, {0, 1000000}, 2, "10000.00"},
      {{0, 100000000}, {0, 1000000}, 2, "100.00"},
      {{0, 1005000}, {0, 1000000}, 2, "1.01"},  // half up
      {{0, 1004999}, {0, 1000000}, 2, "1.00"},
      {{0, 999999999}, {0, 100000000}, 2, "10.00"},  // the carry runs into the whole part
      {{0, 0}, {0, 7}, 6, "0.000000"},
      {{0, 200}, {0, 3}, 6, "66.666667"},
      {{0, kTop}, {0, 1}, 0, "18446744073709551615"},
      {{1, 0}, {0, 2}, 0, "9223372036854775808"},  // 2^64 / 2
      {{1, 0}, {2, 0}, 3, "0.500"},                // above 64 bits on both sides
      // Denominators near 2^128, where ten times a remainder needs more than 128 bits.
      {{kTop, kTop}, {kTop, kTop}, 2, "1.00"},
      {{kTop, kTop - 1}, {kTop, kTop}, 3, "1.000"},
      {{kTop >> 1, kTop}, {kTop, kTop}, 1, "0.5"},  // just below a half: 0.49... rounds to 0.5
      {{kTop, kTop}, {0, 3}, 1, "113427455640312821154458202477256070485.0"},
      {{0, 1}, {0, 3}, 30, "0.333333333333333333333333333333"},  // more decimals than 64 bits hold
      {{0, 2}, {0, 3}, 0, "1"},
      {{0, 5}, {0, 1}, -1, "5"},  // a negative count is none
      {{0, 5}, {0, 0}, 2, "0"},   // no denominator
  };
  for (const Row& r : rows) EXPECT_EQ(DecimalQuotient(r.n, r.d, r.decimals), r.text) << r.text;
}

TEST(Decimal, WideSumsProductsAndText) {
  const Wide128 top{0, kTop};
  EXPECT_EQ(DecimalText(Add(top, top)), "36893488147419103230");
  EXPECT_EQ(DecimalText(Add({0, 4294967295u}, {0, 4294967295u})), "8589934590");
  EXPECT_EQ(DecimalText({0, 0}), "0");
  EXPECT_EQ(DecimalText({kTop, kTop}), "340282366920938463463374607431768211455");
  EXPECT_EQ(DecimalText(Product(kTop, 100)), "1844674407370955161500");
  EXPECT_EQ(DecimalText(Product(kTop, 4294967295u)), "79228162495817593515539431425");
  EXPECT_EQ(DecimalText(Product(7, 0)), "0");
}

TEST(Decimal, PowersOfTwoAndTen) {
  struct Row {
    const char* what;
    std::string got;
    const char* text;
  };
  const Row rows[] = {
      {"1536 / 2^10", DecimalOfPow2Fraction(1536, 10, 2), "1.50"},
      {"1023 / 2^10", DecimalOfPow2Fraction(1023, 10, 2), "1.00"},  // 0.999 rounds to 1.00
      {"5 / 2", DecimalOfPow2Fraction(5, 1, 0), "3"},
      {"0 / 2^20", DecimalOfPow2Fraction(0, 20, 2), "0.00"},
      {"1 / 2^30", DecimalOfPow2Fraction(1, 30, 4), "0.0000"},
      {"1 / 2^4, exact to 12", DecimalOfPow2Fraction(1, 4, 12), "0.062500000000"},
      {"top / 2^64", DecimalOfPow2Fraction(kTop, 64, 20), "0.99999999999999999995"},  // 1 - 2^-64, half up
      {"top / 2^200", DecimalOfPow2Fraction(kTop, 200, 3), "0.000"},
      {"3 / 2^1 to none", DecimalOfPow2Fraction(3, 1, 0), "2"},  // 1.5 rounds up
      {"top / 2^0", DecimalOfPow2Fraction(kTop, 0, 1), "18446744073709551615.0"},
      {"3,579,545 Hz in MHz", DecimalOfPow10Fraction(3579545, 6, 2), "3.58"},
      {"5,000 Hz in MHz", DecimalOfPow10Fraction(5000, 6, 2), "0.01"},
      {"156,250 in seconds", DecimalOfPow10Fraction(156250, 7, 9), "0.015625000"},
      {"top in MHz", DecimalOfPow10Fraction(kTop, 6, 2), "18446744073709.55"},
      {"top / 10^25", DecimalOfPow10Fraction(kTop, 25, 12), "0.000001844674"},
      {"9,995 / 10^4 to 2", DecimalOfPow10Fraction(9995, 4, 2), "1.00"},
      {"7 / 10^0", DecimalOfPow10Fraction(7, 0, 0), "7"},
  };
  for (const Row& r : rows) EXPECT_EQ(r.got, r.text) << r.what;
}

}  // namespace
}  // namespace tallowin
