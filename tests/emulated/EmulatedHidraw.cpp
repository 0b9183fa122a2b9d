#include "tests/emulated/EmulatedHidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/TextFormat.h"
#include "link/SimulatedProgrammer.h"
#include "tests/support/ReportDescriptors.h"

namespace {

// hidraw's major number is given out at boot; any will do here.
constexpr int kHidrawMajor = 241;
constexpr std::size_t kMaxDescriptorSize = HID_MAX_DESCRIPTOR_SIZE;

std::string Hex4(std::uint16_t value) { return Format("%04x", value); }

// Whether umockdev's preload library runs in this process (its own question for this,
// umockdev_in_mock_environment, answers no under the preload in 0.17).
bool PreloadActive() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("libumockdev-preload") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

// One plugged device: its sysfs entries, its node, and what the kernel keeps for it. The
// ioctl handler runs on umockdev's own thread; every member is guarded by the owner's
// mutex.
struct EmulatedHidraw::Node {
    EmulatedHidraw* owner = nullptr;
    HidrawDeviceTraits traits;
    std::vector<std::uint8_t> descriptor;
    SimulatedProgrammer* brain = nullptr;
    std::string devnode;                // "/dev/hidrawN", as hidapi lists it
    std::vector<std::string> syspaths;  // USB device, interface, HID device, hidraw
    std::string file;                   // the node inside the test bed
    // The node is a FIFO: one byte waits in it for every input report queued, so that
    // poll() on an opened node says readable exactly when a read would not block, as
    // hidraw's poll does. umockdev passes read() to the handler, never to the FIFO.
    int readable = -1;
    UMockdevIoctlBase* handler = nullptr;
    bool plugged = true;
    int openingQueryError = 0;
    int openings = 0;
    int openNow = 0;  // openings not yet closed

    struct Input {
        bool fails = false;  // the read of this report fails
        std::vector<std::uint8_t> report;
    };
    std::deque<Input> queue;
    std::vector<UMockdevIoctlClient*> waitingReads;  // blocked in read(), one reference each

    void Queue(Input input);
    void CompleteRead(UMockdevIoctlClient* client, const Input& input);
    void QueueAfter(Input input, std::chrono::microseconds delay);
    void Connected();
    void Vanished();
    void Ioctl(UMockdevIoctlClient* client);
    void Write(UMockdevIoctlClient* client);
    void Read(UMockdevIoctlClient* client);

    static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
        static_cast<Node*>(self)->Connected();
    }
    static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
        static_cast<Node*>(self)->Vanished();
    }
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Node*>(self)->Ioctl(client);
        return TRUE;
    }
    static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Node*>(self)->Write(client);
        return TRUE;
    }
    static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<Node*>(self)->Read(client);
        return TRUE;
    }
};

void EmulatedHidraw::Node::CompleteRead(UMockdevIoctlClient* client, const Input& input) {
    if (input.fails) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return;
    }
    // hidraw hands over the report without its (absent) ID, cut to the reader's buffer.
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    const std::size_t n = std::min(static_cast<std::size_t>(buffer->data_len), input.report.size());
    std::copy_n(input.report.begin(), n, buffer->data);
    umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
}

void EmulatedHidraw::Node::Queue(Input input) {
    if (!waitingReads.empty()) {
        UMockdevIoctlClient* client = waitingReads.front();
        waitingReads.erase(waitingReads.begin());
        CompleteRead(client, input);
        g_object_unref(client);
        return;
    }
    queue.push_back(std::move(input));
    const char one = 1;
    (void)::write(readable, &one, 1);
}

// A report that comes `delay` after now: a late answer, or an answer in the programmer's
// own time.
void EmulatedHidraw::Node::QueueAfter(Input input, std::chrono::microseconds delay) {
    struct Late {
        Node* node;
        GSource* source;
        Input input;
    };
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay).count();
    GSource* source = g_timeout_source_new(static_cast<guint>(ms));
    auto* late = new Late{this, source, std::move(input)};
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* late = static_cast<Late*>(data);
            Node& node = *late->node;
            std::lock_guard lock(node.owner->mutex_);
            auto& timers = node.owner->timers_;
            const auto timer = std::find(timers.begin(), timers.end(), late->source);
            if (timer == timers.end()) return G_SOURCE_REMOVE;  // the owner is going away
            timers.erase(timer);
            g_source_unref(late->source);
            if (node.plugged) node.Queue(std::move(late->input));
            return G_SOURCE_REMOVE;
        },
        late, [](gpointer data) { delete static_cast<Late*>(data); });
    owner->timers_.push_back(source);
    // The handler runs in umockdev's thread; its context is the thread's default.
    g_source_attach(source, g_main_context_get_thread_default());
}

