#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

struct CodeShift;
class FirmwareDialogSession;
class ProgrammerLink;
class UiDispatcher;

// Each dialog's state while it runs, kept in the window: the pointer its creation passed
// (WM_INITDIALOG's lParam); null for the messages that come before that one.
template <typename State>
State* DialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The main dialog's modal dialogs on Windows, each run with the main dialog as parent.

// Device information (template 100): the version line and the device ID as they stand
// when it opens; `identity` names the programmer on a line of its own when several are
// attached, empty otherwise.
void RunAboutDialog(HINSTANCE instance, HWND parent, std::uint32_t programmerVersion,
                    std::uint32_t connectionCode, const std::string& identity);
// The manual (template 131): pinout, connector picture, LED signals.
void RunManualDialog(HINSTANCE instance, HWND parent);
// The start address of a raw binary file (template 133); nullopt when cancelled.
std::optional<std::uint32_t> RunAddressDialog(HINSTANCE instance, HWND parent);
// The device ID a remote job file is addressed to (template 139); 0 makes none.
std::uint32_t RunSerNumDialog(HINSTANCE instance, HWND parent);
// The code shift (template 136): shows `shift` and writes it on an OK that the form takes.
void RunOptionsDialog(HINSTANCE instance, HWND parent, CodeShift& shift);
// The firmware update of the programmer on `link` (template 135); its worker's calls come
// through `dispatcher`. `open` points at the dialog's session while the dialog runs.
void RunFirmwareDialog(HINSTANCE instance, HWND parent, ProgrammerLink& link,
                       UiDispatcher& dispatcher, const FirmwareDialogSession*& open);
