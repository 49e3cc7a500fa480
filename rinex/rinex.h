// RINEX observation files (versions 2 and 3.00-3.05): the header and epoch records, their
// readers and writers, the text input and buffered output they work on, and the fatal-exit path.
//
// Records are plain values. Integer fields use 9999 for "holds nothing", text fields the
// empty text; an observation's presence is told by its own flag. The readers take fields
// by 1-based column and width and never read past the end of a line.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gpstime/gpstime.h"

// Sizes of the classic layout: a first epoch line lists 12 satellites, a first
// "# / TYPES OF OBSERV" line 9 types. Files may hold more; the records grow with them.
constexpr int MAX_SATELLITES = 12;
constexpr int MAX_OBS_TYPES = 9;
constexpr int MAX_HEADER_SATELLITES = 35;  // wavelength-factor satellites kept
// Beyond the classic limits: what a header may declare (RINEX 2 knows a few dozen types), so
// that a hostile count cannot make the epoch records grow without bound.
constexpr int MAX_SUPPORTED_OBS_TYPES = 99;

constexpr int UNSET = 9999;
constexpr double UNSET_CLOCK = 9999.0;
constexpr double UNSET_VALUE = 99999999999.9;

// Observation-type codes; slot k of the header's list describes observation k of every satellite.
enum ObservationType : uint8_t { L1 = 0, L2, C1, P1, P2, D1, D2, T1, T2, OBS_NONE };
extern const char* const observationTypeNames[OBS_NONE];

// ---------------------------------------------------------------------------------------------
// Fatal exit. Every fatal path prints its message and then calls fatalExit(), which flushes the
// output file and ends the process with status 1. Tests and fuzz targets may install a handler
// that unwinds instead (it must not return normally; if it does, the process still exits).

using FatalHandler = void (*)();
void setFatalHandler(FatalHandler handler);
[[noreturn]] void fatalExit();

// Console lines of the stream-based code: each line end flushes. What the program reports on
// standard output goes to consoleStream(): standard output, or standard error once
// setConsoleToStandardError(true) makes standard output the output file's.
void consoleOut(std::string_view text);
void consoleErr(std::string_view text);
void setConsoleToStandardError(bool toError);
std::FILE* consoleStream();

// Termination signals (SIGINT, SIGTERM) are only noted by their handler; the run acts on them in
// normal context, at line ends of the output and at reads of the input: pollTerminationSignal()
// then prints the signal's message (through the reporter the handlers installed) and takes the
// fatal exit, so the output ends after whole lines in every form.
void noteTerminationSignal(int signalNumber);  // async-signal-safe; the first signal is kept
bool terminationSignalPending();               // async-signal-safe
void pollTerminationSignal();
void setTerminationReporter(void (*reporter)(int signalNumber));

// ---------------------------------------------------------------------------------------------
// Line input. The header and epoch readers take lines from a LineSource; behind it the input may
// be a file, standard input, a pipe or memory, compressed or not, RINEX or Compact RINEX text.
// Line ends (LF, or CR LF) are not kept.

class LineSource {
 public:
  LineSource() = default;
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;
  virtual ~LineSource() = default;

  // The next line, as a view that stays valid until the next read; false at the end of the input.
  // A read or decoding error is fatal.
  virtual bool nextLine(std::string_view& line) = 0;
  // Bytes of the stored input (compressed, when it is) consumed so far.
  virtual uint64_t position() const = 0;
  virtual const std::string& name() const = 0;

  // The same as nextLine, copied.
  bool readLine(std::string& line);
};

// What is known of the input as stored.
struct InputOrigin {
  bool sizeKnown = false;  // a regular file (or memory): its size in bytes is `size`
  uint64_t size = 0;
  bool regularFile = false;  // then device and inode identify it
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Opens the input of this name ("-" is standard input) and stacks the layers its content needs:
// decompression (gzip, compress, bzip2, xz, zstd, by the first bytes) and Compact RINEX decoding
// (by the first line). A folder, a device or a terminal is refused; every failure is fatal.
std::unique_ptr<LineSource> openInput(const std::string& name, InputOrigin& origin);
// The same layers over bytes in memory, which must outlive the source.
std::unique_ptr<LineSource> openInputMemory(std::string_view bytes);

// The plain layer: lines of a file descriptor or of memory, or of the decompressed stream of
// either once startDecompression() has been called.
class LineReader : public LineSource {
 public:
  LineReader();
  ~LineReader() override;

