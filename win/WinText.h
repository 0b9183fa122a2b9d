#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "worker/WorkerPort.h"

// The Windows window's texts: UTF-8 inside, UTF-16 at the system's calls, translated at
// the face.

std::wstring Wide(std::string_view utf8);
std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, std::string_view utf8);

// A template's texts are the system's original ones: its caption and every control's
// text are shown through Tr, so they follow the chosen language.
void TranslateTemplate(HWND dialog);
// The same for a menu's items and its submenus'.
void TranslateMenu(HMENU menu);

// A message box of the system: its caption of two EN QUADs, OK and the icon.
void ShowSystemBox(HWND owner, MessageIcon icon, std::string_view text);
// A question with Yes and No and the question icon; true for Yes. `defaultNo`: Enter
// answers No.
bool AskYesNo(HWND owner, std::string_view caption, std::string_view text, bool defaultNo);
