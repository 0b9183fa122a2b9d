#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "worker/UiDispatcher.h"

// A session's UI thread without a toolkit: the thread that made the dispatcher. Other
// threads' calls wait in a queue until ServePending runs them there, so a test decides
// when a worker's call reaches the view, or that it never does.
class QueueDispatcher : public UiDispatcher {
public:
    bool OnUiThread() const override { return std::this_thread::get_id() == ui_; }
    void RunBlocking(const std::function<void()>& f) override;
    void Post(std::function<void()> f) override;
    void ServePending(int ms) override;
    // How many calls wait to be served.
    std::size_t Waiting();

private:
    const std::thread::id ui_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable ran_;
    std::deque<std::function<void()>> queue_;
};
