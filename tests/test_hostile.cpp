// Hostile inputs and faults of the file system, end to end: whatever arrives, the program writes
// a correct file or ends with a clear message and status 1. It never crashes, never hangs (every
// run is bounded by `timeout`), and never reports "Interpolation complete." after losing data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

using e2e::Result;

// Ten epochs of two satellites, 30 s apart, from 2001-08-28 00:00:00.
const std::string BASE = "--epochs 10 --sats 2 --types L1,C1";
const std::string DEFAULT_COMMAND = "EPOFILL -i in.obs -o out.obs -n 10";
const std::string COMPLETE = "\nInterpolation complete.\n";
const int TIMED_OUT = 124;  // status of `timeout` when the run had to be killed

const std::string& base() {
  static const std::string text = e2e::generate(BASE);
  return text;
}

std::string epochLine(int epoch) {
  char line[96];
  std::snprintf(line, sizeof line, "  1  8 28  0%3d%11.7f  0  2G 1G 2", epoch * 30 / 60, (epoch * 30 % 60) * 1.0);
  return line;
}

// The text with the first occurrence of `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "not found: " << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The line that holds `start`, padded with blanks to `length` characters.
std::string padded(const std::string& text, const std::string& start, std::size_t length) {
  std::size_t at = text.find(start);
  std::size_t end = text.find('\n', at);
  std::string line = text.substr(at, end - at);
  return replaced(text, line + "\n", line + std::string(length - line.size(), ' ') + "\n");
}

std::string upTo(const std::string& text, const std::string& marker, std::size_t extra = 0) {
  return text.substr(0, text.find(marker) + extra);
}

// The text up to the end of the line that begins with `marker`.
std::string throughLine(const std::string& text, const std::string& marker) {
  return text.substr(0, text.find('\n', text.find(marker)) + 1);
}

// Bytes outside ASCII, no line end among them.
std::string junk(std::size_t n) {
  std::string bytes;
  for (std::size_t k = 0; k < n; ++k) bytes += static_cast<char>(0x80 + (k * 37) % 128);
  return bytes;
}

std::string positiveMessage(const std::string& n) {
  return "*** ERROR: Interpolation interval (" + n + ") must be a positive number of seconds.\n";
}
std::string synchMessage(const std::string& previous, const std::string& current) {
  return "\n\n*** ERROR: Epoch times out of synch between " + previous + "  and " + current + " .\n";
}
std::string typesMessage(const std::string& n) {
  return "\n*** ERROR: The # / TYPES OF OBSERV record declares " + n +
         " observation types; at most 99 are supported.\n";
}
const std::string LONG_LINE = "*** ERROR: A line of the input is longer than 1048576 characters: in.obs\n";
const std::string FEWER_THAN_TWO =
    "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n";
const std::string MISSING_VERSION = "\n*** Error: Missing RINEX VERSION / TYPE record.\n";
const std::string E4 = "  20100126.66412  20101126.66403\n";  // first data line of epoch 4
const std::string TYPES_LINE = "     2    L1    C1";
const std::string NO_EPOCH = "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n";

std::string withCommand(const std::string& command) {
  std::string line = command.empty() ? DEFAULT_COMMAND : command;
  for (std::size_t at; (at = line.find("EPOFILL")) != std::string::npos;)
    line.replace(at, 7, e2e::quote(EPOFILL_BINARY));
  return "timeout 20 sh -c " + e2e::quote(line);
}

// Where no message is settled: any fatal message will do, as long as the run fails.
const std::string SOME_ERROR = "*** ERROR: (any)";

enum class Output { NONE, EMPTY, SAME, HOLDS, ANY };

struct Case {
  const char* name;
  std::string input;    // the text of in.obs
  std::string command;  // "" for DEFAULT_COMMAND
  int status;
  std::string err;      // standard error, exactly (or SOME_ERROR)
  Output output;
  std::string detail = "";  // HOLDS: a text of the output; SAME: generator options of the reference ("" for BASE)
  std::function<std::string(std::string)> edit = nullptr;  // SAME: applied to the reference's output
  // Standard output when the run ends before its settings report ("" then, unless a message goes there).
  std::optional<std::string> out = std::nullopt;
};

