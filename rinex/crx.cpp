#include "rinex/crx.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "rinex/crx_common.h"

namespace crx {

Range fieldRange(int width) {
  // width characters hold width-1 digits (the point takes one), a negative value one fewer.
  int64_t positive = 1;
  for (int i = 0; i < width - 1 && i < 18; ++i) positive *= 10;
  int64_t negative = positive / 10;
  return Range{positive - 1, -(negative - 1)};
}

namespace {

// "00" to "99": two digits per division on the hot path of the decoder.
struct DigitPairs {
  char text[200];
  DigitPairs() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
const DigitPairs PAIRS;

// Writes the digits of u right to left ending before p, at least `minimum` of them (the
// numbers here have at most 14 digits: eight at a time in 32-bit arithmetic).
char* putDigits(char* p, uint64_t u, int minimum) {
  char* stop = p - minimum;
  while (u >= 100000000) {
    uint64_t q = u / 100000000;
    uint32_t r = static_cast<uint32_t>(u - q * 100000000);
    for (int i = 0; i < 4; ++i) {
      uint32_t pair = r % 100;
      r /= 100;
      std::memcpy(p -= 2, PAIRS.text + 2 * pair, 2);
    }
    u = q;
  }
  uint32_t v = static_cast<uint32_t>(u);
  while (v >= 100) {
    uint32_t q = v / 100;
    std::memcpy(p -= 2, PAIRS.text + 2 * (v - q * 100), 2);
    v = q;
  }
  if (v >= 10)
    std::memcpy(p -= 2, PAIRS.text + 2 * v, 2);
  else if (v > 0 || p > stop)
    *--p = static_cast<char>('0' + v);
  while (p > stop) *--p = '0';
  return p;
}

}  // namespace

char* putFixed(char* out, int64_t value, int decimals, int width, bool zeroBeforePoint) {
  // Right to left from the end of the field; the value fits, so the blanks fill what is left.
  uint64_t u = value < 0 ? uint64_t(0) - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  char* p = putDigits(out + width, u % scale, decimals);
  *--p = '.';
  if (u >= scale || zeroBeforePoint) p = putDigits(p, u / scale, 1);
  if (value < 0) *--p = '-';
  while (p > out) *--p = ' ';
  return out + width;
}

bool parseInt64(std::string_view text, int64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  std::size_t digits = text.size() - i;
  if (digits == 0 || digits > 18) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = negative ? -v : v;
  return true;
}

bool SatTable::add(const char* id, int types) {
  Sat s;
  std::memcpy(s.id, id, SAT_W);
  s.types = types;
  s.arcs = curArcs_.size();
  s.flags = curFlags_.size();
  const std::size_t i = cur_.size();
  const Sat* before = nullptr;
  if (i < prev_.size() && std::memcmp(prev_[i].id, id, SAT_W) == 0) {
    before = &prev_[i];
  } else {
    for (const Sat& p : prev_)
      if (std::memcmp(p.id, id, SAT_W) == 0) {
        before = &p;
        break;
      }
  }
  const std::size_t n = static_cast<std::size_t>(types);
  bool continued = before != nullptr && before->types == types;
  if (continued) {
    curArcs_.insert(curArcs_.end(), prevArcs_.begin() + static_cast<std::ptrdiff_t>(before->arcs),
                    prevArcs_.begin() + static_cast<std::ptrdiff_t>(before->arcs + n));
    curFlags_.append(prevFlags_, before->flags, 2 * n);
  } else {
    curArcs_.resize(curArcs_.size() + n);
    for (std::size_t k = s.arcs; k < curArcs_.size(); ++k) curArcs_[k].order = 0;
    curFlags_.append(2 * n, ' ');
  }
  cur_.push_back(s);
  return continued;
}

void TypeCounts::take(std::string_view line, int version) {
  if (version == 1) {
    if (!hasLabel(line, TYPES_LABEL_2)) return;
    std::string_view count = line.substr(0, 6);
    std::size_t first = count.find_first_not_of(' ');
    if (first == std::string_view::npos) return;  // continuation line
    int64_t n = 0;
    if (parseInt64(count.substr(first), n) && n >= 0 && n <= MAX_TYPES) r2 = static_cast<int>(n);
    return;
  }
  if (!hasLabel(line, TYPES_LABEL_3)) return;
  unsigned char system = static_cast<unsigned char>(line[0]);
  if (system == ' ') return;  // continuation line
  std::string_view count = line.substr(3, 3);
  std::size_t first = count.find_first_not_of(' ');
  int64_t n = 0;
  if (system < 128 && first != std::string_view::npos && parseInt64(count.substr(first), n) && n >= 0 &&
      n <= MAX_TYPES)
    r3[system] = static_cast<int>(n);
}

}  // namespace crx

using namespace crx;

int compactRinexVersion(std::string_view firstLine, std::string* version) {
  if (!firstLine.empty() && firstLine.back() == '\r') firstLine.remove_suffix(1);
  if (firstLine.size() < LABEL_COL + VERSION_LABEL.size() - 1 ||
      firstLine.substr(LABEL_COL, VERSION_LABEL.size() - 1) != VERSION_LABEL.substr(0, VERSION_LABEL.size() - 1))
    return 0;
  std::string_view text = firstLine.substr(0, 20);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text == "1.0") return 1;
  if (text == "3.0") return 3;
  if (version != nullptr) *version = std::string(text);
  return -1;
}

