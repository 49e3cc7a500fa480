// The Compact RINEX decoder on arbitrary bytes (lines split at '\n'). What it accepts is encoded
// again and decoded a second time, which must give the same text.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "rinex/crx.h"

namespace {

// Decodes every line of `text`; false at the first refusal, which must be final.
bool decodeText(std::string_view text, bool zeroBeforePoint, std::string& out, std::string& error) {
  CompactDecoder decoder(zeroBeforePoint);
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    std::size_t before = out.size();
    if (!decoder.decode(text.substr(start, end - start), out)) {
      FUZZ_CHECK(!decoder.error().empty() && !decoder.decode("", out) && !decoder.finish(out));
      error = decoder.error();
      return false;
    }
    FUZZ_CHECK(out.size() == before || out.back() == '\n');
  }
  bool ok = decoder.finish(out);
  FUZZ_CHECK(ok == decoder.error().empty());
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
  std::string plain, error;
  if (!decodeText(input, zero, plain, error)) return 0;

  // The encoder takes the restored text back (or says what it cannot hold), and the decoder
  // restores the same text from it.
  CompactEncoder encoder(compactRinexVersion(input.substr(0, input.find('\n'))) == 3 ? 3 : 1, "fuzz");
  std::string compact, again;
  for (std::size_t start = 0, end; start < plain.size(); start = end + 1) {
    end = plain.find('\n', start);
    encoder.encode(std::string_view(plain).substr(start, end - start), compact);
  }
  encoder.finish(compact);
  if (!encoder.error().empty()) return 0;
  if (!decodeText(compact, zero, again, error)) fuzz::fail(("re-encoded text refused: " + error).c_str());
  FUZZ_CHECK(again == plain);
  return 0;
}