  // Opens a file ("-": standard input). Returns false (errno set) when it cannot be opened or is a
  // folder; a FIFO is opened once a writer has opened it.
  bool open(const std::string& name);
  void openMemory(std::string_view text);
  void close();
  // From the open descriptor: whether it is a regular file, a FIFO or pipe (else a device), and
  // what is known of it as stored.
  bool isReadable() const { return readable_; }
  const InputOrigin& origin() const { return origin_; }

  bool nextLine(std::string_view& line) override;
  uint64_t position() const override;
  const std::string& name() const override { return name_; }

  // The next n bytes of the input, read but not consumed (fewer at its end).
  std::string_view peekBytes(std::size_t n);
  // The next line without consuming it.
  bool peekLine(std::string_view& line);
  // From here on the bytes not yet consumed are a compressed stream whose decompressed text is
  // read. Only before any line has been consumed.
  void startDecompression();

 private:
  struct Decompressor;
  friend struct Decompressor;
  bool fill();
  std::size_t readRaw(char* to, std::size_t room);
  [[noreturn]] void lineTooLong();

  std::string name_;
  InputOrigin origin_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool readable_ = false;
  bool memory_ = false;
  bool eof_ = false;
  std::string_view memoryText_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  uint64_t position_ = 0;
  std::unique_ptr<Decompressor> decompressor_;
};

// ---------------------------------------------------------------------------------------------
// Buffered text output to a file, to standard output or to memory. A write error is fatal ("Unable
// to write file"). The buffer hands its whole lines to the output's sinks when it fills, on close
// and before every fatal exit; the file then decodes to every whole line written before (a
// Compact RINEX file to every whole epoch).

// The form of an output, told by its name: "-" is plain RINEX on standard output; a name ending in
// ".gz" is gzip-compressed; a Compact RINEX name (the short name ssssdddf.yyd with type letter d or
// D, or a name ending in ".crx"), optionally followed by ".gz", is Compact RINEX
// (1.0 for RINEX 2 text, 3.0 for RINEX 3).
struct OutputForm {
  bool standardOutput = false;
  bool gzip = false;
  bool compact = false;
};
OutputForm outputFormOf(std::string_view name);

class OutputFile {
 public:
  OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates or empties the file (or takes standard output for "-") in the form its name tells;
  // false (errno set) on failure. program names the writer in a Compact RINEX file's second line.
  bool open(const std::string& name, std::string_view program = "epofill");
  void openMemory();                   // collects the text; contents() returns it
  void close();                        // flushes; a failure is fatal
  std::string contents() const { return std::string(data_.get(), size_); }
  const std::string& name() const { return name_; }

