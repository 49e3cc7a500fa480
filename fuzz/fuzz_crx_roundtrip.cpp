// Epochs built from the fuzz input (satellites, values, flags, clocks, events), written as RINEX 2
// or 3 text, encoded as Compact RINEX and decoded: the same lines come back.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/crx.h"
#include "tests/crx_support.h"

namespace {

// Choices taken from the input bytes; zeros once they run out.
struct InputChoices : crx_test::Choices {
  const uint8_t* data;
  std::size_t size, at = 0;
  InputChoices(const uint8_t* d, std::size_t n) : data(d), size(n) {}
  uint32_t next(uint32_t n) override {
    uint32_t v = 0;
    for (uint32_t range = 1; range < n && range != 0; range <<= 8) v = v << 8 | (at < size ? data[at++] : 0);
    return v % n;
  }
};

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int rinex = (data[0] & 1) != 0 ? 3 : 2;
  const bool zero = (data[0] & 2) != 0;
  InputChoices choices(data + 1, size - 1);
  const std::vector<std::string> text = crx_test::makeObservationText(choices, rinex, zero);

  CompactEncoder encoder(rinex == 3 ? 3 : 1, "fuzz");
  std::string compact;
  for (const std::string& line : text) encoder.encode(line, compact);
  encoder.finish(compact);
  FUZZ_CHECK(encoder.error().empty());

  CompactDecoder decoder(zero);
  std::string plain;
  for (const std::string& line : split(compact)) FUZZ_CHECK(decoder.decode(line, plain));
  FUZZ_CHECK(decoder.finish(plain));
  FUZZ_CHECK(split(plain) == text);
  return 0;
}
