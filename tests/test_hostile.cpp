// Hostile inputs and file-system faults, end to end: a correct file, or a clear message and status 1; never a
// hang (every run is bounded by `timeout`), never "Interpolation complete." after losing data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

const std::size_t NPOS = std::string::npos;

// Ten epochs of two satellites, 30 s apart, from 2001-08-28 00:00:00.
const std::string BASE = "--epochs 10 --sats 2 --types L1,C1";
const std::string& base() {
  static const std::string text = e2e::generate(BASE);
  return text;
}

std::string epochTime(int t) {  // an epoch line's time and flag, t seconds after the first epoch
  char line[64];
  std::snprintf(line, sizeof line, "  1  8 28  0%3d%11.7f  0", t / 60, (t % 60) * 1.0);
  return line;
}
std::string epochLine(int epoch) { return epochTime(30 * epoch) + "  2G 1G 2"; }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, NPOS) << "not found: " << from;
  return at == NPOS ? text : text.replace(at, from.size(), to);
}
std::string edited(const std::string& from, const std::string& to) { return replaced(base(), from, to); }
std::string inEpoch(int epoch, const std::string& from, const std::string& to) {
  return edited(epochLine(epoch), replaced(epochLine(epoch), from, to));
}
// The text up to the last occurrence of `marker`, and `extra` characters more.
std::string upTo(const std::string& text, const std::string& marker, std::size_t extra = 0) {
  return text.substr(0, text.rfind(marker) + extra);
}
// BASE with the line that begins with `start` padded with blanks to `length` characters.
std::string padded(const std::string& start, std::size_t length) {
  const std::size_t at = base().find(start), end = base().find('\n', at);
  return std::string(base()).insert(end, length - (end - at), ' ');
}
std::string withNul(std::string text, std::size_t at) { return text.replace(at, 1, 1, '\0'); }
std::string junk(std::size_t n) {  // bytes outside ASCII, no line end among them
  std::string bytes(n, '\0');
  for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<char>(0x80 + (k * 37) % 128);
  return bytes;
}

std::string synch(const std::string& previous, const std::string& current) {
  return "\n\n*** ERROR: Epoch times out of synch between " + previous + "  and " + current + " .\n";
}
std::string types(const std::string& n) {
  return "\n*** ERROR: The # / TYPES OF OBSERV record declares " + n + " observation types; at most 99 are supported.\n";
}
const std::string LONG_LINE = "*** ERROR: A line of the input is longer than 1048576 characters: in.obs\n",
                  DEV_FULL = "*** ERROR: Unable to write file: /dev/full\n",
                  NOT_REGULAR = "*** ERROR: The input is not a regular file: ";
const std::string END = std::string(60, ' ') + "END OF HEADER";
const std::string E4 = "  20100126.66412  20101126.66403\n";  // first data line of epoch 4
const std::string TYPES = "     2    L1    C1", FIRST_OBS = "  2001     8    28";
const std::string ANY_ERROR = "*** ERROR: (any)";  // where no message is settled, any fatal one will do

// A preloaded read() that fails with EIO from offset 65536 of any file.
const char* const READ_FAULT_SOURCE = R"(#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>
ssize_t read(int fd, void* buf, size_t n) {
  if (lseek(fd, 0, SEEK_CUR) >= 65536) return errno = EIO, -1;
  return ((ssize_t (*)(int, void*, size_t))dlsym(RTLD_NEXT, "read"))(fd, buf, n);
})";

// "" runs -i in.obs -o out.obs -n 10; a command that begins with '-' gives the words after -i in.obs.
std::string withCommand(std::string c) {
  if (c.empty()) c = "-o out.obs -n 10";
  if (c[0] == '-') c = "EPOFILL -i in.obs " + c;
  c.replace(c.find("EPOFILL"), 7, e2e::quote(EPOFILL_BINARY));
  return "timeout 20 sh -c " + e2e::quote(c);
}

enum Output { NONE, EMPTY, SAME, HOLDS, ANY };

struct Case {
  const char* name;
  std::string input, command;  // the text of in.obs; the command
  int status;
  std::string err;  // standard error exactly, or ANY_ERROR
  Output output;
  // HOLDS: a text of out.obs; SAME: options of the reference run ("" for BASE), a replacement in its output.
  std::string detail = "", from = "", to = "";
  std::string out = "";  // NONE: standard output, a run that ends before its settings report
};

