// The frame scheduler: every thread takes the earliest position whose
// references are done, within a window past the earliest unfinished one (so
// the results waiting to be handed on stay few); the calling thread also
// hands on what is finished, in order, between its own frames.
#include "SequenceEncoder/FrameScheduler.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "Common/Check.h"
#include "Decoder/StreamingDecoderWorkers.h"

namespace orv {

namespace {

enum class State : unsigned char { Waiting, Running, Done, Failed };

class Scheduler {
public:
    Scheduler(const std::vector<std::vector<int>>& _deps, int _threads, const std::function<void(int, int)>& _code,
              const std::function<void(int)>& _deliver)
        : deps_(_deps),
          code_(_code),
          deliver_(_deliver),
          count_(static_cast<int>(_deps.size())),
          window_(std::max(64, 8 * _threads)),
          state_(_deps.size(), State::Waiting),
          failure_(_deps.size()),
          stopAt_(count_) {}

    void work(int _w) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (_w == 0) deliverFinished(lock);
            if (firstOpen_ >= stopAt_) break;
            const int p = pick();
            if (p < 0) {
                changed_.wait(lock);
                continue;
            }
            state_[static_cast<size_t>(p)] = State::Running;
            lock.unlock();
            std::exception_ptr error;
            try {
                code_(p, _w);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error) fail(p, error);
            state_[static_cast<size_t>(p)] = error ? State::Failed : State::Done;
            while (firstOpen_ < count_ && state_[static_cast<size_t>(firstOpen_)] == State::Done) ++firstOpen_;
            changed_.notify_all();
        }
        changed_.notify_all();
    }

    // After every thread stopped: what is left to hand on, then the earliest
    // failure.
    void finish() {
        std::unique_lock<std::mutex> lock(mutex_);
        deliverFinished(lock);
        if (deliverError_) std::rethrow_exception(deliverError_);
        if (stopAt_ < count_) std::rethrow_exception(failure_[static_cast<size_t>(stopAt_)]);
        ORV_CHECK(delivered_ == count_, "SequenceEncoder/FrameScheduler");
    }

private:
    // The earliest position that can start now, or -1.
    int pick() const {
        const int end = std::min(stopAt_, firstOpen_ + window_);
        for (int p = firstOpen_; p < end; ++p) {
            if (state_[static_cast<size_t>(p)] != State::Waiting) continue;
            bool ready = true;
            for (int d : deps_[static_cast<size_t>(p)]) ready = ready && state_[static_cast<size_t>(d)] == State::Done;
            if (ready) return p;
        }
        return -1;
    }

    void fail(int _p, std::exception_ptr _error) {
        failure_[static_cast<size_t>(_p)] = std::move(_error);
        stopAt_ = std::min(stopAt_, _p);
    }

    // Hands on the finished positions after the last one handed on, outside
    // the lock (they are done, so no thread writes their results any more).
    void deliverFinished(std::unique_lock<std::mutex>& _lock) {
        const int end = std::min(firstOpen_, stopAt_);
        if (delivered_ >= end || deliverError_) return;
        const int from = delivered_;
        _lock.unlock();
        int p = from;
        std::exception_ptr error;
        try {
            for (; p < end; ++p) deliver_(p);
        } catch (...) {
            error = std::current_exception();
        }
        _lock.lock();
        delivered_ = p;
        if (error) {
            // Positions after p were coded or started, but one thread in
            // order would have stopped here.
            deliverError_ = error;
            stopAt_ = std::min(stopAt_, p);
            changed_.notify_all();
        }
    }

    const std::vector<std::vector<int>>& deps_;
    const std::function<void(int, int)>& code_;
    const std::function<void(int)>& deliver_;
    const int count_, window_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<State> state_;
    std::vector<std::exception_ptr> failure_;
    std::exception_ptr deliverError_;
    int stopAt_;          // no position from here on starts: the earliest failure, or the count
    int firstOpen_ = 0;   // the earliest position not done
    int delivered_ = 0;   // positions handed on (the caller's only)
};

}  // namespace

void runFramesInOrder(const std::vector<std::vector<int>>& _deps, int _threads,
                      const std::function<void(int, int)>& _code, const std::function<void(int)>& _deliver) {
    const int count = static_cast<int>(_deps.size());
    for (int p = 0; p < count; ++p)
        for (int d : _deps[static_cast<size_t>(p)])
            ORV_CHECK(0<=d && d<p, "SequenceEncoder/FrameScheduler");
    if (_threads <= 1 || count <= 1) {
        for (int p = 0; p < count; ++p) {
            _code(p, 0);
            _deliver(p);
        }
        return;
    }
    Scheduler scheduler(_deps, _threads, _code, _deliver);
    StreamingDecoderWorkers workers(std::min(_threads, count));
    std::vector<std::exception_ptr> errors;
    workers.run(workers.threads(), [&](int _w) { scheduler.work(_w); }, errors);
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
    scheduler.finish();
}

}  // namespace orv
