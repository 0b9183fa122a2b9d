// marrowdyne.exe as a Windows user drives it, under Wine: the program runs against its
// simulated programmer, and this test, a program of its own, works its window by window
// messages to control ids (no screen positions), reads its controls and list view back
// and answers its message boxes.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/TextFormat.h"
#include "common/WideText.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "job/UploadJob.h"
#include "remote/GenerateRemoteJobFile.h"
#include "session/MainDialogTexts.h"
#include "update/UpdateProgrammerFirmware.h"

namespace {

constexpr auto kTimeout = std::chrono::seconds(30);
// The file name edit of the system's open dialog (edt1) and its combo box (cmb13).
constexpr int kFileNameEdit = 0x480;
constexpr int kFileNameCombo = 0x47C;
// The text of a message box.
constexpr int kMessageBoxText = 0xFFFF;

std::wstring W(std::string_view utf8) { return WideFromUtf8(utf8); }

// A path of the build's Unix side as Windows names it (Wine's drive Z: is the root).
std::filesystem::path WindowsPath(std::string unix) {
    for (char& c : unix) {
        if (c == '/') c = '\\';
    }
    return std::filesystem::path(W(unix.starts_with('\\') ? "Z:" + unix : unix));
}

std::string Text(HWND window) {
    wchar_t buffer[4096] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        5000, &copied);
    return Utf8FromWide(buffer);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The window as the screen shows it, into a 24-bit BMP file. Returns false when it could not
// be drawn or written.
bool SaveWindowPicture(HWND window, const std::filesystem::path& file) {
    RECT frame{};
    if (!GetWindowRect(window, &frame)) return false;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file holds its rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // From the screen: another process's window cannot be asked to draw into this one's
    // device context.
    const bool drawn =
        BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY) != FALSE;
    GdiFlush();
    const DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageBytes;
    bool written = false;
    if (drawn) {
        if (FILE* out = _wfopen(file.wstring().c_str(), L"wb")) {
            written = fwrite(&header, sizeof(header), 1, out) == 1 &&
                      fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
                      fwrite(bits, imageBytes, 1, out) == 1;
            written = fclose(out) == 0 && written;
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

// With MARRO_WINDOW_PICTURES set to a folder (a Windows path), the tests leave pictures
// of the dialogs they open there, for the documentation.
void KeepPicture(HWND window, const char* name) {
    if (const char* folder = std::getenv("MARRO_WINDOW_PICTURES")) {
        // A dialog just shown may not have painted its frame and controls yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(SaveWindowPicture(window, std::filesystem::path(folder) / name)) << name;
    }
}

// Polls until `found` gives a window, or fails the test.
HWND WaitFor(const std::function<HWND()>& found, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kTimeout;
    while (std::chrono::steady_clock::now() < end) {
        if (HWND window = found()) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "no " << what << " within " << kTimeout.count() << " s";
    if (const char* folder = std::getenv("MARRO_WINDOW_DEBUG")) {
        // What the screen showed instead, for the one who reads the failure.
        SaveWindowPicture(GetDesktopWindow(), std::filesystem::path(folder) / "failure.bmp");
    }
    return nullptr;
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + kTimeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The program under test, started with its options and ended with the test.
class Program {
public:
    explicit Program(const std::vector<std::string>& options) {
        std::wstring line = L"\"" + WindowsPath(MARRO_WINDOW_PATH).wstring() + L"\" --simulate";
        for (const std::string& option : options) line += L" \"" + W(option) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_)) {
            ADD_FAILURE() << "CreateProcessW: " << GetLastError();
            return;
        }
        main_ = WaitFor([this] { return Dialog([](HWND w) { return Item(w, 1001) != nullptr; }); },
                        "main dialog");
    }
    ~Program() {
        if (process_.hProcess == nullptr) return;
        if (main_ != nullptr) PostMessageW(main_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 1);
            ADD_FAILURE() << "the program did not end when its window was closed";
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    HWND Main() const { return main_; }
    static HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

    // A visible dialog of the program's that `matches`.
    HWND Dialog(const std::function<bool(HWND)>& matches) const {
        struct Search {
            DWORD pid;
            const std::function<bool(HWND)>* matches;
            HWND found;
        } search{process_.dwProcessId, &matches, nullptr};
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD pid = 0;
                GetWindowThreadProcessId(window, &pid);
                if (pid != s->pid || !IsWindowVisible(window) || ClassOf(window) != L"#32770")
                    return TRUE;
                if (!(*s->matches)(window)) return TRUE;
                s->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // A message box of the system's caption: its text, once it is answered with OK.
    std::string TakeMessage() const {
        HWND box = WaitFor(
            [this] {
                return Dialog([](HWND w) {
                    return Item(w, kMessageBoxText) != nullptr &&
                           Text(w) == std::string(kTextSystemCaption);
                });
            },
            "message box");
        if (box == nullptr) return std::string();
        const std::string text = Text(Item(box, kMessageBoxText));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntil([box] { return !IsWindow(box); });
        return text;
    }

    void Command(int id) const {
        PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(main_, id)));
    }

    // The file name edit: edt1 itself, or the edit inside the combo box cmb13.
    static HWND FileNameEdit(HWND open) {
        HWND found = nullptr;
        EnumChildWindows(
            open,
            [](HWND child, LPARAM data) -> BOOL {
                const int id = GetDlgCtrlID(child);
                if (ClassOf(child) != L"Edit" || (id != kFileNameEdit && id != kFileNameCombo))
                    return TRUE;
                *reinterpret_cast<HWND*>(data) = child;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }

    // Open (command 3), the path typed into the system's open dialog, OK. `loads`: the
    // file loads without a question, so its path shows once it has.
    void OpenFile(const std::filesystem::path& path, bool loads = true) const {
        Command(3);
        ChooseInFileDialog(path);
        // The load runs once the dialog has gone; a loaded file shows its path.
        if (loads)
            WaitUntil([&] { return Text(Item(main_, 1007)) == Utf8FromWide(path.wstring()); });
    }

    // The path typed into the system's open or save dialog that shows, then OK.
    void ChooseInFileDialog(const std::filesystem::path& path) const {
        HWND open = WaitFor(
            [this] {
                return Dialog([](HWND w) {
                    return Item(w, kFileNameEdit) != nullptr || Item(w, kFileNameCombo) != nullptr;
                });
            },
            "file dialog");
        if (open == nullptr) return;
        HWND edit = FileNameEdit(open);
        ASSERT_NE(edit, nullptr) << "the file dialog has no file name edit";
        // Typed as a user types it, one character after the other.
        const std::string typed = Utf8FromWide(path.wstring());
        for (wchar_t c : path.wstring()) PostMessageW(edit, WM_CHAR, c, 1);
        if (!WaitUntil([&] { return Text(edit) == typed; }))
            ADD_FAILURE() << "the file name edit shows '" << Text(edit) << "'";
        PostMessageW(open, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([open] { return !IsWindow(open); })) << "the file dialog stays";
    }

    // Row `row` of a list view of the program's, selected as a click selects it.
    void SelectRow(HWND list, int row) const {
        void* remote =
            VirtualAllocEx(process_.hProcess, nullptr, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE);
        ASSERT_NE(remote, nullptr);
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        WriteProcessMemory(process_.hProcess, remote, &item, sizeof(item), nullptr);
        SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote));
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    }

    bool Enabled(int id) const { return IsWindowEnabled(Item(main_, id)) != FALSE; }

    // A dialog of the program's by its caption, once it shows.
    HWND WaitForDialog(const std::string& caption) const {
        return WaitFor([&] { return Dialog([&](HWND w) { return Text(w) == caption; }); },
                       caption.c_str());
    }

    // The dialog a menu command opens.
    HWND Open(int command, const std::string& caption) const {
        Command(command);
        return WaitForDialog(caption);
    }

    // The job list's rows, read from the program's memory.
    JobDescription JobRows() const {
        JobDescription rows;
        for (const std::vector<std::string>& cells : Cells(Item(main_, 1009), 2))
            rows.push_back({cells[0], cells[1]});
        return rows;
    }

    // The first `columns` cells of each row of a list view of the program's.
    std::vector<std::vector<std::string>> Cells(HWND list, int columns) const {
        std::vector<std::vector<std::string>> rows;
        const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        constexpr std::size_t kChars = 512;
        const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
        void* remote = VirtualAllocEx(process_.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (remote == nullptr) return rows;
        auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
        for (int i = 0; i < count; ++i) {
            std::vector<std::string> cells(static_cast<std::size_t>(columns));
            for (int column = 0; column < columns; ++column) {
                LVITEMW item{};
                item.iSubItem = column;
                item.pszText = remoteText;
                item.cchTextMax = kChars;
                WriteProcessMemory(process_.hProcess, remote, &item, sizeof(item), nullptr);
                SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(remote));
                wchar_t text[kChars] = {};
                ReadProcessMemory(process_.hProcess, remoteText, text, sizeof(text) - 2, nullptr);
                cells[static_cast<std::size_t>(column)] = Utf8FromWide(text);
            }
            rows.push_back(std::move(cells));
        }
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        return rows;
    }

private:
    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr;
};

std::string Row(const JobDescription& rows, const char* label) {
    for (const JobDescriptionRow& row : rows) {
        if (row.label == label) return row.value;
    }
    return "(no row " + std::string(label) + ")";
}

const std::filesystem::path kSample = WindowsPath(MARRO_SOURCE_DIR "/samples/blink-f103.hex");

// Menu commands of menu 129.
constexpr int kCommandFirmwareUpdate = 32777;
constexpr int kCommandOptions = 32784;
constexpr int kCommandManual = 32775;
constexpr int kCommandAboutDevice = 32774;

// Typed as a user types: one character after the other, into an emptied edit.
void Retype(HWND edit, std::wstring_view text) {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t c : text) PostMessageW(edit, WM_CHAR, c, 1);
}

// Cancel, or the close box, and the dialog has gone.
bool Dismiss(HWND dialog, bool closeBox = false) {
    if (closeBox)
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    else
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    return WaitUntil([dialog] { return !IsWindow(dialog); });
}

bool Checked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

int Selected(HWND list) { return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)); }

