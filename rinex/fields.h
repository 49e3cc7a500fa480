// Fixed-column fields of a text line, addressed by 1-based first column and width, and the
// numeric formats of the writers. Internal to the RINEX file layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The characters of the field that the line holds: shorter (or empty) where the line ends
// inside (or before) the field. Never reads past the line.
inline std::string_view fieldText(std::string_view line, int column, int width) {
  std::size_t first = static_cast<std::size_t>(column - 1);
  if (first >= line.size()) return {};
  return line.substr(first, static_cast<std::size_t>(width));
}

// Leading blanks, an optional sign, digits up to the first other character; no digits give 0.
// Values beyond the range of int32 saturate instead of overflowing.
int32_t parseInteger(std::string_view text);
// The C library's atof rules (hexadecimal, inf and nan included), on a field.
double parseCReal(std::string_view text);
// Decimal only: leading blanks, the longest leading number of the form
// [sign] digits [. digits] [e|E [sign] digits]; none (or one out of range) gives 0.0.
double parseDecimal(std::string_view text);

inline int32_t fieldInt(std::string_view line, int column, int width) {
  return parseInteger(fieldText(line, column, width));
}
inline double fieldDecimal(std::string_view line, int column, int width) {
  return parseDecimal(fieldText(line, column, width));
}

// Stores an int32 in a 16-bit field the way a narrowing assignment does (modulo 2^16).
inline int16_t toInt16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v))); }

// One observation field of a data line at column `col`: the value in F14.3, then the loss-of-lock
// and signal-strength digits. A value that is blank or reads as zero leaves the observation absent,
// whatever its indicators say. Shared by the RINEX 2 and RINEX 3 epoch readers.
struct ObservationValue;
void readObservationField(std::string_view line, int col, ObservationValue& o);

// Writers. A value wider than its field is printed whole and pushes the rest of the line.
// The char* forms write at out and return the end; out must have FIELD_ROOM bytes of room.
constexpr std::size_t FIELD_ROOM = 420;  // widest fixed value (1e308 with 9 decimals) and its pad
char* formatInt(char* out, long long value, int width);
char* formatFixed(char* out, double value, int decimals, int width);
// An observation field: the value in F14.3, then the loss-of-lock and signal-strength digits,
// each blank when it equals `unset`.
constexpr int OBSERVATION_VALUE_WIDTH = 14;
char* formatObservation(char* out, double value, long long lli, long long signalStrength, long long unset);
inline char* formatBlanks(char* out, int width) {
  for (int i = 0; i < width; ++i) *out++ = ' ';
  return out;
}
void appendInt(std::string& out, long long value, int width);
void appendFixed(std::string& out, double value, int decimals, int width);
// General notation with the decimal point and trailing zeros always shown ("%#*.*g").
void appendGeneral(std::string& out, double value, int significant, int width);
void appendRight(std::string& out, std::string_view text, int width);
void appendLeft(std::string& out, std::string_view text, int width);
// Pads with blanks up to the given length of the current line, which starts at lineStart.
inline void padTo(std::string& out, std::size_t lineStart, std::size_t length) {
  std::size_t used = out.size() - lineStart;
  if (used < length) out.append(length - used, ' ');
}
