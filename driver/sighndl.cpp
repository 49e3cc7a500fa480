#include <signal.h>
#include <unistd.h>

#include "driver/driver.h"

namespace {

void writeAll(const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

template <std::size_t N>
void writeText(const char (&text)[N]) {
  writeAll(text, N - 1);
}

}  // namespace

// Runs in signal context: only write(2) and _exit(2), no stdio, no allocation.
void handleFatalSignal(int signalNumber) {
  flushOutputsFromSignal();
  writeText("\n*** ERROR: System error occurred: ");
  switch (signalNumber) {
    case SIGINT: writeText("User interrupt."); break;
    case SIGILL: writeText("Illegal hardware instruction."); break;
    case SIGFPE: writeText("Arithmetic error."); break;
    case SIGSEGV: writeText("Illegal memory reference."); break;
    case SIGTERM: writeText("External termination signal."); break;
    case SIGABRT: writeText("Program abort."); break;
    default: {
      writeText("Unknown interrupt, code: ");
      char digits[16];
      std::size_t n = 0;
      bool negative = signalNumber < 0;
      unsigned value = negative ? 0u - static_cast<unsigned>(signalNumber) : static_cast<unsigned>(signalNumber);
      do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
        value /= 10;
      } while (value != 0);
      if (negative) digits[sizeof digits - 1 - n++] = '-';
      writeAll(digits + sizeof digits - n, n);
    }
  }
  writeText("\n");
  _exit(1);
}

void installFatalSignalHandlers() {
  for (int s : {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM}) ::signal(s, handleFatalSignal);
}
