#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rinex/outsink.h"
#include "rinex/rinex.h"

namespace {

FatalHandler fatalHandler = nullptr;
OutputFile* activeOutput = nullptr;  // the file a fatal exit must flush
std::FILE* reportStream = stdout;
void (*terminationReporter)(int) = nullptr;
volatile std::sig_atomic_t pendingSignal = 0;
volatile std::sig_atomic_t fatalStarted = 0;

constexpr std::size_t OUTPUT_FLUSH_SIZE = 1 << 18;  // bytes buffered before they go to the sinks
constexpr std::size_t OUTPUT_BUFFER_SIZE = OUTPUT_FLUSH_SIZE + (1 << 14);
// zlib's fastest level for plain text: at level 6 compressing takes several times as long as
// densifying. Compact RINEX is a sixth of the text and its differences repeat: level 6 halves its
// size for a fraction of a second a day (README, benchmarks).
constexpr int GZIP_LEVEL_PLAIN = 1;
constexpr int GZIP_LEVEL_COMPACT = 6;

void writeConsole(FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void setFatalHandler(FatalHandler handler) { fatalHandler = handler; }

void fatalExit() {
  fatalStarted = 1;
  std::fflush(stdout);
  std::fflush(stderr);
  if (activeOutput != nullptr) {
    OutputFile* output = activeOutput;
    activeOutput = nullptr;  // a failing flush must not recurse into itself
    output->flush();
  }
  if (fatalHandler != nullptr) fatalHandler();
  std::exit(1);
}

void noteTerminationSignal(int signalNumber) {
  if (pendingSignal == 0) pendingSignal = signalNumber;
}

bool terminationSignalPending() { return pendingSignal != 0; }

void setTerminationReporter(void (*reporter)(int)) { terminationReporter = reporter; }

void pollTerminationSignal() {
  if (pendingSignal == 0 || fatalStarted) return;
  fatalStarted = 1;  // a failing write below must not report the signal a second time
  if (terminationReporter != nullptr) terminationReporter(pendingSignal);
  fatalExit();
}

void consoleOut(std::string_view text) { writeConsole(reportStream, text); }
void consoleErr(std::string_view text) { writeConsole(stderr, text); }
void setConsoleToStandardError(bool toError) { reportStream = toError ? stderr : stdout; }
std::FILE* consoleStream() { return reportStream; }

// ---------------------------------------------------------------------------------------------

OutputForm outputFormOf(std::string_view name) {
  OutputForm form;
  if (name == "-") {
    form.standardOutput = true;
    return form;
  }
  auto endsWith = [](std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
  };
  if (endsWith(name, ".gz")) {
    form.gzip = true;
    name.remove_suffix(3);
  }
  std::size_t slash = name.rfind('/');
  std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  auto isAlnum = [&](char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  // ssssdddf.yyd: station, day of year, session, '.', year, type letter
  bool shortName = base.size() == 12 && base[8] == '.' && (base[11] == 'd' || base[11] == 'D') &&
                   isDigit(base[4]) && isDigit(base[5]) && isDigit(base[6]) && isDigit(base[9]) && isDigit(base[10]);
  for (std::size_t k : {0, 1, 2, 3, 7}) shortName = shortName && isAlnum(base[k]);
  form.compact = shortName || (base.size() > 4 && (endsWith(base, ".crx") || endsWith(base, ".CRX")));
  return form;
}

// The chain behind the buffer; head is where the whole lines go in.
struct OutputFile::Sinks {
  FdSink fd;
  std::unique_ptr<GzipSink> gzip;
  std::unique_ptr<CompactSink> compact;
  OutputSink* head = &fd;
  bool plain = true;

  Sinks(int descriptor, bool owned) : fd(descriptor, owned) {}
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  if (activeOutput == this) activeOutput = nullptr;
}

bool OutputFile::open(const std::string& name, std::string_view program) {
  name_ = name;
  const OutputForm form = outputFormOf(name);
  int fd = STDOUT_FILENO;
  if (!form.standardOutput) {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EINTR) pollTerminationSignal();  // a FIFO without a reader blocks the open
      return false;
    }
  }
  busy_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  sinks_.reset(new Sinks(fd, !form.standardOutput));
  capacity_ = OUTPUT_BUFFER_SIZE;
  data_.reset(new char[capacity_]);
  size_ = committed_ = 0;
  drainSize_ = OUTPUT_FLUSH_SIZE;
  if (form.gzip) {
    sinks_->gzip.reset(new GzipSink(sinks_->fd, form.compact ? GZIP_LEVEL_COMPACT : GZIP_LEVEL_PLAIN));
    sinks_->head = sinks_->gzip.get();
  }
  if (form.compact) {
    sinks_->compact.reset(new CompactSink(*sinks_->head, compactProgramLine(program, std::time(nullptr))));
    sinks_->head = sinks_->compact.get();
  }
  sinks_->plain = !form.gzip && !form.compact;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  busy_ = 0;
  activeOutput = this;
  if (sinks_->gzip && !sinks_->gzip->start()) writeFailed();
  return true;
}

void OutputFile::openMemory() {
  name_ = "(memory)";
  sinks_.reset();
  drainSize_ = ~std::size_t{0};
  capacity_ = 4096;
  data_.reset(new char[capacity_]);
  size_ = committed_ = 0;
}

void OutputFile::drain() {
  if (!sinks_ || committed_ == 0) return;
  const std::sig_atomic_t wasBusy = busy_;
  busy_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const std::size_t lines = committed_;
  if (!sinks_->head->put(data_.get(), lines)) {
    if (sinks_->compact && !sinks_->compact->error().empty()) encodingFailed();
    writeFailed();
  }
  if (!sinks_->gzip) sinks_->fd.markComplete();  // whole lines, or the encoder's whole epochs
  std::memmove(data_.get(), data_.get() + lines, size_ - lines);
  size_ -= lines;
  committed_ = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  busy_ = wasBusy;
}

void OutputFile::makeRoom(std::size_t n) {
  busy_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  drain();
  if (capacity_ - size_ < n) {
    std::size_t capacity = capacity_ == 0 ? 4096 : capacity_;
    while (capacity - size_ < n) capacity *= 2;
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_.swap(bigger);
    capacity_ = capacity;
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  busy_ = 0;
}

void OutputFile::write(std::string_view s) {
  char* p = reserve(s.size());
  std::memcpy(p, s.data(), s.size());
  advance(p + s.size());
}

void OutputFile::endLine() {
  *reserve(1) = '\n';
  ++size_;
  committedLines();
}

void OutputFile::writeLines(std::string_view lines) {
  write(lines);
  committedLines();
}

void OutputFile::flush() {
  if (!sinks_) return;
  drain();
  busy_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!sinks_->head->sync()) writeFailed();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  busy_ = 0;
}

void OutputFile::writeFailed() {
  if (activeOutput == this) activeOutput = nullptr;
  const bool interrupted = sinks_->fd.interrupted();
  sinks_->fd.cutToComplete();
  sinks_.reset();  // closes the file
  size_ = committed_ = 0;
  drainSize_ = ~std::size_t{0};
  busy_ = 0;
  if (interrupted) {
    pollTerminationSignal();  // returns when the fatal path is already under way
    fatalExit();
  }
  consoleErr("*** ERROR: Unable to write file: " + name_ + "\n");
  fatalExit();
}

void OutputFile::encodingFailed() {
  if (activeOutput == this) activeOutput = nullptr;
  const std::string error = sinks_->compact->error();
  // The epochs before the refused line are complete in the file, as on any fatal path.
  if (sinks_->gzip && !sinks_->gzip->sync()) writeFailed();
  sinks_.reset();
  size_ = committed_ = 0;
  drainSize_ = ~std::size_t{0};
  busy_ = 0;
  consoleErr("*** ERROR: The output cannot be written as Compact RINEX (" + error + "): " + name_ + "\n");
  fatalExit();
}

void OutputFile::close() {
  if (!sinks_) return;
  pollTerminationSignal();
  drain();
  busy_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!sinks_->head->finish()) writeFailed();
  if (activeOutput == this) activeOutput = nullptr;
  const bool closed = sinks_->fd.close();
  sinks_.reset();
  drainSize_ = ~std::size_t{0};
  std::atomic_signal_fence(std::memory_order_seq_cst);
  busy_ = 0;
  if (!closed) {
    consoleErr("*** ERROR: Unable to write file: " + name_ + "\n");
    fatalExit();
  }
  pollTerminationSignal();
}

void OutputFile::flushFromSignal() {
  if (busy_ || !sinks_ || !sinks_->plain) return;
  const int fd = sinks_->fd.fd();
  const char* data = data_.get();
  std::size_t done = 0;
  const std::size_t total = committed_;
  while (done < total) {
    ssize_t n = ::write(fd, data + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void flushOutputsFromSignal() {
  // Not while a fatal exit flushes the output: the sinks may be half-way through it.
  if (activeOutput != nullptr && !fatalStarted) activeOutput->flushFromSignal();
}
