// The epoch reader on arbitrary text after a valid header, and the epoch writer on every record
// it returns. The first byte of the input chooses the header's number of observation types
// (byte % 32); the rest is the text after END OF HEADER.
#include <array>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

constexpr int HEADER_VARIANTS = 32;

std::string headerLine(std::string content, const char* label) {
  content.resize(60, ' ');
  return content + label + "\n";
}

// A complete version 2.10 header with `types` observation types, nine to a line.
std::string headerText(int types) {
  static const char* const codes[] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "S1", "S2", "C2", "L5"};
  std::string text;
  for (const auto& [content, label] : {std::pair<const char*, const char*>{"     2.10           OBSERVATION DATA    G (GPS)",
                                                                          "RINEX VERSION / TYPE"},
                                      {"fuzz", "PGM / RUN BY / DATE"}, {"FUZZ", "MARKER NAME"}, {"fuzz", "OBSERVER / AGENCY"},
                                      {"1", "REC # / TYPE / VERS"}, {"1", "ANT # / TYPE"}, {"", "APPROX POSITION XYZ"},
                                      {"", "ANTENNA: DELTA H/E/N"}, {"     1     1", "WAVELENGTH FACT L1/2"}})
    text += headerLine(content, label);
  int line = 0;
  do {
    char count[8];
    std::snprintf(count, sizeof count, "%6d", types);
    std::string content = line == 0 ? count : "      ";
    for (int k = line * 9; k < types && k < line * 9 + 9; ++k) {
      char field[8];
      std::snprintf(field, sizeof field, "%6s", codes[k % 11]);
      content += field;
    }
    text += headerLine(content, "# / TYPES OF OBSERV");
    ++line;
  } while (line * 9 < types);
  text += headerLine("    30", "INTERVAL");
  text += headerLine("  2001     8    28     0     0    0.0000000", "TIME OF FIRST OBS");
  text += headerLine("", "END OF HEADER");
  return text;
}

const std::array<RINEXHeader, HEADER_VARIANTS>& headers() {
  static const std::array<RINEXHeader, HEADER_VARIANTS> all = [] {
    std::array<RINEXHeader, HEADER_VARIANTS> made;
    for (int types = 0; types < HEADER_VARIANTS; ++types) {
      std::string text = headerText(types);
      LineReader input;
      input.openMemory(text);
      try {
        readHeader(input, made[static_cast<std::size_t>(types)]);
      } catch (const fuzz::FatalExit&) {
        fuzz::fail("the fixed header of the epoch target was refused");
      }
      if (made[static_cast<std::size_t>(types)].dataTypeCount() != types)
        fuzz::fail("the fixed header of the epoch target lost its types");
    }
    return made;
  }();
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  headers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  RINEXHeader header = headers()[data[0] % HEADER_VARIANTS];  // a flag-4 event may change its types
  LineReader input;
  input.openMemory(fuzz::bytes(data + 1, size - 1));
  OutputFile output;
  output.openMemory();
  RINEXEpoch epoch;
  try {
    uint64_t before = input.position();
    while (readEpoch(input, header, epoch)) {
      FUZZ_CHECK(input.position() > before);  // every record takes at least one line
      before = input.position();
      // An event's count is one of lines, not of satellites.
      FUZZ_CHECK(epoch.isEvent() || epoch.satellites.size() >= static_cast<std::size_t>(epoch.usedSatellites()));
      writeEpoch(output, header, epoch);
    }
  } catch (const fuzz::FatalExit&) {
    return 0;
  }
  fuzz::checkWholeInputAndLines(input, size - 1, output);
  return 0;
}
