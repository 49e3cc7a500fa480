// A whole run in memory, through the same steps as the program's entry. The first byte b sets the run,
// the rest is the input file: increment b % 64 + 1 s; b / 64 = 0: epoch listing on, 1: plain run,
// 2: window 2001-08-28 00:05:00 to 00:12:00, 3: window from 2001-08-28 00:02:00 on. An odd last byte adds -a.
#include <cstdint>
#include <string>

#include "driver/driver.h"
#include "fuzz/fuzz_support.h"

FUZZ_INITIALIZE(fuzz::setUp())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  RunSettings run;
  run.inputFileName = run.outputFileName = "(memory)";
  run.increment = data[0] % 64 + 1;
  run.arcAware = (data[size - 1] & 1) != 0;
  const int mode = data[0] / 64;
  run.listEpochs = mode == 0;
  if (mode >= 2) run.startText = mode == 2 ? "20010828000500" : "20010828000200";
  if (mode == 2) run.endText = "20010828001200";
  LineReader input;
  input.openMemory(fuzz::bytes(data + 1, size - 1));
  OutputFile output;
  output.openMemory();
  try {
    establishSamplingRate(input, run);
    FUZZ_CHECK(run.samplingRate >= 1 && run.samplingRate % run.increment == 0);
    run.inputSize = size - 1;
    prepareRun(run);
    runInterpolation(input, output, run);
    output.close();
  } catch (const fuzz::FatalExit&) {
    return 0;
  }
  fuzz::checkWholeInputAndLines(input, size - 1, output);
  return 0;
}
