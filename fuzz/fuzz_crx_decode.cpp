// The Compact RINEX decoder on arbitrary bytes; what it accepts, encoded again, decodes to the same text.
#include "fuzz/fuzz_support.h"
#include "tests/crx_support.h"

namespace {

// Decodes every line of `text`; false at the first refusal, which must be final.
bool decodeText(std::string_view text, bool zeroBeforePoint, std::string& out, std::string& error) {
  CompactDecoder decoder(zeroBeforePoint);
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    const std::size_t before = out.size();
    if (!decoder.decode(text.substr(start, end - start), out)) {
      FUZZ_CHECK(!decoder.error().empty() && !decoder.decode("", out) && !decoder.finish(out));
      error = decoder.error();
      return false;
    }
    FUZZ_CHECK(out.size() == before || out.back() == '\n');
  }
  const bool ok = decoder.finish(out);
  FUZZ_CHECK(ok == decoder.error().empty());
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::setUp(), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::bytes(data, size);
  const bool zero = size > 0 && (data[size - 1] & 1) != 0;
  std::string plain, error, again;
  if (!decodeText(input, zero, plain, error)) return 0;
  // The encoder takes the restored text back (or says what it cannot hold); the decoder restores it.
  const int version = compactRinexVersion(input.substr(0, input.find('\n'))) == 3 ? 3 : 1;
  const std::string compact = crx_test::encodeLines(crx_test::splitLines(plain), version, &error);
  if (!error.empty()) return 0;
  if (!decodeText(compact, zero, again, error)) fuzz::fail(("re-encoded text refused: " + error).c_str());
  FUZZ_CHECK(again == plain);
  return 0;
}