void runCase(const Case& c) {
  SCOPED_TRACE(c.name);
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), c.input);
  Result r = e2e::runShell(scratch.dir(), withCommand(c.command));
  ASSERT_NE(r.status, TIMED_OUT) << "the run hung";
  EXPECT_EQ(r.status, c.status) << r.err;
  if (c.err == SOME_ERROR) {
    EXPECT_TRUE(r.err.rfind("*** ERROR: ", 0) == 0 || r.err.find("\n*** ERROR: ") != std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.err, c.err);
  }
  if (c.out || c.output == Output::NONE) {
    EXPECT_EQ(r.out, c.out.value_or(""));
  }
  if (c.status == 0) {
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), COMPLETE.size())), COMPLETE);
  } else {
    EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
  }
  const std::string output = scratch.path("out.obs");
  switch (c.output) {
    case Output::NONE: EXPECT_FALSE(e2e::exists(output)); break;
    case Output::EMPTY:
      EXPECT_TRUE(e2e::exists(output));
      EXPECT_EQ(e2e::readFile(output), "");
      break;
    case Output::SAME: {
      e2e::Scratch other;
      e2e::writeFile(other.path("in.obs"), e2e::generate(c.detail.empty() ? BASE : c.detail));
      ASSERT_EQ(e2e::runShell(other.dir(), withCommand(c.command)).status, 0);
      std::string expected = e2e::readFile(other.path("out.obs"));
      if (c.edit) expected = c.edit(expected);
      EXPECT_TRUE(e2e::readFile(output) == expected) << "the output differs from the expected file";
      break;
    }
    case Output::HOLDS: EXPECT_NE(e2e::readFile(output).find(c.detail), std::string::npos) << c.detail; break;
    case Output::ANY: break;
  }
}

std::string withCount(int epoch, const std::string& count) {
  return replaced(base(), epochLine(epoch), replaced(epochLine(epoch), "  2G", count + "G"));
}
std::string withMonth(int epoch, const std::string& month) {
  return replaced(base(), epochLine(epoch), replaced(epochLine(epoch), "  8 28", month + " 28"));
}
std::string withNul(const std::string& from, std::size_t at) {
  std::string to = from;
  to[at] = '\0';
  return to;
}

// ---------------------------------------------------------------------------------------------