void runCase(const Case& c) {
  SCOPED_TRACE(c.name);
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), c.input);
  const e2e::Result r = e2e::runShell(scratch.dir(), withCommand(c.command));
  ASSERT_NE(r.status, 124) << "the run hung";
  EXPECT_EQ(r.status, c.status) << r.err;
  const bool anyError = c.err == ANY_ERROR && (r.err.rfind("*** ERROR: ", 0) == 0 || r.err.find("\n*** ERROR: ") != NPOS);
  EXPECT_EQ(r.err, anyError ? r.err : c.err);
  const std::size_t done = r.out.find("Interpolation complete.");  // the last line of a success only
  EXPECT_EQ(done, c.status == 0 ? r.out.size() - std::min<std::size_t>(r.out.size(), 24) : NPOS) << r.out;
  const std::string output = scratch.path("out.obs");
  if (c.output == NONE) { EXPECT_EQ(r.out + (e2e::exists(output) ? "[and out.obs exists]" : ""), c.out); }
  if (c.output == EMPTY) { EXPECT_TRUE(e2e::exists(output) && e2e::readFile(output).empty()); }
  if (c.output == HOLDS) { EXPECT_NE(e2e::readFile(output).find(c.detail), NPOS) << c.detail; }
  if (c.output == SAME) {
    e2e::Scratch other;
    e2e::writeFile(other.path("in.obs"), e2e::generate(c.detail.empty() ? BASE : c.detail));
    ASSERT_EQ(e2e::runShell(other.dir(), withCommand(c.command)).status, 0);
    const std::string expected = e2e::readFile(other.path("out.obs"));
    EXPECT_TRUE(e2e::readFile(output) == (c.from.empty() ? expected : replaced(expected, c.from, c.to)))
        << "the output differs from the reference";
  }
}

