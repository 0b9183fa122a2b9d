#pragma once
#include <functional>

// How a dialog's session reaches the UI thread: the face's event loop runs what it is
// given.
class UiDispatcher {
public:
    virtual ~UiDispatcher() = default;
    virtual bool OnUiThread() const = 0;
    // From another thread: runs `f` on the UI thread and returns once it has run.
    virtual void RunBlocking(const std::function<void()>& f) = 0;
    // Runs `f` on the UI thread later, in order; not waited for.
    virtual void Post(std::function<void()> f) = 0;
    // On the UI thread, while it waits for workers: runs what waits for it, leaving the
    // user's input for later, for at most `ms` milliseconds.
    virtual void ServePending(int ms) = 0;
};
