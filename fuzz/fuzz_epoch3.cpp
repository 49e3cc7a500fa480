// The RINEX 3 epoch reader on arbitrary text after a valid header, the writer on every record it
// returns, and the reader again on what was written. Byte 0 chooses the header: G has byte % 16
// types, R half as many, E three more, C none.
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

RINEXHeader makeHeader(int types) {
  static const char* const codes[] = {"C1C", "L1C", "D1C", "S1C", "C2W", "L2W", "D2W", "S2W", "C5Q", "L5Q"};
  std::string text = headerLine("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
  for (const auto& [system, count] : {std::pair<char, int>{'G', types}, {'R', types / 2}, {'E', types + 3}}) {
    for (int first = 0; first == 0 || first < count; first += 13) {
      char head[8];
      std::snprintf(head, sizeof head, "%c  %3d", system, count);
      std::string content = first == 0 ? head : "      ";
      for (int k = first; k < count && k < first + 13; ++k) content += std::string(" ") + codes[k % 10];
      text += headerLine(content, "SYS / # / OBS TYPES");
    }
  }
  text += headerLine("  2001     8    28     0     0    0.0000000     GPS", "TIME OF FIRST OBS") + headerLine("", "END OF HEADER");
  LineReader input;
  input.openMemory(text);
  RINEXHeader header;
  try {
    readHeader(input, header);
  } catch (const fuzz::FatalExit&) {
    fuzz::fail("the fixed header of the epoch target was refused");
  }
  if (header.typeCount('E') != types + 3) fuzz::fail("the fixed header of the epoch target lost its types");
  return header;
}

// Reads every record, writing each to `output` when given; false when a fatal path was taken.
// `whole` ends false when a record was cut short or a year left four digits.
bool readAll(std::string_view text, RINEXHeader header, OutputFile* output, int& records, bool& whole) {
  LineReader input;
  input.openMemory(text);
  RINEXEpoch epoch;
  try {
    for (uint64_t before = 0; readEpoch(input, header, epoch); before = input.position(), ++records) {
      FUZZ_CHECK(input.position() > before);  // every record takes at least one line
      FUZZ_CHECK(epoch.isEvent() || epoch.satellites.size() >= static_cast<std::size_t>(epoch.usedSatellites()));
      const int year = epoch.time.toCalendarTime().year;
      if (epoch.isEvent())
        whole = whole && std::count(epoch.eventText.begin(), epoch.eventText.end(), '\n') == epoch.usedSatellites() + 1;
      else
        whole = whole && epoch.missingSatellites == 0 && year >= 0 && year <= 9999;
      if (output != nullptr) writeEpoch(*output, header, epoch);
    }
  } catch (const fuzz::FatalExit&) {
    return false;
  }
  FUZZ_CHECK(input.position() == text.size());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::array<RINEXHeader, HEADER_VARIANTS> headers = [] {
    std::array<RINEXHeader, HEADER_VARIANTS> made;
    for (int types = 0; types < HEADER_VARIANTS; ++types) made[static_cast<std::size_t>(types)] = makeHeader(types);
    return made;
  }();
  if (size == 0) return 0;
  const RINEXHeader& header = headers[data[0] % HEADER_VARIANTS];
  OutputFile output;
  output.openMemory();
  int records = 0, reread = 0;
  bool whole = true;
  if (!readAll(fuzz::bytes(data + 1, size - 1), header, &output, records, whole)) return 0;
  const std::string text = output.contents();
  FUZZ_CHECK(text.empty() || text.back() == '\n');
  // What was written reads back as as many records: its lines are whole and in their columns.
  if (!whole) return 0;
  if (!readAll(text, header, nullptr, reread, whole)) fuzz::fail("the written epochs were refused");
  FUZZ_CHECK(reread == records);
  return 0;
}
