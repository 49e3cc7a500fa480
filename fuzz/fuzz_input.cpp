// The layered reader on arbitrary bytes: opened as the program opens a file (decompression by the
// first bytes, Compact RINEX by the first line), then the header and every epoch record read.
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "rinex/rinex.h"

namespace {

// A few bytes may decompress to gigabytes: the records read stop after this many lines. The
// stored bytes consumed never shrink and never pass the input's size.
class CappedSource : public LineSource {
 public:
  CappedSource(LineSource& inner, std::size_t storedSize) : inner_(inner), storedSize_(storedSize) {}
  bool nextLine(std::string_view& line) override {
    if (linesLeft_ == 0 || !inner_.nextLine(line)) return false;
    --linesLeft_;
    const uint64_t now = inner_.position();
    FUZZ_CHECK(now >= last_ && now <= storedSize_);
    last_ = now;
    return true;
  }
  uint64_t position() const override { return inner_.position(); }
  const std::string& name() const override { return inner_.name(); }

 private:
  LineSource& inner_;
  std::size_t storedSize_;
  uint64_t last_ = 0;
  std::size_t linesLeft_ = 200000;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  try {
    std::unique_ptr<LineSource> source = openInputMemory(fuzz::bytes(data, size));
    CappedSource input(*source, size);
    RINEXHeader header;
    readHeader(input, header);
    RINEXEpoch epoch;
    while (readEpoch(input, header, epoch)) {
    }
  } catch (const fuzz::FatalExit&) {
    return 0;
  }
  return 0;
}
