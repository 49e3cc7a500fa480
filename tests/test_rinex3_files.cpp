// RINEX 3 files end to end: the shared files, RTKLIB as independent reader, and generated files.
#include <map>
#include <sstream>

#include "e2e_support.h"
#include "rinex/crx.h"

namespace {

int integerAt(const std::string& line, std::size_t first, std::size_t width) {
  return first - 1 < line.size() ? std::atoi(line.substr(first - 1, width).c_str()) : 0;
}

// An independent reading: "time satellite" -> per type the value in three decimals and its
// indicators ("" when absent); per time the satellites in order. Event records are passed over.
struct ObservationFile {
  std::map<std::string, std::vector<std::string>> values;
  std::map<std::string, std::string> satellites;
};

ObservationFile parse(const std::string& text, bool indicators = true) {
  ObservationFile file;
  std::map<char, int> types;
  const std::vector<std::string> lines = e2e::splitLines(text);
  std::size_t i = 0;
  for (; i < lines.size() && lines[i].find("END OF HEADER") == std::string::npos; ++i)
    if (lines[i].find("SYS / # / OBS TYPES") == 60 && lines[i][0] != ' ') types[lines[i][0]] = integerAt(lines[i], 4, 3);
  while (++i < lines.size()) {
    const std::string& e = lines[i];
    if (e.empty() || e[0] != '>' || integerAt(e, 30, 3) >= 2) continue;
    char time[96];
    std::snprintf(time, sizeof time, "%d %d %d %d %d %.7f", integerAt(e, 3, 4), integerAt(e, 8, 2), integerAt(e, 11, 2),
                  integerAt(e, 14, 2), integerAt(e, 17, 2), std::strtod(e.substr(18, 11).c_str(), nullptr));
    for (int s = integerAt(e, 33, 3); s > 0 && ++i < lines.size(); --s) {
      const std::string& line = lines[i];
      std::vector<std::string>& fields = file.values[std::string(time) + " " + line.substr(0, 3)];
      file.satellites[time] += line.substr(0, 3);
      for (std::size_t at = 4; fields.size() < static_cast<std::size_t>(types[line[0]]); at += 16) {
        double v = at <= line.size() ? std::strtod(line.substr(at - 1, 14).c_str(), nullptr) : 0.0;
        char value[64] = "";
        if (v != 0.0) std::snprintf(value, sizeof value, "%.3f", v);
        std::string flags = v != 0.0 && indicators && at + 13 < line.size() ? line.substr(at + 13, 2) : "";
        fields.push_back(value + flags.substr(0, flags.find_last_not_of(' ') + 1));
      }
    }
  }
  return file;
}

std::string dataFile(const std::string& name) { return e2e::sourcePath("../shared/data/rinex3/" + name); }
bool haveCommand(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

struct Rinex3Files : ::testing::Test {
  void SetUp() override {
    if (!e2e::exists(dataFile("README.md"))) GTEST_SKIP() << "../shared/data/rinex3 is absent: RINEX 3 file tests skipped";
  }
};

// File, increment, whether new epochs come in (SEPT is sampled at 1 s, VLNS holds three epochs).
const std::tuple<const char*, int, bool> plainFiles[] = {
    {"ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 5, true}, {"ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 1, true},
    {"flrs0010.12o", 10, true}, {"SEPT078M.21O", 1, false}, {"VLNS0010.22O", 5, false}};

TEST_F(Rinex3Files, EveryFileDensifiesAsRinex3KeepsItsEpochsAndReadsInAnIndependentReader) {
  const bool convbin = haveCommand("convbin");
  if (!convbin) std::cout << "convbin (Debian package rtklib) is not installed: its check is skipped\n";
  for (const auto& [name, n, grows] : plainFiles) {
    SCOPED_TRACE(std::string(name) + " -n " + std::to_string(n));
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", dataFile(name), "-o", "out.rnx", "-n", std::to_string(n)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = e2e::readFile(dir.path("out.rnx")), input = e2e::readFile(dataFile(name));
    EXPECT_EQ(text.substr(0, 9), input.substr(0, 9));
    EXPECT_EQ(text.find(" \n"), std::string::npos) << "a line with trailing blanks";
    const ObservationFile in = parse(input), out = parse(text);
    for (const auto& [key, fields] : in.values) EXPECT_EQ(out.values.count(key) ? out.values.at(key) : std::vector<std::string>{}, fields) << key;
    for (const auto& [time, satellites] : in.satellites) EXPECT_EQ(out.satellites.at(time), satellites) << time;
    EXPECT_EQ(out.satellites.size() > in.satellites.size(), grows);
    if (!convbin) continue;
    const e2e::Result read = e2e::runShell(dir.dir(), "convbin -r rinex out.rnx -o copy.obs");
    const std::string log = read.out + read.err;  // the count of the last progress report
    EXPECT_EQ(std::atoi(log.c_str() + log.rfind("O=") + 2), static_cast<int>(out.satellites.size())) << log;
  }
  for (const auto& [name, message] : {std::pair<std::string, std::string>{"DUTH0630.22O", "Sampling rate (1710) is not the same"},
                                      {"sample.rnx", "fewer than two epochs"}}) {
    e2e::Scratch dir;
    e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", dataFile(name), "-o", "out.rnx", "-n", "5"});
    EXPECT_TRUE(r.status == 1 && r.err.find(message) != std::string::npos) << name << "\n" << r.err;
  }
}

// Compact RINEX 3 input densifies as its plain file; a Compact name gives CRX 3.0 (gzip after .gz).
TEST_F(Rinex3Files, CompactRinex3InAndOut) {
  for (const auto& [packed, plain] : {std::pair<std::string, std::string>{"ACOR00ESP_R_20213550000_01D_30S_MO.crx",
                                                                          "ACOR00ESP_R_20213550000_01D_30S_MO.rnx"},
                                      {"flrs0010.12d", "flrs0010.12o"}, {"VLNS0010.22D", "VLNS0010.22O"},
                                      {"P43300USA_R_20190012056_17M_15S_MO.crx.bz2", "P43300USA_R_20190012056_17M_15S_MO.crx"}}) {
    e2e::Scratch dir;
    for (const auto& [in, out] : {std::pair{packed, "a.rnx"}, {plain, "b.rnx"}})
      ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", dataFile(in), "-o", out, "-n", "5"}).status, 0) << in;
    EXPECT_EQ(e2e::readFile(dir.path("a.rnx")), e2e::readFile(dir.path("b.rnx"))) << packed;
  }
  e2e::Scratch dir;
  for (const char* name : {"out.rnx", "out.crx", "out.crx.gz"})
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", dataFile("ACOR00ESP_R_20213550000_01D_30S_MO.rnx"), "-o", name, "-n", "5"}).status, 0);
  e2e::runShell(dir.dir(), "gzip -dc out.crx.gz > unzipped.crx");
  for (const char* name : {"out.crx", "unzipped.crx"}) {
    std::istringstream in(e2e::readFile(dir.path(name)));
    CompactDecoder decoder;
    std::string line, decoded;
    while (std::getline(in, line)) ASSERT_TRUE(decoder.decode(line, decoded)) << name << ": " << decoder.error();
    ASSERT_TRUE(decoder.finish(decoded)) << name << ": " << decoder.error();
    EXPECT_EQ(e2e::readFile(dir.path(name)).substr(0, 20), "3.0                 ") << name;
    EXPECT_EQ(decoded, e2e::readFile(dir.path("out.rnx"))) << name;
  }
}

// The 1 s file thinned to 5 s and densified back to 1 s: the positions at the 5 s epochs stay.
TEST_F(Rinex3Files, PositionsAtTheOriginalEpochsAreUnchanged) {
  if (!haveCommand("rnx2rtkp")) GTEST_SKIP() << "rnx2rtkp (Debian package rtklib) is not installed";
  e2e::Scratch dir;
  std::istringstream in(e2e::readFile(dataFile("SEPT078M.21O")));
  std::string thinned;
  bool header = true, keep = true;
  for (std::string line; std::getline(in, line);) {
    if (line.find("INTERVAL") == 60) line = "     5.000" + line.substr(10);
    if (!header && !line.empty() && line[0] == '>') keep = integerAt(line, 20, 2) % 5 == 0;
    if (header || keep) thinned += line + "\n";
    header = header && line.find("END OF HEADER") == std::string::npos;
  }
  e2e::writeFile(dir.path("thin.rnx"), thinned);
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "thin.rnx", "-o", "dense.rnx", "-n", "1"}).status, 0);
  std::map<std::string, std::string> positions[2];  // "date time" -> "lat lon height" of thin, dense
  for (int k = 0; k < 2; ++k) {
    const std::string name = k == 0 ? "thin" : "dense";
    e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o " + name + ".pos " + name + ".rnx " + e2e::quote(dataFile("SEPT078M.21P")));
    std::istringstream pos(e2e::readFile(dir.path(name + ".pos")));
    for (std::string line, date, time, lat, lon, height; std::getline(pos, line);)
      if (line[0] != '%' && std::istringstream(line) >> date >> time >> lat >> lon >> height)
        positions[k][date + " " + time] = lat + " " + lon + " " + height;
  }
  ASSERT_GT(positions[0].size(), 100u);
  EXPECT_GT(positions[1].size(), 4 * positions[0].size());
  for (const auto& [time, p] : positions[0]) EXPECT_EQ(positions[1].count(time) ? positions[1].at(time) : "none", p) << time;
}

