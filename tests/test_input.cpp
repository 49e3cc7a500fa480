// The input layers: every stored form of one observation file reads as the same lines, and every
// way of handing it to the program (a file, compressed, standard input, a pipe) gives the same
// output and console text; broken inputs end with one clear message and status 1.
#include <memory>
#include <string>
#include <vector>

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

struct Form {
  const char* name;
  const char* tool;     // needed on the machine
  std::string command;  // stored form from the plain text
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
  };
  return all;
}

// Read in memory, each form gives the plain file's lines; the stored bytes consumed grow with
// them and reach the whole stored size with the last line, so that the progress meter ends full.
TEST(InputLayers, EveryStoredFormReadsAsThePlainLines) {
  const std::vector<std::string> expected = linesOf(base());
  for (const Form& form : forms()) {
    SCOPED_TRACE(form.name);
    if (!haveTool(form.tool)) {
      std::printf("[  SKIPPED ] %s is not installed\n", form.tool);
      continue;
    }
    const std::string stored = converted(base(), form.command);
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
    EXPECT_TRUE(lines == expected) << lines.size() << " lines read of " << expected.size();
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
  ASSERT_EQ(e2e::runShell(scratch.dir(), "(gzip -c in.obs >in.obs.gz && compress -c in.obs >in.obs.Z)").status, 0);
  const std::string plainSize = std::to_string(base().size());
  const std::string gzSize = std::to_string(e2e::readFile(scratch.path("in.obs.gz")).size());
  const std::string zSize = std::to_string(e2e::readFile(scratch.path("in.obs.Z")).size());

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