void EmulatedHidraw::Node::Connected() {
    std::lock_guard lock(owner->mutex_);
    ++openings;
    // The first opening starts with no reports waiting; one beside another that is
    // waiting for its answer takes nothing from it.
    if (openNow++ > 0) return;
    queue.clear();
    char drained[64];
    while (::read(readable, drained, sizeof drained) > 0) {}
}

void EmulatedHidraw::Node::Vanished() {
    std::lock_guard lock(owner->mutex_);
    if (openNow > 0) --openNow;
}

void EmulatedHidraw::Node::Ioctl(UMockdevIoctlClient* client) {
    std::lock_guard lock(owner->mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (!plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    // The argument is a pointer into the caller's memory; resolving fetches it, and what
    // is changed goes back with the completion.
    auto resolve = [&](std::size_t size) {
        return umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
    };
    auto answer = [&](UMockdevIoctlData* data, glong result) {
        umockdev_ioctl_client_complete(client, data != nullptr ? result : -1,
                                       data != nullptr ? 0 : EFAULT);
        if (data != nullptr) g_object_unref(data);
    };

    if (request == HIDIOCGRDESCSIZE) {
        if (openingQueryError != 0) {
            umockdev_ioctl_client_complete(client, -1, openingQueryError);
            return;
        }
        UMockdevIoctlData* data = resolve(sizeof(int));
        if (data != nullptr)
            *reinterpret_cast<int*>(data->data) = static_cast<int>(descriptor.size());
        answer(data, 0);
    } else if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* data = resolve(sizeof(hidraw_report_descriptor));
        if (data == nullptr) return answer(nullptr, 0);
        auto* wanted = reinterpret_cast<hidraw_report_descriptor*>(data->data);
        if (wanted->size > kMaxDescriptorSize - 1) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            g_object_unref(data);
            return;
        }
        std::copy_n(descriptor.begin(), std::min<std::size_t>(wanted->size, descriptor.size()),
                    wanted->value);
        answer(data, 0);
    } else if (request == HIDIOCGRAWINFO) {
        UMockdevIoctlData* data = resolve(sizeof(hidraw_devinfo));
        if (data != nullptr) {
            auto* info = reinterpret_cast<hidraw_devinfo*>(data->data);
            info->bustype = BUS_USB;
            info->vendor = static_cast<__s16>(traits.vendorId);
            info->product = static_cast<__s16>(traits.productId);
        }
        answer(data, 0);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)) &&
               _IOC_DIR(request) == _IOC_READ) {
        // The name with its NUL, cut to the caller's buffer; the result is the count copied.
        const std::string name = traits.manufacturer + " " + traits.product;
        const std::size_t room = _IOC_SIZE(request);
        const std::size_t n = std::min(name.size() + 1, room);
        if (n == 0) return umockdev_ioctl_client_complete(client, 0, 0);
        UMockdevIoctlData* data = resolve(room);
        if (data != nullptr) std::copy_n(name.c_str(), n, data->data);
        answer(data, static_cast<glong>(n));
    } else {
        umockdev_ioctl_client_complete(client, -1, _IOC_TYPE(request) == 'H' ? ENOTTY : EINVAL);
    }
}

