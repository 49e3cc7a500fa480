// The epoch reader on arbitrary text after a valid header, and the epoch writer on every record
// it returns. The first byte of the input chooses the header's number of observation types
// (byte % 32); the rest is the text after END OF HEADER.
#include <array>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

constexpr std::size_t HEADER_VARIANTS = 32;

// A complete version 2.10 header with `types` observation types, nine to a line.
std::string headerText(std::size_t types) {
  using fuzz::headerLine;
  std::string text = headerLine("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE");
  for (const char* label : {"PGM / RUN BY / DATE", "MARKER NAME", "OBSERVER / AGENCY", "REC # / TYPE / VERS", "ANT # / TYPE"})
    text += headerLine("fuzz", label);
  text += headerLine("", "APPROX POSITION XYZ") + headerLine("", "ANTENNA: DELTA H/E/N") +
          headerLine("     1     1", "WAVELENGTH FACT L1/2");
  static const char* const codes[] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "S1", "S2", "C2", "L5"};
  for (std::size_t line = 0; line == 0 || line < types; line += 9) {
    std::string count = std::to_string(types), content = line == 0 ? std::string(6 - count.size(), ' ') + count : "      ";
    for (std::size_t k = line; k < types && k < line + 9; ++k) content += std::string("    ") + codes[k % 11];
    text += headerLine(content, "# / TYPES OF OBSERV");
  }
  return text + headerLine("    30", "INTERVAL") + headerLine("  2001     8    28     0     0    0.0000000", "TIME OF FIRST OBS") +
         headerLine("", "END OF HEADER");
}

std::array<RINEXHeader, HEADER_VARIANTS> headers;

// Before fuzz::setUp(): a refusal of a fixed header ends the start-up with the reader's own message.
void makeHeaders() {
  for (std::size_t types = 0; types < HEADER_VARIANTS; ++types) {
    const std::string text = headerText(types);
    LineReader input;
    input.openMemory(text);
    readHeader(input, headers[types]);
    FUZZ_CHECK(headers[types].dataTypeCount() == static_cast<int>(types));
  }
}

}  // namespace

FUZZ_INITIALIZE(makeHeaders(), fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  RINEXHeader header = headers[data[0] % HEADER_VARIANTS];  // a flag-4 event may change its types
  LineReader input;
  input.openMemory(fuzz::bytes(data + 1, size - 1));
  OutputFile output;
  output.openMemory();
  RINEXEpoch epoch;
  try {
    for (uint64_t before = input.position(); readEpoch(input, header, epoch); before = input.position()) {
      FUZZ_CHECK(input.position() > before);  // every record takes at least one line
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
