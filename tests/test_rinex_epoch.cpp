// The epoch reader and writer: observation fields by column, event records verbatim, epochs line for line.
#include <algorithm>
#include <cstdio>

#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

const std::string TIME = "  1  8 28 12 30 15.5000000";  // columns 1-26
const std::string ABSENT(16, ' ');

RINEXHeader headerFor(int types) {
  RINEXHeader h;
  initHeader(h);
  h.observationTypeCount = types;
  h.firstObservation = {2001, 1, 1, 0, 0, 0.0};
  return h;
}

std::vector<RINEXEpoch> readAll(const std::string& text, RINEXHeader h) {
  LineReader in;
  in.openMemory(text);
  std::vector<RINEXEpoch> epochs;
  RINEXEpoch e;
  while (readEpoch(in, h, e) == 1) epochs.push_back(e);
  EXPECT_EQ(readEpoch(in, h, e), 0);  // the end stays the end, and leaves the record as it was
  EXPECT_EQ(e.epochFlag, epochs.empty() ? UNSET : epochs.back().epochFlag);
  return epochs;
}

std::string writtenText(const RINEXHeader& h, const std::vector<RINEXEpoch>& epochs) {
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);  // the epochs follow a header
  const std::size_t start = out.contents().size();
  for (const RINEXEpoch& e : epochs) writeEpoch(out, h, e);
  return out.contents().substr(start);
}

std::string obs(const std::string& value, char lli = ' ', int strength = ' ') {
  return std::string(14 - std::min<std::size_t>(14, value.size()), ' ') + value + lli + static_cast<char>(strength);
}

// An epoch line of n satellites G 1, R 2, E 3, S 4, G 5 ... (with the clock field if given), its
// continuation lines, then the data lines of `types` observations per satellite, every seventh
// absent and indicators on some.
std::vector<std::string> epochLines(const std::string& time, int flag, int n, int types = 0, const std::string& clock = "") {
  char text[16];
  std::snprintf(text, sizeof text, "%3d%3d", flag, n);
  std::vector<std::string> lines = {time + text};
  for (int i = 0; i < n; ++i) {
    if (i > 0 && i % 12 == 0) lines.push_back(std::string(32, ' '));
    std::snprintf(text, sizeof text, "%c%2d", "GRES"[i % 4], i + 1);
    lines.back() += text;
  }
  if (n > 12) lines.back() = padded(lines.back(), 68);
  if (!clock.empty()) lines[0] = padded(lines[0], 68) + clock;
  for (int s = 0, k = 0; s < n; ++s)
    for (int j = 0; j < types; ++j, ++k) {
      if (j % 5 == 0) lines.emplace_back();
      lines.back() += k % 7 == 6 ? ABSENT : obs(std::to_string(-5000 + 1000 * s + j) + ".125", k % 3 ? ' ' : '1', '0' + k % 10);
    }
  return lines;
}

using EpochReader = RinexTest;

// Observations as "value/lli strength" ("-" when absent), the indicators only when one is set.
std::string observations(const SatelliteObservations& s, int types) {
  const auto num = [](int v) { return v == UNSET ? "-" : std::to_string(v); };
  std::string text;
  for (int j = 0; j < types; ++j) {
    const ObservationValue& o = s.obs[j];
    char value[64];
    std::snprintf(value, sizeof value, " %.10g", o.value);
    text += o.present ? value : o.value == UNSET_VALUE ? " -" : " ?";
    if (o.lli != UNSET || o.signalStrength != UNSET) text += "/" + num(o.lli) + num(o.signalStrength);
  }
  return text.substr(1);
}

TEST_F(EpochReader, ObservationFieldsFivePerLine) {
  const std::string five = obs("1") + obs("2") + obs("3") + obs("4") + obs("5");
  struct Case { int types; std::string data, expected; };
  const std::vector<Case> cases = {
      {1, obs("0.000", '1', '2'), "-"}, {1, obs("123.456", ' ', '7'), "123.456/-7"}, {1, obs("123.456", 'a', 'b'), "123.456/00"},
      {1, "    123456.789\r", "123456.789"},                        // CR LF line end
      {1, obs("7.25", '1', '2') + std::string(300, ' '), "7.25/12"},  // long data lines are read
      {6, five + "\n" + obs("6"), "1 2 3 4 5 6"},
      {6, obs("1") + obs("2") + "\n" + obs("6"), "1 2 - - - 6"},  // trailing blanks cut
      {7, obs("1") + "\n", "1 - - - - - -"},                      // an empty data line is no blank epoch line
      {12, obs("1") + ABSENT + obs("3") + "\n" + obs("6") + "\n" + ABSENT + obs("12"), "1 - 3 - - 6 - - - - - 12"},
  };
  for (const Case& c : cases) {
    const std::vector<RINEXEpoch> all = readAll(TIME + "  0  1G 5\n" + c.data + "\n", headerFor(c.types));
    ASSERT_EQ(all.size(), 1u) << c.data;
    EXPECT_EQ(observations(all[0].satellites[0], c.types), c.expected) << c.types << " types: \"" << c.data << '"';
  }
}

// Event records come back verbatim, and epochs in the writer's own layout line for line, the epoch line
// padded to 80 columns, also right after an event and with CR LF line ends.
TEST_F(EpochReader, EventsVerbatimAndEpochsLineForLine) {
  const std::string comment = padded("RINEX FILE SPLICE; other post-header comments skipped", 60) + "COMMENT";
  for (auto [types, next] : std::vector<std::pair<int, std::vector<std::string>>>{
           {6, epochLines("  1  8 28 12 31  0.0000000", 0, 2, 6, " 0.000000001")},
           {5, epochLines(TIME, 0, 3, 5, "-0.000123456")},
           {12, epochLines(TIME, 1, 12, 12)},
           {3, epochLines(TIME, 0, 13, 3, " 0.000000001")},  // the clock stays on the first line
           {17, epochLines(TIME, 0, 30, 17)}}) {
    const RINEXHeader h = headerFor(types);
    const std::string text = joined(next), crlf = joined(next, "\r\n");
    next[0] = padded(next[0], 80);
    EXPECT_EQ(writtenText(h, readAll(text, h)), joined(next)) << next[0];
    for (const std::vector<std::string>& lines : std::vector<std::vector<std::string>>{
             {std::string(28, ' ') + "2  1", "  *** Start of Kinematic Data ***"},
             {TIME + "  3  2", padded("SITE2", 60) + "MARKER NAME", "        0.1000        0.0000"},
             {std::string(28, ' ') + "4  0"},
             {std::string(28, ' ') + "4  3", comment, comment, "  a blank-led special record"},
             {TIME + "  5  0"}, epochLines(TIME, 6, 2, types), epochLines(TIME, 6, 13, types)}) {
      SCOPED_TRACE(lines[0] + " before " + next[0]);
      const std::vector<RINEXEpoch> all = readAll(joined(lines, "\r\n") + crlf, h);
      ASSERT_EQ(all.size(), 2u);
      EXPECT_TRUE(all[0].isEvent() && !all[1].isEvent());
      EXPECT_EQ(all[0].epochFlag, lines[0][28] - '0');
      EXPECT_EQ(writtenText(h, all), joined(lines) + joined(next));
    }
  }
}

}  // namespace
