#ifndef QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_
#define QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "analytics/sdk/staging_store.h"

namespace analytics {

// The SDK's one background thread: runs flush rounds and compactions of the
// staging store, so that no caller waits for the network or the file.
//
// Flush requests that arrive while no round runs share the next round; a
// request that arrives during a round gets the result of a round that starts
// after it. Each request's callback is called exactly once, on the worker
// thread (or on the thread that calls Stop, with false).
class FlushWorker {
 public:
  using Done = std::function<void(bool flushed)>;
  using Round = std::function<bool(const FlushControl&)>;

  // Runs one compaction; stops early when the flag turns true.
  using Compaction = std::function<void(const std::atomic<bool>* abort)>;

  // |round| runs one flush round, |compact| one compaction. A round may take
  // at most |budget|.
  FlushWorker(Round round, Compaction compact,
              std::chrono::milliseconds budget);
  ~FlushWorker();
  FlushWorker(const FlushWorker&) = delete;
  FlushWorker& operator=(const FlushWorker&) = delete;

  // Starts the thread if it is not running. May throw std::system_error
  // when no thread can be made; |done| is then not kept.
  void RequestFlush(Done done);
  void RequestCompaction();

  // Cuts a running upload off, answers every waiting request with false and
  // ends the thread; returns within about the time libcurl takes to notice
  // (50 ms). A later request starts a new thread.
  void Stop();

 private:
  void EnsureThread();  // with mutex_ held
  void Run();
  // Waits |ms| unless a stop comes first; false when stopped.
  bool Wait(long ms);

  const Round round_;
  const Compaction compact_;
  const std::chrono::milliseconds budget_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Done> waiting_;       // guarded by mutex_
  bool compaction_wanted_ = false;  // guarded by mutex_
  bool stopping_ = false;           // guarded by mutex_
  std::atomic<bool> abort_{false};
  std::thread thread_;
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_
