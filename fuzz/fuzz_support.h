// Shared by the fuzz targets: fatal paths unwind instead of ending the process, the program's
// own console output is silenced, and a broken invariant aborts so that libFuzzer reports it.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "rinex/rinex.h"

namespace fuzz {

// A fatal message is an ordinary outcome of hostile input; the target catches this.
struct FatalExit {};

#ifdef __GLIBC__
inline ssize_t discard(void*, const char*, std::size_t size) { return static_cast<ssize_t>(size); }
#endif

// Every line of the program's own output is flushed with a write(2); at thousands of runs a second
// that is most of the time spent. EPOFILL_FUZZ_VERBOSE=1 keeps it, to see the messages of a reproducer.
inline void quietConsole() {
  const char* verbose = std::getenv("EPOFILL_FUZZ_VERBOSE");
  if (verbose != nullptr && verbose[0] != '\0' && verbose[0] != '0') return;
#ifdef __GLIBC__
  // Only the stdio streams are replaced, by ones that drop the text without a system call: libFuzzer
  // took its own copy of the stderr stream at start-up, and the sanitizers report on descriptor 2.
  cookie_io_functions_t sink{nullptr, discard, nullptr, nullptr};
  if (std::FILE* out = fopencookie(nullptr, "w", sink)) stdout = out;
  if (std::FILE* err = fopencookie(nullptr, "w", sink)) stderr = err;
#else
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return;
#endif
}

inline void setUp() {
  quietConsole();
  setFatalHandler([] { throw FatalExit{}; });
}

[[noreturn]] inline void fail(const char* what) {
  const char prefix[] = "\n*** fuzz invariant broken: ";
  (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
  (void)!::write(STDERR_FILENO, what, std::strlen(what));
  (void)!::write(STDERR_FILENO, "\n", 1);
  std::abort();
}
#define FUZZ_CHECK(condition) \
  do { if (!(condition)) ::fuzz::fail(#condition); } while (0)

// A target's start-up, e.g. FUZZ_INITIALIZE(fuzz::setUp()).
#define FUZZ_INITIALIZE(...) \
  extern "C" int LLVMFuzzerInitialize(int*, char***) { return __VA_ARGS__, 0; }

// A header record: the content padded to column 60, then its label.
inline std::string headerLine(std::string content, const char* label) {
  return content.append(60 - content.size(), ' ') + label + "\n";
}

inline std::string_view bytes(const uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// After a run that ended normally: every byte of the input was read, and the output holds whole lines only.
inline void checkWholeInputAndLines(const LineSource& input, std::size_t inputSize, const OutputFile& output) {
  FUZZ_CHECK(input.position() == inputSize);
  const std::string text = output.contents();
  FUZZ_CHECK(text.empty() || text.back() == '\n');
}

}  // namespace fuzz
