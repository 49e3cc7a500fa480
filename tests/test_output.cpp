// The forms of the output (plain, gzip, Compact RINEX, standard output) and the fatal paths that
// must leave each of them decodable to whole lines: a termination signal, a full disk, and signals
// that come at any point while the output buffer grows.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "rinex/crx.h"
#include "tests/e2e_support.h"

namespace {

const std::size_t NPOS = std::string::npos;

TEST(OutputForm, ToldByTheName) {
  const struct { const char* name; bool out, gzip, compact; } cases[] = {
      {"-", true, false, false},          {"out.obs", false, false, false},    {"out.obs.gz", false, true, false},
      {"abcd001a.21d", false, false, true}, {"ABCD0010.95D.gz", false, true, true}, {"dir/abcd3650.21d", false, false, true},
      {"a.crx", false, false, true},      {"dir/a.CRX.gz", false, true, true},  {".crx", false, false, false},
      {"abcd001a.21o", false, false, false}, {"abcd001a.21d.Z", false, false, false}, {"abc001a.21d", false, false, false},
      {"abcd0x1a.21d", false, false, false}, {"abcd001a.2xd", false, false, false}, {"x.21d/out.obs", false, false, false},
      {"-.gz", false, true, false},       {"out.gzip", false, false, false},  {"a.crx.obs", false, false, false},
  };
  for (const auto& c : cases) {
    const OutputForm form = outputFormOf(c.name);
    EXPECT_EQ(form.standardOutput, c.out) << c.name;
    EXPECT_EQ(form.gzip, c.gzip) << c.name;
    EXPECT_EQ(form.compact, c.compact) << c.name;
  }
}

bool haveCodec() {
  return compactRinexVersion("1.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE") == 1;
}

// The RINEX text a Compact RINEX text stands for; "(error: ...)" when it does not decode.
std::string decodeCompact(const std::string& text) {
  CompactDecoder decoder(true);
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == NPOS) end = text.size();
    if (!decoder.decode(std::string_view(text).substr(at, end - at), out)) return "(error: " + decoder.error() + ")";
    at = end + 1;
  }
  return decoder.finish(out) ? out : "(error: " + decoder.error() + ")";
}

// The lines of a text without their trailing blanks, which Compact RINEX does not keep.
std::string trimmed(const std::string& text) {
  std::string out;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    std::size_t length = end - at;
    while (length > 0 && text[at + length - 1] == ' ') --length;
    out.append(text, at, length);
    if (end < text.size()) out.push_back('\n');
  }
  return out;
}
// The plain text a file of the output must decode to.
std::string plainFor(const std::string& name, const std::string& plain) {
  return outputFormOf(name).compact ? trimmed(plain) : plain;
}

// What a file of the output holds, decoded as its name says (a Compact RINEX one trimmed); "(gzip
// failed)" when gzip refuses it.
std::string decoded(const e2e::Scratch& dir, const std::string& name) {
  std::string text = e2e::readFile(dir.path(name));
  const OutputForm form = outputFormOf(name);
  if (form.gzip) {
    e2e::Result r = e2e::runShell(dir.dir(), "gzip -dc " + e2e::quote(name));
    text = r.status == 0 ? r.out : "(gzip failed: " + r.err + ")";
  }
  return form.compact ? trimmed(decodeCompact(text)) : text;
}

// Forms written besides plain; the Compact RINEX ones only once the codec is built in.
std::vector<std::string> forms() {
  std::vector<std::string> names{"out.obs.gz"};
  if (haveCodec()) names.insert(names.end(), {"out.crx", "outs0010.01d", "out.crx.gz"});
  return names;
}

void noteSkippedCompact() {
  if (!haveCodec()) std::printf("[  NOTE    ] Compact RINEX outputs not checked: this build has no Compact RINEX codec\n");
}

