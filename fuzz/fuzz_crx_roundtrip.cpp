// Epochs built from the fuzz input (satellites, values, flags, clocks, events), written as RINEX 2
// or 3 text, encoded as Compact RINEX and decoded: the same lines come back.
#include "fuzz/fuzz_support.h"
#include "fuzz/crx_epochs.h"

namespace {

// Choices taken from the input bytes (one per 256 of range); zeros once they run out.
struct InputChoices : crx_test::Choices {
  const uint8_t *at, *end;
  InputChoices(const uint8_t* data, std::size_t size) : at(data), end(data + size) {}
  uint32_t next(uint32_t n) override {
    uint32_t v = 0;
    for (uint64_t range = 1; range < n; range <<= 8) v = v << 8 | (at < end ? *at++ : 0);
    return v % n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::setUp(), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int rinex = (data[0] & 1) != 0 ? 3 : 2;
  const bool zero = (data[0] & 2) != 0;
  InputChoices choices(data + 1, size - 1);
  const std::vector<std::string> text = crx_test::makeObservationText(choices, rinex, zero);
  std::string error;
  const std::string compact = crx_test::encodeLines(text, rinex == 3 ? 3 : 1, &error);
  const crx_test::Decoded d = crx_test::decodeLines(crx_test::splitLines(compact), zero);
  FUZZ_CHECK(error.empty() && d.ok && crx_test::splitLines(d.text) == text);
  return 0;
}