namespace {

// Reads a right-aligned unsigned integer field (blanks, then digits); false when malformed.
// Blanks around the digits are allowed: some writers put the count one column early.
bool fieldCount(std::string_view line, std::size_t at, std::size_t width, int& value) {
  if (line.size() <= at) return false;
  std::string_view f = line.substr(at, width);
  std::size_t first = f.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  std::size_t last = f.find_last_not_of(' ');
  int v = 0;
  for (std::size_t i = first; i <= last; ++i) {
    if (f[i] < '0' || f[i] > '9') return false;
    v = v * 10 + (f[i] - '0');
  }
  value = v;
  return true;
}


}  // namespace

struct CompactDecoder::State {
  enum Phase { FIRST_LINE, SECOND_LINE, HEADER, EPOCH, CLOCK, SATELLITES, EVENT };
  Phase phase = FIRST_LINE;
  int version = 0;
  bool failed = false;
  bool zeroBeforePoint = false;
  std::string error;
  TypeCounts types;

  std::string ref;  // the compact epoch line as last restored
  bool haveRef = false;
  Arc clock;
  int64_t clockValue = 0;
  bool hasClock = false;

  int flag = 0, satCount = 0, satDone = 0;
  long long eventLines = 0;
  SatTable sats;
  std::string text;  // the RINEX lines of the epoch under way
  std::vector<int64_t> values;
  std::vector<char> present;

  bool fail(const char* message) {
    failed = true;
    error = message;
    return false;
  }
  bool fail(const std::string& message) {
    failed = true;
    error = message;
    return false;
  }

  bool decodeLine(std::string_view line, std::string& out);
  bool epochLine(std::string_view line, std::string& out);
  bool startEpoch();
  bool clockLine(std::string_view line);
  bool satelliteLine(std::string_view line);
  void writeEpochLine();
  bool advance(Arc& arc, const char*& p, const char* end, const Range& range, int64_t& value, const char* what);
  void endEpoch(std::string& out) {
    out += text;
    text.clear();
    sats.commit();
    phase = EPOCH;
  }
};

