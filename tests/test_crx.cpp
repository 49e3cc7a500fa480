// Compact RINEX codec: the real file pairs, corrupted copies, and encode/decode round trips of
// generated epochs.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "rinex/crx.h"
#include "tests/crx_support.h"

namespace {

std::string sharedDir() {
  std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data";
  std::ifstream probe(dir + "/crx/README.md");
  return probe ? dir : std::string();
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct Decoded {
  bool ok;
  std::string error;
  std::string text;
};

Decoded decodeAll(const std::vector<std::string>& lines, bool zeroBeforePoint = false) {
  CompactDecoder decoder(zeroBeforePoint);
  Decoded d{true, "", ""};
  for (const std::string& line : lines) {
    if (!decoder.decode(line, d.text)) {
      d.ok = false;
      d.error = decoder.error();
      return d;
    }
  }
  d.ok = decoder.finish(d.text);
  if (!d.ok) d.error = decoder.error();
  return d;
}

std::string rstrip(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

enum class Match { Exact, TrailingBlanks, First49 };
struct Pair {
  const char* compact;
  const char* plain;
  Match match;
};
const Pair PAIRS[] = {
    {"crx/wsra0010.21d", "rinex/wsra0010.21o", Match::Exact},
    {"crx/KOSG0010.95D", "rinex/KOSG0010.95O", Match::Exact},
    {"crx/aopr0010.17d", "crx/aopr0010.17o", Match::Exact},
    {"crx/npaz3550.21d", "rinex/npaz3550.21o", Match::TrailingBlanks},
    {"crx/barq071q.19d", "crx/barq071q.19o", Match::First49},
    {"rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "rinex3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", Match::Exact},
    {"rinex3/flrs0010.12d", "rinex3/flrs0010.12o", Match::Exact},
    {"rinex3/DUTH0630.22D", "rinex3/DUTH0630.22O", Match::Exact},
    {"rinex3/VLNS0010.22D", "rinex3/VLNS0010.22O", Match::Exact},
    {"rinex3/sample.crx", "rinex3/sample.rnx", Match::Exact},
};

#define REQUIRE_SHARED()                                                                      \
  const std::string shared = sharedDir();                                                     \
  if (shared.empty()) GTEST_SKIP() << "../shared/data is absent: real Compact RINEX files skipped"

TEST(CompactRinexVersion, ReadsTheFirstLine) {
  const std::string label = "COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE";
  std::string version;
  EXPECT_EQ(compactRinexVersion("1.0                 " + label), 1);
  EXPECT_EQ(compactRinexVersion("3.0                 " + label + "\r"), 3);
  EXPECT_EQ(compactRinexVersion("2.0                 " + label, &version), -1);
  EXPECT_EQ(version, "2.0");
  EXPECT_EQ(compactRinexVersion("     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE"), 0);
  EXPECT_EQ(compactRinexVersion(""), 0);
}

TEST(CompactDecoder, RestoresTheRealFiles) {
  REQUIRE_SHARED();
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    Decoded d = decodeAll(readLines(shared + "/" + p.compact));
    ASSERT_TRUE(d.ok) << d.error;
    std::vector<std::string> got = splitLines(d.text);
    std::vector<std::string> want = readLines(shared + "/" + p.plain);
    if (p.match == Match::First49) {
      ASSERT_GT(got.size(), 49u);
      got.resize(49);
      want.resize(49);
    }
    if (p.match == Match::TrailingBlanks)
      for (std::string& w : want) w = rstrip(w);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "line " << i + 1;
  }
}

TEST(CompactDecoder, DecodesTheFilesWithoutPlainCounterpart) {
  REQUIRE_SHARED();
  for (const char* name : {"crx/eijs0010.21d", "rinex3/P43300USA_R_20190012056_17M_15S_MO.crx"}) {
    Decoded d = decodeAll(readLines(shared + "/" + name));
    EXPECT_TRUE(d.ok) << name << ": " << d.error;
    EXPECT_GT(splitLines(d.text).size(), 1000u) << name;
  }
}

// Every corrupted copy is refused, or (where the change happens to leave a well-formed file)
// decodes to lines of the plain file's shape; it never crashes.
TEST(CompactDecoder, RefusesCorruptedCopies) {
  REQUIRE_SHARED();
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    const std::vector<std::string> lines = readLines(shared + "/" + p.compact);
    std::size_t firstData = 0;
    while (firstData < lines.size() && lines[firstData].find("END OF HEADER") == std::string::npos) ++firstData;
    ++firstData;
    ASSERT_LT(firstData + 3, lines.size());

    // The stream cut inside the first epoch is refused; cut anywhere else it is refused or gives
    // the whole epochs before the cut.
    const std::string whole = decodeAll(lines).text;
    std::vector<std::string> cut(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(firstData + 2));
    EXPECT_FALSE(decodeAll(cut).ok);
    for (std::size_t keep = firstData + 3; keep < lines.size(); keep += (lines.size() - firstData) / 7 + 1) {
      Decoded d = decodeAll(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(keep)));
      if (d.ok)
        EXPECT_EQ(whole.compare(0, d.text.size(), d.text), 0) << "cut after line " << keep;
      else
        EXPECT_NE(d.error.find("ended inside an epoch"), std::string::npos) << d.error;
    }

    // The first data line of the first satellite: an initialisation turned into a difference.
    std::vector<std::string> noInit = lines;
    noInit[firstData + 2].erase(0, 2);
    Decoded d = decodeAll(noInit);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.error.find("initialisation"), std::string::npos) << d.error;

    // A letter in a number, a number too large, a line cut inside a field.
    std::vector<std::string> bad = lines;
    bad[firstData + 2][3] = 'x';
    EXPECT_FALSE(decodeAll(bad).ok);
    bad = lines;
    std::size_t digits = bad[firstData + 2].find('&') + 1;
    bad[firstData + 2].insert(digits + (bad[firstData + 2][digits] == '-'), "9999");
    d = decodeAll(bad);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.error.find("too large"), std::string::npos) << d.error;
    bad = lines;
    bad[firstData].resize(20);
    EXPECT_FALSE(decodeAll(bad).ok);
    // The satellite count one higher than the list.
    bad = lines;
    std::string& epoch = bad[firstData];
    std::size_t countEnd = epoch[0] == '>' ? 35 : 32;
    epoch[countEnd - 1] = static_cast<char>(epoch[countEnd - 1] == '9' ? '8' : epoch[countEnd - 1] + 1);
    EXPECT_FALSE(decodeAll(bad).ok);
  }
}

