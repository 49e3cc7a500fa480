// The RINEX 3 header reader on arbitrary text after a version 3.04 first line, the writer on
// whatever it accepted, and the reader again on what the writer made.
#include <cmath>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

const std::string VERSION_LINE =
    "     3.04           OBSERVATION DATA    M                   RINEX VERSION / TYPE\n";

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

// The rewritten TIME OF FIRST OBS keeps its columns only while its fields fit them.
bool fitsItsColumns(const CalendarTime& t) {
  for (int field : {t.year, t.month, t.day, t.hour, t.minute})
    if (field <= -10000 || field >= 100000) return false;
  return t.seconds >= 0.0 && t.seconds < 100000.0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  RINEXHeader header;
  if (!read(VERSION_LINE + std::string(fuzz::bytes(data, size)), header)) return 0;
  FUZZ_CHECK(header.majorVersion == 3);
  FUZZ_CHECK(!header.systemTypes.empty());
  for (const SystemObservationTypes& list : header.systemTypes)
    FUZZ_CHECK(header.typeCount(list.system) <= MAX_SUPPORTED_OBS_TYPES);

  header.comments += std::string(120, 'c');  // two comment lines of a run
  OutputFile output;
  output.openMemory();
  try {
    writeHeader(output, header);
  } catch (const fuzz::FatalExit&) {
    fuzz::fail("writeHeader took a fatal path on a header readHeader accepted");
  }
  const std::string text = output.contents();
  FUZZ_CHECK(!text.empty() && text.back() == '\n');
  if (!fitsItsColumns(header.firstObservation)) return 0;

  RINEXHeader again;
  if (!read(text, again)) fuzz::fail("the written header was refused");
  FUZZ_CHECK(again.records.size() == header.records.size() + 2);
  // The added lines follow the program record's comments, perhaps before comments read later.
  FUZZ_CHECK(again.comments.size() == header.comments.size());
  FUZZ_CHECK(again.comments.find(std::string(120, 'c')) % 60 == 0);
  FUZZ_CHECK(again.systemTypes.size() == header.systemTypes.size());
  for (std::size_t i = 0; i < again.systemTypes.size(); ++i)
    FUZZ_CHECK(again.systemTypes[i].codes == header.systemTypes[i].codes);
  FUZZ_CHECK(again.timeSystem == header.timeSystem);
  return 0;
}
