// Compact RINEX helpers of the tests and fuzz targets: whole texts through the codec.
#pragma once

#include <sstream>
#include <vector>

#include "rinex/crx.h"

namespace crx_test {

using Lines = std::vector<std::string>;

inline Lines splitLines(const std::string& text) {  // a last line without '\n' counts
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
inline void rtrim(std::string& s) { s.erase(s.find_last_not_of(' ') + 1); }
inline std::string withoutTrailingBlanks(const std::string& text) {  // as the decoder restores lines
  std::string out;
  for (char c : text) (c == '\n' ? rtrim(out) : void()), out += c;
  return out;
}

struct Decoded { bool ok; std::string error, text; };
inline Decoded decodeLines(const Lines& lines, bool zeroBeforePoint = false) {
  CompactDecoder decoder(zeroBeforePoint);
  std::string text;
  for (std::size_t i = 0; i < lines.size() && decoder.decode(lines[i], text); ++i) {}
  return {decoder.error().empty() && decoder.finish(text), decoder.error(), text};
}
// Compact RINEX `version` 1 or 3 of `lines`; the encoder's error, if any, in `error`.
inline std::string encodeLines(const Lines& lines, int version, std::string* error = nullptr) {
  CompactEncoder encoder(version, "epofill test");
  std::string out;
  for (const std::string& line : lines) encoder.encode(line, out);
  encoder.finish(out);
  if (error != nullptr) *error = encoder.error();
  return out;
}

// `lines` encoded as Compact RINEX `version` and decoded: "" when the same lines come back, else what went wrong.
inline std::string roundTrip(const Lines& lines, int version, bool zeroBeforePoint) {
  std::string error;
  const Decoded d = decodeLines(splitLines(encodeLines(lines, version, &error)), zeroBeforePoint);
  return !error.empty() || !d.ok ? error + d.error : splitLines(d.text) == lines ? "" : "other lines came back";
}

}  // namespace crx_test
