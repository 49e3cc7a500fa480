// The input layers: every stored form of an observation file and every way of handing it to the
// program give the same output and console text (but the input's name and size), and a broken
// input ends with one clear message and status 1.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "rinex/crx.h"
#include "rinex/rinex.h"
#include "tests/e2e_support.h"

namespace {

const std::string& base() {
  static const std::string text = e2e::generate("--epochs 40 --sats 6 --types L1,L2,C1,P2 --clock");
  return text;
}
std::string missingTool(std::initializer_list<const char*> tools) {
  for (const char* tool : tools)
    if (e2e::runShell("/tmp", std::string("command -v ") + tool).status != 0) return tool;
  return "";
}
// Runs a shell command in the folder; EPOFILL stands for the program.
e2e::Result sh(const std::string& dir, std::string command) {
  for (std::size_t at; (at = command.find("EPOFILL")) != std::string::npos;) command.replace(at, 7, e2e::quote(EPOFILL_BINARY));
  return e2e::runShell(dir, "timeout 20 sh -c " + e2e::quote(command));
}
std::string converted(const std::string& text, const std::string& command) {
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in"), text);
  return sh(scratch.dir(), "cat in | " + command).out;
}
std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    lines.emplace_back(text.substr(at, end - at));
  }
  return lines;
}
std::string compactOf(const std::string& text) {  // Compact RINEX 1.0 from the program's encoder
  CompactEncoder encoder(1, "test");
  std::string out;
  for (const std::string& line : linesOf(text)) encoder.encode(line, out);
  encoder.finish(out);
  return out;
}
// The console text without the lines that name the input and give its size.
std::string withoutInputLines(const std::string& out) {
  std::string kept;
  for (const std::string& line : linesOf(out))
    if (line.find("Input File Name: ") == std::string::npos && line.find("Input File size: ") == std::string::npos) kept += line + "\n";
  return kept;
}

