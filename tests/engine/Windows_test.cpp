// What only the Windows build has: the system's code pages, the program's own folder,
// the native HID transport and the device notifications. The test run is Wine in its
// own prefix and the C locale: the pages 437 and 1252, no programmer, and only Wine's
// virtual HID keyboard and mouse.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// windows.h first: dbt.h builds on its types.
#include <dbt.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/CodePage.h"
#include "common/ProgramLocation.h"
#include "common/StreamText.h"
#include "common/WideText.h"
#include "link/HidReport.h"
#include "link/ProgrammerLink.h"
#include "link/SimulatedBackend.h"
#include "link/WindowsDeviceWatcher.h"
#include "link/WindowsHidBackend.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The pages the run asks Wine for (MARRO_WINE_PAGES, "ANSI/OEM"; the runner's C locale
// without it), so a run in another locale cannot pass in the C locale's pages.
std::string ExpectedPages() {
    const char* pages = std::getenv("MARRO_WINE_PAGES");
    return pages != nullptr && *pages != '\0' ? pages : "1252/437";
}

TEST(WindowsCodePages, AreThePagesOfTheLocaleAndJobNamesUseTheOemOne) {
    struct Locale {
        const char* pages;
        const char* ansi;
        const char* oem;
        const char* name;  // a job name in the OEM page, as the programmer stores it
        const char* encoded;
    };
    const Locale locales[] = {
        {"1252/437", "CP1252", "CP437", "é£", "\x82\x9C"},
        {"1251/866", "CP1251", "CP866", "Жук.hex", "\x86\xE3\xAA.hex"},
        {"936/936", "CP936", "CP936", "固件v2.hex", "\xB9\xCC\xBC\xFEv2.hex"},
    };
    const std::string expected = ExpectedPages();
    EXPECT_EQ(std::to_string(GetACP()) + "/" + std::to_string(GetOEMCP()), expected);
    const Locale* locale = nullptr;
    for (const Locale& candidate : locales) {
        if (expected == candidate.pages) locale = &candidate;
    }
    ASSERT_NE(locale, nullptr) << "no samples for the pages " << expected;
    EXPECT_EQ(UserCodePages().ansi, locale->ansi);
    EXPECT_EQ(UserCodePages().oem, locale->oem);
    EXPECT_EQ(EncodeOem(locale->name), locale->encoded);
    EXPECT_EQ(DecodeOem(locale->encoded), locale->name);
}

TEST(WindowsCodePages, TheCLocaleOemAndAnsiPagesDifferPerByte) {
    if (ExpectedPages() != "1252/437") GTEST_SKIP() << "pages of the C locale only";
    // The same byte means different things in the two pages.
    EXPECT_EQ(DecodeOem("\xE9"), "Θ");
    EXPECT_EQ(DecodeAnsi("\xE9\x80"), "é€");
    EXPECT_EQ(EncodeOem("Жук.hex"), "???.hex");
}

TEST(WindowsCodePages, EveryCp866ByteSurvivesTheRoundTrip) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const std::string oem(1, static_cast<char>(byte));
        const std::string text = DecodeFromPage(oem, "CP866");
        ASSERT_FALSE(text.empty()) << byte;
        EXPECT_NE(text, "?") << byte;
        EXPECT_EQ(EncodeToPage(text, "CP866"), oem) << byte;
    }
}

TEST(WindowsCodePages, Cp936DoubleBytesSurviveTheRoundTrip) {
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; trail += 7) {
            if (trail == 0x7F) continue;
            const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string text = DecodeFromPage(code, "CP936");
            ASSERT_FALSE(text.empty()) << lead << ":" << trail;
            if (text == "?") continue;  // a code the page leaves undefined
            ++characters;
            EXPECT_EQ(EncodeToPage(text, "CP936"), code) << lead << ":" << trail;
        }
    }
    EXPECT_GT(characters, 3000);  // the pairs tried are nearly all defined
    const std::string name = EncodeToPage("固件v2.hex", "CP936");
    EXPECT_EQ(name, "\xB9\xCC\xBC\xFEv2.hex");
    EXPECT_EQ(DecodeFromPage(name, "CP936"), "固件v2.hex");
}

