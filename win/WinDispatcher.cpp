#include "win/WinDispatcher.h"

#include <chrono>
#include <utility>

WinDispatcher::WinDispatcher() : ui_(std::this_thread::get_id()) {}

void WinDispatcher::SetWindow(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    // Work posted before the window existed is served by its first message.
    if (window_ != nullptr && !queue_.empty()) PostMessageW(window_, kDispatchMessage, 0, 0);
}

bool WinDispatcher::OnUiThread() const { return std::this_thread::get_id() == ui_; }

void WinDispatcher::RunBlocking(const std::function<void()>& f) {
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    Post([&] {
        f();
        std::lock_guard lock(doneMutex);
        done = true;
        doneChanged.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

void WinDispatcher::Post(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(f));
    arrived_.notify_all();
    if (window_ != nullptr) PostMessageW(window_, kDispatchMessage, 0, 0);
}

void WinDispatcher::Serve() {
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        next();
    }
}

// Only the queue is served: the user's input and every other message wait in the
// thread's message queue.
void WinDispatcher::ServePending(int ms) {
    Serve();
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty(); });
    lock.unlock();
    Serve();
}
