// The built program run from a shell: command line, entry checks, settings report, sampling-rate
// messages and fatal signals.
#include <dirent.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

using e2e::Result;

std::string expected(const std::string& name) { return e2e::readFile(e2e::sourcePath("tests/expected/cli/" + name)); }

const std::string USAGE = expected("usage.txt");
const std::string PROGRESS_HEAD =
    "\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
const std::string FULL_BAR(57, '|');
const std::string COMPLETE = "\nInterpolation complete.\n";
// A 10-epoch file of two satellites, 30 s apart, 2685 bytes.
const std::string SMALL = "--epochs 10 --sats 2 --types L1,C1";

std::string settingsReport(const std::string& in, const std::string& out, const std::string& increment,
                           std::size_t size) {
  return "\nepofill -- Version 1.04.01 December, 2001\n        Input File Name: " + in +
         "\n       Output File Name: " + out + "\nInterpolation Increment: " + increment +
         "\n        Input File size: " + std::to_string(size) + "\n";
}

std::string positiveMessage(const std::string& n) {
  return "*** ERROR: Interpolation interval (" + n + ") must be a positive number of seconds.\n";
}
std::string dateMessage(const std::string& text) {
  return "*** ERROR: Invalid date and time: " + text + " (expected YYYYMMDDhhmmss).\n";
}
std::string openMessage(const std::string& name) { return "*** ERROR: Unable to open file: " + name + "\n"; }
std::string sameFileMessage(const std::string& name) {
  return "*** ERROR: Output file is the same as the input file: " + name + "\n";
}
std::string incrementMessage(const std::string& n, const std::string& rate) {
  return "\n*** ERROR: Interpolation interval (" + n + ") must be an integral\n" +
         "           division of the data sampling rate (" + rate + ").\n";
}
std::string rangeMessage(const std::string& rate) {
  return "\n*** ERROR: Sampling rate (" + rate + ") must be a whole number of seconds from 1 to 65535.\n";
}
const std::string NO_INTERVAL_WARNING =
    "\n*** Warning: The sampling rate is not specified in input file header.\n"
    "    The sampling rate was computed from the first two epoch times. \n";
const std::string FEWER_THAN_TWO =
    "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n";
const std::string PROGRAM_ERROR = "*** ERROR: Program error.  Comment is not a multiple of 60.\n";

std::string commandLine(const std::vector<std::string>& args) {
  std::string command = e2e::quote(EPOFILL_BINARY);
  for (const std::string& a : args) command += " " + e2e::quote(a);
  return command;
}

std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(d);
  }
  return names;
}

// The first 26 columns of every epoch line after the header.
std::vector<std::string> epochTimes(const std::string& file) {
  std::vector<std::string> times;
  std::size_t at = file.find("END OF HEADER");
  if (at == std::string::npos) return times;
  at = file.find('\n', at);
  while (at != std::string::npos && at + 1 < file.size()) {
    std::size_t end = file.find('\n', at + 1);
    std::string line = file.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    if (line.size() >= 32 && line[18] == '.' && line.substr(26, 3) == "  0") times.push_back(line.substr(0, 26));
    at = end;
  }
  return times;
}

class Cli : public testing::Test {
 protected:
  // Writes a generated input file into the scratch folder; returns its size.
  std::size_t input(const std::string& options, const std::string& name = "a.obs") {
    std::string text = e2e::generate(options);
    EXPECT_FALSE(text.empty()) << options;
    e2e::writeFile(scratch.path(name), text);
    return text.size();
  }
  Result run(std::initializer_list<std::string> args) { return e2e::runEpofill(scratch.dir(), args); }
  Result shell(const std::string& command) { return e2e::runShell(scratch.dir(), command); }
  std::string file(const std::string& name) { return e2e::readFile(scratch.path(name)); }
  bool exists(const std::string& name) { return e2e::exists(scratch.path(name)); }

  e2e::Scratch scratch;
};

// ---------------------------------------------------------------------------------------------
// The command line

