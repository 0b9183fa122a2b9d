// The platform transport, as far as it can be checked without a programmer attached.
#if !defined(_WIN32)
#include "link/HidapiBackend.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "link/HidReport.h"
#include "link/ProgrammerLink.h"
#include "tests/support/ReportDescriptors.h"
#include "tests/support/TempFolder.h"
#if defined(__linux__)
#include "link/UdevWatcher.h"
#endif

namespace {

std::optional<std::size_t> LengthOf(const std::vector<std::uint8_t>& descriptor) {
    return OutputReportLengthFromDescriptor(descriptor.data(), descriptor.size());
}

TEST(ReportDescriptor, OutputReportLengthIncludesTheReportId) {
    EXPECT_EQ(LengthOf(VendorReportDescriptor(64, 64)), 65u);
    EXPECT_EQ(LengthOf(VendorReportDescriptor(64, 65)), 66u);

    // Several output reports by ID: the longest counts; items of one ID add up.
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x85, 0x01, 0x95, 0x20, 0x91, 0x02, 0x85, 0x02,
                        0x95, 0x3F, 0x91, 0x02, 0x85, 0x01, 0x95, 0x08, 0x91, 0x02}),
              64u);
    // Bit fields round up to whole bytes: five LED bits and three padding bits.
    EXPECT_EQ(LengthOf({0x75, 0x01, 0x95, 0x05, 0x91, 0x02, 0x75, 0x03, 0x95, 0x01, 0x91, 0x03}),
              2u);
    EXPECT_EQ(LengthOf({0x75, 0x01, 0x95, 0x09, 0x91, 0x02}), 3u);
    // A four-byte count: 65 data bytes make a report the link must refuse.
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x97, 0x41, 0x00, 0x00, 0x00, 0x91, 0x02}), 66u);
    // Push and Pop restore the globals in between.
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x95, 0x40, 0xA4, 0x95, 0x02, 0xB4, 0x91, 0x02}), 65u);
    // A long item is stepped over whole.
    EXPECT_EQ(LengthOf({0xFE, 0x02, 0x10, 0x91, 0x02, 0x75, 0x08, 0x95, 0x04, 0x91, 0x02}), 5u);
}

TEST(ReportDescriptor, NoOutputReportOrBrokenDescriptor) {
    EXPECT_EQ(LengthOf({}), std::nullopt);
    // Input only, as a mouse.
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x95, 0x03, 0x81, 0x06}), std::nullopt);
    // An item whose data runs past the end.
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x95, 0x40, 0x91, 0x02, 0x26, 0xFF}), std::nullopt);
    EXPECT_EQ(LengthOf({0x75, 0x08, 0x97, 0x40, 0x00}), std::nullopt);
    EXPECT_EQ(LengthOf({0xFE, 0x05, 0x10, 0x00}), std::nullopt);
    // Pop without Push.
    EXPECT_EQ(LengthOf({0xB4, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02}), std::nullopt);
}

TEST(ReportDescriptor, FoundBesideTheHidrawNode) {
    EXPECT_EQ(ReportDescriptorPath("/dev/hidraw3"),
              std::filesystem::path("/sys/class/hidraw/hidraw3/device/report_descriptor"));
    EXPECT_EQ(ReportDescriptorPath("/dev/hidraw12"),
              std::filesystem::path("/sys/class/hidraw/hidraw12/device/report_descriptor"));
    for (const char* other : {"/dev/hidraw", "/dev/hidraw3/../../etc", "/dev/hidraw3 ",
                              "DevSrvsID:4294971346", "/dev/input/event3", ""}) {
        EXPECT_TRUE(ReportDescriptorPath(other).empty()) << other;
    }

    const TempFolder folder("marro-descriptor");
    const auto file = WriteBytes(folder / "report_descriptor", VendorReportDescriptor(64, 65));
    EXPECT_EQ(OutputReportLengthFromFile(file), 66u);
    WriteBytes(file, std::string_view("\x75\x08\x95\x03\x81\x06", 6));
    EXPECT_EQ(OutputReportLengthFromFile(file), kReportSize);  // no output report: the usual
    std::filesystem::remove(file);
    EXPECT_EQ(OutputReportLengthFromFile(file), kReportSize);  // unreadable: the usual
    EXPECT_EQ(OutputReportLengthFromFile({}), kReportSize);
}

TEST(HidapiBackend, OpeningAMissingNodeNamesTheCallAndTheReason) {
    HidapiBackend backend;
    HidOpenError error;
    EXPECT_EQ(backend.Open("/dev/hidraw-marrowdyne-none", error), nullptr);
    EXPECT_EQ(error.reason, "open('/dev/hidraw-marrowdyne-none'): No such file or directory");
    EXPECT_FALSE(error.accessDenied);
}

#if defined(__linux__)
TEST(UdevWatcher, MapsAddAndRemoveOfANode) {
    auto arrival = DeviceEventFromUdev("add", "/dev/hidraw3");
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->kind, DeviceEvent::Kind::Arrival);
    EXPECT_EQ(arrival->path, "/dev/hidraw3");
    auto removal = DeviceEventFromUdev("remove", "/dev/hidraw3");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->kind, DeviceEvent::Kind::Removal);

    EXPECT_FALSE(DeviceEventFromUdev("change", "/dev/hidraw3"));
    EXPECT_FALSE(DeviceEventFromUdev("bind", "/dev/hidraw3"));
    EXPECT_FALSE(DeviceEventFromUdev("add", nullptr));
    EXPECT_FALSE(DeviceEventFromUdev("add", ""));
    EXPECT_FALSE(DeviceEventFromUdev(nullptr, "/dev/hidraw3"));
}

TEST(UdevWatcher, StartsOrSaysWhyAndNeverBlocks) {
    UdevWatcher watcher;
    EXPECT_EQ(watcher.Fd(), -1);
    EXPECT_TRUE(watcher.ReadEvents().empty());
    std::string error;
    if (watcher.Start(error)) {
        EXPECT_GE(watcher.Fd(), 0);
        for (const DeviceEvent& event : watcher.ReadEvents()) {
            EXPECT_EQ(event.path.rfind("/dev/", 0), 0u) << event.path;
        }
        EXPECT_TRUE(watcher.Start(error));  // a second start keeps the monitor
    } else {
        EXPECT_NE(error.find("udev"), std::string::npos) << error;
        EXPECT_EQ(watcher.Fd(), -1);
    }
}
#endif

}  // namespace
#endif
