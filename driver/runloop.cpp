#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "interp/interp.h"

namespace {

constexpr int WINDOW_SIZE = MAX_POINTS;  // accepted epochs kept as interpolation points
constexpr const char* ORIGINAL_LABEL = "    Writing original epoch: ";
constexpr const char* INTERPOLATED_LABEL = "Writing interpolated epoch: ";
constexpr int MOVING_ANTENNA_FLAG = 2;
constexpr int NEW_SITE_FLAG = 3;

std::string timeText(const GpsTime& time) {
  CalendarTime t = time.toCalendarTime();
  char text[160];
  std::snprintf(text, sizeof text, "%3d%3d%3d%3d%3d%#11.7g", t.year % 100, t.month, t.day, t.hour, t.minute, t.seconds);
  return text;
}

std::string totalText(const GpsTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%#.7g", time.totalSeconds());
  return text;
}

// Code (range) observations, by the first letter of the type: what a receiver clock reset moves.
// RINEX 3 lists differ by system: one row of types per system letter.
std::vector<char> codeTypes(const RINEXHeader& header) {
  const std::size_t types = static_cast<std::size_t>(header.dataTypeCount());
  const std::size_t rows = header.majorVersion >= 3 ? CODE_TYPE_ROWS : 1;
  std::vector<char> code(rows * types, 0);
  for (std::size_t j = 0; j < code.size(); ++j)
    code[j] = header.isCodeType(static_cast<char>(j / types), static_cast<int>(j % types));
  return code;
}

// The end-of-run account of -a, for standard error.
std::string arcSummary(const ArcCounts& c) {
  const uint64_t empty = c.slip + c.absent + c.clockReset + c.tooFewPoints;
  char text[1024];
  std::snprintf(text, sizeof text,
                "\nArc-aware interpolation (-a):\n"
                "    observation values interpolated:            %12llu\n"
                "    observation values left empty:              %12llu\n"
                "      a loss of lock or cycle slip in the way:  %12llu\n"
                "      the satellite or value absent in the way: %12llu\n"
                "      a receiver clock reset in the way:        %12llu\n"
                "      fewer than two points on a side:          %12llu\n"
                "    receiver clock offsets interpolated:        %12llu\n"
                "    receiver clock offsets left empty:          %12llu\n"
                "    receiver clock resets found:                %12llu\n"
                "    satellites placed in new epochs where the default mode drops them: %llu\n",
                static_cast<unsigned long long>(c.interpolated), static_cast<unsigned long long>(empty),
                static_cast<unsigned long long>(c.slip), static_cast<unsigned long long>(c.absent),
                static_cast<unsigned long long>(c.clockReset), static_cast<unsigned long long>(c.tooFewPoints),
                static_cast<unsigned long long>(c.clocksInterpolated), static_cast<unsigned long long>(c.clocksEmpty),
                static_cast<unsigned long long>(c.clockResets),
                static_cast<unsigned long long>(c.placesKept));
  return text;
}

// The last accepted epochs, oldest first, in a ring of records that are reused for the run.
class EpochWindow {
 public:
  int size() const { return size_; }
  // Position 1 is the oldest, size() the newest.
  RINEXEpoch& at(int position) { return slots_[static_cast<std::size_t>((head_ + position - 1) % WINDOW_SIZE)]; }
  void append(const RINEXEpoch& epoch) {
    slots_[static_cast<std::size_t>((head_ + size_) % WINDOW_SIZE)] = epoch;
    ++size_;
  }
  void dropOldest() {
    head_ = (head_ + 1) % WINDOW_SIZE;
    --size_;
  }
  // The window as the list the generation walks.
  const EpochNode* list() {
    for (int p = 1; p <= size_; ++p) {
      nodes_[static_cast<std::size_t>(p - 1)].epoch = &at(p);
      nodes_[static_cast<std::size_t>(p - 1)].next = p < size_ ? &nodes_[static_cast<std::size_t>(p)] : nullptr;
    }
    return size_ > 0 ? &nodes_[0] : nullptr;
  }

 private:
  std::array<RINEXEpoch, WINDOW_SIZE> slots_;
  std::array<EpochNode, WINDOW_SIZE> nodes_;
  int head_ = 0;
  int size_ = 0;
};

class RunLoop {
 public:
  RunLoop(LineSource& input, OutputFile& output, RunSettings& run)
      : input_(input), output_(output), run_(run) {}

