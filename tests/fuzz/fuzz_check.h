// What the fuzz targets share: a check that stops the run on a broken rule,
// and quiet standard streams (the code under test reports every refusal on a
// line; the checks are what count).
#ifndef QUILLON_TESTS_FUZZ_FUZZ_CHECK_H_
#define QUILLON_TESTS_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace fuzz {

inline void Check(bool condition, const char* rule,
                  const std::string& detail = std::string()) {
  if (!condition) {
    std::fprintf(stderr, "broken rule: %s %s\n", rule, detail.c_str());
    std::abort();
  }
}

inline void QuietStandardStreams() {
  std::cerr.rdbuf(nullptr);
  std::cout.rdbuf(nullptr);
}

}  // namespace fuzz

#endif  // QUILLON_TESTS_FUZZ_FUZZ_CHECK_H_