  // Room for n more characters at the end of the text; advance() takes what was written.
  char* reserve(std::size_t n) {
    if (capacity_ - size_ < n) makeRoom(n);
    return data_.get() + size_;
  }
  void advance(char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
  void write(std::string_view s);
  void endLine();
  // Appends whole lines, each already ended by '\n'.
  void writeLines(std::string_view lines);
  // Every whole line so far reaches the file, complete in its form (a gzip member ends).
  void flush();
  // In a signal handler: writes the whole lines buffered so far with write(2) only, when the output
  // is plain and no buffer operation is under way; a compressed output is left as it is.
  void flushFromSignal();

  // Whether reals of the seconds field print in fixed notation: a formatted stream keeps
  // fixed notation once the header's TIME OF FIRST OBS sets it, and the seconds of the
  // first epoch are formatted before the epoch writer sets it again.
  bool fixedNotation = false;

 private:
  struct Sinks;
  void makeRoom(std::size_t n);
  void drain();  // the whole lines of the buffer into the sinks; the rest of a line stays
  void committedLines() {
    committed_ = size_;
    if (size_ >= drainSize_) drain();
    if (terminationSignalPending()) pollTerminationSignal();
  }
  [[noreturn]] void writeFailed();
  [[noreturn]] void encodingFailed();

  std::string name_;
  std::unique_ptr<Sinks> sinks_;  // none for memory
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t drainSize_ = ~std::size_t{0};      // none for memory
  volatile std::size_t committed_ = 0;           // bytes of whole lines in the buffer
  volatile std::sig_atomic_t busy_ = 0;          // the buffer or the sinks are being changed
};

// The output that a fatal exit or a fatal signal flushes (the one open file of the run).
void flushOutputsFromSignal();

// ---------------------------------------------------------------------------------------------
// Header

struct WavelengthSatellite {
  std::string system;  // one letter or ""
  int16_t prn = UNSET;
};

struct HeaderSatellite {
  std::string system;  // one letter or ""
  int16_t prn = UNSET;
  std::vector<int32_t> observationCounts = std::vector<int32_t>(MAX_OBS_TYPES, UNSET);
};

// The observation codes of one satellite system, in the order of its satellites' values.
struct SystemObservationTypes {
  char system = ' ';
  std::vector<std::string> codes;  // three characters each in RINEX 3
};

struct RINEXHeader {
  int majorVersion = 2;  // 2, or 3 for versions 3.00-3.05
  std::string version, fileType, satelliteSystem;
  std::string program, runBy, date;
  std::string comments;  // 60 characters per COMMENT line, run together
  std::string markerName, markerNumber;
  std::string observer, agency;
  std::string receiverNumber, receiverType, receiverVersion;
  std::string antennaNumber, antennaType;
  std::string approxPositionX, approxPositionY, approxPositionZ;
  std::string antennaDeltaH, antennaDeltaE, antennaDeltaN;
  int16_t wavelengthFactorL1 = UNSET;
  int16_t wavelengthFactorL2 = UNSET;
  int32_t wavelengthSatelliteCount = UNSET;
  std::vector<WavelengthSatellite> wavelengthSatellites =
      std::vector<WavelengthSatellite>(MAX_HEADER_SATELLITES);
  int32_t observationTypeCount = UNSET;
  // At least 9 slots; code OBS_NONE for an empty slot or a code outside the list, whose
  // text is kept in observationTypeTexts (trimmed, "" for an empty slot).
  std::vector<uint8_t> observationTypes = std::vector<uint8_t>(MAX_OBS_TYPES, OBS_NONE);
  std::vector<std::string> observationTypeTexts = std::vector<std::string>(MAX_OBS_TYPES);
  int32_t interval = UNSET;
  CalendarTime firstObservation{UNSET, 1, 1, 0, 0, 0.0};
  CalendarTime lastObservation{UNSET, 1, 1, 0, 0, 0.0};
  std::string receiverClockOffsetApplied;  // RCV CLOCK OFFS APPL, columns 1-60 as read
  std::string leapSeconds;                 // LEAP SECONDS, columns 1-60 as read
  bool hasReceiverClockOffsetApplied = false;
  bool hasLeapSeconds = false;
  int16_t satelliteCount = UNSET;
  std::vector<HeaderSatellite> satellites;  // PRN / # OF OBS entries in file order


  // RINEX 3: every header line as read, in order, END OF HEADER last; the writer copies the
  // records it does not rewrite. systemTypes holds the SYS / # / OBS TYPES lists.
  std::vector<std::string> records;
  std::vector<SystemObservationTypes> systemTypes;
  double intervalSeconds = 0.0;  // INTERVAL with its fraction; 0 when absent
  std::string timeSystem;        // of TIME OF FIRST OBS, columns 49-51 as read

