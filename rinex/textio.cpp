#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "rinex/rinex.h"

namespace {

FatalHandler fatalHandler = nullptr;
OutputFile* activeOutput = nullptr;  // the file a fatal exit must flush

constexpr std::size_t READ_CHUNK = 1 << 16;
constexpr std::size_t MAX_LINE_LENGTH = 1 << 20;
constexpr std::size_t OUTPUT_FLUSH_SIZE = 1 << 18;  // bytes buffered before a write(2)
constexpr std::size_t OUTPUT_BUFFER_SIZE = OUTPUT_FLUSH_SIZE + (1 << 14);

void writeConsole(FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

void setFatalHandler(FatalHandler handler) { fatalHandler = handler; }

void fatalExit() {
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

void consoleOut(std::string_view text) { writeConsole(stdout, text); }
void consoleErr(std::string_view text) { writeConsole(stderr, text); }

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

OutputFile::~OutputFile() {
  if (activeOutput == this) activeOutput = nullptr;
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::open(const std::string& name) {
  name_ = name;
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  memory_ = false;
  capacity_ = OUTPUT_BUFFER_SIZE;
  data_.reset(new char[capacity_]);
  size_ = committed_ = written_ = 0;
  activeOutput = this;
  return true;
}

void OutputFile::openMemory() {
  name_ = "(memory)";
  memory_ = true;
  fd_ = -1;
  capacity_ = 4096;
  data_.reset(new char[capacity_]);
  size_ = committed_ = written_ = 0;
}

void OutputFile::makeRoom(std::size_t n) {
  if (!memory_ && fd_ >= 0 && size_ > 0) flush();
  if (capacity_ - size_ >= n) return;
  std::size_t capacity = capacity_ == 0 ? 4096 : capacity_;
  while (capacity - size_ < n) capacity *= 2;
  std::unique_ptr<char[]> bigger(new char[capacity]);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_.swap(bigger);
  capacity_ = capacity;
}

void OutputFile::write(std::string_view s) {
  char* p = reserve(s.size());
  std::memcpy(p, s.data(), s.size());
  advance(p + s.size());
}

void OutputFile::endLine() {
  *reserve(1) = '\n';
  ++size_;
  committed_ = size_;
  if (!memory_ && size_ >= OUTPUT_FLUSH_SIZE) flush();
}

void OutputFile::writeLines(std::string_view lines) {
  write(lines);
  committed_ = size_;
  if (!memory_ && size_ >= OUTPUT_FLUSH_SIZE) flush();
}

void OutputFile::flush() {
  if (memory_ || fd_ < 0) return;
  std::size_t done = written_;
  std::size_t total = size_;
  while (done < total) {
    ssize_t n = ::write(fd_, data_.get() + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (activeOutput == this) activeOutput = nullptr;
      int fd = fd_;
      fd_ = -1;
      ::close(fd);
      consoleErr("*** ERROR: Unable to write file: " + name_ + "\n");
      fatalExit();
    }
    done += static_cast<std::size_t>(n);
    written_ = done;
  }
  // Only a complete flush empties the buffer; the signal handler reads written_ and committed_.
  committed_ = 0;
  written_ = 0;
  size_ = 0;
}

void OutputFile::close() {
  if (memory_) return;
  if (fd_ < 0) return;
  flush();
  if (activeOutput == this) activeOutput = nullptr;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    consoleErr("*** ERROR: Unable to write file: " + name_ + "\n");
    fatalExit();
  }
}

void OutputFile::flushFromSignal() {
  if (fd_ < 0) return;
  std::size_t done = written_;
  std::size_t total = committed_;
  const char* data = data_.get();
  while (done < total) {
    ssize_t n = ::write(fd_, data + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void flushOutputsFromSignal() {
  if (activeOutput != nullptr) activeOutput->flushFromSignal();
}
