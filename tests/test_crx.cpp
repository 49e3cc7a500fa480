// Compact RINEX codec: real pairs both ways, corrupted copies, generated epochs, what the encoder cannot hold.
#include <algorithm>

#include "fuzz/crx_epochs.h"
#include "tests/e2e_support.h"

namespace {

using namespace crx_test;
const std::string LABEL = "3.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE";

const std::pair<const char*, const char*> PAIRS[] = {  // no plain file: the decoded text
    {"crx/wsra0010.21d", "rinex/wsra0010.21o"}, {"crx/KOSG0010.95D", "rinex/KOSG0010.95O"}, {"crx/aopr0010.17d", "crx/aopr0010.17o"},
    {"crx/eijs0010.21d", ""}, {"crx/npaz3550.21d", "rinex/npaz3550.21o"}, {"crx/barq071q.19d", "crx/barq071q.19o"},
    {"rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"},
    {"rinex3/flrs0010.12d", "rinex3/flrs0010.12o"}, {"rinex3/DUTH0630.22D", "rinex3/DUTH0630.22O"}, {"rinex3/sample.crx", "rinex3/sample.rnx"},
    {"rinex3/VLNS0010.22D", "rinex3/VLNS0010.22O"}, {"rinex3/P43300USA_R_20190012056_17M_15S_MO.crx", ""}};

// Compact to plain and back (but the second line); a cut stream gives whole epochs or is refused; corrupted copies refused.
TEST(CompactCodec, RealFilesBothWaysAndCorruptedCopies) {
  const std::string shared = e2e::sharedDataDir();
  if (shared.empty()) GTEST_SKIP() << "../shared/data is absent: real Compact RINEX files skipped";
  const auto readLines = [&](const std::string& name) { return splitLines(e2e::readFile(shared + "/../" + name)); };
  for (const auto& [name, plainName] : PAIRS) {
    SCOPED_TRACE(name);
    const Lines lines = readLines(name);
    const Decoded d = decodeLines(lines);
    ASSERT_TRUE(d.ok) << d.error;
    const bool trimmed = std::string(name).find("npaz") != std::string::npos, one = std::string(name).find("barq") != std::string::npos;
    Lines got = splitLines(d.text), plain = *plainName ? readLines(plainName) : got, want = plain;
    Lines encoded = splitLines(encodeLines(plain, lines[0][0] == '3' ? 3 : 1)), compact = lines;
    if (one) got.resize(49), compact.resize(std::max<std::size_t>(encoded.size(), 2));  // barq: the plain file holds one epoch
    for (std::string& w : want) trimmed ? rtrim(w) : void();  // npaz: trailing blanks
    EXPECT_EQ(got, want);
    compact[1] = "epofill test" + std::string(48, ' ') + "CRINEX PROG / DATE";
    EXPECT_EQ(encoded, compact);
    const std::size_t data = 3 + std::count(d.text.begin(), d.text.begin() + d.text.find("END OF HEADER"), '\n');  // the first epoch
    for (std::size_t keep = data + 2; keep < lines.size(); keep += lines.size() / 9 + 1) {
      const Decoded cut = decodeLines(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep)));
      EXPECT_TRUE(cut.ok ? d.text.compare(0, cut.text.size(), cut.text) == 0 && keep > data + 2
                         : cut.error.find("ended inside an epoch") != std::string::npos) << keep << ": " << cut.error;
    }
    const std::string &epoch = lines[data], &value = lines[data + 2];
    const std::size_t sign = value.find('&') + 1, digits = sign + (value[sign] == '-'), count = epoch[0] == '>' ? 34 : 31;
    const char more = epoch[count] == '9' ? '8' : epoch[count] == ' ' ? '1' : static_cast<char>(epoch[count] + 1);
    const struct { std::size_t line; std::string text; const char* error; } cases[] = {
        {0, "2.0" + LABEL.substr(3), "2.0"}, {1, "not the program line", ""}, {data, epoch.substr(0, 20), ""},
        {data + 2, "0" + value.substr(1), "bad difference order"}, {data + 2, value.substr(2), "difference without initialisation"},
        {data + 2, std::string(value).insert(digits, "9999"), "too large"}, {data, std::string(epoch).replace(count, 1, 1, more), ""},
    };
    for (const auto& c : cases) {
      const Decoded refused = decodeLines([&, bad = lines]() mutable { return bad[c.line] = c.text, bad; }());
      EXPECT_TRUE(!refused.ok && refused.error.find(c.error) != std::string::npos) << c.text << ": " << refused.error;
    }
  }
}

TEST(CompactCodec, GeneratedEpochsBothWays) {  // the first 200 seeds; more: fuzz_crx_roundtrip
  for (unsigned seed = 1; seed <= 200; ++seed)
    EXPECT_EQ(roundTrip(makeObservationText(seed, 2 + seed % 2, seed % 3 == 0), 1 + 2 * (seed % 2), seed % 3 == 0), "") << seed;
}

TEST(CompactEncoder, RefusesWhatItCannotRepresent) {  // and the output ends after the last whole epoch
  EXPECT_EQ(compactRinexVersion(LABEL + "\r"), 3);
  const std::string header = e2e::generate("--epochs 1 --sats 1 --types L1 --strip");
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
    const Decoded d = decodeLines(splitLines(encodeLines(splitLines(header + c.epoch + "\n" + c.data + "\n\n"), 1, &error)));
    EXPECT_TRUE(error.find(c.what) != std::string::npos && d.ok && splitLines(d.text) == splitLines(header)) << c.what << ": " << error;
  }
}

}  // namespace
