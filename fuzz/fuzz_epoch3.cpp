// The RINEX 3 epoch reader on arbitrary text after a valid header, the writer on every record it
// returns, and the reader again on what was written. Byte 0 chooses the header: G has byte % 16
// types, R half as many, E three more, C none.
#include <algorithm>
#include <vector>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

RINEXHeader makeHeader(int types) {
  using fuzz::headerLine;
  static const char* const codes[] = {"C1C", "L1C", "D1C", "S1C", "C2W", "L2W", "D2W", "S2W", "C5Q", "L5Q"};
  std::string text = headerLine("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
  for (const auto& [system, count] : {std::pair<char, int>{'G', types}, {'R', types / 2}, {'E', types + 3}}) {
    char content[64];
    std::snprintf(content, sizeof content, "%c  %3d", system, count);
    std::string line = content;
    for (int k = 0; k < count; ++k) {
      if (k > 0 && k % 13 == 0) {  // a continuation line
        text += headerLine(line, "SYS / # / OBS TYPES");
        line = "      ";
      }
      line += std::string(" ") + codes[k % 10];
    }
    text += headerLine(line, "SYS / # / OBS TYPES");
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
  FUZZ_CHECK(header.typeCount('E') == types + 3);
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
      const auto lines = std::count(epoch.eventText.begin(), epoch.eventText.end(), '\n');
      whole = whole && (epoch.isEvent() ? lines == epoch.usedSatellites() + 1
                                        : epoch.missingSatellites == 0 && year >= 0 && year <= 9999);
      if (output != nullptr) writeEpoch(*output, header, epoch);
    }
  } catch (const fuzz::FatalExit&) {
    return false;
  }
  FUZZ_CHECK(input.position() == text.size());
  return true;
}

}  // namespace

FUZZ_INITIALIZE(fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static std::vector<RINEXHeader> headers;
  for (int types = static_cast<int>(headers.size()); types < 16; ++types) headers.push_back(makeHeader(types));
  if (size == 0) return 0;
  const RINEXHeader& header = headers[data[0] % 16];
  OutputFile output;
  output.openMemory();
  int records = 0, reread = 0;
  bool whole = true;
  if (!readAll(fuzz::bytes(data + 1, size - 1), header, &output, records, whole)) return 0;
  const std::string text = output.contents();
  // What was written is whole lines, and reads back as as many records while the records were whole.
  FUZZ_CHECK(text.empty() || text.back() == '\n');
  if (!whole) return 0;
  if (!readAll(text, header, nullptr, reread, whole)) fuzz::fail("the written epochs were refused");
  FUZZ_CHECK(reread == records);
  return 0;
}