// The densified RINEX 2 file converted to RINEX 3 holds the values of the densified conversion.
TEST(Rinex3Conversion, ARinex2FileAndItsRinex3ConversionDensifyAlike) {
  if (!haveCommand("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed";
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 20 --sats 6 --types L1,L2,C1,P1,P2"));
  e2e::runShell(dir.dir(), "convbin -r rinex in.obs -o in.rnx -v 3.04");
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", "5"}).status, 0);
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "5"}).status, 0);
  e2e::runShell(dir.dir(), "convbin -r rinex out.obs -o out-converted.rnx -v 3.04");
  const ObservationFile ours = parse(e2e::readFile(dir.path("out.rnx")), false);
  EXPECT_EQ(ours.satellites.size(), 20u + 19u * 5u);
  EXPECT_EQ(parse(e2e::readFile(dir.path("out-converted.rnx")), false).values, ours.values);
}

// The generator's signals are cubic in time, so a 30 s file densified to 5 s carries the values it
// writes for a 5 s file (to the sample rounding, which the polynomial magnifies near the window
// edges) in every system's list; a window starts the output, with the clock offset interpolated.
TEST(Rinex3Generated, NewEpochsCarryTheSignalsOfEverySystemAndArcRunsFindAClockReset) {
  e2e::Scratch dir;
  const std::string common = " --rinex3 --sats 14 --clock --start 2001-08-28T00:00:00";
  e2e::writeFile(dir.path("in.rnx"), e2e::generate("--epochs 20 --interval 30" + common));
  e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "5", "-s", "20010828000100"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = e2e::readFile(dir.path("out.rnx"));
  EXPECT_NE(text.find("\n> 2001 08 28 00 01  5.0000000  0 14       0.000100065042\n"), std::string::npos);
  const auto out = parse(text, false).values;
  const auto fine = parse(e2e::generate("--epochs 115 --interval 5" + common), false).values;
  EXPECT_EQ(out.size(), 14u * (18 + 17 * 5));
  for (const auto& [key, fields] : out)
    for (std::size_t j = 0; j < fields.size(); ++j)
      EXPECT_NEAR(std::atof(fields[j].c_str()), std::atof(fine.at(key).at(j).c_str()), 0.01) << key << " type " << j;
  // -a finds a receiver clock reset by the code types of each system's own list.
  e2e::writeFile(dir.path("reset.rnx"), e2e::generate("--epochs 20 --interval 30 --clock-reset 10" + common));
  r = e2e::runEpofill(dir.dir(), {"-i", "reset.rnx", "-o", "reset-out.rnx", "-n", "10", "-a"});
  EXPECT_NE(r.err.find("receiver clock resets found:                           1\n"), std::string::npos) << r.err;
}

