#include "cli/SerialLeases.h"

#include <algorithm>
#include <cstring>

#include "cli/ExitCodes.h"
#include "common/TextFormat.h"
#include "ledger/LeaseRules.h"
#include "remote/RemoteJobFile.h"
#include "job/UploadJob.h"

JobHeader HeaderOfRecord(const ImageWorkspace& workspace) {
    return JobHeader::Decode(JobHeaderBytesOfRecord(workspace.image.imageBuffer).data());
}

void RefuseSharedSerials(bool shiftOn, const char* what) {
    if (!shiftOn) return;
    throw CliFailure(ExitCode::Usage,
                     std::string(what) +
                         " would write the same serial numbers (code shift) into several "
                         "programmers. Give --product NAME --serials N: each programmer then "
                         "gets a block of N values of its own from the serial ledger, and stops "
                         "after N parts. Nothing was written.");
}

void LeaseOptions::Register(CLI::App& command) {
    CLI::Option* product =
        command
            .add_option("--product", product_,
                        "Lease the code-shift values from this product of the serial ledger "
                        "(created on first use from the --shift-* options)")
            ->type_name("NAME");
    CLI::Option* serials =
        command
            .add_option("--serials", serials_,
                        "Values of each block (--product): the programmer stops after N parts")
            ->type_name("N")
            ->check(CLI::Range(std::int64_t{1}, std::int64_t{0x7FFFFFFF}));
    product->needs(serials);
    serials->needs(product);
}

void LeaseOptions::CheckAgainst(const JobOptions& job) const {
    if (Given() && job.CountLimitGiven()) {
        throw CliFailure(
            ExitCode::Usage,
            "--count-limit with --product: the run limit is the block's size (--serials).");
    }
}

SerialProduct ProductToLease(Environment& environment, const std::string& name,
                             const std::optional<GivenShift>& given) {
    SerialLedger& ledger = environment.RequireLedger();
    std::string error;
    std::optional<SerialProduct> known;
    if (!environment.WithLedger([&](SerialLedger&) {
            const std::optional<std::vector<SerialProduct>> products = ledger.ListProducts(error);
            if (!products) return;
            const auto found = std::find_if(products->begin(), products->end(),
                                            [&](const SerialProduct& p) { return p.name == name; });
            if (found != products->end()) known = *found;
            error.clear();
        }) ||
        !error.empty()) {
        throw CliFailure(ExitCode::LedgerFailed, "Cannot read " + ledger.Where(), error);
    }
    if (!given) {
        if (known) return *known;
        throw CliFailure(ExitCode::LedgerFailed,
                         "No product '" + name + "' in " + ledger.Where() +
                             ". A job that brings its own header leases from an existing product: "
                             "create it with program or make-remote --product " +
                             name + " and the --shift-* options.");
    }
    // A later use keeps what the product holds unless it says otherwise.
    SerialProduct wanted = known ? *known : ProductOfShift(name, CodeShift{});
    if (given->address) wanted.shiftAddress = *given->address;
    if (given->format) wanted.shiftFormat = *given->format;
    if (given->step) wanted.shiftStep = *given->step;
    if (given->start) wanted.firstValue = *given->start;
    if (!known) wanted.lastValue = WidthLastValue(wanted.shiftFormat);
    SerialProduct stored;
    bool ok = false;
    environment.WithLedger(
        [&](SerialLedger&) { ok = ledger.EnsureProduct(wanted, stored, error); });
    if (!ok) {
        throw CliFailure(ExitCode::LedgerFailed, "The serial ledger refused product '" + name + "'",
                         error);
    }
    return stored;
}

LeaseHolder HolderOf(const OperationRecord& record, const JobFacts& job) {
    LeaseHolder holder;
    holder.station = StationName();
    holder.programmerPath = record.path;
    holder.usbSerial = record.serial;
    holder.jobName = job.name;
    holder.imageChecksum = job.wordCrc32.value_or(0);
    return holder;
}

