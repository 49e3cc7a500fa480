#include "rinex/fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
  std::size_t start = i;
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
  (void)start;
  double value = 0.0;
  auto result = std::from_chars(text.data() + mantissa, text.data() + end, value);
  if (result.ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

void appendInt(std::string& out, long long value, int width) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  std::size_t n = static_cast<std::size_t>(result.ptr - digits);
  if (static_cast<int>(n) < width) out.append(static_cast<std::size_t>(width) - n, ' ');
  out.append(digits, n);
}

void appendFixed(std::string& out, double value, int decimals, int width) {
  char digits[400];
  auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  std::size_t n;
  if (result.ec == std::errc()) {
    n = static_cast<std::size_t>(result.ptr - digits);
  } else {
    int written = std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    n = written < 0 ? 0 : static_cast<std::size_t>(written) < sizeof digits ? static_cast<std::size_t>(written) : sizeof digits - 1;
  }
  if (static_cast<int>(n) < width) out.append(static_cast<std::size_t>(width) - n, ' ');
  out.append(digits, n);
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
