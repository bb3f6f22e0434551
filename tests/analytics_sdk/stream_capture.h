#ifndef TESTS_ANALYTICS_SDK_STREAM_CAPTURE_H_
#define TESTS_ANALYTICS_SDK_STREAM_CAPTURE_H_

#include <iostream>
#include <sstream>
#include <string>

namespace analytics {

// Collects what is written to std::cout and std::cerr while it lives.
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

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

}  // namespace analytics

#endif  // TESTS_ANALYTICS_SDK_STREAM_CAPTURE_H_
