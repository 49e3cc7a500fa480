// The forms of the output (plain, gzip, Compact RINEX, standard output) and the fatal paths that
// must leave each of them decodable to whole lines: a termination signal, a full disk, a line the
// encoder refuses, and signals that come at any point while the output buffer grows.
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
      {"-", 1, 0, 0}, {"out.obs", 0, 0, 0}, {"out.obs.gz", 0, 1, 0}, {"abcd001a.21d", 0, 0, 1},
      {"ABCD0010.95D.gz", 0, 1, 1}, {"dir/abcd3650.21d", 0, 0, 1}, {"a.crx", 0, 0, 1}, {"dir/a.CRX.gz", 0, 1, 1},
      {".crx", 0, 0, 0}, {"abcd001a.21o", 0, 0, 0}, {"abcd001a.21d.Z", 0, 0, 0}, {"abc001a.21d", 0, 0, 0},
      {"abcd0x1a.21d", 0, 0, 0}, {"abcd001a.2xd", 0, 0, 0}, {"x.21d/out.obs", 0, 0, 0}, {"-.gz", 0, 1, 0},
      {"out.gzip", 0, 0, 0}, {"a.crx.obs", 0, 0, 0},
  };
  for (const auto& c : cases) {
    const OutputForm form = outputFormOf(c.name);
    EXPECT_EQ(std::vector<bool>({form.standardOutput, form.gzip, form.compact}), std::vector<bool>({c.out, c.gzip, c.compact}))
        << c.name;
  }
}

bool haveCodec() {
  return compactRinexVersion("1.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE") == 1;
}

// The lines of a text without their trailing blanks, which Compact RINEX does not keep.
std::string trimmed(const std::string& text) {
  std::string out;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    std::size_t length = end - at;
    while (length > 0 && text[at + length - 1] == ' ') --length;
    out.append(text, at, length).append(end < text.size() ? "\n" : "");
  }
  return out;
}

// What a file of the output holds, decoded as its name says (Compact RINEX trimmed, and by the
// program's own decoder); "(... failed)" when it does not decode.
std::string decoded(const e2e::Scratch& dir, const std::string& name) {
  std::string text = e2e::readFile(dir.path(name));
  const OutputForm form = outputFormOf(name);
  if (form.gzip) {
    e2e::Result r = e2e::runShell(dir.dir(), "gzip -dc " + e2e::quote(name));
    text = r.status == 0 ? r.out : "(gzip failed: " + r.err + ")";
  }
  if (!form.compact) return text;
  CompactDecoder decoder(true);
  std::string out;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    if (!decoder.decode(std::string_view(text).substr(at, end - at), out)) return "(decoding failed: " + decoder.error() + ")";
  }
  return decoder.finish(out) ? trimmed(out) : "(decoding failed: " + decoder.error() + ")";
}
std::string plainFor(const std::string& name, const std::string& plain) {
  return outputFormOf(name).compact ? trimmed(plain) : plain;
}

// Forms written besides plain; the Compact RINEX ones only once the codec is built in.
std::vector<std::string> forms() {
  if (!haveCodec()) std::printf("[  NOTE    ] Compact RINEX outputs not checked: this build has no Compact RINEX codec\n");
  return haveCodec() ? std::vector<std::string>{"out.obs.gz", "out.crx", "outs0010.01d", "out.crx.gz"}
                     : std::vector<std::string>{"out.obs.gz"};
}

