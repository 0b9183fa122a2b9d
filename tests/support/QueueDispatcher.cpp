#include "tests/support/QueueDispatcher.h"

#include <chrono>

void QueueDispatcher::RunBlocking(const std::function<void()>& f) {
    bool done = false;
    Post([&] {
        f();
        std::lock_guard<std::mutex> lock(mutex_);
        done = true;
        ran_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    ran_.wait(lock, [&] { return done; });
}

void QueueDispatcher::Post(std::function<void()> f) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(f));
    queued_.notify_all();
}

void QueueDispatcher::ServePending(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!queued_.wait_until(lock, until, [&] { return !queue_.empty(); })) return;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        next();
    }
}

std::size_t QueueDispatcher::Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}
