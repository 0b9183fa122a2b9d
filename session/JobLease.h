#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "ledger/LeasedJob.h"
#include "ledger/SerialLedger.h"
#include "link/ProgrammerLink.h"

// The block of serial values one job gets, for the main dialog's upload and each
// programmer of the shelf alike.
struct JobLease {
    std::unique_ptr<SerialLedger> ledger;
    SerialProduct product;  // as the ledger holds it
    SerialLease lease;
};

// Opens the ledger `source` names (the default file when none), makes sure of the product
// that `shift` describes and leases `count` values of it for the programmer of `link` and
// the loaded job, recorded before anything is written. nullopt with `error` set when
// there is no block to be had. Runs on a worker; never throws but for lack of memory.
std::optional<JobLease> LeaseJob(const SerialSource& source, const CodeShift& shift,
                                 std::int32_t count, const ProgrammerLink& link,
                                 const ImageWorkspace& workspace, std::string& error);

// After the upload: stored, or void when it failed, since its values may have reached a
// part and are never handed out again. False with `error` set when the ledger refused.
bool SettleJobLease(JobLease& taken, bool stored, std::string& error);

// What the ledger `source` names (the default file when none) makes of the job an
// identification found stored in the programmer of `link`, for every face that connects
// one with a product named. nullopt with `error` empty when the programmer holds no job,
// with `error` set when the ledger could not be asked.
struct StoredJobSighting {
    Reconciliation seen;
    std::int64_t shiftStep = 1;  // of the stored job, for the block's text
};
std::optional<StoredJobSighting> SightStoredJob(const SerialSource& source,
                                                const ProgrammerLink& link, std::string& error);