// Every real file, densified into every form, decodes to the plain output; "-o - -t" writes exactly the
// plain output on standard output, and on standard error the reports and listing of a file run.
TEST(OutputForms, RoundTripsOfTheRealFiles) {
  const std::string rinex = e2e::sharedDataDir();
  if (rinex.empty()) GTEST_SKIP() << "../shared/data/rinex is absent: real-file round trips skipped";
  const struct { const char* file; const char* increment; } cases[] = {
      {"rinex/07590920.05o", "5"}, {"rinex/30400920.05o", "1"}, {"rinex/arlm200a.15o", "5"},
      {"rinex/test_dfix_txau047.ed.12o", "5"}, {"rinex/test_dfix_tower239.ed.15o", "1"}, {"rinex/faa1170b00.16o", "1"},
      {"rinex/test_input_rinex_obs_RinexObsFile.06o", "5"}, {"rinex/demo.10o", "5"}, {"rinex/14601736.18o", "5"},
      {"rinex/npaz3550.21o", "1"}, {"rinex/wsra0010.21o", "5"}, {"rinex/KOSG0010.95O", "5"},
      {"crx/aopr0010.17o", "1"}, {"crx/barq071q.19o", "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string input = rinex + "/../" + c.file;
    e2e::Scratch dir;
    const e2e::Result plain = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "out.obs", "-n", c.increment, "-t"});
    if (plain.status != 0) continue;  // files the program refuses are another test's matter
    const std::string expected = e2e::readFile(dir.path("out.obs"));
    for (const std::string& name : forms()) {
      SCOPED_TRACE(name);
      EXPECT_EQ(e2e::runEpofill(dir.dir(), {"-i", input, "-o", name, "-n", c.increment}).status, 0);
      EXPECT_TRUE(decoded(dir, name) == plainFor(name, expected)) << "the decoded output differs from the plain one";
    }
    const e2e::Result piped = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "-", "-n", c.increment, "-t"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.out == expected) << "standard output differs from the plain output";
    std::string reports = plain.out;
    reports.replace(reports.find("Output File Name: out.obs"), 25, "Output File Name: -");
    // Warnings come where they came, among the reports.
    EXPECT_EQ(piped.err.size(), reports.size() + plain.err.size());
    EXPECT_NE(piped.err.find(reports.substr(0, reports.find("Input File size"))), NPOS);
  }
}

// A preloaded write() that lets files named out* grow to $LIMIT bytes, as a full disk would: the
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

// The output of a fatal path holds a prefix of the complete output that ends after a whole line.
void expectWholeLinePrefix(const std::string& partial, const std::string& complete, std::size_t atLeast,
                           bool mayBeWhole = false) {
  EXPECT_TRUE(complete.compare(0, partial.size(), partial) == 0) << "not a prefix of the complete output";
  EXPECT_TRUE(partial.empty() || partial.back() == '\n') << "ends inside a line";
  EXPECT_TRUE(mayBeWhole || partial.size() < complete.size()) << "the whole output";
  EXPECT_GE(partial.size(), atLeast);
}

// Four hours of 30 s data densified to 1 s (some 25 MB of plain text), ended by a full disk (the
// limit falls inside a gzip member of some 260 kB, or an epoch) or by SIGTERM once the file has grown.
TEST(OutputForms, AFullDiskOrATerminationSignalLeavesWholeLines) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 480 --sats 10 --types L1,L2,C1,P1,P2,D1,D2 --clock"));
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "1"}).status, 0);
  const std::string complete = e2e::readFile(dir.path("all.obs")), run = e2e::quote(EPOFILL_BINARY) + " -i in.obs -n 1 -o ";
  const struct { const char* name; long limit; std::size_t atLeast; } cases[] = {  // limit 0: SIGTERM
      {"out.obs", 600001, 500000}, {"out.obs.gz", 600001, 2000000}, {"out.crx", 300001, 1000000},
      {"outs0010.01d", 300001, 1000000}, {"out.crx.gz", 100001, 0}, {"out.obs", 0, 1}, {"out.obs.gz", 0, 1},
      {"out.crx", 0, 1}, {"out.crx.gz", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.limit > 0 ? " full disk" : " SIGTERM"));
    if (outputFormOf(c.name).compact && !haveCodec()) continue;
    const std::string name = c.name, fullDisk = "export LIMIT=" + std::to_string(c.limit) + "; " +
                                                 e2e::withPreload(FULL_DISK_SOURCE) + run + name;
    const std::string killed = "rm -f " + name + "; " + run + name + " & pid=$!; i=0; while [ $i -lt 4000 ] && "
                               "[ $(stat -c %s " + name + " 2>/dev/null || echo 0) -lt 1000 ]; do sleep 0.001; i=$((i+1)); "
                               "done; kill -TERM $pid; wait $pid";
    const e2e::Result r = e2e::runShell(dir.dir(), c.limit > 0 ? fullDisk : "sh -c " + e2e::quote(killed));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.limit > 0 ? std::string("*** ERROR: Unable to write file: ") + c.name + "\n"
                                 : "\n*** ERROR: System error occurred: External termination signal.\n");
    EXPECT_LE(e2e::readFile(dir.path(c.name)).size(), c.limit > 0 ? static_cast<std::size_t>(c.limit) : NPOS);
    expectWholeLinePrefix(decoded(dir, c.name), plainFor(c.name, complete), c.atLeast);
  }
}

