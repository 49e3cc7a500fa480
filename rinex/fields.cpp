#include "rinex/fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t parseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

double parseCReal(std::string_view text) {
  char buffer[128];
  std::size_t n = text.size() < sizeof buffer - 1 ? text.size() : sizeof buffer - 1;
  text.copy(buffer, n);
  buffer[n] = '\0';
  return std::atof(buffer);
}

double parseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::size_t mantissa = i;
  std::size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  std::size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && isDigit(text[j])) {
      while (j < text.size() && isDigit(text[j])) ++j;
      end = j;
    }
  }
  double value = 0.0;
  auto result = std::from_chars(text.data() + mantissa, text.data() + end, value);
  if (result.ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr uint64_t powersOfTen[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                    10000000ull, 100000000ull, 1000000000ull};
constexpr uint64_t wholePowersOfTen[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                         10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
                                         100000000000ull, 1000000000000ull, 10000000000000ull,
                                         100000000000000ull, 1000000000000000ull};
// Bits of 10^d: the product of a fraction of `shift` bits and 10^d fits 64 bits when their sum does.
constexpr int powerOfTenBits[] = {1, 4, 7, 10, 14, 17, 20, 24, 27, 30};

// "00" "01" ... "99": two digits per division.
constexpr char digitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";


// Writes v in decimal so that its last digit stands just before end; returns the first digit.
char* writeDigits32(char* end, uint32_t v) {
  while (v >= 100) {
    uint32_t pair = (v % 100) * 2;
    v /= 100;
    end -= 2;
    std::memcpy(end, digitPairs + pair, 2);
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, digitPairs + v * 2, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// Exactly eight digits, leading zeros included, in two independent halves.
void writeEightDigits(char* at, uint32_t v) {
  const uint32_t high = v / 10000, low = v % 10000;
  std::memcpy(at, digitPairs + (high / 100) * 2, 2);
  std::memcpy(at + 2, digitPairs + (high % 100) * 2, 2);
  std::memcpy(at + 4, digitPairs + (low / 100) * 2, 2);
  std::memcpy(at + 6, digitPairs + (low % 100) * 2, 2);
}

char* writeDigits(char* end, uint64_t v) {
  while (v >= 100000000) {
    end -= 8;
    writeEightDigits(end, static_cast<uint32_t>(v % 100000000));
    v /= 100000000;
  }
  return writeDigits32(end, static_cast<uint32_t>(v));
}

// Writes the number right-justified in width (or whole when wider) and returns the end. The
// digits are put together in a blank scratch line and copied whole: out has FIELD_ROOM bytes of
// room, and what lies past the returned end is scratch that later fields overwrite.
char* placeNumber(char* out, bool negative, uint64_t integer, uint64_t fraction, int decimals, int width) {
  constexpr int SCRATCH = 96, END = 64, COPY = 32;
  char line[SCRATCH];
  std::memset(line + END - COPY, ' ', 2 * COPY);  // what the copy below takes
  char* end = line + END;
  char* p = end;
  if (decimals > 0) {
    char* stop = end - decimals;
    p = writeDigits(end, fraction);
    while (p > stop) *--p = '0';
    *--p = '.';
  }
  p = writeDigits(p, integer);
  if (negative) *--p = '-';
  int length = static_cast<int>(end - p);
  if (length <= width && width <= COPY) {
    std::memcpy(out, end - width, COPY);
    return out + width;
  }
  for (int i = length; i < width; ++i) *out++ = ' ';
  std::memcpy(out, p, static_cast<std::size_t>(length));
  return out + length;
}

// Fixed notation with up to 9 decimals, rounded exactly as printf rounds (the binary value,
// ties to even), for finite values whose integer part fits 64 bits and whose fraction bits fit
// the exact product below. Returns false when the value needs the general route.
bool formatFixedExact(double value, int decimals, int width, char*& out) {
  if (decimals < 0 || decimals > 9 || !std::isfinite(value)) return false;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bool negative = (bits >> 63) != 0;
  int biased = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (biased == 0) {
    if (mantissa != 0) return false;  // subnormal
  } else {
    mantissa |= uint64_t{1} << 52;
  }
  int exponent = biased - 1075;  // value = mantissa * 2^exponent
  uint64_t integer;
  uint64_t scaled;  // the decimals as an integer, rounded
  if (mantissa == 0) {
    integer = 0;
    scaled = 0;
  } else if (exponent >= 0) {
    if (exponent > 10) return false;  // beyond 2^63
    integer = mantissa << exponent;
    scaled = 0;
  } else if (-exponent + powerOfTenBits[decimals] <= 63) {
    // The common case, in 64 bits: the same exact product and rounding as below.
    int shift = -exponent;
    uint64_t one = uint64_t{1} << shift;
    integer = mantissa >> shift;
    uint64_t product = (mantissa & (one - 1)) * powersOfTen[decimals];
    uint64_t remainder = product & (one - 1);
    uint64_t half = one >> 1;
    scaled = product >> shift;
    uint64_t lastDigit = decimals > 0 ? scaled : integer;  // ties go to an even last digit
    if (remainder > half || (remainder == half && (lastDigit & 1) != 0)) ++scaled;
    if (scaled == powersOfTen[decimals]) {
      scaled = 0;
      ++integer;
    }
  } else {
    int shift = -exponent;
    if (shift > 96) return false;  // too small for the exact product
    uint128 m = mantissa;
    uint128 one = uint128{1} << shift;
    integer = static_cast<uint64_t>(m >> shift);
    uint128 fraction = m & (one - 1);
    uint128 product = fraction * powersOfTen[decimals];  // < 2^96 * 10^9 < 2^126
    uint128 quotient = product >> shift;
    uint128 remainder = product & (one - 1);
    uint128 half = one >> 1;
    scaled = static_cast<uint64_t>(quotient);
    uint64_t lastDigit = decimals > 0 ? scaled : integer;  // ties go to an even last digit
    if (remainder > half || (remainder == half && (lastDigit & 1) != 0)) ++scaled;
    if (scaled == powersOfTen[decimals]) {
      scaled = 0;
      ++integer;
    }
  }
  // A value that prints as zero prints without a sign ("-0.000" would read back as a value).
  if (integer == 0 && scaled == 0) negative = false;
  out = placeNumber(out, negative, integer, scaled, decimals, width);
  return true;
}

}  // namespace

namespace {

// Right-justifies the characters [first, end) of a scratch buffer into out.
char* placeRight(char* out, const char* first, const char* end, int width) {
  int n = static_cast<int>(end - first);
  for (int i = n; i < width; ++i) *out++ = ' ';
  while (first != end) *out++ = *first++;
  return out;
}

}  // namespace

char* formatInt(char* out, long long value, int width) {
  // The common fields: a small count, number or indicator that fits its width.
  if (value >= 0 && value < 100 && width >= 2 && width <= 8) {
    for (int i = 0; i < width - 2; ++i) out[i] = ' ';
    out[width - 2] = value >= 10 ? digitPairs[value * 2] : ' ';
    out[width - 1] = digitPairs[value * 2 + 1];
    return out + width;
  }
  if (value >= 0 && value < 10 && width == 1) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return placeNumber(out, value < 0, magnitude, 0, 0, width);
}

namespace {

// The observation values and the like (few decimals, a narrow field): the value times 10^D,
// rounded exactly as printf rounds, is one 64-bit integer whenever the mantissa times 10^D fits,
// and its digits go straight into the field. Returns nullptr for anything else.
template <int D>
char* formatFewDecimals(char* out, double value, int width) {
  static_assert(D >= 1 && D <= 3, "the mantissa times 10^D must fit 63 bits");
  constexpr uint64_t scale = D == 1 ? 10 : D == 2 ? 100 : 1000;
  constexpr int FIELD = 16;
  if (width > FIELD) return nullptr;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0 || biased == 0x7ff) return nullptr;  // zero, subnormal, inf, nan: the general route
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int shift = 1075 - biased;  // value = mantissa / 2^shift
  if (shift <= 0 || shift >= 64) return nullptr;
  const uint64_t product = mantissa * scale;  // < 2^53 * 1000 < 2^63
  const uint64_t one = uint64_t{1} << shift;
  const uint64_t remainder = product & (one - 1);
  const uint64_t half = one >> 1;
  uint64_t scaled = product >> shift;
  if (remainder > half || (remainder == half && (scaled & 1) != 0)) ++scaled;  // ties to even

  const bool negative = (bits >> 63) != 0 && scaled != 0;  // zero prints without a sign
  const uint64_t integer = scaled / scale;
  uint32_t fraction = static_cast<uint32_t>(scaled % scale);
  const int room = width - D - 1 - (negative ? 1 : 0);  // columns left for the integer digits
  // The integer part is below 2^53 / 10: at most 16 digits.
  if (room < 1 || (room < 16 && integer >= wholePowersOfTen[room])) return nullptr;
  std::memcpy(out, "                ", FIELD);
  char* q = out + width;
  for (int d = 0; d < D; ++d) {
    *--q = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  *--q = '.';
  q = writeDigits(q, integer);
  if (negative) *--q = '-';
  return out + width;
}

// Any value in fixed notation: exactly, or through the library for what the exact routes leave.
char* formatFixedSlow(char* out, double value, int decimals, int width) {
  if (formatFixedExact(value, decimals, width, out)) return out;
  char digits[FIELD_ROOM];
  char* end = digits + sizeof digits;
  auto result = std::to_chars(digits, end, value, std::chars_format::fixed, decimals);
  if (result.ec == std::errc()) {
    end = result.ptr;
  } else {
    int written = std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    end = digits + (written < 0 ? 0 : static_cast<std::size_t>(written) < sizeof digits ? written : sizeof digits - 1);
  }
  const char* first = digits;
  if (*first == '-' && std::all_of(first + 1, static_cast<const char*>(end), [](char c) { return c == '0' || c == '.'; }))
    ++first;  // zero prints without a sign
  return placeRight(out, first, end, width);
}

// A one-column indicator: a digit, a blank when unset, or a wider number printed whole.
char* formatIndicator(char* out, long long value, long long unset) {
  if (value >= 0 && value <= 9) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  return value == unset ? formatBlanks(out, 1) : formatInt(out, value, 1);
}

}  // namespace

char* formatFixed(char* out, double value, int decimals, int width) {
  if (decimals == 3)
    if (char* end = formatFewDecimals<3>(out, value, width)) return end;
  return formatFixedSlow(out, value, decimals, width);
}

char* formatObservation(char* out, double value, long long lli, long long signalStrength, long long unset) {
  char* end = formatFewDecimals<3>(out, value, OBSERVATION_VALUE_WIDTH);
  if (end == nullptr) end = formatFixedSlow(out, value, 3, OBSERVATION_VALUE_WIDTH);
  end = formatIndicator(end, lli, unset);
  return formatIndicator(end, signalStrength, unset);
}

void appendInt(std::string& out, long long value, int width) {
  char field[FIELD_ROOM];
  out.append(field, static_cast<std::size_t>(formatInt(field, value, width) - field));
}

void appendFixed(std::string& out, double value, int decimals, int width) {
  char field[2 * FIELD_ROOM];
  out.append(field, static_cast<std::size_t>(formatFixed(field, value, decimals, width) - field));
}

void appendGeneral(std::string& out, double value, int significant, int width) {
  char digits[400];
  int written = std::snprintf(digits, sizeof digits, "%#*.*g", width, significant, value);
  std::size_t n = written < 0 ? 0 : static_cast<std::size_t>(written) < sizeof digits ? static_cast<std::size_t>(written) : sizeof digits - 1;
  out.append(digits, n);
}

void appendRight(std::string& out, std::string_view text, int width) {
  if (static_cast<int>(text.size()) < width) out.append(static_cast<std::size_t>(width) - text.size(), ' ');
  out.append(text.data(), text.size());
}

void appendLeft(std::string& out, std::string_view text, int width) {
  out.append(text.data(), text.size());
  if (static_cast<int>(text.size()) < width) out.append(static_cast<std::size_t>(width) - text.size(), ' ');
}
