#ifndef QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_
#define QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <vector>

#include "analytics/sdk/staging_store.h"
#include "analytics/sdk/uploader.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace analytics {

// The SDK's one background thread: drives the uploader over the staging
// store (flush rounds), trims the store and stages the records that waited
// in memory, so that no caller waits for the network or the file.
//
// Flush requests that arrive while no round runs share the next round; a
// request that arrives during a round gets the result of a round that starts
// after it. Each request's callback is called exactly once: on the worker
// thread with the round's result, or with false on the thread that calls
// Stop, or at once with false once Stop was called. Nothing a callback
// throws leaves it.
class FlushWorker {
 public:
  using Done = std::function<void(bool flushed)>;

  // A round may take at most |budget|. |store| and |uploader| must outlive
  // the worker.
  FlushWorker(StagingStore& store, Uploader& uploader,
              std::chrono::milliseconds budget);
  ~FlushWorker();
  FlushWorker(const FlushWorker&) = delete;
  FlushWorker& operator=(const FlushWorker&) = delete;

  // Starts the thread if it is not running. May throw std::system_error
  // when no thread can be made; |done| is then not kept.
  void RequestFlush(Done done);
  void RequestCompaction();
  // Stages the store's backlog as soon as the file can be had.
  void RequestDrain();

  // Cuts a running upload off, answers every waiting request with false,
  // ends the thread and makes a last short attempt to stage the backlog;
  // returns within about 100 ms, whatever another process holds. Final:
  // later flush requests are answered false at once.
  void Stop();

 private:
  enum class Task { kNone, kFlush, kCompact, kDrain };

  void EnsureThread() QUILLON_REQUIRES(mutex_);
  void Run();
  // The next task, waiting for one; kNone when stopping.
  Task NextTask(std::vector<Done>* callers);
  // Stages the backlog; asks for another try later when it could not.
  void Drain();
  // Waits |ms| unless a stop comes first; false when stopped.
  bool Wait(long ms);
  static void Answer(std::vector<Done>* callers, bool flushed);

  StagingStore& store_;
  Uploader& uploader_;
  const std::chrono::milliseconds budget_;
  platform::Mutex mutex_;
  std::condition_variable_any wake_;
  std::vector<Done> waiting_ QUILLON_GUARDED_BY(mutex_);
  bool compaction_wanted_ QUILLON_GUARDED_BY(mutex_) = false;
  bool drain_wanted_ QUILLON_GUARDED_BY(mutex_) = false;
  // When the next drain is due (a failed one waits a little).
  std::chrono::steady_clock::time_point drain_due_ QUILLON_GUARDED_BY(mutex_);
  bool stopping_ QUILLON_GUARDED_BY(mutex_) = false;
  bool stopped_ QUILLON_GUARDED_BY(mutex_) = false;
  std::atomic<bool> abort_{false};
  std::thread thread_ QUILLON_GUARDED_BY(mutex_);
};

}  // namespace analytics

#endif  // QUILLON_ANALYTICS_SDK_FLUSH_WORKER_H_