// One digit changed anywhere in the data of a file: refused, or decoded to the same number of
// lines (a changed value that still fits); never anything else.
TEST(CompactDecoder, OneDigitChangedAnywhere) {
  REQUIRE_SHARED();
  const std::vector<std::string> lines = readLines(shared + "/crx/aopr0010.17d");
  const std::size_t plainLines = splitLines(decodeAll(lines).text).size();
  int refused = 0, changed = 0;
  for (std::size_t i = 21; i < lines.size(); ++i)
    for (std::size_t c = 0; c < lines[i].size(); c += 7) {
      if (lines[i][c] < '0' || lines[i][c] > '9') continue;
      std::vector<std::string> bad = lines;
      bad[i][c] = static_cast<char>(bad[i][c] == '9' ? '0' : bad[i][c] + 1);
      Decoded d = decodeAll(bad);
      ++changed;
      if (!d.ok)
        ++refused;
      else
        EXPECT_EQ(splitLines(d.text).size(), plainLines) << "line " << i + 1 << " column " << c + 1;
    }
  EXPECT_GT(changed, 100);
  EXPECT_GT(refused, 0);
}

TEST(CompactDecoder, RefusesWhatIsNotCompactRinex) {
  std::vector<std::string> lines = {"     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE"};
  EXPECT_FALSE(decodeAll(lines).ok);
  lines = {"2.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE"};
  Decoded d = decodeAll(lines);
  EXPECT_FALSE(d.ok);
  EXPECT_NE(d.error.find("2.0"), std::string::npos);
  lines = {"1.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE", "x"};
  EXPECT_FALSE(decodeAll(lines).ok);
}

std::string encodeAll(const std::vector<std::string>& lines, int version, std::string* error = nullptr) {
  CompactEncoder encoder(version, "epofill test");
  std::string out;
  for (const std::string& line : lines) encoder.encode(line, out);
  encoder.finish(out);
  if (error != nullptr) *error = encoder.error();
  return out;
}

TEST(CompactEncoder, ReproducesTheRealFiles) {
  REQUIRE_SHARED();
  for (const Pair& p : PAIRS) {
    SCOPED_TRACE(p.compact);
    std::vector<std::string> plain = readLines(shared + "/" + p.plain);
    std::vector<std::string> want = readLines(shared + "/" + p.compact);
    const int version = want[0][0] == '3' ? 3 : 1;
    std::string error;
    std::vector<std::string> got = splitLines(encodeAll(plain, version, &error));
    EXPECT_EQ(error, "");
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], want[0]);
    EXPECT_EQ(got[1], std::string("epofill test") + std::string(48, ' ') + "CRINEX PROG / DATE");
    if (p.match == Match::First49) want.resize(got.size());  // the plain file holds the first epoch
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 2; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "line " << i + 1;
  }
}

