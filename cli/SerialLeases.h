#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/ConsoleOutput.h"
#include "cli/Environment.h"
#include "cli/JobOptions.h"
#include "job/ProductionLog.h"
#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "job/StoredJob.h"
#include "ledger/LeasedJob.h"
#include "ledger/SerialLedger.h"
#include "link/ProgrammerLink.h"

// The header fields of the job that a loaded remote job record carries (bytes 2..44).
JobHeader HeaderOfRecord(const ImageWorkspace& workspace);

// Code shift into several programmers without a product of the serial ledger would give
// each of them the same serial numbers: refused before anything is written (usage).
void RefuseSharedSerials(bool shiftOn, const char* what);

// --product and --serials of a command that stores jobs: each job gets a block of values
// of its own from the serial ledger.
class LeaseOptions {
public:
    void Register(CLI::App& command);
    bool Given() const { return !product_.empty(); }
    // A leased block sets the run limit itself: --count-limit beside --product is refused.
    void CheckAgainst(const JobOptions& job) const;
    const std::string& Product() const { return product_; }
    std::int64_t Serials() const { return serials_; }

private:
    std::string product_;
    std::int64_t serials_ = 0;
};

// The product to lease from, as the ledger holds it. It is created on first use from the
// code-shift options `given` (the others at their defaults); later uses may give only the
// same ones. Without `given` (a job that brings its own header) the product must exist.
// Throws CliFailure (ledger) when the ledger refuses or the product is missing.
SerialProduct ProductToLease(Environment& environment, const std::string& name,
                             const std::optional<GivenShift>& given);

// Who a job's block goes to: this station, the programmer of `record` (none for a remote
// job file), the job.
LeaseHolder HolderOf(const OperationRecord& record, const JobFacts& job);

// Leases the next block of `count` values of `product` for `holder`, recorded before
// anything is written. Throws CliFailure (ledger) when the ledger refuses it.
SerialLease TakeSerialLease(Environment& environment, const SerialProduct& product,
                            std::int64_t count, const LeaseHolder& holder);

// Leases the block of the job for the programmer of `record` and names it there and on
// `output`. Throws as TakeSerialLease.
SerialLease LeaseForProgrammer(Environment& environment, ConsoleOutput& output,
                               const SerialProduct& product, std::int64_t count,
                               OperationRecord& record, const JobFacts& job);

// What keeps a programmer inside its block (ApplyLease of ledger/LeasedJob.h), in the
// header fields of a loaded remote job record (its counters restart too).
void ApplyLease(ImageWorkspace& workspace, const SerialProduct& product, const SerialLease& lease);

// After the upload: stored, or void when it failed (its values may have reached a part).
// A ledger that cannot record it is said on `output`; the values stay out of every
// other lease either way.
void SettleLease(Environment& environment, ConsoleOutput& output, const SerialLease& lease,
                 bool stored);

// The lease as the production log and the results name it.
LeaseFacts FactsOf(const SerialLease& lease);

// "lease<TAB>P, values 1000 to 1099 (100), 37 used", or the field "lease".
void ShowLease(ConsoleOutput& output, const LeaseFacts& lease, std::int64_t step, bool withUse);

// Reconciles the identified programmer's stored header with the ledger in use, if any:
// the use of its block is recorded, a conflict said on `output` and kept in `record`.
void ReconcileStoredJob(Environment& environment, ConsoleOutput& output, const ProgrammerLink& link,
                        OperationRecord& record);
