// The command-line scanner with the program's own option format. The input is split into words
// at blanks, line ends and NUL bytes; they follow the program name in argv.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "scanargs/scanargs.h"

namespace {

// As the program's entry passes it.
constexpr const char* OPTION_FORMAT = "-i char; -o char; -s char; -e char; -n long = 5; -t;";
constexpr int TEXT_OPTIONS = 4;

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

struct Outcome {
  int result = 0;
  int found[TEXT_OPTIONS + 2] = {};
  long increment = 0;
  // Exactly the size the scanner is promised, so that ASan sees one byte too many.
  std::unique_ptr<char[]> text[TEXT_OPTIONS];

  Outcome() {
    for (auto& t : text) {
      t.reset(new char[SCANARGS_BUFFER_SIZE]);
      std::memset(t.get(), '#', SCANARGS_BUFFER_SIZE);
    }
  }
};

void scan(std::vector<char*>& argv, Outcome& o) {
  o.result = scanargs(static_cast<int>(argv.size()) - 1, argv.data(), OPTION_FORMAT, &o.found[0], o.text[0].get(),
                      &o.found[1], o.text[1].get(), &o.found[2], o.text[2].get(), &o.found[3], o.text[3].get(),
                      &o.found[4], &o.increment, &o.found[5]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietConsole();  // the scanner has no fatal path
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::bytes(data, size);
  std::vector<std::string> words{"epofill"};
  for (std::size_t at = 0; at < input.size();) {
    while (at < input.size() && isSeparator(input[at])) ++at;
    std::size_t end = at;
    while (end < input.size() && !isSeparator(input[end])) ++end;
    if (end > at) words.emplace_back(input.substr(at, end - at));
    at = end;
  }
  // Private copies: the scanner must leave argv as it found it.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& w : words) {
    storage.emplace_back(new char[w.size() + 1]);
    std::memcpy(storage.back().get(), w.c_str(), w.size() + 1);
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);

  Outcome o;
  scan(argv, o);
  for (std::size_t k = 0; k < words.size(); ++k) FUZZ_CHECK(argv[k] == storage[k].get() && words[k] == argv[k]);
  FUZZ_CHECK(argv.back() == nullptr);
  FUZZ_CHECK(o.result >= -1 && o.result <= TEXT_OPTIONS + 2);
  if (o.result == -1) return 0;
  for (int k = 0; k < TEXT_OPTIONS; ++k)
    FUZZ_CHECK(!o.found[k] || std::memchr(o.text[k].get(), '\0', SCANARGS_BUFFER_SIZE) != nullptr);
  FUZZ_CHECK(o.found[4] || o.increment == 5);
  return 0;
}
