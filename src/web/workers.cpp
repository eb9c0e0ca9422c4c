#include "web/workers.h"

#include <pthread.h>

#include <chrono>
#include <cstdio>

namespace {

// Room for the request's handler, libpq, TLS and the page's JSON, which
// are built on the heap.
constexpr std::size_t stackBytes = 512 * 1024;
constexpr auto idleLife = std::chrono::seconds(30);

} // namespace

Workers::Workers(std::size_t most) : most_(most) {}

Workers::~Workers() { shutdown(); }

void *Workers::start(void *self)
{
    static_cast<Workers *>(self)->run();
    return nullptr;
}

void Workers::enqueue(std::function<void()> job)
{
    std::unique_lock lock(mutex_);
    jobs_.push_back(std::move(job));
    if (jobs_.size() <= idle_) {
        work_.notify_one();
        return;
    }
    if (threads_ >= most_)
        return; // the job waits for the first thread that is done
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attr, &Workers::start, this) == 0)
        ++threads_;
    else
        std::fputs("climalog-web: no se puede crear otro hilo; la petición espera a uno libre.\n",
                   stderr);
    pthread_attr_destroy(&attr);
}

void Workers::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        const bool got =
            work_.wait_for(lock, idleLife, [this] { return stopping_ || !jobs_.empty(); });
        --idle_;
        if (!got || jobs_.empty())
            break;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    if (--threads_ == 0)
        ended_.notify_all();
}

void Workers::shutdown()
{
    std::unique_lock lock(mutex_);
    stopping_ = true;
    work_.notify_all();
    ended_.wait(lock, [this] { return threads_ == 0; });
}
