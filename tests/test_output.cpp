// The output forms (plain, gzip, Compact RINEX, standard output), and the fatal paths that must leave
// each decodable to whole lines: SIGTERM, a full disk, a value the encoder refuses, signals at any point.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "driver/driver.h"
#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

TEST(OutputForm, ToldByTheName) {
  const struct { const char *name, *form; } cases[] = {  // - standard output, g gzip, c Compact RINEX
      {"-", "-"}, {"out.obs", ""}, {"out.obs.gz", "g"}, {"abcd001a.21d", "c"}, {"ABCD0010.95D.gz", "gc"},
      {"dir/abcd3650.21d", "c"}, {"a.crx", "c"}, {"dir/a.CRX.gz", "gc"}, {".crx", ""}, {"abcd001a.21o", ""},
      {"abcd001a.21d.Z", ""}, {"abc001a.21d", ""}, {"abcd0x1a.21d", ""}, {"abcd001a.2xd", ""}, {"x.21d/out.obs", ""},
      {"-.gz", "g"}, {"out.gzip", ""}, {"a.crx.obs", ""}};
  for (const auto& c : cases) {
    const OutputForm f = outputFormOf(c.name);
    EXPECT_EQ(std::string(f.standardOutput ? "-" : "") + (f.gzip ? "g" : "") + (f.compact ? "c" : ""), c.form) << c.name;
  }
}

std::string trimmed(const std::string& text) {
  std::string out;
  for (std::string line : crx_test::splitLines(text)) crx_test::rtrim(line), out += line + "\n";
  return text.empty() || text.back() == '\n' ? out : out.substr(0, out.size() - 1);
}

