// The input layers: lines of a file, standard input, a pipe or memory; the decompressed stream of
// any of them; Compact RINEX decoded back into RINEX lines. openInput() stacks them by content.
#include <archive.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "rinex/crx.h"
#include "rinex/rinex.h"

namespace {

constexpr std::size_t READ_CHUNK = 1 << 16;
constexpr std::size_t MAX_LINE_LENGTH = 1 << 20;
constexpr std::size_t STORED_BLOCK = 1 << 16;  // compressed bytes handed to the decompressor at a time

[[noreturn]] void fatal(const std::string& message) {
  consoleErr("*** ERROR: " + message + "\n");
  fatalExit();
}

// read(2) that waits on a descriptor left non-blocking by whoever handed it over. SIGINT and
// SIGTERM do not restart a read: EINTR brings them here, where they are acted on. (From within the
// decompressor too: the fatal path ends the process, it does not unwind through libarchive.)
ssize_t readSome(int fd, char* to, std::size_t room) {
  for (;;) {
    ssize_t n = ::read(fd, to, room);
    pollTerminationSignal();
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    struct pollfd ready {fd, POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return -1;
  }
}

}  // namespace

bool LineSource::readLine(std::string& line) {
  std::string_view view;
  if (!nextLine(view)) return false;
  line.assign(view.data(), view.size());
  return true;
}

// ---------------------------------------------------------------------------------------------
// Decompression: libarchive's raw reader over the stored bytes, which it takes from the bytes
// already buffered and then from the descriptor or the rest of the memory text.

struct LineReader::Decompressor {
  LineReader& owner;
  struct archive* archive = nullptr;
  std::string stored;           // stored bytes read from the descriptor before decompression began
  std::string_view memoryRest;  // the stored bytes of a memory input not yet handed over
  std::vector<char> block;
  uint64_t consumed = 0;  // stored bytes handed to the decompressor
  bool readFailed = false;
  bool empty = false;  // the stream holds nothing

  explicit Decompressor(LineReader& reader) : owner(reader) {}
  ~Decompressor() {
    if (archive != nullptr) archive_read_free(archive);
  }

  static la_ssize_t supply(struct archive* a, void* client, const void** data) {
    auto* self = static_cast<Decompressor*>(client);
    std::string_view piece;
    if (!self->stored.empty()) {
      self->block.assign(self->stored.begin(), self->stored.end());
      self->stored.clear();
      piece = std::string_view(self->block.data(), self->block.size());
    } else if (self->owner.fd_ < 0) {
      piece = self->memoryRest.substr(0, STORED_BLOCK);
      self->memoryRest.remove_prefix(piece.size());
    } else {
      self->block.resize(STORED_BLOCK);
      ssize_t n = readSome(self->owner.fd_, self->block.data(), self->block.size());
      if (n < 0) {
        self->readFailed = true;
        archive_set_error(a, EIO, "read error");
        return ARCHIVE_FATAL;
      }
      piece = std::string_view(self->block.data(), static_cast<std::size_t>(n));
    }
    self->consumed += piece.size();
    *data = piece.data();
    return static_cast<la_ssize_t>(piece.size());
  }

  [[noreturn]] void invalid() {
    if (readFailed) fatal("Unable to read file: " + owner.name_);
    const char* why = archive != nullptr ? archive_error_string(archive) : nullptr;
    fatal("Invalid compressed data in " + owner.name_ + ": " + (why != nullptr ? why : "cannot be decompressed"));
  }

  void start() {
    archive = archive_read_new();
    if (archive == nullptr) throw std::bad_alloc();
    archive_read_support_filter_all(archive);  // a warning names filters that need outside programs
    archive_read_support_format_raw(archive);
    archive_read_support_format_empty(archive);  // a stream of nothing is an empty input
    if (archive_read_open(archive, this, nullptr, supply, nullptr) != ARCHIVE_OK) invalid();
    struct archive_entry* entry = nullptr;
    int status = archive_read_next_header(archive, &entry);
    if (status == ARCHIVE_EOF) empty = true;  // nothing inside
    else if (status != ARCHIVE_OK && status != ARCHIVE_WARN) invalid();
  }

