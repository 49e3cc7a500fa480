// The built program run from a shell: command line, entry checks, settings report, sampling-rate
// messages and fatal signals.
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

using e2e::Result;
using Args = std::vector<std::string>;

std::string expected(const std::string& name) { return e2e::readFile(e2e::sourcePath("tests/expected/cli/" + name)); }

const std::string USAGE = expected("usage.txt");
const std::string PROGRESS_HEAD =
    "\n\nProgress:\n\n0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100     % Completed\n";
const std::string FULL_BAR(57, '|');
const std::string COMPLETE = "\nInterpolation complete.\n";
const std::string SMALL = "--epochs 10 --sats 2 --types L1,C1";  // 30 s apart, 2685 bytes
const std::string NO_INTERVAL_WARNING =
    "\n*** Warning: The sampling rate is not specified in input file header.\n"
    "    The sampling rate was computed from the first two epoch times. \n";
const std::string FEWER_THAN_TWO =
    "\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n";
const std::string PROGRAM_ERROR = "*** ERROR: Program error.  Comment is not a multiple of 60.\n";

std::string report(const std::string& in, const std::string& out, const std::string& n, std::size_t size) {
  return "\nepofill -- Version 1.04.01 December, 2001\n        Input File Name: " + in +
         "\n       Output File Name: " + out + "\nInterpolation Increment: " + n +
         "\n        Input File size: " + std::to_string(size) + "\n" + PROGRESS_HEAD;
}
std::string error(const std::string& text) { return "*** ERROR: " + text + "\n"; }
std::string positive(const std::string& n) {
  return error("Interpolation interval (" + n + ") must be a positive number of seconds.");
}
std::string badDate(const std::string& text) {
  return error("Invalid date and time: " + text + " (expected YYYYMMDDhhmmss).");
}
std::string notDividing(const std::string& n) {
  return "\n*** ERROR: Interpolation interval (" + n + ") must be an integral\n" +
         "           division of the data sampling rate (30).\n";
}
std::string outOfRange(const std::string& rate) {
  return "\n" + error("Sampling rate (" + rate + ") must be a whole number of seconds from 1 to 65535.");
}
std::string invalid(const std::string& option, const std::string& word) {
  return "\n ERROR : Option " + option + " has invalid argument: " + word + "\n" + USAGE;
}
std::string tooLong(const std::string& option) {
  return "\n ERROR : Argument too long for option " + option + "\n" + USAGE;
}

const std::size_t HELD = 4095;  // the longest word the scanner takes
const Args AB = {"-i", "a.obs", "-o", "b.obs"};
Args with(Args args, const Args& more) { args.insert(args.end(), more.begin(), more.end()); return args; }
Args missingInput(const Args& more) { return with({"-i", "missing.obs", "-o", "b.obs"}, more); }

// A relative path of exactly `length` characters: folders of 200 characters, then the file.
std::string longPath(std::size_t length, char fill) {
  std::string path;
  while (length - path.size() > 201) path += std::string(200, fill) + "/";
  return path + std::string(length - path.size(), fill);
}

std::string commandLine(const Args& args) {
  std::string command = e2e::quote(EPOFILL_BINARY);
  for (const std::string& a : args) command += " " + e2e::quote(a);
  return command;
}

// Columns 1-26 of the observation epoch lines after the header.
std::vector<std::string> epochTimes(const std::string& file) {
  std::vector<std::string> times;
  std::istringstream in(file);
  bool body = false;
  for (std::string line; std::getline(in, line);) {
    if (body && line.size() >= 32 && line[18] == '.' && line.compare(26, 3, "  0") == 0)
      times.push_back(line.substr(0, 26));
    body = body || line.find("END OF HEADER") != std::string::npos;
  }
  return times;
}

struct Refusal { Args args; std::string err, out = ""; };

class Cli : public testing::Test {
 protected:
  // Writes a generated input file into the scratch folder; returns its size.
  std::size_t input(const std::string& options, const std::string& name = "a.obs") {
    std::string text = e2e::generate(options);
    EXPECT_FALSE(text.empty()) << options;
    e2e::writeFile(scratch.path(name), text);
    return text.size();
  }
  Result run(const Args& args) { return e2e::runShell(scratch.dir(), commandLine(args)); }
  std::string file(const std::string& name) { return e2e::readFile(scratch.path(name)); }
  void shell(const std::string& command) { ASSERT_EQ(e2e::runShell(scratch.dir(), command).status, 0) << command; }
  std::string snapshot() { return e2e::runShell(scratch.dir(), "{ ls -AR; cat a.obs; }").out; }

