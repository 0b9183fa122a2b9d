#pragma once
#include <QObject>
#include <functional>

#include "worker/UiDispatcher.h"

// The UI thread of a Qt window: calls are queued to the event loop of `context`'s thread,
// and are dropped with `context`.
class QtDispatcher : public UiDispatcher {
public:
    explicit QtDispatcher(QObject* context) : context_(context) {}

    bool OnUiThread() const override;
    void RunBlocking(const std::function<void()>& f) override;
    void Post(std::function<void()> f) override;
    void ServePending(int ms) override;

private:
    QObject* context_;
};
