#include "rinex/crx.h"

// Placeholder until the codec is written: every Compact RINEX input is refused.

int compactRinexVersion(std::string_view firstLine, std::string* version) {
  if (firstLine.size() < 80 || firstLine.substr(60, 19) != "CRINEX VERS   / TYP") return 0;
  if (version != nullptr) *version = std::string(firstLine.substr(0, 20));
  return -1;
}

struct CompactDecoder::State {
  std::string error = "Compact RINEX is not supported by this build";
};
CompactDecoder::CompactDecoder() : state_(new State) {}
CompactDecoder::~CompactDecoder() { delete state_; }
bool CompactDecoder::decode(std::string_view, std::string&) { return false; }
bool CompactDecoder::finish(std::string&) { return false; }
const std::string& CompactDecoder::error() const { return state_->error; }

struct CompactEncoder::State {};
CompactEncoder::CompactEncoder(int, std::string_view) : state_(new State) {}
CompactEncoder::~CompactEncoder() { delete state_; }
void CompactEncoder::encode(std::string_view line, std::string& out) {
  out.append(line.data(), line.size());
  out.push_back('\n');
}
void CompactEncoder::finish(std::string&) {}
