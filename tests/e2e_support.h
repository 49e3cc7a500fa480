// Runs the built program in a scratch folder and captures what it prints.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

inline std::string quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A fresh folder per test, removed at the end.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/epofill-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    dir_ = made != nullptr ? made : "/tmp";
  }
  ~Scratch() { std::system(("rm -rf " + quote(dir_)).c_str()); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// Runs a shell command in the folder, standard input from /dev/null.
inline Result runShell(const std::string& dir, const std::string& command) {
  Result r;
  std::string out = dir + "/.stdout", err = dir + "/.stderr";
  std::string line = "cd " + quote(dir) + " && " + command + " </dev/null >" + quote(out) + " 2>" + quote(err);
  int raw = std::system(line.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile(out);
  r.err = readFile(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

// Runs epofill with these arguments in the folder.
inline Result runEpofill(const std::string& dir, std::initializer_list<std::string> args) {
  std::string command = quote(EPOFILL_BINARY);
  for (const std::string& a : args) command += " " + quote(a);
  return runShell(dir, command);
}

// A synthetic observation file from the repository's generator.
inline std::string generate(const std::string& options) {
  std::string command = "python3 " + quote(std::string(EPOFILL_SOURCE_DIR) + "/tools/gen_rinex.py") + " " + options;
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

// A shell prefix that builds a shared object from C source in the current folder and preloads it
// into the command that follows: file-system faults faked for the program alone.
inline std::string withPreload(const std::string& source) {
  return "printf %s " + quote(source) + " >fault.c && cc -shared -fPIC -o fault.so fault.c -ldl"
         " && ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=./fault.so ";
}

inline std::string sourcePath(const std::string& relative) { return std::string(EPOFILL_SOURCE_DIR) + "/" + relative; }

// The folder of real observation files beside the repository, or "" when it is absent.
inline std::string sharedDataDir() {
  std::string dir = std::string(EPOFILL_SOURCE_DIR) + "/../shared/data/rinex";
  return exists(dir) ? dir : std::string();
}

}  // namespace e2e
