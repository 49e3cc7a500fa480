// The built program from a shell, each run bounded by `timeout`; a refused run leaves every file as it was.
#include <filesystem>
#include <regex>

#include "tests/e2e_support.h"

namespace {

const std::size_t NPOS = std::string::npos;
const std::string BASE = "--epochs 10 --sats 2 --types L1,C1";  // 30 s apart from 2001-08-28 00:00:00
const std::string& base() { static const std::string text = e2e::generate(BASE); return text; }
std::string edited(const std::string& from, const std::string& to, std::string text = base()) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, NPOS) << "not found: " << from;
  return at == NPOS ? text : text.replace(at, from.size(), to);
}
std::string upTo(const std::string& marker, std::size_t extra = 0) { return base().substr(0, base().rfind(marker) + extra); }
std::string padded(const std::string& start, std::size_t length) {  // BASE, that line padded with blanks
  const std::size_t at = base().find(start), end = base().find('\n', at);
  return std::string(base()).insert(end, length - (end - at), ' ');
}

const std::string USAGE = e2e::readFile(e2e::sourcePath("tests/expected/cli/usage.txt")),
                  SMALL_RUN = e2e::readFile(e2e::sourcePath("tests/expected/cli/small_run.stdout"));
const std::string AB = "-i a.obs -o b.obs ", MISSING = "-i missing.obs -o b.obs ", RUN = AB + "-n 10";
std::string error(const std::string& text) { return "*** ERROR: " + text + "\n"; }
std::string opening(const std::string& path) { return error("Unable to open file: " + path); }
std::string bad(const std::string& word) { return "\n ERROR : Bad parameter on command line: " + word + "\n"; }
std::string positive(const std::string& n) { return error("Interpolation interval (" + n + ") must be a positive number of seconds."); }
std::string badDate(const std::string& text) { return error("Invalid date and time: " + text + " (expected YYYYMMDDhhmmss)."); }
std::string notDividing(const std::string& n) {
  return "\n*** ERROR: Interpolation interval (" + n + ") must be an integral\n           division of the data sampling rate (30).\n";
}
std::string rateError(const std::string& text) { return "\n*** ERROR: Sampling rate (" + text + "\n"; }
std::string synch(const std::string& previous, const std::string& current) {
  return "\n\n*** ERROR: Epoch times out of synch between " + previous + "  and " + current + " .\n";
}
const std::string NO_INTERVAL = "\n*** Warning: The sampling rate is not specified in input file header.\n"
                                "    The sampling rate was computed from the first two epoch times. \n";
std::string head(const std::string& n, std::size_t size) {  // the settings report and the meter's scale
  return "\nepofill -- Version 1.04.01 December, 2001\n        Input File Name: a.obs\n       Output File Name: b.obs\n"
         "Interpolation Increment: " + n + "\n        Input File size: " + std::to_string(size) +
         "\n\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
}

// A preloaded read() that fails with EIO from offset 65536 of any file.
const char* const READ_FAULT = R"(#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>
ssize_t read(int fd, void* buf, size_t n) {
  if (lseek(fd, 0, SEEK_CUR) >= 65536) return errno = EIO, -1;
  return ((ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, "read"))(fd, buf, n);
})";

// REFUSED: nothing created or changed, standard output `out`. EMPTY: b.obs exists and is empty.
// SAME: b.obs is what a plain run with -n 10 makes of the generator options `detail` ("" for BASE).
// HOLDS: b.obs holds `detail`. Standard output is checked when `out` is set. `input` is the text of a.obs,
// `command` the words after the program or a shell command naming EPOFILL. VERSION: as REFUSED, and standard
// output is the release number of the build, then what it reads and what it writes, one line each.
enum Expect { REFUSED, EMPTY, SAME, HOLDS, ANY, VERSION };
struct Case { std::string name, input, command; int status; std::string err; Expect expect; std::string detail = "", out = ""; };

