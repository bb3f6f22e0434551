#include "analytics/sdk/flush_worker.h"

#include <exception>
#include <iostream>
#include <utility>

namespace analytics {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kFlushBatchLimit = 30;
// A drain that could not finish is tried again after this long.
constexpr auto kDrainRetry = std::chrono::milliseconds(250);
// The drain's own wait for the file, and the last one's when stopping.
constexpr int kDrainPatienceMs = 1000;
constexpr int kLastDrainPatienceMs = 40;

}  // namespace

FlushWorker::FlushWorker(StagingStore& store, Uploader& uploader,
                         std::chrono::milliseconds budget)
    : store_(store), uploader_(uploader), budget_(budget) {}

FlushWorker::~FlushWorker() { Stop(); }

void FlushWorker::EnsureThread() {
  if (!thread_.joinable()) thread_ = std::thread(&FlushWorker::Run, this);
}

void FlushWorker::RequestFlush(Done done) {
  {
    platform::MutexLock guard(mutex_);
    if (!stopped_ && !stopping_) {
      EnsureThread();
      waiting_.push_back(std::move(done));
      done = nullptr;
    }
  }
  if (done) {
    std::vector<Done> refused{std::move(done)};
    Answer(&refused, false);
    return;
  }
  wake_.notify_all();
}

void FlushWorker::RequestCompaction() {
  {
    platform::MutexLock guard(mutex_);
    if (stopped_ || stopping_) return;
    EnsureThread();
    compaction_wanted_ = true;
  }
  wake_.notify_all();
}

void FlushWorker::RequestDrain() {
  {
    platform::MutexLock guard(mutex_);
    if (stopped_ || stopping_ || drain_wanted_) return;
    EnsureThread();
    drain_wanted_ = true;
    drain_due_ = Clock::now();
  }
  wake_.notify_all();
}

void FlushWorker::Stop() {
  std::thread thread;
  {
    platform::MutexLock guard(mutex_);
    if (stopped_) return;
    stopping_ = true;
    abort_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
  std::vector<Done> unanswered;
  {
    platform::MutexLock guard(mutex_);
    unanswered.swap(waiting_);
    stopped_ = true;
  }
  Answer(&unanswered, false);
  // The window is closing: one short try for what waits in memory.
  store_.DrainBacklog(Patience{kLastDrainPatienceMs, nullptr});
  const size_t lost = store_.BacklogLength();
  if (lost != 0) {
    std::cerr << "Analytics SDK lost " << lost
              << " records it could not stage before closing" << std::endl;
  }
}

void FlushWorker::Answer(std::vector<Done>* callers, bool flushed) {
  for (Done& done : *callers) {
    // A caller's failure must not end the thread, nor skip the others.
    try {
      done(flushed);
    } catch (const std::exception& error) {
      std::cerr << "Analytics SDK flush answer failed: " << error.what()
                << std::endl;
    } catch (...) {
      std::cerr << "Analytics SDK flush answer failed" << std::endl;
    }
  }
  callers->clear();
}

bool FlushWorker::Wait(long ms) {
  platform::MutexLock guard(mutex_);
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopping_ &&
         wake_.wait_until(mutex_, until) == std::cv_status::no_timeout) {
  }
  return !stopping_;
}

FlushWorker::Task FlushWorker::NextTask(std::vector<Done>* callers) {
  platform::MutexLock guard(mutex_);
  for (;;) {
    if (stopping_) return Task::kNone;
    if (compaction_wanted_) {
      compaction_wanted_ = false;
      return Task::kCompact;
    }
    if (!waiting_.empty()) {
      callers->swap(waiting_);
      return Task::kFlush;
    }
    if (drain_wanted_ && Clock::now() >= drain_due_) {
      drain_wanted_ = false;
      return Task::kDrain;
    }
    if (drain_wanted_) {
      wake_.wait_until(mutex_, drain_due_);
    } else {
      wake_.wait(mutex_);
    }
  }
}

void FlushWorker::Drain() {
  if (store_.DrainBacklog(Patience{kDrainPatienceMs, &abort_}).done()) return;
  platform::MutexLock guard(mutex_);
  drain_wanted_ = true;
  drain_due_ = Clock::now() + kDrainRetry;
}

void FlushWorker::Run() {
  FlushControl control;
  control.abort = &abort_;
  control.wait = [this](long ms) { return Wait(ms); };
  for (;;) {
    std::vector<Done> callers;
    const Task task = NextTask(&callers);
    if (task == Task::kNone) return;
    // Nothing may escape a thread; a failure is a failed round.
    bool flushed = false;
    try {
      if (task == Task::kCompact) {
        store_.Compact(&abort_);
      } else if (task == Task::kDrain) {
        Drain();
      } else {
        control.deadline = Clock::now() + budget_;
        flushed = uploader_.DeliverRound(store_, kFlushBatchLimit, control);
        // A round stages the backlog first; what came since waits its turn.
        if (store_.BacklogLength() != 0) RequestDrain();
      }
    } catch (const std::exception& error) {
      std::cerr << "Analytics SDK flush failed: " << error.what() << std::endl;
    } catch (...) {
      std::cerr << "Analytics SDK flush failed" << std::endl;
    }
    Answer(&callers, flushed);
  }
}

}  // namespace analytics
