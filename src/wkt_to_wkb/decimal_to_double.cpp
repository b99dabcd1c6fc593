#include "wkt_to_wkb/decimal_to_double.hpp"

#include <cstring>

namespace quorvel {

namespace decimal_detail {

namespace {

constexpr std::uint64_t INFINITY_BITS = 0x7FF0000000000000u;
constexpr std::uint64_t ALL_ONES = ~std::uint64_t{0};

// The powers of ten whose table entry is exact and whose low half is zero: 5^k < 2^64.
constexpr int MAX_LOW_HALF_ZERO_POWER = 27;

constexpr bool low_halves_are_zero() {
    for (int k = 0; k <= MAX_LOW_HALF_ZERO_POWER; ++k) {
        if (POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN].low != 0) return false;
    }
    return true;
}
static_assert(MAX_LOW_HALF_ZERO_POWER <= MAX_EXACT_POWER_OF_TEN && low_halves_are_zero());

// floor_log2_pow10 against the table: from 10^k to 10^(k+1) the binary exponent of
// the entry grows by 3 when ten times the power's significand stays below 2^131, by
// 4 otherwise.  Only the entry of 10^-1 is the rounded-down edge 2^131 / 10 itself,
// and 10^-1 is exactly on the edge (10^0 = 2^0): counted as not below.
constexpr bool floor_log2_pow10_matches_table() {
    constexpr std::uint64_t EDGE = 0xCCCCCCCCCCCCCCCCu;  // both halves of 2^131 / 10
    if (floor_log2_pow10(0) != 0) return false;
    for (int k = MIN_POWER_OF_TEN; k < MAX_POWER_OF_TEN; ++k) {
        const PowerOfTen128& t = POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN];
        const bool below = t.high < EDGE || (t.high == EDGE && t.low < EDGE);
        if (floor_log2_pow10(k + 1) - floor_log2_pow10(k) != (below ? 3 : 4)) return false;
    }
    return true;
}
static_assert(floor_log2_pow10_matches_table());

// The fast path's answer: the bits of the rounded magnitude when decided, otherwise
// the bits of the lower of the two doubles between which the value lies too close to
// their halfway point to tell.
struct FastRounding {
    std::uint64_t bits;
    bool decided;
};

// mantissa × 10^q for a nonzero mantissa (Eisel–Lemire).
FastRounding eisel_lemire(std::uint64_t mantissa, long long q) noexcept {
    // Below 2^64 × 10^-343 < 2^-1075 every mantissa rounds to zero; from 10^309 on
    // every mantissa overflows.
    if (q < MIN_POWER_OF_TEN) return {0, true};
    if (q > MAX_FINITE_POWER) return {INFINITY_BITS, true};
    const int k = static_cast<int>(q);
    const int leading_zeros = std::countl_zero(mantissa);
    const std::uint64_t normalized = mantissa << leading_zeros;
    const PowerOfTen128& power = POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN];
    // The top 128 bits of the 192-bit product normalized × power.  The low half of the
    // power adds less than one unit to them and can only move the bits we keep when
    // the nine bits under them are all ones; only then is it multiplied in.  (The
    // common case of what follows is inline in decimal_to_double.)
    UInt128 z = multiply_wide(normalized, power.high);
    if ((z.high & 0x1FF) == 0x1FF) {
        const std::uint64_t low_part = multiply_high(normalized, power.low);
        z.low += low_part;
        z.high += z.low < low_part;
    }
    // z.high has its top bit at 63 or 62; keep 54 bits: the 53 of a double and the
    // rounding bit.  With the low half multiplied in, the exact product lies within two
    // units of z.low's last bit above z; without it, the nine bits tested above keep
    // the shortfall from reaching the kept bits.  Either way the kept bits are exact
    // unless every bit under them is one.
    const int upper = static_cast<int>(z.high >> 63);
    const int shift = 9 + upper;
    const std::uint64_t m = z.high >> shift;
    const std::uint64_t under_mask = (std::uint64_t{1} << shift) - 1;
    bool under_zero = (z.high & under_mask) == 0 && z.low == 0;
    bool under_ones = (z.high & under_mask) == under_mask && z.low == ALL_ONES;
    // Biased exponent of m >> 1 as a double's significand in [2^52, 2^53).
    int biased = 1086 + upper + floor_log2_pow10(k) - leading_zeros;
    if (biased >= 2047) return {INFINITY_BITS, true};
    int dropped = 1;  // bits of m under the result's last bit
    if (biased <= 0) {
        // Subnormal: fewer bits fit, and those dropped join the bits under the
        // rounding bit.  From 55 dropped bits on, the rounding bit and the bit under it
        // are zero (m < 2^54): the value is below a quarter of the smallest subnormal.
        dropped = 2 - biased;
        if (dropped > 55) return {0, true};
        const std::uint64_t mask = (std::uint64_t{1} << (dropped - 1)) - 1;
        under_zero = under_zero && (m & mask) == 0;
        under_ones = under_ones && (m & mask) == mask;
        biased = 1;
    }
    std::uint64_t significand = m >> dropped;
    if (((m >> (dropped - 1)) & 1) == 0) {
        // Below the halfway point, unless the product is short of it by its error.
        if (under_ones) {
            return {(static_cast<std::uint64_t>(biased - 1) << 52) + significand, false};
        }
    } else if (under_zero && k >= 0 && k <= MAX_LOW_HALF_ZERO_POWER) {
        // The product is exact there: a tie, to even.
        significand += significand & 1;
    } else {
        // Above the halfway point: the product is never above the exact value, and
        // ties come only from exact powers.
        ++significand;
    }
    // A carry out of the significand moves into the exponent, up to infinity.
    const std::uint64_t bits = (static_cast<std::uint64_t>(biased - 1) << 52) + significand;
    return {bits < INFINITY_BITS ? bits : INFINITY_BITS, true};
}

