// The input layers: every stored form of one observation file reads as the same lines, and every
// way of handing it to the program (a file, compressed, standard input, a pipe) gives the same
// output and console text; broken inputs end with one clear message and status 1.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rinex/crx.h"
#include "rinex/rinex.h"
#include "tests/e2e_support.h"

namespace {

const std::string BASE = "--epochs 40 --sats 6 --types L1,L2,C1,P2 --clock";
const std::string& base() {
  static const std::string text = e2e::generate(BASE);
  return text;
}

bool haveTool(const std::string& tool) { return e2e::runShell("/tmp", "command -v " + tool).status == 0; }

// `command` applied to the text, in a scratch folder: its standard output.
std::string converted(const std::string& text, const std::string& command) {
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in"), text);
  return e2e::runShell(scratch.dir(), "(cat in | " + command + ")").out;
}

std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The text as Compact RINEX 1.0, written by the program's encoder.
std::string compactOf(const std::string& text) {
  CompactEncoder encoder(1, "test");
  std::string out;
  for (const std::string& line : linesOf(text)) encoder.encode(line, out);
  encoder.finish(out);
  return out;
}

struct Form {
  const char* name;
  const char* tool;     // needed on the machine
  std::string command;  // stored form from the plain text
  bool compact = false;  // of its Compact RINEX text, whose lines come back without trailing blanks
};
const std::vector<Form>& forms() {
  static const std::vector<Form> all = {
      {"plain", "cat", "cat"},
      {"gzip", "gzip", "gzip -c"},
      {"compress", "compress", "compress -c"},
      {"bzip2", "bzip2", "bzip2 -c"},
      {"xz", "xz", "xz -c"},
      {"zstd", "zstd", "zstd -q -c"},
      {"gzip of gzip", "gzip", "gzip -c | gzip -c"},
      {"Compact RINEX", "cat", "cat", true},
      {"Compact RINEX in compress", "compress", "compress -c", true},
      {"Compact RINEX in xz", "xz", "xz -c", true},
  };
  return all;
}

// Read in memory, each form gives the plain file's lines; the stored bytes consumed grow with
// them and reach the whole stored size with the last line, so that the progress meter ends full.
TEST(InputLayers, EveryStoredFormReadsAsThePlainLines) {
  std::vector<std::string> expected = linesOf(base()), withoutBlanks;
  for (const std::string& line : expected) withoutBlanks.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  for (const Form& form : forms()) {
    SCOPED_TRACE(form.name);
    if (!haveTool(form.tool)) {
      std::printf("[  SKIPPED ] %s is not installed\n", form.tool);
      continue;
    }
    const std::string stored = converted(form.compact ? compactOf(base()) : base(), form.command);
    ASSERT_FALSE(stored.empty());
    std::unique_ptr<LineSource> source = openInputMemory(stored);
    std::vector<std::string> lines;
    std::string_view line;
    uint64_t last = 0;
    bool grew = true;
    while (source->nextLine(line)) {
      lines.emplace_back(line);
      grew = grew && source->position() >= last;
      last = source->position();
    }
    EXPECT_TRUE(grew);
    EXPECT_EQ(last, stored.size());
    if (form.compact)  // and values below 1 without the zero before the point, as the real files have them
      for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        for (const auto& [from, to] : {std::pair<std::string, std::string>{" -.", "-0."}, {" .", "0."}})
          for (std::size_t at; (at = line.find(from)) != std::string::npos;) line.replace(at, from.size(), to);
      }
    EXPECT_TRUE(lines == (form.compact ? withoutBlanks : expected)) << lines.size() << " lines read of " << expected.size();
    EXPECT_FALSE(source->nextLine(line));
  }
}

