#include "rinex/crx.h"

// Placeholder until the encoder is written: passes the lines through.
struct CompactEncoder::State {};
CompactEncoder::CompactEncoder(int, std::string_view) : state_(new State) {}
CompactEncoder::~CompactEncoder() { delete state_; }
void CompactEncoder::encode(std::string_view line, std::string& out) {
  out.append(line.data(), line.size());
  out.push_back('\n');
}
void CompactEncoder::finish(std::string&) {}