// Unsigned integers of fixed capacity, least significant limb first.  Capacity: the
// comparison below holds at most 801 decimal digits (< 2^2661) on one side and, on
// the other, a halfway point's 54-bit significand times 5^1124 (< 2^2664), and shifts
// the smaller side up to the length of the larger one.
class BigInteger {
public:
    static constexpr int LIMBS = 44;

    explicit BigInteger(std::uint64_t value) noexcept : size_(value != 0) { limbs_[0] = value; }

    // this × factor + addend.
    void multiply_add(std::uint64_t factor, std::uint64_t addend) noexcept {
        std::uint64_t carry = addend;
        for (int i = 0; i < size_; ++i) {
            UInt128 p = multiply_wide(limbs_[i], factor);
            p.low += carry;
            p.high += p.low < carry;
            limbs_[i] = p.low;
            carry = p.high;
        }
        if (carry != 0 && size_ < LIMBS) limbs_[size_++] = carry;
    }

    void multiply_power_of_five(long long k) noexcept {
        constexpr std::uint64_t FIVE_TO_27 = 7450580596923828125u;
        for (; k >= 27; k -= 27) multiply_add(FIVE_TO_27, 0);
        std::uint64_t rest = 1;
        for (; k > 0; --k) rest *= 5;
        if (rest != 1) multiply_add(rest, 0);
    }

    void shift_left(long long bits) noexcept {
        if (size_ == 0 || bits == 0) return;
        const int limb_shift = static_cast<int>(bits / 64);
        const int bit_shift = static_cast<int>(bits % 64);
        int size = size_ + limb_shift + (bit_shift != 0);
        if (size > LIMBS) size = LIMBS;
        for (int i = size - 1; i >= limb_shift; --i) {
            const int from = i - limb_shift;
            std::uint64_t v = from < size_ ? limbs_[from] << bit_shift : 0;
            if (bit_shift != 0 && from >= 1 && from - 1 < size_) {
                v |= limbs_[from - 1] >> (64 - bit_shift);
            }
            limbs_[i] = v;
        }
        for (int i = 0; i < limb_shift && i < size; ++i) limbs_[i] = 0;
        while (size > 0 && limbs_[size - 1] == 0) --size;
        size_ = size;
    }

    long long bit_length() const noexcept {
        if (size_ == 0) return 0;
        return 64LL * size_ - std::countl_zero(limbs_[size_ - 1]);
    }

