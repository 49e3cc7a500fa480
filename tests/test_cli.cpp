// The built program from a shell, each run bounded by `timeout`; a refused run leaves every file as it was.
#include "tests/e2e_support.h"

namespace {

const std::size_t NPOS = std::string::npos;
const std::string BASE = "--epochs 10 --sats 2 --types L1,C1";  // 30 s apart from 2001-08-28 00:00:00
const std::string& base() { static const std::string text = e2e::generate(BASE); return text; }
std::string edited(const std::string& from, const std::string& to, std::string text = base()) {
  EXPECT_NE(text.find(from), NPOS) << "not found: " << from;
  return text.find(from) == NPOS ? text : text.replace(text.find(from), from.size(), to);
}

const std::string USAGE = e2e::readFile(e2e::sourcePath("tests/expected/cli/usage.txt"));
const std::string BANNER = "epofill -- Version 1.04.01 December, 2001";
const std::string AB = "-i a.obs -o b.obs ", MISSING = "-i missing.obs -o b.obs ", RUN = AB + "-n 10";
std::string error(const std::string& text) { return "*** ERROR: " + text + "\n"; }
std::string head(const std::string& n, std::size_t size) {  // the settings report and the meter's scale
  return "\n" + BANNER + "\n        Input File Name: a.obs\n       Output File Name: b.obs\nInterpolation Increment: " + n + "\n        Input File size: " +
         std::to_string(size) + "\n\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
}
std::string complete(const std::string& n, const std::string& in) { return head(n, in.size()) + std::string(57, '|') + "\nInterpolation complete.\n"; }

const char* const READ_FAULT = "#define _GNU_SOURCE\n#include <dlfcn.h>\n#include <errno.h>\n#include <unistd.h>\n"  // read() fails from 64 KiB on
                               "ssize_t read(int fd, void* b, size_t n) { if (lseek(fd, 0, SEEK_CUR) >= 65536) return errno = EIO, -1;\n"
                               "  return ((ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, \"read\"))(fd, b, n); }\n";

// REFUSED: nothing made or changed, stdout `out`. EMPTY: b.obs empty. SAME: b.obs as -n 10 makes it of the generator's `detail`.
enum Expect { REFUSED, EMPTY, SAME, HOLDS, ANY, VERSION };  // HOLDS: b.obs holds `detail`; VERSION: as REFUSED, the forms on stdout
struct Case { std::string name, input, command; int status; std::string err; Expect expect; std::string detail = "", out = ""; };

std::string shellCommand(std::string c) {
  const bool words = c.empty() || c[0] == '-';
  for (c = words ? "EPOFILL " + c : c; c.find("EPOFILL") != NPOS;) c.replace(c.find("EPOFILL"), 7, e2e::quote(EPOFILL_BINARY));
  return "timeout 20 " + (words ? c : "sh -c " + e2e::quote(c));
}
std::string generator(const std::string& options) { return "python3 " + e2e::quote(e2e::sourcePath("tools/gen_rinex.py")) + " " + options; }
std::string snapshot(const std::string& dir) { return e2e::runShell(dir, "find . | sort && cat a.obs").out; }

void runCase(const Case& c) {
  SCOPED_TRACE(c.name);
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("a.obs"), c.input);
  ASSERT_EQ(e2e::runShell(scratch.dir(), "ln -s a.obs soft.obs && ln a.obs hard.obs && mkdir sub && ln -s ../a.obs sub/up.obs").status, 0);
  const std::string before = snapshot(scratch.dir());
  const e2e::Result r = e2e::runShell(scratch.dir(), shellCommand(c.command));
  EXPECT_EQ(r.status, c.status) << r.err;  // 124: the run hung
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.out.find("Interpolation complete."), c.status == 0 && c.expect != VERSION ? r.out.size() - std::min<std::size_t>(r.out.size(), 24) : NPOS);
  if (c.expect == REFUSED || !c.out.empty()) { EXPECT_EQ(r.out, c.out); }
  if (c.expect == REFUSED || c.expect == VERSION) { EXPECT_TRUE(snapshot(scratch.dir()) == before); }
  if (c.expect == VERSION) { EXPECT_TRUE(r.out.rfind("epofill " EPOFILL_VERSION "\nreads: RINEX ", 0) == 0 && r.out.find("\nwrites: RINEX ") != NPOS); }
  if (c.expect == EMPTY) { EXPECT_TRUE(e2e::exists(scratch.path("b.obs")) && e2e::readFile(scratch.path("b.obs")).empty()); }
  if (c.expect == HOLDS) { EXPECT_NE(e2e::readFile(scratch.path("b.obs")).find(c.detail), NPOS) << c.detail; }
  EXPECT_TRUE(c.expect != SAME || e2e::runShell(scratch.dir(), generator(c.detail.empty() ? BASE : c.detail) + " >ref.obs && " +
                                                    shellCommand("-i ref.obs -o ref.out -n 10") + " && cmp ref.out b.obs").status == 0);
}