// The settings report, the meter's scale and marks, then the closing line; options in any order.
TEST_F(Cli, SmallRunPrintsTheSettingsReportThenTheMeter) {
  ASSERT_EQ(input(SMALL), 2685u) << "the generator changed: update small_run.stdout";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-i", "a.obs", "-o", "b.obs", "-n", "10"},
                                               std::vector<std::string>{"-n", "10", "-o", "b.obs", "-i", "a.obs"}}) {
    std::remove(scratch.path("b.obs").c_str());
    Result r = shell(commandLine(args));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected("small_run.stdout"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(epochTimes(file("b.obs")).size(), 28u);  // 10 originals, 2 new epochs in each of the 9 gaps
  }
}

// Refused runs end with status 1 and leave the folder as it was: no output is created.
struct Refusal {
  std::vector<std::string> args;
  std::string err;
  std::string out = "";
};

void expectRefused(const std::string& dir, const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    const std::string command = commandLine(c.args);
    const std::set<std::string> before = listing(dir);
    Result r = e2e::runShell(dir, command);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.err, c.err) << command;
    EXPECT_EQ(r.out, c.out) << command;
    EXPECT_EQ(listing(dir), before) << command;
  }
}

// Nothing is opened: a missing input draws no complaint.
TEST_F(Cli, UsageWithoutInputOutputOrIncrement) {
  input(SMALL);
  expectRefused(scratch.dir(), {
      {{}, USAGE},
      {{"-o", "b.obs", "-n", "10"}, USAGE},
      {{"-i", "a.obs", "-n", "10"}, USAGE},
      {{"-i", "a.obs", "-o", "b.obs"}, USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-t"}, USAGE},
      {{"-i", "missing.obs", "-o", "b.obs", "-s", "2001", "-e", "x"}, USAGE},
  });
}

// The scanner's own messages through the real command line, then the usage text.
TEST_F(Cli, ScannerMessagesThenUsage) {
  input(SMALL);
  const std::string invalid = "\n ERROR : Option ";
  expectRefused(scratch.dir(), {
      {{"-i", "-o", "b.obs", "-n", "10"}, invalid + "-i has invalid argument: -o\n" + USAGE},
      {{"-i"}, invalid + "-i has invalid argument: -i\n" + USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-n"}, invalid + "-n has invalid argument: -n\n" + USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "-t"}, invalid + "-n has invalid argument: -t\n" + USAGE},
      {{"-n5", "-i", "a.obs", "-o", "b.obs"}, USAGE, "\n ERROR : Bad parameter on command line: -n5\n"},
      // The slot after -o was taken by -i, declared first: a missing argument.
      {{"-o", "-i", "a.obs", "-n", "10"}, invalid + "-o has invalid argument: -o\n" + USAGE},
      // A failing -s ends the scan before -n is served.
      {{"-i", "a.obs", "-o", "b.obs", "-s", "-e", "20010828000000", "-n", "10"},
       invalid + "-s has invalid argument: -e\n" + USAGE},
  });
}

struct Leftover {
  std::vector<std::string> args;
  std::string word;
};

// A word the format does not name draws the complaint on standard output, yet the run goes on.
TEST_F(Cli, LeftoverWordsAreReportedAndTheRunGoesOn) {
  std::size_t size = input(SMALL);
  input(SMALL, "c.obs");
  const std::vector<Leftover> cases = {
      {{"-i", "a.obs", "-o", "b.obs", "extra", "-n", "10"}, "extra"},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10", "-i", "c.obs"}, "-i"},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10", "-n", "20"}, "-n"},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10", "-x"}, "-x"},
  };
  for (const Leftover& c : cases) {
    const std::string command = commandLine(c.args);
    Result r = shell(command);
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.out, "\n ERROR : Bad parameter on command line: " + c.word + "\n" +
                         settingsReport("a.obs", "b.obs", "10", size) + PROGRESS_HEAD + FULL_BAR + COMPLETE)
        << command;
    EXPECT_EQ(r.err, "") << command;
  }
}

TEST_F(Cli, ListFlagReplacesTheMarks) {
  std::size_t size = input(SMALL);
  Result r = run({"-t", "-i", "a.obs", "-o", "b.obs", "-n", "30"});
  EXPECT_EQ(r.status, 0);
  const std::string head = settingsReport("a.obs", "b.obs", "30", size) + PROGRESS_HEAD;
  ASSERT_EQ(r.out.substr(0, head.size()), head);
  EXPECT_EQ(r.out.find('|'), std::string::npos);
  EXPECT_NE(r.out.find("Writing original epoch: "), std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - COMPLETE.size()), COMPLETE);
}