std::string shellCommand(std::string c) {
  const bool words = c.empty() || c[0] == '-';
  if (words) c = "EPOFILL " + c;
  for (std::size_t at; (at = c.find("EPOFILL")) != NPOS;) c.replace(at, 7, e2e::quote(EPOFILL_BINARY));
  return "timeout 20 " + (words ? c : "sh -c " + e2e::quote(c));
}

// The names under the folder and the input's text: what a refused run must leave as it was.
std::string snapshot(const std::string& dir) {
  std::string text = e2e::readFile(dir + "/a.obs");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) text += "\n" + entry.path().string();
  return text;
}

void runCase(const Case& c) {
  SCOPED_TRACE(c.name);
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("a.obs"), c.input);
  std::filesystem::create_symlink("a.obs", scratch.path("soft.obs"));
  std::filesystem::create_hard_link(scratch.path("a.obs"), scratch.path("hard.obs"));
  std::filesystem::create_directory(scratch.path("sub"));
  std::filesystem::create_symlink("../a.obs", scratch.path("sub/up.obs"));
  const std::string before = snapshot(scratch.dir());
  const e2e::Result r = e2e::runShell(scratch.dir(), shellCommand(c.command));
  ASSERT_NE(r.status, 124) << "the run hung";
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.err, c.err);
  const bool done = c.status == 0 && c.expect != VERSION;  // then this is the last line, and only there
  EXPECT_EQ(r.out.find("Interpolation complete."), done ? r.out.size() - std::min<std::size_t>(r.out.size(), 24) : NPOS);
  if (c.expect == REFUSED || !c.out.empty()) { EXPECT_EQ(r.out, c.out); }
  const std::string output = e2e::readFile(scratch.path("b.obs"));
  if (c.expect == REFUSED || c.expect == VERSION) { EXPECT_TRUE(snapshot(scratch.dir()) == before); }
  if (c.expect == VERSION) {
    EXPECT_TRUE(std::regex_match(r.out, std::regex("epofill " EPOFILL_VERSION "\nreads: RINEX .*\nwrites: RINEX .*\n")));
  }
  if (c.expect == EMPTY) { EXPECT_TRUE(e2e::exists(scratch.path("b.obs")) && output.empty()); }
  if (c.expect == HOLDS) { EXPECT_NE(output.find(c.detail), NPOS) << c.detail; }
  if (c.expect == SAME) {
    e2e::Scratch other;
    e2e::writeFile(other.path("a.obs"), e2e::generate(c.detail.empty() ? BASE : c.detail));
    ASSERT_EQ(e2e::runShell(other.dir(), shellCommand(RUN)).status, 0);
    EXPECT_TRUE(output == e2e::readFile(other.path("b.obs"))) << "output differs";
  }
}

