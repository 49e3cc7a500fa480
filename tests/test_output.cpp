// The output forms (plain, gzip, Compact RINEX, standard output), and the fatal paths that must leave each
// decodable to whole lines: a full disk, SIGTERM, a value the encoder refuses, a reader gone, signals at any point.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "driver/driver.h"
#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

TEST(OutputForm, ToldByTheName) {  // - standard output, g gzip, c Compact RINEX
  for (const auto& [name, form] : std::initializer_list<std::pair<const char*, const char*>>{
           {"-", "-"}, {"out.obs", ""}, {"out.obs.gz", "g"}, {"abcd001a.21d", "c"}, {"ABCD0010.95D.gz", "gc"}, {"-.gz", "g"},
           {"dir/abcd3650.21d", "c"}, {"a.crx", "c"}, {"dir/a.CRX.gz", "gc"}, {".crx", ""}, {"abcd001a.21o", ""}, {"out.gzip", ""},
           {"abcd001a.21d.Z", ""}, {"abc001a.21d", ""}, {"abcd0x1a.21d", ""}, {"abcd001a.2xd", ""}, {"x.21d/out.obs", ""}, {"a.crx.obs", ""}})
    EXPECT_EQ(std::string(outputFormOf(name).standardOutput ? "-" : "") + (outputFormOf(name).gzip ? "g" : "") +
              (outputFormOf(name).compact ? "c" : ""), form) << name;
}

std::string asKept(const std::string& name, const std::string& text) {  // Compact RINEX: no blanks at the lines' ends
  std::string out;
  for (char c : text) (c == '\n' && outputFormOf(name).compact ? crx_test::rtrim(out) : void()), out += c;
  return out;
}
std::string decoded(const e2e::Scratch& dir, const std::string& name) {  // a file of the output, as its name says
  const e2e::Result r = e2e::runShell(dir.dir(), (outputFormOf(name).gzip ? "gzip -dc " : "cat ") + e2e::quote(name));
  const crx_test::Decoded d = crx_test::decodeLines(crx_test::splitLines(r.out), true);
  return r.status != 0 ? "(reading failed: " + r.err + ")" : !outputFormOf(name).compact ? r.out
                                                            : d.ok ? asKept(name, d.text) : "(decoding failed: " + d.error + ")";
}
// The output of a fatal path holds a prefix of the complete output that ends after a whole line.
void expectWholeLinePrefix(const std::string& partial, const std::string& complete, std::size_t atLeast, bool mayBeWhole) {
  EXPECT_TRUE(complete.compare(0, partial.size(), partial) == 0 && (partial.empty() || partial.back() == '\n') &&
              partial.size() >= atLeast && (mayBeWhole || partial.size() < complete.size()))
      << "not a whole-line prefix of the complete output: " << partial.size() << " of " << complete.size() << " bytes";
}

// A full disk: the output file grows to $LIMIT bytes, the write that crosses it is cut short, the next fails.
const char* const FULL_DISK_SOURCE =
    "#define _GNU_SOURCE\n#include <dlfcn.h>\n#include <errno.h>\n#include <stdlib.h>\n#include <unistd.h>\n"
    "ssize_t write(int fd, const void* buf, size_t n) {\n  off_t at = fd > 2 ? lseek(fd, 0, SEEK_CUR) : -1, limit = atol(getenv(\"LIMIT\"));\n"
    "  if (at >= limit) return errno = ENOSPC, -1;\n"
    "  if (at >= 0 && at + (off_t)n > limit) n = (size_t)(limit - at);\n"
    "  return ((ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, \"write\"))(fd, buf, n);\n}\n";