// ---------------------------------------------------------------------------------------------
// Entry checks

// Checked right after the command line: the input named here does not exist.
TEST_F(Cli, IncrementMustBePositive) {
  std::vector<Refusal> cases;
  for (auto [word, shown] : std::vector<std::pair<std::string, std::string>>{
           {"0", "0"},
           {"-5", "-5"},
           {"abc", "0"},
           {"2147483648", "2147483648"},
           {"-2147483649", "-2147483649"},
           {"99999999999999999999", "9223372036854775807"},
           {"0x10", "0"}})
    cases.push_back({{"-i", "missing.obs", "-o", "b.obs", "-n", word}, positiveMessage(shown)});
  expectRefused(scratch.dir(), cases);
}

TEST_F(Cli, DateTextsMustHoldTwelveCharactersAndAMonth) {
  std::vector<Refusal> cases;
  for (std::string text : {"20010828000", "", "20010028000000", "20011328000000", "2001-1280000", "2001xx28000000"}) {
    cases.push_back({{"-i", "missing.obs", "-o", "b.obs", "-n", "10", "-s", text}, dateMessage(text)});
    cases.push_back({{"-i", "missing.obs", "-o", "b.obs", "-n", "10", "-e", text}, dateMessage(text)});
  }
  expectRefused(scratch.dir(), cases);
}

// Twelve characters and a month suffice; the run goes on to open the input.
TEST_F(Cli, DateTextsThatPassTheCheck) {
  std::vector<Refusal> cases;
  for (std::string text : {"200108280000", "2001012800000", "2001 1280000000", "20011200000000xyz"})
    cases.push_back(
        {{"-i", "missing.obs", "-o", "b.obs", "-n", "10", "-s", text, "-e", text}, openMessage("missing.obs")});
  expectRefused(scratch.dir(), cases);
}

TEST_F(Cli, ChecksInOrder) {
  input(SMALL);
  const std::string A = "a.obs";
  expectRefused(scratch.dir(), {
      {{"-i", "missing.obs", "-n", "0", "-s", "x"}, USAGE},                                   // usage first
      {{"-i", "missing.obs", "-o", "b.obs", "-n", "0", "-s", "x"}, positiveMessage("0")},     // then -n
      {{"-i", "missing.obs", "-o", "b.obs", "-n", "5", "-e", "y", "-s", "x"}, dateMessage("x")},  // -s before -e
      {{"-i", "missing.obs", "-o", "b.obs", "-n", "5", "-e", "y"}, dateMessage("y")},         // -e before the input
      {{"-i", "missing.obs", "-o", "b.obs", "-n", "7"}, openMessage("missing.obs")},          // input before the rate
      {{"-i", A, "-o", A, "-n", "7"}, incrementMessage(" 7", "30")},                          // rate before same file
      {{"-i", A, "-o", "nodir/b.obs", "-n", "7"}, incrementMessage(" 7", "30")},              // rate before output
  });
}

TEST_F(Cli, InputThatCannotBeRead) {
  input(SMALL);
  ASSERT_EQ(shell("mkdir folder && mkfifo pipe").status, 0);
  expectRefused(scratch.dir(), {
      {{"-i", "missing.obs", "-o", "b.obs", "-n", "10"}, openMessage("missing.obs")},
      {{"-i", "folder", "-o", "b.obs", "-n", "10"}, openMessage("folder")},
      {{"-i", ".", "-o", "b.obs", "-n", "10"}, openMessage(".")},
      {{"-i", "", "-o", "b.obs", "-n", "10"}, openMessage("")},
      {{"-i", "pipe", "-o", "b.obs", "-n", "10"}, "*** ERROR: The input is not a regular file: pipe\n"},
      {{"-i", "/dev/null", "-o", "b.obs", "-n", "10"}, "*** ERROR: The input is not a regular file: /dev/null\n"},
  });
}