  void run() {
    for (RunSettings::HeldRecord& held : run_.heldRecords) {
      std::swap(current_, held.record);
      take(held.position);
    }
    run_.heldRecords.clear();
    while (readEpoch(input_, run_.inputHeader, current_)) take(input_.position());
    finish();
  }

 private:
  // position: of the input after the record.
  void take(uint64_t position) {
    position_ = position;
    if (current_.isEvent())
      placeEvent();
    else
      acceptEpoch();
  }

  // Event records follow the observation epoch before them; those before the first
  // observation epoch follow the header; those after an epoch outside the window go with it.
  // An event that changes what is observed (the antenna moves, a new site, a new list of
  // observation types) is a seam: no polynomial may reach across it, so the epochs before it
  // are finished as at the end of the input and those after it start afresh.
  void placeEvent() {
    const bool seam = current_.epochFlag == MOVING_ANTENNA_FLAG || current_.epochFlag == NEW_SITE_FLAG ||
                      current_.newTypeList;
    if (seam) {
      if (acceptedCount_ > 0) finishSegment(true);
      seamSeen_ = true;
      // The epochs read after a new type list are written with it, whether or not the event is.
      if (current_.newTypeList) applyEventTypeList(run_.outputHeader, current_.eventText);
    }
    if (!seenObservation_ || (lastAccepted_ && !headerWritten_ && window_.size() == 0))
      leadingEvents_ += current_.eventText;
    else if (lastAccepted_ && window_.size() > 0)
      window_.at(window_.size()).followingEvents += current_.eventText;
    else if (lastAccepted_)
      output_.writeLines(current_.eventText);
  }

  void acceptEpoch() {
    const GpsTime time = current_.time;
    if (seenAccepted_ && !(previousTime_ < time)) {
      consoleErr("\n\n*** ERROR: Epoch times out of synch between " + timeText(previousTime_) + " (" +
                 totalText(previousTime_) + ") " + " and " + timeText(time) + " (" + totalText(time) + ") " + ".\n");
      fatalExit();
    }
    previousTime_ = time;
    seenObservation_ = true;
    lastAccepted_ = time >= run_.windowStart && time < run_.windowEnd;
    if (!lastAccepted_) return;

    if (current_.missingSatellites > 0)
      consoleErr("\n*** Warning: The input ends inside the epoch of " + timeText(time) + "; the values of its last " +
                 std::to_string(current_.missingSatellites) + " satellites are missing.\n");
    if (!run_.listEpochs && run_.inputSizeKnown) progress_update(static_cast<int64_t>(position_));
    ++acceptedCount_;
    if (!seenAccepted_) {
      seenAccepted_ = true;
      run_.outputHeader.firstObservation = time.toCalendarTime();
    }
    if (acceptedCount_ > WINDOW_SIZE) {
      if (firstWindowPending_) {
        firstWindowPending_ = false;
        writeHeaderOnce(true);
        for (int p = 1; p <= 4; ++p) writeOriginalAndGap(p);
      } else {
        writeOriginalAndGap(4);
      }
      window_.dropOldest();
    }
    window_.append(current_);
  }

  // The header goes out with the first epoch written. Its INTERVAL says the increment only when
  // the run interpolates; a run that copies its first epochs keeps the input's record (or none).
  void writeHeaderOnce(bool interpolating) {
    if (headerWritten_) return;
    headerWritten_ = true;
    if (!interpolating) run_.outputHeader.interval = run_.inputHeader.interval;
    writeHeader(output_, run_.outputHeader);
    if (!leadingEvents_.empty()) output_.writeLines(leadingEvents_);
    leadingEvents_.clear();
  }