// The identification has ended once it has described what the programmer stores.
bool WaitForIdentification(const Program& program) {
    return WaitUntil([&] {
        return SendMessageW(Program::Item(program.Main(), 1009), LVM_GETITEMCOUNT, 0, 0) > 0;
    });
}

// The road of one job: open, Program, the success message, the job read back.
TEST(WindowsWindow, OpensProgramsAndShowsTheStoredJob) {
    Program program({});
    ASSERT_NE(program.Main(), nullptr);
    EXPECT_EQ(Text(program.Main()), "Offline загрузчик Тавролинк");
    EXPECT_FALSE(program.Enabled(4));
    // The simulated programmer is found and listed once the dialog runs.
    EXPECT_TRUE(WaitUntil(
        [&] { return SendMessageW(Program::Item(program.Main(), 1000), CB_GETCOUNT, 0, 0) == 1; }));
    program.OpenFile(kSample);
    EXPECT_EQ(Text(Program::Item(program.Main(), 1007)), Utf8FromWide(kSample.wstring()));
    ASSERT_TRUE(program.Enabled(4));
    EXPECT_TRUE(program.Enabled(6));
    // Series STM32F1XX, as the file is built for.
    SendMessageW(Program::Item(program.Main(), 1001), CB_SETCURSEL, 1, 0);
    program.Command(4);
    EXPECT_EQ(program.TakeMessage(), std::string(kUploadDoneText));
    EXPECT_TRUE(program.Enabled(4));
    const JobDescription rows = program.JobRows();
    EXPECT_EQ(Row(rows, kRowName), "blink-f103.hex");
    EXPECT_EQ(Row(rows, kRowSeries), "STM32F1XX");
    EXPECT_EQ(Row(rows, kRowAddress), "0x08000000");
    KeepPicture(program.Main(), "main-window-windows.bmp");
}

