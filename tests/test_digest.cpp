// The output of a generated two-hour file, digested: the fast formatting and the batch
// interpolation must not change one byte of what the first, plain version of the program wrote.
#include "e2e_support.h"

namespace {

TEST(OutputDigest, TwoHourFileIsUnchangedSinceThePlainVersion) {
  const std::pair<const char*, const char*> cases[] = {
      {"1", "b53b18a719414a614ba2164966718f9e7edd0231159b1824abf420d026447c4c"},
      {"5", "b93512c7a88b8bfafa7206b438d2a19ad392dd4786fb07b7bcfc40c00731e411"},
  };
  e2e::Scratch dir;
  e2e::writeFile(dir.path("two-hours.obs"),
                 e2e::generate("--epochs 240 --sats 10 --types L1,L2,C1,P1,P2,D1,D2 --clock --start 2001-08-28T00:00:00"));
  for (const auto& [increment, digest] : cases) {
    e2e::Result run = e2e::runEpofill(dir.dir(), {"-i", "two-hours.obs", "-o", "out.obs", "-n", increment});
    ASSERT_EQ(run.status, 0) << run.err;
    e2e::Result sum = e2e::runShell(dir.dir(), "sha256sum out.obs");
    EXPECT_EQ(sum.out.substr(0, 64), digest) << "-n " << increment;
  }
}

}  // namespace