  // Writes what the window still holds: its gaps filled when it holds eight epochs or more, copied
  // otherwise. Then the window starts afresh.
  void finishSegment(bool atSeam) {
    if (acceptedCount_ >= WINDOW_SIZE) {
      writeHeaderOnce(true);
      // With exactly eight accepted epochs the first full window was never written.
      int first = firstWindowPending_ ? 1 : 4;
      for (int p = first; p < WINDOW_SIZE; ++p) writeOriginalAndGap(p);
      writeOriginal(WINDOW_SIZE);
    } else if (acceptedCount_ > 0) {
      writeHeaderOnce(false);
      for (int p = 1; p <= window_.size(); ++p) writeOriginal(p);
      if (atSeam || seamSeen_)
        consoleErr("\n*** Warning: Only " + std::to_string(acceptedCount_) + " epochs, from " +
                   timeText(window_.at(1).time) + " to " + timeText(window_.at(window_.size()).time) +
                   ", lie between events that change the observations; at least 8 are needed to interpolate.\n"
                   "    The original epochs were copied without interpolation.\n");
      else
        consoleErr("\n*** Warning: Only " + std::to_string(acceptedCount_) +
                   " epochs lie inside the time window; at least 8 are needed to interpolate.\n"
                   "    The original epochs were copied without interpolation.\n");
    }
    while (window_.size() > 0) window_.dropOldest();
    acceptedCount_ = 0;
    firstWindowPending_ = true;
  }

  void finish() {
    if (!run_.listEpochs && !run_.inputSizeKnown) progress_update(0);  // a meter of no parts: whole
    if (seenAccepted_)
      finishSegment(false);
    else
      consoleErr("\n*** Warning: No epoch lies inside the time window; the output file is empty.\n");
    // The last buffered lines reach the file before the run is reported complete, so that a
    // full disk ends the run with its error instead.
    output_.close();
    if (run_.arcAware) consoleErr(arcSummary(arcCounts_));
    consoleOut("\nInterpolation complete.\n");
  }

  void writeOriginal(int position) {
    const RINEXEpoch& epoch = window_.at(position);
    writeEpoch(output_, run_.outputHeader, epoch);
    traceEpochTime(run_.listEpochs, ORIGINAL_LABEL, epoch.time);
    if (!epoch.followingEvents.empty()) output_.writeLines(epoch.followingEvents);
  }

  void writeOriginalAndGap(int position) {
    writeOriginal(position);
    fillGap(position);
  }

  void fillGap(int position) {
    const GpsTime opening = window_.at(position).time;
    if (gapSeconds(window_.at(position + 1).time, opening) != run_.samplingRate) return;
    GapRequest request;
    request.baseTime = opening;
    request.window = window_.list();
    request.numPoints = static_cast<uint16_t>(window_.size());
    request.numObsTypes = run_.outputHeader.dataTypeCount();
    request.increment = static_cast<double>(run_.increment);
    if (run_.arcAware) {
      request.arcAware = true;
      request.opening = position - 1;
      request.samplingRate = run_.samplingRate;
      codeTypes_ = codeTypes(run_.outputHeader);
      request.codeTypes = &codeTypes_;
      request.newEpochs = run_.epochsPerGap;
      request.counts = &arcCounts_;
    }
    // The series are chosen once; each new epoch is written before the next is built.
    generator_.prepare(request);
    for (int k = 1; k <= run_.epochsPerGap; ++k) {
      generator_.build(k, generated_);
      writeEpoch(output_, run_.outputHeader, generated_);
      traceEpochTime(run_.listEpochs, INTERPOLATED_LABEL, generated_.time);
    }
  }

  LineSource& input_;
  OutputFile& output_;
  RunSettings& run_;
  RINEXEpoch current_;
  uint64_t position_ = 0;
  EpochWindow window_;
  RINEXEpoch generated_;  // the new epoch being written, reused
  GapGenerator generator_;
  std::vector<char> codeTypes_;
  ArcCounts arcCounts_;
  GpsTime previousTime_;
  unsigned long acceptedCount_ = 0;
  bool seenAccepted_ = false;       // an epoch inside the window has been met
  bool seenObservation_ = false;    // an observation epoch has been read
  bool lastAccepted_ = false;       // the last observation epoch read lies inside the window
  bool firstWindowPending_ = true;
  bool headerWritten_ = false;
  bool seamSeen_ = false;           // an event has started a new interpolation window
  std::string leadingEvents_;
};

}  // namespace

void runInterpolation(LineSource& input, OutputFile& output, RunSettings& run) {
  RunLoop loop(input, output, run);
  loop.run();
}
