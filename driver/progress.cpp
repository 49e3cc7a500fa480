#include <cstdint>
#include <cstdio>

#include "driver/driver.h"

namespace {

constexpr int PROGRESS_MARKS = 57;  // one per character of the scale line
constexpr const char* PROGRESS_SCALE = "0 . . . . 20 . . . . 40 . . . . 60 . . . . 80 . . . . 100";

int progress_active = 0;
int64_t progress_total = 0;
int marks_shown = 0;

}  // namespace

int progress_init(const char* title, int64_t total) {
  progress_total = total;
  marks_shown = 0;
  if (total < 0) return 0;
  progress_active = 1;
  std::fprintf(consoleStream(), "\n\n%s\n\n%s     %% Completed\n", title, PROGRESS_SCALE);
  std::fflush(consoleStream());
  return 1;
}

int progress_update(int64_t position) {
  if (!progress_active || position < 0) return 0;
  // The k-th mark is due when the position reaches k * total / 57; computed in integers so the
  // last mark is drawn exactly at the end of the input.
  // A total of 0 has no parts: the whole bar is due at once. A refused negative total leaves a
  // running meter with no mark ever due.
  int64_t target = progress_total < 0 ? 0 : PROGRESS_MARKS;
  if (progress_total > 0 && position < progress_total) {
    if (position <= INT64_MAX / PROGRESS_MARKS)
      target = position * PROGRESS_MARKS / progress_total;
    else  // beyond any real file size; an approximation cannot overflow
      target = static_cast<int64_t>(static_cast<double>(position) / static_cast<double>(progress_total) * PROGRESS_MARKS);
  }
  while (marks_shown < target) {
    ++marks_shown;
    std::fputs("|", consoleStream());
    std::fflush(consoleStream());
  }
  return 1;
}
