// Compact RINEX codec: the real file pairs both ways, corrupted copies, and round trips of generated epochs.
#include <random>

#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

using namespace crx_test;
using Lines = std::vector<std::string>;

enum Match { EXACT, TRIMMED, FIRST_49, NO_PLAIN };  // how the decoded text matches the plain file
const struct Pair { const char *compact, *plain; Match match; } PAIRS[] = {
    {"crx/wsra0010.21d", "rinex/wsra0010.21o", EXACT}, {"crx/KOSG0010.95D", "rinex/KOSG0010.95O", EXACT},
    {"crx/aopr0010.17d", "crx/aopr0010.17o", EXACT}, {"crx/eijs0010.21d", "", NO_PLAIN},
    {"crx/npaz3550.21d", "rinex/npaz3550.21o", TRIMMED}, {"crx/barq071q.19d", "crx/barq071q.19o", FIRST_49},
    {"rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", EXACT},
    {"rinex3/flrs0010.12d", "rinex3/flrs0010.12o", EXACT}, {"rinex3/DUTH0630.22D", "rinex3/DUTH0630.22O", EXACT},
    {"rinex3/VLNS0010.22D", "rinex3/VLNS0010.22O", EXACT}, {"rinex3/sample.crx", "rinex3/sample.rnx", EXACT},
    {"rinex3/P43300USA_R_20190012056_17M_15S_MO.crx", "", NO_PLAIN},
};

TEST(CompactRinexVersion, ReadsTheFirstLineAndRefusesOthers) {
  const std::string label = "                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE";
  std::string version;
  EXPECT_EQ(compactRinexVersion("1.0" + label), 1);
  EXPECT_EQ(compactRinexVersion("3.0" + label + "\r"), 3);
  EXPECT_EQ(compactRinexVersion("2.0" + label, &version), -1);
  EXPECT_EQ(version, "2.0");
  EXPECT_EQ(compactRinexVersion("     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE"), 0);
  EXPECT_NE(decodeLines({"2.0" + label}).error.find("2.0"), std::string::npos);
  EXPECT_FALSE(decodeLines({"1.0" + label, "not the program line"}).ok);
}

// Compact to plain file and back (but the second line); corrupted copies are refused or decode to as many
// lines; a cut stream gives the whole epochs before the cut or is refused.
TEST(CompactCodec, RealFilesBothWaysAndCorruptedCopies) {
  const std::string shared = e2e::sharedDataDir();
  if (shared.empty()) GTEST_SKIP() << "../shared/data is absent: real Compact RINEX files skipped";
  const auto readLines = [&](const std::string& name) { return splitLines(e2e::readFile(shared + "/../" + name)); };
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    const Lines lines = readLines(p.compact);
    const Decoded d = decodeLines(lines);
    ASSERT_TRUE(d.ok) << d.error;
    Lines got = splitLines(d.text), plain = p.match == NO_PLAIN ? got : readLines(p.plain), want = plain;
    const std::size_t wholeLines = got.size();
    if (p.match == FIRST_49) got.resize(49);
    if (p.match == TRIMMED)
      for (std::string& w : want) rtrim(w);
    EXPECT_EQ(got, want);

    Lines encoded = splitLines(encodeLines(plain, lines[0][0] == '3' ? 3 : 1)), compact = lines;
    ASSERT_GT(encoded.size(), 2u);
    EXPECT_EQ(encoded[1], "epofill test" + std::string(48, ' ') + "CRINEX PROG / DATE");
    if (p.match == FIRST_49) compact.resize(encoded.size());  // the plain file's one epoch
    compact[1] = encoded[1];
    EXPECT_EQ(encoded, compact);

    std::size_t data = 1;  // the first line after the header
    while (lines[data - 1].find("END OF HEADER") == std::string::npos) ++data;
    EXPECT_FALSE(decodeLines(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(data + 2))).ok);
    for (std::size_t keep = data + 3; keep < lines.size(); keep += lines.size() / 9 + 1) {
      const Decoded cut = decodeLines(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep)));
      if (cut.ok)
        EXPECT_EQ(d.text.compare(0, cut.text.size(), cut.text), 0) << "cut after line " << keep;
      else
        EXPECT_NE(cut.error.find("ended inside an epoch"), std::string::npos) << cut.error;
    }
    // A changed digit of a value is a valid file (the format has no check sum): it decodes to as many lines.
    for (std::size_t i = data; i < lines.size(); i += (lines.size() - data) / 20 + 1)
      for (std::size_t c = i % 7; c < lines[i].size(); c += 13) {
        if (lines[i][c] < '0' || lines[i][c] > '9') continue;
        Lines bad = lines;
        bad[i][c] = static_cast<char>(bad[i][c] == '9' ? '0' : bad[i][c] + 1);
        const Decoded changed = decodeLines(bad);
        EXPECT_TRUE(!changed.ok || splitLines(changed.text).size() == wholeLines)
            << "line " << i + 1 << " column " << c + 1;
      }
    // Changes of the first value line (its first value "3&...") and of the epoch line; "" where any refusal will do.
    const std::string &epoch = lines[data], &value = lines[data + 2];
    const std::size_t sign = value.find('&') + 1, digits = sign + (value[sign] == '-'), count = epoch[0] == '>' ? 34 : 31;
    const char more = epoch[count] == '9' ? '8' : epoch[count] == ' ' ? '1' : static_cast<char>(epoch[count] + 1);
    const struct { std::size_t line; std::string text; const char* error; } cases[] = {
        {data + 2, "0" + value.substr(1), "bad difference order"},
        {data + 2, value.substr(2), "difference without initialisation"},
        {data + 2, value.substr(0, digits) + "9999" + value.substr(digits), "too large"},
        {data, epoch.substr(0, 20), ""},
        {data, epoch.substr(0, count) + more + epoch.substr(count + 1), ""},  // one satellite more
    };
    for (const auto& c : cases) {
      Lines bad = lines;
      bad[c.line] = c.text;
      const Decoded d = decodeLines(bad);
      EXPECT_TRUE(!d.ok && d.error.find(c.error) != std::string::npos) << c.text << ": " << d.error;
    }
  }
}

