// Pieces the Compact RINEX decoder and encoder share: the record layouts of both versions, the
// difference arcs and the fixed-point text of the values. Internal to rinex/crx*.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace crx {

// The two CRINEX lines that start every file.
constexpr std::string_view VERSION_LABEL = "CRINEX VERS   / TYPE";
constexpr std::string_view PROGRAM_LABEL = "CRINEX PROG / DATE";
constexpr std::size_t LABEL_COL = 60;  // 0-based start of a header label
constexpr std::string_view END_OF_HEADER = "END OF HEADER";
constexpr std::string_view TYPES_LABEL_2 = "# / TYPES OF OBSERV";
constexpr std::string_view TYPES_LABEL_3 = "SYS / # / OBS TYPES";

// RINEX 2 epoch line (0-based columns): flag, satellite count, the list (12 per line, continued
// after 32 blanks) and the clock offset F12.9 from column 68.
constexpr std::size_t R2_FLAG = 28, R2_COUNT = 29, R2_LIST = 32, R2_PER_LINE = 12, R2_CLOCK = 68;
constexpr int R2_CLOCK_W = 12, R2_CLOCK_DEC = 9;
// RINEX 2 observations: 5 fields of F14.3 + LLI + signal strength per 80-column line.
constexpr int R2_OBS_PER_LINE = 5;
// RINEX 3 epoch line: '>' first, flag, satellite count, clock offset F15.12 from column 41.
// The compact line puts the satellite list where the clock stood.
constexpr std::size_t R3_FLAG = 31, R3_COUNT = 32, R3_LIST = 41, R3_CLOCK = 41;
constexpr int R3_CLOCK_W = 15, R3_CLOCK_DEC = 12;
constexpr std::size_t SAT_W = 3;
constexpr int OBS_W = 14, OBS_DEC = 3, OBS_FIELD_W = 16;
constexpr std::size_t COUNT_W = 3;

constexpr int FIRST_EVENT_FLAG = 2, CYCLE_SLIP_FLAG = 6;
constexpr int MAX_ORDER = 9;   // highest difference order a file may ask for ("9&value")
constexpr int MAX_TYPES = 999; // observation types of one system (an I3 field)
constexpr int ENCODE_ORDER = 3;

// One value's arc: its last value and differences, and how far the order has built up.
struct Arc {
  int64_t d[MAX_ORDER];
  int8_t order = 0;  // 0: no arc (the next value must initialise one)
  int8_t level = 0;  // differences held beyond the value, up to order - 1
};

// The values (in units of the last decimal) whose fixed-point text fits `width` characters.
struct Range {
  int64_t max, min;
};
Range fieldRange(int width);

// Writes `value` (in units of the last decimal) right-aligned in `width` characters, with or
// without the zero before the point ("0.250" or ".250"). The value must fit the field even with it.
char* putFixed(char* out, int64_t value, int decimals, int width, bool zeroBeforePoint);

// Parses an optionally negative decimal integer of 1-18 digits filling `text`; false otherwise.
bool parseInt64(std::string_view text, int64_t& value);

// A satellite of an epoch: its arcs and flag characters live in the decoder's flat buffers.
struct Sat {
  char id[SAT_W];
  int types;
  std::size_t arcs;   // first of `types` arcs
  std::size_t flags;  // first of 2 * types flag characters
};

// The satellites of the epoch under way beside those of the previous epoch, whose arcs and flags
// carry over to the satellites that are in both.
class SatTable {
 public:
  void begin() {
    cur_.clear();
    curArcs_.clear();
    curFlags_.clear();
  }
  // Adds the next satellite of the epoch; false when it was not in the previous epoch (its arcs
  // then start empty and its flags blank).
  bool add(const char* id, int types);
  std::size_t size() const { return cur_.size(); }
  const Sat& sat(std::size_t i) const { return cur_[i]; }
  Arc* arcs(std::size_t i) { return curArcs_.data() + cur_[i].arcs; }
  char* flags(std::size_t i) { return &curFlags_[cur_[i].flags]; }
  // The epoch is complete: it becomes the previous one.
  void commit() {
    std::swap(prev_, cur_);
    std::swap(prevArcs_, curArcs_);
    std::swap(prevFlags_, curFlags_);
  }

 private:
  std::vector<Sat> prev_, cur_;
  std::vector<Arc> prevArcs_, curArcs_;
  std::string prevFlags_, curFlags_;
};

// The observation-type counts the header declares: one for RINEX 2, one per system for RINEX 3.
struct TypeCounts {
  int r2 = -1;
  int r3[128];
  char continued = 0;  // the system whose type list continues on the next line
  TypeCounts() { std::fill(std::begin(r3), std::end(r3), -1); }

  void take(std::string_view line, int version);
};

inline bool printable(std::string_view text) {
  for (char c : text)
    if (c < ' ' || c > '~') return false;
  return true;
}

inline std::string_view label(std::string_view line) {
  return line.size() > LABEL_COL ? line.substr(LABEL_COL) : std::string_view{};
}
inline bool hasLabel(std::string_view line, std::string_view name) {
  std::string_view l = label(line);
  return l.substr(0, name.size()) == name;
}

inline void trimRight(std::string& text, std::size_t from) {
  std::size_t n = text.size();
  while (n > from && text[n - 1] == ' ') --n;
  text.resize(n);
}

}  // namespace crx
