// The Compact RINEX decoder on arbitrary bytes (lines split at '\n'). What it accepts is encoded
// again and decoded a second time, which must give the same text.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/crx.h"

namespace {

// Decodes every line of `text`; false at the first refusal.
bool decodeText(std::string_view text, bool zeroBeforePoint, std::string& out, std::string* error) {
  CompactDecoder decoder(zeroBeforePoint);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::size_t before = out.size();
    if (!decoder.decode(text.substr(start, end - start), out)) {
      FUZZ_CHECK(!decoder.error().empty());
      FUZZ_CHECK(!decoder.decode("", out));  // a refusal is final
      if (error != nullptr) *error = decoder.error();
      return false;
    }
    FUZZ_CHECK(out.size() == before || out.back() == '\n');
    start = end + 1;
  }
  bool ok = decoder.finish(out);
  FUZZ_CHECK(ok || !decoder.error().empty());
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::bytes(data, size);
  const bool zero = size > 0 && (data[size - 1] & 1) != 0;
  std::string plain;
  if (!decodeText(input, zero, plain, nullptr)) return 0;

  // What the decoder restores, the encoder takes back (unless it is beyond what the encoder
  // writes, which it then says), and the decoder restores it alike.
  CompactEncoder encoder(compactRinexVersion(input.substr(0, input.find('\n'))) == 3 ? 3 : 1, "fuzz");
  std::string compact;
  std::size_t start = 0;
  while (start < plain.size()) {
    std::size_t end = plain.find('\n', start);
    encoder.encode(std::string_view(plain).substr(start, end - start), compact);
    start = end + 1;
  }
  encoder.finish(compact);
  if (!encoder.error().empty()) return 0;
  std::string again, error;
  if (!decodeText(compact, zero, again, &error)) fuzz::fail(("re-encoded text refused: " + error).c_str());
  FUZZ_CHECK(again == plain);
  return 0;
}
