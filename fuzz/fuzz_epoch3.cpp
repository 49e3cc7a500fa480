// The RINEX 3 epoch reader on arbitrary text after a valid header, the writer on every record it
// returns, and the reader again on what the writer made. The first byte of the input chooses the
// header: its systems' type counts (byte % 16 for G, then 0-15 more for each of R and E).
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

constexpr int HEADER_VARIANTS = 16;

std::string headerLine(std::string content, const char* label) {
  content.resize(60, ' ');
  return content + label + "\n";
}

// A RINEX 3.04 header whose G list has `types` codes (thirteen to a line), R `types / 2`, E
// `types + 3`; C has none.
std::string headerText(int types) {
  static const char* const codes[] = {"C1C", "L1C", "D1C", "S1C", "C2W", "L2W", "D2W", "S2W", "C5Q", "L5Q"};
  std::string text = headerLine("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
  text += headerLine("fuzz                fuzz                20010828 000000 UTC", "PGM / RUN BY / DATE");
  for (const auto& [system, count] : {std::pair<char, int>{'G', types}, {'R', types / 2}, {'E', types + 3}}) {
    int line = 0;
    do {
      char head[8];
      std::snprintf(head, sizeof head, "%c  %3d", system, count);
      std::string content = line == 0 ? head : "      ";
      for (int k = line * 13; k < count && k < line * 13 + 13; ++k) content += std::string(" ") + codes[k % 10];
      text += headerLine(content, "SYS / # / OBS TYPES");
      ++line;
    } while (line * 13 < count);
  }
  text += headerLine("    30.000", "INTERVAL");
  text += headerLine("  2001     8    28     0     0    0.0000000     GPS", "TIME OF FIRST OBS");
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
      if (made[static_cast<std::size_t>(types)].typeCount('E') != types + 3)
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
  RINEXHeader header = headers()[data[0] % HEADER_VARIANTS];
  const RINEXHeader original = header;
  LineReader input;
  input.openMemory(fuzz::bytes(data + 1, size - 1));
  OutputFile output;
  output.openMemory();
  RINEXEpoch epoch;
  int records = 0;
  bool whole = true;  // no record was cut short, no year outside four digits
  try {
    uint64_t before = input.position();
    while (readEpoch(input, header, epoch)) {
      FUZZ_CHECK(input.position() > before);  // every record takes at least one line
      before = input.position();
      FUZZ_CHECK(epoch.isEvent() || epoch.satellites.size() >= static_cast<std::size_t>(epoch.usedSatellites()));
      if (epoch.isEvent()) {
        long lines = static_cast<long>(std::count(epoch.eventText.begin(), epoch.eventText.end(), '\n'));
        whole = whole && lines == epoch.usedSatellites() + 1;
      } else {
        int year = epoch.time.toCalendarTime().year;
        whole = whole && epoch.missingSatellites == 0 && year >= 0 && year <= 9999;
      }
      writeEpoch(output, header, epoch);
      ++records;
    }
  } catch (const fuzz::FatalExit&) {
    return 0;
  }
  fuzz::checkWholeInputAndLines(input, size - 1, output);

  // What was written reads back as as many records: its lines are whole and in their columns.
  if (!whole) return 0;
  const std::string text = output.contents();
  LineReader again;
  again.openMemory(text);
  RINEXHeader second = original;
  int reread = 0;
  try {
    while (readEpoch(again, second, epoch)) ++reread;
  } catch (const fuzz::FatalExit&) {
    fuzz::fail("the written epochs were refused");
  }
  FUZZ_CHECK(reread == records);
  return 0;
}
