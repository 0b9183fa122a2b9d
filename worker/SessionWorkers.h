#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "worker/UiDispatcher.h"

// The worker threads of a dialog's session, and the way their calls reach the UI thread.
// A worker's call runs on the UI thread and the worker waits for it; once the dialog is
// closed, no call runs any more and a worker gets the default value at once, so a worker
// never waits on a dialog that is going away. Start, Finish and Running are for the UI
// thread.
class SessionWorkers {
public:
    explicit SessionWorkers(UiDispatcher& dispatcher) : dispatcher_(dispatcher) {}
    // Closes and waits for every worker, serving their calls meanwhile.
    ~SessionWorkers();
    SessionWorkers(const SessionWorkers&) = delete;
    SessionWorkers& operator=(const SessionWorkers&) = delete;

    void Start(std::function<void()> body);
    bool Running();
    // Waits for the workers to end while serving their calls; -1 waits without limit.
    // Returns true when none runs any more.
    bool Finish(int timeoutMs);

    // From now on no call reaches the UI thread.
    void Close() { closed_.store(true); }
    bool Closed() const { return closed_.load(); }

    UiDispatcher& Dispatcher() const { return dispatcher_; }

    // Runs `f` on the UI thread and returns its result; directly when already there.
    template <typename F>
    auto OnUiThread(F&& f) -> std::invoke_result_t<F&> {
        using Result = std::invoke_result_t<F&>;
        if (dispatcher_.OnUiThread()) return f();
        // Checked before blocking, so no worker starts to wait on a closed dialog; one
        // already waiting is served by Finish, which then skips the call.
        if constexpr (std::is_void_v<Result>) {
            if (closed_.load()) return;
            dispatcher_.RunBlocking([&] {
                if (!closed_.load()) f();
            });
        } else {
            Result result{};
            if (closed_.load()) return result;
            dispatcher_.RunBlocking([&] {
                if (!closed_.load()) result = f();
            });
            return result;
        }
    }

private:
    void Reap();

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    UiDispatcher& dispatcher_;
    std::atomic<bool> closed_{false};
    std::vector<Worker> workers_;
};
