// The server's threads: each connection is served by a thread of its own,
// started when a connection comes and no thread is free, kept a while once
// idle, up to a limit; their stacks are small, so the hundreds that idle
// browsers and kept-alive connections hold cost a few megabytes, and no
// request waits behind another's idle connection.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class Workers final : public httplib::TaskQueue {
public:
    explicit Workers(std::size_t most);
    ~Workers() override;

    void enqueue(std::function<void()> job) override;
    // Ends once every thread has finished its job.
    void shutdown() override;

private:
    static void *start(void *self);
    void run();

    const std::size_t most_;
    std::mutex mutex_;
    std::condition_variable work_, ended_;
    std::deque<std::function<void()>> jobs_;
    std::size_t threads_ = 0, idle_ = 0;
    bool stopping_ = false;
};
