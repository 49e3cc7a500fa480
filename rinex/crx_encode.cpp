#include <cstring>
#include <vector>

#include "rinex/crx.h"
#include "rinex/crx_common.h"

using namespace crx;

namespace {

// A difference at least this large starts a new arc instead (a jump in the data or a long gap).
constexpr int64_t RESET_DIFFERENCE = 10000000000LL;

void appendInt(std::string& out, int64_t v) {
  char text[24];
  char* end = text + sizeof text;
  char* p = end;
  uint64_t u = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = '-';
  out.append(p, static_cast<std::size_t>(end - p));
}

// A fixed-point field as the RINEX writers print it: blanks, an optional minus, digits (none
// before the point is allowed), the point and exactly `decimals` digits. False otherwise.
bool parseFixed(std::string_view text, int decimals, int64_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  int64_t v = 0;
  int digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) v = v * 10 + (text[i] - '0');
  if (i >= text.size() || text[i] != '.' || digits > 17 - decimals) return false;
  ++i;
  if (text.size() - i != static_cast<std::size_t>(decimals)) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  value = negative ? -v : v;
  return true;
}

bool blank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// Whether the line holds something from `column` on (which the compact form would lose).
bool beyond(std::string_view line, std::size_t column) { return column < line.size() && !blank(line.substr(column)); }

std::string_view field(std::string_view line, std::size_t at, std::size_t width) {
  return at < line.size() ? line.substr(at, width) : std::string_view{};
}

}  // namespace

struct CompactEncoder::State {
  int version;
  std::string programLine;
  enum Phase { START, HEADER, DATA } phase = START;
  bool failed = false;
  std::string error;
  TypeCounts types;

  std::string buffer;  // the lines of the epoch under way
  std::vector<std::size_t> ends;
  long long expected = 0;
  int flag = 0, satCount = 0;

  std::string ref, compact;  // the last compact epoch line and the one being made
  bool haveRef = false;
  Arc clock;
  SatTable sats;
  std::string flagsNow;

  std::string_view line(std::size_t k) const {
    std::size_t start = k == 0 ? 0 : ends[k - 1];
    return std::string_view(buffer).substr(start, ends[k] - start);
  }
  void fail(const char* message) {
    failed = true;
    error = message;
  }
  bool firstLine(std::string_view line);
  void flush(std::string& out);
  void epochLine(std::string& out);
  void value(Arc& arc, int64_t v, std::string& out);
};

// Works out from an epoch's first line how many lines the epoch has.
bool CompactEncoder::State::firstLine(std::string_view l) {
  std::size_t flagAt = version == 1 ? R2_FLAG : R3_FLAG;
  std::size_t countAt = version == 1 ? R2_COUNT : R3_COUNT;
  if (l.empty() || l[0] != (version == 1 ? ' ' : '>') || l.size() <= flagAt || l[flagAt] < '0' || l[flagAt] > '9') {
    fail("not an epoch line where one was expected");
    return false;
  }
  flag = l[flagAt] - '0';
  std::string_view count = field(l, countAt, COUNT_W);
  satCount = 0;
  if (!blank(count)) {
    int64_t n = 0;
    std::size_t first = count.find_first_not_of(' ');
    std::size_t last = count.find_last_not_of(' ');
    if (!parseInt64(count.substr(first, last + 1 - first), n) || n < 0) {
      fail("satellite count is not a number");
      return false;
    }
    satCount = static_cast<int>(n);
  } else if (flag < FIRST_EVENT_FLAG) {
    fail("satellite count missing");
    return false;
  }
  if (flag > CYCLE_SLIP_FLAG) {
    fail("epoch flag out of range");
    return false;
  }
  int perSat = 1;
  if (version == 1 && (flag < FIRST_EVENT_FLAG || flag == CYCLE_SLIP_FLAG)) {
    if (types.r2 < 0) {
      fail("observation types missing from the header");
      return false;
    }
    perSat = std::max(1, (types.r2 + R2_OBS_PER_LINE - 1) / R2_OBS_PER_LINE);
  }
  if (flag >= FIRST_EVENT_FLAG && !(version == 1 && flag == CYCLE_SLIP_FLAG)) {
    expected = 1 + satCount;
  } else if (version == 1) {
    expected = 1 + (satCount > 0 ? (satCount - 1) / static_cast<int>(R2_PER_LINE) : 0) +
               static_cast<long long>(satCount) * perSat;
  } else {
    expected = 1 + satCount;
  }
  return true;
}

