#include "ledger/LeasedJob.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "common/TextFormat.h"
#include "common/Translation.h"
#include "ledger/LeaseRules.h"

SerialProduct ProductOfShift(const std::string& name, const CodeShift& shift) {
    SerialProduct product;
    product.name = name;
    product.shiftAddress = shift.shiftAddress;
    product.shiftFormat = shift.shiftFormat;
    product.shiftStep = shift.shiftStep;
    product.firstValue = shift.shiftStart;
    product.lastValue = WidthLastValue(shift.shiftFormat);
    return product;
}

void ApplyLease(JobSettings& settings, const SerialProduct& product, const SerialLease& lease) {
    settings.shift.shiftEnabled = 1;
    settings.shift.shiftAddress = product.shiftAddress;
    settings.shift.shiftStart = static_cast<std::int32_t>(lease.firstValue);
    settings.shift.shiftStep = static_cast<std::int32_t>(product.shiftStep);
    settings.shift.shiftFormat = product.shiftFormat;
    settings.countLimit = true;
    settings.countLimitText = std::to_string(lease.count);
}

std::string StationName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

std::string LeaseBlockText(const SerialLease& lease, std::int64_t step) {
    const long long last = lease.firstValue + (lease.count - 1) * step;
    return Format(Tr(kLeaseBlockFormat), static_cast<long long>(lease.firstValue), last,
                  static_cast<long long>(lease.used));
}
