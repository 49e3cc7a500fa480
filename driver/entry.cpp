#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "driver/driver.h"
#include "scanargs/scanargs.h"

const char* const versionBanner = "epofill -- Version 1.04.01 December, 2001";
// The writer named in a Compact RINEX output's second line; the version of the banner.
constexpr const char* PROGRAM_AND_VERSION = "epofill 1.04.01";

namespace {

constexpr const char* OPTION_FORMAT = "-i char; -o char; -s char; -e char; -n long = 5; -t; -a; -V;";
constexpr long MAX_INCREMENT = 2147483647;
constexpr std::size_t DATE_TEXT_MIN = 12;  // YYYYMMDDhhmm; the seconds may be left out

[[noreturn]] void usage() {
  consoleErr(std::string("\n") + versionBanner +
             "\n\n"
             "Usage: epofill -i <input file name> -o <output file name> \n"
             "               [-s <starting date & time> -e <ending date & time>] \n"
             "               -n <interpolation increment>\n"
             "\n");
  fatalExit();
}

void checkDateText(const std::string& text) {
  bool valid = text.size() >= DATE_TEXT_MIN;
  if (valid) {
    int month = std::atoi(text.substr(4, 2).c_str());
    valid = month >= 1 && month <= 12;
  }
  if (!valid) {
    consoleErr("*** ERROR: Invalid date and time: " + text + " (expected YYYYMMDDhhmmss).\n");
    fatalExit();
  }
}

[[noreturn]] void cannotOpen(const std::string& name) {
  consoleErr("*** ERROR: Unable to open file: " + name + "\n");
  fatalExit();
}

// Through any path or link, or standard input redirected from it: opening the output would empty
// the input.
bool sameFile(const InputOrigin& input, const std::string& outputName) {
  struct stat out {};
  if (!input.regularFile || ::stat(outputName.c_str(), &out) != 0) return false;
  return input.device == static_cast<uint64_t>(out.st_dev) && input.inode == static_cast<uint64_t>(out.st_ino);
}

int run(int argc, char** argv) {
  installFatalSignalHandlers();

  std::vector<char> inputName(SCANARGS_BUFFER_SIZE), outputName(SCANARGS_BUFFER_SIZE),
      startText(SCANARGS_BUFFER_SIZE), endText(SCANARGS_BUFFER_SIZE);
  int foundInput = 0, foundOutput = 0, foundStart = 0, foundEnd = 0, foundIncrement = 0, foundList = 0,
      foundArcs = 0, foundVersion = 0;
  long increment = 0;
  scanargs(argc, argv, OPTION_FORMAT, &foundInput, inputName.data(), &foundOutput, outputName.data(),
           &foundStart, startText.data(), &foundEnd, endText.data(), &foundIncrement, &increment, &foundList,
           &foundArcs, &foundVersion);
  if (foundVersion) {
    printVersion();
    return 0;
  }
  // With -o -, standard output carries the file alone: every report goes to standard error from here,
  // and a reader that goes away makes a write error ("Unable to write file: -", status 1), not SIGPIPE.
  if (foundOutput && std::string(outputName.data()) == "-") {
    setConsoleToStandardError(true);
    ::signal(SIGPIPE, SIG_IGN);
  }
  if (!foundInput || !foundOutput || !foundIncrement) usage();

  RunSettings run;
  if (increment <= 0 || increment > MAX_INCREMENT) {
    consoleErr("*** ERROR: Interpolation interval (" + std::to_string(increment) +
               ") must be a positive number of seconds.\n");
    fatalExit();
  }
  run.increment = static_cast<int32_t>(increment);
  run.inputFileName = inputName.data();
  run.outputFileName = outputName.data();
  run.listEpochs = foundList != 0;
  run.arcAware = foundArcs != 0;
  if (foundStart) run.startText = startText.data();
  if (foundEnd) run.endText = endText.data();
  if (foundStart) checkDateText(run.startText);
  if (foundEnd) checkDateText(run.endText);

  InputOrigin origin;
  std::unique_ptr<LineSource> input = openInput(run.inputFileName, origin);
  establishSamplingRate(*input, run);

  if (run.outputFileName != "-" && sameFile(origin, run.outputFileName)) {
    consoleErr("*** ERROR: Output file is the same as the input file: " + run.outputFileName + "\n");
    fatalExit();
  }
  OutputFile output;
  if (!output.open(run.outputFileName, PROGRAM_AND_VERSION)) cannotOpen(run.outputFileName);

  consoleOut(std::string("\n") + versionBanner + "\n");
  consoleOut("        Input File Name: " + run.inputFileName + "\n");
  consoleOut("       Output File Name: " + run.outputFileName + "\n");
  consoleOut("Interpolation Increment: " + std::to_string(run.increment) + "\n");
  run.inputSizeKnown = origin.sizeKnown;
  run.inputSize = origin.size;
  consoleOut("        Input File size: " + (origin.sizeKnown ? std::to_string(origin.size) : "unknown") + "\n");

  prepareRun(run);
  runInterpolation(*input, output, run);
  output.close();
  return 0;
}

}  // namespace

int epofillMain(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    consoleErr("*** ERROR: Out of memory.\n");
  } catch (...) {
    consoleErr("*** ERROR: Internal error.\n");
  }
  fatalExit();
}
