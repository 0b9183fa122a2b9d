#include "session/JobLease.h"

#include "job/StoredJob.h"

std::optional<JobLease> LeaseJob(const SerialSource& source, const CodeShift& shift,
                                 std::int32_t count, const ProgrammerLink& link,
                                 const ImageWorkspace& workspace, std::string& error) {
    JobLease taken;
    const std::string where = source.ledger.empty() ? DefaultLedgerPath() : source.ledger;
    taken.ledger = OpenSerialLedger(where, error);
    if (!taken.ledger ||
        !taken.ledger->EnsureProduct(ProductOfShift(source.product, shift), taken.product, error)) {
        return std::nullopt;
    }
    LeaseHolder holder;
    holder.station = StationName();
    holder.programmerPath = link.DevicePath();
    holder.usbSerial = link.SerialNumber();
    holder.jobName = workspace.fileName;
    holder.imageChecksum = JobImageOfImage(workspace.image).crc;
    std::optional<SerialLease> lease =
        taken.ledger->TakeLease(taken.product.name, count, holder, error);
    if (!lease) return std::nullopt;
    taken.lease = *lease;
    return taken;
}

bool SettleJobLease(JobLease& taken, bool stored, std::string& error) {
    return stored ? taken.ledger->MarkStored(taken.lease.id, error)
                  : taken.ledger->MarkVoid(taken.lease.id, error);
}

std::optional<StoredJobSighting> SightStoredJob(const SerialSource& source,
                                                const ProgrammerLink& link, std::string& error) {
    error.clear();
    const std::optional<JobHeader> stored = StoredHeader(link);
    if (!stored) return std::nullopt;
    const JobHeader& header = *stored;
    const std::string where = source.ledger.empty() ? DefaultLedgerPath() : source.ledger;
    std::unique_ptr<SerialLedger> ledger = OpenSerialLedger(where, error);
    if (!ledger) return std::nullopt;
    std::optional<Reconciliation> seen =
        ledger->Reconcile(header, {link.DevicePath(), link.SerialNumber()}, error);
    if (!seen) return std::nullopt;
    return StoredJobSighting{std::move(*seen), header.shiftStep};
}