// One value of an arc: the next difference, or "3&value" where the arc starts.
void CompactEncoder::State::value(Arc& arc, int64_t v, std::string& out) {
  if (arc.order != 0) {
    int m = std::min(arc.level + 1, static_cast<int>(arc.order));
    int64_t t[MAX_ORDER + 1];
    t[0] = v;
    for (int j = 1; j <= m; ++j) t[j] = t[j - 1] - arc.d[j - 1];
    if (t[m] < RESET_DIFFERENCE && t[m] > -RESET_DIFFERENCE) {
      int keep = std::min(m, arc.order - 1);
      for (int j = 0; j <= keep; ++j) arc.d[j] = t[j];
      arc.level = static_cast<int8_t>(keep);
      appendInt(out, t[m]);
      return;
    }
  }
  arc.order = ENCODE_ORDER;
  arc.level = 0;
  arc.d[0] = v;
  out.push_back(static_cast<char>('0' + ENCODE_ORDER));
  out.push_back('&');
  appendInt(out, v);
}

// The epoch line against the last one: blanks where a character stays, '&' where one becomes
// blank; the whole line where there is none to compare with.
void CompactEncoder::State::epochLine(std::string& out) {
  std::size_t start = out.size();
  if (!haveRef) {
    out += compact;
    if (version == 1) out[start] = '&';
  } else {
    std::size_t n = std::max(compact.size(), ref.size());
    for (std::size_t i = 0; i < n; ++i) {
      char c = i < compact.size() ? compact[i] : ' ';
      char r = i < ref.size() ? ref[i] : ' ';
      out.push_back(c == r ? ' ' : c == ' ' ? '&' : c);
    }
    trimRight(out, start);
  }
  out.push_back('\n');
  std::swap(ref, compact);
  haveRef = true;
}

