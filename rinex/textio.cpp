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

constexpr std::size_t READ_CHUNK = 1 << 16;
constexpr std::size_t MAX_LINE_LENGTH = 1 << 20;
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

LineReader::~LineReader() { close(); }

bool LineReader::open(const std::string& name) {
  close();
  name_ = name;
  // Non-blocking, so that opening a FIFO without a writer does not hang the run.
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  regular_ = S_ISREG(st.st_mode);
  buffer_.resize(READ_CHUNK);
  begin_ = end_ = 0;
  position_ = 0;
  eof_ = false;
  return true;
}

void LineReader::openMemory(std::string_view text) {
  close();
  name_ = "(memory)";
  memory_ = true;
  regular_ = true;
  memoryText_ = text;
  begin_ = 0;
  end_ = text.size();
  position_ = 0;
  eof_ = true;
}

void LineReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  memory_ = false;
  begin_ = end_ = 0;
}

bool LineReader::fill() {
  if (eof_ || memory_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    pollTerminationSignal();  // the signal handlers do not restart a read: EINTR brings us here
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    consoleErr("*** ERROR: Unable to read file: " + name_ + "\n");
    fatalExit();
  }
}

bool LineReader::readLine(std::string& line) {
  std::string_view view;
  if (!nextLine(view)) return false;
  line.assign(view.data(), view.size());
  return true;
}

bool LineReader::nextLine(std::string_view& line) {
  const char* base = nullptr;
  std::size_t scanFrom = begin_;
  for (;;) {
    base = memory_ ? memoryText_.data() : buffer_.data();
    const void* found = std::memchr(base + scanFrom, '\n', end_ - scanFrom);
    if (found != nullptr) {
      std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(found) - base);
      std::size_t length = lineEnd - begin_;
      if (length > 0 && base[lineEnd - 1] == '\r') --length;
      if (length > MAX_LINE_LENGTH) lineTooLong();
      line = std::string_view(base + begin_, length);
      position_ += lineEnd + 1 - begin_;
      begin_ = lineEnd + 1;
      return true;
    }
    scanFrom = end_;
    std::size_t offset = scanFrom - begin_;
    // A line this long is no RINEX text; refuse it rather than let memory grow with it
    // (one more character may be the carriage return of a line of the longest length).
    if (offset > MAX_LINE_LENGTH + 1) lineTooLong();
    if (!fill()) break;
    scanFrom = begin_ + offset;
  }
  base = memory_ ? memoryText_.data() : buffer_.data();
  if (begin_ == end_) return false;
  // The last line has no line feed.
  std::size_t length = end_ - begin_;
  if (base[end_ - 1] == '\r') --length;
  if (length > MAX_LINE_LENGTH) lineTooLong();
  line = std::string_view(base + begin_, length);
  position_ += end_ - begin_;
  begin_ = end_;
  return true;
}

void LineReader::lineTooLong() {
  consoleErr("*** ERROR: A line of the input is longer than " + std::to_string(MAX_LINE_LENGTH) +
             " characters: " + name_ + "\n");
  fatalExit();
}

uint64_t LineReader::measureSize() {
  uint64_t size = 0;
  if (memory_) {
    size = memoryText_.size();
  } else if (fd_ >= 0) {
    off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end > 0) size = static_cast<uint64_t>(end);
  }
  rewind();
  return size;
}

void LineReader::rewind() {
  position_ = 0;
  if (memory_) {
    begin_ = 0;
    end_ = memoryText_.size();
    return;
  }
  if (fd_ >= 0) ::lseek(fd_, 0, SEEK_SET);
  begin_ = end_ = 0;
  eof_ = false;
}

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