TEST(Cli, CommandLinesInputsAndFileSystemFaults) {
  const std::string s = base();
  std::vector<Case> cases = {
      {"a free word", s, "-n 10 extra -o b.obs -i a.obs", 0, "", SAME, "", "\n ERROR : Bad parameter on command line: extra\n" + complete("10", s)},
      {"-i takes no option", s, "-i -o b.obs -n 10", 1, "\n ERROR : Option -i has invalid argument: -o\n" + USAGE, REFUSED},
      {"a word of 4096", s, "-i " + std::string(4096, 'w') + " -o b.obs -n 10", 1, "\n ERROR : Argument too long for option -i\n" + USAGE, REFUSED},
      // The increment, then -s and -e, before the input is opened; then the rate, the same-file check, the output.
      {"-n 0", s, MISSING + "-n 0 -s x", 1, error("Interpolation interval (0) must be a positive number of seconds."), REFUSED},
      {"-n 2147483648", s, AB + "-n 2147483648", 1, error("Interpolation interval (2147483648) must be a positive number of seconds."), REFUSED},
      {"-n 2147483647", s, AB + "-n 2147483647", 1,
       "\n*** ERROR: Interpolation interval (2147483647) must be an integral\n           division of the data sampling rate (30).\n", REFUSED},
      {"twelve characters and a month", s, MISSING + "-n 10 -s 200108280000 -e 2001012800000", 1, error("Unable to open file: missing.obs"), REFUSED},
      {"no output folder", s, "-i a.obs -o nodir/b.obs -n 10", 1, error("Unable to open file: nodir/b.obs"), REFUSED},
      {"-s to 2100", e2e::generate("--start 2099-12-31T23:50:00"), AB + "-n 30 -s 20991231235500", 0, "", HOLDS, " 99 12 31 23 59 30.0000000"},
      {"-e", e2e::generate("--start 1969-12-31T23:55:00"), AB + "-n 30 -e 197001010005", 0, "", HOLDS, "  1970     1     1     0     0    0.000000"},
  };
  for (const std::string words : {"", "-o b.obs -n 10", "-i a.obs -o b.obs -t"}) cases.push_back({"usage: " + words, s, words, 1, USAGE, REFUSED});
  for (const std::string words : {"-V", "-i a.obs -o b.obs -n 10 -V", "-V -i missing.obs"}) cases.push_back({words, s, words, 0, "", VERSION});
  for (std::string text : {"20010828000", "20010028000000", "20011328000000"})
    cases.push_back({text, s, MISSING + "-n 10 -s " + text, 1, error("Invalid date and time: " + text + " (expected YYYYMMDDhhmmss)."), REFUSED});
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{  // opening the output would empty the input
           {"a.obs", "soft.obs"}, {"a.obs", "hard.obs"}, {"soft.obs", "a.obs"}, {"hard.obs", "sub/up.obs"}, {"sub/../a.obs", "sub/up.obs"}})
    cases.push_back({in + " " + out, s, "-i " + in + " -o " + out + " -n 10", 1, error("Output file is the same as the input file: " + out), REFUSED});
  // The report and meter come once the rate is settled; in the comments wider numbers take the room of the blanks after them.
  const std::string rate = "\n*** ERROR: Sampling rate (", outOfRange = ") must be a whole number of seconds from 1 to 65535.\n";
  const struct { std::string generator, n; int status; std::string err; } rates[] = {
      {"--skip 1", "10", 1, rate + "60) is not the same as that specified in \nthe header INTERVAL record.\n"},
      {"--interval 30", "10", 0, ""}, {"--interval 65535", "65535", 0, ""}, {"--interval 0", "1", 1, rate + "0" + outOfRange},
      {"--interval 65536 --no-interval-record", "1", 1, "\n*** Warning: The sampling rate is not specified in input file header.\n"
       "    The sampling rate was computed from the first two epoch times. \n" + rate + "65536" + outOfRange},
      {"--epochs 1", "10", 1, "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n"},
  };
  auto rated = [](const std::string& n) { return std::string(3 - std::min<std::size_t>(3, n.size()), ' ') + n + " seconds."; };
  for (const auto& r : rates) {
    const std::string text = e2e::generate("--sats 1 --types L1,C1 " + r.generator);
    std::string comments;
    for (const std::string& line : std::vector<std::string>{"*** Observation values in this file have been interpolated.", "    " + BANNER,
             "    The input sample rate was" + rated(r.generator.substr(r.generator.rfind(' ') + 1)), "    The interpolation interval is" + rated(r.n)})
      comments += e2e::padded(line, 60) + "COMMENT             \n";
    cases.push_back({r.generator + " -n " + r.n, text, AB + "-n " + r.n, r.status, r.err, r.status ? REFUSED : HOLDS, comments,
                     r.status ? "" : complete(r.n, text)});
  }
  const std::string text = edited("Synthetic observations for tests and benchmarks" + std::string(13, ' '), "short ");
  cases.push_back({"a COMMENT label before column 61: the run stops after the report", text, RUN, 1,
                   error("Program error.  Comment is not a multiple of 60."), EMPTY, "", head("10", text.size())});
  const std::string E4 = "  20100126.66412  20101126.66403\n", LONG = error("A line of the input is longer than 1048576 characters: a.obs");
  cases.insert(cases.end(), {
      {"empty file", "", RUN, 1, "", REFUSED, "", "\n*** Error: Missing RINEX VERSION / TYPE record.\n"},
      {"no END", s.substr(0, s.rfind(std::string(60, ' ') + "END")), RUN, 1, "", REFUSED, "", "\n*** Error: Missing END OF HEADER record.\n"},
      {"binary", "\x01\x7f" + std::string(200, '\xe9') + "\n", RUN, 1, "Invalid header record: \n" + std::string(80, '?') + "\n", REFUSED},
      {"cut in a data line", s.substr(0, s.rfind("  20200292.49213")), RUN, 0, "\n*** Warning: The input ends inside the epoch of   1  8 28  0  4"
       "   30.00000; the values of its last 1 satellites are missing.\n", SAME, BASE + " --blank 9:2:0,9:2:1"},
      {"the last line without its line feed", s.substr(0, s.size() - 1), RUN, 0, "", SAME},
      {"a data line of exactly 1048576 characters", edited(E4, E4.substr(0, 32) + std::string(1048576 - 32, ' ') + "\n"), RUN, 0, "", SAME},
      {"a header line of 1048577 characters", edited("Synthetic", std::string(1048577 - 80, ' ') + "Synthetic"), RUN, 1, LONG, REFUSED},
      {"40 digits", edited(E4, "1234567890123456789012345678901234567890\n"), RUN, 0, "", HOLDS, "\n12345678901234.0005678901234567890.00012\n"},
      {"nan and inf read as absent", edited("  20200162.497", "     -Infinity", edited("  20101126.664", "           inf",
       edited("  20100126.664", "           nan"))), RUN, 0, "", SAME, BASE + " --blank 4:1:0,4:1:1,5:2:0"},
      {"-2 satellites: the next data line read as an epoch", edited("  1  8 28  0  2  0.0000000  0  2G", "  1  8 28  0  2  0.0000000  0 -2G"),
       RUN, 1, error("The satellite list of this epoch ends before its 403 satellites: a.obs") + E4, ANY},
      {"100 observation types", edited("     2    L1    C1", "   100    L1    C1"), RUN, 1,
       "\n*** ERROR: The # / TYPES OF OBSERV record declares 100 observation types; at most 99 are supported.\n", REFUSED},
      {"a time repeated after the window", e2e::generate(BASE + " --repeat 5"), AB + "-n 10 -e 20010828000100", 1,
       "\n\n*** ERROR: Epoch times out of synch between   1  8 28  0  2   30.00000 (6.829922e+08)  and   1  8 28  0  2   30.00000 (6.829922e+08) .\n", ANY},
      {"a time repeated before a window of one epoch", e2e::generate(BASE + " --repeat 1"), AB + "-n 10 -s 20010828000100 -e 20010828000130", 0,
       "\n*** Warning: Only 1 epochs lie inside the time window; at least 8 are needed to interpolate.\n    The original epochs were copied without "
       "interpolation.\n", HOLDS, "  2001     8    28     0     1    0.000000                  TIME OF FIRST OBS"},
      {"start after end", s, AB + "-n 10 -s 20010828010000 -e 20010828000000", 0,
       "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n", EMPTY},
      {"a full device, written at close (test_output: in the run)", base(), "-i a.obs -o /dev/full -n 10", 1, error("Unable to write file: /dev/full"), ANY},
      {"a read failing after 64 KiB, the header written", e2e::generate("--epochs 400"),
       e2e::withPreload(READ_FAULT) + "EPOFILL " + RUN, 1, error("Unable to read file: a.obs"), HOLDS, "END OF HEADER"},
  });
  for (const Case& c : cases) runCase(c);
}

// A day streams through the same few buffers as an hour: the run keeps no more than its window.
TEST(Cli, MemoryDoesNotGrowWithTheInput) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized build measures the sanitizer's memory";
#endif
  if (!e2e::exists("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time is not installed";
  auto peakKiB = [](const std::string& options) {
    e2e::Scratch scratch;
    EXPECT_EQ(e2e::runShell(scratch.dir(), generator(options) + " >a.obs && /usr/bin/time -f %M -o mem.txt " + shellCommand(RUN)).status, 0);
    return std::atol(e2e::readFile(scratch.path("mem.txt")).c_str());
  };
  const long hour = peakKiB("--epochs 120"), day = peakKiB("--epochs 2880");
  EXPECT_LT(std::labs(day - hour), 2048) << "1 hour: " << hour << " KiB, 24 hours: " << day << " KiB";
}

}  // namespace
