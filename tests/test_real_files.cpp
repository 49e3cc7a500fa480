// The public observation files beside the repository: every well-formed one densifies, keeps
// each original epoch with its satellites and values, and reads back in an independent reader.
#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <sstream>

#include "e2e_support.h"

namespace {

// An independent reading of an observation file: what the densified output must keep.
struct Satellite {
  char system;
  int prn;
  std::vector<std::string> fields;  // per type: "" when absent, else the value in 3 decimals + indicators
  bool operator==(const Satellite& o) const { return system == o.system && prn == o.prn && fields == o.fields; }
};

struct Epoch {
  std::string key;  // y m d h m s, normalised
  std::vector<Satellite> satellites;
};

struct ObservationFile {
  int types = 0;
  std::vector<Epoch> epochs;
  std::vector<std::string> events;  // event records, their lines joined
};

std::string columns(const std::string& line, std::size_t first, std::size_t width) {
  return first - 1 < line.size() ? line.substr(first - 1, width) : std::string();
}

int integerAt(const std::string& line, std::size_t first, std::size_t width) {
  return std::atoi(columns(line, first, width).c_str());
}

std::string valueText(const std::string& field) {
  double v = std::strtod(field.c_str(), nullptr);
  if (v == 0.0) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

ObservationFile parse(const std::string& text) {
  ObservationFile file;
  std::istringstream in(text);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::size_t i = 0;
  for (; i < lines.size(); ++i) {
    if (lines[i].find("# / TYPES OF OBSERV") != std::string::npos && columns(lines[i], 1, 6).find_first_not_of(' ') != std::string::npos)
      file.types = integerAt(lines[i], 1, 6);
    if (lines[i].find("END OF HEADER") != std::string::npos) break;
  }
  const int perSatellite = std::max(1, (file.types + 4) / 5);
  for (++i; i < lines.size();) {
    const std::string& head = lines[i];
    if (head.find_first_not_of(" \t") == std::string::npos) {
      ++i;
      continue;
    }
    int flag = integerAt(head, 27, 3);
    int count = std::max(0, integerAt(head, 30, 3));
    int more = count > 12 ? (count - 1) / 12 : 0;
    if (flag >= 2 && flag <= 5) {
      std::string event;
      for (int k = 0; k <= count && i < lines.size(); ++k) event += lines[i++] + "\n";
      file.events.push_back(event);
      continue;
    }
    if (flag == 6) {
      std::string event;
      for (int k = 0; k <= more + count * perSatellite && i < lines.size(); ++k) event += lines[i++] + "\n";
      file.events.push_back(event);
      continue;
    }
    Epoch epoch;
    char key[96];
    std::snprintf(key, sizeof key, "%d %d %d %d %d %.7f", integerAt(head, 1, 3) % 100, integerAt(head, 4, 3), integerAt(head, 7, 3),
                  integerAt(head, 10, 3), integerAt(head, 13, 3), std::strtod(columns(head, 16, 11).c_str(), nullptr));
    epoch.key = key;
    std::vector<std::string> listLines{head};
    for (int k = 0; k < more; ++k) listLines.push_back(lines[++i]);
    ++i;
    for (int s = 0; s < count; ++s) {
      const std::string& list = listLines[static_cast<std::size_t>(s / 12)];
      std::string field = columns(list, 33 + 3 * static_cast<std::size_t>(s % 12), 3);
      Satellite sat{field.empty() ? ' ' : field[0], std::atoi(field.size() > 1 ? field.substr(1).c_str() : "0"), {}};
      for (int l = 0; l < perSatellite; ++l, ++i) {
        const std::string data = i < lines.size() ? lines[i] : std::string();
        for (int j = l * 5; j < file.types && j < l * 5 + 5; ++j) {
          std::size_t at = 1 + 16 * static_cast<std::size_t>(j % 5);
          std::string value = valueText(columns(data, at, 14));
          std::string indicators = value.empty() ? "" : columns(data, at + 14, 2);
          while (!indicators.empty() && indicators.back() == ' ') indicators.pop_back();
          sat.fields.push_back(value + "|" + indicators);
        }
      }
      epoch.satellites.push_back(sat);
    }
    file.epochs.push_back(epoch);
  }
  return file;
}

struct Case {
  const char* file;
  int rate;  // seconds between the epochs, as the program establishes it
};

// Well-formed files by the data folder's README, with the sampling rate the program finds.
const Case wellFormed[] = {
    {"07590920.05o", 30}, {"30400920.05o", 30}, {"arlm200a.15o", 30}, {"test_dfix_txau047.ed.12o", 5},
    {"test_dfix_tower239.ed.15o", 1}, {"faa1170b00.16o", 1}, {"test_input_rinex_obs_RinexObsFile.06o", 30},
    {"demo.10o", 30}, {"14601736.18o", 15}, {"npaz3550.21o", 30}, {"wsra0010.21o", 30},
};

std::string sharedFile(const std::string& name) { return e2e::sharedDataDir() + "/" + name; }

class RealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (e2e::sharedDataDir().empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file tests skipped";
  }
};

TEST_F(RealFiles, EveryWellFormedFileDensifiesAndKeepsItsEpochs) {
  for (const Case& c : wellFormed) {
    std::vector<int> increments{c.rate % 5 == 0 ? 5 : c.rate};
    if (c.rate == 30) increments.push_back(1);
    ObservationFile input = parse(e2e::readFile(sharedFile(c.file)));
    ASSERT_FALSE(input.epochs.empty()) << c.file;
    for (int n : increments) {
      SCOPED_TRACE(std::string(c.file) + " -n " + std::to_string(n));
      e2e::Scratch dir;
      e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(c.file), "-o", "out.obs", "-n", std::to_string(n)});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.out.find("Interpolation complete."), std::string::npos);
      ObservationFile output = parse(e2e::readFile(dir.path("out.obs")));
      std::map<std::string, const Epoch*> byTime;
      for (const Epoch& e : output.epochs) byTime[e.key] = &e;
      for (const Epoch& e : input.epochs) {
        auto found = byTime.find(e.key);
        ASSERT_NE(found, byTime.end()) << "epoch " << e.key << " missing";
        EXPECT_TRUE(found->second->satellites == e.satellites) << "epoch " << e.key << " differs";
      }
      if (n < c.rate && input.epochs.size() >= 8) {
        EXPECT_GT(output.epochs.size(), input.epochs.size());
      }
      for (const std::string& event : input.events)
        EXPECT_NE(e2e::readFile(dir.path("out.obs")).find(event), std::string::npos) << "event lost:\n" << event;

