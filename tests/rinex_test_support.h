// Shared helpers of the RINEX file-layer tests: fatal paths caught in-process, console
// capture, lines by column, and the real sample files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
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

struct Outcome { bool fatal = false; std::string out, err; };

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
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

inline std::string joined(const std::vector<std::string>& lines, const std::string& end = "\n") {
  std::string text;
  for (const std::string& l : lines) text += l + end;
  return text;
}

// Lines without their line ends; a last line without a line feed counts.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline std::string labelOf(const std::string& line) {
  return line.size() > 60 ? trimRight(line.substr(60)) : std::string();
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The folder of the real sample files, or "" when it is absent.
inline std::string sampleDir() {
  const std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data/rinex";
  return std::ifstream(dir + "/README.md").good() ? dir : std::string();
}

}  // namespace rinex_test
