#include "scanargs/scanargs.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const char* const DRIVER_FORMAT = "-i char; -o char; -s char; -e char; -n long = 5; -t;";

struct Output {
  std::string out;
  std::string err;
};

// Runs one scan of `words` with the streams captured; `call` gets argc and argv.
// The caller's argument vector must come back unchanged.
template <typename Call>
int captured(std::vector<std::string> words, Output& output, Call call) {
  words.insert(words.begin(), "epofill");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::vector<char*> original = argv;

  CaptureStdout();
  CaptureStderr();
  const int result = call(static_cast<int>(words.size()), argv.data());
  output.out = GetCapturedStdout();
  output.err = GetCapturedStderr();
  EXPECT_EQ(argv, original);
  return result;
}

class ScanTest : public testing::Test {
 protected:
  void TearDown() override { scanargs_trace = 0; }
};

// The driver's call, with every variable preset to a value the scanner must not invent.
class DriverScan : public ScanTest {
 protected:
  int run(std::vector<std::string> words) {
    return captured(std::move(words), output, [this](int argc, char** argv) {
      return scanargs(argc, argv, DRIVER_FORMAT, &fi, in, &fo, out, &fs, start, &fe, end, &fn, &n, &ft);
    });
  }
  int fi = -7, fo = -7, fs = -7, fe = -7, fn = -7, ft = -7;
  char in[SCANARGS_BUFFER_SIZE] = "in?";
  char out[SCANARGS_BUFFER_SIZE] = "out?";
  char start[SCANARGS_BUFFER_SIZE] = "start?";
  char end[SCANARGS_BUFFER_SIZE] = "end?";
  long n = 777;
  Output output;
};

