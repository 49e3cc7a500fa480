// The output forms (plain, gzip, Compact RINEX, standard output) whole, or ended by a fault with whole lines.
#include "driver/driver.h"
#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

TEST(OutputForm, ToldByTheName) {  // 4 standard output + 2 gzip + 1 Compact RINEX
  for (const auto& [name, form] : std::initializer_list<std::pair<const char*, int>>{
           {"-", 4}, {"out.obs", 0}, {"out.obs.gz", 2}, {"abcd001a.21d", 1}, {"ABCD0010.95D.gz", 3}, {"-.gz", 2}, {"dir/abcd3650.21d", 1},
           {"a.crx", 1}, {"dir/a.CRX.gz", 3}, {".crx", 0}, {"abcd001a.21o", 0}, {"out.gzip", 0}, {"a.crx.obs", 0}, {"abcd001a.21d.Z", 0},
           {"abc001a.21d", 0}, {"abcd0x1a.21d", 0}, {"abcd001a.2xd", 0}, {"x.21d/o", 0}})
    EXPECT_EQ(outputFormOf(name).standardOutput * 4 + outputFormOf(name).gzip * 2 + outputFormOf(name).compact, form) << name;
}

// The output file `name`, decoded, is a whole-line prefix of `all` of at least `atLeast` bytes (npos: all of it).
void expectWholeLines(const e2e::Scratch& dir, const std::string& name, const std::string& all, std::size_t atLeast) {
  const e2e::Result r = e2e::runShell(dir.dir(), "gzip -dcf " + name);  // -f: a plain file as it is
  const auto d = outputFormOf(name).compact ? crx_test::decodeLines(crx_test::splitLines(r.out), true) : crx_test::Decoded{true, "", r.out};
  const std::string got = r.status || !d.ok ? "(reading failed: " + r.err + d.error + ")" : crx_test::withoutTrailingBlanks(d.text);
  const std::string complete = crx_test::withoutTrailingBlanks(all);
  EXPECT_TRUE(complete.compare(0, got.size(), got) == 0 && (got.empty() || got.back() == '\n') && got.size() >= std::min(atLeast, complete.size()))
      << name << ": not a whole-line prefix of the complete output: " << got.size() << " of " << complete.size() << " bytes";
}

// The file grows to $LIMIT bytes, the write that crosses it is cut short, the next fails; with $TERM_AT set, every write
// to a file past that size raises SIGTERM (the signal arrives mid-run, whatever the machine's speed).
const char* const FULL_DISK_SOURCE =
    "#define _GNU_SOURCE\n#include <dlfcn.h>\n#include <errno.h>\n#include <signal.h>\n#include <stdlib.h>\n#include <unistd.h>\n"
    "ssize_t write(int fd, const void* b, size_t n) {\n  off_t at = fd > 2 ? lseek(fd, 0, SEEK_CUR) : -1, end = atol(getenv(\"LIMIT\"));\n"
    "  if (getenv(\"TERM_AT\") && at >= atol(getenv(\"TERM_AT\"))) raise(SIGTERM);\n  if (at >= end) return errno = ENOSPC, -1;\n"
    "  if (at >= 0 && at + (off_t)n > end) n = (size_t)(end - at);\n"
    "  return ((ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, \"write\"))(fd, b, n);\n}\n";