void EmulatedHidraw::Node::Write(UMockdevIoctlClient* client) {
    std::lock_guard lock(owner->mutex_);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    const auto* bytes = buffer->data;
    const auto count = static_cast<std::size_t>(buffer->data_len);
    if (!plugged) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    // Byte 0 is the report number; a device without numbered reports takes 0, and the
    // rest is its report.
    if (count < 2 || bytes[0] != 0 || count > 1 + traits.outputBytes) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (brain == nullptr) {
        umockdev_ioctl_client_complete(client, static_cast<glong>(count), 0);
        return;
    }
    SimulatedProgrammer::Response response = brain->Handle(bytes, count);
    if (response.unplug) {
        owner->UnplugHeld(*this);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (response.writeFails) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return;
    }
    if (response.hang) {
        if (owner->lateAnswer_.count() >= 0) {
            QueueAfter({false, std::vector<std::uint8_t>(traits.inputBytes, 0)},
                       owner->lateAnswer_);
        }
    } else {
        Input input{true, {}};
        if (!response.readFails) {
            // The answer's byte 0 is the report ID of the frame; the device sends the rest.
            input = {false, std::vector<std::uint8_t>(traits.inputBytes, 0)};
            if (response.answer.size() > 1) {
                std::copy_n(response.answer.begin() + 1,
                            std::min(input.report.size(), response.answer.size() - 1),
                            input.report.begin());
            }
        }
        if (response.answerAfterUs > 0) {
            QueueAfter(std::move(input), std::chrono::microseconds(response.answerAfterUs));
        } else {
            Queue(std::move(input));
        }
    }
    umockdev_ioctl_client_complete(client, static_cast<glong>(count), 0);
}

void EmulatedHidraw::Node::Read(UMockdevIoctlClient* client) {
    std::lock_guard lock(owner->mutex_);
    // Reports that came before a removal can still be read; then the read fails.
    if (!queue.empty()) {
        const Input input = std::move(queue.front());
        queue.pop_front();
        char one;
        (void)::read(readable, &one, 1);
        CompleteRead(client, input);
        return;
    }
    if (!plugged) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return;
    }
    // Nothing waits: the read blocks until a report comes or the device goes.
    g_object_ref(client);
    waitingReads.push_back(client);
}

EmulatedHidraw::EmulatedHidraw() {
    if (!PreloadActive()) {
        throw std::runtime_error(
            "the emulated programmer needs umockdev's preload: run under umockdev-wrapper "
            "(LD_PRELOAD=libumockdev-preload.so.0)");
    }
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    std::filesystem::create_directories(root_ + "/dev");
}

EmulatedHidraw::~EmulatedHidraw() {
    {
        std::lock_guard lock(mutex_);
        for (GSource* source : timers_) {
            g_source_destroy(source);
            g_source_unref(source);
        }
        timers_.clear();
        for (auto& node : nodes_) {
            if (node->plugged) UnplugHeld(*node);
        }
    }
    g_object_unref(testbed_);
    for (auto& node : nodes_) {
        g_object_unref(node->handler);
        ::close(node->readable);
    }
}

std::string EmulatedHidraw::Plug(const HidrawDeviceTraits& traits, SimulatedProgrammer* brain) {
    std::lock_guard lock(mutex_);
    const int number = static_cast<int>(nodes_.size());
    auto node = std::make_unique<Node>();
    node->owner = this;
    node->traits = traits;
    node->descriptor = VendorReportDescriptor(traits.inputBytes, traits.outputBytes);
    node->brain = brain;
    node->devnode = Format("/dev/hidraw%d", number);
    node->file = root_ + node->devnode;

    // Each device on a port of its own, so that sysfs paths stay apart.
    const std::string port = Format("1-%d", number + 1);
    gchar* usb = umockdev_testbed_add_device(
        testbed_, "usb", ("usb1/" + port).c_str(), nullptr, "idVendor",
        Hex4(traits.vendorId).c_str(), "idProduct", Hex4(traits.productId).c_str(), "manufacturer",
        traits.manufacturer.c_str(), "product", traits.product.c_str(), "serial",
        traits.serial.c_str(), "bcdDevice", "0100", nullptr, "DEVTYPE", "usb_device", nullptr);
    gchar* interface = umockdev_testbed_add_device(
        testbed_, "usb", (port + ":1.0").c_str(), usb, "bInterfaceNumber", "00", "bInterfaceClass",
        "03", nullptr, "DEVTYPE", "usb_interface", nullptr);
    const std::string name = traits.manufacturer + " " + traits.product;
    gchar* hid = umockdev_testbed_add_device(
        testbed_, "hid",
        Format("0003:%04X:%04X.%04X", traits.vendorId, traits.productId, number + 1).c_str(),
        interface, nullptr, "HID_ID",
        Format("0003:%08X:%08X", traits.vendorId, traits.productId).c_str(), "HID_NAME",
        name.c_str(), "HID_UNIQ", traits.serial.c_str(), nullptr);
    umockdev_testbed_set_attribute_binary(testbed_, hid, "report_descriptor",
                                          node->descriptor.data(),
                                          static_cast<gint>(node->descriptor.size()));

    // The node is there and answers before the hidraw device's "add" uevent says so.
    if (::mkfifo(node->file.c_str(), 0600) != 0) {
        throw std::runtime_error("emulated hidraw: mkfifo " + node->file + ": " +
                                 std::strerror(errno));
    }
    node->readable = ::open(node->file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "client-connected", G_CALLBACK(Node::OnConnected), node.get());
    g_signal_connect(node->handler, "client-vanished", G_CALLBACK(Node::OnVanished), node.get());
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(Node::OnIoctl), node.get());
    g_signal_connect(node->handler, "handle-write", G_CALLBACK(Node::OnWrite), node.get());
    g_signal_connect(node->handler, "handle-read", G_CALLBACK(Node::OnRead), node.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node->devnode.c_str(), node->handler, &error)) {
        const std::string reason = error->message;
        g_error_free(error);
        throw std::runtime_error("emulated hidraw: attach " + node->devnode + ": " + reason);
    }
    gchar* hidraw =
        umockdev_testbed_add_device(testbed_, "hidraw", Format("hidraw%d", number).c_str(), hid,
                                    "dev", Format("%d:%d", kHidrawMajor, number).c_str(), nullptr,
                                    "DEVNAME", node->devnode.c_str(), nullptr);
    // sysfs links each hidraw node to its HID device, where report_descriptor lies.
    std::filesystem::create_symlink("..", root_ + hidraw + "/device");

    node->syspaths = {usb, interface, hid, hidraw};
    for (gchar* path : {usb, interface, hid, hidraw}) g_free(path);
    std::string devnode = node->devnode;
    nodes_.push_back(std::move(node));
    return devnode;
}

