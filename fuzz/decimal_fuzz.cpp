// The exact-decimal module over fuzzed operands: 128-bit quotients, powers
// of two and of ten, any count of decimals. Each text is checked against
// arithmetic of its own kind, on base-ten digit strings: the text's digits q
// (point removed) are the half-up rounding of n * 10^k / d exactly when
// 2 q d <= 2 n 10^k + d < 2 (q + 1) d.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/decimal.h"

using namespace tallowin;

namespace {

// A natural number as decimal digits, most significant first, no leading
// zero ("" is zero).
using Digits = std::string;

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "decimal_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

Digits trimmed(Digits d) {
  const size_t first = d.find_first_not_of('0');
  return first == Digits::npos ? Digits() : d.substr(first);
}

Digits of(uint64_t v) { return trimmed(std::to_string(v)); }

Digits plus(const Digits& a, const Digits& b) {
  Digits out;
  int carry = 0;
  for (size_t i = 0; i < a.size() || i < b.size() || carry; ++i) {
    int s = carry;
    if (i < a.size()) s += a[a.size() - 1 - i] - '0';
    if (i < b.size()) s += b[b.size() - 1 - i] - '0';
    out.insert(out.begin(), static_cast<char>('0' + s % 10));
    carry = s / 10;
  }
  return trimmed(out);
}

Digits times(const Digits& a, const Digits& b) {
  if (a.empty() || b.empty()) return Digits();
  std::vector<int> cells(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < b.size(); ++j) cells[i + j + 1] += (a[i] - '0') * (b[j] - '0');
  for (size_t i = cells.size(); i-- > 1;) {
    cells[i - 1] += cells[i] / 10;
    cells[i] %= 10;
  }
  Digits out;
  for (int c : cells) out += static_cast<char>('0' + c);
  return trimmed(out);
}

Digits wide(Wide128 v) { return plus(times(of(v.hi), "18446744073709551616"), of(v.lo)); }  // hi * 2^64 + lo

// Negative, zero or positive as a is below, equal to or above b.
int compare(const Digits& a, const Digits& b) { return a.size() != b.size() ? (a.size() < b.size() ? -1 : 1) : a.compare(b); }

// Checks that text is n / d rounded half up to k decimals.
void check(const std::string& text, const Digits& n, const Digits& d, int k) {
  if (d.empty()) {
    if (text != "0") fail("a zero denominator", text);
    return;
  }
  const size_t point = text.find('.');
  const size_t whole = point == std::string::npos ? text.size() : point;
  if (whole == 0 || (text[0] == '0' && whole > 1)) fail("the whole part", text);
  if (k == 0 ? point != std::string::npos : text.size() - point - 1 != static_cast<size_t>(k))
    fail("the count of decimals", text);
  Digits q;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == point) continue;
    if (text[i] < '0' || text[i] > '9') fail("a character that is no digit", text);
    q += text[i];
  }
  q = trimmed(q);
  const Digits scaled = n.empty() ? Digits() : n + std::string(static_cast<size_t>(k), '0');  // n * 10^k
  const Digits middle = plus(times(of(2), scaled), d);
  const Digits low = times(times(of(2), q), d);
  const Digits high = times(times(of(2), plus(q, of(1))), d);
  if (compare(low, middle) > 0 || compare(middle, high) >= 0)
    fail("not the half-up rounding", text + " for " + n + " / " + d + " to " + std::to_string(k));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int decimals = in.ConsumeIntegralInRange(0, 40);
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: {
      Wide128 n{in.ConsumeIntegral<uint64_t>(), in.ConsumeIntegral<uint64_t>()};
      Wide128 d{in.ConsumeIntegral<uint64_t>(), in.ConsumeIntegral<uint64_t>()};
      if (in.ConsumeBool()) n.hi = 0;  // the 64-bit counters of today's tables
      if (in.ConsumeBool()) d.hi = 0;
      check(DecimalQuotient(n, d, decimals), wide(n), wide(d), decimals);
      if (DecimalText(n) != (wide(n).empty() ? "0" : wide(n))) fail("DecimalText", DecimalText(n));
      break;
    }
    case 1: {
      const uint64_t n = in.ConsumeIntegral<uint64_t>();
      const unsigned shift = in.ConsumeIntegralInRange(0u, 200u);
      Digits d = of(1);
      for (unsigned i = 0; i < shift; ++i) d = times(d, of(2));
      check(DecimalOfPow2Fraction(n, shift, decimals), of(n), d, decimals);
      break;
    }
    default: {
      const uint64_t n = in.ConsumeIntegral<uint64_t>();
      const unsigned scale = in.ConsumeIntegralInRange(0u, 60u);
      check(DecimalOfPow10Fraction(n, scale, decimals), of(n), "1" + std::string(scale, '0'), decimals);
      break;
    }
  }
  return 0;
}