  // A refused run ends with status 1 and leaves every file as it was, and creates none.
  void expectRefused(const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
      SCOPED_TRACE(commandLine(c.args));
      const std::string before = snapshot();
      Result r = run(c.args);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.out, c.out);
      EXPECT_TRUE(snapshot() == before);
    }
  }

  e2e::Scratch scratch;
};

// Options in any order; a word the format does not name draws the scanner's complaint on
// standard output, yet the run goes on. The settings report comes before the meter.
TEST_F(Cli, RunsThatGoOn) {
  ASSERT_EQ(input(SMALL), 2685u) << "the generator changed: update small_run.stdout";
  input(SMALL, "c.obs");
  for (const auto& [args, leftover] : std::vector<std::pair<Args, std::string>>{
           {{"-i", "a.obs", "-o", "b.obs", "-n", "10"}, ""},
           {{"-n", "10", "-o", "b.obs", "-i", "a.obs"}, ""},
           {{"-i", "a.obs", "-o", "b.obs", "-i", "c.obs", "-n", "10"}, "-i"},
           {{"-i", "a.obs", "-o", "b.obs", "extra", "-n", "10"}, "extra"}}) {
    SCOPED_TRACE(commandLine(args));
    std::remove(scratch.path("b.obs").c_str());
    Result r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, (leftover.empty() ? "" : "\n ERROR : Bad parameter on command line: " + leftover + "\n") +
                         expected("small_run.stdout"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(epochTimes(file("b.obs")).size(), 28u);  // 10 originals, 2 new epochs in each of the 9 gaps
  }
}

// Without -i, -o or -n nothing is opened; the scanner's own messages come first.
TEST_F(Cli, CommandLinesThatEndInTheUsage) {
  input(SMALL);
  expectRefused({
      {{}, USAGE},
      {{"-o", "b.obs", "-n", "10"}, USAGE},
      {{"-i", "a.obs", "-n", "10"}, USAGE},
      {with(AB, {"-t"}), USAGE},
      {{"-i", "-o", "b.obs", "-n", "10"}, invalid("-i", "-o")},
      {{"-i"}, invalid("-i", "-i")},
      {{"-o", "-i", "a.obs", "-n", "10"}, invalid("-o", "-o")},  // -i, declared first, took the slot
      {{"-n5", "-i", "a.obs", "-o", "b.obs"}, USAGE, "\n ERROR : Bad parameter on command line: -n5\n"},
      {{"-i", std::string(HELD + 1, 'w'), "-o", "b.obs", "-n", "10"}, tooLong("-i")},
      {{"-i", "a.obs", "-o", std::string(HELD + 1, 'w'), "-n", "10"}, tooLong("-o")},
      {with(AB, {"-n", "10", "-s", "200108280000" + std::string(HELD - 11, '0')}), tooLong("-s")},
      {with(AB, {"-n", "10", "-e", "200108280000" + std::string(HELD - 11, '0')}), tooLong("-e")},
      {with(AB, {"-n", std::string(HELD - 1, '0') + "10"}), tooLong("-n")},
  });
}

// -V answers alone, whatever else the line holds, and opens nothing: the release number of the
// build, then what it reads and what it writes, one line each.
TEST_F(Cli, VersionReport) {
  input(SMALL);
  for (const Args& args : std::vector<Args>{{"-V"}, with(AB, {"-n", "10", "-V"}), {"-V", "-i", "missing.obs"}}) {
    SCOPED_TRACE(commandLine(args));
    const std::string before = snapshot();
    Result r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::istringstream lines(r.out);
    std::string version, reads, writes, more;
    std::getline(lines, version);
    std::getline(lines, reads);
    std::getline(lines, writes);
    EXPECT_EQ(version, std::string("epofill ") + EPOFILL_VERSION);
    EXPECT_EQ(reads.rfind("reads: RINEX ", 0), 0u) << reads;
    EXPECT_EQ(writes.rfind("writes: RINEX ", 0), 0u) << writes;
    EXPECT_FALSE(std::getline(lines, more)) << more;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_TRUE(snapshot() == before);
  }
}

// The increment, then -s, then -e, all before the input is opened; then the input, the rate,
// the same-file check and the output. Opening an output that is the input would empty it.
TEST_F(Cli, EntryChecksInOrder) {
  input(SMALL);
  shell("ln -s a.obs soft.obs && ln a.obs hard.obs && mkdir sub && ln -s ../a.obs sub/up.obs");
  std::vector<Refusal> cases = {
      {{"-i", "missing.obs", "-n", "0", "-s", "x"}, USAGE},
      {missingInput({"-n", "0", "-s", "x"}), positive("0")},
      {missingInput({"-n", "abc", "-s", "x"}), positive("0")},
      {missingInput({"-n", "0x10", "-s", "x"}), positive("0")},
      {missingInput({"-n", "-2147483649", "-s", "x"}), positive("-2147483649")},
      {{"-n", "-5", "-i", "missing.obs", "-o", "b.obs"}, positive("-5")},
      {missingInput({"-n", "5", "-e", "y", "-s", "x"}), badDate("x")},
      {missingInput({"-n", "5", "-e", "y"}), badDate("y")},
      {missingInput({"-n", "7"}), error("Unable to open file: missing.obs")},
      {{"-i", "", "-o", "b.obs", "-n", "7"}, error("Unable to open file: ")},
      {{"-i", longPath(HELD, 'm'), "-o", "b.obs", "-n", "7"}, error("Unable to open file: " + longPath(HELD, 'm'))},
      {{"-i", "a.obs", "-o", "a.obs", "-n", "7"}, notDividing(" 7")},
      {{"-i", "a.obs", "-o", "nodir/b.obs", "-n", "7"}, notDividing(" 7")},
      {{"-i", "a.obs", "-o", ".", "-n", "10"}, error("Unable to open file: .")},
  };
  // Shorter than 12 characters, or a month outside 1-12.
  for (std::string text : {"20010828000", "", "20010028000000", "20011328000000", "2001-1280000", "2001xx28000000"})
    for (std::string option : {"-s", "-e"}) cases.push_back({missingInput({"-n", "10", option, text}), badDate(text)});
  // Twelve characters and a month suffice: the run goes on to open the input.
  for (std::string text : {"200108280000", "2001012800000", "2001 1280000000", "20011200000000xyz"})
    cases.push_back({missingInput({"-n", "10", "-s", text, "-e", text}), error("Unable to open file: missing.obs")});
  // The same file through any path or link.
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"a.obs", "a.obs"}, {"a.obs", "./a.obs"}, {"a.obs", scratch.path("a.obs")}, {"a.obs", "soft.obs"},
           {"a.obs", "hard.obs"}, {"soft.obs", "a.obs"}, {"hard.obs", "sub/up.obs"}, {"sub/../a.obs", "sub/up.obs"}})
    cases.push_back({{"-i", in, "-o", out, "-n", "10"}, error("Output file is the same as the input file: " + out)});
  expectRefused(cases);
}