TEST(InputLayers, EmptyAndTinyStreams) {
  if (!haveTool("gzip")) GTEST_SKIP() << "gzip is not installed";
  const struct {
    const char* name;
    std::string stored;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty input", "", {}},
      {"gzip of nothing", converted("", "gzip -c"), {}},
      {"gzip of a line without its line feed", converted("A\r", "gzip -c"), {"A"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<LineSource> source = openInputMemory(c.stored);
    std::vector<std::string> lines;
    std::string_view line;
    while (source->nextLine(line)) lines.emplace_back(line);
    EXPECT_EQ(lines, c.lines);
  }
}

// ---------------------------------------------------------------------------------------------
// End to end.

std::string withBinary(std::string command) {
  for (std::size_t at; (at = command.find("EPOFILL")) != std::string::npos;) command.replace(at, 7, e2e::quote(EPOFILL_BINARY));
  return "timeout 20 sh -c " + e2e::quote(command);
}

// The console text with the lines that name the input and give its size taken out.
std::string withoutInputLines(const std::string& out) {
  std::string kept;
  for (const std::string& line : linesOf(out))
    if (line.find("Input File Name: ") == std::string::npos && line.find("Input File size: ") == std::string::npos)
      kept += line + "\n";
  return kept;
}
std::string sizeLine(const std::string& out) {
  const std::size_t at = out.find("Input File size: ");
  return at == std::string::npos ? "" : out.substr(at + 17, out.find('\n', at) - at - 17);
}

TEST(InputForms, EveryWayInGivesTheSameOutputAndConsoleText) {
  for (const char* tool : {"gzip", "compress"})
    if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), base());
  e2e::writeFile(scratch.path("in.crx"), compactOf(base()));
  ASSERT_EQ(e2e::runShell(scratch.dir(), "(gzip -c in.obs >in.obs.gz && compress -c in.obs >in.obs.Z && "
                                         "gzip -c in.crx >in.crx.gz)").status, 0);
  const std::string plainSize = std::to_string(base().size());
  const std::string gzSize = std::to_string(e2e::readFile(scratch.path("in.obs.gz")).size());
  const std::string zSize = std::to_string(e2e::readFile(scratch.path("in.obs.Z")).size());
  const std::string crxGzSize = std::to_string(e2e::readFile(scratch.path("in.crx.gz")).size());

  const e2e::Result reference = e2e::runShell(scratch.dir(), withBinary("EPOFILL -i in.obs -o out.obs -n 10"));
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::string expected = e2e::readFile(scratch.path("out.obs"));
  ASSERT_NE(reference.out.find("|||||||||||||||||||||||||||||||||||||||||||||||||||||||||\n"), std::string::npos);

  const struct {
    const char* name;
    std::string command;  // writes out.obs
    std::string size;     // the size the settings report gives
  } cases[] = {
      {"gzip file", "EPOFILL -i in.obs.gz -o out.obs -n 10", gzSize},
      {"compress file", "EPOFILL -i in.obs.Z -o out.obs -n 10", zSize},
      {"standard input from a file", "EPOFILL -i - -o out.obs -n 10 <in.obs", plainSize},
      {"standard input from a gzip file", "EPOFILL -i - -o out.obs -n 10 <in.obs.gz", gzSize},
      {"standard input from a pipe", "cat in.obs | EPOFILL -i - -o out.obs -n 10", "unknown"},
      {"compressed standard input from a pipe", "cat in.obs.Z | EPOFILL -i - -o out.obs -n 10", "unknown"},
      {"named pipe", "mkfifo fifo && (cat in.obs.gz >fifo &) && EPOFILL -i fifo -o out.obs -n 10", "unknown"},
      {"Compact RINEX in gzip", "EPOFILL -i in.crx.gz -o out.obs -n 10", crxGzSize},
      {"Compact RINEX through a pipe", "cat in.crx | EPOFILL -i - -o out.obs -n 10", "unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(scratch.path("out.obs").c_str());
    std::remove(scratch.path("fifo").c_str());
    const e2e::Result r = e2e::runShell(scratch.dir(), withBinary(c.command));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, reference.err);
    EXPECT_EQ(sizeLine(r.out), c.size);
    EXPECT_EQ(withoutInputLines(r.out), withoutInputLines(reference.out));
    EXPECT_TRUE(e2e::readFile(scratch.path("out.obs")) == expected) << "the output differs from the plain file's";
  }
}

