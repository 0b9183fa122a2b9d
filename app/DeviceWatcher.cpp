#include "app/DeviceWatcher.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include "link/UdevWatcher.h"
#else
class UdevWatcher {};
#endif

DeviceWatcher::DeviceWatcher() = default;

DeviceWatcher::~DeviceWatcher() { delete notifier_; }

bool DeviceWatcher::Start(QWidget* window, std::string& error) {
    (void)window;
#ifndef Q_OS_WIN
    auto udev = std::make_unique<UdevWatcher>();
    if (!udev->Start(error)) return false;
    udev_ = std::move(udev);
    // The monitor's socket in the event loop: events arrive on the UI thread.
    notifier_ = new QSocketNotifier(udev_->Fd(), QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceWatcher::ReadEvents);
    return true;
#else
    error = "device notifications are not available";
    return false;
#endif
}

void DeviceWatcher::ReadEvents() {
#ifndef Q_OS_WIN
    for (const DeviceEvent& event : udev_->ReadEvents()) emit deviceEvent(event);
#endif
}
