// A general command-line scanner driven by a format of ';'-ended groups:
//   "-x char"            option with a text argument   (int* found, char* buffer)
//   "-n long = 5"        option with a number, default (int* found, long* value)
//   "-t"                 flag                          (int* found)
//   "char = abc", "long" positional parameter          (char* buffer | long* value)
// Every character buffer handed to scanargs must hold SCANARGS_BUFFER_SIZE bytes.
// The scanner reports malformed command lines and returns -1; it never ends the process.
#pragma once

#include <cstddef>

constexpr std::size_t SCANARGS_BUFFER_SIZE = 4096;  // 4095 characters and the terminator

int scanargs(int argc, char** argv, const char* format, ...);
int getarg(char* dest, const char* type, const char* option);
char next_token(char* dest, char* source, const char* delimiters);
int trim_blanks(char* text);
void scan_trace(const char* format, ...);

// The trace switch: 0 at start; nonzero makes scan_trace write to standard error.
extern int scanargs_trace;