struct SeededChoices : Choices {
  std::mt19937 random;
  explicit SeededChoices(unsigned seed) : random(seed) {}
  uint32_t next(uint32_t n) override { return static_cast<uint32_t>(random() % n); }
};

// Encoding then decoding gives the text back; for the first seeds the encoder's output after every line
// past the header holds whole epochs only, and a cut last epoch is dropped.
TEST(CompactCodec, RoundTripOfGeneratedEpochs) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SeededChoices choices(seed);
    const int rinex = seed % 2 == 0 ? 2 : 3, version = rinex == 2 ? 1 : 3;
    const bool zero = seed % 3 == 0;
    const Lines text = makeObservationText(choices, rinex, zero);
    std::string error;
    const Decoded d = decodeLines(splitLines(encodeLines(text, version, &error)), zero);
    ASSERT_TRUE(error.empty() && d.ok && splitLines(d.text) == text) << "seed " << seed << ": " << error << d.error;
    if (seed > 4) continue;
    EXPECT_TRUE(decodeLines(splitLines(encodeLines(Lines(text.begin(), text.end() - 1), version)), zero).ok);
    CompactEncoder encoder(version, "");
    std::string out;
    bool header = true;
    for (const std::string& line : text) {
      encoder.encode(line, out);
      if (header && (header = line.find("END OF HEADER") == std::string::npos)) continue;
      const Decoded part = decodeLines(splitLines(out), zero);
      const Lines got = splitLines(part.text);
      ASSERT_TRUE(part.ok && got.size() <= text.size() && std::equal(got.begin(), got.end(), text.begin())) << seed;
    }
  }
}

// What the compact form cannot hold is refused, and the output ends after the last whole epoch.
TEST(CompactEncoder, RefusesWhatItCannotRepresent) {
  const Lines header = {"     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE",
                        "     1    L1                                                # / TYPES OF OBSERV",
                        "                                                            END OF HEADER",
                        " 21  3  1  0  0  0.0000000  0  1G01", "   1234567.123"};
  const std::string epoch = " 21  3  1  0  0 30.0000000  0  1G01";
  const struct { const char* what; std::string epoch, data; } cases[] = {
      {"not an epoch line", "garbage", ""},
      {"satellite count is not a number", " 21  3  1  0  0 30.0000000  0 1x", ""},
      {"satellite list shorter", " 21  3  1  0  0 30.0000000  0  2G01", ""},
      {"F14.3", epoch, "    1234567.12"},
      {"text outside its fields", epoch + "  x", "   1234567.123"},
      {"text outside its fields", epoch + std::string(33, ' ') + " 0.000000001x", "   1234567.123"},
      {"longer than its fields", epoch, "   1234567.123 1 x"},
      {"flag character", epoch, "   1234567.123&"},
  };
  for (const auto& c : cases) {
    Lines bad = header;
    bad.insert(bad.end(), {c.epoch, c.data, ""});
    std::string error;
    const Decoded d = decodeLines(splitLines(encodeLines(bad, 1, &error)));
    EXPECT_NE(error.find(c.what), std::string::npos) << c.what << ": " << error;
    EXPECT_TRUE(d.ok && splitLines(d.text) == header) << c.what;
  }
}

}  // namespace