TEST_F(Cli, OutputThatCannotBeOpened) {
  input(SMALL);
  expectRefused(scratch.dir(), {
      {{"-i", "a.obs", "-o", "nodir/b.obs", "-n", "10"}, openMessage("nodir/b.obs")},
      {{"-i", "a.obs", "-o", ".", "-n", "10"}, openMessage(".")},
  });
}

// Opening the output would empty the input.
TEST_F(Cli, OutputThatIsTheInput) {
  input(SMALL);
  const std::string original = file("a.obs");
  ASSERT_EQ(shell("ln -s a.obs soft.obs && ln a.obs hard.obs && mkdir sub && ln -s ../a.obs sub/up.obs").status, 0);
  const std::string here = scratch.path("a.obs");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.obs", "a.obs"}, {"a.obs", "./a.obs"}, {"a.obs", here},          {"a.obs", "soft.obs"},
      {"a.obs", "hard.obs"}, {"soft.obs", "a.obs"}, {"hard.obs", "sub/up.obs"}, {"sub/../a.obs", "sub/up.obs"},
  };
  for (const auto& [in, out] : cases) {
    Result r = run({"-i", in, "-o", out, "-n", "10"});
    EXPECT_EQ(r.status, 1) << in << " " << out;
    EXPECT_EQ(r.err, sameFileMessage(out)) << in << " " << out;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(file("a.obs"), original) << in << " " << out;
  }
}

// ---------------------------------------------------------------------------------------------
// Long names and texts

const std::size_t HELD = 4095;

// A relative path of exactly `length` characters: folders of 200 characters, then the file.
std::string longPath(std::size_t length, char fill) {
  std::string path;
  while (length - path.size() > 201) path += std::string(200, fill) + "/";
  return path + std::string(length - path.size(), fill);
}

TEST_F(Cli, NamesOf4095CharactersAreHeldWhole) {
  std::size_t size = input(SMALL);
  const std::string in = longPath(HELD, 'i');
  const std::string out = longPath(HELD, 'o');
  const std::string inDir = in.substr(0, in.rfind('/'));
  const std::string outDir = out.substr(0, out.rfind('/'));
  ASSERT_EQ(shell("mkdir -p " + e2e::quote(inDir) + " " + e2e::quote(outDir) + " && cp a.obs " + e2e::quote(in)).status,
            0);

  Result r = run({"-i", in, "-o", out, "-n", "10"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, settingsReport(in, out, "10", size) + PROGRESS_HEAD + FULL_BAR + COMPLETE);
  EXPECT_EQ(shell("test -s " + e2e::quote(out)).status, 0);

  const std::string missing = longPath(HELD, 'm');
  r = run({"-i", missing, "-o", "b.obs", "-n", "10"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, openMessage(missing));

  const std::string start = "20010828000200" + std::string(HELD - 14, '9');
  const std::string increment = std::string(HELD - 2, '0') + "30";
  r = run({"-i", "a.obs", "-o", "b.obs", "-n", increment, "-s", start});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, settingsReport("a.obs", "b.obs", "30", size) + PROGRESS_HEAD + FULL_BAR + COMPLETE);
  std::vector<std::string> times = epochTimes(file("b.obs"));
  ASSERT_EQ(times.size(), 6u);
  EXPECT_EQ(times.front(), "  1  8 28  0  2  0.0000000");
}

TEST_F(Cli, LongerWordsAreRefused) {
  input(SMALL);
  const std::string word = std::string(HELD + 1, 'w');
  const std::string date = "20010828000000" + std::string(HELD + 1 - 14, '0');
  expectRefused(scratch.dir(), {
      {{"-i", word, "-o", "b.obs", "-n", "10"}, "\n ERROR : Argument too long for option -i\n" + USAGE},
      {{"-i", "a.obs", "-o", word, "-n", "10"}, "\n ERROR : Argument too long for option -o\n" + USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10", "-s", date}, "\n ERROR : Argument too long for option -s\n" + USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10", "-e", date}, "\n ERROR : Argument too long for option -e\n" + USAGE},
      {{"-i", "a.obs", "-o", "b.obs", "-n", std::string(HELD, '0') + "10"},
       "\n ERROR : Argument too long for option -n\n" + USAGE},
  });
}

