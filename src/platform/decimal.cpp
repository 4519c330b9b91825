#include "platform/decimal.h"

#include <utility>
#include <vector>

namespace tallowin {

namespace {

// An unsigned whole number of any size: 32-bit limbs, lowest first, with no
// zero limb on top (zero has none).
class Natural {
 public:
  explicit Natural(uint64_t v = 0) {
    for (; v != 0; v >>= 32) limbs_.push_back(static_cast<uint32_t>(v));
  }
  explicit Natural(Wide128 v) : Natural(v.lo) {
    if (v.hi == 0) return;
    limbs_.resize(2, 0);
    for (; v.hi != 0; v.hi >>= 32) limbs_.push_back(static_cast<uint32_t>(v.hi));
  }

  bool isZero() const { return limbs_.empty(); }

  void shiftLeft(unsigned bits) {
    if (isZero()) return;
    const unsigned within = bits % 32;
    if (within != 0) {
      uint32_t carry = 0;
      for (uint32_t& limb : limbs_) {
        const uint32_t next = limb >> (32 - within);
        limb = (limb << within) | carry;
        carry = next;
      }
      if (carry != 0) limbs_.push_back(carry);
    }
    limbs_.insert(limbs_.begin(), bits / 32, 0);
  }

  void multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs_) {
      const uint64_t product = uint64_t{limb} * factor + carry;
      limb = static_cast<uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
    trim();
  }

  // Requires other <= *this.
  void subtract(const Natural& other) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < limbs_.size(); ++i) {
      const uint64_t take = (i < other.limbs_.size() ? other.limbs_[i] : 0) + borrow;
      borrow = limbs_[i] < take ? 1 : 0;
      limbs_[i] = static_cast<uint32_t>((uint64_t{1} << 32) * borrow + limbs_[i] - take);
    }
    trim();
  }

  friend int compare(const Natural& a, const Natural& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

  std::vector<uint32_t> limbs_;
};

// The digit of rest / step when rest < 10 * step; rest keeps the remainder.
char takeDigit(Natural& rest, const Natural& step) {
  char digit = '0';
  while (compare(rest, step) >= 0) {
    rest.subtract(step);
    ++digit;
  }
  return digit;
}

// Adds one to a string of decimal digits.
void increment(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

// Long division in base ten: the whole part digit by digit from the largest
// denominator * 10^k that fits, then `decimals` digits and one more that
// decides the rounding (a digit of 5 or more is at least half).
std::string quotient(Natural rest, const Natural& denominator, int decimals) {
  if (denominator.isZero()) return "0";
  if (decimals < 0) decimals = 0;
  std::vector<Natural> steps;
  for (Natural step = denominator; compare(step, rest) <= 0; step.multiply(10)) steps.push_back(step);
  std::string digits;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) digits += takeDigit(rest, *step);
  if (digits.empty()) digits += '0';
  bool roundUp = false;
  for (int k = 0; k <= decimals; ++k) {
    rest.multiply(10);
    const char digit = takeDigit(rest, denominator);
    if (k < decimals)
      digits += digit;
    else
      roundUp = digit >= '5';
  }
  if (roundUp) increment(digits);
  if (decimals == 0) return digits;
  digits.insert(digits.size() - static_cast<size_t>(decimals), 1, '.');
  return digits;
}

}  // namespace

Wide128 Add(Wide128 a, Wide128 b) {
  Wide128 r;
  r.lo = a.lo + b.lo;
  r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
  return r;
}

Wide128 Product(uint64_t a, uint32_t factor) {
  const uint64_t low = (a & 0xFFFFFFFFu) * factor;  // below 2^64
  const uint64_t high = (a >> 32) * factor;         // to be shifted up 32 bits
  return Add({high >> 32, high << 32}, {0, low});
}

std::string DecimalText(Wide128 value) { return quotient(Natural(value), Natural(1), 0); }

std::string DecimalQuotient(Wide128 numerator, Wide128 denominator, int decimals) {
  return quotient(Natural(numerator), Natural(denominator), decimals);
}

std::string DecimalOfPow2Fraction(uint64_t numerator, unsigned shift, int decimals) {
  Natural denominator(1);
  denominator.shiftLeft(shift);
  return quotient(Natural(numerator), denominator, decimals);
}

std::string DecimalOfPow10Fraction(uint64_t value, unsigned scale, int decimals) {
  Natural denominator(1);
  for (unsigned i = 0; i < scale; ++i) denominator.multiply(10);
  return quotient(Natural(value), denominator, decimals);
}

}  // namespace tallowin
