// Epochs built from the fuzz input (satellites, values, flags, clocks, events), written as RINEX 2
// or 3 text, encoded as Compact RINEX and decoded: the same lines come back.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/crx.h"
#include "tests/crx_support.h"

namespace {

// Choices taken from the input bytes (one per 256 of range); zeros once they run out.
struct InputChoices : crx_test::Choices {
  const uint8_t *at, *end;
  uint32_t next(uint32_t n) override {
    uint32_t v = 0;
    for (uint64_t range = 1; range < n; range <<= 8) v = v << 8 | (at < end ? *at++ : 0);
    return v % n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int rinex = (data[0] & 1) != 0 ? 3 : 2;
  const bool zero = (data[0] & 2) != 0;
  InputChoices choices;
  choices.at = data + 1;
  choices.end = data + size;
  const std::vector<std::string> text = crx_test::makeObservationText(choices, rinex, zero);

  CompactEncoder encoder(rinex == 3 ? 3 : 1, "fuzz");
  std::string compact, plain;
  for (const std::string& line : text) encoder.encode(line, compact);
  encoder.finish(compact);
  FUZZ_CHECK(encoder.error().empty());
  CompactDecoder decoder(zero);
  for (const std::string& line : crx_test::splitLines(compact)) FUZZ_CHECK(decoder.decode(line, plain));
  FUZZ_CHECK(decoder.finish(plain));
  FUZZ_CHECK(crx_test::splitLines(plain) == text);
  return 0;
}
