// Helpers shared by the embedding tests: stderr capture, reply recording and
// event log queries on the stand-in engine.
#ifndef QUILLON_TESTS_EMBEDDING_EMBEDDING_TEST_SUPPORT_H_
#define QUILLON_TESTS_EMBEDDING_EMBEDDING_TEST_SUPPORT_H_

#include <cstdint>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "standins/engine/standin_control.h"
#include "tests/support/stream_capture.h"

namespace embedding_test {

using StderrCapture = test_support::StreamCapture;

inline int CountOccurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

// Collects the replies the stand-in hands back for delivered messages; the
// callback may run on any thread.
class ReplyRecorder {
 public:
  static void OnReply(const uint8_t* data, size_t size, void* user_data) {
    auto* self = static_cast<ReplyRecorder*>(user_data);
    std::lock_guard<std::mutex> guard(self->mutex_);
    ++self->count_;
    self->null_data_ = data == nullptr;
    self->bytes_.assign(data, data + size);
  }

  int count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return count_;
  }
  std::vector<uint8_t> bytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return bytes_;
  }
  bool null_data() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return null_data_;
  }

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  bool null_data_ = false;
  std::vector<uint8_t> bytes_;
};

// Details of the logged events of |kind| for the engine with |serial| (0: any
// engine), oldest first.
inline std::vector<std::string> EventDetails(int32_t kind, int64_t serial) {
  std::vector<std::string> details;
  const int32_t count = StandinEngineEventCount();
  for (int32_t i = 0; i < count; ++i) {
    StandinEngineEvent event;
    if (StandinEngineGetEvent(i, &event) == 1 && event.kind == kind &&
        (serial == 0 || event.engine_serial == serial)) {
      details.emplace_back(event.detail);
    }
  }
  return details;
}

}  // namespace embedding_test

#endif  // QUILLON_TESTS_EMBEDDING_EMBEDDING_TEST_SUPPORT_H_
