// A whole run in memory: header and epochs in, output bytes out, through the same steps as the
// program's entry. The first byte b of the input sets the run, the rest is the input file:
//   increment = b % 64 + 1 seconds;
//   b / 64 = 0: epoch listing on; 1: plain run; 2: window 2001-08-28 00:05:00 to 00:12:00;
//            3: window from 2001-08-28 00:02:00 on.
// An odd last byte adds -a.
#include <cstdint>
#include <string>

#include "driver/driver.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  RunSettings run;
  run.inputFileName = "(memory)";
  run.outputFileName = "(memory)";
  run.increment = data[0] % 64 + 1;
  run.arcAware = (data[size - 1] & 1) != 0;
  switch (data[0] / 64) {
    case 0:
      run.listEpochs = true;
      break;
    case 2:
      run.startText = "20010828000500";
      run.endText = "20010828001200";
      break;
    case 3:
      run.startText = "20010828000200";
      break;
    default:
      break;
  }

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
