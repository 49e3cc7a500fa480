// RINEX 3 files end to end: the public files beside the repository densify as RINEX 3 with every
// original epoch kept, an independent reader takes each output, positions at the original epochs
// do not move, and a RINEX 2 file and its RINEX 3 conversion densify to the same values.
#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "e2e_support.h"

namespace {

struct Satellite {
  std::string id;                   // "G05"
  std::vector<std::string> fields;  // per type: "" when absent, else the value in 3 decimals + indicators
  bool operator==(const Satellite& o) const { return id == o.id && fields == o.fields; }
};

// An independent reading of a RINEX 3 observation file: its observation epochs by time.
struct ObservationFile {
  std::map<std::string, std::vector<Satellite>> epochs;  // key: y m d h m s
  std::vector<std::string> events;
};

std::string columns(const std::string& line, std::size_t first, std::size_t width) {
  return first - 1 < line.size() ? line.substr(first - 1, width) : std::string();
}

int integerAt(const std::string& line, std::size_t first, std::size_t width) {
  return std::atoi(columns(line, first, width).c_str());
}

ObservationFile parse(const std::string& text) {
  ObservationFile file;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  std::map<char, int> types;
  char system = ' ';
  std::size_t i = 0;
  for (; i < lines.size() && lines[i].find("END OF HEADER") == std::string::npos; ++i) {
    if (lines[i].find("SYS / # / OBS TYPES") == std::string::npos || lines[i][0] == ' ') continue;
    system = lines[i][0];
    types[system] = integerAt(lines[i], 4, 3);
  }
  for (++i; i < lines.size(); ++i) {
    const std::string head = lines[i];
    if (head.empty() || head[0] != '>') continue;
    int flag = integerAt(head, 30, 3), count = integerAt(head, 33, 3);
    if (flag >= 2) {
      std::string event = head + "\n";
      for (int k = 0; k < count; ++k) event += lines[++i] + "\n";
      file.events.push_back(event);
      continue;
    }
    char key[96];
    std::snprintf(key, sizeof key, "%d %d %d %d %d %.7f", integerAt(head, 3, 4), integerAt(head, 8, 2), integerAt(head, 11, 2),
                  integerAt(head, 14, 2), integerAt(head, 17, 2), std::strtod(columns(head, 19, 11).c_str(), nullptr));
    std::vector<Satellite>& satellites = file.epochs[key];
    for (int s = 0; s < count && i + 1 < lines.size(); ++s) {
      const std::string& data = lines[++i];
      Satellite sat{data.substr(0, 3), {}};
      for (int j = 0; j < types[data[0]]; ++j) {
        std::size_t at = 4 + 16 * static_cast<std::size_t>(j);
        double v = std::strtod(columns(data, at, 14).c_str(), nullptr);
        char value[64] = "";
        if (v != 0.0) std::snprintf(value, sizeof value, "%.3f", v);
        std::string indicators = v != 0.0 ? columns(data, at + 14, 2) : "";
        while (!indicators.empty() && indicators.back() == ' ') indicators.pop_back();
        sat.fields.push_back(std::string(value) + "|" + indicators);
      }
      satellites.push_back(sat);
    }
  }
  return file;
}

std::string dataDir() {
  std::string dir = e2e::sourcePath("../shared/data/rinex3");
  return e2e::exists(dir + "/README.md") ? dir : std::string();
}

bool haveCommand(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

class Rinex3Files : public ::testing::Test {
 protected:
  void SetUp() override {
    if (dataDir().empty()) GTEST_SKIP() << "../shared/data/rinex3 is absent: RINEX 3 file tests skipped";
  }
  std::string file(const std::string& name) const { return dataDir() + "/" + name; }
};

struct Case {
  const char* file;
  int increment;
  bool densified;  // at least eight epochs at the sampling rate
};
const Case plainFiles[] = {
    {"ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 5, true}, {"ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 1, true},
    {"flrs0010.12o", 10, true}, {"SEPT078M.21O", 1, true}, {"VLNS0010.22O", 5, false},
};

int epochLines(const std::string& text) {
  int n = 0;
  for (std::size_t at = text.find("\n>"); at != std::string::npos; at = text.find("\n>", at + 1)) ++n;
  return n;
}

TEST_F(Rinex3Files, EveryFileDensifiesAsRinex3AndKeepsItsEpochs) {
  for (const Case& c : plainFiles) {
    SCOPED_TRACE(std::string(c.file) + " -n " + std::to_string(c.increment));
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", file(c.file), "-o", "out.rnx", "-n", std::to_string(c.increment)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = e2e::readFile(dir.path("out.rnx"));
    EXPECT_EQ(text.substr(0, 9), e2e::readFile(file(c.file)).substr(0, 9));  // the input's version
    EXPECT_EQ(text.find(" \n"), std::string::npos) << "a line with trailing blanks";
    ObservationFile input = parse(e2e::readFile(file(c.file))), output = parse(text);
    for (const auto& [time, satellites] : input.epochs) {
      auto found = output.epochs.find(time);
      ASSERT_NE(found, output.epochs.end()) << "epoch " << time << " missing";
      EXPECT_TRUE(found->second == satellites) << "epoch " << time << " differs";
    }
    if (!c.densified) {
      EXPECT_EQ(output.epochs.size(), input.epochs.size());
      continue;
    }
    if (c.increment > 1) {
      EXPECT_GT(output.epochs.size(), input.epochs.size());
    }
    // The program reads its own output again.
    EXPECT_EQ(e2e::runEpofill(dir.dir(), {"-i", "out.rnx", "-o", "again.rnx", "-n", std::to_string(c.increment)}).status, 0);
  }
}

TEST_F(Rinex3Files, FilesOutsideTheRulesEndWithAMessage) {
  const struct {
    const char* file;
    const char* message;
  } refused[] = {
      // INTERVAL 30, but the three epochs lie 28.5 minutes apart.
      {"DUTH0630.22O", "Sampling rate (1710) is not the same as that specified in"},
      {"sample.rnx", "fewer than two epochs"},
  };
  for (const auto& f : refused) {
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", file(f.file), "-o", "out.rnx", "-n", "5"});
    EXPECT_EQ(r.status, 1) << f.file;
    EXPECT_NE(r.err.find(f.message), std::string::npos) << f.file << "\n" << r.err;
  }
}

TEST_F(Rinex3Files, AnIndependentReaderCountsTheEpochs) {
  if (!haveCommand("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed";
  for (const Case& c : plainFiles) {
    SCOPED_TRACE(c.file);
    e2e::Scratch dir;
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", file(c.file), "-o", "out.rnx", "-n", std::to_string(c.increment)}).status, 0);
    e2e::Result r = e2e::runShell(dir.dir(), "convbin -r rinex out.rnx -o copy.obs");
    const std::string log = r.out + r.err;
    std::string last;
    const std::regex count("O=([0-9]+)");
    for (std::sregex_iterator it(log.begin(), log.end(), count), end; it != end; ++it) last = (*it)[1];
    EXPECT_EQ(last, std::to_string(epochLines(e2e::readFile(dir.path("out.rnx")))));
  }
}

std::map<std::string, std::string> positions(const std::string& posFile) {
  std::map<std::string, std::string> p;
  std::istringstream in(posFile);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '%') continue;
    std::istringstream fields(line);
    std::string date, time, lat, lon, height;
    fields >> date >> time >> lat >> lon >> height;
    p[date + " " + time] = lat + " " + lon + " " + height;
  }
  return p;
}

// The 1 s file thinned to 5 s, densified back to 1 s: the positions at the 5 s epochs stay.
TEST_F(Rinex3Files, PositionsAtTheOriginalEpochsAreUnchanged) {
  if (!haveCommand("rnx2rtkp")) GTEST_SKIP() << "rnx2rtkp (Debian package rtklib) is not installed";
  e2e::Scratch dir;
  std::istringstream in(e2e::readFile(file("SEPT078M.21O")));
  std::string thinned;
  bool header = true, keep = true;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header && line.find("INTERVAL") == 60) line = "     5.000" + line.substr(10);
    if (line.find("END OF HEADER") != std::string::npos) header = false;
    if (!header && !line.empty() && line[0] == '>') keep = integerAt(line, 20, 2) % 5 == 0;
    if (header || keep) thinned += line + "\n";
  }
  e2e::writeFile(dir.path("thin.rnx"), thinned);
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "thin.rnx", "-o", "dense.rnx", "-n", "1"}).status, 0);
  const std::string nav = e2e::quote(file("SEPT078M.21P"));
  e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o thin.pos thin.rnx " + nav);
  e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o dense.pos dense.rnx " + nav);
  auto before = positions(e2e::readFile(dir.path("thin.pos")));
  auto after = positions(e2e::readFile(dir.path("dense.pos")));
  ASSERT_GT(before.size(), 100u);
  EXPECT_GT(after.size(), 4 * before.size());
  for (const auto& [time, position] : before) {
    auto found = after.find(time);
    ASSERT_NE(found, after.end()) << "no solution at " << time;
    EXPECT_EQ(found->second, position) << "at " << time;
  }
}

