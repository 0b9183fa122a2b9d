#include "win/Dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "common/TextFormat.h"
#include "common/Translation.h"
#include "image/FileLoading.h"
#include "job/CodeShiftForm.h"
#include "link/VersionText.h"
#include "remote/GenerateRemoteJobFile.h"
#include "session/DeviceInformation.h"
#include "update/FirmwareDialogSession.h"
#include "win/WinText.h"
#include "win/resource.h"

namespace {

// The text of the manual's support-contact line.
constexpr const char* kManualSupportLine = N_("Link: обратитесь к поставщику");
// The USB line's height and the margin below it, in dialog units.
constexpr int kUsbLineBottom = 62;
constexpr int kBottomMargin = 5;

// Escape and the close box end every one of these dialogs as Cancel.
bool Cancelled(HWND dialog, UINT message, WPARAM wParam) {
    if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
        EndDialog(dialog, IDCANCEL);
        return true;
    }
    return false;
}

struct AboutState {
    std::uint32_t programmerVersion;
    std::uint32_t connectionCode;
    const std::string* identity;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AboutState* state = DialogState<AboutState>(dialog, message, lParam);
    if (message == WM_INITDIALOG) {
        TranslateTemplate(dialog);
        SetWindowTextUtf8(GetDlgItem(dialog, IDC_VERSION_LINE),
                          ProgrammerVersionText(state->programmerVersion));
        SetWindowTextUtf8(GetDlgItem(dialog, IDC_DEVICE_ID), DeviceIdOf(state->connectionCode));
        if (!state->identity->empty()) {
            SetWindowTextUtf8(GetDlgItem(dialog, IDC_IDENTITY), *state->identity);
            ShowWindow(GetDlgItem(dialog, IDC_USB_LABEL), SW_SHOW);
            ShowWindow(GetDlgItem(dialog, IDC_IDENTITY), SW_SHOW);
            // The dialog grows by the USB line.
            RECT client{0, 0, 183, kUsbLineBottom + kBottomMargin};
            MapDialogRect(dialog, &client);
            const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE));
            AdjustWindowRectEx(&client, style, FALSE, 0);
            SetWindowPos(dialog, nullptr, 0, 0, client.right - client.left,
                         client.bottom - client.top, SWP_NOMOVE | SWP_NOZORDER);
        }
        return TRUE;
    }
    if (Cancelled(dialog, message, wParam)) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK ManualProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        TranslateTemplate(dialog);
        // The frame becomes the picture.
        HWND picture = GetDlgItem(dialog, IDC_CONNECTOR_PICTURE);
        auto* bitmap = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                       MAKEINTRESOURCEW(IDB_CONNECTOR),
                                                       IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (bitmap != nullptr) {
            LONG_PTR style = GetWindowLongPtrW(picture, GWL_STYLE);
            style = (style & ~LONG_PTR{SS_TYPEMASK}) | SS_BITMAP | SS_NOTIFY;
            SetWindowLongPtrW(picture, GWL_STYLE, style);
            SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
        InvalidateRect(dialog, nullptr, TRUE);
        SetWindowTextUtf8(GetDlgItem(dialog, IDC_SUPPORT_LINE), Tr(kManualSupportLine));
        return TRUE;
    }
    if (Cancelled(dialog, message, wParam)) return TRUE;
    return FALSE;
}

// Edits 1014 and 1024 take hexadecimal digits only, shown in upper case.
LRESULT CALLBACK HexEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
    if (message == WM_CHAR) {
        const auto c = static_cast<char32_t>(wParam);
        if (!PassesHexFilter(c)) return 0;
        if (c >= U'a' && c <= U'f') wParam = static_cast<WPARAM>(c - U'a' + U'A');
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, HexEditProc, 1);
    return DefSubclassProc(edit, message, wParam, lParam);
}

struct AddressState {
    std::uint32_t startAddress = 0x08000000;
};

INT_PTR CALLBACK AddressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AddressState* state = DialogState<AddressState>(dialog, message, lParam);
    if (message == WM_INITDIALOG) {
        TranslateTemplate(dialog);
        HWND edit = GetDlgItem(dialog, IDC_ADDRESS_EDIT);
        SetWindowSubclass(edit, HexEditProc, 1, 0);
        SetWindowTextUtf8(edit, Format("%08X", state->startAddress));
        // Focused and selected: typing replaces.
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return FALSE;
    }
    if (Cancelled(dialog, message, wParam)) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        const StartAddressEntry entry = ReadStartAddressEntry(
            WindowText(GetDlgItem(dialog, IDC_ADDRESS_EDIT)), state->startAddress);
        if (entry.refused) {
            ShowSystemBox(dialog, MessageIcon::Exclamation, Tr(kMsgAddressRange));
            return TRUE;
        }
        state->startAddress = entry.address;
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

