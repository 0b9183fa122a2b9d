#pragma once
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "session/MainDialogView.h"

// The message that tells the main dialog its dispatcher has work.
inline constexpr UINT kDispatchMessage = WM_APP + 1;

// Runs the session's calls on the dialog's thread: work from other threads waits in a
// queue, and a posted message makes the dialog's message loop serve it.
class WinDispatcher : public UiDispatcher {
public:
    // Made on the UI thread; the window is set once the dialog exists.
    WinDispatcher();
    void SetWindow(HWND window);

    bool OnUiThread() const override;
    void RunBlocking(const std::function<void()>& f) override;
    void Post(std::function<void()> f) override;
    void ServePending(int ms) override;

    // On the UI thread, for kDispatchMessage: runs what waits now.
    void Serve();

private:
    std::thread::id ui_;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> queue_;
};
