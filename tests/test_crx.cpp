// Compact RINEX codec: the real file pairs, corrupted copies, and encode/decode round trips of
// generated epochs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rinex/crx.h"

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

Decoded decodeAll(const std::vector<std::string>& lines) {
  CompactDecoder decoder;
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

}  // namespace
