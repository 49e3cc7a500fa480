// The progress meter, the fatal-signal handler, the time window and run preparation, in-process.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

const std::string SCALE = "0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
const std::string PROGRESS_HEAD = "\n\nProgress:\n\n" + SCALE;

// The meter and the handler keep process state or end the process, so each case runs in a
// forked child whose streams go to temporary files and are read back exactly.
struct Child { int status = -1, signal = 0; std::string out, err; };  // status -1: a signal ended it

std::string slurp(std::FILE* file) {
  std::string text;
  if (file == nullptr) return text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

Child inChild(const std::function<void()>& body) {
  std::fflush(nullptr);
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  const pid_t pid = out != nullptr && err != nullptr ? ::fork() : -1;
  if (pid == 0) {
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    body();
    std::fflush(nullptr);
    ::_exit(0);
  }
  int raw = 0;
  if (pid < 0 || ::waitpid(pid, &raw, 0) != pid) ADD_FAILURE() << "no child";
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, WIFSIGNALED(raw) ? WTERMSIG(raw) : 0, slurp(out), slurp(err)};
}

// Progress meter. A step's value is an init's total or an update's position. The child prints
// "(r)" after every call, so the text shows which call drew which marks.
struct Step { bool init; int64_t value; int result; std::size_t marks; };
Step init(int64_t total, int result) { return {true, total, result, 0}; }
Step update(int64_t position, int result, std::size_t marks) { return {false, position, result, marks}; }

TEST(Progress, DrawsExactlyTheDueMarks) {
  // Total 570, every position from 0 to 600: a mark at each multiple of 10 up to 570.
  std::vector<Step> everyPosition{init(570, 1)};
  for (int p = 0; p <= 600; ++p) everyPosition.push_back(update(p, 1, p > 0 && p <= 570 && p % 10 == 0));
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"mark k at k*570/57", everyPosition},
      {"a jump, backwards, beyond the total",
       {init(570, 1), update(300, 1, 30), update(300, 1, 0), update(100, 1, 0), update(310, 1, 1),
        update(10000, 1, 26), update(20000, 1, 0)}},
      {"negative position ignored", {init(570, 1), update(-1, 0, 0), update(570, 1, 57)}},
      {"update before init, init with -1", {update(5, 0, 0), update(1000000, 0, 0), init(-1, 0), update(100, 0, 0)}},
      {"total 0: the full bar at once", {init(0, 1), update(0, 1, 57), update(1, 1, 0)}},
      // Totals whose last mark a single-precision quotient misses at the end of the input.
      {"total 29", {init(29, 1), update(28, 1, 55), update(29, 1, 2)}},
      {"total 116", {init(116, 1), update(115, 1, 56), update(116, 1, 1)}},
      {"input above 4 GiB", {init(10000000000LL, 1), update(5000000000LL, 1, 28), update(10000000000LL, 1, 29)}},
      {"second init restarts", {init(570, 1), update(570, 1, 57), init(570, 1), update(10, 1, 1)}},
      // A refused restart resets the count; with a negative total no position is ever due.
      {"refused restart", {init(570, 1), update(300, 1, 30), init(-1, 0), update(570, 1, 0)}},
  };
  for (const auto& [name, steps] : cases) {
    SCOPED_TRACE(name);
    std::string expected;
    for (const Step& s : steps)
      expected += (s.init && s.result ? PROGRESS_HEAD : "") + std::string(s.marks, '|') + (s.result ? "(1)" : "(0)");
    Child child = inChild([&] {
      for (const Step& s : steps)
        std::printf("(%d)", s.init ? progress_init("Progress:", s.value) : progress_update(s.value));
    });
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.out, expected);
    EXPECT_EQ(child.err, "");
  }
}

TEST(Progress, TitleIsPrintedAsText) {
  EXPECT_EQ(inChild([] { progress_init("50% of %s done", 57); }).out, "\n\n50% of %s done\n\n" + SCALE);
}

