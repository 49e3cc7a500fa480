// The header reader on arbitrary text, then the header writer on whatever it accepted.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

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
  try {
    writeHeader(output, header);
  } catch (const fuzz::FatalExit&) {
    fuzz::fail("writeHeader took a fatal path on a header readHeader accepted");
  }
  std::string text = output.contents();
  FUZZ_CHECK(!text.empty() && text.back() == '\n');
  return 0;
}