// 17 MB whole in every form ("-o -": reports on standard error), or ended by a full disk (in a gzip member or an epoch), SIGTERM,
// a value wider than its field in the last epoch (plain RINEX of a sort, not Compact), a reader that goes away (not SIGPIPE).
TEST(OutputForms, WholeOrEndedByAFault) {
  e2e::Scratch dir;
  std::string input = e2e::generate("--epochs 240 --sats 14 --types L1,L2,C1,P1,P2,D1,D2,S1,S2,C2 --clock --events 3:5:2,9:3:1");
  e2e::writeFile(dir.path("in.obs"), input);
  e2e::writeFile(dir.path("bad.obs"), input.replace(input.rfind('\n', input.size() - 2) + 1, 14, "          1e15"));
  const auto run = [](std::string out, std::string in = "in.obs") { return e2e::quote(EPOFILL_BINARY) + " -n 1 -i " + in + " -o " + out; };
  const e2e::Result plain = e2e::runShell(dir.dir(), run("all.obs -t")), piped = e2e::runShell(dir.dir(), run("- -t"));
  const std::string complete = e2e::readFile(dir.path("all.obs")), completeBad = e2e::runShell(dir.dir(), run("-", "bad.obs")).out;
  const std::string reports = plain.out.substr(0, plain.out.find("Output File Name")) + "Output File Name: -\n";
  EXPECT_TRUE(plain.status == 0 && piped.status == 0 && piped.out == complete && piped.err.find(reports) != std::string::npos &&
              piped.err.size() == plain.out.size() - 6 + plain.err.size()) << piped.err;  // warnings among the reports
  const e2e::Result reader = e2e::runShell(dir.dir(), "(" + run("-") + " 2>err; echo $? >>err) | head -c 100 >/dev/null; tail -n 2 err");
  EXPECT_NE(reader.out.find("*** ERROR: Unable to write file: -\n1\n"), std::string::npos) << reader.out;  // and the status
  const struct { const char* name; long limit; std::size_t atLeast; } cases[] = {  // limit 0: SIGTERM, -1: refused, -2: none
      {"out.obs.gz", -2, 0}, {"out.crx", -2, 0}, {"out.crx.gz", -2, 0}, {"out.obs", 600001, 500000}, {"out.obs.gz", 600001, 2000000},
      {"out.crx", 300001, 1000000}, {"out.crx.gz", 60001, 1000000}, {"out.obs", 0, 1}, {"out.obs.gz", 0, 1}, {"out.crx", 0, 1},
      {"out.crx.gz", 0, 1}, {"out.crx", -1, 1000000}, {"out.crx.gz", -1, 1000000}};
  for (const auto& c : cases) {
    const std::string name = c.name, limit = c.limit > 0 ? std::to_string(c.limit) : "999999999999 TERM_AT=1000";
    const std::string fault = "export LIMIT=" + limit + "; " + e2e::withPreload(FULL_DISK_SOURCE) + run(name);
    const e2e::Result r = e2e::runShell(dir.dir(), c.limit >= 0 ? fault : run(name, c.limit == -1 ? "bad.obs" : "in.obs"));
    const std::string err = c.limit > 0 ? "*** ERROR: Unable to write file: " + name + "\n"  // SIGTERM's message: below
                                        : "*** ERROR: The output cannot be written as Compact RINEX (";  // reason): name
    EXPECT_TRUE(c.limit == -2 ? r.status == 0 : r.status == 1 && (c.limit == 0 || (c.limit < 0 ? r.err.substr(0, err.size()) : r.err) == err))
        << name << " " << c.limit << ": " << r.err;
    expectWholeLines(dir, name, c.limit == -1 ? completeBad : complete, c.limit == -2 ? std::string::npos : c.atLeast);
  }
}

// Signals every 50 us while lines grow (every 100th longest yet): SIGTERM ends at a line end, SIGSEGV in the handler; whole lines.
TEST(OutputForms, SignalsWhileTheBufferGrows) {
  e2e::Scratch dir;
  std::string complete;
  for (long k = 0; k < 6000; ++k)
    complete += std::to_string(k) + " " + std::string(std::size_t(k % 100 == 99 ? (k / 100 + 1) * 16384 : k * 13 % 4000), 'a') + "\n";
  for (const auto& [signal, message] : {std::pair{SIGTERM, "External termination signal."}, {SIGSEGV, "Illegal memory reference."}})
    for (const std::string name : {"out.obs", "out.obs.gz"})
      for (long delay : {1L, 200L, 2000L, 10000L, 30000L}) {
        SCOPED_TRACE(name + " " + message + " after " + std::to_string(delay) + " us");
        const pid_t pid = (std::fflush(nullptr), ::fork());
        if (pid == 0) {  // exits with 3 when it cannot start, 2 when no signal ended it
          OutputFile output;
          sigevent event{{}, signal, SIGEV_SIGNAL, {}};
          const itimerspec every{{0, 50 * 1000}, {0, delay * 1000}};
          timer_t timer;
          installFatalSignalHandlers();
          if (!std::freopen(dir.path("err.txt").c_str(), "w", stderr) || !output.open(dir.path(name)) ||
              ::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 || ::timer_settime(timer, 0, &every, nullptr) != 0) ::_exit(3);
          for (std::size_t at = 0, end; at < complete.size(); at = end + 1)
            end = complete.find('\n', at), output.write(std::string_view(complete).substr(at, end - at)), output.endLine();
          for (int k = 0; k < 100000; ++k) ::pause(), pollTerminationSignal();  // done first: wait as a blocked read
          ::_exit(2);
        }
        int raw = 0;
        ASSERT_TRUE(pid > 0 && ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << "2: not ended; 3: not started";
        EXPECT_EQ(e2e::readFile(dir.path("err.txt")), "\n*** ERROR: System error occurred: " + std::string(message) + "\n");
        expectWholeLines(dir, name, complete, signal == SIGTERM && delay == 30000);  // SIGTERM after 30 ms: some lines written
      }
}

}  // namespace