TEST(Hostile, InputsAndFileSystemFaults) {
  const std::string END = std::string(60, ' ') + "END OF HEADER";
  const std::string FIRST_OBS = "  2001     8    28";
  const std::string DEV_FULL = "*** ERROR: Unable to write file: /dev/full\n";
  const std::string CUT_SATELLITES = throughLine(e2e::generate("--epochs 10 --sats 14 --types L1,C1"),
                                                 "  1  8 28  0  4 30.0000000  0 14");  // its second line is missing
  const std::string TWICE = base().substr(base().find(epochLine(2)), 81 + 2 * 33);  // epoch 2 and its data lines
  std::string nanInf = replaced(base(), "  20100126.664", "           nan");
  nanInf = replaced(replaced(nanInf, "  20101126.664", "           inf"), "  20200162.497", "     -Infinity");

  const std::vector<Case> cases = {
      // Structure
      {"empty file", "", "", 1, "", Output::NONE, "", nullptr, MISSING_VERSION},
      {"a folder as input", "", "mkdir folder && EPOFILL -i folder -o out.obs -n 10", 1,
       "*** ERROR: Unable to open file: folder\n", Output::NONE},
      {"header only", upTo(base(), epochLine(0)), "", 1, FEWER_THAN_TWO, Output::NONE},
      {"header cut mid-line", upTo(base(), TYPES_LINE, 12), "", 1, "Invalid header record: \n     2    L1\n",
       Output::NONE},
      {"no END OF HEADER, epochs follow", replaced(base(), END + "       \n", ""), "", 1,
       "Invalid header record: \n" + epochLine(0) + std::string(42, ' ') + "\n", Output::NONE},
      {"no END OF HEADER, input ends", upTo(base(), END), "", 1, "", Output::NONE, "", nullptr,
       "\n*** Error: Missing END OF HEADER record.\n"},
      // The last satellite's values read as absent, as if they were blank.
      {"cut in the data lines", upTo(base(), "  20200292.49213"), "", 0, "", Output::SAME,
       BASE + " --blank 9:2:0,9:2:1"},
      // Two satellites without a name: no correct epoch can be written.
      {"cut in the satellite list", CUT_SATELLITES, "", 1, SOME_ERROR, Output::ANY},
      {"binary bytes", junk(200) + "\n" + junk(3000) + "\n", "", 1, "Invalid header record: \n" + junk(200) + "\n",
       Output::NONE},
      {"binary bytes among the epochs", replaced(base(), epochLine(5), junk(300) + "\n" + epochLine(5)), "", 1,
       synchMessage("  1  8 28  0  2   0.000000 (6.829921e+08)", " 99 11 30  0  0   0.000000 (6.279552e+08)"),
       Output::ANY},
      {"NUL in a header label", replaced(base(), END, withNul(END, 66)), "", 1,
       "Invalid header record: \n" + withNul(END, 66) + "       \n", Output::NONE},
      {"NUL in a comment", replaced(base(), "Synthetic", withNul("Synthetic", 0)), "", 0, "", Output::SAME, "",
       [](std::string s) { return replaced(s, "Synthetic", withNul("Synthetic", 0)); }},
      // An indicator that is not a digit reads as 0; the rest of the line is still read.
      {"NUL in an indicator column", replaced(base(), E4, withNul(E4, 14)), "", 0, "", Output::SAME, "",
       [](std::string s) { return replaced(s, E4, "  20100126.66402  20101126.66403\n"); }},
      {"missing final line feed", base().substr(0, base().size() - 1), "", 0, "", Output::SAME},
      // Long lines
      {"a header line of 100 000 characters", padded(base(), "Synthetic", 100000), "", 0, "", Output::SAME},
      {"an epoch line of 100 000 characters", padded(base(), epochLine(4), 100000), "", 0, "", Output::SAME},
      {"a data line of 100 000 characters", padded(base(), E4, 100000), "", 0, "", Output::SAME},
      {"a data line of exactly 1048576 characters", padded(base(), E4, 1048576), "", 0, "", Output::SAME},
      {"a header line of 1048577 characters", padded(base(), "Synthetic", 1048577), "", 1, LONG_LINE, Output::NONE},
      {"a data line of 1048577 characters", padded(base(), E4, 1048577), "", 1, LONG_LINE, Output::ANY},
      // Numbers
      {"40 digits in a data line, read by columns and printed whole",
       replaced(base(), E4, "1234567890123456789012345678901234567890\n"), "", 0, "", Output::HOLDS,
       "\n12345678901234.0005678901234567890.00012\n"},
      {"-n of 40 digits", base(), "EPOFILL -i in.obs -o out.obs -n 1234567890123456789012345678901234567890", 1,
       positiveMessage("9223372036854775807"), Output::NONE},
      {"nan and inf in value fields read as absent", nanInf, "", 0, "", Output::SAME,
       BASE + " --blank 4:1:0,4:1:1,5:2:0"},
      {"a value too wide for its field", replaced(base(), "  20100126.664", "          1e15"), "", 0, "", Output::HOLDS,
       "\n1000000000000000.00012  20101126.66403\n"},
      // An epoch that announces 999 satellites, followed by little data: the data lines of the
      // next epochs (or none) cannot hold 999 satellites.
      {"epoch count 999 at the end", withCount(9, "999"), "", 1, SOME_ERROR, Output::ANY},
      {"epoch count 999 before other epochs", withCount(4, "999"), "", 1, SOME_ERROR, Output::ANY},
      // Times
      {"month 13 in an epoch line", withMonth(6, " 13"), "", 1,
       synchMessage("  2  1 28  0  3   0.000000 (6.962114e+08)", "  1  8 28  0  3   30.00000 (6.829922e+08)"),
       Output::ANY},
      {"month 0 in an epoch line", withMonth(6, "  0"), "", 1,
       synchMessage("  1  8 28  0  2   30.00000 (6.829922e+08)", "  0 12 28  0  3   0.000000 (6.619970e+08)"),
       Output::ANY},
      {"TIME OF FIRST OBS year 0", replaced(base(), FIRST_OBS, "     0     8    28"), "", 1,
       "\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 0.\n", Output::NONE},
      // The two-digit years of the epochs still read as 2001, and the output header takes the
      // first epoch's time.
      {"TIME OF FIRST OBS year 99999", replaced(base(), FIRST_OBS, " 99999     8    28"), "", 0, "", Output::SAME},
      {"epoch lines from 1999 into 2000", e2e::generate("--start 1999-12-31T23:58:00 " + BASE), "", 0, "",
       Output::HOLDS, "\n  0  1  1  0  0 10.0000000  0  2G 1G 2"},
      {"INTERVAL 65536", e2e::generate("--epochs 3 --interval 65536"), "EPOFILL -i in.obs -o out.obs -n 1", 1,
       "\n*** ERROR: Sampling rate (65536) must be a whole number of seconds from 1 to 65535.\n", Output::NONE},
      {"-n 2147483647", base(), "EPOFILL -i in.obs -o out.obs -n 2147483647", 1,
       "\n*** ERROR: Interpolation interval (2147483647) must be an integral\n"
       "           division of the data sampling rate (30).\n",
       Output::NONE},
      {"-n 2147483648", base(), "EPOFILL -i in.obs -o out.obs -n 2147483648", 1, positiveMessage("2147483648"),
       Output::NONE},
      {"window start after its end", base(), "EPOFILL -i in.obs -o out.obs -n 10 -s 20010828010000 -e 20010828000000",
       0, NO_EPOCH, Output::EMPTY},
      {"the same time far apart", replaced(base(), epochLine(9), TWICE + epochLine(9)), "", 1,
       synchMessage("  1  8 28  0  4   0.000000 (6.829922e+08)", "  1  8 28  0  1   0.000000 (6.829921e+08)"),
       Output::ANY},
      {"100 observation types", replaced(base(), TYPES_LINE, "   100    L1    C1"), "", 1, typesMessage("100"),
       Output::NONE},
      {"999999 observation types", replaced(base(), TYPES_LINE, "999999    L1    C1"), "", 1, typesMessage("999999"),
       Output::NONE},
      // The file system
      {"output in a folder that does not exist", base(), "EPOFILL -i in.obs -o nodir/out.obs -n 10", 1,
       "*** ERROR: Unable to open file: nodir/out.obs\n", Output::NONE},
      // chmod cannot stop root, but /proc refuses new files to everyone.
      {"output where no file can be created", base(), "EPOFILL -i in.obs -o /proc/epofill-hostile.obs -n 10", 1,
       "*** ERROR: Unable to open file: /proc/epofill-hostile.obs\n", Output::NONE},
      // A short run's output is written when the file is closed, after the loop has ended.
      {"output on a full device, short run", base(), "EPOFILL -i in.obs -o /dev/full -n 10", 1, DEV_FULL, Output::ANY},
      {"output on a full device, long run", e2e::generate("--epochs 2000"), "EPOFILL -i in.obs -o /dev/full -n 10", 1,
       DEV_FULL, Output::ANY},
      {"input that fails at its first read", "", "EPOFILL -i /proc/self/mem -o out.obs -n 10", 1,
       "*** ERROR: Unable to read file: /proc/self/mem\n", Output::NONE},
      {"named pipe", "", "mkfifo pipe && EPOFILL -i pipe -o out.obs -n 10", 1,
       "*** ERROR: The input is not a regular file: pipe\n", Output::NONE},
      {"/dev/null", "", "EPOFILL -i /dev/null -o out.obs -n 10", 1,
       "*** ERROR: The input is not a regular file: /dev/null\n", Output::NONE},
      {"standard input from a pipe", base(), "cat in.obs | EPOFILL -i /dev/stdin -o out.obs -n 10", 1,
       "*** ERROR: The input is not a regular file: /dev/stdin\n", Output::NONE},
      {"standard input from a file", base(), "EPOFILL -i /dev/stdin -o out.obs -n 10 <in.obs", 0, "", Output::SAME},
  };
  for (const Case& c : cases) runCase(c);
}

