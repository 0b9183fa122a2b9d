#include "ledger/LeaseRules.h"

#include <cinttypes>
#include <limits>

#include "common/TextFormat.h"

namespace {

constexpr std::int64_t kHeaderMax = std::numeric_limits<std::int32_t>::max();

std::string Hex(std::uint32_t value) { return Format("0x%08" PRIX32, value); }

}  // namespace

std::int64_t WidthLastValue(std::uint8_t shiftFormat) {
    const int bytes = (shiftFormat & 0x03) + 1;
    if (bytes == 4) return kHeaderMax;
    return (std::int64_t{1} << (8 * bytes)) - 1;
}

bool CheckProduct(const SerialProduct& product, std::string& error) {
    if (product.name.empty()) {
        error = "a product needs a name";
    } else if (product.shiftAddress % 4 != 0) {
        error = Format("the code-shift address %s of product '%s' is not a multiple of 4",
                       Hex(product.shiftAddress).c_str(), product.name.c_str());
    } else if ((product.shiftFormat & ~0x07) != 0) {
        error = Format("the code-shift format 0x%02X of product '%s' has bits above bit 2",
                       product.shiftFormat, product.name.c_str());
    } else if (product.shiftStep <= 0 || product.shiftStep > kHeaderMax) {
        error = Format("the step %" PRId64 " of product '%s' must be 1 to %" PRId64,
                       product.shiftStep, product.name.c_str(), kHeaderMax);
    } else if (product.firstValue < 0 || product.firstValue > product.lastValue ||
               product.lastValue > WidthLastValue(product.shiftFormat)) {
        error =
            Format("the values %" PRId64 " to %" PRId64 " of product '%s' must lie in 0 to %" PRId64
                   " (the %d-byte width), the first not above the last",
                   product.firstValue, product.lastValue, product.name.c_str(),
                   WidthLastValue(product.shiftFormat), (product.shiftFormat & 0x03) + 1);
    } else {
        return true;
    }
    return false;
}

std::string ProductDifferences(const SerialProduct& stored, const SerialProduct& wanted) {
    std::string differences;
    auto add = [&differences](const std::string& one) {
        if (!differences.empty()) differences += "; ";
        differences += one;
    };
    if (wanted.shiftAddress != stored.shiftAddress)
        add(Format("address %s, not %s", Hex(wanted.shiftAddress).c_str(),
                   Hex(stored.shiftAddress).c_str()));
    if ((wanted.shiftFormat & 0x03) != (stored.shiftFormat & 0x03))
        add(Format("width %d bytes, not %d", (wanted.shiftFormat & 0x03) + 1,
                   (stored.shiftFormat & 0x03) + 1));
    if ((wanted.shiftFormat & ~0x03) != (stored.shiftFormat & ~0x03))
        add(Format("format 0x%02X, not 0x%02X", wanted.shiftFormat, stored.shiftFormat));
    if (wanted.shiftStep != stored.shiftStep)
        add(Format("step %" PRId64 ", not %" PRId64, wanted.shiftStep, stored.shiftStep));
    if (wanted.firstValue != stored.firstValue)
        add(Format("first value %" PRId64 ", not %" PRId64, wanted.firstValue, stored.firstValue));
    if (wanted.lastValue != stored.lastValue)
        add(Format("last value %" PRId64 ", not %" PRId64, wanted.lastValue, stored.lastValue));
    return differences;
}

std::int64_t ValuesLeft(const SerialProduct& product, std::int64_t nextValue) {
    if (nextValue > product.lastValue) return 0;
    return (product.lastValue - nextValue) / product.shiftStep + 1;
}

std::int64_t BlockEnd(std::int64_t first, std::int64_t count, std::int64_t step) {
    return first + count * step;
}

std::optional<LeasePlan> PlanLease(const SerialProduct& product, std::int64_t nextValue,
                                   std::int64_t count, std::string& error) {
    if (count <= 0 || count > kHeaderMax) {
        error = Format("a block of %" PRId64
                       " values cannot be leased: the run limit takes 1 to %" PRId64,
                       count, kHeaderMax);
        return std::nullopt;
    }
    const std::int64_t left = ValuesLeft(product, nextValue);
    if (count > left) {
        if (left == 0) {
            error = Format("product '%s' has no values left (its last value is %" PRId64
                           "); a block of %" PRId64 " cannot be leased",
                           product.name.c_str(), product.lastValue, count);
        } else {
            error = Format("product '%s' has %" PRId64 " values left (%" PRId64 " to %" PRId64
                           "); a block of %" PRId64 " cannot be leased",
                           product.name.c_str(), left, nextValue,
                           nextValue + (left - 1) * product.shiftStep, count);
        }
        return std::nullopt;
    }
    return LeasePlan{nextValue, BlockEnd(nextValue, count, product.shiftStep)};
}