// The fatal-signal handler: one line on standard error, status 1, and the open output keeps its
// whole lines. SIGINT and SIGTERM end the run at its next line end, in normal context: the line
// then finished is kept and standard output is flushed; the others end it in the handler.
TEST(Signals, TheHandlerEndsTheRun) {
  // Raised to the installed handler, or the handler called directly; no message: not caught.
  struct Case { int number; bool deliver; const char* message; };
  const Case cases[] = {
      {SIGINT, true, "User interrupt."},               {SIGILL, true, "Illegal hardware instruction."},
      {SIGFPE, true, "Arithmetic error."},             {SIGSEGV, true, "Illegal memory reference."},
      {SIGTERM, true, "External termination signal."}, {SIGABRT, true, "Program abort."},
      {SIGHUP, false, "Unknown interrupt, code: 1"},   {0, false, "Unknown interrupt, code: 0"},
      {INT_MAX, false, "Unknown interrupt, code: 2147483647"},
      {INT_MIN, false, "Unknown interrupt, code: -2147483648"},
      {SIGHUP, true, nullptr}, {SIGUSR1, true, nullptr}, {SIGALRM, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.number) + (c.deliver ? " raised" : " called"));
    std::FILE* file = std::tmpfile();  // the child opens it again through its descriptor
    ASSERT_NE(file, nullptr);
    const std::string path = "/proc/self/fd/" + std::to_string(::fileno(file));
    Child child = inChild([&] {
      OutputFile output;
      if (!output.open(path)) return;
      output.write("first line");
      output.endLine();
      output.write("half a line");
      std::printf("buffered");  // neither flushed nor added to by the handler
      if (!c.deliver) handleFatalSignal(c.number);
      installFatalSignalHandlers();
      if (c.number == SIGABRT) std::abort();
      ::raise(c.number);
      output.endLine();
      std::fputs("handler returned", stderr);
    });
    const bool caught = c.message != nullptr, deferred = c.deliver && (c.number == SIGINT || c.number == SIGTERM);
    EXPECT_EQ(child.signal, caught ? 0 : c.number);
    EXPECT_EQ(child.status, caught ? 1 : -1);
    EXPECT_EQ(child.err, caught ? std::string("\n*** ERROR: System error occurred: ") + c.message + "\n" : "");
    EXPECT_EQ(child.out, deferred ? "buffered" : "");
    EXPECT_EQ(slurp(file), deferred ? "first line\nhalf a line\n" : caught ? "first line\n" : "");
  }
}

TEST(WindowTime, FixedColumns) {
  const std::pair<const char*, CalendarTime> cases[] = {
      {"20010828123045", {2001, 8, 28, 12, 30, 45.0}},
      {"200108281230", {2001, 8, 28, 12, 30, 0.0}},        // seconds left out
      {"2001082812304", {2001, 8, 28, 12, 30, 4.0}},       // one digit of seconds
      {"20010828123045999", {2001, 8, 28, 12, 30, 45.0}},  // columns past 14 are not read
      {"2001 828 1 2 9", {2001, 8, 28, 1, 2, 9.0}},        // leading blanks of a field
      {"2001082812xx45", {2001, 8, 28, 12, 0, 45.0}},      // no digits give 0
  };
  for (const auto& [text, calendar] : cases) {
    const GpsTime got = windowTime(text), want = gpsTimeFromCalendar(calendar);
    EXPECT_EQ(std::make_pair(got.week, got.secondsOfWeek), std::make_pair(want.week, want.secondsOfWeek)) << text;
  }
}

TEST(GapSeconds, RoundedToATenthThenCut) {
  const GpsTime base(1129, 1000.0);
  const std::pair<double, int64_t> cases[] = {{29.96, 30}, {30.94, 30},   {29.94, 29},   {30.96, 31},
                                              {0.04, 0},   {-29.96, -30}, {-30.94, -30}, {65536.0, 65536}};
  for (const auto& [seconds, expected] : cases)
    EXPECT_EQ(gapSeconds(base.shiftedBy(seconds), base), expected) << seconds;
  EXPECT_EQ(gapSeconds(GpsTime(1130, 20.0), GpsTime(1129, 604790.0)), 30);  // across a week's end
}