// A flag-4 event with a new G list is a seam, and the G satellites after it carry the new list.
TEST(Rinex3Generated, AFlag4TypeListAppliesAfterTheEvent) {
  e2e::Scratch dir;
  std::string text = e2e::generate("--rinex3 --epochs 20 --sats 8 --start 2001-08-28T00:00:00");
  const std::string event = ">                              4  1\n" + std::string("G    2 C1C L1C") + std::string(46, ' ') + "SYS / # / OBS TYPES\n";
  text.insert(text.find("> 2001 08 28 00 05  0"), event);
  e2e::writeFile(dir.path("in.rnx"), text);
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "10"}).status, 0);
  const std::string out = e2e::readFile(dir.path("out.rnx"));
  const std::size_t seam = out.find(event);
  ASSERT_NE(seam, std::string::npos);
  int counts[2][2] = {};  // [before, after the seam][at most two values, more]
  for (std::size_t at = out.find("\nG0"); at != std::string::npos; at = out.find("\nG0", at + 1))
    ++counts[at > seam][out.find('\n', at + 1) - at - 4 > 32];
  EXPECT_EQ(std::vector<int>({counts[0][0], counts[0][1], counts[1][0], counts[1][1]}), std::vector<int>({0, 56, 56, 0}));
}

}  // namespace