  // Decompressed bytes into `to`; 0 at the end.
  std::size_t read(char* to, std::size_t room) {
    if (empty) return 0;
    la_ssize_t n = archive_read_data(archive, to, room);
    if (n < 0) invalid();
    return static_cast<std::size_t>(n);
  }
};

LineReader::LineReader() = default;
LineReader::~LineReader() { close(); }

bool LineReader::open(const std::string& name) {
  close();
  name_ = name;
  int fd = STDIN_FILENO;
  if (name != "-") {
    // A FIFO is read as any reader does, once a writer has opened it; anything else is opened
    // without waiting, so that a device cannot hang the run before it is refused.
    struct stat named {};
    const bool fifo = ::stat(name.c_str(), &named) == 0 && S_ISFIFO(named.st_mode);
    while ((fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK))) < 0 && errno == EINTR)
      pollTerminationSignal();  // a FIFO without a writer blocks the open
    if (fd < 0) return false;
    ownsFd_ = true;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (ownsFd_) ::close(fd);
    ownsFd_ = false;
    errno = EISDIR;
    return false;
  }
  if (ownsFd_) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  fd_ = fd;
  readable_ = S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  origin_ = InputOrigin();
  if (S_ISREG(st.st_mode)) {
    // Standard input may come part-read; the size is what is left of the file.
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    uint64_t skipped = at > 0 && at < st.st_size ? static_cast<uint64_t>(at) : 0;
    origin_.sizeKnown = true;
    origin_.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) - skipped : 0;
    origin_.regularFile = true;
    origin_.device = static_cast<uint64_t>(st.st_dev);
    origin_.inode = static_cast<uint64_t>(st.st_ino);
  }
  buffer_.resize(READ_CHUNK);
  return true;
}

void LineReader::openMemory(std::string_view text) {
  close();
  name_ = "(memory)";
  memory_ = true;
  readable_ = true;
  origin_ = InputOrigin();
  origin_.sizeKnown = true;
  origin_.size = text.size();
  memoryText_ = text;
  end_ = text.size();
  eof_ = true;
}

void LineReader::close() {
  decompressor_.reset();
  if (fd_ >= 0 && ownsFd_) ::close(fd_);
  fd_ = -1;
  ownsFd_ = false;
  readable_ = false;
  memory_ = false;
  eof_ = false;
  begin_ = end_ = 0;
  position_ = 0;
}

uint64_t LineReader::position() const { return decompressor_ ? decompressor_->consumed : position_; }

std::size_t LineReader::readRaw(char* to, std::size_t room) {
  ssize_t n = readSome(fd_, to, room);
  if (n < 0) fatal("Unable to read file: " + name_);
  return static_cast<std::size_t>(n);
}

