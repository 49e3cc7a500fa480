#include "driver/driver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string PROGRESS_SCALE = "0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100";
const std::string PROGRESS_HEAD = "\n\nProgress:\n\n" + PROGRESS_SCALE + "     % Completed\n";

// ---------------------------------------------------------------------------------------------
// The meter and the handler keep process state or end the process, so each case runs in a
// forked child whose streams go to temporary files and are read back exactly.

struct Child {
  bool exited = false;
  int status = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

std::string slurp(std::FILE* file) {
  std::string text;
  std::fseek(file, 0, SEEK_SET);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

Child inChild(const std::function<void()>& body) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Child result;
  if (out == nullptr || err == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return result;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
  }
  int raw = 0;
  if (pid < 0 || ::waitpid(pid, &raw, 0) != pid) ADD_FAILURE() << "fork/wait failed";
  result.exited = WIFEXITED(raw);
  result.status = result.exited ? WEXITSTATUS(raw) : -1;
  result.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  result.out = slurp(out);
  result.err = slurp(err);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Progress meter. The child prints "(r)" after every call, so the text shows which call drew
// which marks.

struct Step {
  bool init;
  int64_t value;  // the total of an init, the position of an update
  int result;
  int newMarks;
};

Step init(int64_t total, int result) { return {true, total, result, 0}; }
Step update(int64_t position, int result, int marks) { return {false, position, result, marks}; }

struct MeterCase {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const MeterCase& c, std::ostream* os) { *os << c.name; }

// Total 570, every position from 0 to 600: a mark at each multiple of 10 up to 570.
std::vector<Step> everyPosition() {
  std::vector<Step> steps{init(570, 1)};
  for (int p = 0; p <= 600; ++p) steps.push_back(update(p, 1, p > 0 && p <= 570 && p % 10 == 0 ? 1 : 0));
  return steps;
}

const std::vector<MeterCase> meterCases = {
    {"mark k at k*570/57", everyPosition()},
    {"single jump to 300", {init(570, 1), update(300, 1, 30), update(300, 1, 0)}},
    {"beyond the total", {init(570, 1), update(10000, 1, 57), update(20000, 1, 0)}},
    {"backwards draws nothing", {init(570, 1), update(300, 1, 30), update(100, 1, 0), update(310, 1, 1)}},
    {"negative position ignored", {init(570, 1), update(-1, 0, 0), update(570, 1, 57)}},
    {"update before init", {update(5, 0, 0), update(0, 0, 0), update(1000000, 0, 0)}},
    {"init with -1", {init(-1, 0), update(100, 0, 0), update(0, 0, 0)}},
    {"total 0: full bar at once", {init(0, 1), update(0, 1, 57), update(1, 1, 0)}},
    {"total 1000", {init(1000, 1), update(17, 1, 0), update(18, 1, 1), update(999, 1, 55), update(1000, 1, 1)}},
    // Totals whose last mark a single-precision quotient misses at the end of the input.
    {"total 29 ends full", {init(29, 1), update(28, 1, 55), update(29, 1, 2)}},
    {"total 116 ends full", {init(116, 1), update(115, 1, 56), update(116, 1, 1)}},
    {"input above 4 GiB", {init(10000000000LL, 1), update(5000000000LL, 1, 28), update(10000000000LL, 1, 29)}},
    {"second init restarts", {init(570, 1), update(570, 1, 57), init(570, 1), update(10, 1, 1)}},
    // A refused restart resets the count; with a negative total no position is ever due.
    {"refused restart of a running meter", {init(570, 1), update(300, 1, 30), init(-1, 0), update(570, 1, 0)}},
};

class Meter : public testing::TestWithParam<MeterCase> {};

TEST_P(Meter, DrawsExactlyTheDueMarks) {
  const std::vector<Step>& steps = GetParam().steps;
  std::string expected;
  for (const Step& s : steps) {
    if (s.init && s.result == 1) expected += PROGRESS_HEAD;
    expected += std::string(static_cast<std::size_t>(s.newMarks), '|') + "(" + std::to_string(s.result) + ")";
  }
  Child child = inChild([&] {
    for (const Step& s : steps)
      std::printf("(%d)", s.init ? progress_init("Progress:", s.value) : progress_update(s.value));
  });
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.out, expected);
  EXPECT_EQ(child.err, "");
}

INSTANTIATE_TEST_SUITE_P(Progress, Meter, testing::ValuesIn(meterCases),
                         [](const testing::TestParamInfo<MeterCase>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(Progress, TitleIsPrintedAsText) {
  Child child = inChild([] { progress_init("50% of %s done", 57); });
  EXPECT_EQ(child.out, "\n\n50% of %s done\n\n" + PROGRESS_SCALE + "     % Completed\n");
  EXPECT_EQ(PROGRESS_SCALE.size(), 57u);
}

// ---------------------------------------------------------------------------------------------
// Fatal-signal handler

struct SignalCase {
  int number;
  bool deliver;  // raised to the installed handler, or the handler called directly
  const char* message;
};

class Handler : public testing::TestWithParam<SignalCase> {};

TEST_P(Handler, OneLineOnStandardErrorAndStatus1) {
  const SignalCase& c = GetParam();
  Child child = inChild([&] {
    std::printf("buffered");  // neither flushed nor added to by the handler
    if (!c.deliver) handleFatalSignal(c.number);
    installFatalSignalHandlers();
    if (c.number == SIGABRT)
      std::abort();
    else
      ::raise(c.number);
    std::fputs("handler returned", stderr);
  });
  ASSERT_TRUE(child.exited) << "ended by signal " << child.signal;
  EXPECT_EQ(child.status, 1);
  EXPECT_EQ(child.err, std::string("\n*** ERROR: System error occurred: ") + c.message + "\n");
  EXPECT_EQ(child.out, "");
}

INSTANTIATE_TEST_SUITE_P(Signals, Handler,
                         testing::Values(SignalCase{SIGINT, true, "User interrupt."},
                                         SignalCase{SIGILL, true, "Illegal hardware instruction."},
                                         SignalCase{SIGFPE, true, "Arithmetic error."},
                                         SignalCase{SIGSEGV, true, "Illegal memory reference."},
                                         SignalCase{SIGTERM, true, "External termination signal."},
                                         SignalCase{SIGABRT, true, "Program abort."},
                                         SignalCase{SIGABRT, false, "Program abort."},
                                         SignalCase{SIGHUP, false, "Unknown interrupt, code: 1"},
                                         SignalCase{0, false, "Unknown interrupt, code: 0"},
                                         SignalCase{99, false, "Unknown interrupt, code: 99"},
                                         SignalCase{2147483647, false, "Unknown interrupt, code: 2147483647"},
                                         SignalCase{-7, false, "Unknown interrupt, code: -7"}));

TEST(Signals, AsADeathTest) {
  EXPECT_EXIT(handleFatalSignal(SIGABRT), testing::ExitedWithCode(1), "System error occurred: Program abort\\.");
}

TEST(Signals, OthersAreNotCaught) {
  for (int number : {SIGHUP, SIGUSR1, SIGALRM}) {
    Child child = inChild([&] {
      installFatalSignalHandlers();
      ::raise(number);
    });
    EXPECT_EQ(child.signal, number);
    EXPECT_EQ(child.err, "");
  }
}

TEST(Signals, TheOpenOutputKeepsItsWholeLines) {
  char dir[] = "/tmp/epofill-driver-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/out.obs";
  Child child = inChild([&] {
    OutputFile output;
    if (!output.open(path)) return;
    output.write("first line");
    output.endLine();
    output.write("half a line");
    installFatalSignalHandlers();
    ::raise(SIGTERM);
  });
  EXPECT_EQ(child.status, 1);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(slurp(file), "first line\n");
  std::remove(path.c_str());
  ::rmdir(dir);
}

// ---------------------------------------------------------------------------------------------
// Time window texts and gap lengths

TEST(WindowTime, DefaultTexts) {
  GpsTime start = windowTime("19700101000000");
  EXPECT_EQ(start.week, -523);
  EXPECT_EQ(start.secondsOfWeek, 345600.0);
  GpsTime end = windowTime("21000101000000");
  EXPECT_EQ(end.week, 6260);
  EXPECT_EQ(end.secondsOfWeek, 432000.0);
}

TEST(WindowTime, FixedColumns) {
  struct Case {
    const char* text;
    CalendarTime expected;
  };
  const Case cases[] = {
      {"20010828123045", {2001, 8, 28, 12, 30, 45.0}},
      {"200108281230", {2001, 8, 28, 12, 30, 0.0}},        // seconds left out
      {"2001082812304", {2001, 8, 28, 12, 30, 4.0}},       // one digit of seconds
      {"20010828123045999", {2001, 8, 28, 12, 30, 45.0}},  // columns past 14 are not read
      {"2001082812304.5", {2001, 8, 28, 12, 30, 4.0}},
      {"2001 828 1 2 9", {2001, 8, 28, 1, 2, 9.0}},        // leading blanks of a field
      {"2001082812xx45", {2001, 8, 28, 12, 0, 45.0}},      // no digits give 0
  };
  for (const Case& c : cases) {
    GpsTime got = windowTime(c.text), want = gpsTimeFromCalendar(c.expected);
    EXPECT_EQ(got.week, want.week) << c.text;
    EXPECT_EQ(got.secondsOfWeek, want.secondsOfWeek) << c.text;
  }
  GpsTime t = windowTime("20010828123045");
  EXPECT_EQ(t.week, 1129);
  EXPECT_EQ(t.secondsOfWeek, 2 * 86400.0 + 12 * 3600.0 + 30 * 60.0 + 45.0);
}

TEST(GapSeconds, RoundedToATenthThenCut) {
  const GpsTime base(1129, 1000.0);
  const std::pair<double, int64_t> cases[] = {{29.96, 30}, {30.94, 30},   {29.94, 29},   {30.96, 31},
                                              {0.04, 0},   {-29.96, -30}, {-30.94, -30}, {65536.0, 65536}};
  for (const auto& [seconds, expected] : cases)
    EXPECT_EQ(gapSeconds(base.shiftedBy(seconds), base), expected) << seconds;
  EXPECT_EQ(gapSeconds(GpsTime(1130, 20.0), GpsTime(1129, 604790.0)), 30);  // across a week's end
}

// ---------------------------------------------------------------------------------------------
// Run preparation on a file in memory. prepareRun starts the meter, so it runs in a child, which
// prints what it built as "key=value" lines after a '@'.

std::string record(const std::string& text, const std::string& label) {
  std::string line = text;
  line.resize(60, ' ');
  return line + label + std::string(20 - label.size(), ' ') + "\n";
}

// One L1 satellite, the header's INTERVAL text, two epochs 30 s apart.
std::string observationFile(const std::string& interval,
                            const std::string& comment = record("Synthetic observations", "COMMENT")) {
  return record("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") +
         record("gen_rinex           epofill tests       06-DEC-26 12:00", "PGM / RUN BY / DATE") + comment +
         record("SYNT", "MARKER NAME") + record("tester              epofill", "OBSERVER / AGENCY") +
         record("12345               SYNTHETIC RECEIVER  1.0", "REC # / TYPE / VERS") +
         record("67890               SYNTHETIC ANTENNA", "ANT # / TYPE") +
         record("  4027881.3000   306998.7500  4919498.6000", "APPROX POSITION XYZ") +
         record("        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
         record("     1     1", "WAVELENGTH FACT L1/2") + record("     1    L1", "# / TYPES OF OBSERV") +
         record(interval, "INTERVAL") +
         record("  2001     8    28     0     0    0.0000000     GPS", "TIME OF FIRST OBS") +
         record("", "END OF HEADER") +
         "  1  8 28  0  0  0.0000000  0  1G 1\n  20100000.00012\n"
         "  1  8 28  0  0 30.0000000  0  1G 1\n  20100031.66702\n";
}

struct Prepared {
  Child child;
  std::string meter;  // what came before the '@': the meter's text
  std::map<std::string, std::string> fields;
};

Prepared prepare(const std::string& text, uint16_t rate, int32_t increment, const std::string& startText = "",
                 const std::string& endText = "") {
  Prepared p;
  p.child = inChild([&] {
    RunSettings run;
    run.samplingRate = rate;
    run.increment = increment;
    if (!startText.empty()) run.startText = startText;
    if (!endText.empty()) run.endText = endText;
    run.inputSize = text.size();
    LineReader input;
    input.openMemory(text);
    prepareRun(input, run);
    std::string next;
    input.readLine(next);
    const RINEXHeader& in = run.inputHeader;
    const RINEXHeader& o = run.outputHeader;
    const bool same = o.markerName == in.markerName && o.receiverType == in.receiverType &&
                      o.version == in.version && o.observationTypeCount == in.observationTypeCount &&
                      o.firstObservation.year == in.firstObservation.year;
    std::printf("@comments=%s\ninterval=%d\ninputInterval=%d\ninputComments=%s\nsame=%d\nstart=%d %.17g\n"
                "end=%d %.17g\nnext=%s\n",
                o.comments.c_str(), static_cast<int>(o.interval), static_cast<int>(in.interval),
                in.comments.c_str(), same, run.windowStart.week, run.windowStart.secondsOfWeek, run.windowEnd.week,
                run.windowEnd.secondsOfWeek, next.c_str());
  });
  const std::string& out = p.child.out;
  std::size_t at = out.find('@');
  p.meter = out.substr(0, at);
  for (std::size_t b = at, e; b != std::string::npos && (e = out.find('\n', b + 1)) != std::string::npos; b = e) {
    std::string line = out.substr(b + 1, e - b - 1);
    std::size_t eq = line.find('=');
    p.fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return p;
}

const std::string SYNTHETIC_COMMENT = "Synthetic observations                                      ";
const std::string INTERPOLATED_LINE = "*** Observation values in this file have been interpolated. ";
const std::string BANNER_LINE = "    epofill -- Version 1.04.01 December, 2001               ";

TEST(Preparation, FourCommentLinesOf60Characters) {
  struct Case {
    uint16_t rate;
    int32_t increment;
    const char* rateLine;
    const char* intervalLine;
  };
  const Case cases[] = {
      {30, 5, "    The input sample rate was 30 seconds.                   ",
       "    The interpolation interval is  5 seconds.               "},
      {999, 999, "    The input sample rate was999 seconds.                   ",
       "    The interpolation interval is999 seconds.               "},
      {1, 1, "    The input sample rate was  1 seconds.                   ",
       "    The interpolation interval is  1 seconds.               "},
  };
  for (const Case& c : cases) {
    Prepared p = prepare(observationFile("    30"), c.rate, c.increment);
    EXPECT_EQ(p.child.status, 0) << p.child.err;
    EXPECT_EQ(p.fields["comments"], SYNTHETIC_COMMENT + INTERPOLATED_LINE + BANNER_LINE + c.rateLine + c.intervalLine);
    EXPECT_EQ(p.fields["interval"], std::to_string(c.increment));
    EXPECT_EQ(p.meter, PROGRESS_HEAD);
    EXPECT_EQ(p.child.err, "");
  }
  Prepared p = prepare(observationFile("    30"), 30, 10);
  EXPECT_EQ(p.fields["inputInterval"], "30");
  EXPECT_EQ(p.fields["inputComments"], SYNTHETIC_COMMENT);
  EXPECT_EQ(p.fields["same"], "1");
  EXPECT_EQ(p.fields["next"], "  1  8 28  0  0  0.0000000  0  1G 1");  // left at the first epoch
}

TEST(Preparation, TimeWindowFromTheTexts) {
  Prepared p = prepare(observationFile("    30"), 30, 10, "20010828000100", "200108280002");
  EXPECT_EQ(p.fields["start"], "1129 172860");
  EXPECT_EQ(p.fields["end"], "1129 172920");
  p = prepare(observationFile("    30"), 30, 10);
  EXPECT_EQ(p.fields["start"], "-523 345600");
  EXPECT_EQ(p.fields["end"], "6260 432000");
}

TEST(Preparation, CommentsThatAreNotWholeLinesStopTheRun) {
  struct Case {
    std::string text;
    uint16_t rate;
    int32_t increment;
  };
  const Case cases[] = {
      {observationFile("  1000"), 1000, 1000},  // "%3d" widens the lines to 61 characters
      {observationFile("    30"), 65535, 5},
      {observationFile("    30", "short COMMENT\n"), 30, 5},  // the label before column 61
  };
  for (const Case& c : cases) {
    Prepared p = prepare(c.text, c.rate, c.increment);
    EXPECT_EQ(p.child.status, 1) << c.rate;
    EXPECT_EQ(p.child.err, "*** ERROR: Program error.  Comment is not a multiple of 60.\n");
    EXPECT_EQ(p.child.out, PROGRESS_HEAD);  // the meter was started before the check
  }
}

}  // namespace