// A C runtime stream over a handle, as the tool's standard streams are.
std::FILE* StreamOver(HANDLE handle) {
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    return fd < 0 ? nullptr : _fdopen(fd, "wb");
}

const std::string kConsoleSample = "名称 Программатор\n";

TEST(WindowsStreamText, AConsoleGetsTheCharactersAsUtf16) {
    // Tests run with pipes for their output: the console is one of their own. Wine draws
    // a console only on a display; the run that has one (MARRO_WINE_CONSOLE) requires it.
    FreeConsole();
    AllocConsole();
    const HANDLE buffer =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    DWORD mode = 0;
    if (buffer == INVALID_HANDLE_VALUE || !GetConsoleMode(buffer, &mode)) {
        const DWORD error = GetLastError();
        if (std::getenv("MARRO_WINE_CONSOLE") != nullptr) {
            FAIL() << "no console on the display (error " << error << ")";
        }
        GTEST_SKIP() << "no console for this process (error " << error << ")";
    }
    std::FILE* stream = StreamOver(buffer);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(IsConsoleStream(stream));
    // A code page that cannot show either script: the characters must not depend on it.
    const UINT page = GetConsoleOutputCP();
    SetConsoleOutputCP(437);
    EXPECT_TRUE(WriteStreamText(stream, kConsoleSample));
    SetConsoleOutputCP(page);

    const std::wstring expected = L"名称 Программатор";
    std::wstring shown(expected.size(), L'\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(buffer, shown.data(), static_cast<DWORD>(shown.size()),
                                            COORD{0, 0}, &read));
    shown.resize(read);
    EXPECT_EQ(shown, expected);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
    EXPECT_EQ(info.dwCursorPosition.Y, 1);  // the line end moved on to the next line
    std::fclose(stream);
}

// A Unix path of the build as Wine's Z: drive shows it.
std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:" + WideFromUtf8(unixPath);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

// The tool as a user starts it in a console window: its output is that console, and
// what the console shows is read back from its screen buffer.
TEST(WindowsConsoleTool, ProgramShowsChineseAndRussianInTheConsole) {
    FreeConsole();
    if (!AllocConsole() && std::getenv("MARRO_WINE_CONSOLE") == nullptr) {
        GTEST_SKIP() << "no console for this process";
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        if (std::getenv("MARRO_WINE_CONSOLE") != nullptr) FAIL() << "no console on the display";
        GTEST_SKIP() << "no console for this process";
    }
    std::wstring command = L"\"" + WinePath(MARRO_CLI_PROGRAM) +
                           L"\" --simulate program samples\\blink-f103.hex --series STM32F1XX";
    const std::wstring folder = WinePath(MARRO_SOURCE_DIR);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = console;
    startup.hStdError = console;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               folder.c_str(), &startup, &process))
        << GetLastError();
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    std::wstring shown(cells, L' ');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console, shown.data(), cells, COORD{0, 0}, &read));
    shown.resize(read);
    EXPECT_NE(shown.find(L"名称"), std::wstring::npos);
    EXPECT_NE(shown.find(L"blink-f103.hex"), std::wstring::npos);
    EXPECT_NE(shown.find(L"Успешно"), std::wstring::npos);
    CloseHandle(console);
}