void EmulatedHidraw::UnplugHeld(Node& node) {
    node.plugged = false;
    for (UMockdevIoctlClient* client : node.waitingReads) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        g_object_unref(client);
    }
    node.waitingReads.clear();
    // hidraw wakes a poll() with POLLHUP; the FIFO can only say readable, and the read
    // then fails.
    const char one = 1;
    (void)::write(node.readable, &one, 1);
    // umockdev builds a uevent from the sysfs entry, so it goes out before the entries do;
    // the kernel removes first. Children go before their parents.
    for (auto path = node.syspaths.rbegin(); path != node.syspaths.rend(); ++path) {
        umockdev_testbed_uevent(testbed_, path->c_str(), "remove");
    }
    for (auto path = node.syspaths.rbegin(); path != node.syspaths.rend(); ++path) {
        umockdev_testbed_remove_device(testbed_, path->c_str());
    }
}

void EmulatedHidraw::Unplug(const std::string& devnode) {
    std::lock_guard lock(mutex_);
    Node* node = Find(devnode);
    if (node != nullptr && node->plugged) UnplugHeld(*node);
}

bool EmulatedHidraw::IsPlugged(const std::string& devnode) const {
    std::lock_guard lock(mutex_);
    const Node* node = Find(devnode);
    return node != nullptr && node->plugged;
}

void EmulatedHidraw::DenyAccess(const std::string& devnode) {
    std::lock_guard lock(mutex_);
    if (Node* node = Find(devnode)) ::chmod(node->file.c_str(), 0);
}

void EmulatedHidraw::FailOpeningQuery(const std::string& devnode, int error) {
    std::lock_guard lock(mutex_);
    if (Node* node = Find(devnode)) node->openingQueryError = error;
}

void EmulatedHidraw::SetLateAnswer(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    lateAnswer_ = delay;
}

int EmulatedHidraw::Openings(const std::string& devnode) const {
    std::lock_guard lock(mutex_);
    const Node* node = Find(devnode);
    return node != nullptr ? node->openings : 0;
}

std::size_t EmulatedHidraw::ReportsWaiting(const std::string& devnode) const {
    std::lock_guard lock(mutex_);
    const Node* node = Find(devnode);
    return node != nullptr ? node->queue.size() : 0;
}

EmulatedHidraw::Node* EmulatedHidraw::Find(const std::string& devnode) const {
    for (const auto& node : nodes_) {
        if (node->devnode == devnode) return node.get();
    }
    return nullptr;
}