// Every stored form, every way in: the output and console text of the plain file, the progress bar
// full at the end (with an unknown size drawn whole at the end).
TEST(InputForms, EveryWayInGivesTheSameOutputAndConsoleText) {
  if (std::string tool = missingTool({"gzip", "compress", "bzip2", "xz", "zstd"}); !tool.empty())
    GTEST_SKIP() << tool << " is not installed";
  e2e::Scratch s;
  e2e::writeFile(s.path("in.obs"), base());
  e2e::writeFile(s.path("in.crx"), compactOf(base()));
  ASSERT_EQ(sh(s.dir(), "gzip -c in.obs >in.gz && compress -c in.obs >in.Z && gzip -c in.crx >in.crx.gz && bzip2 -c in.obs"
                        " >in.bz2 && xz -c in.obs >in.xz && zstd -q -c in.obs >in.zst && gzip -c in.gz >in.gz.gz && (head -c 5000 in.obs"
                        " | gzip -c && tail -c +5001 in.obs | gzip -c) >in.members.gz").status, 0);
  const e2e::Result reference = sh(s.dir(), "EPOFILL -i in.obs -o out.obs -n 10");
  const std::string expected = e2e::readFile(s.path("out.obs"));
  ASSERT_NE(reference.out.find(std::string(57, '|') + "\n"), std::string::npos);
  const struct { const char* command; const char* stored; } cases[] = {  // stored: the file the size is of
      {"EPOFILL -i in.gz -o out.obs -n 10", "in.gz"},
      {"EPOFILL -i in.Z -o out.obs -n 10", "in.Z"},
      {"EPOFILL -i in.crx.gz -o out.obs -n 10", "in.crx.gz"},
      {"EPOFILL -i in.bz2 -o out.obs -n 10", "in.bz2"},
      {"EPOFILL -i in.xz -o out.obs -n 10", "in.xz"},
      {"EPOFILL -i in.zst -o out.obs -n 10", "in.zst"},
      {"EPOFILL -i in.gz.gz -o out.obs -n 10", "in.gz.gz"},
      {"EPOFILL -i in.members.gz -o out.obs -n 10", "in.members.gz"},  // as the program's own .gz outputs are
      {"EPOFILL -i - -o out.obs -n 10 <in.obs", "in.obs"},
      {"EPOFILL -i - -o out.obs -n 10 <in.gz", "in.gz"},
      {"cat in.obs | EPOFILL -i - -o out.obs -n 10", nullptr},
      {"cat in.Z | EPOFILL -i - -o out.obs -n 10", nullptr},
      {"cat in.crx | EPOFILL -i - -o out.obs -n 10", nullptr},
      {"rm -f fifo && mkfifo fifo && (cat in.gz >fifo &) && EPOFILL -i fifo -o out.obs -n 10", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    std::remove(s.path("out.obs").c_str());
    const e2e::Result r = sh(s.dir(), c.command);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, reference.err);
    const std::string size = c.stored ? std::to_string(e2e::readFile(s.path(c.stored)).size()) : "unknown";
    EXPECT_NE(r.out.find("Input File size: " + size + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(withoutInputLines(r.out), withoutInputLines(reference.out));
    EXPECT_TRUE(e2e::readFile(s.path("out.obs")) == expected) << "the output differs from the plain file's";
  }
}

// The message: standard error's last line, exactly or (ending in ": ") its start.
void expectRefused(const e2e::Result& r, const std::string& message) {
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = linesOf(r.err);
  const std::string last = lines.empty() ? "" : lines.back() + "\n";
  EXPECT_EQ(message.back() == ' ' ? last.substr(0, message.size()) : last, message) << r.err;
  EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
}

TEST(InputForms, RefusalsAndBrokenStreams) {
  if (std::string tool = missingTool({"gzip", "xz"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
  const std::string gz = converted(base(), "gzip -c"), xz = converted(base(), "xz -c");
  const std::string crinex = "COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE\n";
  const std::string broken = "*** ERROR: Invalid compressed data in in.obs: ";
  const struct { const char* name; std::string input, command, err; } cases[] = {
      {"gzip cut mid-way", gz.substr(0, gz.size() / 2), "", broken},
      {"gzip without its last bytes", gz.substr(0, gz.size() - 4), "", broken},
      {"gzip header only", gz.substr(0, 10), "", broken},
      {"xz with a byte changed", xz.substr(0, 200) + "?" + xz.substr(201), "", broken},
      {"Compact RINEX 2.0, in gzip", converted(" 2.0                " + crinex, "gzip -c"), "",
       "*** ERROR: Unsupported Compact RINEX version 2.0: in.obs\n"},
      {"standard input from the output file", base(), "EPOFILL -i - -o in.obs -n 10 <in.obs",
       "*** ERROR: Output file is the same as the input file: in.obs\n"},
      {"standard input from a device", base(), "EPOFILL -i - -o out.obs -n 10 </dev/null",
       "*** ERROR: The input is not a regular file: -\n"},
      {"standard input from a folder", base(), "EPOFILL -i - -o out.obs -n 10 <.", "*** ERROR: Unable to open file: -\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scratch s;
    e2e::writeFile(s.path("in.obs"), c.input);
    expectRefused(sh(s.dir(), c.command.empty() ? "EPOFILL -i in.obs -o out.obs -n 10" : c.command), c.err);
    EXPECT_EQ(e2e::readFile(s.path("in.obs")), c.input) << "the input was changed";
  }
}

// ---------------------------------------------------------------------------------------------
// The real Compact RINEX files beside the repository, with the plain files they were made from.

const std::string CRX = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data/crx/";
enum Match { SAME, BUT_TRAILING_BLANKS, PLAIN_IS_THE_START };
const struct { const char* compact; const char* plain; Match match; } PAIRS[] = {
    {"wsra0010.21d", "../rinex/wsra0010.21o", SAME},
    {"KOSG0010.95D", "../rinex/KOSG0010.95O", SAME},
    {"aopr0010.17d", "aopr0010.17o", SAME},
    {"npaz3550.21d", "../rinex/npaz3550.21o", BUT_TRAILING_BLANKS},
    {"barq071q.19d", "barq071q.19o", PLAIN_IS_THE_START},
};

TEST(RealCompactFiles, DecodeToThePlainFilesLines) {
  if (!e2e::exists(CRX)) GTEST_SKIP() << "../shared/data/crx is absent";
  for (const auto& pair : PAIRS) {
    SCOPED_TRACE(pair.compact);
    const std::string compact = e2e::readFile(CRX + pair.compact);
    std::unique_ptr<LineSource> source = openInputMemory(compact);
    std::vector<std::string> decoded, plain = linesOf(e2e::readFile(CRX + pair.plain));
    for (std::string_view line; source->nextLine(line);) decoded.emplace_back(line);
    EXPECT_EQ(source->position(), compact.size());
    if (pair.match == BUT_TRAILING_BLANKS)
      for (auto* lines : {&plain, &decoded})
        for (std::string& l : *lines) l.erase(l.find_last_not_of(' ') + 1);
    if (pair.match == PLAIN_IS_THE_START) decoded.resize(std::min(decoded.size(), plain.size()));
    EXPECT_TRUE(decoded == plain) << decoded.size() << " lines decoded, " << plain.size() << " plain";
  }
}

// Each file, plain through a pipe and compact as it is, compressed and on standard input, densifies
// alike; a corrupted copy in each form is refused with the file's name and the compact line's number.
TEST(RealCompactFiles, EveryFormAlikeAndCorruptedCopiesRefused) {
  if (!e2e::exists(CRX)) GTEST_SKIP() << "../shared/data/crx is absent";
  if (std::string tool = missingTool({"gzip", "compress"}); !tool.empty()) GTEST_SKIP() << tool << " is not installed";
  const std::string forms = "compress -c in.d >in.d.Z && gzip -c in.d >in.d.gz";
  for (const auto& pair : PAIRS) {
    if (pair.match == PLAIN_IS_THE_START) continue;
    SCOPED_TRACE(pair.compact);
    e2e::Scratch s;
    const std::string good = e2e::readFile(CRX + pair.compact);
    e2e::writeFile(s.path("in.o"), e2e::readFile(CRX + pair.plain));
    e2e::writeFile(s.path("in.d"), good);
    ASSERT_EQ(sh(s.dir(), forms).status, 0);
    const e2e::Result reference = sh(s.dir(), "EPOFILL -i in.o -o out.obs -n 5");
    const std::string expected = e2e::readFile(s.path("out.obs"));
    for (const char* command : {"cat in.o | EPOFILL -i - -o out.obs -n 5", "EPOFILL -i in.d -o out.obs -n 5",
                                "EPOFILL -i in.d.Z -o out.obs -n 5", "EPOFILL -i - -o out.obs -n 5 <in.d.gz"}) {
      SCOPED_TRACE(command);
      std::remove(s.path("out.obs").c_str());
      const e2e::Result r = sh(s.dir(), command);
      EXPECT_EQ(r.status, reference.status);
      EXPECT_EQ(r.err, reference.err);
      EXPECT_EQ(withoutInputLines(r.out), withoutInputLines(reference.out));
      EXPECT_TRUE(e2e::readFile(s.path("out.obs")) == expected) << "the output differs from the plain file's";
    }
    auto lineOf = [&](std::size_t at) { return std::to_string(std::count(good.begin(), good.begin() + static_cast<long>(at), '\n') + 1); };
    // The first epoch's satellite count with its last digit changed; its first observation line (after
    // the clock line) cut inside its last value; the file cut after that line, inside the epoch.
    const std::size_t epoch = good.find('\n', good.find("END OF HEADER")) + 1;
    std::string digit = good, cut = good;
    digit[epoch + 31] = static_cast<char>(digit[epoch + 31] == '9' ? '8' : digit[epoch + 31] + 1);
    const std::size_t data = good.find('\n', good.find('\n', epoch) + 1) + 1;
    const std::size_t value = good.rfind("3&", good.find('\n', data)) + 2;
    cut.erase(value, good.find('\n', value) - value);
    const std::pair<std::string, std::string> corrupted[] = {
        {digit, ", line " + lineOf(epoch) + ": "},
        {cut, ", line " + lineOf(value) + ": "},
        {good.substr(0, good.find('\n', value) + 1), ", line " + lineOf(value) + ": "}};
    for (const auto& [text, line] : corrupted) {
      e2e::writeFile(s.path("in.d"), text);
      ASSERT_EQ(sh(s.dir(), forms).status, 0);
      for (const std::string file : {"in.d", "in.d.Z", "in.d.gz"})
        expectRefused(sh(s.dir(), "EPOFILL -i " + file + " -o out.obs -n 5"), "*** ERROR: Invalid Compact RINEX data in " + file + line);
    }
  }
}

}  // namespace