// A programmer whose checksum disagrees: the upload's own texts in the system's box.
TEST(WindowsWindow, ShowsAFaultInTheSystemsMessageBox) {
    Program program({"--sim-fault", "StorageCrc:crc"});
    ASSERT_NE(program.Main(), nullptr);
    // The buttons wait for the identification, which may end after the load.
    ASSERT_TRUE(WaitForIdentification(program));
    program.OpenFile(kSample);
    SendMessageW(Program::Item(program.Main(), 1001), CB_SETCURSEL, 1, 0);
    ASSERT_TRUE(program.Enabled(4));
    program.Command(4);
    // The job is committed last: the programmer is left without one, and says so.
    EXPECT_EQ(program.TakeMessage(),
              std::string(kVerifyMismatchText) + "\n" + std::string(kNoStoredJobText));
    EXPECT_TRUE(program.Enabled(4));
}

// Button 6: the device ID dialog refuses a short ID, takes eight digits, and the file is
// written where the message says.
TEST(WindowsWindow, MakesARemoteFileForTheDeviceIdGiven) {
    Program program({});
    ASSERT_NE(program.Main(), nullptr);
    // The buttons wait for the identification, which may end after the load.
    ASSERT_TRUE(WaitForIdentification(program));
    program.OpenFile(kSample);
    ASSERT_TRUE(program.Enabled(6));
    program.Command(6);
    const auto serNum = [&] {
        return program.Dialog([](HWND w) { return Text(w) == "SN Устройства"; });
    };
    HWND dialog = WaitFor(serNum, "device ID dialog");
    ASSERT_NE(dialog, nullptr);
    KeepPicture(dialog, "sernum-windows.bmp");
    SendMessageW(Program::Item(dialog, 1032), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1234"));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.TakeMessage(), std::string(kMsgBadDeviceId));
    SendMessageW(Program::Item(dialog, 1032), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"0A1B2C3D"));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    const std::string message = program.TakeMessage();
    const std::string prefix = Format(kMsgRemoteGenerated, "");
    ASSERT_EQ(message.substr(0, prefix.size()), prefix) << message;
    const std::filesystem::path written(W(message.substr(prefix.size())));
    EXPECT_EQ(written.extension(), ".qvz");
    EXPECT_TRUE(std::filesystem::exists(written)) << written;
    std::error_code ignored;
    std::filesystem::remove(written, ignored);
}

