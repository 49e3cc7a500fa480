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