TEST(InputForms, RefusalsAndBrokenStreams) {
  if (!haveTool("gzip")) GTEST_SKIP() << "gzip is not installed";
  const std::string gz = converted(base(), "gzip -c");
  const std::string crinex = "CRINEX VERS   / TYPE";
  const std::string prefix = "*** ERROR: Invalid compressed data in in.obs: ";
  const struct {
    const char* name;
    std::string input, command;  // the bytes of in.obs; the command
    std::string err;             // standard error exactly, or its start when it ends with ": "
  } cases[] = {
      {"gzip stream cut mid-way", gz.substr(0, gz.size() / 2), "", prefix},
      {"gzip stream without its last bytes", gz.substr(0, gz.size() - 4), "", prefix},
      {"gzip header only", gz.substr(0, 10), "", prefix},
      {"Compact RINEX 3.0", "3.0                 COMPACT RINEX FORMAT                    " + crinex + "\n", "",
       "*** ERROR: Unsupported Compact RINEX version 3.0: in.obs\n"},
      {"Compact RINEX 2.0, compressed", converted("2.0                 COMPACT RINEX FORMAT                    " +
                                                      crinex + "\n", "gzip -c"), "",
       "*** ERROR: Unsupported Compact RINEX version 2.0: in.obs\n"},
      {"standard input redirected from the output file", base(), "EPOFILL -i - -o in.obs -n 10 <in.obs",
       "*** ERROR: Output file is the same as the input file: in.obs\n"},
      {"standard input from a device", base(), "EPOFILL -i - -o out.obs -n 10 </dev/null",
       "*** ERROR: The input is not a regular file: -\n"},
      {"standard input from a folder", base(), "EPOFILL -i - -o out.obs -n 10 <.", "*** ERROR: Unable to open file: -\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("in.obs"), c.input);
    const e2e::Result r = e2e::runShell(scratch.dir(), withBinary(c.command.empty() ? "EPOFILL -i in.obs -o out.obs -n 10" : c.command));
    EXPECT_EQ(r.status, 1);
    const bool startOnly = c.err.size() >= 2 && c.err.compare(c.err.size() - 2, 2, ": ") == 0;
    EXPECT_EQ(startOnly ? r.err.substr(0, c.err.size()) : r.err, c.err) << r.err;
    EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
    EXPECT_EQ(e2e::readFile(scratch.path("in.obs")), c.input) << "the input was changed";
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The real Compact RINEX files beside the repository, with the plain files they were made from.

std::string crxDir() {
  const std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data/crx";
  return e2e::exists(dir) ? dir : std::string();
}

struct Pair {
  const char* compact;  // in ../shared/data/crx
  const char* plain;    // relative to ../shared/data
  enum { SAME, TRAILING_BLANKS, PLAIN_IS_START } match;
};
const Pair PAIRS[] = {
    {"wsra0010.21d", "rinex/wsra0010.21o", Pair::SAME},
    {"KOSG0010.95D", "rinex/KOSG0010.95O", Pair::SAME},
    {"aopr0010.17d", "crx/aopr0010.17o", Pair::SAME},
    {"npaz3550.21d", "rinex/npaz3550.21o", Pair::TRAILING_BLANKS},
    {"barq071q.19d", "crx/barq071q.19o", Pair::PLAIN_IS_START},
};

std::string withoutTrailingBlanks(std::string line) {
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

TEST(RealCompactFiles, DecodeToThePlainFilesLines) {
  if (crxDir().empty()) GTEST_SKIP() << "../shared/data/crx is absent";
  for (const Pair& pair : PAIRS) {
    SCOPED_TRACE(pair.compact);
    const std::string compact = e2e::readFile(crxDir() + "/" + pair.compact);
    std::vector<std::string> plain = linesOf(e2e::readFile(crxDir() + "/../" + pair.plain));
    std::unique_ptr<LineSource> source = openInputMemory(compact);
    std::vector<std::string> decoded;
    std::string_view line;
    while (source->nextLine(line)) decoded.emplace_back(line);
    EXPECT_EQ(source->position(), compact.size());
    if (pair.match == Pair::TRAILING_BLANKS)
      for (std::vector<std::string>* lines : {&plain, &decoded})
        for (std::string& l : *lines) l = withoutTrailingBlanks(l);
    if (pair.match == Pair::PLAIN_IS_START && decoded.size() > plain.size()) decoded.resize(plain.size());
    EXPECT_TRUE(decoded == plain) << decoded.size() << " lines decoded, " << plain.size() << " plain";
  }
}

// The plain file, through a pipe, and the Compact RINEX file as it is, compressed and through
// standard input: the same output file and console text (apart from the input's name and size).
TEST(RealCompactFiles, EveryFormDensifiesAlike) {
  if (crxDir().empty()) GTEST_SKIP() << "../shared/data/crx is absent";
  for (const char* tool : {"gzip", "compress"})
    if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  for (const Pair& pair : PAIRS) {
    if (pair.match == Pair::PLAIN_IS_START) continue;
    SCOPED_TRACE(pair.compact);
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("in.o"), e2e::readFile(crxDir() + "/../" + pair.plain));
    e2e::writeFile(scratch.path("in.d"), e2e::readFile(crxDir() + "/" + pair.compact));
    ASSERT_EQ(e2e::runShell(scratch.dir(), "(compress -c in.d >in.d.Z && gzip -c in.d >in.d.gz)").status, 0);
    const e2e::Result reference = e2e::runShell(scratch.dir(), withBinary("EPOFILL -i in.o -o out.obs -n 5"));
    const std::string expected = e2e::readFile(scratch.path("out.obs"));
    for (const char* command : {"cat in.o | EPOFILL -i - -o out.obs -n 5", "EPOFILL -i in.d -o out.obs -n 5",
                                "EPOFILL -i in.d.Z -o out.obs -n 5", "EPOFILL -i in.d.gz -o out.obs -n 5",
                                "EPOFILL -i - -o out.obs -n 5 <in.d.Z"}) {
      SCOPED_TRACE(command);
      std::remove(scratch.path("out.obs").c_str());
      const e2e::Result r = e2e::runShell(scratch.dir(), withBinary(command));
      EXPECT_EQ(r.status, reference.status);
      EXPECT_EQ(r.err, reference.err);
      EXPECT_EQ(withoutInputLines(r.out), withoutInputLines(reference.out));
      EXPECT_TRUE(e2e::readFile(scratch.path("out.obs")) == expected) << "the output differs from the plain file's";
    }
  }
}

// A corrupted copy, as it is and compressed, ends the run with the message that names the file,
// and the line for Compact RINEX.
TEST(RealCompactFiles, CorruptedCopiesAreRefused) {
  if (crxDir().empty()) GTEST_SKIP() << "../shared/data/crx is absent";
  for (const char* tool : {"gzip", "compress"})
    if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  for (const char* name : {"wsra0010.21d", "aopr0010.17d", "npaz3550.21d", "eijs0010.21d"}) {
    SCOPED_TRACE(name);
    const std::string good = e2e::readFile(crxDir() + "/" + name);
    const std::size_t header = good.find("END OF HEADER");
    const std::size_t epochLine = good.find('\n', header) + 1;  // the first epoch's line
    auto lineOf = [&](std::size_t at) {
      return std::to_string(std::count(good.begin(), good.begin() + static_cast<long>(at), '\n') + 1);
    };
    // The last digit of the first epoch's satellite count, changed.
    std::string digit = good;
    char& count = digit[epochLine + 31];
    count = static_cast<char>(count == '9' ? '8' : count + 1);
    // The first observation line (after the clock line) cut in the middle of its last value.
    const std::size_t dataLine = good.find('\n', epochLine) + 1, clockEnd = good.find('\n', dataLine);
    const std::size_t valueStart = good.rfind("3&", good.find('\n', clockEnd + 1)) + 2;
    std::string cutLine = good;
    cutLine.erase(valueStart, good.find('\n', valueStart) - valueStart);
    const std::string prefix = std::string("*** ERROR: Invalid Compact RINEX data in ");
    const struct {
      const char* what;
      std::string text;
      std::string line;  // the line the message names, "" when any
    } corrupted[] = {
        {"one digit changed", digit, ", line " + lineOf(epochLine) + ": "},
        {"a line cut", cutLine, ", line " + lineOf(valueStart) + ": "},
        {"the stream cut mid-way", good.substr(0, good.size() / 2), ""},
    };
    for (const auto& c : corrupted) {
      SCOPED_TRACE(c.what);
      e2e::Scratch scratch;
      e2e::writeFile(scratch.path("in.d"), c.text);
      ASSERT_EQ(e2e::runShell(scratch.dir(), "(compress -c in.d >in.d.Z && gzip -c in.d >in.d.gz)").status, 0);
      for (const char* file : {"in.d", "in.d.Z", "in.d.gz"}) {
        const e2e::Result r = e2e::runShell(scratch.dir(), withBinary(std::string("EPOFILL -i ") + file + " -o out.obs -n 5"));
        EXPECT_EQ(r.status, 1) << file;
        const std::string last = linesOf(r.err).empty() ? "" : linesOf(r.err).back();
        EXPECT_EQ(last.substr(0, prefix.size() + std::strlen(file) + c.line.size()), prefix + file + c.line) << r.err;
        EXPECT_EQ(r.out.find("Interpolation complete."), std::string::npos);
      }
    }
  }
}
