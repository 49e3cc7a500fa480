#include "rinex/outsink.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <new>

#include "rinex/rinex.h"

FdSink::~FdSink() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

bool FdSink::put(const char* data, std::size_t n) {
  while (n > 0) {
    ssize_t written = ::write(fd_, data, n);
    if (written < 0 && errno == EINTR) {
      // Only a pipe or terminal blocks in write(2); a termination signal must not wait for its reader.
      if (terminationSignalPending()) {
        interrupted_ = true;
        return false;
      }
      continue;
    }
    if (written <= 0) return false;
    data += written;
    n -= static_cast<std::size_t>(written);
    offset_ += static_cast<unsigned long long>(written);
  }
  return true;
}

void FdSink::cutToComplete() {
  if (owned_ && fd_ >= 0 && offset_ != completeEnd_) {
    if (::ftruncate(fd_, static_cast<off_t>(completeEnd_)) == 0) offset_ = completeEnd_;
  }
}

bool FdSink::close() {
  if (!owned_ || fd_ < 0) return true;
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

// ---------------------------------------------------------------------------------------------

GzipSink::GzipSink(FdSink& next, int level) : next_(next), out_(std::size_t{1} << 16) {
  // 15 + 16: a gzip wrapper with a 32 KiB window; memory level 8 is zlib's default (about 256 KiB).
  if (deflateInit2(&z_, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
}

GzipSink::~GzipSink() { deflateEnd(&z_); }

void GzipSink::deflateAll(int flush) {
  for (;;) {
    if (used_ == out_.size()) out_.resize(out_.size() * 2);
    z_.next_out = out_.data() + used_;
    z_.avail_out = static_cast<uInt>(out_.size() - used_);
    int status = deflate(&z_, flush);
    used_ = out_.size() - z_.avail_out;
    if (flush == Z_FINISH ? status == Z_STREAM_END : z_.avail_in == 0 && z_.avail_out > 0) return;
  }
}

bool GzipSink::put(const char* data, std::size_t n) {
  while (n > 0) {
    // avail_in is 32 bits wide.
    std::size_t part = n < (std::size_t{1} << 30) ? n : std::size_t{1} << 30;
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(part);
    deflateAll(Z_NO_FLUSH);
    data += part;
    n -= part;
    memberInput_ += part;
  }
  return memberInput_ < MEMBER_INPUT || endMember();
}

bool GzipSink::endMember() {
  z_.next_in = nullptr;
  z_.avail_in = 0;
  deflateAll(Z_FINISH);
  bool ok = next_.put(reinterpret_cast<const char*>(out_.data()), used_);
  if (ok) next_.markComplete();
  deflateReset(&z_);
  used_ = 0;
  memberInput_ = 0;
  return ok;
}

// ---------------------------------------------------------------------------------------------

bool CompactSink::put(const char* data, std::size_t n) {
  const char* end = data + n;
  while (data < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
    if (lineEnd == nullptr) lineEnd = end;  // never: the buffer hands over whole lines
    const std::string_view line(data, static_cast<std::size_t>(lineEnd - data));
    if (!encoder_) encoder_.reset(new CompactEncoder(headerMajorVersion(line) == 3 ? 3 : 1, programLine_));
    encoder_->encode(line, out_);
    if (!encoder_->error().empty()) break;
    data = lineEnd + 1;
  }
  bool ok = out_.empty() || next_.put(out_.data(), out_.size());
  out_.clear();
  return ok && error().empty();
}

bool CompactSink::finish() {
  if (encoder_) encoder_->finish(out_);
  bool ok = out_.empty() || next_.put(out_.data(), out_.size());
  out_.clear();
  return ok && next_.finish();
}

std::string compactProgramLine(std::string_view program, long long unixSeconds) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char date[32];
  std::snprintf(date, sizeof date, "%02d-%s-%02d %02d:%02d", utc.tm_mday, months[utc.tm_mon % 12],
                utc.tm_year % 100, utc.tm_hour, utc.tm_min);
  char line[64];
  std::snprintf(line, sizeof line, "%-20.20s%-20s%-20.20s", std::string(program).c_str(), "", date);
  return line;
}
