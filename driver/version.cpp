#include <string>

#include "driver/driver.h"

#ifndef EPOFILL_VERSION
#error "EPOFILL_VERSION comes from the CMake project version"
#endif

namespace {

// What this build reads and writes, as -V reports it; kept in step with the input and output layers.
constexpr const char* READS =
    "RINEX 2.xx and 3.0x observation files; plain, Compact RINEX 1.0 and 3.0, gzip, Unix compress, bzip2, xz, "
    "zstd; standard input (-i -)";
constexpr const char* WRITES =
    "RINEX observation files in the input's version; plain, gzip (.gz), Compact RINEX (ssssdddf.yyd or .crx, "
    "each optionally .gz); standard output (-o -)";

}  // namespace

void printVersion() {
  consoleOut(std::string("epofill ") + EPOFILL_VERSION + "\nreads: " + READS + "\nwrites: " + WRITES + "\n");
}