// ---------------------------------------------------------------------------------------------
// The time window from -s and -e alone

TEST_F(Cli, StartAloneRunsToTheYear2100) {
  input("--start 2099-12-31T23:50:00 --sats 1 --types L1");  // 20 epochs, to 23:59:30
  Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", "30", "-s", "20991231235500"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> times = epochTimes(file("b.obs"));
  ASSERT_EQ(times.size(), 10u);
  EXPECT_EQ(times.front(), " 99 12 31 23 55  0.0000000");
  EXPECT_EQ(times.back(), " 99 12 31 23 59 30.0000000");
}

TEST_F(Cli, EndAloneRunsFromTheYear1970) {
  input("--start 1969-12-31T23:55:00 --sats 1 --types L1");  // 20 epochs, to 00:04:30
  Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", "30", "-e", "19700101000500"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> times = epochTimes(file("b.obs"));
  ASSERT_EQ(times.size(), 10u);
  EXPECT_EQ(times.front(), " 70  1  1  0  0  0.0000000");
  EXPECT_EQ(times.back(), " 70  1  1  0  4 30.0000000");
}

TEST_F(Cli, StartAndEnd) {
  input("--sats 1 --types L1");  // 2001-08-28 00:00:00 to 00:09:30
  Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", "30", "-s", "20010828000100", "-e", "200108280007"});
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> times = epochTimes(file("b.obs"));
  ASSERT_EQ(times.size(), 12u);
  EXPECT_EQ(times.front(), "  1  8 28  0  1  0.0000000");
  EXPECT_EQ(times.back(), "  1  8 28  0  6 30.0000000");
}

// ---------------------------------------------------------------------------------------------
// Sampling rate and increment

struct RateCase {
  const char* name;
  std::string generator;
  std::string increment;
  int status;
  std::string err;
  enum { NOTHING, REPORT_ONLY, FULL } out;  // what standard output holds
  bool outputFile;                           // whether b.obs exists afterwards
};

TEST_F(Cli, SamplingRateAndIncrementMessages) {
  const std::vector<RateCase> cases = {
      {"rate differs from INTERVAL", "--skip 1", "10", 1,
       "\n*** ERROR: Sampling rate (60) is not the same as that specified in \nthe header INTERVAL record.\n",
       RateCase::NOTHING, false},
      {"no INTERVAL", "--no-interval-record --interval 15", "5", 0, NO_INTERVAL_WARNING, RateCase::FULL, true},
      {"7 into 30", "", "7", 1, incrementMessage(" 7", "30"), RateCase::NOTHING, false},
      {"60 into 30", "", "60", 1, incrementMessage("60", "30"), RateCase::NOTHING, false},
      {"largest increment", "", "2147483647", 1, incrementMessage("2147483647", "30"), RateCase::NOTHING, false},
      {"30 into 30", "", "30", 0, "", RateCase::FULL, true},
      {"rate 1000", "--interval 1000", "1000", 1, PROGRAM_ERROR, RateCase::REPORT_ONLY, true},
      {"rate 65535", "--interval 65535", "65535", 1, PROGRAM_ERROR, RateCase::REPORT_ONLY, true},
      {"rate 65536", "--interval 65536", "65536", 1, rangeMessage("65536"), RateCase::NOTHING, false},
      {"computed rate 65536", "--interval 65536 --no-interval-record", "1", 1,
       NO_INTERVAL_WARNING + rangeMessage("65536"), RateCase::NOTHING, false},
      {"rate 0", "--interval 0", "1", 1, rangeMessage("0"), RateCase::NOTHING, false},
      {"computed rate -30", "--interval -30 --no-interval-record", "1", 1, NO_INTERVAL_WARNING + rangeMessage("-30"),
       RateCase::NOTHING, false},
      {"one epoch", "--epochs 1", "10", 1, FEWER_THAN_TWO, RateCase::NOTHING, false},
      {"one epoch, no INTERVAL", "--epochs 1 --no-interval-record", "10", 1, FEWER_THAN_TWO, RateCase::NOTHING, false},
      {"header only", "--epochs 0", "10", 1, FEWER_THAN_TWO, RateCase::NOTHING, false},
  };
  for (const RateCase& c : cases) {
    std::size_t size = input("--sats 1 --types L1,C1 " + c.generator);
    std::remove(scratch.path("b.obs").c_str());
    Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", c.increment});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    const std::string head = settingsReport("a.obs", "b.obs", c.increment, size) + PROGRESS_HEAD;
    const std::string out = c.out == RateCase::NOTHING       ? ""
                            : c.out == RateCase::REPORT_ONLY ? head
                                                             : head + FULL_BAR + COMPLETE;
    EXPECT_EQ(r.out, out) << c.name;
    EXPECT_EQ(exists("b.obs"), c.outputFile) << c.name;
    if (c.out == RateCase::REPORT_ONLY) {
      EXPECT_EQ(file("b.obs"), "") << c.name;
    }
  }
}

