#include "analytics/sdk/flush_worker.h"

#include <exception>
#include <iostream>
#include <utility>

namespace analytics {

FlushWorker::FlushWorker(Round round, Compaction compact,
                         std::chrono::milliseconds budget)
    : round_(std::move(round)), compact_(std::move(compact)), budget_(budget) {}

FlushWorker::~FlushWorker() { Stop(); }

void FlushWorker::EnsureThread() {
  if (!thread_.joinable()) thread_ = std::thread(&FlushWorker::Run, this);
}

void FlushWorker::RequestFlush(Done done) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    EnsureThread();
    waiting_.push_back(std::move(done));
  }
  wake_.notify_all();
}

void FlushWorker::RequestCompaction() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    EnsureThread();
    compaction_wanted_ = true;
  }
  wake_.notify_all();
}

void FlushWorker::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
    abort_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  thread.join();
  std::vector<Done> unanswered;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    unanswered.swap(waiting_);
    compaction_wanted_ = false;
    stopping_ = false;
    abort_ = false;
  }
  for (Done& done : unanswered) done(false);
}

bool FlushWorker::Wait(long ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return stopping_; });
}

void FlushWorker::Run() {
  FlushControl control;
  control.abort = &abort_;
  control.wait = [this](long ms) { return Wait(ms); };
  for (;;) {
    std::vector<Done> callers;
    bool compact = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] {
        return stopping_ || compaction_wanted_ || !waiting_.empty();
      });
      if (stopping_) return;
      compact = compaction_wanted_;
      compaction_wanted_ = false;
      if (!compact) callers.swap(waiting_);
    }
    // Nothing may escape a thread; a failure is a failed round.
    bool flushed = false;
    try {
      if (compact) {
        compact_(&abort_);
        continue;
      }
      control.deadline = std::chrono::steady_clock::now() + budget_;
      flushed = round_(control);
    } catch (const std::exception& error) {
      std::cerr << "Analytics SDK flush failed: " << error.what() << std::endl;
    } catch (...) {
      std::cerr << "Analytics SDK flush failed" << std::endl;
    }
    for (Done& done : callers) done(flushed);
  }
}

}  // namespace analytics