TEST(WindowsStreamText, APipeGetsTheUtf8Bytes) {
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
    std::FILE* stream = StreamOver(writer);
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(IsConsoleStream(stream));
    EXPECT_TRUE(WriteStreamText(stream, kConsoleSample));
    std::fclose(stream);  // closes the writing end: the read below ends

    std::string bytes;
    char chunk[256];
    DWORD read = 0;
    while (ReadFile(reader, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(reader);
    EXPECT_EQ(bytes, kConsoleSample);
}

TEST(WindowsProgramDirectory, IsTheFolderOfThisExecutableNotTheCurrentOne) {
    wchar_t image[32768] = {};
    DWORD size = static_cast<DWORD>(std::size(image));
    ASSERT_TRUE(QueryFullProcessImageNameW(GetCurrentProcess(), 0, image, &size));
    const fs::path expected = fs::path(std::wstring(image, size)).parent_path();

    const TempFolder elsewhere("marro-windows");
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere.Path());
    const fs::path directory = ProgramDirectory();
    fs::current_path(before);

    ASSERT_FALSE(directory.empty());
    EXPECT_TRUE(fs::equivalent(directory, expected)) << directory << " vs " << expected;
    EXPECT_TRUE(fs::exists(directory / fs::path(std::wstring(image, size)).filename()));
}

TEST(WindowsHidBackend, SearchWithoutAProgrammerFindsNothingAndOpensNothing) {
    WindowsHidBackend backend;
    for (const HidDeviceInfo& info : backend.Enumerate()) {
        EXPECT_FALSE(info.idsKnown);
        if (!info.active) continue;
        EXPECT_FALSE(info.path.empty());
        // What opens is asked and read as the programmer would be; a read never hangs.
        HidOpenError error;
        std::unique_ptr<HidDevice> device = backend.Open(info.path, error);
        if (!device) continue;  // held by the system, as keyboards are on Windows
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        EXPECT_TRUE(device->Attributes(vendorId, productId)) << device->LastError();
        EXPECT_FALSE(vendorId == kProgrammerVendorId && productId == kProgrammerProductId);
        std::array<std::uint8_t, kReportSize> report{};
        EXPECT_NE(device->Read(report.data(), report.size(), 100), HidReadStatus::Failed)
            << info.path << ": " << device->LastError();
    }
    const FindResult found = FindProgrammer(backend);
    EXPECT_EQ(found.device, nullptr);
    EXPECT_TRUE(found.path.empty());

    ProgrammerLink link(backend);
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.OnArrival());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 0u);
}

TEST(WindowsHidBackend, OpenFailuresNameTheCallThePathAndTheSystemReason) {
    WindowsHidBackend backend;
    const std::string path =
        "\\\\?\\hid#vid_0484&pid_1001#9&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    HidOpenError error;
    EXPECT_EQ(backend.Open(path, error), nullptr);
    EXPECT_TRUE(StartsWith(error.reason, "CreateFileW('" + path + "'): ")) << error.reason;
    EXPECT_NE(error.reason.find("(error "), std::string::npos) << error.reason;
    EXPECT_EQ(error.reason.find('\n'), std::string::npos) << error.reason;
    EXPECT_FALSE(error.accessDenied);  // not there: no user's rights are in question
}

// A file that is no HID device: the UTF-8 path reaches the system intact, and every
// HID query fails with its call named instead of the device pretending to work.
TEST(WindowsHidBackend, ANonHidHandleRefusesHidQueriesAndEmptyWrites) {
    const TempFolder folder("marro-windows");
    const fs::path file = folder.Path() / fs::path(u8"прошивка.bin");
    std::ofstream(file, std::ios::binary) << "data";
    HidOpenError error;
    std::unique_ptr<HidDevice> device =
        WindowsHidBackend().Open(Utf8FromWide(file.wstring()), error);
    ASSERT_NE(device, nullptr) << error.reason;

    std::uint16_t vendorId = 1;
    std::uint16_t productId = 2;
    EXPECT_FALSE(device->Attributes(vendorId, productId));
    EXPECT_TRUE(StartsWith(device->LastError(), "HidD_GetAttributes: ")) << device->LastError();
    EXPECT_EQ(vendorId, 1);
    EXPECT_EQ(productId, 2);

    EXPECT_EQ(device->OutputReportLength(), 0u);
    const std::uint8_t report[kReportSize] = {};
    EXPECT_FALSE(device->Write(report, device->OutputReportLength()));
    EXPECT_NE(device->LastError().find("no output report length (HidD_GetPreparsedData: "),
              std::string::npos)
        << device->LastError();
}