ReconcileDecision DecideReconciliation(const JobHeader& header, const SeenProgrammer& seen,
                                       const std::vector<SerialProduct>& productsAtAddress,
                                       const std::vector<SerialLease>& leasesAtStart,
                                       std::int64_t now) {
    ReconcileDecision decision;
    Reconciliation& result = decision.result;
    if ((header.shiftEnabled & 1) == 0) {
        result.outcome = ReconcileOutcome::NoCodeShift;
        return decision;
    }
    if (productsAtAddress.empty()) {
        result.outcome = ReconcileOutcome::NoProduct;
        return decision;
    }
    result.product = productsAtAddress.front().name;
    result.outcome = ReconcileOutcome::OutsideLeases;
    for (const SerialLease& lease : leasesAtStart) {
        const SerialProduct* product = nullptr;
        for (const SerialProduct& candidate : productsAtAddress)
            if (candidate.name == lease.product) product = &candidate;
        if (product == nullptr || lease.firstValue != header.shiftStart) continue;
        result.product = product->name;
        if (header.shiftStep != product->shiftStep) {
            result.detail =
                Format("the header counts with step %" PRId32 ", product '%s' with %" PRId64,
                       header.shiftStep, product->name.c_str(), product->shiftStep);
            return decision;
        }
        const std::int64_t advanced =
            std::int64_t{header.shiftValue} - std::int64_t{header.shiftStart};
        if (advanced < 0 || advanced % product->shiftStep != 0 ||
            advanced / product->shiftStep > lease.count) {
            result.detail =
                Format("the next value %" PRId32 " lies outside the block %" PRId64 " to %" PRId64
                       " of lease %" PRId64,
                       header.shiftValue, lease.firstValue,
                       BlockEnd(lease.firstValue, lease.count - 1, product->shiftStep), lease.id);
            return decision;
        }
        SerialLease seenLease = lease;
        const std::string& known =
            lease.holder.usbSerial.empty() ? lease.seenUsbSerial : lease.holder.usbSerial;
        if (!known.empty() && !seen.usbSerial.empty() && known != seen.usbSerial) {
            result.outcome = ReconcileOutcome::TwoProgrammers;
            result.detail = Format(
                "lease %" PRId64 " (%" PRId64 " values from %" PRId64
                ") belongs to the programmer with USB serial %s; %s shows it too",
                lease.id, lease.count, lease.firstValue, known.c_str(), seen.usbSerial.c_str());
            result.lease = seenLease;
            return decision;
        }
        seenLease.used = advanced / product->shiftStep;
        seenLease.programmedCount = header.programmedCount;
        seenLease.seenAt = now;
        if (seenLease.seenUsbSerial.empty()) seenLease.seenUsbSerial = seen.usbSerial;
        // A header proves the upload reached the programmer; a void lease stays void, its
        // values being withheld either way.
        if (seenLease.state == LeaseState::Leased) seenLease.state = LeaseState::Stored;
        result.outcome = ReconcileOutcome::Matched;
        result.lease = seenLease;
        decision.recordUse = true;
        return decision;
    }
    result.detail =
        Format("the start value %" PRId32 " at address %s is the first value of no lease",
               header.shiftStart, Hex(header.shiftAddress).c_str());
    return decision;
}

ProductTotals TotalsOf(const SerialProduct& product, std::int64_t nextValue,
                       const std::vector<SerialLease>& leases, std::int64_t conflicts) {
    ProductTotals totals;
    totals.product = product.name;
    totals.left = ValuesLeft(product, nextValue);
    totals.conflicts = conflicts;
    for (const SerialLease& lease : leases) {
        if (lease.product != product.name) continue;
        ++totals.leases;
        if (lease.state == LeaseState::Void) {
            totals.voided += lease.count;
        } else {
            totals.handedOut += lease.count;
            totals.used += lease.used;
        }
    }
    return totals;
}