struct SerNumState {
    std::uint32_t code = 0;
};

INT_PTR CALLBACK SerNumProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SerNumState* state = DialogState<SerNumState>(dialog, message, lParam);
    if (message == WM_INITDIALOG) {
        TranslateTemplate(dialog);
        SetFocus(GetDlgItem(dialog, IDC_REMOTE_CODE));
        return FALSE;
    }
    if (Cancelled(dialog, message, wParam)) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        const auto code = RemoteCodeOfEntry(WindowText(GetDlgItem(dialog, IDC_REMOTE_CODE)));
        if (!code) {
            ShowSystemBox(dialog, MessageIcon::Exclamation, Tr(kMsgBadDeviceId));
            return TRUE;
        }
        state->code = *code;
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

void EnableShiftValues(HWND dialog, bool enabled) {
    for (int id :
         {IDC_SHIFT_ADDRESS, IDC_SHIFT_START, IDC_SHIFT_STEP, IDC_SHIFT_WIDTH, IDC_SHIFT_TYPE}) {
        EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
    }
}

void FillList(HWND list, const auto& entries, int selected) {
    for (const char* entry : entries)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int SelectionOf(HWND list) { return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)); }

// The form decides; the dialog only shows the members and reads its controls back.
INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    CodeShift* shift = DialogState<CodeShift>(dialog, message, lParam);
    if (message == WM_INITDIALOG) {
        TranslateTemplate(dialog);
        const CodeShiftFields fields = FieldsOfCodeShift(*shift);
        HWND address = GetDlgItem(dialog, IDC_SHIFT_ADDRESS);
        SetWindowSubclass(address, HexEditProc, 1, 0);
        SetWindowTextUtf8(address, fields.address);
        SetWindowTextUtf8(GetDlgItem(dialog, IDC_SHIFT_START), fields.start);
        SetWindowTextUtf8(GetDlgItem(dialog, IDC_SHIFT_STEP), fields.step);
        FillList(GetDlgItem(dialog, IDC_SHIFT_WIDTH), kShiftWidthTexts, fields.widthIndex);
        FillList(GetDlgItem(dialog, IDC_SHIFT_TYPE), kShiftTypeTexts, fields.typeIndex);
        CheckDlgButton(dialog, IDC_SHIFT_ENABLE, fields.enabled ? BST_CHECKED : BST_UNCHECKED);
        EnableShiftValues(dialog, fields.enabled);
        return TRUE;
    }
    if (Cancelled(dialog, message, wParam)) return TRUE;
    if (message != WM_COMMAND) return FALSE;
    if (LOWORD(wParam) == IDC_SHIFT_ENABLE && HIWORD(wParam) == BN_CLICKED) {
        EnableShiftValues(dialog, IsDlgButtonChecked(dialog, IDC_SHIFT_ENABLE) == BST_CHECKED);
        return TRUE;
    }
    if (LOWORD(wParam) == IDOK) {
        CodeShiftFields fields;
        fields.enabled = IsDlgButtonChecked(dialog, IDC_SHIFT_ENABLE) == BST_CHECKED;
        fields.address = WindowText(GetDlgItem(dialog, IDC_SHIFT_ADDRESS));
        fields.start = WindowText(GetDlgItem(dialog, IDC_SHIFT_START));
        fields.step = WindowText(GetDlgItem(dialog, IDC_SHIFT_STEP));
        fields.widthIndex = SelectionOf(GetDlgItem(dialog, IDC_SHIFT_WIDTH));
        fields.typeIndex = SelectionOf(GetDlgItem(dialog, IDC_SHIFT_TYPE));
        if (const char* refusal = ApplyCodeShiftFields(fields, *shift)) {
            ShowSystemBox(dialog, MessageIcon::Exclamation, Tr(refusal));
            return TRUE;
        }
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

int ProgressValue(std::uint32_t value) {
    return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX));
}