SerialLease TakeSerialLease(Environment& environment, const SerialProduct& product,
                            std::int64_t count, const LeaseHolder& holder) {
    std::string error;
    std::optional<SerialLease> lease;
    environment.WithLedger([&](SerialLedger& ledger) {
        lease = ledger.TakeLease(product.name, count, holder, error);
    });
    if (!lease) {
        throw CliFailure(
            ExitCode::LedgerFailed,
            Format("No block of %lld serial values of '%s' was leased. Nothing was written.",
                   static_cast<long long>(count), product.name.c_str()),
            error);
    }
    return *lease;
}

SerialLease LeaseForProgrammer(Environment& environment, ConsoleOutput& output,
                               const SerialProduct& product, std::int64_t count,
                               OperationRecord& record, const JobFacts& job) {
    const SerialLease lease = TakeSerialLease(environment, product, count, HolderOf(record, job));
    record.lease = FactsOf(lease);
    ShowLease(output, *record.lease, product.shiftStep, false);
    return lease;
}

void ApplyLease(ImageWorkspace& workspace, const SerialProduct& product, const SerialLease& lease) {
    JobHeader header = HeaderOfRecord(workspace);
    header.shiftEnabled = 1;
    header.shiftAddress = product.shiftAddress;
    header.shiftStart = static_cast<std::int32_t>(lease.firstValue);
    header.shiftValue = header.shiftStart;
    header.shiftStep = static_cast<std::int32_t>(product.shiftStep);
    header.shiftFormat = product.shiftFormat;
    header.options |= OptCountLimit;
    header.countLimit = static_cast<std::int32_t>(lease.count);
    header.programmedCount = 0;
    const std::array<std::uint8_t, kJobHeaderSize> bytes = header.Encode();
    // Record bytes 4..46 are header bytes 2..44.
    std::memcpy(workspace.image.imageBuffer + kRecordHeaderOffset, bytes.data() + 2,
                kJobHeaderSize - 2);
}

void SettleLease(Environment& environment, ConsoleOutput& output, const SerialLease& lease,
                 bool stored) {
    std::string error;
    bool ok = false;
    environment.WithLedger([&](SerialLedger& ledger) {
        ok = stored ? ledger.MarkStored(lease.id, error) : ledger.MarkVoid(lease.id, error);
    });
    if (!ok) {
        output.Note(Format("The serial ledger did not record lease %lld as %s: ",
                           static_cast<long long>(lease.id), stored ? "stored" : "void") +
                    error + " (its values are never leased again)");
    }
}

LeaseFacts FactsOf(const SerialLease& lease) {
    return LeaseFacts{lease.product, lease.firstValue, lease.count, lease.used};
}

void ShowLease(ConsoleOutput& output, const LeaseFacts& lease, std::int64_t step, bool withUse) {
    nlohmann::json value = {
        {"product", lease.product}, {"firstValue", lease.firstValue}, {"count", lease.count}};
    std::string text =
        Format("%s, values %lld to %lld (%lld)", lease.product.c_str(),
               static_cast<long long>(lease.firstValue),
               static_cast<long long>(BlockEnd(lease.firstValue, lease.count - 1, step)),
               static_cast<long long>(lease.count));
    if (withUse) {
        value["used"] = lease.used;
        text += Format(", %lld used", static_cast<long long>(lease.used));
    }
    output.Field("lease", value, text);
}

void ReconcileStoredJob(Environment& environment, ConsoleOutput& output, const ProgrammerLink& link,
                        OperationRecord& record) {
    const std::optional<JobHeader> header = StoredHeader(link);
    if (!header || (header->shiftEnabled & 1) == 0) return;
    std::string error;
    std::optional<Reconciliation> seen;
    const bool inUse = environment.WithLedger([&](SerialLedger& ledger) {
        seen = ledger.Reconcile(*header, SeenProgrammer{record.path, record.serial}, error);
    });
    if (!inUse) return;
    if (!seen) {
        output.Note("The serial ledger could not reconcile this programmer's code shift: " + error);
        return;
    }
    if (seen->lease) record.lease = FactsOf(*seen->lease);
    if (IsConflict(seen->outcome)) {
        record.serialConflict = seen->detail.empty() ? NameOf(seen->outcome) : seen->detail;
        output.Note("Serial conflict: " + record.serialConflict);
    }
}