// A file of the output decoded as its name says (Compact RINEX without the trailing blanks it does not keep).
std::string decoded(const e2e::Scratch& dir, const std::string& name) {
  const OutputForm form = outputFormOf(name);
  const e2e::Result r = e2e::runShell(dir.dir(), (form.gzip ? "gzip -dc " : "cat ") + e2e::quote(name));
  if (r.status != 0 || !form.compact) return r.status == 0 ? r.out : "(reading failed: " + r.err + ")";
  const crx_test::Decoded d = crx_test::decodeLines(crx_test::splitLines(r.out), true);
  return d.ok ? trimmed(d.text) : "(decoding failed: " + d.error + ")";
}
std::string plainFor(const std::string& name, const std::string& text) {
  return outputFormOf(name).compact ? trimmed(text) : text;
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
    for (const std::string name : {"out.obs.gz", "out.crx", "outs0010.01d", "out.crx.gz"}) {
      EXPECT_EQ(e2e::runEpofill(dir.dir(), {"-i", input, "-o", name, "-n", c.increment}).status, 0) << name;
      EXPECT_TRUE(decoded(dir, name) == plainFor(name, expected)) << name << ": decoded output differs from the plain";
    }
    const e2e::Result piped = e2e::runEpofill(dir.dir(), {"-i", input, "-o", "-", "-n", c.increment, "-t"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(piped.out == expected) << "standard output differs from the plain output";
    std::string reports = plain.out;  // warnings come where they came, among them
    reports.replace(reports.find("Output File Name: out.obs"), 25, "Output File Name: -");
    EXPECT_EQ(piped.err.size(), reports.size() + plain.err.size());
    EXPECT_NE(piped.err.find(reports.substr(0, reports.find("Input File size"))), std::string::npos);
  }
}

// A full disk: the output file grows to $LIMIT bytes, the write that crosses it is cut short, the next fails.
const char* const FULL_DISK_SOURCE = R"(#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>
ssize_t write(int fd, const void* buf, size_t n) {
  off_t at = fd > 2 ? lseek(fd, 0, SEEK_CUR) : -1, limit = atol(getenv("LIMIT"));
  if (at >= limit) return errno = ENOSPC, -1;
  if (at >= 0 && at + (off_t)n > limit) n = (size_t)(limit - at);
  return ((ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write"))(fd, buf, n);
})";

// The output of a fatal path holds a prefix of the complete output that ends after a whole line.
void expectWholeLinePrefix(const std::string& partial, const std::string& complete, std::size_t atLeast, bool mayBeWhole) {
  EXPECT_TRUE(complete.compare(0, partial.size(), partial) == 0) << "not a prefix of the complete output";
  EXPECT_TRUE(partial.empty() || partial.back() == '\n') << "ends inside a line";
  EXPECT_TRUE(mayBeWhole || partial.size() < complete.size()) << "the whole output";
  EXPECT_GE(partial.size(), atLeast);
}

// Some 25 MB of plain text ended by a full disk (inside a gzip member or an epoch), by SIGTERM once the file
// has grown, or by a value wider than its field in the last epoch (plain RINEX of a sort, no Compact RINEX).
TEST(OutputForms, AFullDiskATerminationSignalOrARefusedValueLeavesWholeLines) {
  e2e::Scratch dir;
  std::string input = e2e::generate("--epochs 480 --sats 10 --types L1,L2,C1,P1,P2,D1,D2 --clock");
  e2e::writeFile(dir.path("in.obs"), input.replace(input.rfind('\n', input.size() - 2) + 1, 14, "          1e15"));
  ASSERT_EQ(e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "all.obs", "-n", "1"}).status, 0);
  const std::string complete = e2e::readFile(dir.path("all.obs")), run = e2e::quote(EPOFILL_BINARY) + " -i in.obs -n 1 -o ";
  const struct { const char* name; long limit; std::size_t atLeast; } cases[] = {  // limit 0: SIGTERM, -1: refused
      {"out.obs", 600001, 500000}, {"out.obs.gz", 600001, 2000000}, {"out.crx", 300001, 1000000},
      {"outs0010.01d", 300001, 1000000}, {"out.crx.gz", 100001, 0}, {"out.obs", 0, 1}, {"out.obs.gz", 0, 1},
      {"out.crx", 0, 1}, {"out.crx.gz", 0, 1}, {"out.crx", -1, 1000000}, {"out.crx.gz", -1, 1000000},
  };
  for (const auto& c : cases) {
    const std::string name = c.name;
    SCOPED_TRACE(name + (c.limit > 0 ? " full disk" : c.limit == 0 ? " SIGTERM" : " refused"));
    const std::string fullDisk = "export LIMIT=" + std::to_string(c.limit) + "; " + e2e::withPreload(FULL_DISK_SOURCE);
    const std::string killed = "rm -f " + name + "; " + run + name + " & pid=$!; i=0; while [ $i -lt 4000 ] && "
                               "[ $(stat -c %s " + name + " 2>/dev/null || echo 0) -lt 1000 ]; do sleep 0.001; i=$((i+1)); "
                               "done; kill -TERM $pid; wait $pid";
    const e2e::Result r =
        e2e::runShell(dir.dir(), c.limit > 0 ? fullDisk + run + name : c.limit == 0 ? "sh -c " + e2e::quote(killed) : run + name);
    EXPECT_EQ(r.status, 1);
    const std::size_t open = r.err.find(" ("), close = r.err.rfind(')');  // the encoder's reason
    const bool reason = c.limit < 0 && open != std::string::npos && close > open + 3;
    EXPECT_EQ(reason ? r.err.substr(0, open) + r.err.substr(close + 1) : r.err,
              c.limit > 0    ? "*** ERROR: Unable to write file: " + name + "\n"
              : c.limit == 0 ? "\n*** ERROR: System error occurred: External termination signal.\n"
                             : "*** ERROR: The output cannot be written as Compact RINEX: " + name + "\n");
    EXPECT_LE(e2e::readFile(dir.path(name)).size(), c.limit > 0 ? static_cast<std::size_t>(c.limit) : std::string::npos);
    expectWholeLinePrefix(decoded(dir, name), plainFor(name, complete), c.atLeast, false);
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

// Line k of the signal test: every 100th line is longer than the one before, so the buffer is replaced by bigger ones.
constexpr long TEST_LINES = 6000;
std::string testLine(long k) {
  std::size_t length = static_cast<std::size_t>(k * 13 % 4000);
  if (k % 100 == 99) length += static_cast<std::size_t>(k / 100 + 1) * 16384;
  return std::to_string(k) + " " + std::string(length, static_cast<char>('a' + k % 26));
}

// Signals every 50 us from `delay` on: the termination signals end the run at its next line end, the others
// in the handler, which may write only plain whole lines.
TEST(OutputForms, SignalsWhileTheBufferGrows) {
  e2e::Scratch dir;
  std::string complete;
  for (long k = 0; k < TEST_LINES; ++k) complete += testLine(k) + "\n";
  const struct { int signal; const char* message; } signals[] = {  // ended at a line end, and in the handler
      {SIGTERM, "External termination signal."}, {SIGSEGV, "Illegal memory reference."}};
  int wrote = 0;
  for (const auto& s : signals)
    for (const char* name : {"out.obs", "out.obs.gz"})
      for (long delay : {1L, 200L, 2000L, 10000L, 30000L}) {
        SCOPED_TRACE(std::string(name) + " " + s.message + " after " + std::to_string(delay) + " us");
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {  // exits with 3 when it cannot start, 2 when no signal ended it
          std::FILE* err = std::fopen(dir.path("err.txt").c_str(), "w");
          OutputFile output;
          sigevent event{};
          event.sigev_notify = SIGEV_SIGNAL, event.sigev_signo = s.signal;
          const itimerspec every{{0, 50 * 1000}, {0, delay * 1000}};
          timer_t timer;
          installFatalSignalHandlers();
          if (err == nullptr || ::dup2(::fileno(err), STDERR_FILENO) < 0 || !output.open(dir.path(name)) ||
              ::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 || ::timer_settime(timer, 0, &every, nullptr) != 0)
            ::_exit(3);
          for (long k = 0; k < TEST_LINES; ++k) output.write(testLine(k)), output.endLine();
          for (int k = 0; k < 100000; ++k) ::pause(), pollTerminationSignal();  // done first: wait as a blocked read
          ::_exit(2);
        }
        int raw = 0;
        ASSERT_TRUE(pid > 0 && ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw));
        ASSERT_EQ(WEXITSTATUS(raw), 1) << "2: the signal never ended the run; 3: the child could not start";
        EXPECT_EQ(e2e::readFile(dir.path("err.txt")), std::string("\n*** ERROR: System error occurred: ") + s.message + "\n");
        const std::string text = decoded(dir, name);
        expectWholeLinePrefix(text, complete, 0, true);  // the last line end may come first
        wrote += !text.empty();
      }
  EXPECT_GT(wrote, 0) << "no run wrote a line before its signal";
}

}  // namespace
