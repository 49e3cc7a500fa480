// Helpers of the RINEX file-layer tests: fatal paths caught with the console captured, files in memory.
#pragma once

#include "e2e_support.h"
#include "rinex/rinex.h"

namespace rinex_test {

using e2e::padded;
using Lines = std::vector<std::string>;
struct FatalCalled {};
struct Outcome { bool fatal = false; std::string out, err; };

// From the first call on, a fatal path unwinds (to here, or failing the test) instead of ending the program.
template <class Action> Outcome captured(const Action& action) {
  Outcome o;
  setFatalHandler([] { throw FatalCalled{}; });
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try { action(); } catch (const FatalCalled&) { o.fatal = true; }
  o.err = testing::internal::GetCapturedStderr();
  o.out = testing::internal::GetCapturedStdout();
  return o;
}

inline std::string joined(const Lines& lines, const std::string& end = "\n") {
  std::string text;
  for (const std::string& l : lines) text += l + end;
  return text;
}
inline std::string rec(const std::string& data, const std::string& label) { return padded(data, 60) + padded(label, 20); }
// `lines` with `count` of them from `at` on replaced by `inserted`.
inline Lines spliced(Lines lines, long at, long count, const Lines& inserted = {}) {
  lines.insert(lines.erase(lines.begin() + at, lines.begin() + at + count), inserted.begin(), inserted.end());
  return lines;
}
// An observation field (F14.3 and the two indicators).
inline std::string obs(const std::string& value, const std::string& flags = "  ") { return padded("", 14 - value.size()) + value + flags; }

struct Read { RINEXHeader header; std::vector<RINEXEpoch> epochs; std::string written; };
// The header read from the text (or the one given) and written back, then each record after it as read.
inline Read readAndWrite(const std::string& text, const RINEXHeader* given = nullptr) {
  Read r;
  LineReader in;
  in.openMemory(text);
  OutputFile out;
  out.openMemory();
  if (given != nullptr) r.header = *given; else readHeader(in, r.header);
  writeHeader(out, r.header);
  for (RINEXEpoch e; readEpoch(in, r.header, e) == 1; writeEpoch(out, r.header, e)) r.epochs.push_back(e);
  r.written = out.contents();
  return r;
}

}  // namespace rinex_test