// ---------------------------------------------------------------------------------------------
// Faults that need help from the system

TEST(Hostile, OutputInAReadOnlyFolder) {
  // chmod cannot stop root; a read-only bind mount in a private mount namespace can.
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), base());
  const std::string inside = "mount --bind -o ro ro ro || exit 99; " + e2e::quote(EPOFILL_BINARY) +
                             " -i in.obs -o ro/out.obs -n 10";
  Result r = e2e::runShell(scratch.dir(), "mkdir ro && timeout 20 unshare -m sh -c " + e2e::quote(inside));
  if (r.status == 99 || r.status == 127 || r.err.find("unshare") != std::string::npos)
    GTEST_SKIP() << "no private mount namespace here to make a read-only folder: " << r.err;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "*** ERROR: Unable to open file: ro/out.obs\n");
  EXPECT_FALSE(e2e::exists(scratch.path("ro/out.obs")));
}

// A preloaded read() that fails with EIO from a given offset of any regular file.
const char* const READ_FAULT_SOURCE = R"(
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
ssize_t read(int fd, void* buf, size_t n) {
  static ssize_t (*next)(int, void*, size_t);
  if (!next) next = (ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  const char* limit = getenv("READ_FAULT_OFFSET");
  struct stat st;
  if (limit && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lseek(fd, 0, SEEK_CUR) >= atol(limit)) {
    errno = EIO;
    return -1;
  }
  return next(fd, buf, n);
}
)";

