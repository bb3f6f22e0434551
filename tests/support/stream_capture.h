// Collects what the code under test writes to std::cout and std::cerr, so that
// tests can check its diagnostic lines.
#ifndef QUILLON_TESTS_SUPPORT_STREAM_CAPTURE_H_
#define QUILLON_TESTS_SUPPORT_STREAM_CAPTURE_H_

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

// Redirects std::cout and std::cerr into strings while it lives.
class StreamCapture {
 public:
  StreamCapture()
      : old_out_(std::cout.rdbuf(out_.rdbuf())),
        old_err_(std::cerr.rdbuf(err_.rdbuf())) {}
  ~StreamCapture() {
    std::cout.rdbuf(old_out_);
    std::cerr.rdbuf(old_err_);
  }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }

  // The standard error text split at line feeds.
  std::vector<std::string> err_lines() const {
    std::vector<std::string> lines;
    std::istringstream text(err_.str());
    for (std::string line; std::getline(text, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  void Clear() {
    out_.str(std::string());
    err_.str(std::string());
  }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

}  // namespace test_support

#endif  // QUILLON_TESTS_SUPPORT_STREAM_CAPTURE_H_
