#include "ui/QtDispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <utility>

bool QtDispatcher::OnUiThread() const { return QThread::currentThread() == context_->thread(); }

void QtDispatcher::RunBlocking(const std::function<void()>& f) {
    QMetaObject::invokeMethod(
        context_, [&f] { f(); }, Qt::BlockingQueuedConnection);
}

void QtDispatcher::Post(std::function<void()> f) {
    QMetaObject::invokeMethod(context_, std::move(f), Qt::QueuedConnection);
}

void QtDispatcher::ServePending(int ms) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, ms);
}