TEST(Hostile, InputsAndFileSystemFaults) {
  const std::string blanks = "\n" + std::string(32, ' ');  // a continuation of the satellite list
  const std::string twice = base().substr(base().find(epochLine(2)), 81 + 2 * 33);  // epoch 2 and its data lines
  const std::string nanInf = replaced(replaced(edited("  20100126.664", "           nan"), "  20101126.664",
                                               "           inf"), "  20200162.497", "     -Infinity");
  const std::string readFault = e2e::withPreload(READ_FAULT_SOURCE) + "EPOFILL -i in.obs -o out.obs -n 10";
  const std::vector<Case> cases = {
      // Structure
      {"empty file", "", "", 1, "", NONE, "", "", "", "\n*** Error: Missing RINEX VERSION / TYPE record.\n"},
      {"a folder as input", "", "mkdir d && EPOFILL -i d -o out.obs -n 10", 1, "*** ERROR: Unable to open file: d\n", NONE},
      {"header only", upTo(base(), epochLine(0)), "", 1,
       "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n", NONE},
      {"header cut mid-line", upTo(base(), TYPES, 12), "", 1, "Invalid header record: \n     2    L1\n", NONE},
      {"no END OF HEADER, epochs follow", edited(END + "       \n", ""), "", 1,
       "Invalid header record: \n" + epochLine(0) + std::string(42, ' ') + "\n", NONE},
      {"no END OF HEADER, input ends", upTo(base(), END), "", 1, "", NONE, "", "", "",
       "\n*** Error: Missing END OF HEADER record.\n"},
      // The last satellite's values read as absent, as if they were blank.
      {"cut in the data lines", upTo(base(), "  20200292.49213"), "", 0,
       "\n*** Warning: The input ends inside the epoch of   1  8 28  0  4   30.00000; the values of its last 1 "
       "satellites are missing.\n", SAME, BASE + " --blank 9:2:0,9:2:1"},
      // The last epoch's second satellite line is missing: no correct epoch can be written.
      {"cut in the satellite list", upTo(e2e::generate(BASE + " --sats 14"), blanks, 1), "", 1, ANY_ERROR, ANY},
      {"binary bytes", junk(200) + "\n" + junk(3000) + "\n", "", 1, "Invalid header record: \n" + junk(200) + "\n", NONE},
      {"binary bytes among the epochs", edited(epochLine(5), junk(300) + "\n" + epochLine(5)), "", 1,
       synch("  1  8 28  0  2   0.000000 (6.829921e+08)", " 99 11 30  0  0   0.000000 (6.279552e+08)"), ANY},
      {"NUL in a header label", edited(END, withNul(END, 66)), "", 1,
       "Invalid header record: \n" + withNul(END, 66) + "       \n", NONE},
      {"NUL in a comment", edited("Synthetic", withNul("Synthetic", 0)), "", 0, "", SAME, "", "Synthetic",
       withNul("Synthetic", 0)},
      // An indicator that is not a digit reads as 0; the rest of the line is still read.
      {"NUL in an indicator column", edited(E4, withNul(E4, 14)), "", 0, "", SAME, "", E4, "  20100126.66402  20101126.66403\n"},
      {"missing final line feed", base().substr(0, base().size() - 1), "", 0, "", SAME},
      // Long lines
      {"a header line of 100 000 characters", padded("Synthetic", 100000), "", 0, "", SAME},
      {"an epoch line of 100 000 characters", padded(epochLine(4), 100000), "", 0, "", SAME},
      {"a data line of 100 000 characters", padded(E4, 100000), "", 0, "", SAME},
      {"a data line of exactly 1048576 characters", padded(E4, 1048576), "", 0, "", SAME},
      {"a header line of 1048577 characters", padded("Synthetic", 1048577), "", 1, LONG_LINE, NONE},
      {"a data line of 1048577 characters", padded(E4, 1048577), "", 1, LONG_LINE, ANY},
      // Numbers
      {"40 digits in a data line, read by columns and printed whole",
       edited(E4, "1234567890123456789012345678901234567890\n"), "", 0, "", HOLDS, "\n12345678901234.0005678901234567890.00012\n"},
      {"-n of 40 digits", base(), "-o out.obs -n 1234567890123456789012345678901234567890", 1,
       "*** ERROR: Interpolation interval (9223372036854775807) must be a positive number of seconds.\n", NONE},
      {"nan and inf in value fields read as absent", nanInf, "", 0, "", SAME, BASE + " --blank 4:1:0,4:1:1,5:2:0"},
      {"a value too wide for its field", edited("  20100126.664", "          1e15"), "", 0, "", HOLDS,
       "\n1000000000000000.00012  20101126.66403\n"},
      // 999 satellites announced; the data lines of the next epochs (or none) cannot hold them.
      {"epoch count 999 at the end", inEpoch(9, "  2G", "999G"), "", 1, ANY_ERROR, ANY},
      {"epoch count 999 before other epochs", inEpoch(4, "  2G", "999G"), "", 1, ANY_ERROR, ANY},
      {"100 observation types", edited(TYPES, "   100    L1    C1"), "", 1, types("100"), NONE},
      {"999999 observation types", edited(TYPES, "999999    L1    C1"), "", 1, types("999999"), NONE},
      // Times
      {"month 13 in an epoch line", inEpoch(6, "  8 28", " 13 28"), "", 1,
       synch("  2  1 28  0  3   0.000000 (6.962114e+08)", "  1  8 28  0  3   30.00000 (6.829922e+08)"), ANY},
      {"month 0 in an epoch line", inEpoch(6, "  8 28", "  0 28"), "", 1,
       synch("  1  8 28  0  2   30.00000 (6.829922e+08)", "  0 12 28  0  3   0.000000 (6.619970e+08)"), ANY},
      {"TIME OF FIRST OBS year 0", edited(FIRST_OBS, "     0     8    28"), "", 1,
       "\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 0.\n", NONE},
      // The epochs' two-digit years still read as 2001; the output header takes the first epoch's time.
      {"TIME OF FIRST OBS year 99999", edited(FIRST_OBS, " 99999     8    28"), "", 0, "", SAME},
      {"epoch lines from 1999 into 2000", e2e::generate("--start 1999-12-31T23:58:00 " + BASE), "", 0, "", HOLDS,
       "\n  0  1  1  0  0 10.0000000  0  2G 1G 2"},
      {"INTERVAL 65536", e2e::generate("--epochs 3 --interval 65536"), "-o out.obs -n 1", 1,
       "\n*** ERROR: Sampling rate (65536) must be a whole number of seconds from 1 to 65535.\n", NONE},
      {"-n 2147483647", base(), "-o out.obs -n 2147483647", 1, "\n*** ERROR: Interpolation interval (2147483647) must "
       "be an integral\n           division of the data sampling rate (30).\n", NONE},
      {"-n 2147483648", base(), "-o out.obs -n 2147483648", 1,
       "*** ERROR: Interpolation interval (2147483648) must be a positive number of seconds.\n", NONE},
      {"window start after its end", base(), "-o out.obs -n 10 -s 20010828010000 -e 20010828000000", 0,
       "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n", EMPTY},
      {"the same time far apart", edited(epochLine(9), twice + epochLine(9)), "", 1,
       synch("  1  8 28  0  4   0.000000 (6.829922e+08)", "  1  8 28  0  1   0.000000 (6.829921e+08)"), ANY},
      // The file system
      {"output in a folder that does not exist", base(), "-o nodir/out.obs -n 10", 1,
       "*** ERROR: Unable to open file: nodir/out.obs\n", NONE},
      // chmod cannot stop root, but /proc refuses new files to everyone.
      {"output in a folder that is not writable", base(), "-o /proc/epofill-hostile.obs -n 10", 1,
       "*** ERROR: Unable to open file: /proc/epofill-hostile.obs\n", NONE},
      // A short run's output is written when the file is closed, after the loop has ended.
      {"output on a full device, short run", base(), "-o /dev/full -n 10", 1, DEV_FULL, ANY},
      {"output on a full device, long run", e2e::generate("--epochs 2000"), "-o /dev/full -n 10", 1, DEV_FULL, ANY},
      {"input that fails at its first read", "", "EPOFILL -i /proc/self/mem -o out.obs -n 10", 1,
       "*** ERROR: Unable to read file: /proc/self/mem\n", NONE},
      // The header and the first epochs come with the first 64 KiB and are written; the next read fails.
      {"input that fails part-way", e2e::generate("--epochs 400"), readFault, 1,
       "*** ERROR: Unable to read file: in.obs\n", HOLDS, "END OF HEADER"},
      {"named pipe", "", "mkfifo pipe && EPOFILL -i pipe -o out.obs -n 10", 1, NOT_REGULAR + "pipe\n", NONE},
      {"/dev/null", "", "EPOFILL -i /dev/null -o out.obs -n 10", 1, NOT_REGULAR + "/dev/null\n", NONE},
      {"standard input from a pipe", base(), "cat in.obs | EPOFILL -i /dev/stdin -o out.obs -n 10", 1,
       NOT_REGULAR + "/dev/stdin\n", NONE},
      {"standard input from a file", base(), "EPOFILL -i /dev/stdin -o out.obs -n 10 <in.obs", 0, "", SAME},
  };
  for (const Case& c : cases) runCase(c);
}

