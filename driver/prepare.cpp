#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "driver/driver.h"
#include "interp/interp.h"

namespace {

constexpr int COMMENT_LINE = 60;
constexpr int64_t MAX_SAMPLING_RATE = 65535;

// A whole number of seconds from a time difference: rounded to one decimal, fraction cut off.
int64_t wholeSeconds(double difference) {
  double r = std::trunc(roundToDecimals(difference, 1.0));
  if (!(r > -9.0e18)) return std::numeric_limits<int64_t>::min();
  if (r > 9.0e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(r);
}

std::string formatted(const char* format, long long value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The next observation epoch, kept with the event records before it, which take no part in the rate.
bool readObservationEpoch(LineSource& input, RunSettings& run) {
  for (;;) {
    RunSettings::HeldRecord held;
    if (!readEpoch(input, run.inputHeader, held.record)) return false;
    held.position = input.position();
    run.heldRecords.push_back(std::move(held));
    if (!run.heldRecords.back().record.isEvent()) return true;
  }
}

// One added comment line of exactly 60 characters: a number wider than its three columns takes
// the room of the blanks after it.
template <typename Value>
std::string commentLine(const char* format, Value value) {
  char line[128];
  std::snprintf(line, sizeof line, format, value);
  std::string text(line);
  text.resize(COMMENT_LINE, ' ');
  return text;
}


}  // namespace

int64_t gapSeconds(const GpsTime& later, const GpsTime& earlier) {
  return wholeSeconds(secondsDifference(later, earlier));
}

void establishSamplingRate(LineSource& input, RunSettings& run) {
  readHeader(input, run.inputHeader);
  // The output header starts as the header read: a type list in the events read on changes the
  // input header for the epochs after it, and the output header only where the run meets it.
  run.outputHeader = run.inputHeader;
  int64_t rate = run.inputHeader.interval;
  if (rate == UNSET && run.inputHeader.intervalSeconds != 0.0) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", run.inputHeader.intervalSeconds);
    consoleErr(std::string("\n*** ERROR: Sampling rate (") + text + ") must be a whole number of seconds from 1 to 65535.\n");
    fatalExit();
  }

  run.heldRecords.clear();
  int epochs = 0;
  GpsTime first, second;
  if (readObservationEpoch(input, run)) {
    first = run.heldRecords.back().record.time;
    ++epochs;
    if (readObservationEpoch(input, run)) {
      second = run.heldRecords.back().record.time;
      ++epochs;
    }
  }
  if (epochs < 2) {
    consoleErr("\n*** ERROR: The input file holds fewer than two epochs; the sampling rate cannot be established.\n");
    fatalExit();
  }
  int64_t computed = gapSeconds(second, first);

  if (rate == UNSET) {
    consoleErr("\n*** Warning: The sampling rate is not specified in input file header.\n"
               "    The sampling rate was computed from the first two epoch times. \n");
    rate = computed;
  } else if (rate != computed) {
    consoleErr("\n*** ERROR: Sampling rate (" + std::to_string(computed) +
               ") is not the same as that specified in \nthe header INTERVAL record.\n");
    fatalExit();
  }
  if (rate < 1 || rate > MAX_SAMPLING_RATE) {
    consoleErr("\n*** ERROR: Sampling rate (" + std::to_string(rate) +
               ") must be a whole number of seconds from 1 to 65535.\n");
    fatalExit();
  }
  if (rate % run.increment != 0) {
    consoleErr("\n*** ERROR: Interpolation interval (" + formatted("%2lld", run.increment) +
               ") must be an integral\n           division of the data sampling rate (" +
               formatted("%2lld", rate) + ").\n");
    fatalExit();
  }
  run.samplingRate = static_cast<uint16_t>(rate);
  run.epochsPerGap = static_cast<uint16_t>(rate / run.increment - 1);
}

GpsTime windowTime(const std::string& text) {
  auto number = [&](std::size_t first, std::size_t width) {
    std::string field = first < text.size() ? text.substr(first, width) : std::string();
    return static_cast<int>(std::strtol(field.c_str(), nullptr, 10));
  };
  CalendarTime t;
  t.year = number(0, 4);
  t.month = number(4, 2);
  t.day = number(6, 2);
  t.hour = number(8, 2);
  t.minute = number(10, 2);
  t.seconds = std::atof(text.size() > 12 ? text.substr(12, 2).c_str() : "");
  return gpsTimeFromCalendar(t);
}

void prepareRun(RunSettings& run) {
  // An unknown size gives the meter no parts: it is drawn whole at the end of the run.
  progress_init("Progress:", run.inputSizeKnown ? static_cast<int64_t>(run.inputSize) : 0);
  run.windowEnd = windowTime(run.endText);
  run.windowStart = windowTime(run.startText);

  RINEXHeader& out = run.outputHeader;
  out.interval = run.increment;
  out.comments += "*** Observation values in this file have been interpolated. ";
  out.comments += commentLine("    %-56.56s", versionBanner);
  out.comments += commentLine("    The input sample rate was%3d seconds.", run.samplingRate);
  out.comments += commentLine("    The interpolation interval is%3d seconds.", static_cast<int>(run.increment));
  if (out.comments.size() % COMMENT_LINE != 0) {
    consoleErr("*** ERROR: Program error.  Comment is not a multiple of 60.\n");
    fatalExit();
  }
}