// Template 135 drawn for the firmware dialog's session. The session is made once the
// controls exist and goes with the window, after the worker has ended: the dialog does
// not close while the update runs.
class FirmwareDialog : public FirmwareDialogView {
public:
    FirmwareDialog(ProgrammerLink& link, UiDispatcher& dispatcher,
                   const FirmwareDialogSession*& open)
        : link_(link), dispatcher_(dispatcher), open_(open) {}

    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        FirmwareDialog* self = DialogState<FirmwareDialog>(dialog, message, lParam);
        return self != nullptr ? self->OnMessage(dialog, message, wParam) : FALSE;
    }

private:
    INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam) {
        switch (message) {
            case WM_INITDIALOG:
                dialog_ = dialog;
                TranslateTemplate(dialog);
                session_ = std::make_unique<FirmwareDialogSession>(link_, *this, dispatcher_);
                open_ = session_.get();
                session_->Start();
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDC_FIRMWARE_UPDATE) session_->Update();
                if (LOWORD(wParam) == IDCANCEL && session_->MayClose()) EndDialog(dialog, IDCANCEL);
                return TRUE;
            case WM_CLOSE:
                if (session_->MayClose()) EndDialog(dialog, IDCANCEL);
                return TRUE;
            case WM_DESTROY:
                open_ = nullptr;
                session_.reset();
                return FALSE;
            default:
                return FALSE;
        }
    }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    // FirmwareDialogView (UI thread).
    void ShowVersionLine(const std::string& line) override {
        SetWindowTextUtf8(Item(IDC_FIRMWARE_LINE), line);
    }
    void SetUpdateEnabled(bool enabled) override {
        EnableWindow(Item(IDC_FIRMWARE_UPDATE), enabled ? TRUE : FALSE);
    }
    // The template offers no file choice: the carried firmware is installed.
    void SetFileChoiceEnabled(bool) override {}
    void ShowChosenFirmware(const std::string&, const std::string&) override {}
    void SetProgressRange(std::uint32_t maximum) override {
        SendMessageW(Item(IDC_FIRMWARE_PROGRESS), PBM_SETRANGE32, 0, ProgressValue(maximum));
    }
    void SetProgressPosition(std::uint32_t position) override {
        SendMessageW(Item(IDC_FIRMWARE_PROGRESS), PBM_SETPOS,
                     static_cast<WPARAM>(ProgressValue(position)), 0);
    }
    void ShowMessage(MessageIcon icon, std::string_view text) override {
        ShowSystemBox(dialog_, icon, text);
    }
    bool AskYesNo(std::string_view caption, std::string_view text) override {
        return ::AskYesNo(dialog_, caption, text, false);
    }
    void UpdateFinished(bool) override {}

    ProgrammerLink& link_;
    UiDispatcher& dispatcher_;
    const FirmwareDialogSession*& open_;
    HWND dialog_ = nullptr;
    std::unique_ptr<FirmwareDialogSession> session_;
};

}  // namespace

void RunAboutDialog(HINSTANCE instance, HWND parent, std::uint32_t programmerVersion,
                    std::uint32_t connectionCode, const std::string& identity) {
    AboutState state{programmerVersion, connectionCode, &identity};
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT_DEVICE), parent, AboutProc,
                    reinterpret_cast<LPARAM>(&state));
}

void RunManualDialog(HINSTANCE instance, HWND parent) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MANUAL), parent, ManualProc, 0);
}

std::optional<std::uint32_t> RunAddressDialog(HINSTANCE instance, HWND parent) {
    AddressState state;
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ADDRESS), parent,
                                           AddressProc, reinterpret_cast<LPARAM>(&state));
    if (result != IDOK) return std::nullopt;
    return state.startAddress;
}

std::uint32_t RunSerNumDialog(HINSTANCE instance, HWND parent) {
    SerNumState state;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SERNUM), parent, SerNumProc,
                    reinterpret_cast<LPARAM>(&state));
    // Whatever button closed it, only the code counts.
    return state.code;
}

void RunOptionsDialog(HINSTANCE instance, HWND parent, CodeShift& shift) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_OPTIONS), parent, OptionsProc,
                    reinterpret_cast<LPARAM>(&shift));
}

void RunFirmwareDialog(HINSTANCE instance, HWND parent, ProgrammerLink& link,
                       UiDispatcher& dispatcher, const FirmwareDialogSession*& open) {
    FirmwareDialog dialog(link, dispatcher, open);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FIRMWARE), parent, FirmwareDialog::Proc,
                    reinterpret_cast<LPARAM>(&dialog));
}
