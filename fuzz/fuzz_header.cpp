// The header reader on arbitrary text, then the header writer on whatever it accepted.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

FUZZ_INITIALIZE(fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  LineReader input;
  input.openMemory(fuzz::bytes(data, size));
  RINEXHeader header;
  try {
    readHeader(input, header);
  } catch (const fuzz::FatalExit&) {
    return 0;
  }
  FUZZ_CHECK(input.position() <= size);
  OutputFile output;
  output.openMemory();
  writeHeader(output, header);  // a fatal path here, on a header the reader accepted, escapes: a crash
  FUZZ_CHECK(!output.contents().empty() && output.contents().back() == '\n');
  return 0;
}
