// The public observation files beside the repository: every well-formed one densifies, keeps
// each original epoch with its satellites and values, and reads back in an independent reader.
#include <cstring>
#include <map>

#include "e2e_support.h"

namespace {

// An independent reading of an observation file: per epoch time, the satellites with each value
// in 3 decimals and its indicators ("" when absent); event records whole.
struct ObservationFile {
  std::map<std::string, std::string> epochs;
  std::vector<std::string> events;
  std::size_t satellites = 0;  // epochs times satellites
};

std::string columns(const std::string& line, std::size_t first, std::size_t width) {
  return first - 1 < line.size() ? line.substr(first - 1, width) : std::string();
}
int integerAt(const std::string& line, std::size_t first, std::size_t width) { return std::atoi(columns(line, first, width).c_str()); }

ObservationFile parse(const std::string& text) {
  ObservationFile file;
  const std::vector<std::string> lines = e2e::splitLines(text);
  std::size_t i = 0;
  int types = 0;
  for (; i < lines.size() && lines[i].find("END OF HEADER") == std::string::npos; ++i)
    if (lines[i].find("# / TYPES OF OBSERV") != std::string::npos && integerAt(lines[i], 1, 6) > 0) types = integerAt(lines[i], 1, 6);
  const int perSatellite = std::max(1, (types + 4) / 5);
  for (++i; i < lines.size();) {
    const std::string& head = lines[i];
    const int flag = integerAt(head, 27, 3), count = std::max(0, integerAt(head, 30, 3)), more = count > 12 ? (count - 1) / 12 : 0;
    if (head.find_first_not_of(" \t") == std::string::npos) {
      ++i;
      continue;
    }
    if (flag >= 2 && flag <= 6) {  // special records, or cycle slips laid out as an epoch
      std::string& event = file.events.emplace_back();
      for (int k = 0; k <= (flag == 6 ? more + count * perSatellite : count) && i < lines.size(); ++k) event += lines[i++] + "\n";
      continue;
    }
    char key[96], value[64];
    std::snprintf(key, sizeof key, "%d %d %d %d %d %.7f", integerAt(head, 1, 3) % 100, integerAt(head, 4, 3), integerAt(head, 7, 3),
                  integerAt(head, 10, 3), integerAt(head, 13, 3), std::strtod(columns(head, 16, 11).c_str(), nullptr));
    std::string& epoch = file.epochs[key];
    const std::size_t list = i;
    i += 1 + more;
    for (int s = 0; s < count; ++s, ++file.satellites, i += perSatellite) {
      const std::string id = columns(lines[list + s / 12], 33 + 3 * (s % 12), 3);
      epoch += "|" + std::string(1, id.empty() ? ' ' : id[0]) + std::to_string(std::atoi(id.size() > 1 ? id.c_str() + 1 : "0"));
      for (int j = 0; j < types; ++j) {  // "value/indicators", or "/" when absent
        const std::string field = columns(i + j / 5 < lines.size() ? lines[i + j / 5] : "", 1 + 16 * (j % 5), 16);
        const double v = std::strtod(field.substr(0, 14).c_str(), nullptr);
        std::string indicators = field.size() > 14 ? field.substr(14) : "";
        indicators.erase(indicators.find_last_not_of(' ') + 1);
        std::snprintf(value, sizeof value, " %.3f/%s", v, indicators.c_str());
        epoch += v == 0.0 ? " /" : value;
      }
    }
  }
  return file;
}

// The files by the data folder's README: well-formed ones with the sampling rate the program finds,
// the others with the message they end with (KOSG0010.95O: INTERVAL 30, the first two epochs 11 h apart).
const struct { const char* name; int rate; const char* refusal = nullptr; } kFiles[] = {
    {"07590920.05o", 30}, {"30400920.05o", 30}, {"arlm200a.15o", 30}, {"test_dfix_txau047.ed.12o", 5}, {"demo.10o", 30},
    {"test_dfix_tower239.ed.15o", 1}, {"faa1170b00.16o", 1}, {"test_input_rinex_obs_RinexObsFile.06o", 30},
    {"14601736.18o", 15}, {"npaz3550.21o", 30}, {"wsra0010.21o", 30},
    {"KOSG0010.95O", 5, "*** ERROR: Sampling rate (39600) is not the same as that specified in \nthe header INTERVAL record.\n"},
    {"blank.10o", 5, "\n*** Error: Missing PGM / RUN BY / DATE record.\n"},
    {"test_input_rinex_obs_IncompleteHeader.06o", 5, "\n*** Error: Missing MARKER NAME record.\n"}};

std::string sharedFile(const std::string& name) { return e2e::sharedDataDir() + "/" + name; }
bool haveCommand(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

// Every original epoch comes back with its satellites and values, every event record verbatim, and
// the program reads its own output back (when densified, so that INTERVAL describes its epochs).
// An independent reader sees the output's epochs and satellites, and single-point positions at the
// original epochs are the same from it as from the input. Refused files end with status 1.
TEST(RealFiles, EveryFileDensifiesKeepingItsEpochsOrEndsWithAMessage) {
  if (e2e::sharedDataDir().empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file tests skipped";
  const bool rtklib = haveCommand("convbin") && haveCommand("rnx2rtkp");
  for (const auto& [name, rate, refusal] : kFiles) {
    if (refusal) {
      e2e::Scratch dir;
      const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", "5"});
      EXPECT_EQ(r.status, 1) << name;
      EXPECT_NE((r.out + r.err).find(refusal), std::string::npos) << name << "\n" << r.out << r.err;
      continue;
    }
    const ObservationFile input = parse(e2e::readFile(sharedFile(name)));
    ASSERT_FALSE(input.epochs.empty()) << name;
    const int base = rate % 5 ? rate : 5;
    for (int n : {base, rate == 30 ? 1 : 0}) {
      if (n == 0) continue;
      SCOPED_TRACE(std::string(name) + " -n " + std::to_string(n));
      e2e::Scratch dir;
      const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", std::to_string(n)});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::string text = e2e::readFile(dir.path("out.obs"));
      const ObservationFile output = parse(text);
      for (const auto& [time, satellites] : input.epochs)
        ASSERT_EQ(output.epochs.count(time) ? output.epochs.at(time) : "missing", satellites) << "epoch " << time;
      for (const std::string& event : input.events) EXPECT_NE(text.find(event), std::string::npos) << "event lost:\n" << event;
      if (input.epochs.size() >= 8) {
        if (n < rate) { EXPECT_GT(output.epochs.size(), input.epochs.size()); }
        const e2e::Result again = e2e::runEpofill(dir.dir(), {"-i", "out.obs", "-o", "again.obs", "-n", std::to_string(n)});
        EXPECT_EQ(again.status, 0) << again.err;
      }
      if (!rtklib || n != base) continue;
      const std::string log = e2e::runShell(dir.dir(), "convbin -r rinex out.obs -o copy.obs -v 2.11 2>&1").out;
      const std::size_t last = log.rfind("O=");  // convbin's last count of observation epochs
      const ObservationFile theirs = parse(e2e::readFile(dir.path("copy.obs")));
      EXPECT_EQ(last == std::string::npos ? -1 : std::atol(log.c_str() + last + 2), static_cast<long>(output.epochs.size())) << log;
      EXPECT_EQ(theirs.epochs.size(), output.epochs.size());
      EXPECT_EQ(theirs.satellites, output.satellites);
      const std::string nav = sharedFile(std::string(name).substr(0, std::strlen(name) - 1) + "n");
      if (!e2e::exists(nav)) continue;
      e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o in.pos " + e2e::quote(sharedFile(name)) + " " + e2e::quote(nav));
      e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o out.pos out.obs " + e2e::quote(nav));
      const std::string after = e2e::readFile(dir.path("out.pos"));
      for (const std::string& solution : e2e::splitLines(e2e::readFile(dir.path("in.pos"))))
        EXPECT_TRUE(solution[0] == '%' || after.find(solution) != std::string::npos) << "not found: " << solution;
    }
  }
  if (!rtklib) GTEST_SKIP() << "convbin or rnx2rtkp (Debian package rtklib) is not installed: their checks skipped";
}

}  // namespace
