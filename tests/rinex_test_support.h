// Shared helpers of the RINEX file-layer tests: fatal paths caught in-process, console
// capture, record lines built by column, and the real sample files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "rinex/rinex.h"

namespace rinex_test {

struct FatalCalled {};
[[noreturn]] inline void throwFatal() { throw FatalCalled{}; }

// Every test may reach a fatal path; it unwinds instead of ending the test program.
class RinexTest : public testing::Test {
 protected:
  void SetUp() override { setFatalHandler(throwFatal); }
  void TearDown() override { setFatalHandler(nullptr); }
};

struct Outcome {
  bool fatal = false;
  std::string out, err;
};

inline Outcome captured(const std::function<void()>& action) {
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    action();
  } catch (const FatalCalled&) {
    o.fatal = true;
  }
  o.err = testing::internal::GetCapturedStderr();
  o.out = testing::internal::GetCapturedStdout();
  return o;
}

inline std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

inline std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

// A header line: data in columns 1-60, the label in 61-80.
inline std::string rec(const std::string& data, const std::string& label) {
  return padded(data, 60) + padded(label, 20);
}

inline std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// Lines without their line ends (LF or CR LF); a last line without a line feed counts.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

inline std::string labelOf(const std::string& line) {
  return line.size() > 60 ? trimRight(line.substr(60)) : std::string();
}

// A header in the writer's own layout, so that reading and writing it back gives the same text.
inline std::vector<std::string> headerLines() {
  return {
      rec("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE"),
      rec("epofill test        tester              20010828 120000UTC", "PGM / RUN BY / DATE"),
      rec("first comment", "COMMENT"),
      rec("second comment, blanks kept   ", "COMMENT"),
      rec("SITE", "MARKER NAME"),
      rec("12345M001", "MARKER NUMBER"),
      rec("OBSERVER            AGENCY", "OBSERVER / AGENCY"),
      rec("REC123              RECEIVER TYPE       1.0", "REC # / TYPE / VERS"),
      rec("ANT456              ANTENNA TYPE", "ANT # / TYPE"),
      rec("  4789028.4701   176610.0133  4195017.0310", "APPROX POSITION XYZ"),
      rec("        0.9030        0.0000        0.0000", "ANTENNA: DELTA H/E/N"),
      rec("     1     1", "WAVELENGTH FACT L1/2"),
      rec("     5    L1    L2    C1    P1    P2", "# / TYPES OF OBSERV"),
      rec("    30", "INTERVAL"),
      rec("  2001     8    28     0     0    0.000000", "TIME OF FIRST OBS"),
      rec("  2001     8    28    23    59   30.000000", "TIME OF LAST OBS"),
      rec("     2", "# OF SATELLITES"),
      rec("   G 5   100   100   100   100   100", "PRN / # OF OBS"),
      rec("   G12    99    99    99    99    99", "PRN / # OF OBS"),
      rec("", "END OF HEADER"),
  };
}

inline std::vector<std::string> without(std::vector<std::string> lines, const std::string& label) {
  std::vector<std::string> kept;
  for (std::string& l : lines)
    if (labelOf(l) != label) kept.push_back(std::move(l));
  return kept;
}

// Replaces the records of a label by the given lines, at the place of the first one.
inline std::vector<std::string> replaced(const std::vector<std::string>& lines, const std::string& label,
                                         const std::vector<std::string>& with) {
  std::vector<std::string> result;
  bool done = false;
  for (const std::string& l : lines) {
    if (labelOf(l) != label) {
      result.push_back(l);
    } else if (!done) {
      result.insert(result.end(), with.begin(), with.end());
      done = true;
    }
  }
  return result;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The real sample files, or "" when the shared folder is absent.
inline std::string sampleDir() {
  std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data/rinex";
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : std::string();
}

// The observation files of the sample folder that are well-formed and hold a complete header
// (blank.10o holds only four header records; the test_input_*.06o files other than the
// reference are broken on purpose).
inline const std::vector<std::string>& wellFormedSamples() {
  static const std::vector<std::string> names = {
      "07590920.05o", "30400920.05o", "arlm200a.15o", "test_dfix_txau047.ed.12o",
      "test_dfix_tower239.ed.15o", "faa1170b00.16o", "test_input_rinex_obs_RinexObsFile.06o",
      "demo.10o", "14601736.18o", "npaz3550.21o", "wsra0010.21o", "KOSG0010.95O",
  };
  return names;
}

}  // namespace rinex_test