// Decoding and encoding again gives the compact file back, for the files without a plain one too.
TEST(CompactEncoder, ReencodesWhatTheDecoderRestores) {
  REQUIRE_SHARED();
  for (const char* name : {"crx/eijs0010.21d", "crx/barq071q.19d", "rinex3/P43300USA_R_20190012056_17M_15S_MO.crx"}) {
    std::vector<std::string> compact = readLines(shared + "/" + name);
    std::vector<std::string> again =
        splitLines(encodeAll(splitLines(decodeAll(compact).text), compact[0][0] == '3' ? 3 : 1));
    ASSERT_EQ(again.size(), compact.size()) << name;
    for (std::size_t i = 2; i < again.size(); ++i) ASSERT_EQ(again[i], compact[i]) << name << " line " << i + 1;
  }
}

struct SeededChoices : crx_test::Choices {
  std::mt19937 random;
  explicit SeededChoices(unsigned seed) : random(seed) {}
  uint32_t next(uint32_t n) override { return static_cast<uint32_t>(random() % n); }
};

// Random values (jumps, values below 1, missing ones), flags, clocks that come and go, satellites
// appearing and disappearing, more than 12 of them, events: encoding then decoding gives the text.
TEST(CompactCodec, RoundTripOfGeneratedEpochs) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SeededChoices choices(seed);
    const int rinex = seed % 2 == 0 ? 2 : 3;
    const bool zero = seed % 3 == 0;
    std::vector<std::string> text = crx_test::makeObservationText(choices, rinex, zero);
    std::string error;
    std::string compact = encodeAll(text, rinex == 2 ? 1 : 3, &error);
    ASSERT_EQ(error, "") << "seed " << seed;
    Decoded d = decodeAll(splitLines(compact), zero);
    ASSERT_TRUE(d.ok) << "seed " << seed << ": " << d.error;
    std::vector<std::string> back = splitLines(d.text);
    ASSERT_EQ(back.size(), text.size()) << "seed " << seed;
    for (std::size_t i = 0; i < text.size(); ++i) ASSERT_EQ(back[i], text[i]) << "seed " << seed << " line " << i + 1;
  }
}

// After every line the encoder's output ends after a whole epoch: it decodes without error to a
// first part of the text.
TEST(CompactEncoder, OutputsWholeEpochsOnly) {
  for (int rinex : {2, 3}) {
    SeededChoices choices(77u + static_cast<unsigned>(rinex));
    std::vector<std::string> text = crx_test::makeObservationText(choices, rinex, false);
    CompactEncoder encoder(rinex == 2 ? 1 : 3, "");
    std::string out;
    bool inHeader = true;
    for (const std::string& line : text) {
      encoder.encode(line, out);
      if (inHeader) {
        inHeader = line.find("END OF HEADER") == std::string::npos;
        continue;
      }
      Decoded d = decodeAll(splitLines(out));
      ASSERT_TRUE(d.ok) << d.error;
      std::vector<std::string> part = splitLines(d.text);
      ASSERT_LE(part.size(), text.size());
      EXPECT_TRUE(std::equal(part.begin(), part.end(), text.begin()));
    }
    // A cut epoch is dropped at the end.
    CompactEncoder cut(rinex == 2 ? 1 : 3, "");
    std::string cutOut;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) cut.encode(text[i], cutOut);
    cut.finish(cutOut);
    EXPECT_TRUE(decodeAll(splitLines(cutOut)).ok);
  }
}

TEST(CompactEncoder, RefusesWhatItCannotRepresent) {
  const std::vector<std::string> header = {
      "     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE",
      "     1    L1                                                # / TYPES OF OBSERV",
      "                                                            END OF HEADER",
      " 21  3  1  0  0  0.0000000  0  1G01",
      "   1234567.123",
  };
  struct Case {
    const char* what;
    std::string line;
  };
  const Case cases[] = {
      {"not an epoch line", "garbage"},
      {"satellite count is not a number", " 21  3  1  0  0  0.0000000  0 1x"},
      {"satellite list shorter", " 21  3  1  0  0  0.0000000  0  2G01"},
      {"not a number of the form F14.3", " 21  3  1  0  0  0.0000000  0  1G01"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> bad = header;
    bad.push_back(c.line);
    bad.push_back("    1234567.12");  // two decimals
    bad.push_back("");
    std::string error;
    std::string out = encodeAll(bad, 1, &error);
    EXPECT_NE(error.find(c.what), std::string::npos) << c.what << ": " << error;
    Decoded d = decodeAll(splitLines(out));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(splitLines(d.text).size(), header.size());  // up to the last whole epoch
  }
}

}  // namespace
