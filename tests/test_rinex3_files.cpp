// RINEX 3 end to end: the real files (RTKLIB as independent reader and for positions) and generated ones.
#include <map>

#include "crx_support.h"
#include "e2e_support.h"

namespace {

// An independent reading: per "time satellite" its values (with indicators when asked; 0: absent), per time its satellites.
struct ObservationFile { std::map<std::string, std::vector<std::string>> values; std::map<std::string, std::string> satellites; };

ObservationFile parse(const std::string& text, bool indicators = true) {
  ObservationFile file;
  const std::vector<std::string> lines = e2e::splitLines(text.substr(text.find("END OF HEADER") + 1));  // from the header's last line
  for (std::size_t i = 0; ++i < lines.size();) {
    if (lines[i].size() < 35 || lines[i][0] != '>' || std::atoi(lines[i].substr(29, 3).c_str()) >= 2) continue;
    std::string time = lines[i].substr(2, 27);
    for (std::size_t k : {5, 8, 11, 14, 17}) time[k] = time[k] == ' ' ? '0' : time[k];  // month to second as two digits
    for (int s = std::atoi(lines[i].substr(32, 3).c_str()); s > 0 && ++i < lines.size(); --s) {
      const std::string& line = lines[i];
      std::vector<std::string>& fields = file.values[time + " " + line.substr(0, 3)];
      file.satellites[time] += line.substr(0, 3);
      for (std::size_t at = 3; at < line.size(); at += 16)
        fields.push_back(!std::strtod(line.substr(at, 14).c_str(), nullptr) ? "" : e2e::padded(line, at + 16).substr(at, indicators ? 16 : 14));
      while (!fields.empty() && fields.back().empty()) fields.pop_back();
    }
  }
  return file;
}

std::string dataFile(const std::string& name) { return e2e::sourcePath("../shared/data/rinex3/" + name); }
std::string decoded(const std::string& compact) { return crx_test::decodeLines(e2e::splitLines(compact), true).text; }

const std::string ACOR = "ACOR00ESP_R_20213550000_01D_30S_MO.", P433 = "P43300USA_R_20190012056_17M_15S_MO.crx";
const struct { std::string name; const char* n; std::size_t epochs; std::string sameAs = {}, refusal = {}; } kFiles[] = {
    {ACOR + "rnx", "5", 145}, {"flrs0010.12o", "10", 205}, {"SEPT078M.21O", "1", 900}, {"VLNS0010.22O", "5", 3}, {P433, "5", 208},
    {ACOR + "crx", "5", 145, ACOR + "rnx"}, {"flrs0010.12d", "10", 205, "flrs0010.12o"}, {"VLNS0010.22D", "5", 3, "VLNS0010.22O"},
    {P433 + ".bz2", "5", 208, P433}, {"DUTH0630.22O", "5", 0, "", "Sampling rate (1710)"}, {"sample.rnx", "5", 0, "", "fewer than two"}};

TEST(Rinex3Files, EveryFileDensifiesKeepsItsEpochsAndReadsInAnIndependentReader) {
  if (!e2e::exists(dataFile("README.md"))) GTEST_SKIP() << "../shared/data/rinex3 is absent: RINEX 3 file tests skipped";
  const bool convbin = std::system("command -v convbin >/dev/null") == 0;
  std::map<std::string, std::string> outputs;
  for (const auto& [name, n, epochs, sameAs, refusal] : kFiles) {
    SCOPED_TRACE(name);
    e2e::Scratch dir;
    const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", dataFile(name), "-o", "out.rnx", "-n", n});
    EXPECT_TRUE(r.status == (refusal.empty() ? 0 : 1) && r.err.find(refusal) != std::string::npos) << r.err;
    const std::string text = outputs[name] = e2e::readFile(dir.path("out.rnx")), input = e2e::readFile(dataFile(name));
    ObservationFile out = parse(text), in = parse(input.find("CRINEX") == std::string::npos ? input : decoded(input));
    EXPECT_TRUE(out.satellites.size() == epochs && (sameAs.empty() || text == outputs[sameAs])) << out.satellites.size() << " epochs";
    if (!sameAs.empty() || !refusal.empty()) continue;
    for (const auto& [key, fields] : in.values) EXPECT_EQ(out.values[key], fields) << key;
    for (const auto& [time, satellites] : in.satellites) EXPECT_EQ(out.satellites[time], satellites) << time;
    const std::string compact = e2e::runShell(dir.dir(), e2e::quote(EPOFILL_BINARY) + " -i " + e2e::quote(dataFile(name)) +
                                              " -n " + n + " -o out.crx.gz >/dev/null && gzip -dc out.crx.gz").out;
    EXPECT_TRUE(compact.rfind("3.0   ", 0) == 0 && decoded(compact) == text) << "the Compact RINEX output differs";
    const ObservationFile theirs = parse(convbin ? e2e::runShell(dir.dir(), "convbin -r rinex out.rnx -o /dev/stdout").out : text);
    EXPECT_EQ(std::make_pair(theirs.satellites.size(), theirs.values.size()), std::make_pair(epochs, out.values.size())) << "convbin";
  }
  if (!convbin) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed: its check skipped";
}

TEST(Rinex3Files, PositionsAtTheOriginalEpochsAreUnchanged) {
  if (!e2e::exists(dataFile("SEPT078M.21P")) || std::system("command -v rnx2rtkp >/dev/null")) GTEST_SKIP() << "no data or rnx2rtkp";
  e2e::Scratch dir;
  const e2e::Result r = e2e::runShell(dir.dir(), "awk '!h && /INTERVAL/ {$0 = \"     5.000\" substr($0, 11)} h && /^>/"
      " {k = substr($0, 20, 2) % 5 == 0} !h || k; /END OF HEADER/ {h = 1}' " + e2e::quote(dataFile("SEPT078M.21O")) + " >thin.rnx && " +
      e2e::quote(EPOFILL_BINARY) + " -i thin.rnx -o dense.rnx -n 1 >/dev/null && n=" + e2e::quote(dataFile("SEPT078M.21P")) + "; for f"
      " in thin dense; do rnx2rtkp -p 0 -o $f.pos $f.rnx $n; done; grep -v '^%' thin.pos >fixes; t=$(wc -l <fixes); test $t -gt 100"
      " -a $(grep -vc '^%' dense.pos) -gt $((4 * t)) && ! grep -vxFf dense.pos fixes");
  EXPECT_EQ(r.status, 0) << "too few positions, or these of the 1 s file thinned to 5 s not among those of it densified back to 1 s:\n" << r.out;
}

// Cubic signals: 30 s densified to 5 s carries the generator's 5 s values in every system's list; -s starts a window, its clock
// interpolated; a flag-4 event with a new G list is a seam after which G carries two values. -a finds a clock reset by code types.
TEST(Rinex3Generated, NewEpochsCarryTheSignalsOfEverySystemAFlag4ListAppliesAndArcRunsFindAClockReset) {
  e2e::Scratch dir;
  const std::string common = " --rinex3 --sats 14 --clock --start 2001-08-28T00:00:00";
  const std::string event = ">                              4  1\nG    2 C1C L1C" + std::string(46, ' ') + "SYS / # / OBS TYPES\n";
  std::string in = e2e::generate("--epochs 20 --interval 30" + common);
  e2e::writeFile(dir.path("in.rnx"), in.insert(in.find("> 2001 08 28 00 06  0"), event));
  e2e::writeFile(dir.path("reset.rnx"), e2e::generate("--epochs 20 --interval 30 --clock-reset 10" + common));
  const std::string text = e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "-", "-n", "5", "-s", "20010828000100"}).out;
  EXPECT_NE(text.find("\n> 2001 08 28 00 01  5.0000000  0 14       0.000100065042\n"), std::string::npos) << text.substr(0, 2000);
  EXPECT_NE(text.find(event + "> 2001 08 28 00 06  0.0000000  0 14"), std::string::npos) << "the event is not kept as a seam";
  const auto out = parse(text, false).values, fine = parse(e2e::generate("--epochs 115 --interval 5" + common), false).values;
  EXPECT_EQ(out.size(), 14u * (10 + 9 * 5 + 8 + 7 * 5));
  for (const auto& [key, fields] : out) {
    EXPECT_EQ(fields.size(), key >= "2001 08 28 00 06" && key[key.size() - 3] == 'G' ? 2 : fine.at(key).size()) << key;
    for (std::size_t j = 0; j < fields.size(); ++j)
      EXPECT_NEAR(std::atof(fields[j].c_str()), std::atof(fine.at(key).at(j).c_str()), 0.01) << key << " type " << j;
  }
  EXPECT_NE(e2e::runEpofill(dir.dir(), {"-i", "reset.rnx", "-o", "reset-out.rnx", "-n", "10", "-a"})
                .err.find("receiver clock resets found:                           1\n"), std::string::npos);
}

}  // namespace