// Every real file, densified into every form, decodes to the plain output; "-o -" writes exactly the
// plain output on standard output and its reports on standard error.
TEST(OutputForms, RoundTripsOfTheRealFiles) {
  const std::string rinex = e2e::sharedDataDir();
  if (rinex.empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file round trips skipped";
  noteSkippedCompact();
  const struct { const char* file; int increment; } cases[] = {
      {"rinex/07590920.05o", 5}, {"rinex/30400920.05o", 1}, {"rinex/arlm200a.15o", 5},
      {"rinex/test_dfix_txau047.ed.12o", 5}, {"rinex/test_dfix_tower239.ed.15o", 1}, {"rinex/faa1170b00.16o", 1},
      {"rinex/test_input_rinex_obs_RinexObsFile.06o", 5}, {"rinex/demo.10o", 5}, {"rinex/14601736.18o", 5},
      {"rinex/npaz3550.21o", 1}, {"rinex/wsra0010.21o", 5}, {"rinex/KOSG0010.95O", 5},
      {"crx/aopr0010.17o", 1}, {"crx/barq071q.19o", 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string input = rinex + "/../" + c.file;
    if (!e2e::exists(input)) continue;
    e2e::Scratch dir;
    const std::string n = std::to_string(c.increment);
    const e2e::Result plain = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "out.obs", "-n", n});
    if (plain.status != 0) continue;  // files the program refuses are another test's matter
    const std::string expected = e2e::readFile(dir.path("out.obs"));
    for (const std::string& name : forms()) {
      SCOPED_TRACE(name);
      const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", input, "-o", name, "-n", n});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(decoded(dir, name) == plainFor(name, expected)) << "the decoded output differs from the plain one";
    }
    const e2e::Result piped = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "-", "-n", n});
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.out == expected) << "standard output differs from the plain output";
    std::string reports = plain.out;
    reports.replace(reports.find("Output File Name: out.obs"), 25, "Output File Name: -");
    // The reports and the warnings, each line in its order, the warnings where they came (they may
    // break the progress bar's line).
    EXPECT_EQ(piped.err.size(), reports.size() + plain.err.size());
    const std::string* parts[] = {&reports, &plain.err};
    for (const std::string* part : parts)
      for (std::size_t at = 0, from = 0, end; at < part->size(); at = end + 1) {
        end = std::min(part->find('\n', at), part->size());
        const std::string line = part->substr(at, end - at);
        if (line.find('|') != NPOS) continue;
        from = piped.err.find(line, from);
        EXPECT_NE(from, NPOS) << "missing on standard error: " << line;
      }
  }
}

// A preloaded write() that lets files named out* grow to LIMIT bytes, as a full disk would: the
// write that crosses the limit is cut short, the next fails with ENOSPC.
const char* const FULL_DISK_SOURCE = R"(#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
ssize_t write(int fd, const void* buf, size_t n) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, path, sizeof path - 1);
  if (length > 0 && (path[length] = 0, strstr(path, "/out") != NULL)) {
    off_t at = lseek(fd, 0, SEEK_CUR), limit = atol(getenv("LIMIT"));
    if (at >= limit) return errno = ENOSPC, -1;
    if (at + (off_t)n > limit) n = (size_t)(limit - at);
  }
  return ((ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write"))(fd, buf, n);
})";

// Four hours of 30 s data densified to 1 s: some 25 MB of plain text.
const std::string& bigInput() {
  static const std::string text = e2e::generate("--epochs 480 --sats 10 --types L1,L2,C1,P1,P2,D1,D2 --clock");
  return text;
}

// The output of a fatal path holds a prefix of the complete output that ends after a whole line.
void expectWholeLinePrefix(const std::string& partial, const std::string& complete, std::size_t atLeast,
                           bool mayBeWhole = false) {
  EXPECT_TRUE(complete.compare(0, partial.size(), partial) == 0) << "not a prefix of the complete output";
  EXPECT_TRUE(partial.empty() || partial.back() == '\n') << "ends inside a line";
  if (!mayBeWhole) {
    EXPECT_LT(partial.size(), complete.size());
  }
  EXPECT_GE(partial.size(), atLeast);
}