// Dialog 136 by its menu command: an unaligned address is refused and the dialog stays;
// Cancel then keeps every member but the check box's. What is typed next goes into the
// stored job's code shift.
TEST(WindowsWindow, TakesTheOptionsDialogsCodeShiftIntoTheJob) {
    Program program({});
    ASSERT_NE(program.Main(), nullptr);
    ASSERT_TRUE(WaitForIdentification(program));
    program.OpenFile(kSample);
    SendMessageW(Program::Item(program.Main(), 1001), CB_SETCURSEL, 1, 0);
    HWND dialog = nullptr;
    const auto item = [&dialog](int id) { return Program::Item(dialog, id); };
    dialog = program.Open(kCommandOptions, "Опции");
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Checked(item(1022)));
    EXPECT_EQ(Text(item(1024)), "08004000");
    EXPECT_EQ(Text(item(1025)), "0");
    EXPECT_EQ(Text(item(1026)), "1");
    EXPECT_EQ(Selected(item(1027)), 3);
    EXPECT_EQ(Selected(item(1001)), 0);
    EXPECT_FALSE(IsWindowEnabled(item(1024)));
    PostMessageW(item(1022), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(item(1024)) != FALSE; }));
    KeepPicture(dialog, "options-windows.bmp");
    // Hexadecimal digits only, letters in upper case.
    Retype(item(1024), L"8001ffx2");
    ASSERT_TRUE(WaitUntil([&] { return Text(item(1024)) == "8001FF2"; })) << Text(item(1024));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.TakeMessage(), std::string(kMsgShiftAddressAlign));
    EXPECT_TRUE(IsWindowVisible(dialog));
    ASSERT_TRUE(Dismiss(dialog));

    dialog = program.Open(kCommandOptions, "Опции");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Checked(item(1022)));
    EXPECT_EQ(Text(item(1024)), "08004000");
    Retype(item(1024), L"8001ff0");
    // The number edits take digits only.
    Retype(item(1025), L"1x00");
    Retype(item(1026), L"5");
    SendMessageW(item(1027), CB_SETCURSEL, 1, 0);
    SendMessageW(item(1001), CB_SETCURSEL, 1, 0);
    ASSERT_TRUE(WaitUntil([&] {
        return Text(item(1024)) == "8001FF0" && Text(item(1025)) == "100" &&
               Text(item(1026)) == "5";
    })) << Text(item(1025));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    // The lists' choices are kept, though the job description does not show them.
    dialog = program.Open(kCommandOptions, "Опции");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Text(item(1024)), "08001ff0");
    EXPECT_EQ(Selected(item(1027)), 1);
    EXPECT_EQ(Selected(item(1001)), 1);
    ASSERT_TRUE(Dismiss(dialog));

    program.Command(4);
    EXPECT_EQ(program.TakeMessage(), std::string(kUploadDoneText));
    EXPECT_EQ(Row(program.JobRows(), kRowCodeShift), "地址:0x8001ff0 起始:100 数值:100 步进:5");
}

