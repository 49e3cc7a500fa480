// The RINEX 3 header reader on arbitrary text after a version 3.04 first line, the writer on what
// it accepted (with two comment lines of a run), and the reader again on what was written.
#include <algorithm>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

bool read(const std::string& text, RINEXHeader& header) {
  LineReader input;
  input.openMemory(text);
  try {
    readHeader(input, header);
  } catch (const fuzz::FatalExit&) {
    return false;
  }
  return true;
}

}  // namespace

FUZZ_INITIALIZE(fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  RINEXHeader header, again;
  const std::string first = "     3.04           OBSERVATION DATA    M                   RINEX VERSION / TYPE\n";
  if (!read(first + std::string(fuzz::bytes(data, size)), header)) return 0;
  FUZZ_CHECK(header.majorVersion == 3 && !header.systemTypes.empty() && header.dataTypeCount() <= MAX_SUPPORTED_OBS_TYPES);
  const std::string added(120, 'c');
  header.comments += added;
  OutputFile output;
  output.openMemory();
  try {
    writeHeader(output, header);
  } catch (const fuzz::FatalExit&) {
    fuzz::fail("writeHeader took a fatal path on a header readHeader accepted");
  }
  const std::string text = output.contents();
  FUZZ_CHECK(!text.empty() && text.back() == '\n');
  // The rewritten TIME OF FIRST OBS keeps its columns while its fields fit them.
  const CalendarTime& t = header.firstObservation;
  for (int field : {t.year, t.month, t.day, t.hour, t.minute})
    if (field <= -10000 || field >= 100000) return 0;
  if (!(t.seconds >= 0.0 && t.seconds < 100000.0)) return 0;
  if (!read(text, again)) fuzz::fail("the written header was refused");
  // The added lines follow the program record's comments, perhaps before comments read later.
  FUZZ_CHECK(again.records.size() == header.records.size() + 2 && again.comments.size() == header.comments.size());
  FUZZ_CHECK(again.comments.find(added) % 60 == 0 && again.timeSystem == header.timeSystem);
  FUZZ_CHECK(std::equal(again.systemTypes.begin(), again.systemTypes.end(), header.systemTypes.begin(),
                        header.systemTypes.end(), [](const auto& a, const auto& b) { return a.codes == b.codes; }));
  return 0;
}
