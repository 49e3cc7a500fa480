// RINEX 3 end to end: the real files (RTKLIB as independent reader and for positions) and generated ones.
#include <map>

#include "crx_support.h"
#include "e2e_support.h"

namespace {

// An independent reading: per "time satellite" each value as written, with its indicators when asked (a zero value
// is an absent one, and none ends a list); per time the satellites in order. Event records are passed over.
struct ObservationFile { std::map<std::string, std::vector<std::string>> values; std::map<std::string, std::string> satellites; };

ObservationFile parse(const std::string& text, bool indicators = true) {
  ObservationFile file;
  const std::vector<std::string> lines = e2e::splitLines(text.substr(text.find("END OF HEADER") + 1));  // from the header's last line
  for (std::size_t i = 0; ++i < lines.size();) {
    const std::string& e = lines[i];
    if (e.size() < 35 || e[0] != '>' || std::atoi(e.substr(29, 3).c_str()) >= 2) continue;
    std::string time = e.substr(2, 27);
    for (std::size_t k : {5, 8, 11, 14, 17}) time[k] = time[k] == ' ' ? '0' : time[k];  // month to second as two digits
    for (int s = std::atoi(e.substr(32, 3).c_str()); s > 0 && ++i < lines.size(); --s) {
      const std::string& line = lines[i];
      std::vector<std::string>& fields = file.values[time + " " + line.substr(0, 3)];
      file.satellites[time] += line.substr(0, 3);
      for (std::size_t at = 3; at < line.size(); at += 16) {
        const std::string field = e2e::padded(line.substr(at, 16), 16).substr(0, indicators ? 16 : 14);
        fields.push_back(std::strtod(field.substr(0, 14).c_str(), nullptr) == 0.0 ? "" : field);
      }
      while (!fields.empty() && fields.back().empty()) fields.pop_back();
    }
  }
  return file;
}

std::string dataFile(const std::string& name) { return e2e::sourcePath("../shared/data/rinex3/" + name); }
std::string decoded(const std::string& compact) { return crx_test::decodeLines(e2e::splitLines(compact), true).text; }

// Each file with the increment and the epochs written; a compact or compressed form with the file it reads as; a message.
const std::string ACOR = "ACOR00ESP_R_20213550000_01D_30S_MO.", P433 = "P43300USA_R_20190012056_17M_15S_MO.crx";
const struct { std::string name; const char* n; std::size_t epochs; std::string sameAs = {}, refusal = {}; } kFiles[] = {
    {ACOR + "rnx", "5", 145}, {"flrs0010.12o", "10", 205}, {"SEPT078M.21O", "1", 900}, {"VLNS0010.22O", "5", 3}, {P433, "5", 208},
    {ACOR + "crx", "5", 145, ACOR + "rnx"}, {"flrs0010.12d", "10", 205, "flrs0010.12o"}, {"VLNS0010.22D", "5", 3, "VLNS0010.22O"},
    {P433 + ".bz2", "5", 208, P433}, {"DUTH0630.22O", "5", 0, "", "Sampling rate (1710)"}, {"sample.rnx", "5", 0, "", "fewer than two"}};

// Every original epoch keeps its satellites and values, convbin reads the output, and its CRX 3.0 form decodes to it.
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
    EXPECT_EQ(out.satellites.size(), epochs);
    EXPECT_TRUE(sameAs.empty() || text == outputs[sameAs]) << "the output differs from " << sameAs << "'s";
    if (!sameAs.empty() || !refusal.empty()) continue;
    for (const auto& [key, fields] : in.values) EXPECT_EQ(out.values[key], fields) << key;
    for (const auto& [time, satellites] : in.satellites) EXPECT_EQ(out.satellites[time], satellites) << time;
    const std::string compact = e2e::runShell(dir.dir(), e2e::quote(EPOFILL_BINARY) + " -i " + e2e::quote(dataFile(name)) +
                                              " -n " + n + " -o out.crx.gz >/dev/null && gzip -dc out.crx.gz").out;
    EXPECT_TRUE(compact.rfind("3.0   ", 0) == 0 && decoded(compact) == text) << "the Compact RINEX output differs";
    if (!convbin) continue;
    const ObservationFile theirs = parse(e2e::runShell(dir.dir(), "convbin -r rinex out.rnx -o /dev/stdout").out);
    EXPECT_EQ(std::make_pair(theirs.satellites.size(), theirs.values.size()), std::make_pair(epochs, out.values.size())) << "convbin";
  }
  if (!convbin) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed: its check skipped";
}

// The 1 s file thinned to 5 s and densified back to 1 s: the single-point positions at the 5 s epochs stay.
TEST(Rinex3Files, PositionsAtTheOriginalEpochsAreUnchanged) {
  if (!e2e::exists(dataFile("SEPT078M.21P")) || std::system("command -v rnx2rtkp >/dev/null")) GTEST_SKIP() << "no data or rnx2rtkp";
  e2e::Scratch dir;
  const e2e::Result r = e2e::runShell(dir.dir(), "awk '!h && /INTERVAL/ {$0 = \"     5.000\" substr($0, 11)} h && /^>/"
      " {k = substr($0, 20, 2) % 5 == 0} !h || k; /END OF HEADER/ {h = 1}' " + e2e::quote(dataFile("SEPT078M.21O")) + " >thin.rnx && " +
      e2e::quote(EPOFILL_BINARY) + " -i thin.rnx -o dense.rnx -n 1 >/dev/null && n=" + e2e::quote(dataFile("SEPT078M.21P")) + "; for f"
      " in thin dense; do rnx2rtkp -p 0 -o $f.pos $f.rnx $n; done; grep -v '^%' thin.pos >fixes; t=$(wc -l <fixes); test $t -gt 100"
      " -a $(grep -vc '^%' dense.pos) -gt $((4 * t)) && ! grep -vxFf dense.pos fixes");
  EXPECT_EQ(r.status, 0) << "too few positions, or these of the thinned file not among the densified one's:\n" << r.out;
}

// The generator's signals are cubic, so a 30 s file densified to 5 s carries what it writes for a 5 s file (to the sample
// rounding) in every system's list; -s starts a window, its clock interpolated; a flag-4 event with a new G list (the
// header's first two) is a seam after which G carries two values. -a finds a clock reset by each system's code types.
TEST(Rinex3Generated, NewEpochsCarryTheSignalsOfEverySystemAFlag4ListAppliesAndArcRunsFindAClockReset) {
  e2e::Scratch dir;
  const std::string common = " --rinex3 --sats 14 --clock --start 2001-08-28T00:00:00";
  const std::string event = ">                              4  1\nG    2 C1C L1C" + std::string(46, ' ') + "SYS / # / OBS TYPES\n";
  std::string in = e2e::generate("--epochs 20 --interval 30" + common);
  e2e::writeFile(dir.path("in.rnx"), in.insert(in.find("> 2001 08 28 00 06  0"), event));
  e2e::writeFile(dir.path("reset.rnx"), e2e::generate("--epochs 20 --interval 30 --clock-reset 10" + common));
  const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.rnx", "-o", "out.rnx", "-n", "5", "-s", "20010828000100"});
  const std::string text = e2e::readFile(dir.path("out.rnx"));
  EXPECT_NE(text.find("\n> 2001 08 28 00 01  5.0000000  0 14       0.000100065042\n"), std::string::npos) << r.err;
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
