#include "scanargs/scanargs.h"

#include <gtest/gtest.h>

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
      {{}, "0||", NONE + "0 5|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-t"}, "3||", AB + "0 5|1"},
      {{"-n", "-5", "-i", "a.obs", "-o", "b.obs"}, "3||", AB + "1 -5|0"},
      {{"-n", "99999999999999999999"}, "1||", NONE + "1 9223372036854775807|0"},
      {{"-n", "12abc"}, "1||", NONE + "1 12|0"},
      {{"-n", "abc"}, "1||", NONE + "1 0|0"},
      {{"-i", held, "-o", "b.obs", "-n", "1"}, "3||", "1 " + held + "|1 b.obs|0 start?|0 end?|1 1|0"},
      // After a failure the later groups keep their set-up state; a failing number holds its default.
      {{"-i", "-o", "b.obs"}, "-1||" + INVALID + "-i has invalid argument: -o\n", NONE + "0 777|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-s", "-"}, "-1||" + INVALID + "-s has invalid argument: -\n", AB + "0 777|0"},
      // -i, declared first, takes a.obs; the slot after -o is then empty.
      {{"-o", "-i", "a.obs"}, "-1||" + INVALID + "-o has invalid argument: -o\n",
       "1 a.obs|0 out?|0 start?|0 end?|0 777|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-n", "-x"}, "-1||" + INVALID + "-n has invalid argument: -x\n", AB + "0 5|0"},
      {{"-i", held + "y", "-o", "b.obs"}, "-1||" + TOO_LONG + "-i\n", NONE + "0 777|0"},
      {{"-n", std::string(SCANARGS_BUFFER_SIZE, '1')}, "-1||" + TOO_LONG + "-n\n", NONE + "0 5|0"},
      {{"-i", "a.obs", "-o", "b.obs", "-i", "c.obs"}, "-1|" + BAD + "-i\n|", AB + "0 5|0"},
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

}  // namespace
