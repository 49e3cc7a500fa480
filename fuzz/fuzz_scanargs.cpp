// The command-line scanner with the program's own option format. The input is split into words
// at blanks, line ends and NUL bytes; they follow the program name in argv.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "scanargs/scanargs.h"

constexpr const char* FORMAT = "-i char; -o char; -s char; -e char; -n long = 5; -t;";  // as the program's entry has it
constexpr int TEXT_OPTIONS = 4;

FUZZ_INITIALIZE(fuzz::quietConsole())  // the scanner has no fatal path

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::bytes(data, size), separators(" \t\n\r\0", 5);
  std::vector<std::string> words{"epofill"};
  for (std::size_t at, end = 0; (at = input.find_first_not_of(separators, end)) != std::string_view::npos;) {
    end = std::min(input.find_first_of(separators, at), input.size());
    words.emplace_back(input.substr(at, end - at));
  }
  // Private copies: the scanner must leave argv as it found it.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& w : words) {
    storage.emplace_back(new char[w.size() + 1]);
    argv.push_back(std::strcpy(storage.back().get(), w.c_str()));
  }
  argv.push_back(nullptr);
  // Each text buffer exactly the size the scanner is promised, so that ASan sees one byte too many.
  int found[TEXT_OPTIONS + 2] = {};
  long increment = 0;
  std::vector<char> text[TEXT_OPTIONS];
  for (auto& t : text) t.assign(SCANARGS_BUFFER_SIZE, '#');
  const int result = scanargs(static_cast<int>(words.size()), argv.data(), FORMAT, &found[0], text[0].data(),
                              &found[1], text[1].data(), &found[2], text[2].data(), &found[3], text[3].data(),
                              &found[4], &increment, &found[5]);
  for (std::size_t k = 0; k < words.size(); ++k) FUZZ_CHECK(argv[k] == storage[k].get() && words[k] == argv[k]);
  FUZZ_CHECK(argv.back() == nullptr);
  FUZZ_CHECK(result >= -1 && result <= TEXT_OPTIONS + 2);
  if (result == -1) return 0;
  for (int k = 0; k < TEXT_OPTIONS; ++k) FUZZ_CHECK(!found[k] || std::memchr(text[k].data(), '\0', text[k].size()));
  FUZZ_CHECK(found[4] || increment == 5);
  return 0;
}