// One value from its field at p, which ends at the next blank or at `end`: "n&value" starts an
// arc of order n, a plain number is the next difference of the arc under way. p is left at the
// end of the field.
bool CompactDecoder::State::advance(Arc& arc, const char*& p, const char* end, const Range& range, int64_t& value,
                                    const char* what) {
  const char* q = p;
  int order = 0;
  if (end - q >= 2 && q[1] == '&') {
    order = q[0] - '0';
    if (order < 1 || order > MAX_ORDER) return fail(std::string("bad difference order in the ") + what);
    q += 2;
  }
  bool negative = q < end && *q == '-';
  q += negative;
  const char* digits = q;
  int64_t v = 0;
  const char* last = end - digits > 18 ? digits + 18 : end;  // at most 18 digits: no overflow
  while (q < last && static_cast<unsigned>(*q - '0') < 10) v = v * 10 + (*q++ - '0');
  if (q == digits || (q < end && *q != ' '))
    return fail(std::string("malformed number in the ") + what);
  p = q;
  if (negative) v = -v;
  if (order != 0) {
    if (v > range.max || v < range.min) return fail(std::string("number too large in the ") + what);
    arc.order = static_cast<int8_t>(order);
    arc.level = 0;
    arc.d[0] = v;
    value = v;
    return true;
  }
  if (arc.order == 0) return fail(std::string("difference without initialisation in the ") + what);
  // |v| < 1e18 and every held difference comes from values in range (|value| < 1e14, so a
  // difference of order j stays below 2^j * 1e14): no sum below can overflow. The differences are
  // updated in place; after a failure the decoder takes no more lines.
  const int m = std::min(arc.level + 1, static_cast<int>(arc.order));
  const int keep = std::min(m, arc.order - 1);
  int64_t x = v;
  if (m <= keep) arc.d[m] = x;
  for (int j = m - 1; j >= 0; --j) arc.d[j] = x += arc.d[j];
  if (x > range.max || x < range.min) return fail(std::string("number too large in the ") + what);
  arc.level = static_cast<int8_t>(keep);
  value = x;
  return true;
}

bool CompactDecoder::State::epochLine(std::string_view line, std::string& out) {
  bool init = version == 1 ? (!line.empty() && line[0] == '&') : (!line.empty() && line[0] == '>');
  if (!printable(line)) return fail("epoch line with a character that is not printable ASCII");
  if (init) {
    ref.assign(line.data(), line.size());
    if (version == 1) ref[0] = ' ';
    haveRef = true;
  } else {
    if (!haveRef) return fail("epoch line difference without initialisation");
    if (ref.size() < line.size()) ref.resize(line.size(), ' ');
    for (std::size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      if (c == '&')
        ref[i] = ' ';
      else if (c != ' ')
        ref[i] = c;
    }
  }
  std::size_t flagAt = version == 1 ? R2_FLAG : R3_FLAG;
  std::size_t countAt = version == 1 ? R2_COUNT : R3_COUNT;
  if (ref.size() <= flagAt) return fail("epoch line too short");
  if (ref[0] != (version == 1 ? ' ' : '>')) return fail("epoch line with a wrong first column");
  char f = ref[flagAt];
  if (f != ' ' && (f < '0' || f > '9')) return fail("epoch flag is not a digit");
  flag = f == ' ' ? 0 : f - '0';
  if (!fieldCount(ref, countAt, COUNT_W, satCount)) return fail("satellite count is not a number");

  if (flag >= FIRST_EVENT_FLAG && flag <= CYCLE_SLIP_FLAG) {
    // Event records come as they stand: the epoch line (its own first column) and its lines.
    text.assign(ref);
    if (version == 1) text[0] = ' ';
    trimRight(text, 0);
    text.push_back('\n');
    eventLines = satCount;
    if (version == 1 && flag == CYCLE_SLIP_FLAG) {
      if (types.r2 < 0) return fail("observation types missing from the header");
      int perSat = std::max(1, (types.r2 + R2_OBS_PER_LINE - 1) / R2_OBS_PER_LINE);
      eventLines = (satCount > 0 ? (satCount - 1) / static_cast<long long>(R2_PER_LINE) : 0) +
                   static_cast<long long>(satCount) * perSat;
    }
    if (eventLines == 0) {
      out += text;
      text.clear();
      phase = EPOCH;
    } else {
      phase = EVENT;
    }
    return true;
  }
  if (flag > CYCLE_SLIP_FLAG) return fail("epoch flag out of range");
  return startEpoch();
}

