// Compact RINEX 1.0 of a RINEX 2 observation file, standard input to standard output: the
// benchmark's Compact RINEX inputs are made with the program's own encoder.
#include <cstdio>
#include <iostream>
#include <string>

#include "rinex/crx.h"

int main() {
  CompactEncoder encoder(1, "epofill bench");
  std::string line, out;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    encoder.encode(line, out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  }
  encoder.finish(out);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
