#include "scanargs/scanargs.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

__attribute__((format(printf, 1, 2))) void scan_trace(const char* format, ...);

int scanargs_trace = 0;

namespace {

constexpr std::size_t GROUP_SIZE = 129;   // a group of 128 characters and the terminator
constexpr std::size_t FORMAT_SIZE = 128;  // a format of 127 characters and the terminator

// One ';'-ended group of the format. Every text field holds any token of `temp`.
struct ParamGroup {
  char opt_code[GROUP_SIZE];
  char type[GROUP_SIZE];
  char deflt[GROUP_SIZE];
  int* found_ptr;
  char* char_ptr;
  long* long_ptr;
};

// The words still to be taken; a taken word's slot is set to null, argv itself is never touched.
std::vector<char*> dup_argv;
int dup_argc = 0;
char temp[GROUP_SIZE];
char arg_buf[SCANARGS_BUFFER_SIZE];

__attribute__((format(printf, 2, 3))) void report(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stream);
}

bool is_delimiter(char c, const char* delimiters) {
  return c != '\0' && delimiters != nullptr && std::strchr(delimiters, c) != nullptr;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Like atol, but saturating instead of overflowing.
long to_long(const char* text) { return std::strtol(text, nullptr, 10); }

// Trace of a possibly unterminated caller buffer: never read past its declared size.
constexpr int BUFFER_TEXT_MAX = static_cast<int>(SCANARGS_BUFFER_SIZE - 1);

void trace_group(int index, const ParamGroup& group) {
  scan_trace(
      "\n(scanargs) param_group[%d].opt_code: %5s\n"
      "                             .type: %5s \n"
      "                            .deflt: %-10s ",
      index, group.opt_code, group.type, group.deflt);
}

int scan(int argc, char** argv, const char* format, va_list pointers) {
  dup_argc = (argv != nullptr && argc > 1) ? argc - 1 : 0;
  dup_argv.assign(argv == nullptr ? nullptr : argv + 1, argv == nullptr ? nullptr : argv + 1 + dup_argc);
  scan_trace("\n(scanargs) dup_argv[%d]:", dup_argc);
  for (const char* word : dup_argv) scan_trace(" %s", word != nullptr ? word : "");

  if (format == nullptr) return -1;
  const std::size_t format_length = std::strlen(format);
  if (format_length >= FORMAT_SIZE) return -1;
  int param_count = 0;
  for (const char* c = format; *c != '\0'; ++c) {
    if (*c == ';') ++param_count;
  }
  std::vector<ParamGroup> param_group(static_cast<std::size_t>(param_count), ParamGroup{});
  char working_fmt[FORMAT_SIZE];
  std::memcpy(working_fmt, format, format_length + 1);
  scan_trace("\n(scanargs) working_fmt: %s param_count: %d", working_fmt, param_count);

  for (int i = 0; i < param_count; ++i) {
    const char* group_start = working_fmt + std::strspn(working_fmt, ";");
    if (std::strcspn(group_start, ";") >= sizeof temp) return -1;
    if (next_token(temp, working_fmt, ";") == 0) break;
    scan_trace("\n(scanargs) temp: %s ", temp);
    trim_blanks(temp);
    scan_trace("\n(scanargs) trimmed temp: %s ", temp);

    ParamGroup& group = param_group[static_cast<std::size_t>(i)];
    if (temp[0] == '-') {
      next_token(group.opt_code, temp, " =");
      group.found_ptr = va_arg(pointers, int*);
      *group.found_ptr = 0;
    }
    next_token(group.type, temp, " =");
    next_token(group.deflt, temp, " =");
    if (std::strcmp(group.type, "char") == 0) {
      group.char_ptr = va_arg(pointers, char*);
    } else if (std::strcmp(group.type, "long") == 0) {
      group.long_ptr = va_arg(pointers, long*);
    }
  }

  // Options first, so that a positional parameter never takes an option's value.
  int found_count = 0;
  for (int i = 0; i < param_count; ++i) {
    const ParamGroup& group = param_group[static_cast<std::size_t>(i)];
    if (group.opt_code[0] != '-') continue;
    trace_group(i, group);
    int result;
    if (std::strcmp(group.type, "char") == 0) {
      result = getarg(group.char_ptr, group.type, group.opt_code);
      if (result != -1) *group.found_ptr = result;
      scan_trace("\n                         .char_ptr: %-.*s", BUFFER_TEXT_MAX, group.char_ptr);
    } else if (std::strcmp(group.type, "long") == 0) {
      result = getarg(arg_buf, group.type, group.opt_code);
      if (result != -1) *group.found_ptr = result;
      *group.long_ptr = to_long(*group.found_ptr != 0 ? arg_buf : group.deflt);
    } else if (group.type[0] == '\0') {
      result = getarg(arg_buf, "", group.opt_code);
      if (result != -1) *group.found_ptr = result;
      scan_trace("\nno argument for option");
    } else {
      report(stderr, "\n ERROR : Invalid parameter type: %s\n", group.type);
      result = -1;
    }
    if (result == -1) return -1;
    if (*group.found_ptr != 0) ++found_count;
  }

  for (int i = 0; i < param_count; ++i) {
    const ParamGroup& group = param_group[static_cast<std::size_t>(i)];
    if (group.opt_code[0] == '-') continue;
    trace_group(i, group);
    int found;
    if (std::strcmp(group.type, "char") == 0) {
      found = getarg(arg_buf, group.type, nullptr);
      if (found == -1) return -1;
      std::strcpy(group.char_ptr, found != 0 ? arg_buf : group.deflt);
      scan_trace(".char_ptr: %-s", group.char_ptr);
    } else if (std::strcmp(group.type, "long") == 0) {
      found = getarg(arg_buf, group.type, nullptr);
      *group.long_ptr = to_long(found == 1 ? arg_buf : group.deflt);
      if (found == -1) return -1;
      scan_trace(".long_ptr: %-ld", *group.long_ptr);
    } else {
      report(stderr, "\n ERROR : Invalid parameter type: %s\n", group.type);
      return -1;
    }
    if (found != 0) ++found_count;
  }

  for (const char* word : dup_argv) {
    if (word != nullptr) {
      report(stdout, "\n ERROR : Bad parameter on command line: %s\n", word);
      return -1;
    }
  }
  return found_count;
}

}  // namespace

