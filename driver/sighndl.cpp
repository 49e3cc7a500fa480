#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "driver/driver.h"

namespace {

constexpr std::size_t MESSAGE_SIZE = 96;

// The handler's message for a signal, built without allocation; returns its length.
std::size_t signalMessage(int signalNumber, char (&message)[MESSAGE_SIZE]) {
  std::size_t length = 0;
  auto add = [&](std::string_view text) {
    for (char c : text)
      if (length < MESSAGE_SIZE) message[length++] = c;
  };
  add("\n*** ERROR: System error occurred: ");
  switch (signalNumber) {
    case SIGINT: add("User interrupt."); break;
    case SIGILL: add("Illegal hardware instruction."); break;
    case SIGFPE: add("Arithmetic error."); break;
    case SIGSEGV: add("Illegal memory reference."); break;
    case SIGTERM: add("External termination signal."); break;
    case SIGABRT: add("Program abort."); break;
    default: {
      add("Unknown interrupt, code: ");
      char digits[16];
      std::size_t n = 0;
      bool negative = signalNumber < 0;
      unsigned value = negative ? 0u - static_cast<unsigned>(signalNumber) : static_cast<unsigned>(signalNumber);
      do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
        value /= 10;
      } while (value != 0);
      if (negative) digits[sizeof digits - 1 - n++] = '-';
      add(std::string_view(digits + sizeof digits - n, n));
    }
  }
  add("\n");
  return length;
}

// The message of a termination signal, printed by the run in normal context before its fatal exit.
void reportTerminationSignal(int signalNumber) {
  char message[MESSAGE_SIZE];
  consoleErr(std::string_view(message, signalMessage(signalNumber, message)));
}

}  // namespace

// Runs in signal context. SIGINT and SIGTERM are only noted: the run ends at its next line end or
// read (pollTerminationSignal). The others arrive in the middle of an instruction that cannot go on:
// only write(2) and _exit(2) here, no stdio, no allocation; a plain output gets the whole lines of
// its buffer unless the buffer was being changed, a compressed output stays as its last complete
// gzip member or Compact RINEX epoch left it.
void handleFatalSignal(int signalNumber) {
  if (signalNumber == SIGINT || signalNumber == SIGTERM) {
    noteTerminationSignal(signalNumber);
    return;
  }
  flushOutputsFromSignal();
  char message[MESSAGE_SIZE];
  const char* text = message;
  std::size_t length = signalMessage(signalNumber, message);
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n <= 0) break;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
  _exit(1);
}

void installFatalSignalHandlers() {
  setTerminationReporter(reportTerminationSignal);
  struct sigaction action {};
  action.sa_handler = handleFatalSignal;
  // No SA_RESTART: a read or write blocked when a termination signal comes returns EINTR, so that the
  // run gets to act on it. The other fatal signals wait while the handler runs.
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM}) sigaddset(&action.sa_mask, s);
  for (int s : {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM}) ::sigaction(s, &action, nullptr);
}
