#include "app/DeviceWatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>

#include "link/WindowsDeviceWatcher.h"
class UdevWatcher {};
#else
#include "link/UdevWatcher.h"
#endif

// WM_DEVICECHANGE reaches the window as a native message.
class DeviceWatcher::NativeFilter : public QAbstractNativeEventFilter {
public:
    explicit NativeFilter(DeviceWatcher& owner) : owner_(owner) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
        (void)result;
#ifdef Q_OS_WIN
        if (eventType == "windows_generic_MSG") {
            const MSG* msg = static_cast<const MSG*>(message);
            if (auto event = DeviceEventFromMessage(msg->message, msg->wParam, msg->lParam)) {
                emit owner_.deviceEvent(*event);
            }
        }
#else
        (void)eventType;
        (void)message;
#endif
        return false;
    }

private:
    DeviceWatcher& owner_;
};

DeviceWatcher::DeviceWatcher() = default;

DeviceWatcher::~DeviceWatcher() {
    delete notifier_;
    if (filter_) {
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
#ifdef Q_OS_WIN
        UnregisterHidNotifications();
#endif
    }
}

bool DeviceWatcher::Start(QWidget* window, std::string& error) {
#ifdef Q_OS_WIN
    if (!RegisterHidNotifications(reinterpret_cast<void*>(window->winId()), error)) return false;
    filter_ = std::make_unique<NativeFilter>(*this);
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
    return true;
#else
    (void)window;
    auto udev = std::make_unique<UdevWatcher>();
    if (!udev->Start(error)) return false;
    udev_ = std::move(udev);
    // The monitor's socket in the event loop: events arrive on the UI thread.
    notifier_ = new QSocketNotifier(udev_->Fd(), QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceWatcher::ReadEvents);
    return true;
#endif
}

void DeviceWatcher::ReadEvents() {
#ifndef Q_OS_WIN
    for (const DeviceEvent& event : udev_->ReadEvents()) emit deviceEvent(event);
#endif
}