void CompactEncoder::State::flush(std::string& out) {
  const std::string_view first = line(0);
  if (flag >= FIRST_EVENT_FLAG) {
    // Event records as they stand; the next epoch line starts afresh.
    for (std::size_t k = 0; k < ends.size(); ++k)
      if (!printable(line(k))) return fail("event record with a character that is not printable ASCII");
    std::size_t start = out.size();
    out.append(first.data(), first.size());
    if (version == 1) out[start] = '&';
    trimRight(out, start);
    out.push_back('\n');
    for (std::size_t k = 1; k < ends.size(); ++k) {
      out += line(k);
      out.push_back('\n');
    }
    haveRef = false;
    return;
  }
  // The compact epoch line: the epoch fields, then the whole satellite list in one piece.
  const std::size_t listAt = version == 1 ? R2_LIST : R3_LIST;
  compact.assign(first.substr(0, listAt));
  compact.resize(listAt, ' ');
  std::size_t satLine = 1;  // first line of the satellites' data
  if (version == 1) {
    for (int i = 0; i < satCount; ++i) {
      std::size_t k = static_cast<std::size_t>(i) / R2_PER_LINE;
      std::string_view id = field(line(k), R2_LIST + SAT_W * (static_cast<std::size_t>(i) % R2_PER_LINE), SAT_W);
      if (id.size() != SAT_W) return fail("satellite list shorter than the satellite count");
      compact += id;
    }
    satLine = 1 + (satCount > 0 ? static_cast<std::size_t>(satCount - 1) / R2_PER_LINE : 0);
    // Nothing but the list may stand on the lines: blanks before it on continuation lines,
    // blanks after it (and the clock after the first line's twelve).
    for (std::size_t k = 0; k < satLine; ++k) {
      std::string_view l = line(k);
      std::size_t inLine = std::min<std::size_t>(R2_PER_LINE, static_cast<std::size_t>(satCount) - k * R2_PER_LINE);
      std::size_t listEnd = R2_LIST + SAT_W * (satCount == 0 ? 0 : inLine);
      if ((k > 0 && !blank(l.substr(0, R2_LIST))) || (k == 0 ? !blank(field(l, listEnd, R2_CLOCK - listEnd))
                                                             : beyond(l, listEnd)))
        return fail("epoch line with text outside its fields");
    }
    if (beyond(first, R2_CLOCK + R2_CLOCK_W)) return fail("epoch line with text outside its fields");
  } else {
    if (beyond(first, R3_CLOCK + R3_CLOCK_W)) return fail("epoch line with text outside its fields");
    for (int i = 0; i < satCount; ++i) {
      std::string_view id = field(line(1 + static_cast<std::size_t>(i)), 0, SAT_W);
      if (id.size() != SAT_W) return fail("satellite line without a satellite");
      compact += id;
    }
  }
  if (!printable(compact) || compact.find('&') != std::string::npos)
    return fail("epoch line with a character that cannot be kept");

  const int clockW = version == 1 ? R2_CLOCK_W : R3_CLOCK_W;
  const int clockDec = version == 1 ? R2_CLOCK_DEC : R3_CLOCK_DEC;
  std::string_view clockText = field(first, version == 1 ? R2_CLOCK : R3_CLOCK, static_cast<std::size_t>(clockW));
  int64_t clockValue = 0;
  bool hasClock = !blank(clockText);
  if (hasClock && !parseFixed(clockText, clockDec, clockValue)) return fail("clock offset is not a number");

  // Everything is read; from here the epoch is written.
  const std::size_t epochStart = out.size();
  epochLine(out);
  if (hasClock) {
    value(clock, clockValue, out);
  } else {
    clock.order = 0;
  }
  out.push_back('\n');

  sats.begin();
  const std::string& list = ref;  // epochLine swapped the new line into ref
  for (std::size_t i = 0; i < static_cast<std::size_t>(satCount); ++i) {
    const char* id = list.data() + listAt + SAT_W * i;
    int n = types.r2;
    if (version == 3) {
      unsigned char system = static_cast<unsigned char>(id[0]);
      n = system < 128 ? types.r3[system] : -1;
      if (n < 0) {
        out.resize(epochStart);
        return fail("satellite of a system without observation types");
      }
    }
    bool continued = sats.add(id, n);
    Arc* arcs = sats.arcs(i);
    char* flags = sats.flags(i);
    const std::size_t typeCount = static_cast<std::size_t>(n);
    flagsNow.assign(2 * typeCount, ' ');
    const std::size_t lineStart = out.size();
    // Text after the last field of a line would be lost.
    const std::size_t perSat = static_cast<std::size_t>(std::max(1, (n + R2_OBS_PER_LINE - 1) / R2_OBS_PER_LINE));
    if (version == 1) {
      for (std::size_t k = 0; k < perSat; ++k) {
        std::size_t fields = std::min<std::size_t>(R2_OBS_PER_LINE, typeCount - std::min(typeCount, k * R2_OBS_PER_LINE));
        if (beyond(line(satLine + perSat * i + k), OBS_FIELD_W * fields)) {
          out.resize(epochStart);
          return fail("observation line longer than its fields");
        }
      }
    } else if (beyond(line(1 + i), SAT_W + OBS_FIELD_W * typeCount)) {
      out.resize(epochStart);
      return fail("observation line longer than its fields");
    }
    for (std::size_t t = 0; t < typeCount; ++t) {
      std::string_view l;
      std::size_t col;
      if (version == 1) {
        l = line(satLine + perSat * i + t / R2_OBS_PER_LINE);
        col = static_cast<std::size_t>(OBS_FIELD_W) * (t % R2_OBS_PER_LINE);
      } else {
        l = line(1 + i);
        col = SAT_W + static_cast<std::size_t>(OBS_FIELD_W) * t;
      }
      if (t > 0) out.push_back(' ');
      std::string_view text = field(l, col, OBS_W);
      std::string_view f = field(l, col + OBS_W, 2);
      flagsNow[2 * t] = f.size() > 0 ? f[0] : ' ';
      flagsNow[2 * t + 1] = f.size() > 1 ? f[1] : ' ';
      if (!printable(f) || f.find('&') != std::string_view::npos) {
        out.resize(epochStart);
        return fail("flag character that cannot be kept");
      }
      if (blank(text)) {
        // Version 1 compares a missing value's flags with blanks, version 3 with the last ones.
        arcs[t].order = 0;
        if (version == 1) flags[2 * t] = flags[2 * t + 1] = ' ';
        continue;
      }
      int64_t v = 0;
      if (!parseFixed(text, OBS_DEC, v)) {
        out.resize(epochStart);
        return fail("observation is not a number of the form F14.3");
      }
      value(arcs[t], v, out);
    }
    // The flags against the satellite's last ones (version 3 writes a new satellite's in full).
    std::size_t flagStart = out.size();
    out.push_back(' ');
    bool whole = version == 3 && !continued;
    for (std::size_t k = 0; k < 2 * typeCount; ++k) {
      char c = flagsNow[k];
      char r = flags[k];
      out.push_back(whole ? (c == ' ' ? '&' : c) : c == r ? ' ' : c == ' ' ? '&' : c);
      flags[k] = c;
    }
    trimRight(out, flagStart + 1);
    if (out.size() == flagStart + 1) out.resize(flagStart);
    trimRight(out, lineStart);
    out.push_back('\n');
  }
  sats.commit();
}