TEST(Hostile, InputThatCannotBeReadPartWay) {
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("fault.c"), READ_FAULT_SOURCE);
  if (e2e::runShell(scratch.dir(), "cc -shared -fPIC -o fault.so fault.c -ldl").status != 0)
    GTEST_SKIP() << "no C compiler to build the read-fault library";
  const std::string text = e2e::generate("--epochs 400");
  ASSERT_GT(text.size(), 3u * 65536);
  e2e::writeFile(scratch.path("in.obs"), text);
  // The header and the first epochs come with the first 64 KiB; the next read fails.
  Result r = e2e::runShell(scratch.dir(), "READ_FAULT_OFFSET=65536 ASAN_OPTIONS=verify_asan_link_order=0 "
                                          "LD_PRELOAD=./fault.so timeout 20 " +
                                              e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n 10");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "*** ERROR: Unable to read file: in.obs\n");
  EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
  EXPECT_NE(r.out.find("Progress:"), std::string::npos) << "the fault came before the run loop";
}

// ---------------------------------------------------------------------------------------------
// Resources

// Peak resident memory in KiB of the command, or -1.
long peakKiB(const e2e::Scratch& scratch, const std::string& arguments, Result& r) {
  r = e2e::runShell(scratch.dir(),
                    "/usr/bin/time -f %M -o mem.txt timeout 20 " + e2e::quote(EPOFILL_BINARY) + " " + arguments);
  std::string text = e2e::readFile(scratch.path("mem.txt"));
  return text.empty() ? -1 : std::atol(text.c_str());
}

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "a sanitized build measures the sanitizer's memory"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

TEST(Hostile, PeakMemoryDoesNotGrowWithTheFileLength) {
  SKIP_UNDER_SANITIZERS();
  if (!e2e::exists("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time is not installed";
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("hour.obs"), e2e::generate("--epochs 120"));
  e2e::writeFile(scratch.path("day.obs"), e2e::generate("--epochs 2880"));
  Result r;
  long hour = peakKiB(scratch, "-i hour.obs -o out.obs -n 10", r);
  ASSERT_EQ(r.status, 0) << r.err;
  long day = peakKiB(scratch, "-i day.obs -o out.obs -n 10", r);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_GT(hour, 0);
  EXPECT_LT(std::labs(day - hour), 2048) << "1 hour: " << hour << " KiB, 24 hours: " << day << " KiB";
}

// The widest epochs a file can describe: 999 satellites (three columns) of 99 types each.
std::string widestFile(int epochs) {
  std::string types = "L1,L2,C1,P1,P2,D1,D2,T1,T2";
  for (int k = 0; k < 90; ++k) types += "," + std::string(1, static_cast<char>('A' + k / 10)) + std::to_string(k % 10);
  std::string text = e2e::generate("--epochs 0 --types " + types);
  char field[64];
  for (int e = 0; e < epochs; ++e) {
    int t = 30 * e;
    std::snprintf(field, sizeof field, "  1  8 28  0%3d%11.7f  0999", t / 60, (t % 60) * 1.0);
    text += field;
    for (int s = 0; s < 999; ++s) {
      if (s > 0 && s % 12 == 0) text += "\n" + std::string(32, ' ');
      std::snprintf(field, sizeof field, "%c%2d", 'A' + s / 99, s % 99 + 1);
      text += field;
    }
    text += "\n";
    for (int s = 0; s < 999; ++s) {
      for (int j = 0; j < 99; ++j) {
        std::snprintf(field, sizeof field, "%14.3f  ", 1.0e7 + 10.0 * s + j + 0.5 * t);
        text += field;
        if (j % 5 == 4 || j == 98) text += "\n";
      }
    }
  }
  return text;
}

TEST(Hostile, WidestEpochsStayUnderABound) {
  SKIP_UNDER_SANITIZERS();
  if (!e2e::exists("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time is not installed";
  const long BOUND_KIB = 128 * 1024;  // about 40 records of 999 x 99 observations, and the buffers
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), widestFile(9));
  Result r;
  long peak = peakKiB(scratch, "-i in.obs -o out.obs -n 15", r);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_GT(peak, 0);
  EXPECT_LT(peak, BOUND_KIB);
  // 9 originals and one interpolated epoch in each of their 8 gaps.
  const std::string out = e2e::readFile(scratch.path("out.obs"));
  std::size_t epochLines = 0;
  for (std::size_t at = out.find("\n  1  8 28  0"); at != std::string::npos; at = out.find("\n  1  8 28  0", at + 1))
    ++epochLines;
  EXPECT_EQ(epochLines, 17u);
}

}  // namespace