TEST(OutputForms, AFullDiskLeavesWholeLines) {
  noteSkippedCompact();
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), bigInput());
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "1"}).status, 0);
  const std::string complete = e2e::readFile(dir.path("all.obs"));
  // The limit falls inside a gzip member (about 260 kB each) or an epoch, never at a line end.
  const struct { const char* name; long limit; std::size_t atLeast; } cases[] = {
      {"out.obs", 600001, 500000}, {"out.obs.gz", 600001, 2000000}, {"out.crx", 300001, 1000000},
      {"outs0010.01d", 300001, 1000000}, {"out.crx.gz", 100001, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (outputFormOf(c.name).compact && !haveCodec()) continue;
    const e2e::Result r = e2e::runShell(dir.dir(), "export LIMIT=" + std::to_string(c.limit) + "; " +
                                                       e2e::withPreload(FULL_DISK_SOURCE) + e2e::quote(EPOFILL_BINARY) +
                                                       " -i in.obs -o " + c.name + " -n 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("*** ERROR: Unable to write file: ") + c.name + "\n");
    EXPECT_LE(e2e::readFile(dir.path(c.name)).size(), static_cast<std::size_t>(c.limit));
    expectWholeLinePrefix(decoded(dir, c.name), plainFor(c.name, complete), c.atLeast);
  }
}

// SIGTERM once the output has grown: the run ends with the handler's message and status 1, and the
// file decodes to whole lines.
TEST(OutputForms, ATerminationSignalLeavesWholeLines) {
  noteSkippedCompact();
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), bigInput());
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "1"}).status, 0);
  const std::string complete = e2e::readFile(dir.path("all.obs"));
  std::vector<std::string> names = forms();
  names.push_back("out.obs");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const e2e::Result r = e2e::runShell(
        dir.dir(), "sh -c " + e2e::quote(e2e::quote(EPOFILL_BINARY) + " -i in.obs -o " + name + " -n 1 & pid=$!; i=0; "
                                         "while [ $i -lt 4000 ] && [ $(stat -c %s " + name + " 2>/dev/null || echo 0) -lt 1000 ]; "
                                         "do sleep 0.001; i=$((i+1)); done; kill -TERM $pid; wait $pid"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\n*** ERROR: System error occurred: External termination signal.\n");
    expectWholeLinePrefix(decoded(dir, name), plainFor(name, complete), 1);
  }
}

// With -o -, the -t listing joins the reports on standard error.
TEST(OutputForms, TheListingGoesToStandardErrorWithTheFileOnStandardOutput) {
  e2e::Scratch dir;
  const std::string input = e2e::sourcePath("examples/example.obs");
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", input, "-o", "out.obs", "-n", "5"}).status, 0);
  const e2e::Result listed = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "listed.obs", "-n", "5", "-t"});
  const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "-", "-n", "5", "-t"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == e2e::readFile(dir.path("out.obs")));
  std::string reports = listed.out;
  reports.replace(reports.find("listed.obs"), 10, "-");
  EXPECT_EQ(r.err, reports);
  EXPECT_NE(r.err.find("Writing interpolated epoch:"), NPOS);
}

// A value wider than its field is plain RINEX of a sort, but no Compact RINEX: the run ends with a
// message and the epochs before it decode.
TEST(OutputForms, AValueTheEncoderCannotTakeEndsTheRun) {
  if (!haveCodec()) GTEST_SKIP() << "this build has no Compact RINEX codec";
  e2e::Scratch dir;
  std::string input = e2e::generate("--epochs 40 --sats 2 --types L1,C1");
  const std::size_t at = input.rfind("  20100");  // a value of the last epoch
  ASSERT_NE(at, NPOS);
  e2e::writeFile(dir.path("in.obs"), input.replace(at, 14, "          1e15"));
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "10"}).status, 0);
  const std::string complete = e2e::readFile(dir.path("all.obs"));
  for (const char* name : {"out.crx", "out.crx.gz"}) {
    SCOPED_TRACE(name);
    const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", name, "-n", "10"});
    EXPECT_EQ(r.status, 1);
    // The reason is the encoder's own words.
    const std::string head = "*** ERROR: The output cannot be written as Compact RINEX (", tail = std::string("): ") + name + "\n";
    EXPECT_TRUE(r.err.size() > head.size() + tail.size() && r.err.compare(0, head.size(), head) == 0 &&
                r.err.compare(r.err.size() - tail.size(), tail.size(), tail) == 0 && r.err.find('\n') == r.err.size() - 1)
        << r.err;
    expectWholeLinePrefix(decoded(dir, name), trimmed(complete), 10000);
  }
}

