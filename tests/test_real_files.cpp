// The public observation files beside the repository: every well-formed one densifies, keeps
// each original epoch with its satellites and values, and reads back in an independent reader.
#include <algorithm>
#include <map>
#include <regex>

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
    } else if (flag >= 2 && flag <= 6) {  // special records, or cycle slips laid out as an epoch
      std::string event;
      for (int k = 0; k <= (flag == 6 ? more + count * perSatellite : count) && i < lines.size(); ++k) event += lines[i++] + "\n";
      file.events.push_back(event);
    } else {
      char key[96], value[64];
      std::snprintf(key, sizeof key, "%d %d %d %d %d %.7f", integerAt(head, 1, 3) % 100, integerAt(head, 4, 3), integerAt(head, 7, 3),
                    integerAt(head, 10, 3), integerAt(head, 13, 3), std::strtod(columns(head, 16, 11).c_str(), nullptr));
      std::string& epoch = file.epochs[key];
      const std::size_t list = i;
      i += 1 + static_cast<std::size_t>(more);
      for (int s = 0; s < count; ++s, ++file.satellites) {
        const std::string id = columns(lines[list + static_cast<std::size_t>(s / 12)], 33 + 3 * static_cast<std::size_t>(s % 12), 3);
        epoch += "|" + std::string(1, id.empty() ? ' ' : id[0]) + std::to_string(std::atoi(id.size() > 1 ? id.c_str() + 1 : "0"));
        for (int j = 0; j < types; ++j) {
          const std::string data = i + static_cast<std::size_t>(j / 5) < lines.size() ? lines[i + static_cast<std::size_t>(j / 5)] : "";
          const std::size_t at = 1 + 16 * static_cast<std::size_t>(j % 5);
          const double v = std::strtod(columns(data, at, 14).c_str(), nullptr);
          std::snprintf(value, sizeof value, "%.3f", v);
          std::string indicators = v == 0.0 ? "" : columns(data, at + 14, 2);
          while (!indicators.empty() && indicators.back() == ' ') indicators.pop_back();
          epoch += " " + (v == 0.0 ? std::string() : value) + "/" + indicators;
        }
        i += static_cast<std::size_t>(perSatellite);
      }
    }
  }
  return file;
}

// Well-formed files by the data folder's README, with the sampling rate the program finds.
const std::pair<const char*, int> wellFormed[] = {
    {"07590920.05o", 30}, {"30400920.05o", 30}, {"arlm200a.15o", 30}, {"test_dfix_txau047.ed.12o", 5},
    {"test_dfix_tower239.ed.15o", 1}, {"faa1170b00.16o", 1}, {"test_input_rinex_obs_RinexObsFile.06o", 30},
    {"demo.10o", 30}, {"14601736.18o", 15}, {"npaz3550.21o", 30}, {"wsra0010.21o", 30},
};

std::string sharedFile(const std::string& name) { return e2e::sharedDataDir() + "/" + name; }
bool haveCommand(const std::string& name) { return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0; }

class RealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (e2e::sharedDataDir().empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file tests skipped";
  }
};

// Every original epoch comes back with its satellites and values, every event record verbatim, and
// the program reads its own output back (when densified, so that INTERVAL describes its epochs).
TEST_F(RealFiles, EveryWellFormedFileDensifiesAndKeepsItsEpochs) {
  for (const auto& [name, rate] : wellFormed) {
    const ObservationFile input = parse(e2e::readFile(sharedFile(name)));
    ASSERT_FALSE(input.epochs.empty()) << name;
    for (int n : {rate % 5 == 0 ? 5 : rate, rate == 30 ? 1 : 0}) {
      if (n == 0) continue;
      SCOPED_TRACE(std::string(name) + " -n " + std::to_string(n));
      e2e::Scratch dir;
      const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", std::to_string(n)});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::string text = e2e::readFile(dir.path("out.obs"));
      const ObservationFile output = parse(text);
      for (const auto& [time, satellites] : input.epochs) {
        const auto found = output.epochs.find(time);
        ASSERT_NE(found, output.epochs.end()) << "epoch " << time << " missing";
        EXPECT_EQ(found->second, satellites) << "epoch " << time;
      }
      for (const std::string& event : input.events) EXPECT_NE(text.find(event), std::string::npos) << "event lost:\n" << event;
      if (input.epochs.size() < 8) continue;
      if (n < rate) { EXPECT_GT(output.epochs.size(), input.epochs.size()); }
      const e2e::Result again = e2e::runEpofill(dir.dir(), {"-i", "out.obs", "-o", "again.obs", "-n", std::to_string(n)});
      EXPECT_EQ(again.status, 0) << again.err;
    }
  }
}