  // Number of observations each satellite carries in the epoch records; in RINEX 3 the
  // largest of the systems' counts (the room an epoch record needs).
  int dataTypeCount() const {
    if (majorVersion >= 3) return maxSystemTypeCount();
    return observationTypeCount > 0 && observationTypeCount != UNSET ? observationTypeCount : 0;
  }
  // Number of observations a satellite of this system carries (RINEX 2: the one list; RINEX 3:
  // its system's list, none for a system without one).
  int typeCount(char system) const;
  // Whether observation j of a satellite of this system is a code (range): its type begins
  // with C (or P in RINEX 2).
  bool isCodeType(char system, int j) const;
  int maxSystemTypeCount() const;
};

void initHeader(RINEXHeader& header);
// Reads up to and including END OF HEADER, as RINEX 2 or RINEX 3 by the version in the first
// line (versions 4 and later, and 3 beyond 3.05, are refused). Ends the process on a fatal finding.
void readHeader(LineSource& input, RINEXHeader& header);
// Applies the "# / TYPES OF OBSERV" records of a header-information event (its lines as read) to
// the header; returns whether the event holds one.
bool applyEventTypeList(RINEXHeader& header, std::string_view eventText);
void writeHeader(OutputFile& output, const RINEXHeader& header);

// The major version a first header line announces: 2 for RINEX 2 (and anything this program
// reads as RINEX 2), 3 for 3.00-3.05, 0 for a version it does not read.
int headerMajorVersion(std::string_view firstLine);
// The RINEX 3 forms, called by the functions above.
void readHeader3(LineSource& input, RINEXHeader& header, const std::string& firstLine);
void writeHeader3(OutputFile& output, const RINEXHeader& header);

// ---------------------------------------------------------------------------------------------
// Epochs

struct ObservationValue {
  int16_t present = 0;
  double value = UNSET_VALUE;
  int16_t lli = UNSET;
  int16_t signalStrength = UNSET;
};

struct SatelliteObservations {
  char system = ' ';
  int16_t prn = UNSET;
  std::vector<ObservationValue> obs = std::vector<ObservationValue>(MAX_OBS_TYPES);
};

struct RINEXEpoch {
  GpsTime time;
  int16_t epochFlag = UNSET;
  int32_t numSatellites = UNSET;
  // At least 12 slots; more when the epoch lists more satellites.
  std::vector<SatelliteObservations> satellites = std::vector<SatelliteObservations>(MAX_SATELLITES);
  double clockOffset = UNSET_CLOCK;
  // An event record (epoch flag 2 to 6) is kept as its lines, verbatim, each ended by '\n'.
  std::string eventText;
  // Event records that followed this epoch in the input; written right after it.
  std::string followingEvents;
  // A header-information event (flag 4) that brings a new list of observation types.
  bool newTypeList = false;
  // Satellites whose data lines the input ended before (the last epoch of a cut file).
  int32_t missingSatellites = 0;

  bool isEvent() const { return !eventText.empty(); }
  // Satellites used: the count when it is set and not negative.
  int usedSatellites() const { return numSatellites == UNSET || numSatellites < 0 ? 0 : numSatellites; }
};

void initEpoch(RINEXEpoch& epoch);
// Makes room for this many satellites and observation types (never shrinks).
void reserveEpoch(RINEXEpoch& epoch, int satellites, int types);
// Reads the next observation epoch or event record. Returns 1 when one was read, 0 at the end
// of the input (the record is then left as it was). Blank lines between records are skipped.
// A header-information event with a new list of observation types applies it to the header, so
// that the epochs after it are read with it.
int16_t readEpoch(LineSource& input, RINEXHeader& header, RINEXEpoch& epoch);
void writeEpoch(OutputFile& output, const RINEXHeader& header, const RINEXEpoch& epoch);
int16_t readEpoch3(LineSource& input, RINEXHeader& header, RINEXEpoch& epoch);
bool applyEventTypeList3(RINEXHeader& header, std::string_view eventText);
void cycleSlipSatellites3(std::string_view events, std::vector<std::pair<char, int16_t>>& satellites);
void writeEpoch3(OutputFile& output, const RINEXHeader& header, const RINEXEpoch& epoch);
// Appends the satellites (system letter, number) that the cycle-slip records (flag 6) among these
// event lines list; `types` observations per satellite tell how many data lines each record holds.
void cycleSlipSatellites(std::string_view events, int types, std::vector<std::pair<char, int16_t>>& satellites);
