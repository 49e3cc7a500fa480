// The progress meter, the fatal-signal handler, the time window texts and gap lengths, in-process.
#include "driver/driver.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <functional>

#include "e2e_support.h"

namespace {

std::string slurp(std::FILE* file) {
  const std::string text = e2e::readFile("/proc/self/fd/" + std::to_string(::fileno(file)));
  std::fclose(file);
  return text;
}

// The meter and the handler keep process state or end the process: each case runs in a forked
// child whose streams are read back. status -1: a signal ended it.
struct Child { int status = -1, signal = 0; std::string out, err; };
Child inChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    body();
    std::fflush(nullptr);
    ::_exit(0);
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, WIFSIGNALED(raw) ? WTERMSIG(raw) : 0, slurp(out), slurp(err)};
}

// Mark k is due at position k * total / 57, computed in integers so that the last one comes exactly
// at the end (a float quotient misses it for totals 29 and 116); a total of 0 is due at once.
TEST(Progress, DrawsExactlyTheDueMarks) {
  const std::string head = "\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
  std::vector<int64_t> totals = {570, 10000000000LL, 0};
  for (int64_t t = 1; t <= 130; ++t) totals.push_back(t);
  auto positions = [](int64_t total) {  // half-way, back to a quarter, then every step to the end and past it
    std::vector<int64_t> p = {total / 2, total / 4};
    for (int64_t q = -1; q <= total + 1; q += std::max<int64_t>(1, total / 300)) p.push_back(q);
    return p;
  };
  std::string expected = "(0)(0)(0)";  // no meter before the first init, nor after a refused one
  for (int64_t total : totals) {
    expected += head + "(1)";
    int shown = 0;
    for (int64_t p : positions(total)) {
      const int due = p < 0 ? shown : p >= total ? 57 : static_cast<int>(p * 57 / total);
      expected += std::string(static_cast<std::size_t>(std::max(0, due - shown)), '|') + (p < 0 ? "(0)" : "(1)");
      shown = std::max(shown, due);
    }
    expected += "(1)(0)(1)";  // a position back draws nothing; after a refused init no mark is due
  }
  const Child child = inChild([&] {
    for (int r : {progress_update(5), progress_init("Progress:", -1), progress_update(100)}) std::printf("(%d)", r);
    for (int64_t total : totals) {
      std::printf("(%d)", progress_init("Progress:", total));
      for (int64_t p : positions(total)) std::printf("(%d)", progress_update(p));
      for (int r : {progress_update(total / 2), progress_init("Progress:", -1), progress_update(total)}) std::printf("(%d)", r);
    }
  });
  EXPECT_EQ(child.out, expected);
}

// One line on standard error, status 1, and the open output keeps its whole lines; signals without
// a message are not caught. SIGINT and SIGTERM end the run at its next line end, in normal context:
// the line then finished is kept and standard output is flushed; the others end it in the handler.
TEST(Signals, TheHandlerEndsTheRun) {
  const struct { int number; bool deliver; const char* message; } cases[] = {
      {SIGINT, true, "User interrupt."},               {SIGILL, true, "Illegal hardware instruction."},
      {SIGFPE, true, "Arithmetic error."},             {SIGSEGV, true, "Illegal memory reference."},
      {SIGTERM, true, "External termination signal."}, {SIGABRT, true, "Program abort."},
      {SIGHUP, false, "Unknown interrupt, code: 1"},   {INT_MIN, false, "Unknown interrupt, code: -2147483648"},
      {SIGHUP, true, nullptr},                         {SIGUSR1, true, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    std::FILE* file = std::tmpfile();
    const Child child = inChild([&] {
      ::signal(SIGHUP, SIG_DFL);
      OutputFile output;
      if (!output.open("/proc/self/fd/" + std::to_string(::fileno(file)))) return;
      output.write("first line"), output.endLine(), output.write("half a line");
      std::printf("buffered");
      if (!c.deliver) handleFatalSignal(c.number);
      installFatalSignalHandlers();
      if (c.number == SIGABRT) std::abort();
      ::raise(c.number);
      output.endLine();
    });
    const bool caught = c.message != nullptr, deferred = c.deliver && (c.number == SIGINT || c.number == SIGTERM);
    EXPECT_EQ(child.signal, caught ? 0 : c.number);
    EXPECT_EQ(child.status, caught ? 1 : -1);
    EXPECT_EQ(child.err, caught ? std::string("\n*** ERROR: System error occurred: ") + c.message + "\n" : "");
    EXPECT_EQ(child.out, deferred ? "buffered" : "");
    EXPECT_EQ(slurp(file), deferred ? "first line\nhalf a line\n" : caught ? "first line\n" : "");
  }
}

TEST(WindowTime, FixedColumnsAndGapSeconds) {
  const std::pair<const char*, CalendarTime> texts[] = {
      {"20010828123045", {2001, 8, 28, 12, 30, 45.0}},     {"200108281230", {2001, 8, 28, 12, 30, 0.0}},
      {"2001082812304", {2001, 8, 28, 12, 30, 4.0}},       {"20010828123045999", {2001, 8, 28, 12, 30, 45.0}},
      {"2001 828 1 2 9", {2001, 8, 28, 1, 2, 9.0}},        {"2001082812xx45", {2001, 8, 28, 12, 0, 45.0}},
  };
  for (const auto& [text, calendar] : texts)
    EXPECT_EQ(secondsDifference(windowTime(text), gpsTimeFromCalendar(calendar)), 0.0) << text;
  // Rounded to a tenth of a second, then cut; across a week's end too.
  const GpsTime base(1129, 1000.0);
  const std::pair<double, int64_t> gaps[] = {{29.96, 30}, {30.94, 30}, {29.94, 29}, {30.96, 31}, {-29.96, -30}, {-30.94, -30}};
  for (const auto& [seconds, expected] : gaps) EXPECT_EQ(gapSeconds(base.shiftedBy(seconds), base), expected) << seconds;
  EXPECT_EQ(gapSeconds(GpsTime(1130, 20.0), GpsTime(1129, 604790.0)), 30);
}

}  // namespace