TEST(Cli, CommandLinesAndEntryChecks) {
  const std::string s = base(), cannotOpen = opening("missing.obs");
  std::vector<Case> cases = {
      // Options in any order; a word the format does not name draws a complaint, yet the run goes on.
      {"options in any order", s, "-n 10 -o b.obs -i a.obs", 0, "", SAME, "", SMALL_RUN},
      {"a free word", s, AB + "extra -n 10", 0, "", SAME, "", bad("extra") + SMALL_RUN},
      {"an option twice", s, AB + "-i c.obs -n 10", 0, "", SAME, "", bad("-i") + SMALL_RUN},
      // Without -i, -o or -n nothing is opened; the scanner's messages come first.
      {"-i takes no option", s, "-i -o b.obs -n 10", 1, "\n ERROR : Option -i has invalid argument: -o\n" + USAGE, REFUSED},
      {"-n5", s, "-n5 -i a.obs -o b.obs", 1, USAGE, REFUSED, "", bad("-n5")},
      {"a word of 4096", s, "-i " + std::string(4096, 'w') + " -o b.obs -n 10", 1,
       "\n ERROR : Argument too long for option -i\n" + USAGE, REFUSED},
      // The increment, then -s, then -e, before the input is opened; then the rate, the same-file check, the output.
      {"-n 0", s, MISSING + "-n 0 -s x", 1, positive("0"), REFUSED},
      {"-n -2147483649", s, MISSING + "-n -2147483649 -s x", 1, positive("-2147483649"), REFUSED},
      {"-n 12abc", s, AB + "-n 12abc", 1, notDividing("12"), REFUSED},
      {"-n of 20 digits", s, AB + "-n 99999999999999999999", 1, positive("9223372036854775807"), REFUSED},
      {"a lone - is a value", s, AB + "-n 10 -s -", 1, badDate("-"), REFUSED},
      {"-n 2147483648", s, AB + "-n 2147483648", 1, positive("2147483648"), REFUSED},
      {"-n 2147483647", s, AB + "-n 2147483647", 1, notDividing("2147483647"), REFUSED},
      {"-s before -e", s, MISSING + "-n 5 -e y -s x", 1, badDate("x"), REFUSED},
      {"twelve characters and a month", s, MISSING + "-n 10 -s 200108280000 -e 2001012800000", 1, cannotOpen, REFUSED},
      {"no input", s, MISSING + "-n 7", 1, cannotOpen, REFUSED},
      {"the rate before the same-file check", s, "-i a.obs -o a.obs -n 7", 1, notDividing(" 7"), REFUSED},
      {"a folder as input", s, "-i sub -o b.obs -n 10", 1, opening("sub"), REFUSED},
      {"no output folder", s, "-i a.obs -o nodir/b.obs -n 10", 1, opening("nodir/b.obs"), REFUSED},
      // chmod cannot stop root, but /proc refuses new files to everyone.
      {"unwritable folder", s, "-i a.obs -o /proc/epofill.obs -n 10", 1, opening("/proc/epofill.obs"), REFUSED},
      // -s alone runs the window to 2100, -e alone from 1970.
      {"-s alone", e2e::generate("--epochs 20 --start 2099-12-31T23:50:00"), AB + "-n 30 -s 20991231235500", 0, "", HOLDS,
       " 99 12 31 23 59 30.0000000"},
      {"-e alone", e2e::generate("--epochs 20 --start 1969-12-31T23:55:00"), AB + "-n 30 -e 19700101000500", 0, "", HOLDS,
       "  1970     1     1     0     0    0.000000"},
  };
  for (const std::string words : {"", "-o b.obs -n 10", "-i a.obs -o b.obs -t"})
    cases.push_back({"usage: " + words, s, words, 1, USAGE, REFUSED});
  // -V answers alone, whatever else the line holds, and opens nothing.
  for (const std::string words : {"-V", "-i a.obs -o b.obs -n 10 -V", "-V -i missing.obs"})
    cases.push_back({words, s, words, 0, "", VERSION});
  for (std::string text : {"20010828000", "20010028000000", "20011328000000"})
    cases.push_back({"date " + text, s, MISSING + "-n 10 -s " + text, 1, badDate(text), REFUSED});
  // The same file through any path or link: opening the output would empty it.
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"a.obs", "./a.obs"}, {"a.obs", "soft.obs"}, {"a.obs", "hard.obs"}, {"soft.obs", "a.obs"},
           {"hard.obs", "sub/up.obs"}, {"sub/../a.obs", "sub/up.obs"}})
    cases.push_back({in + " " + out, s, "-i " + in + " -o " + out + " -n 10", 1,
                     error("Output file is the same as the input file: " + out), REFUSED});
  for (const Case& c : cases) runCase(c);
}