TEST_F(Cli, ComputedRateIsTheOneInTheComments) {
  input("--no-interval-record --interval 15 --sats 1 --types L1");
  Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", "5"});
  ASSERT_EQ(r.status, 0);
  const std::string out = file("b.obs");
  EXPECT_NE(out.find("*** Observation values in this file have been interpolated. COMMENT             \n"
                     "    epofill -- Version 1.04.01 December, 2001               COMMENT             \n"
                     "    The input sample rate was 15 seconds.                   COMMENT             \n"
                     "    The interpolation interval is  5 seconds.               COMMENT             \n"),
            std::string::npos)
      << out.substr(0, 2000);
}

TEST_F(Cli, IncrementEqualToTheRateCopiesTheOriginals) {
  input("--sats 2 --types L1 --epochs 12");
  Result r = run({"-i", "a.obs", "-o", "b.obs", "-n", "30"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(epochTimes(file("b.obs")), epochTimes(file("a.obs")));
  EXPECT_EQ(epochTimes(file("b.obs")).size(), 12u);
}

// ---------------------------------------------------------------------------------------------
// Fatal signals sent to a running program

// Starts the program in the background on a large input, waits until its meter is drawn, sends
// the signal and waits for it. A run that ended first is retried on a bigger input.
Result interrupt(const e2e::Scratch& scratch, const std::string& signal, std::string& report) {
  Result r;
  for (int epochs = 4000; epochs <= 64000; epochs *= 2) {
    std::string text = e2e::generate("--epochs " + std::to_string(epochs));
    e2e::writeFile(scratch.path("big.obs"), text);
    report = settingsReport("big.obs", "out.obs", "1", text.size()) + PROGRESS_HEAD;
    r = e2e::runShell(scratch.dir(),
                      "sh -c 'rm -f run.out run.err run.status; " + std::string(EPOFILL_BINARY) +
                          " -i big.obs -o out.obs -n 1 >run.out 2>run.err & pid=$!; i=0; "
                          "while [ $i -lt 2000 ] && ! grep -qs Completed run.out; do sleep 0.005; i=$((i+1)); done; "
                          "kill -" + signal + " $pid; wait $pid; echo $? >run.status'");
    r.out = e2e::readFile(scratch.path("run.out"));
    r.err = e2e::readFile(scratch.path("run.err"));
    r.status = std::atoi(e2e::readFile(scratch.path("run.status")).c_str());
    if (!(r.status == 0 && r.err.empty())) return r;
  }
  ADD_FAILURE() << "every run ended before the signal";
  return r;
}

TEST_F(Cli, Signals) {
  for (auto [name, message] : std::vector<std::pair<std::string, std::string>>{
           {"INT", "User interrupt."}, {"TERM", "External termination signal."}}) {
    std::string report;
    Result r = interrupt(scratch, name, report);
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, "\n*** ERROR: System error occurred: " + message + "\n") << name;
    // Standard output holds the report, the scale and some marks, and nothing from the handler.
    const std::string most = report + FULL_BAR;
    EXPECT_EQ(r.out, most.substr(0, r.out.size())) << name;
    EXPECT_GE(r.out.size(), report.size()) << name;
    const std::string output = file("out.obs");
    if (!output.empty()) {
      EXPECT_EQ(output.back(), '\n') << name;  // whole lines only
    }
  }
}

}  // namespace
