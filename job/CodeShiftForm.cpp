#include "job/CodeShiftForm.h"

#include <algorithm>

#include "common/NumberText.h"
#include "common/TextFormat.h"

CodeShiftFields FieldsOfCodeShift(const CodeShift& shift) {
    CodeShiftFields fields;
    fields.enabled = (shift.shiftEnabled & 0x01) != 0;
    fields.address = Format("%08x", shift.shiftAddress);
    fields.start = std::to_string(shift.shiftStart);
    fields.step = std::to_string(shift.shiftStep);
    fields.widthIndex = shift.shiftFormat & 0x03;
    fields.typeIndex = (shift.shiftFormat >> 2) & 0x01;
    return fields;
}

const char* ApplyCodeShiftFields(const CodeShiftFields& fields, CodeShift& shift) {
    shift.shiftEnabled = fields.enabled ? 1 : 0;
    const std::uint32_t address = ParseHexNumber(fields.address);
    switch (CheckShiftAddress(fields.address.size(), address)) {
        case ShiftAddressCheck::Taken:
            break;
        case ShiftAddressCheck::OutOfRange:
            return kMsgShiftAddressRange;
        case ShiftAddressCheck::Unaligned:
            return kMsgShiftAddressAlign;
    }
    shift.shiftAddress = address;
    shift.shiftStart = ParseSignedDecimal(fields.start);
    shift.shiftStep = ParseSignedDecimal(fields.step);
    const int width = std::clamp(fields.widthIndex, 0, 3);
    const int type = std::clamp(fields.typeIndex, 0, 1);
    shift.shiftFormat = static_cast<std::uint8_t>(width + 4 * type);
    return nullptr;
}