// A value wider than its field is plain RINEX of a sort, but no Compact RINEX: the run ends with a
// message in the encoder's words, and the epochs before it decode.
TEST(OutputForms, AValueTheEncoderCannotTakeEndsTheRun) {
  if (!haveCodec()) GTEST_SKIP() << "this build has no Compact RINEX codec";
  e2e::Scratch dir;
  std::string input = e2e::generate("--epochs 40 --sats 2 --types L1,C1");
  e2e::writeFile(dir.path("in.obs"), input.replace(input.rfind("  20100"), 14, "          1e15"));
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "10"}).status, 0);
  for (const std::string name : {"out.crx", "out.crx.gz"}) {
    const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", name, "-n", "10"});
    EXPECT_EQ(r.status, 1);
    const std::string head = "*** ERROR: The output cannot be written as Compact RINEX (", tail = "): " + name + "\n";
    EXPECT_TRUE(r.err.size() > head.size() + tail.size() && r.err.rfind(head, 0) == 0 &&
                r.err.compare(r.err.size() - tail.size(), tail.size(), tail) == 0 && r.err.find('\n') == r.err.size() - 1)
        << r.err;
    expectWholeLinePrefix(decoded(dir, name), trimmed(e2e::readFile(dir.path("all.obs"))), 10000);
  }
}

// A reader of standard output that goes away: a write error like any other, not SIGPIPE.
TEST(OutputForms, AReaderThatGoesAwayIsAWriteError) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 480 --sats 10"));
  const e2e::Result r = e2e::runShell(dir.dir(), "sh -c " + e2e::quote("(" + e2e::quote(EPOFILL_BINARY) +
                                                     " -i in.obs -o - -n 1 2>err.txt; echo $? >status.txt) | head -c 100"));
  EXPECT_EQ(r.out.size(), 100u);
  EXPECT_EQ(e2e::readFile(dir.path("status.txt")), "1\n");
  const std::string err = e2e::readFile(dir.path("err.txt")), message = "*** ERROR: Unable to write file: -\n";
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

// A child writes the lines into `name` while a timer sends `signal` every 50 us from `delay` on;
// its exit status (2: the signal never ended it) and standard error.
std::pair<int, std::string> writeUnderSignals(const e2e::Scratch& dir, const std::string& name, int signal, long delay) {
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
    every.it_value.tv_nsec = delay * 1000;
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
    ::_exit(2);
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
  int wrote = 0;
  for (const auto& s : signals)
    for (const char* name : {"out.obs", "out.obs.gz"})
      for (long delay : {1L, 200L, 2000L, 10000L, 30000L}) {
        SCOPED_TRACE(std::string(name) + " " + s.message + " after " + std::to_string(delay) + " us");
        const auto [status, err] = writeUnderSignals(dir, name, s.signal, delay);
        ASSERT_EQ(status, 1) << "2: the signal never ended the run; 3: the child could not start";
        EXPECT_EQ(err, std::string("\n*** ERROR: System error occurred: ") + s.message + "\n");
        const std::string text = decoded(dir, name);
        expectWholeLinePrefix(text, complete, 0, true);  // the last line end may come first
        wrote += !text.empty();
      }
  EXPECT_GT(wrote, 0) << "no run wrote a line before its signal";
}

}  // namespace
