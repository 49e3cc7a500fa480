#include "scanargs/scanargs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const DRIVER_FORMAT = "-i char; -o char; -s char; -e char; -n long = 5; -t;";
const std::string INVALID = "\n ERROR : Option ";
const std::string BAD = "\n ERROR : Bad parameter on command line: ";
const std::string TOO_LONG = "\n ERROR : Argument too long for option ";

// "result|standard output|standard error" of one scan of `words`; the caller's argument vector must
// come back unchanged.
template <typename... Pointers>
std::string scan(const char* format, std::vector<std::string> words, Pointers... pointers) {
  words.insert(words.begin(), "epofill");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const std::vector<char*> original = argv;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = scanargs(static_cast<int>(words.size()), argv.data(), format, pointers...);
  std::string shown = std::to_string(result) + "|" + testing::internal::GetCapturedStdout();
  shown += "|" + testing::internal::GetCapturedStderr();
  EXPECT_EQ(argv, original);
  return shown;
}

// The driver's variables, preset to values the scanner must not invent.
struct Driver {
  int fi = -7, fo = -7, fs = -7, fe = -7, fn = -7, ft = -7;
  char in[SCANARGS_BUFFER_SIZE] = "in?", out[SCANARGS_BUFFER_SIZE] = "out?";
  char start[SCANARGS_BUFFER_SIZE] = "start?", end[SCANARGS_BUFFER_SIZE] = "end?";
  long n = 777;
  std::string run(std::vector<std::string> words) {
    return scan(DRIVER_FORMAT, std::move(words), &fi, in, &fo, out, &fs, start, &fe, end, &fn, &n, &ft);
  }
  std::string state() const {
    return std::to_string(fi) + " " + in + "|" + std::to_string(fo) + " " + out + "|" + std::to_string(fs) + " " +
           start + "|" + std::to_string(fe) + " " + end + "|" + std::to_string(fn) + " " + std::to_string(n) + "|" +
           std::to_string(ft);
  }
};

TEST(Scanargs, DriverFormat) {
  const std::string AB = "1 a.obs|1 b.obs|0 start?|0 end?|", NONE = "0 in?|0 out?|0 start?|0 end?|";
  const std::string held(SCANARGS_BUFFER_SIZE - 1, 'x');
  const struct {
    std::vector<std::string> words;
    std::string shown, state;  // shown: result|standard output|standard error
  } cases[] = {
      {{"-i", "a.obs", "-o", "b.obs", "-n", "10"}, "3||", AB + "1 10|0"},
      {{"-o", "b.obs", "-n", "10", "-i", "a.obs"}, "3||", AB + "1 10|0"},
      {{}, "0||", NONE + "0 5|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-t"}, "3||", AB + "0 5|1"},
      {{"-n", "-5", "-i", "a.obs", "-o", "b.obs"}, "3||", AB + "1 -5|0"},
      {{"-n", "99999999999999999999"}, "1||", NONE + "1 9223372036854775807|0"},
      {{"-n", "-99999999999999999999"}, "1||", NONE + "1 -9223372036854775808|0"},
      {{"-n", "12abc"}, "1||", NONE + "1 12|0"},
      {{"-n", "abc"}, "1||", NONE + "1 0|0"},
      {{"-i", held, "-o", "b.obs", "-n", "1"}, "3||", "1 " + held + "|1 b.obs|0 start?|0 end?|1 1|0"},
      // After a failure the later groups keep their set-up state; a failing number holds its default.
      {{"-i", "-o", "b.obs"}, "-1||" + INVALID + "-i has invalid argument: -o\n", NONE + "0 777|0"},
      {{"-i"}, "-1||" + INVALID + "-i has invalid argument: -i\n", NONE + "0 777|0"},
      {{"-i", "-", "-o", "b.obs", "-s", "-"}, "3||", "1 -|1 b.obs|1 -|0 end?|0 5|0"},  // "-" is a value
      // -i, declared first, takes a.obs; the slot after -o is then empty.
      {{"-o", "-i", "a.obs"}, "-1||" + INVALID + "-o has invalid argument: -o\n",
       "1 a.obs|0 out?|0 start?|0 end?|0 777|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "-x"}, "-1||" + INVALID + "-n has invalid argument: -x\n", AB + "0 5|0"},
      {{"-i", held + "y", "-o", "b.obs"}, "-1||" + TOO_LONG + "-i\n", NONE + "0 777|0"},
      {{"-n", std::string(SCANARGS_BUFFER_SIZE, '1')}, "-1||" + TOO_LONG + "-n\n", NONE + "0 5|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-i", "c.obs"}, "-1|" + BAD + "-i\n|", AB + "0 5|0"},
      {{"-i", "a.obs", "-o", "b.obs", "extra"}, "-1|" + BAD + "extra\n|", AB + "0 5|0"},
      {{"-n5"}, "-1|" + BAD + "-n5\n|", NONE + "0 5|0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.empty() ? "(none)" : c.words[0] + " " + (c.words.size() > 1 ? c.words[1] : ""));
    Driver d;
    EXPECT_EQ(d.run(c.words), c.shown);
    EXPECT_EQ(d.state(), c.state);
  }
  for (int argc : {0, 3}) {  // no argument vector at all
    Driver d;
    EXPECT_EQ(scanargs(argc, nullptr, DRIVER_FORMAT, &d.fi, d.in, &d.fo, d.out, &d.fs, d.start, &d.fe, d.end, &d.fn,
                       &d.n, &d.ft),
              0);
    EXPECT_EQ(d.state(), NONE + "0 5|0");
  }
}

