// The input layers: every stored form and way in give the same output and messages; a broken input ends with one message.
#include <algorithm>

#include "tests/crx_support.h"
#include "tests/e2e_support.h"

namespace {

e2e::Result sh(const std::string& dir, const std::string& command) {  // in the folder; $EPOFILL is the program
  return e2e::runShell(dir, "EPOFILL=" + e2e::quote(EPOFILL_BINARY) + " timeout 20 sh -c " + e2e::quote(command));
}
// Every way in: the plain file's output, messages and stored size ("unknown" from a pipe); refusals, compact ones with the line.
void everyWayInAlike(const std::string& plain, const std::string& compact, bool real) {
  e2e::Scratch s;
  if (sh(s.dir(), "which gzip compress bzip2 xz zstd").status != 0) GTEST_SKIP() << "needs gzip compress bzip2 xz zstd";
  const std::string compactForms = "compress -c in.crx >in.crx.Z && gzip -c in.crx >in.crx.gz";
  e2e::writeFile(s.path("in.obs"), plain), e2e::writeFile(s.path("in.crx"), compact);
  ASSERT_EQ(sh(s.dir(), "gzip -nc in.obs >in.gz && compress -c in.obs >in.Z && bzip2 -c in.obs >in.bz2 && xz -c in.obs >in.xz"
                        " && zstd -q -c in.obs >in.zst && (head -c 5000 in.obs | gzip -c && tail -c +5001 in.obs | gzip -c)"
                        " >in.members.gz && " + compactForms).status, 0);  // members: as the program writes .gz
  const e2e::Result ref = sh(s.dir(), "$EPOFILL -i in.obs -o ref.obs -n 5");
  const std::string ways[] = {"$EPOFILL -i in.crx", "$EPOFILL -i in.crx.Z", "$EPOFILL -i - <in.crx.gz", "cat in.obs | $EPOFILL -i -",
                              "cat in.crx.Z | $EPOFILL -i -", "mkfifo f && (cat in.gz >f &) && $EPOFILL -i f", "$EPOFILL -i in.gz",
                              "$EPOFILL -i in.Z", "$EPOFILL -i in.bz2", "$EPOFILL -i in.xz", "$EPOFILL -i in.zst", "$EPOFILL -i in.members.gz"};
  for (const std::string& way : std::vector<std::string>(ways, ways + (real ? 5 : 12))) {  // a real file: the first 5
    const e2e::Result r = sh(s.dir(), "rm -f out.obs && " + way + " -o out.obs -n 5");
    const std::string size = way[0] != '$' ? "unknown" : std::to_string(e2e::readFile(s.path(way.substr(way.find_last_of(" <") + 1))).size());
    EXPECT_TRUE(r.status == ref.status && r.err == ref.err && e2e::readFile(s.path("out.obs")) == e2e::readFile(s.path("ref.obs")) &&
                (ref.status || r.out.find("size: " + size + "\n") != std::string::npos)) << way << "\n" << r.out << r.err;
  }
  std::size_t value = compact.find("END OF HEADER");  // the first observation line, after the epoch and clock lines
  for (int i = 0; i < 3; ++i) value = compact.find('\n', value) + 1;
  value = compact.rfind("3&", compact.find('\n', value)) + 2;  // its last value, cut; or the file cut after the line
  const std::string cut = compact.substr(0, value) + compact.substr(compact.find('\n', value)), crx = "Invalid Compact RINEX data in in.crx";
  const std::string line = ", line " + std::to_string(std::count(compact.begin(), compact.begin() + long(value), '\n') + 1) + ": ";
  const std::string gz = e2e::readFile(s.path("in.gz")), broken = "Invalid compressed data in in.obs: ";
  const struct Refused { std::string input, file, args, err; } refused[] = {  // err after "*** ERROR: "
      {cut, "in.crx", "-i in.crx", crx + line}, {cut, "in.crx", "-i in.crx.Z", crx + ".Z" + line},
      {compact.substr(0, compact.find('\n', value) + 1), "in.crx", "-i in.crx.gz", crx + ".gz" + line},
      {gz.substr(0, gz.size() / 2), "in.obs", "-i in.obs", broken}, {gz.substr(0, 10), "in.obs", "-i in.obs", broken},
      {"2.0" + compact.substr(3), "in.obs", "-i in.obs", "Unsupported Compact RINEX version 2.0: in.obs\n"},
      {plain, "in.obs", "-i - <in.obs -o in.obs", "Output file is the same as the input file: in.obs\n"},
      {plain, "in.obs", "-i - </dev/null", "The input is not a regular file: -\n"}, {plain, "in.obs", "-i - <.", "Unable to open file: -\n"},
  };
  for (const auto& c : std::vector<Refused>(refused, refused + (real ? 3 : 9))) {  // a real file: the compact ones
    e2e::writeFile(s.path(c.file), c.input);
    const e2e::Result r = sh(s.dir(), compactForms + " && $EPOFILL -n 5 " + c.args + " -o out.obs");
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), want = "*** ERROR: " + c.err;  // ": " ends a start
    EXPECT_TRUE(r.status == 1 && r.out.find("Interpolation complete.") == std::string::npos && e2e::readFile(s.path(c.file)) == c.input &&
                (c.err.back() == ' ' ? last.substr(0, want.size()) : last) == want) << want << "\n" << r.err << "(or the input changed)";
  }
}

TEST(InputForms, GeneratedFile) {
  const std::string base = e2e::generate("--epochs 40 --sats 6 --types L1,L2,C1,P2 --clock");
  everyWayInAlike(base, crx_test::encodeLines(crx_test::splitLines(base), 1), false);
}

TEST(InputForms, RealCompactFiles) {
  const std::string crx = e2e::sourcePath("../shared/data/crx/");
  if (!e2e::exists(crx)) GTEST_SKIP() << "../shared/data/crx is absent";
  for (const auto& [compact, plain] : {std::pair<const char*, const char*>{"wsra0010.21d", "../rinex/wsra0010.21o"},
                                       {"KOSG0010.95D", "../rinex/KOSG0010.95O"}, {"aopr0010.17d", "aopr0010.17o"},
                                       {"npaz3550.21d", "../rinex/npaz3550.21o"}}) {  // the plain npaz has trailing blanks
    SCOPED_TRACE(compact);
    everyWayInAlike(e2e::readFile(crx + plain), e2e::readFile(crx + compact), true);
  }
}

}  // namespace