// Dialog 135 by its menu command: the installed version, button 3 installs the carried
// firmware, Cancel is refused while that runs, and the dialog shows the new version.
TEST(WindowsWindow, UpdatesTheProgrammersFirmware) {
    // Slow exchanges, so that the update is seen running.
    Program program({"--sim-latency-us", "20000"});
    ASSERT_NE(program.Main(), nullptr);
    ASSERT_TRUE(WaitForIdentification(program));
    HWND dialog = program.Open(kCommandFirmwareUpdate, "Обновление ПО");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Text(Program::Item(dialog, 1031)), "Frimware:2.10");
    KeepPicture(dialog, "firmware-windows.bmp");
    HWND update = Program::Item(dialog, 3);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), reinterpret_cast<LPARAM>(update));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(update); }));
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(program.TakeMessage(), std::string(kMsgFirmwareUpdated));
    ASSERT_TRUE(IsWindow(dialog)) << "Cancel closed the dialog while the update ran";
    EXPECT_EQ(Text(Program::Item(dialog, 1031)), "Frimware:2.20");
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(update) != FALSE; }));
    EXPECT_TRUE(Dismiss(dialog));
}

// The dialogs that only show: device information, the manual, and the start address a
// raw file asks for, which the stored job then starts at.
TEST(WindowsWindow, ShowsDeviceInformationManualAndStartAddress) {
    Program program({});
    ASSERT_NE(program.Main(), nullptr);
    ASSERT_TRUE(WaitForIdentification(program));
    HWND about = program.Open(kCommandAboutDevice, "Устройство");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(Text(Program::Item(about, 1012)), "Version:10.02");
    KeepPicture(about, "device-windows.bmp");
    ASSERT_TRUE(Dismiss(about));

    HWND manual = program.Open(kCommandManual, "Руководство");
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(Text(Program::Item(manual, 1033)), "Link: обратитесь к поставщику");
    KeepPicture(manual, "manual-windows.bmp");
    ASSERT_TRUE(Dismiss(manual, true));

    const std::filesystem::path raw = std::filesystem::temp_directory_path() / L"window-raw.bin";
    {
        FILE* out = _wfopen(raw.wstring().c_str(), L"wb");
        ASSERT_NE(out, nullptr);
        const unsigned char bytes[64] = {0x00, 0x50, 0x00, 0x20, 0x41, 0x20, 0x00, 0x08};
        fwrite(bytes, sizeof(bytes), 1, out);
        fclose(out);
    }
    program.OpenFile(raw, false);
    HWND address = program.WaitForDialog("Начальный адрес");
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(Text(Program::Item(address, 1014)), "08000000");
    KeepPicture(address, "address-windows.bmp");
    SendMessageW(Program::Item(address, 1014), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"08002000"));
    PostMessageW(address, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(address); }));
    EXPECT_TRUE(WaitUntil(
        [&] { return Text(Program::Item(program.Main(), 1007)) == Utf8FromWide(raw.wstring()); }));
    SendMessageW(Program::Item(program.Main(), 1001), CB_SETCURSEL, 1, 0);
    ASSERT_TRUE(program.Enabled(4));
    program.Command(4);
    EXPECT_EQ(program.TakeMessage(), std::string(kUploadDoneText));
    EXPECT_EQ(Row(program.JobRows(), kRowAddress), "0x08002000");
    std::error_code ignored;
    std::filesystem::remove(raw, ignored);
}

