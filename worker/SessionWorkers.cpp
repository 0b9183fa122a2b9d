#include "worker/SessionWorkers.h"

#include <chrono>

SessionWorkers::~SessionWorkers() {
    Close();
    Finish(-1);
}

void SessionWorkers::Start(std::function<void()> body) {
    Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([body = std::move(body), done] {
        struct MarkDone {
            std::atomic<bool>& flag;
            ~MarkDone() { flag.store(true); }
        } mark{*done};
        body();
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
}

void SessionWorkers::Reap() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool SessionWorkers::Running() {
    Reap();
    return !workers_.empty();
}

bool SessionWorkers::Finish(int timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        Reap();
        if (workers_.empty()) return true;
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        if (timeoutMs >= 0 && elapsed >= timeoutMs) return false;
        // Serves the calls the workers wait on; the user's input waits.
        dispatcher_.ServePending(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