TEST(Scanargs, DefaultsAndPositionals) {
  int found = -7;
  char text[SCANARGS_BUFFER_SIZE] = "previous", other[SCANARGS_BUFFER_SIZE] = "";
  long value = 777;
  EXPECT_EQ(scan("-x char = abc;", {}, &found, text), "0||");  // a char option's default is not applied
  EXPECT_EQ(found, 0);
  EXPECT_STREQ(text, "previous");
  EXPECT_EQ(scan("char;", {std::string(SCANARGS_BUFFER_SIZE, 'z')}, text), "-1||" + TOO_LONG + "char\n");
  EXPECT_STREQ(text, "previous");
  EXPECT_EQ(scan("char = abc;", {}, text), "0||");
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(scan("char = abc;", {"def"}, text), "1||");
  EXPECT_STREQ(text, "def");
  EXPECT_EQ(scan("long = 7;", {}, &value), "0||");
  EXPECT_EQ(value, 7);
  EXPECT_EQ(scan("long;", {}, &value), "0||");
  EXPECT_EQ(value, 0);
  EXPECT_EQ(scan("char; long = 0;", {"x", "12"}, text, &value), "2||");
  EXPECT_EQ(text + std::to_string(value), "x12");
  // A negative number is an option's value, never a free word; options are served first.
  EXPECT_EQ(scan("long = 7;", {"-3"}, &value), "-1|" + BAD + "-3\n|");
  EXPECT_EQ(scan("char; -o char;", {"-o", "b", "a"}, text, &found, other), "2||");
  EXPECT_EQ(std::string(text) + other, "ab");
}

TEST(Scanargs, MalformedFormats) {
  int found = -7;
  char text[SCANARGS_BUFFER_SIZE] = "";
  // Text after the last ';' declares nothing.
  EXPECT_EQ(scan("-i char; -o char", {"-i", "a", "-o", "b"}, &found, text), "-1|" + BAD + "-o\n|");
  EXPECT_EQ(std::to_string(found) + text, "1a");
  // The empty second group has no type.
  EXPECT_EQ(scan("-i char;;", {"-i", "a"}, &found, text), "-1||\n ERROR : Invalid parameter type: \n");
  EXPECT_EQ(scan("-q int;", {"-q", "3"}, &found), "-1||\n ERROR : Invalid parameter type: int\n");
  // 127 characters of format and 128 of group fit; one more is refused without a word.
  const std::string format = "-t;" + std::string(124, ' '), group = "-t" + std::string(124, ' ') + ";";
  EXPECT_EQ(scan(format.c_str(), {"-t"}, &found), "1||");
  EXPECT_EQ(scan(group.c_str(), {"-t"}, &found), "1||");
  found = -7;
  EXPECT_EQ(scan((format + " ").c_str(), {"-t"}, &found), "-1||");
  EXPECT_EQ(found, -7);
  EXPECT_EQ(scan((" " + group).c_str(), {"-t"}, &found), "-1||");
}

