// Helpers of every test: files, a scratch folder, the program run from a shell, generated and real files.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

struct Result { int status = -1; std::string out, err; };

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
inline bool exists(const std::string& path) { struct stat st {}; return ::stat(path.c_str(), &st) == 0; }
inline std::string quote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
inline std::string padded(std::string text, std::size_t width) { return text.size() < width ? text.append(width - text.size(), ' ') : text; }
// printf into a string of whatever length the text takes.
template <class... Args> std::string format(const char* pattern, Args... args) {
  std::string text(static_cast<std::size_t>(std::snprintf(nullptr, 0, pattern, args...)), '\0');
  std::snprintf(text.data(), text.size() + 1, pattern, args...);
  return text;
}
inline std::vector<std::string> splitLines(const std::string& text) {  // without line ends (LF, CR LF); a last line without one counts
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line); lines.push_back(line))
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

// A fresh folder, removed at the end.
class Scratch {
  std::string dir_;
 public:
  Scratch() {
    char pattern[] = "/tmp/epofill-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
  }
  ~Scratch() { std::system(("rm -rf " + quote(dir_)).c_str()); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }
};

// Runs a shell command in the folder, standard input from /dev/null.
inline Result runShell(const std::string& dir, const std::string& command) {
  const std::string out = dir + "/.stdout", err = dir + "/.stderr";
  const int raw = std::system(("cd " + quote(dir) + " && { " + command + "\n} </dev/null >" + quote(out) + " 2>" + quote(err)).c_str());
  Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
  std::remove(out.c_str()), std::remove(err.c_str());
  return r;
}
inline Result runEpofill(const std::string& dir, std::initializer_list<std::string> args) {
  std::string command = quote(EPOFILL_BINARY);
  for (const std::string& a : args) command += " " + quote(a);
  return runShell(dir, command);
}

inline std::string sourcePath(const std::string& relative) { return std::string(EPOFILL_SOURCE_DIR) + "/" + relative; }
// A synthetic observation file from tools/gen_rinex.py.
inline std::string generate(const std::string& options) {
  Scratch scratch;
  return runShell(scratch.dir(), "python3 " + quote(sourcePath("tools/gen_rinex.py")) + " " + options).out;
}
// A shell prefix that preloads a shared object built from C source into the command after it: faults for the program alone.
inline std::string withPreload(const std::string& source) {
  return "printf %s " + quote(source) + " >fault.c && cc -shared -fPIC -o fault.so fault.c -ldl"
         " && ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=./fault.so ";
}
// The folder of real observation files beside the repository, or "" when it is absent.
inline std::string sharedDataDir() { return exists(sourcePath("../shared/data/rinex")) ? sourcePath("../shared/data/rinex") : std::string(); }

}  // namespace e2e
