// The program driver: the entry and its run settings, sampling-rate validation and run
// preparation, the interpolation run loop, the progress meter and the fatal-signal handler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gpstime/gpstime.h"
#include "rinex/rinex.h"

extern const char* const versionBanner;

// -V: the version and the forms of input and output this build handles, on standard output.
void printVersion();

// Settings of one run: from the command line, then from the input's header and first epochs.
struct RunSettings {
  std::string inputFileName;
  std::string outputFileName;
  std::string startText = "19700101000000";
  std::string endText = "21000101000000";
  int32_t increment = 0;
  bool listEpochs = false;
  bool arcAware = false;  // -a: interpolate each satellite's arcs, never across a break
  uint64_t inputSize = 0;       // bytes of the input as stored,
  bool inputSizeKnown = true;   // when known (not for a pipe)

  uint16_t samplingRate = 0;
  uint16_t epochsPerGap = 0;
  GpsTime windowStart;
  GpsTime windowEnd;
  RINEXHeader inputHeader;
  RINEXHeader outputHeader;

  // The records read while establishing the sampling rate (the first two observation epochs and
  // the event records before and between them), each with the input position after it: the run
  // takes them first, then reads on, so that the input is read once.
  struct HeldRecord {
    RINEXEpoch record;
    uint64_t position = 0;
  };
  std::vector<HeldRecord> heldRecords;
};

// The whole program; returns the exit status of a completed run (fatal paths end the process).
int epofillMain(int argc, char** argv);

// Reads the header and the first two observation epochs, keeping them; fixes samplingRate and
// epochsPerGap.
void establishSamplingRate(LineSource& input, RunSettings& run);
// Starts the progress meter, builds the time window, and completes the output header from the
// header as read.
void prepareRun(RunSettings& run);
// Writes the output header, the original epochs and the interpolated ones, from the held records
// and then the rest of the input; returns at its end after "Interpolation complete.".
void runInterpolation(LineSource& input, OutputFile& output, RunSettings& run);

// The length of a gap between two epochs in whole seconds (rounded to 0.1 s, then truncated).
int64_t gapSeconds(const GpsTime& later, const GpsTime& earlier);

// "YYYYMMDDhhmmss" read by fixed columns, as a GPS time.
GpsTime windowTime(const std::string& text);

// Progress meter: a scale of 57 marks drawn on the console stream (standard output, or standard
// error when the output file goes to standard output).
int progress_init(const char* title, int64_t total);
int progress_update(int64_t position);

// Fatal-signal handler: one error line on standard error and exit status 1 (SIGINT and SIGTERM
// through the run's next line end or read).
void handleFatalSignal(int signalNumber);
void installFatalSignalHandlers();
