// Shared helpers of the RINEX file-layer tests: fatal paths caught in-process, console
// capture, lines by column.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "rinex/rinex.h"
#include "e2e_support.h"

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

inline std::string joined(const std::vector<std::string>& lines, const std::string& end = "\n") {
  std::string text;
  for (const std::string& l : lines) text += l + end;
  return text;
}

inline std::string labelOf(const std::string& line) {
  std::string label = line.size() > 60 ? line.substr(60) : std::string();
  return label.erase(label.find_last_not_of(' ') + 1);
}

using e2e::padded;

}  // namespace rinex_test
