// The real RINEX 2 files: each well-formed one densifies keeping every original epoch, satellite, value and event,
// reads back in the program and in RTKLIB with the same positions at the original epochs; others end with a message.
#include <map>

#include "e2e_support.h"

namespace {

std::string columns(const std::string& line, std::size_t first, std::size_t n) { return line.substr(std::min(first - 1, line.size()), n); }
std::size_t numberAt(const std::string& line, std::size_t first, std::size_t n) { return std::atoi(columns(line, first, n).c_str()); }

// An independent reading: per epoch time its satellites and values (0: absent), special records whole, satellite records.
struct ObservationFile { std::map<std::string, std::string> epochs, events; std::size_t satellites = 0; };

ObservationFile parse(const std::string& text) {
  ObservationFile file;
  const std::vector<std::string> lines = e2e::splitLines(text);
  std::size_t i = 0, types = 0;
  for (std::string line; i < lines.size() && (line = lines[i++]).find("END OF HEADER") == std::string::npos;)
    if (line.find("# / TYPES OF OBSERV") != std::string::npos) types = std::max(types, numberAt(line, 1, 6));
  const std::size_t perSatellite = (types + 4) / 5;
  for (char key[96] = ""; i < lines.size();) {
    const std::string head = lines[i];
    const std::size_t flag = numberAt(head, 27, 3), count = numberAt(head, 30, 3), more = count > 12 ? (count - 1) / 12 : 0;
    for (const std::size_t next = i + 1 + count; flag > 1 && i < next; ++i) file.events[key] += lines.at(i) + "\n";
    if (flag > 1) continue;
    std::snprintf(key, sizeof key, "%zu %zu %zu %zu %zu %.7f", numberAt(head, 1, 3), numberAt(head, 4, 3), numberAt(head, 7, 3),
                  numberAt(head, 10, 3), numberAt(head, 13, 3), std::strtod(columns(head, 16, 11).c_str(), nullptr));
    for (std::size_t s = 0, at = i + 1 + more; s < count; ++s, ++file.satellites, at += perSatellite) {
      const std::string id = columns(lines.at(i + s / 12), 33 + 3 * (s % 12), 3);
      file.epochs[key] += "|" + id.substr(0, 1) + std::to_string(std::atoi(id.c_str() + 1));
      for (std::size_t j = 0; j < types; ++j) {
        const std::string value = columns(lines.at(at + j / 5), 1 + 16 * (j % 5), 16);
        file.epochs[key] += "|" + (std::strtod(value.substr(0, 14).c_str(), nullptr) == 0.0 ? "" : e2e::padded(value, 16));
      }
    }
    i += 1 + more + count * perSatellite;
  }
  return file;
}

const struct { const char* name; const char* n; std::size_t epochs; const char* said = "\nInterpolation complete.\n"; } kFiles[] = {
    {"07590920.05o", "5", 715}, {"30400920.05o", "1", 3571}, {"arlm200a.15o", "5", 715}, {"test_dfix_txau047.ed.12o", "5", 973},
    {"demo.10o", "1", 2}, {"test_dfix_tower239.ed.15o", "1", 1333}, {"faa1170b00.16o", "1", 5}, {"14601736.18o", "5", 3}, {"wsra0010.21o", "5", 97},
    {"test_input_rinex_obs_RinexObsFile.06o", "5", 6}, {"npaz3550.21o", "1", 3841}, {"KOSG0010.95O", "5", 0, "Sampling rate (39600) is not"},
    {"blank.10o", "5", 0, "Missing PGM / RUN BY / DATE"}, {"test_input_rinex_obs_IncompleteHeader.06o", "5", 0, "Missing MARKER NAME record.\n"}};

TEST(RealFiles, EveryFileDensifiesKeepingItsEpochsOrEndsWithAMessage) {
  if (e2e::sharedDataDir().empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file tests skipped";
  const bool rtklib = std::system("command -v convbin >/dev/null && command -v rnx2rtkp >/dev/null") == 0;
  for (const auto& [name, n, epochs, said] : kFiles) {
    SCOPED_TRACE(name);
    const std::string path = e2e::sharedDataDir() + "/" + name;
    e2e::Scratch dir;
    const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", path, "-o", "out.obs", "-n", n});
    EXPECT_TRUE(r.status == (epochs ? 0 : 1) && (r.out + r.err).find(said) != std::string::npos) << r.out << r.err;  // 0 epochs: refused
    if (!epochs || r.status != 0) continue;
    const ObservationFile input = parse(e2e::readFile(path)), output = parse(e2e::readFile(dir.path("out.obs")));
    EXPECT_EQ(output.epochs.size(), epochs);
    for (const auto& [time, sats] : input.epochs) EXPECT_EQ(output.epochs.count(time) ? output.epochs.at(time) : "missing", sats) << time;
    EXPECT_EQ(output.events, input.events);
    EXPECT_TRUE(input.epochs.size() < 8 || e2e::runEpofill(dir.dir(), {"-i", "out.obs", "-o", "again.obs", "-n", n}).status == 0)
        << "the output, whose INTERVAL describes its epochs when interpolated, is not read back";
    if (!rtklib) continue;
    const ObservationFile theirs = parse(e2e::runShell(dir.dir(), "convbin -r rinex out.obs -o /dev/stdout -v 2.11").out);
    EXPECT_EQ(std::make_pair(theirs.epochs.size(), theirs.satellites), std::make_pair(epochs, output.satellites)) << "convbin's reading";
    const e2e::Result lost = e2e::runShell(dir.dir(), "n=" + e2e::quote(path.substr(0, path.size() - 1) + "n") + "; [ ! -e $n ] || {"
        " rnx2rtkp -p 0 -o in.pos " + e2e::quote(path) + " $n; rnx2rtkp -p 0 -o out.pos out.obs $n; grep -v '^%' in.pos >fixes;"
        " ! grep -vxFf out.pos fixes; }");  // when there is a navigation file
    EXPECT_EQ(lost.status, 0) << "positions of the input not among the output's:\n" << lost.out;
  }
  if (!rtklib) GTEST_SKIP() << "convbin or rnx2rtkp (Debian package rtklib) is not installed: their checks skipped";
}

}  // namespace
