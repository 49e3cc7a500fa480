#include "driver/driver.h"

#include <signal.h>
#include <unistd.h>

#include <functional>

#include "e2e_support.h"

namespace {

std::string slurp(std::FILE* f) { std::string t = e2e::readFile("/proc/self/fd/" + std::to_string(::fileno(f))); return std::fclose(f), t; }

e2e::Result inChild(const std::function<void()>& body) {  // status: the exit status, or minus the signal that ended it
  std::FILE *out = (std::fflush(nullptr), std::tmpfile()), *err = std::tmpfile();
  int raw = 0;
  if (const pid_t pid = ::fork(); pid == 0) ::dup2(::fileno(out), 1), ::dup2(::fileno(err), 2), body(), std::fflush(nullptr), ::_exit(0);
  else ::waitpid(pid, &raw, 0);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw), slurp(out), slurp(err)};
}

// Mark k is due at k * total / 57 in integers (a float quotient misses totals 29, 116); 0 total: all at once.
TEST(Progress, DrawsExactlyTheDueMarks) {
  for (int64_t total = 0; total <= 130; ++total) {
    std::string expected = "\n\nP\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
    for (int64_t p = 0, shown = 0, due = 0; p <= total + 2; shown = due, ++p)
      due = p >= total ? 57 : p * 57 / total, expected += std::string(static_cast<std::size_t>(due - shown), '|') + ",";
    EXPECT_EQ(inChild([total] {
                progress_init("P", total);
                for (int64_t p = 0; p <= total + 2; ++p) progress_update(p > total + 1 ? total / 2 : p), std::printf(",");  // then back
              }).out, expected) << total;
  }
}

// Status 1, one line on standard error, whole lines kept; SIGINT, SIGTERM at the next line end, stdout flushed; others at once.
TEST(Signals, TheHandlerEndsTheRun) {
  const struct { int number; bool deliver; const char* message; } cases[] = {
      {SIGINT, true, "User interrupt."}, {SIGILL, true, "Illegal hardware instruction."}, {SIGFPE, true, "Arithmetic error."},
      {SIGSEGV, true, "Illegal memory reference."}, {SIGTERM, true, "External termination signal."}, {SIGABRT, true, "Program abort."},
      {SIGHUP, false, "Unknown interrupt, code: 1"}, {-2147483647 - 1, false, "Unknown interrupt, code: -2147483648"},
      {SIGHUP, true, nullptr}, {SIGUSR1, true, nullptr}};  // no message: not caught
  for (const auto& c : cases) {
    std::FILE* file = std::tmpfile();
    const e2e::Result child = inChild([&] {
      OutputFile output;
      ::signal(SIGHUP, SIG_DFL);
      if (!output.open("/proc/self/fd/" + std::to_string(::fileno(file)))) return;
      output.write("first line"), output.endLine(), output.write("half a line"), std::printf("buffered");
      c.deliver ? installFatalSignalHandlers() : handleFatalSignal(c.number), c.number == SIGABRT ? std::abort() : void(::raise(c.number));
      output.endLine();
    });
    const bool caught = c.message != nullptr, deferred = c.deliver && (c.number == SIGINT || c.number == SIGTERM);
    EXPECT_EQ(std::make_tuple(child.status, child.err, child.out, slurp(file)),
              std::make_tuple(caught ? 1 : -c.number, caught ? "\n*** ERROR: System error occurred: " + std::string(c.message) + "\n" : "",
                              deferred ? "buffered" : "", deferred ? "first line\nhalf a line\n" : caught ? "first line\n" : "")) << c.number;
  }
}

TEST(WindowTime, FixedColumnsAndGapSeconds) {  // seconds: one digit or none, more ignored; gaps rounded to 0.1 s, then cut
  for (const auto& [text, seconds] : {std::pair{"200108281230", 0.0}, {"2001082812304", 4.0}, {"20010828123045999", 45.0}})
    EXPECT_EQ(secondsDifference(windowTime(text), gpsTimeFromCalendar({2001, 8, 28, 12, 30, seconds})), 0.0) << text;
  const GpsTime base(1129, 604780.0);  // the gaps end in the next week
  for (const auto& [seconds, expected] : {std::pair{29.96, 30}, {30.94, 30}, {29.94, 29}, {30.96, 31}, {-29.96, -30}, {-30.94, -30}})
    EXPECT_EQ(gapSeconds(base.shiftedBy(seconds), base), expected) << seconds;
}

}  // namespace
