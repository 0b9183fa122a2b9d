#pragma once
#include <array>
#include <string>

#include "common/Translation.h"
#include "job/JobHeader.h"

// The options dialog's texts, whatever window draws it.
inline constexpr const char* kOptionsCaptionText = N_("Опции");
inline constexpr const char* kOptionsGroupText = N_("Прошивка со сдвигом кода");
inline constexpr const char* kOptionsEnableText = N_("Включить");
inline constexpr const char* kOptionsAddressText = N_("Адресс:");
inline constexpr const char* kOptionsStartText = N_("Начальный адресс:");
inline constexpr const char* kOptionsStepText = N_("Шаг:");
inline constexpr const char* kOptionsWidthText = N_("Ширина:");
inline constexpr const char* kOptionsTypeText = N_("Тип:");
inline constexpr const char* kOptionsOkText = N_("Применить");
inline constexpr const char* kOptionsCancelText = N_("Отмена");
inline constexpr const char* kOptionsSerialsText = N_("Серийные номера из журнала");
inline constexpr const char* kOptionsProductText = N_("Изделие:");
inline constexpr const char* kOptionsLedgerText = N_("Журнал:");
inline constexpr std::array<const char*, 4> kShiftWidthTexts = {"1 Byte", "2 Byte", "3 Byte",
                                                                "4 Byte"};
// The first type entry ends in one EN QUAD.
inline constexpr std::array<const char*, 2> kShiftTypeTexts = {"Low\u2000", "High"};

// The code-shift fields of the options dialog as the user left them: the edits' texts and
// the lists' selections (-1: none).
struct CodeShiftFields {
    bool enabled = false;
    std::string address;  // hexadecimal digits
    std::string start;    // decimal, signed
    std::string step;
    int widthIndex = 0;
    int typeIndex = 0;
};

// What the dialog shows of the members when it opens.
CodeShiftFields FieldsOfCodeShift(const CodeShift& shift);

// OK: takes the fields into `shift` and returns nullptr, or refuses the address and
// returns the refusal's msgid with the other members unchanged. shiftEnabled is taken
// before the check, so a refused OK followed by Cancel keeps it; start, step and format
// are taken also while code shift is off, so OK always applies what is shown.
const char* ApplyCodeShiftFields(const CodeShiftFields& fields, CodeShift& shift);