// The report and meter come only once the rate is settled; the comments give the rate found, wider
// numbers taking the room of the blanks after them so that the lines stay 60 characters.
TEST(Cli, SamplingRateMessages) {
  const std::string outOfRange = ") must be a whole number of seconds from 1 to 65535.";
  const struct { std::string generator, n; int status; std::string err; } rates[] = {
      {"--skip 1", "10", 1, rateError("60) is not the same as that specified in \nthe header INTERVAL record.")},
      {"--no-interval-record --interval 15", "5", 0, NO_INTERVAL}, {"", "60", 1, notDividing("60")},
      {"--interval 1000", "1000", 0, ""}, {"--interval 65535", "65535", 0, ""}, {"--interval 3600", "1200", 0, ""},
      {"--interval 0", "1", 1, rateError("0" + outOfRange)},
      {"--interval 65536 --no-interval-record", "1", 1, NO_INTERVAL + rateError("65536" + outOfRange)},
      {"--interval -30 --no-interval-record", "1", 1, NO_INTERVAL + rateError("-30" + outOfRange)},
      {"--epochs 1", "10", 1,
       "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n"},
  };
  auto comment = [](const std::string& text, const std::string& number) {
    return e2e::padded(text + std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + " seconds.", 60) +
           "COMMENT";
  };
  for (const auto& r : rates) {
    const std::string text = e2e::generate("--sats 1 --types L1,C1 " + r.generator);
    const std::string out = r.status ? "" : head(r.n, text.size()) + std::string(57, '|') + "\nInterpolation complete.\n";
    const std::string comments = comment("    The input sample rate was", r.generator.substr(r.generator.rfind(' ') + 1)) +
                                 "             \n" + comment("    The interpolation interval is", r.n);
    runCase({r.generator + " -n " + r.n, text, AB + "-n " + r.n, r.status, r.err, r.status ? REFUSED : HOLDS, comments, out});
  }
  // A COMMENT label before column 61 leaves a line shorter than 60: the run stops after the report.
  const std::string text = edited("Synthetic observations for tests and benchmarks" + std::string(13, ' '), "short ");
  runCase({"short COMMENT", text, RUN, 1, error("Program error.  Comment is not a multiple of 60."), EMPTY, "",
           head("10", text.size())});
}

