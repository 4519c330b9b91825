// Exact decimal text of quotients, for handing to the regional formatter:
// it is given digits, never a rounded double. Every function rounds half up
// and works for any operands and any count of decimals (the arithmetic grows
// as it needs to).
#pragma once

#include <cstdint>
#include <string>

namespace tallowin {

// An unsigned number of up to 128 bits: the sum of two 64-bit counters and a
// hundred times a counter both fit, and it builds for 32-bit targets too.
struct Wide128 {
  uint64_t hi = 0;
  uint64_t lo = 0;
};
Wide128 Add(Wide128 a, Wide128 b);
// a * factor, exactly (it needs at most 96 bits).
Wide128 Product(uint64_t a, uint32_t factor);

// The value in decimal digits.
std::string DecimalText(Wide128 value);

// numerator / denominator rounded half up to `decimals` places (a negative
// count counts as 0): "12.50". A zero denominator gives "0".
std::string DecimalQuotient(Wide128 numerator, Wide128 denominator, int decimals);

// numerator / 2^shift, likewise: bytes in KB, MB and GB, fractions of a colour.
std::string DecimalOfPow2Fraction(uint64_t numerator, unsigned shift, int decimals);

// value / 10^scale, likewise: hertz in MHz, 100 ns units in seconds.
std::string DecimalOfPow10Fraction(uint64_t value, unsigned scale, int decimals);

}  // namespace tallowin