    friend int compare(const BigInteger& a, const BigInteger& b) noexcept {
        if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
        for (int i = a.size_ - 1; i >= 0; --i) {
            if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

private:
    int size_;
    std::uint64_t limbs_[LIMBS];
};

// digits × 10^e10 rounded to the nearest of the double with the given bits and the
// one after it, the value lying strictly between the halfway points below and above
// the first.
std::uint64_t settle(BigInteger& digits, long long e10, std::uint64_t candidate) noexcept {
    // The halfway point (2m + 1) × 2^(e - 1) between candidate = m × 2^e and the next
    // double.
    const auto field = static_cast<int>(candidate >> 52);
    const std::uint64_t m =
        field == 0 ? candidate
                   : (candidate & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int e = field == 0 ? -1074 : field - 1075;
    BigInteger halfway(2 * m + 1);
    // digits × 5^e10 × 2^e10 against halfway × 2^(e - 1), the fives on the side where
    // they are integers.
    if (e10 >= 0) {
        digits.multiply_power_of_five(e10);
    } else {
        halfway.multiply_power_of_five(-e10);
    }
    const long long digits_twos = e10;
    const long long halfway_twos = e - 1;
    int order;
    const long long digits_length = digits.bit_length() + digits_twos;
    const long long halfway_length = halfway.bit_length() + halfway_twos;
    if (digits_length != halfway_length) {
        order = digits_length < halfway_length ? -1 : 1;
    } else {
        if (digits_twos > halfway_twos) {
            digits.shift_left(digits_twos - halfway_twos);
        } else {
            halfway.shift_left(halfway_twos - digits_twos);
        }
        order = compare(digits, halfway);
    }
    if (order < 0) return candidate;
    if (order > 0) return candidate + 1;
    return candidate + (candidate & 1);
}

constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Whether [p, end) holds a digit other than zero (a point in it is skipped).
bool any_nonzero_digit(const char* p, const char* end) noexcept {
    constexpr std::uint64_t ZEROS = 0x3030303030303030u;
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (w != ZEROS) break;
    }
    for (; p < end; ++p) {
        if (*p != '0' && *p != '.') return true;
    }
    return false;
}

// The significant digits of a decimal text: from its first nonzero digit to the end
// of the mantissa, the point (when it lies among them) skipped.
struct SignificantDigits {
    const char* first;  // nullptr when every digit is zero
    const char* point;  // the point's position, or end when it is not among the digits
    const char* end;
    long long lead;  // decimal exponent of the first digit
};

SignificantDigits significant_digits(const char* begin, const char* end) noexcept {
    const char* p = begin;
    while (p < end && *p == '0') ++p;
    const char* const integer_first = p;
    while (p < end && is_digit(*p)) ++p;
    const char* const integer_end = p;
    SignificantDigits s{nullptr, nullptr, nullptr, 0};
    const char* mantissa_end = integer_end;
    if (p < end && *p == '.') {
        const char* const fraction_begin = ++p;
        while (p < end && is_digit(*p)) ++p;
        mantissa_end = p;
        if (integer_first < integer_end) {
            s.first = integer_first;
            s.point = integer_end;
        } else {
            const char* q = fraction_begin;
            while (q < mantissa_end && *q == '0') ++q;
            if (q < mantissa_end) s.first = q;
            s.point = mantissa_end;
            s.lead = -(q - fraction_begin) - 1;
        }
    } else {
        if (integer_first < integer_end) s.first = integer_first;
        s.point = integer_end;
    }
    if (integer_first < integer_end) s.lead = (integer_end - integer_first) - 1;
    s.end = mantissa_end;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        // Past 10^15 the exponent saturates: no text in memory has digits enough to
        // bring such a value back into range.
        long long exponent = 0;
        for (; p < end; ++p) {
            if (exponent < 1000000000000000LL) exponent = exponent * 10 + (*p - '0');
        }
        s.lead += negative ? -exponent : exponent;
    }
    return s;
}

// At most this many significant digits enter the exact comparison; later ones only
// say whether any of them is nonzero.
constexpr int MAX_COMPARED_DIGITS = 800;

// The first significant digits, up to MAX_COMPARED_DIGITS of them, with a digit 1
// appended when a later digit is nonzero; e10 becomes the exponent of the last.
BigInteger leading_digits(const SignificantDigits& s, long long& e10) noexcept {
    BigInteger value(0);
    const char* p = s.first;
    int count = 0;
    std::uint64_t chunk = 0;
    std::uint64_t scale = 1;
    while (p < s.end && count < MAX_COMPARED_DIGITS) {
        if (p != s.point) {
            chunk = chunk * 10 + static_cast<std::uint64_t>(*p - '0');
            scale *= 10;
            ++count;
            if (scale == 10000000000000000000u) {
                value.multiply_add(scale, chunk);
                chunk = 0;
                scale = 1;
            }
        }
        ++p;
    }
    if (scale != 1) value.multiply_add(scale, chunk);
    e10 = s.lead - (count - 1);
    if (any_nonzero_digit(p, s.end)) {
        value.multiply_add(10, 1);
        --e10;
    }
    return value;
}

}  // namespace

double decimal_to_double_in_full(std::uint64_t mantissa, long long e10) noexcept {
    if (mantissa == 0) return 0.0;
    const FastRounding r = eisel_lemire(mantissa, e10);
    if (r.decided) return std::bit_cast<double>(r.bits);
    BigInteger digits(mantissa);
    return std::bit_cast<double>(settle(digits, e10, r.bits));
}

}  // namespace decimal_detail

double decimal_text_to_double(const char* begin, const char* end) noexcept {
    using namespace decimal_detail;
    const SignificantDigits s = significant_digits(begin, end);
    if (s.first == nullptr) return 0.0;
    // The first 19 significant digits and whether any later one is nonzero.
    std::uint64_t mantissa = 0;
    int count = 0;
    const char* p = s.first;
    for (; p < s.end && count < 19; ++p) {
        if (p != s.point) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++count;
        }
    }
    const long long e10 = s.lead - (count - 1);
    if (!any_nonzero_digit(p, s.end)) return decimal_to_double(mantissa, e10);
    // The value lies strictly between mantissa × 10^e10 and (mantissa + 1) × 10^e10, at
    // most 10^-18 of it apart: it rounds as they do when they agree, and otherwise to
    // the first one's double or the one after it.
    const FastRounding r = eisel_lemire(mantissa, e10);
    const FastRounding above = eisel_lemire(mantissa + 1, e10);
    if (r.decided && above.decided && r.bits == above.bits) {
        return std::bit_cast<double>(r.bits);
    }
    long long digits_e10 = 0;
    BigInteger digits = leading_digits(s, digits_e10);
    return std::bit_cast<double>(settle(digits, digits_e10, r.bits));
}

}  // namespace quorvel