// Lays out the satellites of a data epoch from the restored epoch line, carrying over the arcs
// and flags of those that were in the previous epoch.
bool CompactDecoder::State::startEpoch() {
  std::size_t listAt = version == 1 ? R2_LIST : R3_LIST;
  std::size_t listEnd = listAt + SAT_W * static_cast<std::size_t>(satCount);
  if (ref.size() < listEnd) return fail("satellite list shorter than the satellite count");
  for (std::size_t i = listEnd; i < ref.size(); ++i)
    if (ref[i] != ' ') return fail("satellite list longer than the satellite count");
  if (version == 1 && types.r2 < 0) return fail("observation types missing from the header");
  sats.begin();
  for (int i = 0; i < satCount; ++i) {
    const char* id = ref.data() + listAt + SAT_W * static_cast<std::size_t>(i);
    int n = types.r2;
    if (version == 3) {
      unsigned char system = static_cast<unsigned char>(id[0]);
      n = system < 128 ? types.r3[system] : -1;
      if (n < 0) return fail(std::string("no observation types for satellite system '") + id[0] + "'");
    }
    sats.add(id, n);
  }
  satDone = 0;
  phase = CLOCK;
  return true;
}

bool CompactDecoder::State::clockLine(std::string_view line) {
  if (line.empty()) {
    hasClock = false;
    clock.order = 0;  // a clock that comes back starts a new arc
  } else {
    const Range range = version == 1 ? fieldRange(R2_CLOCK_W) : fieldRange(R3_CLOCK_W);
    const char* p = line.data();
    const char* end = p + line.size();
    if (!advance(clock, p, end, range, clockValue, "clock offset")) return false;
    if (p != end) return fail("clock offset line with more than one number");
    hasClock = true;
  }
  writeEpochLine();
  phase = satCount > 0 ? SATELLITES : EPOCH;
  return true;
}

void CompactDecoder::State::writeEpochLine() {
  text.clear();
  auto padTo = [this](std::size_t column) {
    std::size_t lineStart = text.rfind('\n');
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (text.size() - lineStart < column) text.append(column - (text.size() - lineStart), ' ');
  };
  char clockText[32];
  std::size_t clockLength = 0;
  if (hasClock) {
    int w = version == 1 ? R2_CLOCK_W : R3_CLOCK_W;
    clockLength = static_cast<std::size_t>(
        putFixed(clockText, clockValue, version == 1 ? R2_CLOCK_DEC : R3_CLOCK_DEC, w, zeroBeforePoint) - clockText);
  }
  if (version == 1) {
    text.append(ref, 0, R2_LIST);
    for (int i = 0; i < satCount; ++i) {
      if (i > 0 && i % R2_PER_LINE == 0) {
        if (i == static_cast<int>(R2_PER_LINE) && hasClock) {
          padTo(R2_CLOCK);
          text.append(clockText, clockLength);
        }
        text.push_back('\n');
        text.append(R2_LIST, ' ');
      }
      text.append(ref, R2_LIST + SAT_W * static_cast<std::size_t>(i), SAT_W);
    }
    if (satCount <= static_cast<int>(R2_PER_LINE) && hasClock) {
      padTo(R2_CLOCK);
      text.append(clockText, clockLength);
    }
  } else {
    text.append(ref, 0, R3_LIST);
    if (hasClock) {
      padTo(R3_CLOCK);
      text.append(clockText, clockLength);
    }
  }
  std::size_t lineStart = text.rfind('\n');
  trimRight(text, lineStart == std::string::npos ? 0 : lineStart + 1);
  text.push_back('\n');
}