// Files the program refuses, each with a clear message and status 1.
TEST_F(RealFiles, FilesOutsideTheRulesEndWithAMessage) {
  const std::pair<const char*, const char*> refused[] = {
      // INTERVAL 30 but the first two epochs lie 11 h apart.
      {"KOSG0010.95O", "*** ERROR: Sampling rate (39600) is not the same as that specified in \nthe header INTERVAL record.\n"},
      {"blank.10o", "\n*** Error: Missing PGM / RUN BY / DATE record.\n"},
      {"test_input_rinex_obs_IncompleteHeader.06o", "\n*** Error: Missing MARKER NAME record.\n"},
  };
  for (const auto& [name, message] : refused) {
    e2e::Scratch dir;
    const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", "5"});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_NE((r.out + r.err).find(message), std::string::npos) << name << "\n" << r.out << r.err;
  }
}

// An independent reader converts each output to RINEX again and sees the same epochs and satellites.
TEST_F(RealFiles, AnIndependentReaderReadsTheOutput) {
  if (!haveCommand("convbin")) GTEST_SKIP() << "convbin (Debian package rtklib) is not installed";
  for (const auto& [name, rate] : wellFormed) {
    SCOPED_TRACE(name);
    e2e::Scratch dir;
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", sharedFile(name), "-o", "out.obs", "-n", std::to_string(rate % 5 ? rate : 5)}).status, 0);
    const e2e::Result r = e2e::runShell(dir.dir(), "convbin -r rinex out.obs -o copy.obs -v 2.11");
    const ObservationFile ours = parse(e2e::readFile(dir.path("out.obs"))), theirs = parse(e2e::readFile(dir.path("copy.obs")));
    const std::string log = r.out + r.err;
    const std::regex count("O=([0-9]+)");
    std::string last;  // convbin's last count of observation epochs
    for (std::sregex_iterator it(log.begin(), log.end(), count), end; it != end; ++it) last = (*it)[1];
    EXPECT_EQ(last, std::to_string(ours.epochs.size()));
    EXPECT_EQ(theirs.epochs.size(), ours.epochs.size());
    EXPECT_EQ(theirs.satellites, ours.satellites);
  }
}

std::map<std::string, std::string> positions(const std::string& posFile) {
  std::map<std::string, std::string> p;
  for (const std::string& line : e2e::splitLines(posFile)) {
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
    const std::string obs = sharedFile(std::string(stem) + "o"), nav = sharedFile(std::string(stem) + "n");
    if (!e2e::exists(nav)) continue;
    e2e::Scratch dir;
    ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", obs, "-o", "dense.obs", "-n", "5"}).status, 0);
    e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o in.pos " + e2e::quote(obs) + " " + e2e::quote(nav));
    e2e::runShell(dir.dir(), "rnx2rtkp -p 0 -o dense.pos dense.obs " + e2e::quote(nav));
    const auto before = positions(e2e::readFile(dir.path("in.pos"))), after = positions(e2e::readFile(dir.path("dense.pos")));
    EXPECT_GE(after.size(), before.size());
    for (const auto& [time, position] : before) {
      const auto found = after.find(time);
      ASSERT_NE(found, after.end()) << "no solution at " << time;
      EXPECT_EQ(found->second, position) << "at " << time;
    }
  }
}

}  // namespace
