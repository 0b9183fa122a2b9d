#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "session/MainDialogView.h"

// The worker threads of a session: each started on its own, none waited for unless the
// session asks, joined once it has ended. UI thread only.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    void Start(std::function<void()> body);
    bool Running();
    // Waits for them to end while serving their calls on the UI thread (the user's input
    // waits); -1 waits without limit. Returns true when none runs any more.
    bool Finish(UiDispatcher& dispatcher, int timeoutMs);

private:
    void Reap();

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
};
