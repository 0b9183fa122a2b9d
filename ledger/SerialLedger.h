#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/JobHeader.h"

// The serial ledger: products (serial series) and the blocks of their values leased to
// programmers, so that no serial value is ever written by two programmers. Two stores
// implement it, a SQLite file (the default) and a PostgreSQL database (many stations).
// Every call returns false or nullopt and puts the reason into `error`; none throws, and
// nothing is printed.

// A serial series: the code-shift settings every job of the product carries, and the
// range its values come from. Values are whole numbers from 0; the header carries them as
// signed 32-bit numbers, so even 4 bytes end at 0x7FFFFFFF.
struct SerialProduct {
    std::string name;
    std::uint32_t shiftAddress = 0x08004000;  // a multiple of 4
    std::uint8_t shiftFormat = 3;             // the header's byte: width index, bit 2 order
    std::int64_t shiftStep = 1;               // > 0
    std::int64_t firstValue = 0;
    std::int64_t lastValue = 0;  // the last value a lease may hand out (inclusive)

    bool operator==(const SerialProduct&) const = default;
};

// Who a lease was handed to, as far as it is known.
struct LeaseHolder {
    std::string station;         // host name of the PC
    std::string programmerPath;  // empty for a remote job file
    std::string usbSerial;       // empty where the programmer names none
    std::string remoteDeviceId;  // the device ID a remote job file was made for
    std::string jobName;
    std::uint32_t imageChecksum = 0;

    bool operator==(const LeaseHolder&) const = default;
};

enum class LeaseState { Leased, Stored, Void };

// A block of `count` values of one product: firstValue, firstValue + step, ...
struct SerialLease {
    std::int64_t id = 0;
    std::string product;
    std::int64_t firstValue = 0;
    std::int64_t count = 0;
    std::int64_t takenAt = 0;  // seconds since 1970, UTC
    LeaseHolder holder;
    LeaseState state = LeaseState::Leased;
    // As the programmer's header showed them when last seen (seenAt 0: never seen).
    std::int64_t used = 0;
    std::int64_t programmedCount = 0;
    std::int64_t seenAt = 0;
    std::string seenUsbSerial;  // the programmer that showed the block first, where known
};

// The programmer whose header is reconciled.
struct SeenProgrammer {
    std::string path;
    std::string usbSerial;  // empty where the programmer names none
};

enum class ReconcileOutcome {
    Matched,         // the header's block is a lease; its use is recorded
    NoCodeShift,     // code shift is off in the header: nothing to reconcile
    NoProduct,       // no product writes at the header's address
    OutsideLeases,   // conflict: the header's values lie outside every lease of its product
    TwoProgrammers,  // conflict: another programmer already showed the same block
};
bool IsConflict(ReconcileOutcome outcome);
const char* NameOf(ReconcileOutcome outcome);  // "matched", "outside-leases", ...
const char* NameOf(LeaseState state);          // "leased", "stored", "void"

struct Reconciliation {
    ReconcileOutcome outcome = ReconcileOutcome::NoProduct;
    std::string product;               // empty with NoProduct and NoCodeShift
    std::optional<SerialLease> lease;  // as recorded after this sighting (Matched, TwoProgrammers)
    std::string detail;                // what a conflict is, in words
};

// A conflict as the ledger keeps it, for the report.
struct LedgerConflict {
    std::int64_t id = 0;
    std::int64_t seenAt = 0;
    ReconcileOutcome kind = ReconcileOutcome::OutsideLeases;
    std::string product;
    std::int64_t leaseId = 0;  // 0: no lease
    SeenProgrammer programmer;
    std::int32_t shiftStart = 0;
    std::int32_t shiftValue = 0;
    std::string detail;
};

struct ProductTotals {
    std::string product;
    std::int64_t handedOut = 0;  // values of leases not void
    std::int64_t used = 0;       // of those, as last seen
    std::int64_t left = 0;       // values not handed out yet
    std::int64_t voided = 0;     // values of void leases, never handed out again
    std::int64_t leases = 0;
    std::int64_t conflicts = 0;
};

class SerialLedger {
public:
    virtual ~SerialLedger() = default;

    // The ledger as messages name it: the file, or the database without its password.
    virtual std::string Where() const = 0;

    // The product `wanted` names, created as given on first use; `stored` is the product
    // as the ledger holds it. A product of that name with other settings is refused, the
    // message naming each difference.
    virtual bool EnsureProduct(const SerialProduct& wanted, SerialProduct& stored,
                               std::string& error) = 0;

    // The next `count` values of `product`, in one transaction: recorded whole as Leased,
    // or not at all. A product whose values left cannot fill the block is refused with the
    // numbers left.
    virtual std::optional<SerialLease> TakeLease(const std::string& product, std::int64_t count,
                                                 const LeaseHolder& holder, std::string& error) = 0;

    // Once the job holding the lease is stored; or, when storing it failed, void: its values
    // may have reached a part, so they are never handed out again.
    virtual bool MarkStored(std::int64_t leaseId, std::string& error) = 0;
    virtual bool MarkVoid(std::int64_t leaseId, std::string& error) = 0;

    // What a programmer's stored header shows: the lease found by the product's address and
    // the header's shiftStart (a lease's first value), its use recorded. A conflict is kept
    // for the report.
    virtual std::optional<Reconciliation> Reconcile(const JobHeader& header,
                                                    const SeenProgrammer& seen,
                                                    std::string& error) = 0;

    virtual std::optional<std::vector<SerialProduct>> ListProducts(std::string& error) = 0;
    // Leases in the order they were taken; an empty `product` lists those of every product.
    virtual std::optional<std::vector<SerialLease>> ListLeases(const std::string& product,
                                                               std::string& error) = 0;
    virtual std::optional<std::vector<LedgerConflict>> ListConflicts(const std::string& product,
                                                                     std::string& error) = 0;
    virtual std::optional<std::vector<ProductTotals>> Totals(const std::string& product,
                                                             std::string& error) = 0;
};

// True for "postgresql://..." and "postgres://...".
bool IsPostgresLocation(const std::string& where);

// Opens (creating when missing) the ledger at `where`: a PostgreSQL connection URI, or
// else a SQLite file, created with its folder. nullptr with `error` when it cannot be had,
// also when the ledger was made by a newer tool. A build without the stores (Windows)
// refuses every ledger.
std::unique_ptr<SerialLedger> OpenSerialLedger(const std::string& where, std::string& error);

// marrowdyne/serials.sqlite under $XDG_DATA_HOME, else under ~/.local/share; empty when
// neither is known.
std::string DefaultLedgerPath();