// Each satellite's values, sorted: the conversion renames and reorders the types.
std::map<std::string, std::vector<std::string>> valuesByEpoch(const std::map<std::string, std::vector<Satellite>>& epochs) {
  std::map<std::string, std::vector<std::string>> values;
  for (const auto& [time, satellites] : epochs)
    for (const Satellite& sat : satellites) {
      std::vector<std::string> v;
      for (const std::string& f : sat.fields) v.push_back(f.substr(0, f.find('|')));
      std::sort(v.begin(), v.end());
      values[time].push_back(sat.id + ":" + [&] {
        std::string joined;
        for (const std::string& s : v) joined += s + ",";
        return joined;
      }());
    }
  return values;
}

TEST(Rinex3Conversion, ARinex2FileAndItsRinex3ConversionDensifyAlike) {
  if (!haveCommand("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed";
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 20 --sats 6 --types L1,L2,C1,P1,P2"));
  e2e::runShell(dir.dir(), "convbin -r rinex in.obs -o in.rnx -v 3.04");
  ASSERT_TRUE(e2e::exists(dir.path("in.rnx")));
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out2.obs", "-n", "5"}).status, 0);
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out3.rnx", "-n", "5"}).status, 0);

  // The RINEX 2 output read with its own layout: one line per satellite of five values.
  std::map<std::string, std::vector<Satellite>> rinex2;
  std::istringstream in(e2e::readFile(dir.path("out2.obs")));
  std::string line;
  while (std::getline(in, line) && line.find("END OF HEADER") == std::string::npos) {
  }
  while (std::getline(in, line)) {
    int count = integerAt(line, 30, 3);
    char key[96];
    std::snprintf(key, sizeof key, "%d %d %d %d %d %.7f", 2000 + integerAt(line, 1, 3), integerAt(line, 4, 3), integerAt(line, 7, 3),
                  integerAt(line, 10, 3), integerAt(line, 13, 3), std::strtod(columns(line, 16, 11).c_str(), nullptr));
    const std::string head = line;
    for (int s = 0; s < count && std::getline(in, line); ++s) {
      Satellite sat{columns(head, 33 + 3 * static_cast<std::size_t>(s), 3), {}};
      if (sat.id[1] == ' ') sat.id[1] = '0';
      for (int j = 0; j < 5; ++j) {
        double v = std::strtod(columns(line, 1 + 16 * static_cast<std::size_t>(j), 14).c_str(), nullptr);
        char value[64] = "";
        if (v != 0.0) std::snprintf(value, sizeof value, "%.3f", v);
        sat.fields.push_back(value);
      }
      rinex2[key].push_back(sat);
    }
  }
  const auto two = valuesByEpoch(rinex2);
  const auto three = valuesByEpoch(parse(e2e::readFile(dir.path("out3.rnx"))).epochs);
  EXPECT_EQ(two.size(), 20u + 19u * 5u);
  EXPECT_EQ(two, three);
}

}  // namespace

namespace {

// Values by epoch and satellite: "key G01" -> the values, "" where absent.
std::map<std::string, std::vector<double>> valuesOf(const ObservationFile& f) {
  std::map<std::string, std::vector<double>> values;
  for (const auto& [time, satellites] : f.epochs)
    for (const Satellite& sat : satellites)
      for (const std::string& field : sat.fields)
        values[time + " " + sat.id].push_back(field[0] == '|' ? 0.0 : std::strtod(field.c_str(), nullptr));
  return values;
}

// The generator's signals are cubic in time, so the new epochs of a 30 s file densified to 5 s
// carry the values the generator writes for a 5 s file (to the rounding of the samples, which
// the polynomial magnifies near the window edges), in every system's own list; a window
// starts the output (and its TIME OF FIRST OBS) at its first epoch.
TEST(Rinex3Generated, NewEpochsCarryTheSignalsOfEverySystem) {
  e2e::Scratch dir;
  const std::string common = " --rinex3 --sats 14 --clock --start 2001-08-28T00:00:00";
  e2e::writeFile(dir.path("in.rnx"), e2e::generate("--epochs 20 --interval 30" + common));
  e2e::writeFile(dir.path("fine.rnx"), e2e::generate("--epochs 115 --interval 5" + common));
  e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "5", "-s", "20010828000100"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = e2e::readFile(dir.path("out.rnx"));
  EXPECT_NE(text.find("\n     5.000" + std::string(50, ' ') + "INTERVAL\n"), std::string::npos);
  EXPECT_NE(text.find("\n  2001     8    28     0     1    0.0000000     GPS         TIME OF FIRST OBS\n"),
            std::string::npos);
  const auto out = valuesOf(parse(text)), fine = valuesOf(parse(e2e::readFile(dir.path("fine.rnx"))));
  EXPECT_EQ(out.size(), 14u * (18 + 17 * 5));
  int compared = 0;
  for (const auto& [key, values] : out) {
    auto expected = fine.find(key);
    ASSERT_NE(expected, fine.end()) << key;
    ASSERT_EQ(values.size(), expected->second.size()) << key;
    for (std::size_t j = 0; j < values.size(); ++j, ++compared)
      EXPECT_NEAR(values[j], expected->second[j], 0.01) << key << " type " << j;
  }
  EXPECT_GT(compared, 10000);
  EXPECT_NE(text.find("> 2001 08 28 00 01  5.0000000  0 14       0.000100065042"), std::string::npos);
}

// A flag-4 event with a new G list is a seam, and the G satellites after it carry the new list.
TEST(Rinex3Generated, AFlag4TypeListAppliesAfterTheEvent) {
  e2e::Scratch dir;
  std::string text = e2e::generate("--rinex3 --epochs 20 --sats 8 --start 2001-08-28T00:00:00");
  const std::string event = ">                              4  1\n"
                            "G    2 C1C L1C                                              SYS / # / OBS TYPES\n";
  std::size_t at = text.find("> 2001 08 28 00 05  0");
  ASSERT_NE(at, std::string::npos);
  text.insert(at, event);
  e2e::writeFile(dir.path("in.rnx"), text);
  e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "10"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = e2e::readFile(dir.path("out.rnx"));
  const std::size_t seam = out.find(event);
  ASSERT_NE(seam, std::string::npos);
  std::istringstream lines(out);
  std::size_t position = 0;
  int before = 0, after = 0;
  for (std::string line; std::getline(lines, line); position += line.size() + 1) {
    if (line.rfind("G0", 0) != 0) continue;
    const std::size_t fields = (line.size() - 3 + 15) / 16;
    if (position < seam) {
      EXPECT_GT(fields, 2u) << line;
      ++before;
    } else {
      EXPECT_LE(fields, 2u) << line;
      ++after;
    }
  }
  EXPECT_EQ(before, 2 * (10 + 9 * 2));
  EXPECT_EQ(after, 2 * (10 + 9 * 2));
}

}  // namespace