TEST(Scanargs, TraceGoesToStandardErrorOnlyWhenSwitchedOn) {
  int found = -7;
  long value = 0;
  char text[SCANARGS_BUFFER_SIZE] = "";
  EXPECT_EQ(scan("-t;", {"-t"}, &found), "1||");
  scanargs_trace = 1;
  const std::string t0 = scan("-t;", {"-t"}, &found);
  const std::string t1 = scan(" -n long = 5 ; char = abc;", {"-n", "10"}, &found, &value, text);
  const std::string t2 = scan("-i char;", {"-i", "a.obs"}, &found, text);
  scanargs_trace = 0;
  EXPECT_EQ(t0, "1||\n(scanargs) dup_argv[1]: -t\n(scanargs) working_fmt: -t; param_count: 1"
                "\n(scanargs) temp: -t \n(scanargs) trimmed temp: -t \n(scanargs) param_group[0].opt_code:    -t\n" +
                    std::string(29, ' ') + ".type:       \n" + std::string(28, ' ') +
                    ".deflt:            \n(getarg) dup_argv[0]: -t\nno argument for option");
  const std::string setup = "\n(scanargs) temp:  -n long = 5  \n(scanargs) trimmed temp: -n long = 5 "
                            "\n(scanargs) temp:  char = abc \n(scanargs) trimmed temp: char = abc ";
  const std::string group0 = "\n(scanargs) param_group[0].opt_code:    -n\n" + std::string(29, ' ') + ".type:  long \n" +
                             std::string(28, ' ') + ".deflt: 5          \n(getarg) dup_argv[1]: 10";
  const std::string group1 = "\n(scanargs) param_group[1].opt_code:      \n" + std::string(29, ' ') + ".type:  char \n" +
                             std::string(28, ' ') + ".deflt: abc        .char_ptr: abc";
  EXPECT_NE(t1.find("\n(scanargs) dup_argv[2]: -n 10\n"), std::string::npos) << t1;
  EXPECT_NE(t1.find(setup + group0 + group1), std::string::npos) << t1;
  EXPECT_NE(t2.find("\n" + std::string(25, ' ') + ".char_ptr: a.obs"), std::string::npos) << t2;
}

TEST(Scanargs, NextTokenAndTrimBlanks) {
  // {source, delimiters, token, delimiter found, source left}
  const char* const tokens[][5] = {{";;x;y", ";", "x", ";", "y"}, {"y", ";", "y", "", ""}, {"a==b", " =", "a", "=", "=b"},
                                   {"=b", " =", "b", "", ""},     {"", " =", "", "", ""},   {" = ", " =", "", "", ""}};
  for (const auto& t : tokens) {
    char source[32], dest[32] = "junk";
    std::strcpy(source, t[0]);
    const char found = next_token(dest, source, t[1]);
    EXPECT_EQ(std::string(dest) + "|" + std::string(found ? 1 : 0, found) + "|" + source,
              std::string(t[2]) + "|" + t[3] + "|" + t[4])
        << '"' << t[0] << '"';
  }
  const std::pair<const char*, const char*> trims[] = {{"", ""},         {" \t\r\n", ""}, {"x", "x"},
                                                       {"  ab c \n", "ab c"}, {"\tq\r", "q"}, {"a\vb ", "a\vb"}};
  for (const auto& [input, expected] : trims) {
    char text[32];
    std::strcpy(text, input);
    EXPECT_EQ(trim_blanks(text), static_cast<int>(std::strlen(expected)));
    EXPECT_STREQ(text, expected);
  }
}

}  // namespace
