// The input layers: every stored form of an observation file and every way in give the same output and console
// text (but the input's name and size); a broken input ends with one clear message and status 1.
#include <algorithm>
#include <regex>
#include <string>

#include "rinex/crx.h"
#include "tests/e2e_support.h"

namespace {

// Runs a shell command in the folder; $EPOFILL is the program.
e2e::Result sh(const std::string& dir, const std::string& command) {
  return e2e::runShell(dir, "EPOFILL=" + e2e::quote(EPOFILL_BINARY) + " timeout 20 sh -c " + e2e::quote(command));
}
#define REQUIRE_TOOLS(tools) \
  if (sh("/tmp", "for t in " tools "; do command -v $t >/dev/null || exit 1; done").status) GTEST_SKIP() << "needs " tools
// The console text without the lines that name the input and give its size.
std::string withoutInput(const std::string& out) { return std::regex_replace(out, std::regex(" *Input File .*\n"), ""); }
// Runs the command (" -o out.obs -n 5" appended) and expects the reference's output file and console text.
e2e::Result expectAlike(const e2e::Scratch& s, const e2e::Result& ref, const std::string& expected, std::string command) {
  SCOPED_TRACE(command);
  std::remove(s.path("out.obs").c_str());
  const e2e::Result r = sh(s.dir(), command + " -o out.obs -n 5");
  EXPECT_EQ(r.status, ref.status);
  EXPECT_EQ(r.err, ref.err);
  EXPECT_EQ(withoutInput(r.out), withoutInput(ref.out));
  EXPECT_TRUE(e2e::readFile(s.path("out.obs")) == expected) << "the output differs from the plain file's";
  return r;
}
// The message: standard error's last line, exactly or (ending in ": ") its start.
void expectRefused(const e2e::Result& r, const std::string& message) {
  EXPECT_EQ(r.status, 1);
  const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
  EXPECT_EQ(message.back() == ' ' ? last.substr(0, message.size()) : last, message) << r.err;
  EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
}

// Every stored form, every way in: the plain file's output and console text; the size reported is the stored
// file's ("unknown" from a pipe) and the progress bar is full at the end. A broken or refused input ends with
// one message and is left as it was.
TEST(InputForms, EveryWayInAlikeBrokenOnesRefused) {
  REQUIRE_TOOLS("gzip compress bzip2 xz zstd");
  const std::string base = e2e::generate("--epochs 40 --sats 6 --types L1,L2,C1,P2 --clock");
  e2e::Scratch s;
  e2e::writeFile(s.path("in.obs"), base);
  e2e::writeFile(s.path("v2.crx"), " 2.0                COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE\n");
  std::string compact;
  CompactEncoder encoder(1, "test");
  for (const std::string& line : e2e::splitLines(base)) encoder.encode(line, compact);
  e2e::writeFile(s.path("in.crx"), (encoder.finish(compact), compact));
  ASSERT_EQ(sh(s.dir(), "gzip -nc in.obs >in.gz && compress -c in.obs >in.Z && gzip -c in.crx >in.crx.gz && gzip v2.crx"
                        " && bzip2 -c in.obs >in.bz2 && xz -c in.obs >in.xz && zstd -q -c in.obs >in.zst && gzip -c in.gz"
                        " >in.gz.gz && (head -c 5000 in.obs | gzip -c && tail -c +5001 in.obs | gzip -c) >in.members.gz")
                .status, 0);
  const e2e::Result reference = sh(s.dir(), "$EPOFILL -i in.obs -o out.obs -n 5");
  const std::string expected = e2e::readFile(s.path("out.obs"));
  ASSERT_NE(reference.out.find(std::string(57, '|') + "\n"), std::string::npos);
  const struct { const char* command; const char* stored; } cases[] = {  // stored: the file the size is of
      {"$EPOFILL -i in.gz", "in.gz"},   {"$EPOFILL -i in.Z", "in.Z"},     {"$EPOFILL -i in.crx.gz", "in.crx.gz"},
      {"$EPOFILL -i in.bz2", "in.bz2"}, {"$EPOFILL -i in.xz", "in.xz"},   {"$EPOFILL -i in.zst", "in.zst"},
      {"$EPOFILL -i in.gz.gz", "in.gz.gz"}, {"$EPOFILL -i in.members.gz", "in.members.gz"},  // as the program writes .gz
      {"$EPOFILL -i - <in.obs", "in.obs"}, {"$EPOFILL -i - <in.gz", "in.gz"}, {"cat in.obs | $EPOFILL -i -", nullptr},
      {"cat in.Z | $EPOFILL -i -", nullptr}, {"cat in.crx | $EPOFILL -i -", nullptr},
      {"rm -f fifo && mkfifo fifo && (cat in.gz >fifo &) && $EPOFILL -i fifo", nullptr},
  };
  for (const auto& c : cases) {
    const std::string size = c.stored ? std::to_string(e2e::readFile(s.path(c.stored)).size()) : "unknown";
    const e2e::Result r = expectAlike(s, reference, expected, c.command);
    EXPECT_NE(r.out.find("Input File size: " + size + "\n"), std::string::npos) << c.command << "\n" << r.out;
  }
  const std::string gz = e2e::readFile(s.path("in.gz")), xz = e2e::readFile(s.path("in.xz"));
  const std::string broken = "Invalid compressed data in in.obs: ", version = "Unsupported Compact RINEX version ";
  const struct { const char* name; std::string input, command, err; } refused[] = {  // err after "*** ERROR: "
      {"gzip cut mid-way", gz.substr(0, gz.size() / 2), "", broken},
      {"gzip without its last bytes", gz.substr(0, gz.size() - 4), "", broken},
      {"gzip header only", gz.substr(0, 10), "", broken},
      {"xz with a byte changed", xz.substr(0, 200) + "?" + xz.substr(201), "", broken},
      {"Compact RINEX 2.0, in gzip", e2e::readFile(s.path("v2.crx.gz")), "", version + "2.0: in.obs\n"},
      {"standard input as the output", base, "-o in.obs <in.obs", "Output file is the same as the input file: in.obs\n"},
      {"standard input from a device", base, "-o out.obs </dev/null", "The input is not a regular file: -\n"},
      {"standard input from a folder", base, "-o out.obs <.", "Unable to open file: -\n"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    e2e::writeFile(s.path("in.obs"), c.input);
    const std::string command = c.command.empty() ? "$EPOFILL -i in.obs -o out.obs" : "$EPOFILL -i - " + c.command;
    expectRefused(sh(s.dir(), command + " -n 10"), "*** ERROR: " + c.err);
    EXPECT_EQ(e2e::readFile(s.path("in.obs")), c.input) << "the input was changed";
  }
}

// The real Compact RINEX files beside the repository, with the plain files they were made from (the
// decoding itself: test_crx): densified plain through a pipe and compact as it is, compressed and on
// standard input, each gives the plain file's output and console text; a corrupted copy in each form is
// refused with the file's name and the compact line's number.
TEST(RealCompactFiles, EveryFormAlikeAndCorruptedCopiesRefused) {
  const std::string crx = e2e::sourcePath("../shared/data/crx/");
  if (!e2e::exists(crx)) GTEST_SKIP() << "../shared/data/crx is absent";
  REQUIRE_TOOLS("gzip compress");
  const std::string forms = "compress -c in.d >in.d.Z && gzip -c in.d >in.d.gz";
  for (const auto& [compact, plain] : {std::pair<const char*, const char*>{"wsra0010.21d", "../rinex/wsra0010.21o"},
                                       {"KOSG0010.95D", "../rinex/KOSG0010.95O"}, {"aopr0010.17d", "aopr0010.17o"},
                                       {"npaz3550.21d", "../rinex/npaz3550.21o"}}) {  // the plain npaz has trailing blanks
    SCOPED_TRACE(compact);
    const std::string good = e2e::readFile(crx + compact);
    e2e::Scratch s;
    e2e::writeFile(s.path("in.o"), e2e::readFile(crx + plain));
    e2e::writeFile(s.path("in.d"), good);
    ASSERT_EQ(sh(s.dir(), forms).status, 0);
    const e2e::Result reference = sh(s.dir(), "$EPOFILL -i in.o -o out.obs -n 5");
    const std::string expected = e2e::readFile(s.path("out.obs"));
    for (const char* command : {"cat in.o | $EPOFILL -i -", "$EPOFILL -i in.d", "$EPOFILL -i in.d.Z", "$EPOFILL -i - <in.d.gz"})
      expectAlike(s, reference, expected, command);
    auto lineOf = [&](std::size_t at) { return std::to_string(std::count(good.data(), good.data() + at, '\n') + 1); };
    // The first epoch's satellite count's last digit changed; its first observation line (after the clock
    // line) cut inside its last value; the file cut after that line, inside the epoch.
    const std::size_t epoch = good.find('\n', good.find("END OF HEADER")) + 1;
    std::string digit = good, cut = good;
    digit[epoch + 31] = static_cast<char>(digit[epoch + 31] == '9' ? '8' : digit[epoch + 31] + 1);
    const std::size_t data = good.find('\n', good.find('\n', epoch) + 1) + 1;
    const std::size_t value = good.rfind("3&", good.find('\n', data)) + 2, valueEnd = good.find('\n', value);
    cut.erase(value, valueEnd - value);
    for (const auto& [text, at] : {std::pair{digit, epoch}, {cut, value}, {good.substr(0, valueEnd + 1), value}}) {
      e2e::writeFile(s.path("in.d"), text);
      ASSERT_EQ(sh(s.dir(), forms).status, 0);
      for (const std::string file : {"in.d", "in.d.Z", "in.d.gz"})
        expectRefused(sh(s.dir(), "$EPOFILL -i " + file + " -o out.obs -n 5"),
                      "*** ERROR: Invalid Compact RINEX data in " + file + ", line " + lineOf(at) + ": ");
    }
  }
}

}  // namespace
