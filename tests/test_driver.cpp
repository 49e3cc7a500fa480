// The progress meter, the fatal-signal handler, the time window texts and gap lengths, in-process.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string HEAD = "\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";

std::string slurp(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
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

// Mark k is due at position k * total / 57, computed in integers so that the last one comes
// exactly at the end (a float quotient misses it for totals 29 and 116).
TEST(Progress, DrawsExactlyTheDueMarks) {
  struct Step { bool init; int64_t value; int result, marks; };
  std::vector<Step> every{{true, 570, 1, 0}};
  for (int p = -1; p <= 600; ++p) every.push_back({false, p, p >= 0, p > 0 && p <= 570 && p % 10 == 0});
  const std::vector<std::vector<Step>> cases = {
      every,
      {{true, 570, 1, 0}, {false, 300, 1, 30}, {false, 100, 1, 0}, {false, 310, 1, 1}, {false, 10000, 1, 26}},
      {{false, 5, 0, 0}, {true, -1, 0, 0}, {false, 100, 0, 0}},
      {{true, 0, 1, 0}, {false, 0, 1, 57}, {false, 1, 1, 0}},
      {{true, 29, 1, 0}, {false, 28, 1, 55}, {false, 29, 1, 2}},
      {{true, 116, 1, 0}, {false, 115, 1, 56}, {false, 116, 1, 1}},
      {{true, 10000000000LL, 1, 0}, {false, 5000000000LL, 1, 28}, {false, 10000000000LL, 1, 29}},
      {{true, 570, 1, 0}, {false, 300, 1, 30}, {true, -1, 0, 0}, {false, 570, 1, 0}, {true, 570, 1, 0}, {false, 10, 1, 1}},
  };
  for (const std::vector<Step>& steps : cases) {
    std::string expected;
    for (const Step& s : steps)
      expected += (s.init && s.result ? HEAD : "") + std::string(static_cast<std::size_t>(s.marks), '|') + (s.result ? "(1)" : "(0)");
    const Child child = inChild([&] {
      for (const Step& s : steps) std::printf("(%d)", s.init ? progress_init("Progress:", s.value) : progress_update(s.value));
    });
    EXPECT_EQ(child.out, expected) << steps.size();
  }
}

// One line on standard error, status 1, and the open output keeps its whole lines; signals without
// a message are not caught. SIGINT and SIGTERM end the run at its next line end, in normal context:
// the line then finished is kept and standard output is flushed; the others end it in the handler.
TEST(Signals, TheHandlerEndsTheRun) {
  struct Case { int number; bool deliver; const char* message; };
  const Case cases[] = {
      {SIGINT, true, "User interrupt."},               {SIGILL, true, "Illegal hardware instruction."},
      {SIGFPE, true, "Arithmetic error."},             {SIGSEGV, true, "Illegal memory reference."},
      {SIGTERM, true, "External termination signal."}, {SIGABRT, true, "Program abort."},
      {SIGHUP, false, "Unknown interrupt, code: 1"},   {INT_MIN, false, "Unknown interrupt, code: -2147483648"},
      {SIGHUP, true, nullptr},                         {SIGUSR1, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    std::FILE* file = std::tmpfile();
    const std::string path = "/proc/self/fd/" + std::to_string(::fileno(file));
    const Child child = inChild([&] {
      ::signal(SIGHUP, SIG_DFL);
      OutputFile output;
      if (!output.open(path)) return;
      output.write("first line");
      output.endLine();
      output.write("half a line");
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
  // Rounded to a tenth of a second, then cut.
  const GpsTime base(1129, 1000.0);
  const std::pair<double, int64_t> gaps[] = {{29.96, 30}, {30.94, 30}, {29.94, 29}, {30.96, 31}, {-29.96, -30}, {-30.94, -30}};
  for (const auto& [seconds, expected] : gaps) EXPECT_EQ(gapSeconds(base.shiftedBy(seconds), base), expected) << seconds;
  EXPECT_EQ(gapSeconds(GpsTime(1130, 20.0), GpsTime(1129, 604790.0)), 30);
}

}  // namespace