TEST_F(DriverScan, OptionsAreFoundInAnyOrder) {
  for (const auto& words : {std::vector<std::string>{"-i", "a.obs", "-o", "b.obs", "-n", "10"},
                            std::vector<std::string>{"-o", "b.obs", "-n", "10", "-i", "a.obs"}}) {
    EXPECT_EQ(run(words), 3);
    EXPECT_EQ(fi, 1);
    EXPECT_STREQ(in, "a.obs");
    EXPECT_EQ(fo, 1);
    EXPECT_STREQ(out, "b.obs");
    EXPECT_EQ(fs, 0);
    EXPECT_STREQ(start, "start?");
    EXPECT_EQ(fe, 0);
    EXPECT_STREQ(end, "end?");
    EXPECT_EQ(fn, 1);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(ft, 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
  }
}

TEST_F(DriverScan, FlagAndNegativeNumber) {
  EXPECT_EQ(run({"-i", "a.obs", "-o", "b.obs", "-t"}), 3);
  EXPECT_EQ(ft, 1);
  EXPECT_EQ(fn, 0);
  EXPECT_EQ(n, 5);

  EXPECT_EQ(run({"-n", "-5", "-i", "a.obs", "-o", "b.obs"}), 3);
  EXPECT_EQ(fn, 1);
  EXPECT_EQ(n, -5);
  EXPECT_EQ(ft, 0);
}

TEST_F(DriverScan, EmptyCommandLineGivesDefaultsOnly) {
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(fi + fo + fs + fe + fn + ft, 0);
  EXPECT_EQ(n, 5);
  EXPECT_STREQ(in, "in?");
  EXPECT_STREQ(end, "end?");

  n = 777;
  EXPECT_EQ(scanargs(0, nullptr, DRIVER_FORMAT, &fi, in, &fo, out, &fs, start, &fe, end, &fn, &n, &ft), 0);
  EXPECT_EQ(n, 5);
  n = 777;
  EXPECT_EQ(scanargs(3, nullptr, DRIVER_FORMAT, &fi, in, &fo, out, &fs, start, &fe, end, &fn, &n, &ft), 0);
  EXPECT_EQ(n, 5);
}

TEST_F(DriverScan, NumberConversionIsLenientAndSaturates) {
  const std::pair<const char*, long> cases[] = {{"99999999999999999999", LONG_MAX},
                                                {"-99999999999999999999", LONG_MIN},
                                                {"12abc", 12},
                                                {"abc", 0}};
  for (const auto& [word, value] : cases) {
    EXPECT_EQ(run({"-n", word}), 1) << word;
    EXPECT_EQ(fn, 1);
    EXPECT_EQ(n, value) << word;
  }
}

TEST_F(DriverScan, OptionWithoutValidArgument) {
  EXPECT_EQ(run({"-i", "-o", "b.obs"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Option -i has invalid argument: -o\n");
  EXPECT_EQ(output.out, "");
  EXPECT_EQ(fi, 0);
  EXPECT_STREQ(in, "in?");
  EXPECT_EQ(fo, 0);  // groups after the failure keep their set-up state
  EXPECT_STREQ(out, "out?");
  EXPECT_EQ(n, 777);

  EXPECT_EQ(run({"-i"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Option -i has invalid argument: -i\n");

  EXPECT_EQ(run({"-i", "a.obs", "-o", "b.obs", "-s", "-"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Option -s has invalid argument: -\n");
  EXPECT_EQ(fo, 1);

  // -i, declared first, takes a.obs; the slot after -o is then empty.
  EXPECT_EQ(run({"-o", "-i", "a.obs"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Option -o has invalid argument: -o\n");
  EXPECT_EQ(fi, 1);
  EXPECT_STREQ(in, "a.obs");
  EXPECT_EQ(fo, 0);

  // A failing number option still holds its default.
  EXPECT_EQ(run({"-i", "a", "-o", "b", "-n", "-x"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Option -n has invalid argument: -x\n");
  EXPECT_EQ(fn, 0);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(ft, 0);
}

TEST_F(DriverScan, UntakenWordsAreReportedOnStandardOutput) {
  EXPECT_EQ(run({"-i", "a.obs", "-o", "b.obs", "-i", "c.obs"}), -1);
  EXPECT_EQ(output.out, "\n ERROR : Bad parameter on command line: -i\n");
  EXPECT_EQ(output.err, "");
  EXPECT_EQ(fi, 1);
  EXPECT_STREQ(in, "a.obs");

  EXPECT_EQ(run({"-i", "a.obs", "-o", "b.obs", "extra"}), -1);
  EXPECT_EQ(output.out, "\n ERROR : Bad parameter on command line: extra\n");

  EXPECT_EQ(run({"-n5"}), -1);
  EXPECT_EQ(output.out, "\n ERROR : Bad parameter on command line: -n5\n");
  EXPECT_EQ(fn, 0);
  EXPECT_EQ(n, 5);
}

TEST_F(DriverScan, WordsUpToTheBufferSizeAreHeldWhole) {
  const std::string longest(SCANARGS_BUFFER_SIZE - 1, 'x');
  EXPECT_EQ(run({"-i", longest, "-o", "b.obs", "-n", "1"}), 3);
  EXPECT_EQ(std::string(in), longest);

  const std::string too_long(SCANARGS_BUFFER_SIZE, 'y');
  EXPECT_EQ(run({"-i", too_long, "-o", "b.obs"}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Argument too long for option -i\n");
  EXPECT_EQ(fi, 0);
  EXPECT_EQ(std::string(in), longest);

  const std::string many_digits(SCANARGS_BUFFER_SIZE, '1');
  EXPECT_EQ(run({"-n", many_digits}), -1);
  EXPECT_EQ(output.err, "\n ERROR : Argument too long for option -n\n");
  EXPECT_EQ(fn, 0);
  EXPECT_EQ(n, 5);
}

// Other formats: one char buffer, one long and one found flag, all preset.
class FormatScan : public ScanTest {
 protected:
  template <typename... Pointers>
  int run(const char* format, std::vector<std::string> words, Pointers... pointers) {
    return captured(std::move(words), output,
                    [&](int argc, char** argv) { return scanargs(argc, argv, format, pointers...); });
  }
  int found = -7;
  int found2 = -7;
  char text[SCANARGS_BUFFER_SIZE] = "previous";
  long value = 777;
  Output output;
};

TEST_F(FormatScan, CharOptionDefaultIsNotApplied) {
  EXPECT_EQ(run("-x char = abc;", {}, &found, text), 0);
  EXPECT_EQ(found, 0);
  EXPECT_STREQ(text, "previous");
}

TEST_F(FormatScan, PositionalsTakeDefaultsOrFreeWordsInOrder) {
  EXPECT_EQ(run("char = abc;", {}, text), 0);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(run("char = abc;", {"def"}, text), 1);
  EXPECT_STREQ(text, "def");

  EXPECT_EQ(run("long = 7;", {}, &value), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(run("long;", {}, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(run("char; long = 0;", {"x", "12"}, text, &value), 2);
  EXPECT_STREQ(text, "x");
  EXPECT_EQ(value, 12);

  // A negative number is an option's value, never a free word.
  EXPECT_EQ(run("long = 7;", {"-3"}, &value), -1);
  EXPECT_EQ(output.out, "\n ERROR : Bad parameter on command line: -3\n");
}

TEST_F(FormatScan, OptionsAreServedBeforePositionals) {
  char option_text[SCANARGS_BUFFER_SIZE] = "";
  EXPECT_EQ(run("char; -o char;", {"-o", "b", "a"}, text, &found, option_text), 2);
  EXPECT_STREQ(text, "a");
  EXPECT_STREQ(option_text, "b");
}

TEST_F(FormatScan, PositionalWordTooLong) {
  EXPECT_EQ(run("char;", {std::string(SCANARGS_BUFFER_SIZE, 'z')}, text), -1);
  EXPECT_EQ(output.err, "\n ERROR : Argument too long for option char\n");
  EXPECT_STREQ(text, "previous");
}

TEST_F(FormatScan, MalformedFormats) {
  // Text after the last ';' declares nothing.
  EXPECT_EQ(run("-i char; -o char", {"-i", "a", "-o", "b"}, &found, text), -1);
  EXPECT_EQ(output.out, "\n ERROR : Bad parameter on command line: -o\n");
  EXPECT_EQ(found, 1);
  EXPECT_STREQ(text, "a");

  // The empty second group has no type.
  EXPECT_EQ(run("-i char;;", {"-i", "a"}, &found, text), -1);
  EXPECT_EQ(output.err, "\n ERROR : Invalid parameter type: \n");
  EXPECT_EQ(found, 1);

  EXPECT_EQ(run("-q int;", {"-q", "3"}, &found), -1);
  EXPECT_EQ(output.err, "\n ERROR : Invalid parameter type: int\n");
  EXPECT_EQ(output.out, "");
}

TEST_F(FormatScan, FormatLongerThan127CharactersIsRefusedSilently) {
  const std::string longest = "-t;" + std::string(124, ' ');
  const std::string group = "-t" + std::string(124, ' ') + ";";
  EXPECT_EQ(run(longest.c_str(), {"-t"}, &found), 1);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(run(group.c_str(), {"-t"}, &found), 1);

  found = -7;
  EXPECT_EQ(run((longest + " ").c_str(), {"-t"}, &found), -1);
  EXPECT_EQ(found, -7);
  EXPECT_EQ(run((" " + group).c_str(), {"-t"}, &found), -1);
  EXPECT_EQ(output.out + output.err, "");
}

TEST_F(FormatScan, TraceGoesToStandardErrorOnlyWhenSwitchedOn) {
  EXPECT_EQ(run("-t;", {"-t"}, &found), 1);
  EXPECT_EQ(output.err, "");

  scanargs_trace = 1;
  EXPECT_EQ(run("-t;", {"-t"}, &found), 1);
  EXPECT_EQ(output.out, "");
  EXPECT_EQ(output.err, "\n(scanargs) dup_argv[1]: -t"
                        "\n(scanargs) working_fmt: -t; param_count: 1"
                        "\n(scanargs) temp: -t "
                        "\n(scanargs) trimmed temp: -t "
                        "\n(scanargs) param_group[0].opt_code:    -t\n" +
                            std::string(29, ' ') + ".type:       \n" + std::string(28, ' ') +
                            ".deflt:            "
                            "\n(getarg) dup_argv[0]: -t"
                            "\nno argument for option");

  EXPECT_EQ(run(" -n long = 5 ; char = abc;", {"-n", "10"}, &found, &value, text), 1);
  const std::string setup = "\n(scanargs) temp:  -n long = 5  \n(scanargs) trimmed temp: -n long = 5 "
                            "\n(scanargs) temp:  char = abc \n(scanargs) trimmed temp: char = abc ";
  const std::string group0 = "\n(scanargs) param_group[0].opt_code:    -n\n" +
                             std::string(29, ' ') + ".type:  long \n" + std::string(28, ' ') +
                             ".deflt: 5          \n(getarg) dup_argv[1]: 10";
  const std::string group1 = "\n(scanargs) param_group[1].opt_code:      \n" + std::string(29, ' ') +
                             ".type:  char \n" + std::string(28, ' ') + ".deflt: abc        .char_ptr: abc";
  EXPECT_NE(output.err.find("\n(scanargs) dup_argv[2]: -n 10\n"), std::string::npos) << output.err;
  EXPECT_NE(output.err.find(setup + group0 + group1), std::string::npos) << output.err;

  char buffer[SCANARGS_BUFFER_SIZE] = "";
  EXPECT_EQ(run("-i char;", {"-i", "a.obs"}, &found, buffer), 1);
  EXPECT_NE(output.err.find("\n" + std::string(25, ' ') + ".char_ptr: a.obs"), std::string::npos);
}

TEST(NextToken, TakesOneTokenAndOneDelimiter) {
  char source[32] = ";;x;y";
  char dest[32] = "junk";
  EXPECT_EQ(next_token(dest, source, ";"), ';');
  EXPECT_STREQ(dest, "x");
  EXPECT_STREQ(source, "y");
  EXPECT_EQ(next_token(dest, source, ";"), '\0');
  EXPECT_STREQ(dest, "y");
  EXPECT_STREQ(source, "");

  std::strcpy(source, "a==b");
  EXPECT_EQ(next_token(dest, source, " ="), '=');
  EXPECT_STREQ(dest, "a");
  EXPECT_STREQ(source, "=b");
  EXPECT_EQ(next_token(dest, source, " ="), '\0');
  EXPECT_STREQ(dest, "b");
}

TEST(NextToken, NothingButDelimitersGivesAnEmptyToken) {
  for (const char* text : {"", " = ", "="}) {
    char source[32];
    std::strcpy(source, text);
    char dest[32] = "junk";
    EXPECT_EQ(next_token(dest, source, " ="), '\0') << '"' << text << '"';
    EXPECT_STREQ(dest, "");
    EXPECT_STREQ(source, "");
  }
}

TEST(TrimBlanks, RemovesSpaceTabAndLineEndsAtBothEnds) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {" \t\r\n", ""}, {"x", "x"}, {"  ab c \n", "ab c"}, {"\tq\r", "q"}, {"a\vb ", "a\vb"}};
  for (const auto& [input, expected] : cases) {
    char text[32];
    std::strcpy(text, input);
    EXPECT_EQ(trim_blanks(text), static_cast<int>(std::strlen(expected)));
    EXPECT_STREQ(text, expected);
  }
}

}  // namespace
