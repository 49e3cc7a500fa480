// The layered reader on arbitrary bytes: opened as the program opens a file (decompression by the
// first bytes, Compact RINEX by the first line), then the header and every epoch record read.
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

// A few bytes may decompress to gigabytes: the records read stop after linesLeft lines. The stored
// bytes consumed never shrink and never pass the input's size.
struct CappedSource : LineSource {
  CappedSource(std::unique_ptr<LineSource> source, uint64_t size) : inner(std::move(source)), storedSize(size) {}
  bool nextLine(std::string_view& line) override {
    if (linesLeft == 0 || !inner->nextLine(line)) return false;
    --linesLeft;
    FUZZ_CHECK(inner->position() >= last && inner->position() <= storedSize);
    last = inner->position();
    return true;
  }
  uint64_t position() const override { return inner->position(); }
  const std::string& name() const override { return inner->name(); }

  std::unique_ptr<LineSource> inner;
  uint64_t storedSize, last = 0, linesLeft = 200000;
};

}  // namespace

FUZZ_INITIALIZE(fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  try {
    CappedSource input(openInputMemory(fuzz::bytes(data, size)), size);
    RINEXHeader header;
    readHeader(input, header);
    for (RINEXEpoch epoch; readEpoch(input, header, epoch);) continue;
  } catch (const fuzz::FatalExit&) {  // a refusal is an ordinary outcome
  }
  return 0;
}