// The far end of a named pipe plays the device, so the overlapped transfers, the
// time-out and its cancellation run through the real system calls.
class PipeDevice : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        name_ = "\\\\.\\pipe\\marro-hid-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(counter++);
        server_ = CreateNamedPipeW(WideFromUtf8(name_).c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
        ASSERT_NE(server_, INVALID_HANDLE_VALUE);
        HidOpenError error;
        device_ = WindowsHidBackend().Open(name_, error);
        ASSERT_NE(device_, nullptr) << error.reason;
    }
    void TearDown() override {
        device_.reset();
        if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
    }

    std::vector<std::uint8_t> ServerReads() {
        std::vector<std::uint8_t> bytes(256);
        DWORD got = 0;
        EXPECT_TRUE(
            ReadFile(server_, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr));
        bytes.resize(got);
        return bytes;
    }
    void ServerWrites(const std::array<std::uint8_t, kReportSize>& bytes) {
        DWORD put = 0;
        ASSERT_TRUE(
            WriteFile(server_, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
        ASSERT_EQ(put, bytes.size());
    }

    std::string name_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<HidDevice> device_;
};

TEST_F(PipeDevice, WritesTheWholeReportAndReadsTheAnswerWithItsReportId) {
    HidReport request;
    request.SetRequest(Command::ReadStorage, 0x1FE000, 45);
    request.bytes[64] = 0xA5;
    ASSERT_TRUE(device_->Write(request.bytes.data(), kReportSize)) << device_->LastError();
    EXPECT_TRUE(device_->LastError().empty());
    const std::vector<std::uint8_t> seen = ServerReads();
    EXPECT_EQ(seen, std::vector<std::uint8_t>(request.bytes.begin(), request.bytes.end()));

    std::array<std::uint8_t, kReportSize> answer{};
    for (std::size_t i = 1; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i * 3);
    ServerWrites(answer);
    HidReport report;
    ASSERT_EQ(device_->Read(report.bytes.data(), kReportSize, 2000), HidReadStatus::Ok)
        << device_->LastError();
    EXPECT_EQ(report.bytes, answer);
}

TEST_F(PipeDevice, AReadThatTimesOutIsCancelledAndTheLateAnswerIsReadNextTime) {
    std::array<std::uint8_t, kReportSize> buffer;
    buffer.fill(0xEE);
    EXPECT_EQ(device_->Read(buffer.data(), buffer.size(), 150), HidReadStatus::TimedOut);
    EXPECT_EQ(device_->LastError(), "ReadFile: no answer within 150 ms");
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(buffer[64], 0xEE);

    // A read left pending would swallow this answer into the abandoned request.
    std::array<std::uint8_t, kReportSize> late{};
    late.fill(0x5A);
    late[0] = 0;
    ServerWrites(late);
    ASSERT_EQ(device_->Read(buffer.data(), buffer.size(), 2000), HidReadStatus::Ok)
        << device_->LastError();
    EXPECT_EQ(buffer, late);
    EXPECT_EQ(device_->Read(buffer.data(), buffer.size(), 0), HidReadStatus::TimedOut);
}

TEST_F(PipeDevice, ADeviceThatIsGoneFailsWritesAndReadsWithTheSystemReason) {
    ASSERT_TRUE(DisconnectNamedPipe(server_));
    HidReport report;
    report.SetRequest(Command::QueryVersion, 0, 0);
    EXPECT_FALSE(device_->Write(report.bytes.data(), kReportSize));
    EXPECT_TRUE(StartsWith(device_->LastError(), "WriteFile: ")) << device_->LastError();
    EXPECT_EQ(device_->Read(report.bytes.data(), kReportSize, 2000), HidReadStatus::Failed);
    EXPECT_TRUE(StartsWith(device_->LastError(), "ReadFile: ")) << device_->LastError();
}

// One DEV_BROADCAST_DEVICEINTERFACE_W record with the name in its tail, as the system
// sends it; `size` may claim less than the whole record.
struct InterfaceRecord {
    explicit InterfaceRecord(const std::wstring& name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE) {
        const std::size_t bytes = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                  (name.size() + 1) * sizeof(wchar_t);
        storage.assign((bytes + 7) / 8, 0);
        auto* record = Get();
        record->dbcc_size = static_cast<DWORD>(bytes);
        record->dbcc_devicetype = type;
        std::copy(name.begin(), name.end(), record->dbcc_name);
    }
    DEV_BROADCAST_DEVICEINTERFACE_W* Get() {
        return reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    }
    std::intptr_t Param() { return reinterpret_cast<std::intptr_t>(Get()); }
    std::vector<std::uint64_t> storage;
};

const std::wstring kProgrammerInterface =
    L"\\\\?\\HID#VID_0484&PID_1001#7&2A1B3C4D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

TEST(WindowsDeviceWatcher, ArrivalAndRemovalOfInterfacesCarryTheirPath) {
    InterfaceRecord record(kProgrammerInterface);
    const auto arrival = DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, record.Param());
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->kind, DeviceEvent::Kind::Arrival);
    EXPECT_EQ(arrival->path, Utf8FromWide(kProgrammerInterface));
    const auto removal =
        DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, record.Param());
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(removal->path, arrival->path);

    InterfaceRecord named(L"\\\\?\\hid#Устройство");
    EXPECT_EQ(DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, named.Param())->path,
              "\\\\?\\hid#Устройство");
}

