// The sinks behind OutputFile's buffer: whole lines of RINEX text go in at the top, the bytes of the
// file come out at the bottom. A chain is a file descriptor, optionally a gzip compressor before it
// and optionally a Compact RINEX encoder before that. Internal to the RINEX file layer.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rinex/crx.h"

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Takes whole lines (or, below the first sink, the bytes they became). False when the file
  // cannot take them; the chain is then of no further use.
  virtual bool put(const char* data, std::size_t n) = 0;
  // Makes everything taken so far whole on the file: a gzip member ends.
  virtual bool sync() = 0;
  // At the normal end of the output: adds what a complete file still needs.
  virtual bool finish() = 0;
};

// The bottom of every chain. Remembers where the last complete unit (whole lines, a whole gzip
// member) ends, so that a failed write can be cut back to it.
class FdSink : public OutputSink {
 public:
  // owned: the descriptor is a file this program created (closed and cut back by this sink);
  // otherwise it is standard output, never closed or cut.
  FdSink(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~FdSink() override;
  bool put(const char* data, std::size_t n) override;
  bool sync() override { return true; }
  bool finish() override { return true; }

  void markComplete() { completeEnd_ = offset_; }
  // After a failed write: the file ends at the last complete unit again (where it can be cut).
  void cutToComplete();
  // Closes an owned descriptor; false when close(2) reports an error.
  bool close();
  // The last put gave up because a termination signal interrupted a blocked write.
  bool interrupted() const { return interrupted_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  bool owned_;
  bool interrupted_ = false;
  unsigned long long offset_ = 0;       // bytes written
  unsigned long long completeEnd_ = 0;  // end of the last complete unit
};

// Each member holds at least MEMBER_INPUT bytes of its input (the last one fewer) and reaches the
// file in one piece, so the file always ends after a complete member.
class GzipSink : public OutputSink {
 public:
  static constexpr std::size_t MEMBER_INPUT = std::size_t{1} << 20;

  GzipSink(FdSink& next, int level);
  ~GzipSink() override;
  // Writes an empty member, so that even a file cut off before its first line decodes.
  bool start() { return endMember(); }
  bool put(const char* data, std::size_t n) override;
  bool sync() override { return memberInput_ == 0 || endMember(); }
  bool finish() override { return sync(); }

 private:
  void deflateAll(int flush);
  bool endMember();

  FdSink& next_;
  z_stream z_{};
  std::vector<unsigned char> out_;
  std::size_t used_ = 0;         // bytes of out_ holding the member so far
  std::size_t memberInput_ = 0;  // input bytes taken by the member so far
};

// Compact RINEX 1.0 for RINEX 2 text, 3.0 for RINEX 3: the first line's version chooses, so the
// encoder is made when that line arrives. The encoder hands out whole epochs only; an epoch still
// incomplete when the output ends on a fatal path is dropped with the encoder.
class CompactSink : public OutputSink {
 public:
  CompactSink(OutputSink& next, std::string_view programLine) : next_(next), programLine_(programLine) {}
  // False also when the encoder refuses a line (error() says why); the epochs before it go on.
  bool put(const char* data, std::size_t n) override;
  bool sync() override { return next_.sync(); }
  bool finish() override;
  const std::string& error() const { return encoder_ ? encoder_->error() : noError_; }

 private:
  OutputSink& next_;
  std::string programLine_;
  std::unique_ptr<CompactEncoder> encoder_;
  std::string out_;
  const std::string noError_;
};

// The columns 1-60 of the "CRINEX PROG / DATE" line: the program (20 columns), 20 blanks, the UTC
// time of writing as dd-Mon-yy hh:mm (20 columns).
std::string compactProgramLine(std::string_view program, long long unixSeconds);
