// The epoch reader and writer: observation fields by column, event records verbatim, epochs line for line.
#include "rinex_test_support.h"

namespace rinex_test {

const std::string TIME = "  1  8 28 12 30 15.5000000", ABSENT(16, ' ');  // columns 1-26; an absent observation

Read readAfterHeader(const std::string& text, int types) {  // and what is written of them after the header
  RINEXHeader h;
  h.observationTypeCount = types;
  h.firstObservation = {2001, 1, 1, 0, 0, 0.0};
  Read r = readAndWrite(text, &h);
  r.written.erase(0, readAndWrite("", &h).written.size());
  return r;
}

// Epoch and continuation lines of n satellites G 1, R 2, E 3, S 4, G 5 ..., `types` values each, every seventh absent.
Lines epochLines(const std::string& time, int flag, int n, int types = 0, const std::string& clock = "") {
  Lines lines = {time + "  " + std::to_string(flag) + (n < 10 ? "  " : " ") + std::to_string(n)};
  for (int i = 0; i < n; ++i)
    (i > 0 && i % 12 == 0 ? lines.emplace_back(32, ' ') : lines.back()) += "GRES"[i % 4] + std::string(i < 9 ? " " : "") + std::to_string(i + 1);
  if (n > 12) lines.back() = padded(lines.back(), 68);
  if (!clock.empty()) lines[0] = padded(lines[0], 68) + clock;
  for (int s = 0, k = 0; s < n; ++s)
    for (int j = 0; j < types; ++j, ++k) {
      if (j % 5 == 0) lines.emplace_back();
      lines.back() += k % 7 == 6 ? ABSENT : obs(std::to_string(-5000 + 1000 * s + j) + ".125", (k % 3 ? " " : "1") + std::to_string(k % 10));
    }
  return lines;
}

// Fields of 16 columns, five a line: zero is absent whatever its indicators, a non-digit indicator is 0, blanks absent.
TEST(EpochReader, ObservationFieldsFivePerLine) {
  const std::string one = obs("1.000"), two = one + obs("2.000"), six = obs("6.000"), three = ABSENT + ABSENT + ABSENT;
  const std::string five = two + obs("3.000") + obs("4.000") + obs("5.000");
  const struct { int types; std::string data, written; } cases[] = {
      {1, obs("0.000", "12"), ABSENT}, {1, obs("123.456", " 7"), obs("123.456", " 7")},
      {1, obs("123.456", "ab"), obs("123.456", "00")}, {1, "    123456.789\r", obs("123456.789")},  // CR LF
      {1, obs("7.250", "12") + std::string(300, ' '), obs("7.250", "12")},  // long data lines are read
      {6, five + "\n" + six, five + "\n" + six}, {6, two + "\n" + six, two + three + "\n" + six},
      {7, one + "\n", one + three + ABSENT + "\n" + ABSENT + ABSENT},  // an empty data line is no blank epoch line
      {12, one + ABSENT + obs("3.000") + "\n" + six + "\n" + ABSENT + obs("12.000"),
       one + ABSENT + obs("3.000") + ABSENT + ABSENT + "\n" + six + three + ABSENT + "\n" + ABSENT + obs("12.000")}};
  for (const auto& c : cases)
    EXPECT_EQ(readAfterHeader(TIME + "  0  1G 5\n" + c.data + "\n", c.types).written, padded(TIME + "  0  1G 5", 80) + "\n" + c.written + "\n")
        << c.types << " types: \"" << c.data << '"';
}

// Event records verbatim, and epochs in the writer's layout line for line, alone and after an event (CR LF).
TEST(EpochReader, EventsVerbatimAndEpochsLineForLine) {
  const std::string comment = padded("RINEX FILE SPLICE; other post-header comments skipped", 60) + "COMMENT", blank(28, ' ');
  for (auto [types, next] : std::vector<std::pair<int, Lines>>{
           {6, epochLines("  1  8 28 12 31  0.0000000", 0, 2, 6, " 0.000000001")}, {5, epochLines(TIME, 0, 3, 5, "-0.000123456")},
           {12, epochLines(TIME, 1, 12, 12)}, {3, epochLines(TIME, 0, 13, 3, " 0.000000001")}, {17, epochLines(TIME, 0, 30, 17)}}) {
    const std::string input = joined(next, "\r\n");
    next[0] = padded(next[0], 80);
    for (const Lines& event : std::vector<Lines>{
             {}, {blank + "2  1", "  *** Start of Kinematic Data ***"},
             {TIME + "  3  2", padded("SITE2", 60) + "MARKER NAME", "        0.1000        0.0000"}, {blank + "4  0"},
             {blank + "4  3", comment, comment, "  a blank-led special record"}, {TIME + "  5  0"},
             epochLines(TIME, 6, 2, types), epochLines(TIME, 6, 13, types)}) {
      const Read r = readAfterHeader(joined(event, "\r\n") + input, types);
      ASSERT_EQ(r.epochs.size(), event.empty() ? 1u : 2u) << next[0];
      EXPECT_EQ(r.epochs[0].epochFlag, (event.empty() ? next : event)[0][28] - '0');
      EXPECT_EQ(r.written, joined(event) + joined(next)) << (event.empty() ? "" : event[0]) << " before " << next[0];
    }
  }
}

}  // namespace rinex_test