      // The program reads its own output back without complaint (when it was densified, so that
      // its INTERVAL record describes its epochs).
      if (input.epochs.size() < 8) continue;
      e2e::Result again = e2e::runEpofill(dir.dir(), {"-i", "out.obs", "-o", "again.obs", "-n", std::to_string(n)});
      EXPECT_EQ(again.status, 0) << again.err;
    }
  }
}

// Files the program refuses, each with a clear message and status 1.
TEST_F(RealFiles, FilesOutsideTheRulesEndWithAMessage) {
  struct Refused {
    const char* file;
    const char* message;
  } refused[] = {
      // INTERVAL 30 but the first two epochs lie 11 h apart: the header and the data disagree.
      {"KOSG0010.95O", "*** ERROR: Sampling rate (39600) is not the same as that specified in \nthe header INTERVAL record.\n"},
      // A header of four records: the program and date record is missing.
      {"blank.10o", "\n*** Error: Missing PGM / RUN BY / DATE record.\n"},
      {"test_input_rinex_obs_IncompleteHeader.06o", "\n*** Error: Missing MARKER NAME record.\n"},
  };
  for (const Refused& f : refused) {
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(f.file), "-o", "out.obs", "-n", "5"});
    EXPECT_EQ(r.status, 1) << f.file;
    EXPECT_NE((r.out + r.err).find(f.message), std::string::npos) << f.file << "\n" << r.out << r.err;
  }
}

