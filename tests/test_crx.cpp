// Compact RINEX codec: the real file pairs both ways, corrupted copies, and what the encoder cannot hold
// (arbitrary epochs both ways: fuzz_crx_roundtrip; the program's outputs: test_output).
#include <algorithm>

#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

using namespace crx_test;
const std::string LABEL = "3.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE";

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

// Compact to plain file and back (but the second line); a cut stream gives the whole epochs before the cut or
// is refused; changed first lines, first value line or epoch line are refused.
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
    got.resize(p.match == FIRST_49 ? 49 : got.size());
    for (std::string& w : want) p.match == TRIMMED ? rtrim(w) : void();
    EXPECT_EQ(got, want);
    Lines encoded = splitLines(encodeLines(plain, lines[0][0] == '3' ? 3 : 1)), compact = lines;
    compact.resize(p.match == FIRST_49 ? std::max<std::size_t>(encoded.size(), 2) : compact.size());  // one epoch
    compact[1] = "epofill test" + std::string(48, ' ') + "CRINEX PROG / DATE";
    EXPECT_EQ(encoded, compact);
    std::size_t data = 1;  // the first line after the header
    while (lines[data - 1].find("END OF HEADER") == std::string::npos) ++data;
    for (std::size_t keep = data + 2; keep < lines.size(); keep += lines.size() / 9 + 1) {
      const Decoded cut = decodeLines(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep)));
      EXPECT_TRUE(cut.ok ? d.text.compare(0, cut.text.size(), cut.text) == 0 && keep > data + 2
                         : cut.error.find("ended inside an epoch") != std::string::npos) << keep << ": " << cut.error;
    }
    // The first value line (its first value "3&...") and the epoch line; "" where any refusal will do.
    const std::string &epoch = lines[data], &value = lines[data + 2];
    const std::size_t sign = value.find('&') + 1, digits = sign + (value[sign] == '-'), count = epoch[0] == '>' ? 34 : 31;
    const char more = epoch[count] == '9' ? '8' : epoch[count] == ' ' ? '1' : static_cast<char>(epoch[count] + 1);
    const struct { std::size_t line; std::string text; const char* error; } cases[] = {
        {0, "2.0" + LABEL.substr(3), "2.0"}, {1, "not the program line", ""},
        {data + 2, "0" + value.substr(1), "bad difference order"}, {data, epoch.substr(0, 20), ""},
        {data + 2, value.substr(2), "difference without initialisation"},
        {data + 2, value.substr(0, digits) + "9999" + value.substr(digits), "too large"},
        {data, epoch.substr(0, count) + more + epoch.substr(count + 1), ""},  // one satellite more
    };
    for (const auto& c : cases) {
      Lines bad = lines;
      const Decoded refused = decodeLines((bad[c.line] = c.text, bad));
      EXPECT_TRUE(!refused.ok && refused.error.find(c.error) != std::string::npos) << c.text << ": " << refused.error;
    }
  }
}

// What the compact form cannot hold is refused, and the output ends after the last whole epoch.
TEST(CompactEncoder, RefusesWhatItCannotRepresent) {
  EXPECT_EQ(compactRinexVersion(LABEL + "\r"), 3);
  const Lines header = splitLines(e2e::generate("--epochs 1 --sats 1 --types L1 --strip"));
  const std::string epoch = " 21  3  1  0  0 30.0000000  0  1G01";
  const struct { const char* what; std::string epoch, data; } cases[] = {
      {"not an epoch line", "garbage", ""}, {"longer than its fields", epoch, "   1234567.123 1 x"},
      {"satellite count is not a number", " 21  3  1  0  0 30.0000000  0 1x", ""},
      {"satellite list shorter", " 21  3  1  0  0 30.0000000  0  2G01", ""},
      {"F14.3", epoch, "    1234567.12"}, {"flag character", epoch, "   1234567.123&"},
      {"text outside its fields", epoch + "  x", "   1234567.123"},
      {"text outside its fields", epoch + std::string(33, ' ') + " 0.000000001x", "   1234567.123"},
  };
  for (const auto& c : cases) {
    std::string error;
    Lines bad = header;
    bad.insert(bad.end(), {c.epoch, c.data, ""});
    const Decoded d = decodeLines(splitLines(encodeLines(bad, 1, &error)));
    EXPECT_TRUE(error.find(c.what) != std::string::npos && d.ok && splitLines(d.text) == header) << c.what << ": " << error;
  }
}

}  // namespace
