// Compact RINEX codec: the real file pairs both ways, corrupted copies, and round trips of
// generated epochs.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "rinex/crx.h"
#include "tests/crx_support.h"

namespace {

using crx_test::splitLines;
using Lines = std::vector<std::string>;

std::string sharedDir() {
  std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data";
  return std::ifstream(dir + "/crx/README.md") ? dir : std::string();
}

Lines readLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Lines lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Decoded {
  bool ok;
  std::string error, text;
};

Decoded decodeAll(const Lines& lines, bool zeroBeforePoint = false) {
  CompactDecoder decoder(zeroBeforePoint);
  Decoded d{true, "", ""};
  for (const std::string& line : lines)
    if (!decoder.decode(line, d.text)) break;
  d.ok = decoder.error().empty() && decoder.finish(d.text);
  d.error = decoder.error();
  return d;
}

std::string encodeAll(const Lines& lines, int version, std::string* error = nullptr) {
  CompactEncoder encoder(version, "epofill test");
  std::string out;
  for (const std::string& line : lines) encoder.encode(line, out);
  encoder.finish(out);
  if (error != nullptr) *error = encoder.error();
  return out;
}

int versionOf(const Lines& compact) { return compact[0][0] == '3' ? 3 : 1; }

enum class Match { Exact, TrailingBlanks, First49, NoPlain };
const struct Pair {
  const char *compact, *plain;
  Match match;
} PAIRS[] = {
    {"crx/wsra0010.21d", "rinex/wsra0010.21o", Match::Exact},
    {"crx/KOSG0010.95D", "rinex/KOSG0010.95O", Match::Exact},
    {"crx/aopr0010.17d", "crx/aopr0010.17o", Match::Exact},
    {"crx/npaz3550.21d", "rinex/npaz3550.21o", Match::TrailingBlanks},
    {"crx/barq071q.19d", "crx/barq071q.19o", Match::First49},
    {"crx/eijs0010.21d", "", Match::NoPlain},
    {"rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", Match::Exact},
    {"rinex3/flrs0010.12d", "rinex3/flrs0010.12o", Match::Exact},
    {"rinex3/DUTH0630.22D", "rinex3/DUTH0630.22O", Match::Exact},
    {"rinex3/VLNS0010.22D", "rinex3/VLNS0010.22O", Match::Exact},
    {"rinex3/sample.crx", "rinex3/sample.rnx", Match::Exact},
    {"rinex3/P43300USA_R_20190012056_17M_15S_MO.crx", "", Match::NoPlain},
};

#define REQUIRE_SHARED()                    \
  const std::string shared = sharedDir(); \
  if (shared.empty()) GTEST_SKIP() << "../shared/data is absent: real Compact RINEX files skipped"

TEST(CompactRinexVersion, ReadsTheFirstLineAndRefusesOthers) {
  const std::string label = "                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE";
  std::string version;
  EXPECT_EQ(compactRinexVersion("1.0" + label), 1);
  EXPECT_EQ(compactRinexVersion("3.0" + label + "\r"), 3);
  EXPECT_EQ(compactRinexVersion("2.0" + label, &version), -1);
  EXPECT_EQ(version, "2.0");
  EXPECT_EQ(compactRinexVersion("     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE"), 0);
  EXPECT_NE(decodeAll({"2.0" + label}).error.find("2.0"), std::string::npos);
  EXPECT_FALSE(decodeAll({"1.0" + label, "not the program line"}).ok);
}

// Each compact file decodes to its plain file, and the plain file encodes to the compact file
// after the second line; where there is no plain file, decoding and encoding again gives it back.
TEST(CompactCodec, RealFilesBothWays) {
  REQUIRE_SHARED();
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    Lines compact = readLines(shared + "/" + p.compact);
    Decoded d = decodeAll(compact);
    ASSERT_TRUE(d.ok) << d.error;
    Lines got = splitLines(d.text);
    Lines plain = p.match == Match::NoPlain ? got : readLines(shared + "/" + p.plain);
    Lines want = plain;
    if (p.match == Match::First49) got.resize(49);
    if (p.match == Match::TrailingBlanks)
      for (std::string& w : want) crx_test::rtrim(w);
    EXPECT_EQ(got, want);

    Lines encoded = splitLines(encodeAll(plain, versionOf(compact)));
    ASSERT_GT(encoded.size(), 2u);
    EXPECT_EQ(encoded[1], "epofill test" + std::string(48, ' ') + "CRINEX PROG / DATE");
    if (p.match == Match::First49) compact.resize(encoded.size());  // the plain file's one epoch
    compact[1] = encoded[1];
    EXPECT_EQ(encoded, compact);
  }
}