CompactEncoder::CompactEncoder(int version, std::string_view programLine) : state_(new State) {
  state_->version = version == 3 ? 3 : 1;
  state_->programLine.assign(programLine.substr(0, LABEL_COL));
  state_->programLine.resize(LABEL_COL, ' ');
}
CompactEncoder::~CompactEncoder() { delete state_; }

void CompactEncoder::encode(std::string_view line, std::string& out) {
  State& s = *state_;
  if (s.failed) return;
  // Carriage returns at a line's end belong to its line end (however many a damaged file has), so
  // both directions drop them all and a decoded text encodes back to itself.
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  switch (s.phase) {
    case State::START:
      out += s.version == 1 ? "1.0" : "3.0";
      out.append(17, ' ');
      out += "COMPACT RINEX FORMAT";
      out.append(20, ' ');
      out += VERSION_LABEL;
      out.push_back('\n');
      out += s.programLine;
      out += PROGRAM_LABEL;
      out.push_back('\n');
      s.phase = State::HEADER;
      [[fallthrough]];
    case State::HEADER:
      out.append(line.data(), line.size());
      out.push_back('\n');
      s.types.take(line, s.version);
      if (hasLabel(line, END_OF_HEADER)) s.phase = State::DATA;
      return;
    case State::DATA:
      if (s.ends.empty()) {
        s.buffer.clear();
        if (!s.firstLine(line)) return;
      }
      s.buffer.append(line.data(), line.size());
      s.ends.push_back(s.buffer.size());
      if (static_cast<long long>(s.ends.size()) == s.expected) {
        s.flush(out);
        s.ends.clear();
      }
      return;
  }
}

void CompactEncoder::finish(std::string&) {}

const std::string& CompactEncoder::error() const { return state_->error; }
