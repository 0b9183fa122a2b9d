#include "win/WinText.h"

#include <vector>

#include "common/Translation.h"
#include "common/WideText.h"
#include "session/MainDialogTexts.h"

std::wstring Wide(std::string_view utf8) { return WideFromUtf8(utf8); }

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return Utf8FromWide(text);
}

void SetWindowTextUtf8(HWND window, std::string_view utf8) {
    SetWindowTextW(window, Wide(utf8).c_str());
}

namespace {

void TranslateWindowText(HWND window) {
    const std::string original = WindowText(window);
    if (original.empty()) return;
    const std::string shown = Tr(std::string_view(original));
    if (shown != original) SetWindowTextUtf8(window, shown);
}

BOOL CALLBACK TranslateChild(HWND child, LPARAM) {
    // Only a dialog's own controls: a combo box's edit or a list view's header are
    // parts of their control.
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    const std::wstring_view kind(className);
    if (kind == L"Button" || kind == L"Static") TranslateWindowText(child);
    return TRUE;
}

}  // namespace

void TranslateTemplate(HWND dialog) {
    TranslateWindowText(dialog);
    EnumChildWindows(dialog, TranslateChild, 0);
}

void TranslateMenu(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t buffer[256] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STRING | MIIM_SUBMENU | MIIM_FTYPE;
        item.dwTypeData = buffer;
        item.cch = 255;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) continue;
        if (item.hSubMenu != nullptr) TranslateMenu(item.hSubMenu);
        if (item.fType & MFT_SEPARATOR) continue;
        const std::string original = Utf8FromWide(buffer);
        const std::string shown = Tr(std::string_view(original));
        if (shown == original) continue;
        std::wstring text = Wide(shown);
        MENUITEMINFOW changed{};
        changed.cbSize = sizeof(changed);
        changed.fMask = MIIM_STRING;
        changed.dwTypeData = text.data();
        SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &changed);
    }
}

void ShowSystemBox(HWND owner, MessageIcon icon, std::string_view text) {
    UINT style = MB_OK;
    switch (icon) {
        case MessageIcon::Error:
            style |= MB_ICONERROR;
            break;
        case MessageIcon::Exclamation:
            style |= MB_ICONEXCLAMATION;
            break;
        case MessageIcon::Question:
            style |= MB_ICONQUESTION;
            break;
    }
    MessageBoxW(owner, Wide(text).c_str(), Wide(kTextSystemCaption).c_str(), style);
}

bool AskYesNo(HWND owner, std::string_view caption, std::string_view text, bool defaultNo) {
    const UINT style = MB_YESNO | MB_ICONQUESTION | (defaultNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
    return MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), style) == IDYES;
}