// The shelf of four programmers, the third with a write refused: store into all, then what
// the rows, the counters and the log pane say, and the demo menu's unplug of one of them.
TEST(WindowsWindow, StoresIntoAllProgrammersOfTheShelf) {
    // The panel beside the main controls and its controls; the demo menu's item of the
    // last programmer and the shelf's item.
    constexpr int kPanel = 1200;
    constexpr int kTiles = 1202;
    constexpr int kStoreAll = 1203;
    constexpr int kBackUp = 1205;
    constexpr int kCounters = 1206;
    constexpr int kLog = 1208;
    constexpr int kDemoFourth = 32903;
    constexpr int kShelfItem = 32810;
    constexpr int kLogFileItem = 32811;
    // The rows' columns: serial, path, job, series, checksum, code shift, state, message.
    constexpr int kColumns = 8;
    constexpr std::size_t kJob = 2, kState = 6, kMessage = 7;
    Program program({"4", "--sim-latency-us", "10000", "--sim-fault", "2:WriteStorage:status@5"});
    ASSERT_NE(program.Main(), nullptr);
    // Several programmers open the shelf by themselves, a row each.
    HWND panel = Program::Item(program.Main(), kPanel);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(panel) != FALSE; }));
    HWND tiles = Program::Item(panel, kTiles);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageW(tiles, LVM_GETITEMCOUNT, 0, 0) == 4; }));
    // The log file, chosen once through the menu's save dialog.
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::filesystem::path logFile = folder / L"window-shelf.log";
    const std::filesystem::path backup = folder / L"window-shelf-backup.hex";
    std::filesystem::remove(logFile);
    std::filesystem::remove(backup);
    PostMessageW(program.Main(), WM_COMMAND, MAKEWPARAM(kLogFileItem, 0), 0);
    program.ChooseInFileDialog(logFile);
    program.OpenFile(kSample);
    SendMessageW(Program::Item(program.Main(), 1001), CB_SETCURSEL, 1, 0);
    PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kStoreAll, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Program::Item(panel, kStoreAll)));
    const auto storing = [&] {
        for (const auto& row : program.Cells(tiles, kColumns)) {
            if (row[kState].starts_with("Запись")) return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitUntil(storing));
    // The file and the settings are held while the shelf writes.
    EXPECT_FALSE(program.Enabled(3));
    EXPECT_FALSE(program.Enabled(1001));
    HWND log = Program::Item(panel, kLog);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageW(log, LVM_GETITEMCOUNT, 0, 0) == 4; }));
    EXPECT_TRUE(WaitUntil([&] { return program.Enabled(3); }));

    const std::vector<std::vector<std::string>> rows = program.Cells(tiles, kColumns);
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t tile : {0u, 1u, 3u}) {
        EXPECT_EQ(rows[tile][kJob], "blink-f103.hex") << tile;
        EXPECT_EQ(rows[tile][kState], "Задание записано") << tile;
    }
    EXPECT_EQ(rows[2][kState], "Ошибка");
    EXPECT_EQ(rows[2][kMessage], std::string(kUploadFailedTexts[14]));
    EXPECT_EQ(Text(Program::Item(panel, kCounters)), "Записано: 3   Ошибок: 1   Проверено: 0");
    // The log pane: a line for each programmer, the failed one's by its exit code's name.
    std::vector<std::string> results;
    for (const auto& line : program.Cells(log, 4)) results.push_back(line[2]);
    EXPECT_EQ(std::count(results.begin(), results.end(), "Success"), 3) << results.size();
    KeepPicture(program.Main(), "shelf-windows.bmp");
    // The log file holds the pane's records: one per programmer, by its serial.
    std::vector<std::string> logged;
    std::ifstream in(logFile);
    for (std::string line; std::getline(in, line);) logged.push_back(line);
    ASSERT_EQ(logged.size(), 4u);
    for (const auto& line : program.Cells(log, 2)) {
        EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                                [&](const std::string& record) {
                                    return record.find("\"serial\":\"" + line[1] + "\"") !=
                                           std::string::npos;
                                }),
                  1)
            << line[1];
    }

    // Back up the second programmer's job through the save dialog: a HEX file of it.
    program.SelectRow(tiles, 1);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Program::Item(panel, kBackUp)) != FALSE; }));
    PostMessageW(panel, WM_COMMAND, MAKEWPARAM(kBackUp, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Program::Item(panel, kBackUp)));
    program.ChooseInFileDialog(backup);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageW(log, LVM_GETITEMCOUNT, 0, 0) == 5; }));
    std::ifstream hex(backup);
    std::string first;
    ASSERT_TRUE(std::getline(hex, first)) << "no back-up file";
    EXPECT_EQ(first.front(), ':') << first;
    EXPECT_EQ(program.Cells(log, 3).back()[2], "Success");

    // The demo menu's item of the fourth programmer unplugs it: its row says so.
    PostMessageW(program.Main(), WM_COMMAND, MAKEWPARAM(kDemoFourth, 0), 0);
    EXPECT_TRUE(WaitUntil([&] {
        const auto now = program.Cells(tiles, kColumns);
        return now.size() == 4 && now[3][kState] == "Отключён";
    }));

    // The shelf's menu item leads back to the single programmer's window, as narrow as
    // before, whose list 1000 has the three programmers still attached.
    RECT wide{};
    GetWindowRect(program.Main(), &wide);
    PostMessageW(program.Main(), WM_COMMAND, MAKEWPARAM(kShelfItem, 0), 0);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(panel) == FALSE; }));
    RECT narrow{};
    GetWindowRect(program.Main(), &narrow);
    EXPECT_LT(narrow.right - narrow.left, wide.right - wide.left);
    EXPECT_TRUE(WaitUntil(
        [&] { return SendMessageW(Program::Item(program.Main(), 1000), CB_GETCOUNT, 0, 0) == 3; }));
}

}  // namespace