// A reader of standard output that goes away: a write error like any other, not SIGPIPE.
TEST(OutputForms, AReaderThatGoesAwayIsAWriteError) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), bigInput());
  const e2e::Result r = e2e::runShell(dir.dir(), "sh -c " + e2e::quote("(" + e2e::quote(EPOFILL_BINARY) +
                                                     " -i in.obs -o - -n 1 2>err.txt; echo $? >status.txt) | head -c 100"));
  EXPECT_EQ(r.out.size(), 100u);
  EXPECT_EQ(e2e::readFile(dir.path("status.txt")), "1\n");
  const std::string err = e2e::readFile(dir.path("err.txt"));
  const std::string message = "*** ERROR: Unable to write file: -\n";
  EXPECT_EQ(err.substr(err.size() - std::min(err.size(), message.size())), message);
}

// Line k of the text the signal test writes: its number, then one letter repeated. Every 100th line
// is long and longer than the one before, so the buffer (256 KiB at first) is replaced by bigger ones.
constexpr long TEST_LINES = 6000;
std::string testLine(long k) {
  std::size_t length = static_cast<std::size_t>(k * 13 % 4000);
  if (k % 100 == 99) length += static_cast<std::size_t>(k / 100 + 1) * 16384;
  return std::to_string(k) + " " + std::string(length, static_cast<char>('a' + k % 26));
}

// A child writes the lines into `name` while a timer sends `signal` every 50 us from `delay` on.
struct SignalRun { int status; std::string err; };
SignalRun writeUnderSignals(const e2e::Scratch& dir, const std::string& name, int signal, long delayMicroseconds) {
  std::fflush(nullptr);
  const std::string errPath = dir.path("err.txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::FILE* err = std::fopen(errPath.c_str(), "w");
    if (err == nullptr) ::_exit(3);
    ::dup2(::fileno(err), STDERR_FILENO);
    installFatalSignalHandlers();
    OutputFile output;
    if (!output.open(dir.path(name))) ::_exit(3);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = signal;
    timer_t timer;
    itimerspec every{};
    every.it_value.tv_nsec = delayMicroseconds * 1000;
    every.it_interval.tv_nsec = 50 * 1000;
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 || ::timer_settime(timer, 0, &every, nullptr) != 0) ::_exit(3);
    for (long k = 0; k < TEST_LINES; ++k) {
      output.write(testLine(k));
      output.endLine();
    }
    for (int k = 0; k < 100000; ++k) {  // done before the first signal: wait for it as a blocked read would
      ::pause();
      pollTerminationSignal();
    }
    ::_exit(2);  // the signal never ended the run
  }
  int raw = 0;
  if (pid < 0 || ::waitpid(pid, &raw, 0) != pid) ADD_FAILURE() << "no child";
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, e2e::readFile(errPath)};
}

// Signals at every point of the writing, again and again until the run ends: the termination signals
// through the run's next line end, the others in the handler, which may write only plain whole lines.
TEST(OutputForms, SignalsWhileTheBufferGrows) {
  e2e::Scratch dir;
  std::string complete;
  for (long k = 0; k < TEST_LINES; ++k) complete += testLine(k) + "\n";
  const struct { int signal; const char* message; } signals[] = {
      {SIGTERM, "External termination signal."}, {SIGINT, "User interrupt."}, {SIGSEGV, "Illegal memory reference."},
      {SIGFPE, "Arithmetic error."},
  };
  int ended = 0;
  for (const auto& s : signals)
    for (const char* name : {"out.obs", "out.obs.gz"})
      for (long delay : {1L, 200L, 2000L, 10000L, 30000L}) {
        SCOPED_TRACE(std::string(name) + " " + s.message + " after " + std::to_string(delay) + " us");
        const SignalRun r = writeUnderSignals(dir, name, s.signal, delay);
        ASSERT_EQ(r.status, 1) << "2: the loop ended first; 3: the child could not start";
        EXPECT_EQ(r.err, std::string("\n*** ERROR: System error occurred: ") + s.message + "\n");
        const std::string text = decoded(dir, name);
        expectWholeLinePrefix(text, complete, 0, true);  // the last line end may come first
        ended += !text.empty();
      }
  EXPECT_GT(ended, 0) << "no run wrote a line before its signal";
}

}  // namespace