void scan_trace(const char* format, ...) {
  if (scanargs_trace == 0) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

char next_token(char* dest, char* source, const char* delimiters) {
  const char* start = source;
  while (is_delimiter(*start, delimiters)) ++start;
  const char* end = start;
  while (*end != '\0' && !is_delimiter(*end, delimiters)) ++end;
  const std::size_t length = static_cast<std::size_t>(end - start);
  std::memmove(dest, start, length);
  dest[length] = '\0';

  const char found = *end;
  const char* rest = found != '\0' ? end + 1 : end;
  std::memmove(source, rest, std::strlen(rest) + 1);
  return found;
}

int trim_blanks(char* text) {
  if (text == nullptr) return 0;
  const char* first = text;
  while (is_blank(*first)) ++first;
  const char* last = first + std::strlen(first);
  while (last > first && is_blank(last[-1])) --last;
  const std::size_t length = static_cast<std::size_t>(last - first);
  std::memmove(text, first, length);
  text[length] = '\0';
  return static_cast<int>(length);
}

int getarg(char* dest, const char* type, const char* option) {
  int slot = 0;
  for (; slot < dup_argc; ++slot) {
    const char* word = dup_argv[static_cast<std::size_t>(slot)];
    if (word == nullptr) continue;
    if (option != nullptr ? std::strcmp(word, option) == 0 : word[0] != '-') break;
  }
  if (slot >= dup_argc) return 0;

  int taken = slot;
  if (option != nullptr && type != nullptr && type[0] != '\0') {
    // A slot cleared by an earlier group counts as a missing argument.
    const char* next = slot + 1 < dup_argc ? dup_argv[static_cast<std::size_t>(slot + 1)] : nullptr;
    // A negative number is a value, and so is a lone "-" (standard input or output by convention).
    const bool is_value = next != nullptr && (next[0] != '-' || next[1] == '\0' ||
                                              std::isdigit(static_cast<unsigned char>(next[1])) != 0);
    if (!is_value) {
      report(stderr, "\n ERROR : Option %s has invalid argument: %s\n", option,
             next != nullptr ? next : option);
      return -1;
    }
    taken = slot + 1;
  }

  const char* word = dup_argv[static_cast<std::size_t>(taken)];
  const std::size_t length = std::strlen(word);
  if (length >= SCANARGS_BUFFER_SIZE) {
    report(stderr, "\n ERROR : Argument too long for option %s\n",
           option != nullptr ? option : (type != nullptr ? type : ""));
    return -1;
  }
  scan_trace("\n(getarg) dup_argv[%d]: %s", taken, word);
  std::memcpy(dest, word, length + 1);
  dup_argv[static_cast<std::size_t>(slot)] = nullptr;
  dup_argv[static_cast<std::size_t>(taken)] = nullptr;
  return 1;
}

int scanargs(int argc, char** argv, const char* format, ...) {
  va_list pointers;
  va_start(pointers, format);
  int result;
  try {
    result = scan(argc, argv, format, pointers);
  } catch (...) {  // out of memory for the word or group tables
    result = -1;
  }
  va_end(pointers);
  std::vector<char*>().swap(dup_argv);
  dup_argc = 0;
  return result;
}
