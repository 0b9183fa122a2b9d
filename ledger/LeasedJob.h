#pragma once
#include <cstdint>
#include <string>

#include "common/Translation.h"
#include "job/JobHeader.h"
#include "ledger/SerialLedger.h"

// How a job is kept inside its leased block, the same for every face that stores one.

// Where Program takes its serial numbers from: a product of the serial ledger (none:
// the code-shift values as given), and the ledger (empty: the default file).
struct SerialSource {
    std::string product;
    std::string ledger;
};

// The product a job's code-shift settings describe, from its start value on, up to the
// last value its width holds.
SerialProduct ProductOfShift(const std::string& name, const CodeShift& shift);

// Code shift on at the product's address, step and format, counting from the block's
// first value, and the run limit of the block's size: the programmer stops by itself
// before it writes a value of another block.
void ApplyLease(JobSettings& settings, const SerialProduct& product, const SerialLease& lease);

// This PC's name, as a lease names its station; empty when the system names none.
std::string StationName();

// The block as the job description shows it: "1000–1099, 已用37" (the last value is
// first + (count − 1) × step).
inline constexpr const char* kLeaseBlockFormat = N_("%lld–%lld, 已用%lld");
std::string LeaseBlockText(const SerialLease& lease, std::int64_t step);
