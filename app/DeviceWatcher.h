#pragma once
#include <QObject>
#include <memory>
#include <string>

#include "link/DeviceEvents.h"

class QSocketNotifier;
class QWidget;
class UdevWatcher;

// Arrival and removal of HID interfaces from the platform, delivered in the event loop
// of the UI thread: udev's monitor on Linux, device notifications to the window on
// Windows.
class DeviceWatcher : public QObject {
    Q_OBJECT

public:
    DeviceWatcher();
    ~DeviceWatcher() override;

    // Starts following HID interfaces for `window`. Returns false and sets `error` when
    // the platform refuses; then nothing is delivered.
    bool Start(QWidget* window, std::string& error);

signals:
    void deviceEvent(const DeviceEvent& event);

private:
    void ReadEvents();

    std::unique_ptr<UdevWatcher> udev_;
    QSocketNotifier* notifier_ = nullptr;
    class NativeFilter;
    std::unique_ptr<NativeFilter> filter_;
};