// Some 17 MB of plain text (14 satellites, 10 types, events) whole in every form ("-o -": the reports on standard
// error), or ended by a full disk (inside a gzip member or an epoch), SIGTERM once the file has grown, a value wider
// than its field in the last epoch (plain RINEX of a sort, not Compact), a reader that goes away (not SIGPIPE).
TEST(OutputForms, WholeOrEndedByAFault) {
  e2e::Scratch dir;
  std::string input = e2e::generate("--epochs 240 --sats 14 --types L1,L2,C1,P1,P2,D1,D2,S1,S2,C2 --clock --events 3:5:2,9:3:1");
  e2e::writeFile(dir.path("in.obs"), input);
  e2e::writeFile(dir.path("bad.obs"), input.replace(input.rfind('\n', input.size() - 2) + 1, 14, "          1e15"));
  const auto run = [](const std::string& out, const char* in = "in.obs") { return e2e::quote(EPOFILL_BINARY) + " -n 1 -i " + in + " -o " + out; };
  const e2e::Result plain = e2e::runShell(dir.dir(), run("all.obs -t")), piped = e2e::runShell(dir.dir(), run("- -t"));
  const std::string complete = e2e::readFile(dir.path("all.obs")), completeBad = e2e::runShell(dir.dir(), run("-", "bad.obs")).out;
  const std::string reports = plain.out.substr(0, plain.out.find("Output File Name")) + "Output File Name: -\n";
  EXPECT_TRUE(plain.status == 0 && piped.status == 0 && piped.out == complete && piped.err.find(reports) != std::string::npos &&
              piped.err.size() == plain.out.size() - 6 + plain.err.size()) << piped.err;  // warnings among the reports
  const e2e::Result reader = e2e::runShell(dir.dir(), "(" + run("-") + "; echo $? >&2) | head -c 100");
  const std::string gone = "*** ERROR: Unable to write file: -\n1\n";  // and the status
  EXPECT_TRUE(reader.out.size() == 100 && reader.err.size() > gone.size() && reader.err.substr(reader.err.size() - gone.size()) == gone);
  const struct { const char* name; long limit; std::size_t atLeast; } cases[] = {  // limit 0: SIGTERM, -1: refused, -2: none
      {"out.obs.gz", -2, 0}, {"out.crx", -2, 0}, {"out.crx.gz", -2, 0}, {"out.obs", 600001, 500000}, {"out.obs.gz", 600001, 2000000},
      {"out.crx", 300001, 1000000}, {"out.crx.gz", 60001, 1000000}, {"out.obs", 0, 1}, {"out.obs.gz", 0, 1}, {"out.crx", 0, 1},
      {"out.crx.gz", 0, 1}, {"out.crx", -1, 1000000}, {"out.crx.gz", -1, 1000000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.limit));
    const std::string name = c.name, fullDisk = "export LIMIT=" + std::to_string(c.limit) + "; " + e2e::withPreload(FULL_DISK_SOURCE);
    const std::string killed = "rm -f " + name + "; " + run(name) + " & pid=$!; i=0; while [ $i -lt 4000 ] && [ $(stat -c %s " +
                               name + " 2>/dev/null || echo 0) -lt 1000 ]; do sleep 0.001; i=$((i+1)); done; kill -TERM $pid; wait $pid";
    const e2e::Result r = e2e::runShell(dir.dir(), c.limit > 0    ? fullDisk + run(name)
                                                   : c.limit == 0 ? "sh -c " + e2e::quote(killed) : run(name, c.limit == -1 ? "bad.obs" : "in.obs"));
    const std::string err = c.limit > 0    ? "*** ERROR: Unable to write file: " + name + "\n"
                            : c.limit == 0 ? "\n*** ERROR: System error occurred: External termination signal.\n"
                                           : "*** ERROR: The output cannot be written as Compact RINEX (";  // reason): name
    EXPECT_TRUE(c.limit == -2 ? r.status == 0 : r.status == 1 && (c.limit < 0 ? r.err.substr(0, err.size()) : r.err) == err) << r.err;
    const std::string want = asKept(name, c.limit == -1 ? completeBad : complete);
    expectWholeLinePrefix(decoded(dir, name), want, c.limit == -2 ? want.size() : c.atLeast, c.limit == -2);
  }
}

// Signals every 50 us from `delay` on while lines grow (every 100th is longer than all before, so the buffer is
// replaced by bigger ones): the termination signals end the run at its next line end, the others in the handler,
// which may write only plain whole lines.
TEST(OutputForms, SignalsWhileTheBufferGrows) {
  e2e::Scratch dir;
  std::string complete;
  for (long k = 0; k < 6000; ++k)
    complete += std::to_string(k) + " " + std::string(static_cast<std::size_t>(k * 13 % 4000 + (k % 100 == 99) * (k / 100 + 1) * 16384),
                                                      static_cast<char>('a' + k % 26)) + "\n";
  int wrote = 0;
  for (const auto& [signal, message] : {std::pair<int, std::string>{SIGTERM, "External termination signal."},
                                        {SIGSEGV, "Illegal memory reference."}})
    for (const std::string name : {"out.obs", "out.obs.gz"})
      for (long delay : {1L, 200L, 2000L, 10000L, 30000L}) {
        SCOPED_TRACE(name + " " + message + " after " + std::to_string(delay) + " us");
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {  // exits with 3 when it cannot start, 2 when no signal ended it
          OutputFile output;
          sigevent event{};
          event.sigev_notify = SIGEV_SIGNAL, event.sigev_signo = signal;
          const itimerspec every{{0, 50 * 1000}, {0, delay * 1000}};
          timer_t timer;
          installFatalSignalHandlers();
          if (!std::freopen(dir.path("err.txt").c_str(), "w", stderr) || !output.open(dir.path(name)) ||
              ::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 || ::timer_settime(timer, 0, &every, nullptr) != 0)
            ::_exit(3);
          for (std::size_t at = 0, end; at < complete.size(); at = end + 1)
            end = complete.find('\n', at), output.write(std::string_view(complete).substr(at, end - at)), output.endLine();
          for (int k = 0; k < 100000; ++k) ::pause(), pollTerminationSignal();  // done first: wait as a blocked read
          ::_exit(2);
        }
        int raw = 0;
        ASSERT_TRUE(pid > 0 && ::waitpid(pid, &raw, 0) == pid && WIFEXITED(raw) && WEXITSTATUS(raw) == 1)
            << "exit status 2: the signal never ended the run; 3: the child could not start";
        EXPECT_EQ(e2e::readFile(dir.path("err.txt")), "\n*** ERROR: System error occurred: " + message + "\n");
        const std::string text = decoded(dir, name);
        expectWholeLinePrefix(text, complete, 0, true);  // the last line end may come first
        wrote += !text.empty();
      }
  EXPECT_GT(wrote, 0) << "no run wrote a line before its signal";
}

}  // namespace
