// StreamingDecoderWorkers: the helper threads of a streaming decoder that
// decodes several records at once. run() gives job j of a batch to helper
// j-1 and job 0 to the calling thread, and returns when every job is done;
// nothing is shared between the jobs but what the caller set up for them.
// Where the platform has no threads (a WebAssembly build without them) or
// refuses to start more, fewer helpers run and threads() says how many jobs
// a batch may hold.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orv {

class StreamingDecoderWorkers {
public:
    // Starts up to _threads - 1 helpers.
    explicit StreamingDecoderWorkers(int _threads);
    ~StreamingDecoderWorkers();
    StreamingDecoderWorkers(const StreamingDecoderWorkers&) = delete;
    StreamingDecoderWorkers& operator=(const StreamingDecoderWorkers&) = delete;

    // The calling thread and the helpers that started.
    int threads() const { return 1 + static_cast<int>(helpers_.size()); }

    // Runs _job(0) .. _job(_jobs - 1), at most threads() of them. What a job
    // throws is kept in _errors[j] (resized to _jobs; null when it returned).
    void run(int _jobs, const std::function<void(int)>& _job, std::vector<std::exception_ptr>& _errors);

private:
    void helperLoop(int _index);

    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable started_, finished_;
    // The batch being run: every helper with a job of it works once per
    // generation.
    const std::function<void(int)>* job_ = nullptr;
    std::vector<std::exception_ptr>* errors_ = nullptr;
    int jobs_ = 0, pending_ = 0;
    uint64_t generation_ = 0;
    bool stopping_ = false;
};

}  // namespace orv