TEST_F(Cli, NamesOf4095CharactersAreHeldWhole) {
  std::size_t size = input(SMALL);
  const std::string in = longPath(HELD, 'i'), out = longPath(HELD, 'o');
  shell("mkdir -p " + e2e::quote(in.substr(0, in.rfind('/'))) + " " + e2e::quote(out.substr(0, out.rfind('/'))) +
        " && cp a.obs " + e2e::quote(in));
  Result r = run({"-i", in, "-o", out, "-n", "10"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, report(in, out, "10", size) + FULL_BAR + COMPLETE);
  EXPECT_EQ(epochTimes(e2e::runShell(scratch.dir(), "cat " + e2e::quote(out)).out).size(), 28u);
}

// -s alone runs the window to 2100, -e alone from 1970; -s and -n of 4095 characters are read.
TEST_F(Cli, TimeWindowFromStartOrEndAlone) {
  struct Case { std::string start; Args args; std::size_t count; std::string first, last; };
  const std::string z(HELD - 12, '0');
  const std::vector<Case> cases = {
      {"2099-12-31T23:50:00", {"-n", "30", "-s", "20991231235500"}, 10, " 99 12 31 23 55  0", " 99 12 31 23 59 30"},
      {"1969-12-31T23:55:00", {"-n", "30", "-e", "19700101000500"}, 10, " 70  1  1  0  0  0", " 70  1  1  0  4 30"},
      {"2001-08-28T00:00:00", {"-n", z + "0000000030", "-s", "200108280002" + z}, 16, "  1  8 28  0  2  0",
       "  1  8 28  0  9 30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    input("--epochs 20 --sats 1 --types L1 --start " + c.start);
    Result r = run(with(AB, c.args));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> times = epochTimes(file("b.obs"));
    ASSERT_EQ(times.size(), c.count);
    EXPECT_EQ(times.front(), c.first + ".0000000");
    EXPECT_EQ(times.back(), c.last + ".0000000");
  }
}

// Standard output: nothing before the report; the report alone when the comments overflow; the
// whole run when it goes on. The output file exists from the report on.
TEST_F(Cli, SamplingRateAndIncrementMessages) {
  struct Case { std::string generator, increment; int status; std::string err; };
  const Case cases[] = {
      {"--skip 1", "10", 1,
       "\n*** ERROR: Sampling rate (60) is not the same as that specified in \nthe header INTERVAL record.\n"},
      {"--no-interval-record --interval 15", "5", 0, NO_INTERVAL_WARNING},
      {"", "7", 1, notDividing(" 7")},
      {"", "60", 1, notDividing("60")},
      // Wider numbers take the room of the blanks after them: the lines stay 60 characters.
      {"--interval 1000", "1000", 0, ""},
      {"--interval 65535", "65535", 0, ""},
      {"--interval 3600", "1200", 0, ""},
      {"--interval 0", "1", 1, outOfRange("0")},
      {"--interval 65536 --no-interval-record", "1", 1, NO_INTERVAL_WARNING + outOfRange("65536")},
      {"--interval -30 --no-interval-record", "1", 1, NO_INTERVAL_WARNING + outOfRange("-30")},
      {"--epochs 1", "10", 1, FEWER_THAN_TWO},
      {"--epochs 1 --no-interval-record", "10", 1, FEWER_THAN_TWO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.generator + " -n " + c.increment);
    std::size_t size = input("--sats 1 --types L1,C1 " + c.generator);
    std::remove(scratch.path("b.obs").c_str());
    Result r = run(with(AB, {"-n", c.increment}));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    const std::string head = report("a.obs", "b.obs", c.increment, size);
    if (c.status == 0) {
      EXPECT_EQ(r.out, head + FULL_BAR + COMPLETE);
      // The computed rate is the one the comments give.
      const std::string rate = c.generator.substr(c.generator.rfind(' ') + 1);
      char comments[256];
      std::snprintf(comments, sizeof comments, "%-60sCOMMENT             \n%-60sCOMMENT             \n",
                    ("    The input sample rate was" + std::string(rate.size() < 3 ? 3 - rate.size() : 0, ' ') + rate +
                     " seconds.").c_str(),
                    ("    The interpolation interval is" + std::string(c.increment.size() < 3 ? 3 - c.increment.size() : 0, ' ') +
                     c.increment + " seconds.").c_str());
      EXPECT_NE(file("b.obs").find(comments), std::string::npos) << comments;
    } else if (c.err == PROGRAM_ERROR) {
      EXPECT_EQ(r.out, head);
      EXPECT_TRUE(e2e::exists(scratch.path("b.obs")));
      EXPECT_EQ(file("b.obs"), "");
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(e2e::exists(scratch.path("b.obs")));
    }
  }
}

// The signal is sent once the meter is drawn; a run that ended first is retried on a bigger input.
TEST_F(Cli, Signals) {
  for (auto [name, message] : std::vector<std::pair<std::string, std::string>>{
           {"INT", "User interrupt."}, {"TERM", "External termination signal."}}) {
    SCOPED_TRACE(name);
    std::string head;
    Result r{0, "", ""};
    for (int epochs = 4000; epochs <= 64000 && r.status == 0 && r.err.empty(); epochs *= 2) {
      head = report("big.obs", "out.obs", "1", input("--epochs " + std::to_string(epochs), "big.obs"));
      e2e::runShell(scratch.dir(),
                    "sh -c 'rm -f run.out run.err run.status; " + std::string(EPOFILL_BINARY) +
                        " -i big.obs -o out.obs -n 1 >run.out 2>run.err & pid=$!; i=0; "
                        "while [ $i -lt 2000 ] && ! grep -qs Completed run.out; do sleep 0.005; i=$((i+1)); done; "
                        "kill -" + name + " $pid; wait $pid; echo $? >run.status'");
      r = {std::atoi(file("run.status").c_str()), file("run.out"), file("run.err")};
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\n*** ERROR: System error occurred: " + message + "\n");
    // The report, the scale and some marks, and nothing from the handler.
    EXPECT_GE(r.out.size(), head.size());
    EXPECT_EQ(r.out, (head + FULL_BAR).substr(0, r.out.size()));
    const std::string output = file("out.obs");
    if (!output.empty()) {
      EXPECT_EQ(output.back(), '\n');  // whole lines only
    }
  }
}

}  // namespace