std::string record(std::string text, const std::string& label) {
  text.resize(60, ' ');
  return text + label + std::string(20 - label.size(), ' ') + "\n";
}

// One L1 satellite, INTERVAL 30, then the first epoch.
std::string observationFile(const std::string& comment = record("Synthetic observations", "COMMENT")) {
  std::string text = record("     2.11           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") + comment;
  for (const char* label : {"PGM / RUN BY / DATE", "MARKER NAME", "OBSERVER / AGENCY", "REC # / TYPE / VERS",
                            "ANT # / TYPE", "APPROX POSITION XYZ", "ANTENNA: DELTA H/E/N"})
    text += record("", label);
  return text + record("     1    L1", "# / TYPES OF OBSERV") + record("    30", "INTERVAL") +
         record("  2001     8    28     0     0    0.0000000     GPS", "TIME OF FIRST OBS") +
         record("", "END OF HEADER") + "  1  8 28  0  0  0.0000000  0  1G 1\n  20100000.00012\n";
}

// prepareRun starts the meter, so it runs in a child, which prints after the meter's text
// "@comments|interval|window start|window end|the next input line".
Child prepared(const std::string& text, uint16_t rate, int32_t increment, const char* start = "19700101000000",
               const char* end = "21000101000000") {
  return inChild([&] {
    RunSettings run;
    run.samplingRate = rate;
    run.increment = increment;
    run.inputSize = text.size();
    run.startText = start;
    run.endText = end;
    LineReader input;
    input.openMemory(text);
    prepareRun(input, run);
    std::string next;
    input.readLine(next);
    std::printf("@%s|%d|%d %.17g|%d %.17g|%s", run.outputHeader.comments.c_str(), run.outputHeader.interval,
                run.windowStart.week, run.windowStart.secondsOfWeek, run.windowEnd.week, run.windowEnd.secondsOfWeek,
                next.c_str());
  });
}

const std::string FIRST_EPOCH = "  1  8 28  0  0  0.0000000  0  1G 1";

TEST(Preparation, FourCommentLinesOf60CharactersAndTheDefaultWindow) {
  const std::string before = "Synthetic observations                                      "
                             "*** Observation values in this file have been interpolated. "
                             "    epofill -- Version 1.04.01 December, 2001               ";
  const std::vector<std::tuple<uint16_t, int32_t, std::string>> cases = {
      {30, 5, "    The input sample rate was 30 seconds.                   "
              "    The interpolation interval is  5 seconds.               "},
      {999, 999, "    The input sample rate was999 seconds.                   "
                 "    The interpolation interval is999 seconds.               "},
      {1, 1, "    The input sample rate was  1 seconds.                   "
             "    The interpolation interval is  1 seconds.               "},
  };
  for (const auto& [rate, n, lines] : cases) {
    Child child = prepared(observationFile(), rate, n);
    EXPECT_EQ(child.status, 0) << child.err;
    EXPECT_EQ(child.out, PROGRESS_HEAD + "@" + before + lines + "|" + std::to_string(n) +
                             "|-523 345600|6260 432000|" + FIRST_EPOCH);
    EXPECT_EQ(child.err, "");
  }
}

TEST(Preparation, TimeWindowFromTheTexts) {
  Child child = prepared(observationFile(), 30, 10, "20010828000100", "200108280002");
  EXPECT_EQ(child.out.substr(child.out.find('|')), "|10|1129 172860|1129 172920|" + FIRST_EPOCH);
}

// A COMMENT label before column 61 leaves a shorter line. The meter was started before the check.
TEST(Preparation, CommentsThatAreNotWholeLinesStopTheRun) {
  for (const auto& [rate, increment, comment] : std::vector<std::tuple<uint16_t, int32_t, std::string>>{
           {30, 5, "short COMMENT\n"}}) {
    Child child = prepared(observationFile(comment), rate, increment);
    EXPECT_EQ(child.status, 1) << rate << " " << increment;
    EXPECT_EQ(child.err, "*** ERROR: Program error.  Comment is not a multiple of 60.\n");
    EXPECT_EQ(child.out, PROGRESS_HEAD);
  }
}

}  // namespace
