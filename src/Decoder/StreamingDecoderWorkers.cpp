// The helper threads: each waits for the next batch, runs its job of it if
// the batch has one, and reports back; the destructor stops them.
#include "Decoder/StreamingDecoderWorkers.h"

#include <system_error>

#include "Common/Check.h"

namespace orv {

namespace {

// Emscripten without -pthread links a std::thread that cannot start.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kThreadsAvailable = false;
#else
constexpr bool kThreadsAvailable = true;
#endif

void runJob(const std::function<void(int)>& _job, int _j, std::exception_ptr& _error) {
    try {
        _job(_j);
    } catch (...) {
        _error = std::current_exception();
    }
}

}  // namespace

StreamingDecoderWorkers::StreamingDecoderWorkers(int _threads) {
    if (!kThreadsAvailable) return;
    for (int i = 0; i + 1 < _threads; ++i) {
        try {
            helpers_.emplace_back([this, i] { helperLoop(i); });
        } catch (const std::system_error&) {
            break;  // the system has no more threads to give: decode with those started
        }
    }
}

StreamingDecoderWorkers::~StreamingDecoderWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    started_.notify_all();
    for (std::thread& t : helpers_) t.join();
}

void StreamingDecoderWorkers::run(int _jobs, const std::function<void(int)>& _job,
                                  std::vector<std::exception_ptr>& _errors) {
    ORV_CHECK(1<=_jobs && _jobs<=threads(), "Decoder/StreamingDecoderWorkers");
    _errors.assign(static_cast<size_t>(_jobs), nullptr);
    if (_jobs > 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &_job;
        errors_ = &_errors;
        jobs_ = _jobs;
        pending_ = _jobs - 1;
        ++generation_;
    }
    if (_jobs > 1) started_.notify_all();
    runJob(_job, 0, _errors[0]);
    if (_jobs > 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return pending_ == 0; });
        job_ = nullptr;
        errors_ = nullptr;
    }
}

void StreamingDecoderWorkers::helperLoop(int _index) {
    uint64_t seen = 0;
    const int j = _index + 1;
    for (;;) {
        const std::function<void(int)>* job;
        std::exception_ptr* error;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            started_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (j >= jobs_) continue;
            job = job_;
            error = &(*errors_)[static_cast<size_t>(j)];
        }
        runJob(*job, j, *error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --pending_;
        }
        finished_.notify_one();
    }
}

}  // namespace orv