TEST(Cli, InputsAndFileSystemFaults) {
  const std::string E4 = "  20100126.66412  20101126.66403\n";  // first data line of epoch 4
  const std::string TYPES = "     2    L1    C1", LONG = error("A line of the input is longer than 1048576 characters: a.obs");
  const std::string nanInf = edited("  20200162.497", "     -Infinity", edited("  20101126.664", "           inf",
                                    edited("  20100126.664", "           nan")));
  const std::string epoch2 = "  1  8 28  0  1  0.0000000  0  2G 1G 2", epoch9 = "  1  8 28  0  4 30.0000000  0  2G 1G 2";
  const std::vector<Case> cases = {
      {"empty file", "", RUN, 1, "", REFUSED, "", "\n*** Error: Missing RINEX VERSION / TYPE record.\n"},
      {"no END OF HEADER", upTo(std::string(60, ' ') + "END OF HEADER"), RUN, 1, "", REFUSED, "",
       "\n*** Error: Missing END OF HEADER record.\n"},
      {"cut mid-line in the header", upTo(TYPES, 12), RUN, 1, "Invalid header record: \n     2    L1\n", REFUSED},
      // A line that is no header record is shown printable, at most 80 characters of it.
      {"binary bytes", "\x01\x7f" + std::string(200, '\xe9') + "\n", RUN, 1,
       "Invalid header record: \n" + std::string(80, '?') + "\n", REFUSED},
      // The last satellite's values read as absent, as if they were blank.
      {"cut in the data lines", upTo("  20200292.49213"), RUN, 0,
       "\n*** Warning: The input ends inside the epoch of   1  8 28  0  4   30.00000; the values of its last 1 "
       "satellites are missing.\n", SAME, BASE + " --blank 9:2:0,9:2:1"},
      {"missing final line feed", base().substr(0, base().size() - 1), RUN, 0, "", SAME},
      {"a data line of exactly 1048576 characters", padded(E4, 1048576), RUN, 0, "", SAME},
      {"a header line of 1048577 characters", padded("Synthetic", 1048577), RUN, 1, LONG, REFUSED},
      {"a data line of 1048577 characters", padded(E4, 1048577), RUN, 1, LONG, ANY},
      {"40 digits, read by columns and printed whole", edited(E4, "1234567890123456789012345678901234567890\n"), RUN, 0, "", HOLDS,
       "\n12345678901234.0005678901234567890.00012\n"},
      {"nan and inf read as absent", nanInf, RUN, 0, "", SAME, BASE + " --blank 4:1:0,4:1:1,5:2:0"},
      // The list of 2 satellites that is left reads the next data line as an epoch line.
      {"a negative satellite count", edited("  1  8 28  0  2  0.0000000  0  2G", "  1  8 28  0  2  0.0000000  0 -2G"),
       RUN, 1, error("The satellite list of this epoch ends before its 403 satellites: a.obs") + E4, ANY},
      {"100 observation types", edited(TYPES, "   100    L1    C1"), RUN, 1,
       "\n*** ERROR: The # / TYPES OF OBSERV record declares 100 observation types; at most 99 are supported.\n", REFUSED},
      {"month 13 in an epoch line", edited("  1  8 28  0  3  0.0", "  1 13 28  0  3  0.0"), RUN, 1,
       synch("  2  1 28  0  3   0.000000 (6.962114e+08)", "  1  8 28  0  3   30.00000 (6.829922e+08)"), ANY},
      {"the same time far apart", edited(epoch9, base().substr(base().find(epoch2), 81 + 2 * 33) + epoch9),
       RUN, 1, synch("  1  8 28  0  4   0.000000 (6.829922e+08)", "  1  8 28  0  1   0.000000 (6.829921e+08)"), ANY},
      {"window start after its end", base(), AB + "-n 10 -s 20010828010000 -e 20010828000000", 0,
       "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n", EMPTY},
      // A short run's output is written at close, after the loop (test_output fills the disk in the loop).
      {"a full device", base(), "-i a.obs -o /dev/full -n 10", 1, error("Unable to write file: /dev/full"), ANY},
      {"first read fails", "", "-i /proc/self/mem -o b.obs -n 10", 1, error("Unable to read file: /proc/self/mem"), REFUSED},
      // The header and the first epochs come with the first 64 KiB and are written; the next read fails.
      {"input that fails part-way", e2e::generate("--epochs 400"), e2e::withPreload(READ_FAULT) + "EPOFILL " + RUN, 1,
       error("Unable to read file: a.obs"), HOLDS, "END OF HEADER"},
      // Read once, a named pipe and a pipe on standard input are inputs like a file; devices are not.
      {"named pipe", base(), "mkfifo pipe && (cat a.obs >pipe &) && EPOFILL -i pipe -o b.obs -n 10", 0, "", SAME},
      {"/dev/null", "", "-i /dev/null -o b.obs -n 10", 1, error("The input is not a regular file: /dev/null"), REFUSED},
      {"standard input from a pipe", base(), "cat a.obs | EPOFILL -i /dev/stdin -o b.obs -n 10", 0, "", SAME},
      {"standard input from a file", base(), "EPOFILL -i /dev/stdin -o b.obs -n 10 <a.obs", 0, "", SAME},
  };
  for (const Case& c : cases) runCase(c);
}

// Input is read through a buffer of fixed size: a day takes no more memory than an hour.
TEST(Cli, MemoryDoesNotGrowWithTheInput) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized build measures the sanitizer's memory";
#endif
  if (!e2e::exists("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time is not installed";
  auto peakKiB = [](const std::string& options) {
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("a.obs"), e2e::generate(options));
    EXPECT_EQ(e2e::runShell(scratch.dir(), "/usr/bin/time -f %M -o mem.txt " + shellCommand(AB + "-n 10")).status, 0);
    return std::atol(e2e::readFile(scratch.path("mem.txt")).c_str());
  };
  const long hour = peakKiB("--epochs 120"), day = peakKiB("--epochs 2880");
  EXPECT_LT(std::labs(day - hour), 2048) << "1 hour: " << hour << " KiB, 24 hours: " << day << " KiB";
}

}  // namespace