// The deliberately malformed inputs give either a file or a clear message, never a crash.
TEST_F(RealFiles, MalformedFilesNeverCrash) {
  for (const char* name : {"test_input_rinex_obs_BadEpochLine.06o", "test_input_rinex_obs_InvalidLineLength.06o",
                           "test_input_rinex_obs_NotObs.06o", "test_input_rinex_obs_RinexContData.06o"}) {
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", "5"});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << name << " status " << r.status;
    if (r.status == 1) {
      EXPECT_NE(r.err.find("*** ERROR"), std::string::npos) << name << r.err;
    }
  }
}

bool haveCommand(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

int epochsAndSatellites(const ObservationFile& f) {
  int total = 0;
  for (const Epoch& e : f.epochs) total += static_cast<int>(e.satellites.size());
  return total;
}

// An independent reader takes every output: it converts each file to RINEX again and sees the
// same epochs and satellites.
TEST_F(RealFiles, AnIndependentReaderReadsTheOutput) {
  if (!haveCommand("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed";
  for (const Case& c : wellFormed) {
    SCOPED_TRACE(c.file);
    e2e::Scratch dir;
    int n = c.rate % 5 == 0 ? 5 : c.rate;
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", sharedFile(c.file), "-o", "out.obs", "-n", std::to_string(n)}).status, 0);
    e2e::Result r = e2e::runShell(dir.dir(), "convbin -r rinex out.obs -o copy.obs -v 2.11");
    ObservationFile ours = parse(e2e::readFile(dir.path("out.obs")));
    ObservationFile theirs = parse(e2e::readFile(dir.path("copy.obs")));
    const std::string log = r.out + r.err;
    const std::regex count("O=([0-9]+)");
    std::string last;
    for (std::sregex_iterator it(log.begin(), log.end(), count), end; it != end; ++it) last = (*it)[1];
    EXPECT_EQ(last, std::to_string(ours.epochs.size()));
    EXPECT_EQ(theirs.epochs.size(), ours.epochs.size());
    EXPECT_EQ(epochsAndSatellites(theirs), epochsAndSatellites(ours));
  }
}

std::map<std::string, std::string> positions(const std::string& posFile) {
  std::map<std::string, std::string> p;
  std::istringstream in(posFile);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '%') continue;
    std::istringstream fields(line);
    std::string week, seconds, lat, lon, height;
    fields >> week >> seconds >> lat >> lon >> height;
    p[week + " " + seconds] = lat + " " + lon + " " + height;
  }
  return p;
}

// Single-point positions at the original epochs are the same from the densified file as from the input.
TEST_F(RealFiles, PositionsAtTheOriginalEpochsAreUnchanged) {
  if (!haveCommand("rnx2rtkp")) GTEST_SKIP() << "rnx2rtkp (Debian package rtklib) is not installed";
  for (const char* stem : {"07590920.05", "30400920.05", "arlm200a.15", "demo.10", "14601736.18"}) {
    SCOPED_TRACE(stem);
    std::string obs = sharedFile(std::string(stem) + "o");
    std::string nav = sharedFile(std::string(stem) + "n");
    if (!e2e::exists(nav)) continue;
    e2e::Scratch dir;
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", obs, "-o", "dense.obs", "-n", "5"}).status, 0);
    e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o in.pos " + e2e::quote(obs) + " " + e2e::quote(nav));
    e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o dense.pos dense.obs " + e2e::quote(nav));
    auto before = positions(e2e::readFile(dir.path("in.pos")));
    auto after = positions(e2e::readFile(dir.path("dense.pos")));
    if (before.empty()) continue;  // the navigation file does not cover the observations
    EXPECT_GE(after.size(), before.size());
    for (const auto& [time, position] : before) {
      auto found = after.find(time);
      ASSERT_NE(found, after.end()) << "no solution at " << time;
      EXPECT_EQ(found->second, position) << "at " << time;
    }
  }
}

}  // namespace