bool CompactDecoder::State::satelliteLine(std::string_view line) {
  const std::size_t index = static_cast<std::size_t>(satDone);
  const Sat& s = sats.sat(index);
  Arc* arcs = sats.arcs(index);
  char* flags = sats.flags(index);
  std::size_t typeCount = static_cast<std::size_t>(s.types);
  if (values.size() < typeCount) {
    values.resize(typeCount);
    present.resize(typeCount);
  }
  static const Range range = fieldRange(OBS_W);
  // Fields are separated by one blank; an empty field is a missing value, and a line that ends
  // early leaves the remaining values missing. The flag differences follow the last field.
  const char* p = line.data();
  const char* end = p + line.size();
  for (std::size_t t = 0; t < typeCount; ++t) {
    present[t] = p < end && *p != ' ';
    if (!present[t]) {
      // A value that comes back starts a new arc. Version 1 gives a missing value's flags as
      // differences from blanks, version 3 from the last ones.
      arcs[t].order = 0;
      if (version == 1) flags[2 * t] = flags[2 * t + 1] = ' ';
    } else if (!advance(arcs[t], p, end, range, values[t], "observation")) {
      return false;
    }
    if (p < end) ++p;  // the blank after the field
  }
  std::size_t pos = static_cast<std::size_t>(p - line.data());
  if (pos < line.size()) {
    std::string_view diff = line.substr(pos);
    if (diff.size() > 2 * typeCount) return fail("more flag characters than observations");
    for (std::size_t i = 0; i < diff.size(); ++i) {
      char c = diff[i];
      if (c < ' ' || c > '~') return fail("flag that is not printable ASCII");
      if (c == '&')
        flags[i] = ' ';
      else if (c != ' ')
        flags[i] = c;
    }
  }
  // RINEX 2: five fields to a line; RINEX 3: the satellite and all its fields on one line.
  std::size_t perLine = version == 1 ? R2_OBS_PER_LINE : std::max<std::size_t>(typeCount, 1);
  std::size_t t = 0;
  do {
    std::size_t lineStart = text.size();
    std::size_t n = std::min(perLine, typeCount - t);
    text.resize(lineStart + SAT_W + OBS_FIELD_W * n);
    char* p = &text[lineStart];
    if (version == 3) {
      std::memcpy(p, s.id, SAT_W);
      p += SAT_W;
    }
    for (std::size_t end = t + n; t < end; ++t) {
      if (present[t]) {
        p = putFixed(p, values[t], OBS_DEC, OBS_W, zeroBeforePoint);
      } else {
        std::memset(p, ' ', OBS_W);
        p += OBS_W;
      }
      *p++ = flags[2 * t];
      *p++ = flags[2 * t + 1];
    }
    text.resize(static_cast<std::size_t>(p - text.data()));
    trimRight(text, lineStart);
    text.push_back('\n');
  } while (t < typeCount);
  ++satDone;
  return true;
}

bool CompactDecoder::State::decodeLine(std::string_view line, std::string& out) {
  switch (phase) {
    case FIRST_LINE: {
      std::string v;
      version = compactRinexVersion(line, &v);
      if (version == 0) return fail("not a Compact RINEX file (no CRINEX VERS / TYPE line)");
      if (version < 0) return fail("Compact RINEX version " + v + " is not supported");
      phase = SECOND_LINE;
      return true;
    }
    case SECOND_LINE:
      if (!hasLabel(line, PROGRAM_LABEL)) return fail("second line is not CRINEX PROG / DATE");
      phase = HEADER;
      return true;
    case HEADER:
      out.append(line.data(), line.size());
      out.push_back('\n');
      types.take(line, version);
      if (hasLabel(line, END_OF_HEADER)) phase = EPOCH;
      return true;
    case EPOCH:
      return epochLine(line, out);
    case CLOCK:
      if (!clockLine(line)) return false;
      if (phase == EPOCH) endEpoch(out);
      return true;
    case SATELLITES:
      if (!satelliteLine(line)) return false;
      if (satDone == satCount) endEpoch(out);
      return true;
    case EVENT:
      if (!printable(line)) return fail("event record with a character that is not printable ASCII");
      text.append(line.data(), line.size());
      text.push_back('\n');
      if (--eventLines == 0) {
        out += text;
        text.clear();
        phase = EPOCH;
      }
      return true;
  }
  return fail("internal state");
}

CompactDecoder::CompactDecoder(bool zeroBeforePoint) : state_(new State) { state_->zeroBeforePoint = zeroBeforePoint; }
CompactDecoder::~CompactDecoder() { delete state_; }

bool CompactDecoder::decode(std::string_view line, std::string& out) {
  if (state_->failed) return false;
  // Carriage returns at a line's end belong to its line end (however many a damaged file has), so
  // both directions drop them all and a decoded text encodes back to itself.
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return state_->decodeLine(line, out);
}

bool CompactDecoder::finish(std::string&) {
  State& s = *state_;
  if (s.failed) return false;
  switch (s.phase) {
    case State::FIRST_LINE:
    case State::SECOND_LINE:
    case State::HEADER:
      return s.fail("the input ended inside the header");
    case State::EPOCH:
      return true;
    default:
      return s.fail("the input ended inside an epoch");
  }
}

const std::string& CompactDecoder::error() const { return state_->error; }