TEST(WindowsDeviceWatcher, OtherMessagesEventsAndRecordsAreIgnored) {
    InterfaceRecord record(kProgrammerInterface);
    EXPECT_FALSE(DeviceEventFromMessage(WM_PAINT, DBT_DEVICEARRIVAL, record.Param()));
    for (WPARAM other : {WPARAM{DBT_DEVICEQUERYREMOVE}, WPARAM{DBT_DEVICEREMOVEPENDING},
                         WPARAM{DBT_DEVNODES_CHANGED}, WPARAM{DBT_CONFIGCHANGED}}) {
        EXPECT_FALSE(DeviceEventFromMessage(WM_DEVICECHANGE, other, record.Param())) << other;
    }
    EXPECT_FALSE(DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
    InterfaceRecord volume(L"E:", DBT_DEVTYP_VOLUME);
    EXPECT_FALSE(DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, volume.Param()));
    record.Get()->dbcc_size = sizeof(DEV_BROADCAST_HDR) - 1;
    EXPECT_FALSE(DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, record.Param()));
}

TEST(WindowsDeviceWatcher, ANameIsNeverReadPastTheRecordsOwnSize) {
    InterfaceRecord record(L"\\\\?\\hid#abcdef");
    const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    record.Get()->dbcc_size = static_cast<DWORD>(nameOffset + 8 * sizeof(wchar_t));
    EXPECT_EQ(DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, record.Param())->path,
              "\\\\?\\hid#");
    record.Get()->dbcc_size = static_cast<DWORD>(nameOffset);
    const auto bare = DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, record.Param());
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->path.empty());
}

// The removal record's path, in other letter case, still closes the programmer.
TEST(WindowsDeviceWatcher, TheRemovalOfTheOpenProgrammerClosesTheLink) {
    SimulatedBackend backend;
    std::wstring lower = kProgrammerInterface;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    backend.AddProgrammer({.path = Utf8FromWide(lower)});
    ProgrammerLink link(backend);
    ASSERT_TRUE(link.Open());

    InterfaceRecord other(
        L"\\\\?\\HID#VID_046D&PID_C31C#1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    const auto unrelated =
        DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, other.Param());
    ASSERT_TRUE(unrelated);
    EXPECT_FALSE(link.OnRemoval(unrelated->path));
    EXPECT_TRUE(link.IsOpen());

    InterfaceRecord record(kProgrammerInterface);
    const auto removal =
        DeviceEventFromMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, record.Param());
    ASSERT_TRUE(removal);
    EXPECT_TRUE(link.OnRemoval(removal->path));
    EXPECT_FALSE(link.IsOpen());
}

TEST(WindowsDeviceWatcher, RegistersAWindowAndSaysWhyAnythingElseFails) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    std::string error;
    EXPECT_TRUE(RegisterHidNotifications(window, error)) << error;
    EXPECT_TRUE(RegisterHidNotifications(window, error)) << error;  // replaces the first
    UnregisterHidNotifications();
    UnregisterHidNotifications();  // nothing left to end

    EXPECT_FALSE(RegisterHidNotifications(nullptr, error));
    EXPECT_TRUE(StartsWith(error, "RegisterDeviceNotificationW: ")) << error;
    EXPECT_GT(error.size(), std::string("RegisterDeviceNotificationW: ").size());
    UnregisterHidNotifications();  // also after a failed registration
    DestroyWindow(window);
}

}  // namespace
#endif  // _WIN32