// Corrupted copies are refused, or (a change that leaves a well-formed file) decode to as many
// lines; a cut stream gives the whole epochs before the cut or is refused.
TEST(CompactDecoder, RefusesCorruptedCopies) {
  REQUIRE_SHARED();
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    const Lines lines = readLines(shared + "/" + p.compact);
    const std::string whole = decodeAll(lines).text;
    const std::size_t wholeLines = splitLines(whole).size();
    ASSERT_GT(wholeLines, 0u);
    std::size_t data = 0;
    while (lines[data].find("END OF HEADER") == std::string::npos) ++data;
    ++data;

    EXPECT_FALSE(decodeAll(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(data + 2))).ok);
    for (std::size_t keep = data + 3; keep < lines.size(); keep += lines.size() / 9 + 1) {
      Decoded d = decodeAll(Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep)));
      if (d.ok)
        EXPECT_EQ(whole.compare(0, d.text.size(), d.text), 0) << "cut after line " << keep;
      else
        EXPECT_NE(d.error.find("ended inside an epoch"), std::string::npos) << d.error;
    }

    // A changed digit of a value is a valid file (the format has no check sum): it decodes to as
    // many lines. The order of an arc, a digit changed to 0, is refused.
    const std::size_t step = (lines.size() - data) / 20 + 1;
    for (std::size_t i = data; i < lines.size(); i += step)
      for (std::size_t c = i % 7; c < lines[i].size(); c += 13) {
        if (lines[i][c] < '0' || lines[i][c] > '9') continue;
        Lines bad = lines;
        bad[i][c] = static_cast<char>(bad[i][c] == '9' ? '0' : bad[i][c] + 1);
        Decoded d = decodeAll(bad);
        EXPECT_TRUE(!d.ok || splitLines(d.text).size() == wholeLines) << "line " << i + 1 << " column " << c + 1;
      }
    Lines bad = lines;
    bad[data + 2][0] = '0';
    EXPECT_NE(decodeAll(bad).error.find("bad difference order"), std::string::npos);
    bad = lines;
    bad[data + 2].erase(0, 2);  // the first value's "3&"
    EXPECT_NE(decodeAll(bad).error.find("difference without initialisation"), std::string::npos);
    bad = lines;
    std::size_t digits = bad[data + 2].find('&') + 1;
    bad[data + 2].insert(digits + (bad[data + 2][digits] == '-'), "9999");
    EXPECT_NE(decodeAll(bad).error.find("too large"), std::string::npos);
    bad = lines;
    bad[data].resize(20);
    EXPECT_FALSE(decodeAll(bad).ok);
    bad = lines;
    char& count = bad[data][bad[data][0] == '>' ? 34 : 31];  // one satellite more than listed
    count = count == '9' ? '8' : count == ' ' ? '1' : static_cast<char>(count + 1);
    EXPECT_FALSE(decodeAll(bad).ok);
  }
}

struct SeededChoices : crx_test::Choices {
  std::mt19937 random;
  explicit SeededChoices(unsigned seed) : random(seed) {}
  uint32_t next(uint32_t n) override { return static_cast<uint32_t>(random() % n); }
};

// Jumps, values below 1, missing values, flags, clocks that come and go, satellites appearing and
// disappearing (more than 12 of them), events: encoding then decoding gives the text back.
TEST(CompactCodec, RoundTripOfGeneratedEpochs) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SeededChoices choices(seed);
    const int rinex = seed % 2 == 0 ? 2 : 3;
    const bool zero = seed % 3 == 0;
    Lines text = crx_test::makeObservationText(choices, rinex, zero);
    std::string error;
    Decoded d = decodeAll(splitLines(encodeAll(text, rinex == 2 ? 1 : 3, &error)), zero);
    ASSERT_EQ(error, "") << "seed " << seed;
    ASSERT_TRUE(d.ok) << "seed " << seed << ": " << d.error;
    ASSERT_EQ(splitLines(d.text), text) << "seed " << seed;
  }
}

// After every line the encoder's output ends after a whole epoch; a cut epoch is dropped.
TEST(CompactEncoder, OutputsWholeEpochsOnly) {
  for (int rinex : {2, 3}) {
    SeededChoices choices(77u + static_cast<unsigned>(rinex));
    Lines text = crx_test::makeObservationText(choices, rinex, false);
    CompactEncoder encoder(rinex == 2 ? 1 : 3, "");
    std::string out;
    bool header = true;
    for (const std::string& line : text) {
      encoder.encode(line, out);
      header = header && line.find("END OF HEADER") == std::string::npos;
      if (header) continue;
      Decoded d = decodeAll(splitLines(out));
      ASSERT_TRUE(d.ok) << d.error;
      Lines part = splitLines(d.text);
      ASSERT_TRUE(part.size() <= text.size() && std::equal(part.begin(), part.end(), text.begin()));
    }
    text.pop_back();
    EXPECT_TRUE(decodeAll(splitLines(encodeAll(text, rinex == 2 ? 1 : 3))).ok);
  }
}

// What the compact form cannot hold is refused, and the output ends after the last whole epoch.
TEST(CompactEncoder, RefusesWhatItCannotRepresent) {
  const Lines header = {
      "     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE",
      "     1    L1                                                # / TYPES OF OBSERV",
      "                                                            END OF HEADER",
      " 21  3  1  0  0  0.0000000  0  1G01",
      "   1234567.123",
  };
  const std::string epoch = " 21  3  1  0  0 30.0000000  0  1G01";
  const struct {
    const char* what;
    std::string epoch, data;
  } cases[] = {
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
    Decoded d = decodeAll(splitLines(encodeAll(bad, 1, &error)));
    EXPECT_NE(error.find(c.what), std::string::npos) << c.what << ": " << error;
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(splitLines(d.text), header);
  }
}

}  // namespace
