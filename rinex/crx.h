// Compact RINEX (versions 1.0 and 3.0) as text filters: the decoder turns the lines of a Compact
// RINEX file back into the lines of the RINEX file it was made from; the encoder does the reverse.
// Internal to the RINEX file layer: the line sources and output sinks use them, nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Compact RINEX version a file's first line announces: 1 for "1.0", 3 for "3.0", 0 when the line
// is not a "CRINEX VERS   / TYPE" line, -1 for any other version (its text in `version` when given).
int compactRinexVersion(std::string_view firstLine, std::string* version = nullptr);

class CompactDecoder {
 public:
  // zeroBeforePoint: values below 1 in magnitude come out as "0.250", the way this program's
  // writer prints them, instead of ".250", the way the writers of the real files do.
  explicit CompactDecoder(bool zeroBeforePoint = false);
  ~CompactDecoder();
  CompactDecoder(const CompactDecoder&) = delete;
  CompactDecoder& operator=(const CompactDecoder&) = delete;

  // Takes the next line of the Compact RINEX file (without its line end; the two CRINEX lines
  // first) and appends the RINEX lines it completes to `out`, each ended by '\n': a header line at
  // once, an epoch whole when its last line has been taken. Returns false on a decoding error;
  // error() then says what was wrong with this line, and every later call returns false.
  bool decode(std::string_view line, std::string& out);
  // At the end of the input: false when the input ended inside the header or an epoch (error()
  // says so).
  bool finish(std::string& out);
  const std::string& error() const;

 private:
  struct State;
  State* state_;
};

class CompactEncoder {
 public:
  // version 1 writes Compact RINEX 1.0 (for RINEX 2), 3 writes 3.0 (for RINEX 3). programLine is
  // the text of columns 1-60 of the "CRINEX PROG / DATE" line.
  CompactEncoder(int version, std::string_view programLine);
  ~CompactEncoder();
  CompactEncoder(const CompactEncoder&) = delete;
  CompactEncoder& operator=(const CompactEncoder&) = delete;

  // Takes the next line of the RINEX file (without its line end) and appends Compact RINEX lines to
  // `out`, each ended by '\n'. Header lines come out at once; an epoch comes out whole when its last
  // line has been taken, so that `out` always ends after a complete epoch.
  void encode(std::string_view line, std::string& out);
  // At the end: an epoch that was not complete is dropped.
  void finish(std::string& out);
  // Empty while the input is RINEX the encoder can represent. Otherwise what was wrong; the
  // encoder then takes no more lines, and `out` ends after the last complete epoch.
  const std::string& error() const;

 private:
  struct State;
  State* state_;
};
