#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/JobHeader.h"
#include "ledger/SerialLedger.h"

// The ledger's arithmetic and decisions, the same for every store: a store only reads the
// rows these rules need and writes what they decide.

// The largest value the header's width (shiftFormat bits 0..1) holds: 0xFF, 0xFFFF,
// 0xFFFFFF, and for 4 bytes 0x7FFFFFFF, the header's values being signed 32-bit numbers.
std::int64_t WidthLastValue(std::uint8_t shiftFormat);

// A product that can be created: a name, an address that is a multiple of 4, a format
// with bits 3..7 clear, a step above 0 that fits the header, and 0 <= first <= last <=
// the width's last value.
bool CheckProduct(const SerialProduct& product, std::string& error);

// Each setting in which `wanted` differs from `stored` ("step 2, not 1; ..."); empty
// when they agree.
std::string ProductDifferences(const SerialProduct& stored, const SerialProduct& wanted);

// How many values of `product` are not yet handed out when `nextValue` is the next one.
std::int64_t ValuesLeft(const SerialProduct& product, std::int64_t nextValue);

// The value after a block of `count` values from `first`.
std::int64_t BlockEnd(std::int64_t first, std::int64_t count, std::int64_t step);

// The block a lease of `count` values takes at `nextValue`: its first value, or nullopt
// with the numbers left when the product cannot fill it. A count must fit the header's
// run limit (1..0x7FFFFFFF).
struct LeasePlan {
    std::int64_t firstValue = 0;
    std::int64_t nextValue = 0;  // after the block
};
std::optional<LeasePlan> PlanLease(const SerialProduct& product, std::int64_t nextValue,
                                   std::int64_t count, std::string& error);

// What a header shows, against the products at its address and their leases that begin at
// the header's shiftStart. `lease` of the result is the matching lease with its use as the
// header shows it (not yet recorded); the product is named as soon as one is at the address.
struct ReconcileDecision {
    Reconciliation result;
    bool recordUse = false;  // the lease's use and sighting are to be written
};
ReconcileDecision DecideReconciliation(const JobHeader& header, const SeenProgrammer& seen,
                                       const std::vector<SerialProduct>& productsAtAddress,
                                       const std::vector<SerialLease>& leasesAtStart,
                                       std::int64_t now);

// A product's totals from its leases and the next value it would hand out.
ProductTotals TotalsOf(const SerialProduct& product, std::int64_t nextValue,
                       const std::vector<SerialLease>& leases, std::int64_t conflicts);