bool LineReader::fill() {
  if (eof_ || memory_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  char* to = buffer_.data() + end_;
  std::size_t room = buffer_.size() - end_;
  std::size_t n = decompressor_ ? decompressor_->read(to, room) : readRaw(to, room);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += n;
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
      // A decompressed line that ends the buffered text: look for the end of the stream first, so
      // that the stored bytes consumed reach the whole file with the last line.
      if (decompressor_ && lineEnd + 1 == end_ && !eof_) {
        scanFrom = lineEnd - begin_;
        fill();
        scanFrom += begin_;
        continue;
      }
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

std::string_view LineReader::peekBytes(std::size_t n) {
  while (end_ - begin_ < n && fill()) {
  }
  const char* base = memory_ ? memoryText_.data() : buffer_.data();
  return std::string_view(base + begin_, std::min(n, end_ - begin_));
}

bool LineReader::peekLine(std::string_view& line) {
  // A line read stays in the buffer until the next read, so reading it and stepping back is a peek.
  const std::size_t begin = begin_;
  const uint64_t position = position_;
  if (!nextLine(line)) return false;
  begin_ = begin;
  position_ = position;
  return true;
}

void LineReader::startDecompression() {
  decompressor_.reset(new Decompressor(*this));
  if (memory_) {
    decompressor_->memoryRest = memoryText_.substr(begin_);
    memory_ = false;
    buffer_.resize(READ_CHUNK);
  } else {
    decompressor_->stored.assign(buffer_.data() + begin_, end_ - begin_);
  }
  begin_ = end_ = 0;
  position_ = 0;
  eof_ = false;
  decompressor_->start();
}

void LineReader::lineTooLong() {
  fatal("A line of the input is longer than " + std::to_string(MAX_LINE_LENGTH) + " characters: " + name_);
}

// ---------------------------------------------------------------------------------------------
// Compact RINEX: the lines of the layer below are decoded; RINEX lines come out.

namespace {

// The Compact RINEX versions this program reads: 1.0 (RINEX 2) and 3.0 (RINEX 3).
bool compactVersionAccepted(int version) { return version == 1 || version == 3; }

class CompactReader : public LineSource {
 public:
  explicit CompactReader(std::unique_ptr<LineSource> compact) : compact_(std::move(compact)) {}

  bool nextLine(std::string_view& line) override {
    while (next_ >= decoded_.size()) {
      decoded_.clear();
      next_ = 0;
      if (ended_) return false;
      std::string_view in;
      if (compact_->nextLine(in)) {
        ++lineNumber_;
        if (!decoder_.decode(in, decoded_)) invalid();
      } else {
        ended_ = true;
        if (!decoder_.finish(decoded_)) invalid();
      }
    }
    // The decoder ends every line it gives with a line feed.
    std::size_t end = decoded_.find('\n', next_);
    if (end == std::string::npos) end = decoded_.size();
    line = std::string_view(decoded_.data() + next_, end - next_);
    next_ = end + 1;
    return true;
  }
  uint64_t position() const override { return compact_->position(); }
  const std::string& name() const override { return compact_->name(); }

 private:
  [[noreturn]] void invalid() {
    fatal("Invalid Compact RINEX data in " + name() + ", line " + std::to_string(lineNumber_) + ": " +
          decoder_.error());
  }

  std::unique_ptr<LineSource> compact_;
  CompactDecoder decoder_;
  std::string decoded_;  // RINEX lines decoded and not yet taken
  std::size_t next_ = 0;
  uint64_t lineNumber_ = 0;  // of the last Compact RINEX line read
  bool ended_ = false;
};

// First bytes of the compressed forms libarchive reads here.
bool isCompressed(std::string_view head) {
  static const std::string_view magics[] = {
      std::string_view("\x1f\x8b", 2),                  // gzip
      std::string_view("\x1f\x9d", 2),                  // Unix compress (LZW)
      std::string_view("BZh", 3),                       // bzip2
      std::string_view("\xfd" "7zXZ\0", 6),             // xz
      std::string_view("\x28\xb5\x2f\xfd", 4),          // zstd
  };
  for (std::string_view magic : magics)
    if (head.substr(0, magic.size()) == magic) return true;
  return false;
}
constexpr std::size_t LONGEST_MAGIC = 6;
constexpr std::size_t VERSION_COLUMNS = 20;  // of the "CRINEX VERS   / TYPE" line

std::string trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::unique_ptr<LineSource> stackLayers(std::unique_ptr<LineReader> reader) {
  if (isCompressed(reader->peekBytes(LONGEST_MAGIC))) reader->startDecompression();
  std::string_view first;
  if (!reader->peekLine(first)) return reader;
  const int compact = compactRinexVersion(first);
  if (compact == 0) return reader;
  if (!compactVersionAccepted(compact))
    fatal("Unsupported Compact RINEX version " + trimmed(first.substr(0, VERSION_COLUMNS)) + ": " + reader->name());
  return std::make_unique<CompactReader>(std::move(reader));
}

}  // namespace

std::unique_ptr<LineSource> openInput(const std::string& name, InputOrigin& origin) {
  auto reader = std::make_unique<LineReader>();
  if (!reader->open(name)) fatal("Unable to open file: " + name);
  if (!reader->isReadable()) fatal("The input is not a regular file: " + name);
  origin = reader->origin();
  return stackLayers(std::move(reader));
}

std::unique_ptr<LineSource> openInputMemory(std::string_view bytes) {
  auto reader = std::make_unique<LineReader>();
  reader->openMemory(bytes);
  return stackLayers(std::move(reader));
}