// The widest epochs a file can describe: 999 satellites (three columns) of 99 types each.
std::string widestFile(int epochs) {
  std::string types = "L1,L2,C1,P1,P2,D1,D2,T1,T2", satellites = "999";
  for (int k = 0; k < 90; ++k) types += std::string(",") + static_cast<char>('A' + k / 10) + static_cast<char>('0' + k % 10);
  char field[64];
  for (int s = 0; s < 999; ++s) {
    std::snprintf(field, sizeof field, "%c%2d", 'A' + s / 99, s % 99 + 1);
    satellites += (s > 0 && s % 12 == 0 ? "\n" + std::string(32, ' ') : "") + field;
  }
  std::string text = e2e::generate("--epochs 0 --types " + types);
  for (int t = 0; t < 30 * epochs; t += 30) {
    text += epochTime(t) + satellites;
    for (int k = 0; k < 999 * 99; ++k) {  // five values a line, each satellite on a new line
      std::snprintf(field, sizeof field, "%s%14.3f  ", k % 99 % 5 == 0 ? "\n" : "", 1.0e7 + 10.0 * (k / 99) + k % 99 + 0.5 * t);
      text += field;
    }
    text += "\n";
  }
  return text;
}

TEST(Hostile, MemoryStaysBounded) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized build measures the sanitizer's memory";
#endif
  if (!e2e::exists("/usr/bin/time")) GTEST_SKIP() << "/usr/bin/time is not installed";
  e2e::Scratch scratch;
  auto peakKiB = [&](const std::string& input, const std::string& increment) {  // of a run that must succeed
    e2e::writeFile(scratch.path("in.obs"), input);
    const e2e::Result r = e2e::runShell(scratch.dir(), "/usr/bin/time -f %M -o mem.txt timeout 20 " +
                                                      e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + increment);
    EXPECT_TRUE(r.status == 0 && r.err.empty()) << r.status << ": " << r.err;
    return std::atol(e2e::readFile(scratch.path("mem.txt")).c_str());
  };
  const long hour = peakKiB(e2e::generate("--epochs 120"), "10"), day = peakKiB(e2e::generate("--epochs 2880"), "10");
  ASSERT_GT(hour, 0);
  EXPECT_LT(std::labs(day - hour), 2048) << "1 hour: " << hour << " KiB, 24 hours: " << day << " KiB";
  // Ten records of 999 x 99 observations (the window, the one read, the one built), and the buffers.
  EXPECT_LT(peakKiB(widestFile(9), "15"), 128 * 1024);
  const std::string out = e2e::readFile(scratch.path("out.obs"));
  int epochLines = 0;
  for (std::size_t at = 0; (at = out.find("\n  1  8 28  0", at + 1)) != NPOS;) ++epochLines;
  EXPECT_EQ(epochLines, 17);  // 9 originals and one interpolated epoch in each of their 8 gaps
}

}  // namespace
