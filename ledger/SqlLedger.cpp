#include "ledger/SqlLedger.h"

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

#include "common/TextFormat.h"
#include "ledger/LeaseRules.h"

namespace {

// A station waits this long for the others before it gives up on a transaction.
constexpr auto kBusyPatience = std::chrono::seconds(60);

const char* const kProductColumns =
    "name, shift_address, shift_format, shift_step, first_value, last_value, next_value";
const char* const kLeaseColumns =
    "l.id, l.product, l.first_value, l.value_count, l.taken_at, l.station, l.programmer_path, "
    "l.usb_serial, l.remote_device_id, l.job_name, l.image_checksum, l.state, l.used, "
    "l.programmed_count, l.seen_at, l.seen_usb_serial";

std::int64_t Int(const std::optional<std::string>& field) {
    return field ? std::strtoll(field->c_str(), nullptr, 10) : 0;
}
std::string Text(const std::optional<std::string>& field) { return field.value_or(""); }

SerialProduct ProductOf(const SqlRow& row, std::int64_t* nextValue) {
    SerialProduct product;
    product.name = Text(row[0]);
    product.shiftAddress = static_cast<std::uint32_t>(Int(row[1]));
    product.shiftFormat = static_cast<std::uint8_t>(Int(row[2]));
    product.shiftStep = Int(row[3]);
    product.firstValue = Int(row[4]);
    product.lastValue = Int(row[5]);
    if (nextValue != nullptr) *nextValue = Int(row[6]);
    return product;
}

std::optional<LeaseState> StateOf(const std::string& name) {
    for (LeaseState state : {LeaseState::Leased, LeaseState::Stored, LeaseState::Void})
        if (name == NameOf(state)) return state;
    return std::nullopt;
}

SerialLease LeaseOf(const SqlRow& row) {
    SerialLease lease;
    lease.id = Int(row[0]);
    lease.product = Text(row[1]);
    lease.firstValue = Int(row[2]);
    lease.count = Int(row[3]);
    lease.takenAt = Int(row[4]);
    lease.holder.station = Text(row[5]);
    lease.holder.programmerPath = Text(row[6]);
    lease.holder.usbSerial = Text(row[7]);
    lease.holder.remoteDeviceId = Text(row[8]);
    lease.holder.jobName = Text(row[9]);
    lease.holder.imageChecksum = static_cast<std::uint32_t>(Int(row[10]));
    lease.state = StateOf(Text(row[11])).value_or(LeaseState::Void);
    lease.used = Int(row[12]);
    lease.programmedCount = Int(row[13]);
    lease.seenAt = Int(row[14]);
    lease.seenUsbSerial = Text(row[15]);
    return lease;
}

std::optional<ReconcileOutcome> OutcomeOf(const std::string& name) {
    for (ReconcileOutcome outcome :
         {ReconcileOutcome::Matched, ReconcileOutcome::NoCodeShift, ReconcileOutcome::NoProduct,
          ReconcileOutcome::OutsideLeases, ReconcileOutcome::TwoProgrammers})
        if (name == NameOf(outcome)) return outcome;
    return std::nullopt;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

SqlParam SqlInt(std::int64_t number) { return SqlParam{false, number, {}}; }
SqlParam SqlText(std::string text) { return SqlParam{true, 0, std::move(text)}; }

SqlLedger::SqlLedger(std::unique_ptr<SqlConnection> connection)
    : connection_(std::move(connection)) {}

std::string SqlLedger::Where() const { return connection_->Where(); }

// Runs `body` (returning a SqlStatus) in one transaction, again from its start while the
// store is busy: a station waits for the others rather than fail.
template <class Body>
bool SqlLedger::Transact(bool write, Body body, std::string& error) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + kBusyPatience;
    std::minstd_rand jitter(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0;; ++attempt) {
        error.clear();
        SqlStatus status = connection_->Begin(write, error);
        if (status == SqlStatus::Ok) {
            status = body(error);
            if (status == SqlStatus::Ok) status = connection_->Commit(error);
            if (status == SqlStatus::Ok) return true;
            connection_->Rollback();
        }
        if (status == SqlStatus::Failed) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            error = Format("%s stayed busy for %lld s: %s", Where().c_str(),
                           static_cast<long long>(kBusyPatience.count()), error.c_str());
            return false;
        }
        const int most = std::min(50, 1 + attempt * 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + jitter() % most));
    }
}

SqlStatus SqlLedger::Query(const std::string& sql, const std::vector<SqlParam>& params,
                           std::vector<SqlRow>& rows, std::string& error) {
    rows.clear();
    return connection_->Run(sql, params, &rows, error);
}

SqlStatus SqlLedger::Exec(const std::string& sql, const std::vector<SqlParam>& params,
                          std::string& error) {
    return connection_->Run(sql, params, nullptr, error);
}

SqlStatus SqlLedger::CreateSchema(std::string& error) {
    SqlStatus status = SqlStatus::Ok;
    if (*connection_->SchemaLock() != '\0' &&
        (status = Exec(connection_->SchemaLock(), {}, error)) != SqlStatus::Ok)
        return status;
    if ((status = Exec("CREATE TABLE IF NOT EXISTS ledger_meta (key TEXT PRIMARY KEY, "
                       "value TEXT NOT NULL)",
                       {}, error)) != SqlStatus::Ok)
        return status;
    std::vector<SqlRow> rows;
    if ((status = Query("SELECT value FROM ledger_meta WHERE key = 'schema_version'", {}, rows,
                        error)) != SqlStatus::Ok)
        return status;
    if (!rows.empty()) {
        const std::string text = Text(rows[0][0]);
        char* end = nullptr;
        const long version = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || version < 1) {
            error = Format("%s has the schema version '%s', which no version of this tool wrote",
                           Where().c_str(), text.c_str());
            return SqlStatus::Failed;
        }
        if (version > kSchemaVersion) {
            error = Format(
                "%s was written by a newer tool (schema version %ld; this tool knows "
                "%d at most): use that tool or a newer one with it",
                Where().c_str(), version, kSchemaVersion);
            return SqlStatus::Failed;
        }
        return SqlStatus::Ok;  // version 1 is the first: nothing to migrate yet
    }
    const std::string id = connection_->IdColumn();
    const std::string statements[] = {
        "CREATE TABLE products (name TEXT PRIMARY KEY, shift_address BIGINT NOT NULL, "
        "shift_format INTEGER NOT NULL, shift_step BIGINT NOT NULL, first_value BIGINT NOT NULL, "
        "last_value BIGINT NOT NULL, next_value BIGINT NOT NULL, created_at BIGINT NOT NULL)",
        "CREATE TABLE leases (id " + id +
            ", product TEXT NOT NULL REFERENCES products(name), "
            "first_value BIGINT NOT NULL, value_count BIGINT NOT NULL, taken_at BIGINT NOT NULL, "
            "station TEXT NOT NULL, programmer_path TEXT NOT NULL, usb_serial TEXT NOT NULL, "
            "remote_device_id TEXT NOT NULL, job_name TEXT NOT NULL, "
            "image_checksum BIGINT NOT NULL, state TEXT NOT NULL, used BIGINT NOT NULL, "
            "programmed_count BIGINT NOT NULL, seen_at BIGINT NOT NULL, "
            "seen_usb_serial TEXT NOT NULL, UNIQUE (product, first_value))",
        "CREATE TABLE conflicts (id " + id +
            ", seen_at BIGINT NOT NULL, kind TEXT NOT NULL, "
            "product TEXT NOT NULL, lease_id BIGINT NOT NULL, programmer_path TEXT NOT NULL, "
            "usb_serial TEXT NOT NULL, shift_start BIGINT NOT NULL, shift_value BIGINT NOT NULL, "
            "detail TEXT NOT NULL)",
        Format("INSERT INTO ledger_meta (key, value) VALUES ('schema_version', '%d')",
               kSchemaVersion),
    };
    for (const std::string& statement : statements)
        if ((status = Exec(statement, {}, error)) != SqlStatus::Ok) return status;
    return SqlStatus::Ok;
}

std::unique_ptr<SqlLedger> SqlLedger::Open(std::unique_ptr<SqlConnection> connection,
                                           std::string& error) {
    std::unique_ptr<SqlLedger> ledger(new SqlLedger(std::move(connection)));
    if (!ledger->Transact(
            true, [&ledger](std::string& failure) { return ledger->CreateSchema(failure); }, error))
        return nullptr;
    return ledger;
}

bool SqlLedger::EnsureProduct(const SerialProduct& wanted, SerialProduct& stored,
                              std::string& error) {
    if (!CheckProduct(wanted, error)) return false;
    return Transact(
        true,
        [&](std::string& failure) {
            std::vector<SqlRow> rows;
            SqlStatus status = Query(std::string("SELECT ") + kProductColumns +
                                         " FROM products WHERE name = ?" + connection_->RowLock(),
                                     {SqlText(wanted.name)}, rows, failure);
            if (status != SqlStatus::Ok) return status;
            if (!rows.empty()) {
                stored = ProductOf(rows[0], nullptr);
                const std::string differences = ProductDifferences(stored, wanted);
                if (differences.empty()) return SqlStatus::Ok;
                failure = Format("product '%s' in %s has other settings: %s", wanted.name.c_str(),
                                 Where().c_str(), differences.c_str());
                return SqlStatus::Failed;
            }
            // Two stations creating it at once: one of them meets the other's row and is
            // told busy, and sees the product when it tries again.
            status = Exec(
                "INSERT INTO products (name, shift_address, shift_format, shift_step, "
                "first_value, last_value, next_value, created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                {SqlText(wanted.name), SqlInt(wanted.shiftAddress), SqlInt(wanted.shiftFormat),
                 SqlInt(wanted.shiftStep), SqlInt(wanted.firstValue), SqlInt(wanted.lastValue),
                 SqlInt(wanted.firstValue), SqlInt(Now())},
                failure);
            if (status == SqlStatus::Ok) stored = wanted;
            return status;
        },
        error);
}

std::optional<SerialLease> SqlLedger::TakeLease(const std::string& product, std::int64_t count,
                                                const LeaseHolder& holder, std::string& error) {
    SerialLease lease;
    const bool taken = Transact(
        true,
        [&](std::string& failure) {
            std::vector<SqlRow> rows;
            SqlStatus status = Query(std::string("SELECT ") + kProductColumns +
                                         " FROM products WHERE name = ?" + connection_->RowLock(),
                                     {SqlText(product)}, rows, failure);
            if (status != SqlStatus::Ok) return status;
            if (rows.empty()) {
                failure = Format("%s has no product '%s'", Where().c_str(), product.c_str());
                return SqlStatus::Failed;
            }
            std::int64_t nextValue = 0;
            const SerialProduct series = ProductOf(rows[0], &nextValue);
            const std::optional<LeasePlan> plan = PlanLease(series, nextValue, count, failure);
            if (!plan) return SqlStatus::Failed;
            if ((status = Exec("UPDATE products SET next_value = ? WHERE name = ?",
                               {SqlInt(plan->nextValue), SqlText(product)}, failure)) !=
                SqlStatus::Ok)
                return status;
            lease = SerialLease{};
            lease.product = product;
            lease.firstValue = plan->firstValue;
            lease.count = count;
            lease.takenAt = Now();
            lease.holder = holder;
            status = Query(
                "INSERT INTO leases (product, first_value, value_count, taken_at, station, "
                "programmer_path, usb_serial, remote_device_id, job_name, image_checksum, state, "
                "used, programmed_count, seen_at, seen_usb_serial) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, 0, 0, '') RETURNING id",
                {SqlText(product), SqlInt(lease.firstValue), SqlInt(count), SqlInt(lease.takenAt),
                 SqlText(holder.station), SqlText(holder.programmerPath), SqlText(holder.usbSerial),
                 SqlText(holder.remoteDeviceId), SqlText(holder.jobName),
                 SqlInt(holder.imageChecksum), SqlText(NameOf(LeaseState::Leased))},
                rows, failure);
            if (status == SqlStatus::Ok && !rows.empty()) lease.id = Int(rows[0][0]);
            return status;
        },
        error);
    if (!taken) return std::nullopt;
    return lease;
}

SqlStatus SqlLedger::SetState(std::int64_t leaseId, LeaseState state, std::string& error) {
    std::vector<SqlRow> rows;
    SqlStatus status =
        Query(std::string("SELECT state FROM leases WHERE id = ?") + connection_->RowLock(),
              {SqlInt(leaseId)}, rows, error);
    if (status != SqlStatus::Ok) return status;
    if (rows.empty()) {
        error = Format("%s has no lease %" PRId64, Where().c_str(), leaseId);
        return SqlStatus::Failed;
    }
    // Void is final: those values may be in a part already.
    if (Text(rows[0][0]) == NameOf(LeaseState::Void) && state != LeaseState::Void) {
        error = Format("lease %" PRId64 " in %s is void and stays so", leaseId, Where().c_str());
        return SqlStatus::Failed;
    }
    return Exec("UPDATE leases SET state = ? WHERE id = ?",
                {SqlText(NameOf(state)), SqlInt(leaseId)}, error);
}

bool SqlLedger::MarkStored(std::int64_t leaseId, std::string& error) {
    return Transact(
        true, [&](std::string& failure) { return SetState(leaseId, LeaseState::Stored, failure); },
        error);
}

bool SqlLedger::MarkVoid(std::int64_t leaseId, std::string& error) {
    return Transact(
        true, [&](std::string& failure) { return SetState(leaseId, LeaseState::Void, failure); },
        error);
}

std::optional<Reconciliation> SqlLedger::Reconcile(const JobHeader& header,
                                                   const SeenProgrammer& seen, std::string& error) {
    Reconciliation result;
    if ((header.shiftEnabled & 1) == 0) {
        result.outcome = ReconcileOutcome::NoCodeShift;
        return result;
    }
    const bool done = Transact(
        true,
        [&](std::string& failure) {
            std::vector<SqlRow> rows;
            SqlStatus status = Query(std::string("SELECT ") + kProductColumns +
                                         " FROM products WHERE shift_address = ? ORDER BY name",
                                     {SqlInt(header.shiftAddress)}, rows, failure);
            if (status != SqlStatus::Ok) return status;
            std::vector<SerialProduct> products;
            for (const SqlRow& row : rows) products.push_back(ProductOf(row, nullptr));
            // The lease rows stay locked, so two programmers showing one block at once are
            // told apart.
            status = Query(std::string("SELECT ") + kLeaseColumns +
                               " FROM leases l JOIN products p ON p.name = l.product "
                               "WHERE p.shift_address = ? AND l.first_value = ? ORDER BY l.id" +
                               connection_->RowLock(),
                           {SqlInt(header.shiftAddress), SqlInt(header.shiftStart)}, rows, failure);
            if (status != SqlStatus::Ok) return status;
            std::vector<SerialLease> leases;
            for (const SqlRow& row : rows) leases.push_back(LeaseOf(row));
            const std::int64_t now = Now();
            const ReconcileDecision decision =
                DecideReconciliation(header, seen, products, leases, now);
            result = decision.result;
            if (decision.recordUse) {
                const SerialLease& lease = *result.lease;
                status = Exec(
                    "UPDATE leases SET used = ?, programmed_count = ?, seen_at = ?, "
                    "seen_usb_serial = ?, state = ? WHERE id = ?",
                    {SqlInt(lease.used), SqlInt(lease.programmedCount), SqlInt(lease.seenAt),
                     SqlText(lease.seenUsbSerial), SqlText(NameOf(lease.state)), SqlInt(lease.id)},
                    failure);
                if (status != SqlStatus::Ok) return status;
            }
            if (IsConflict(result.outcome)) {
                status = Exec(
                    "INSERT INTO conflicts (seen_at, kind, product, lease_id, programmer_path, "
                    "usb_serial, shift_start, shift_value, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                    "?)",
                    {SqlInt(now), SqlText(NameOf(result.outcome)), SqlText(result.product),
                     SqlInt(result.lease ? result.lease->id : 0), SqlText(seen.path),
                     SqlText(seen.usbSerial), SqlInt(header.shiftStart), SqlInt(header.shiftValue),
                     SqlText(result.detail)},
                    failure);
            }
            return status;
        },
        error);
    if (!done) return std::nullopt;
    return result;
}

std::optional<std::vector<SerialProduct>> SqlLedger::ListProducts(std::string& error) {
    std::vector<SerialProduct> products;
    const bool done = Transact(
        false,
        [&](std::string& failure) {
            std::vector<SqlRow> rows;
            const SqlStatus status =
                Query(std::string("SELECT ") + kProductColumns + " FROM products ORDER BY name", {},
                      rows, failure);
            products.clear();
            for (const SqlRow& row : rows) products.push_back(ProductOf(row, nullptr));
            return status;
        },
        error);
    if (!done) return std::nullopt;
    return products;
}

SqlStatus SqlLedger::ReadLeases(const std::string& product, std::vector<SerialLease>& leases,
                                std::string& error) {
    std::vector<SqlRow> rows;
    const SqlStatus status =
        product.empty()
            ? Query(std::string("SELECT ") + kLeaseColumns + " FROM leases l ORDER BY l.id", {},
                    rows, error)
            : Query(std::string("SELECT ") + kLeaseColumns +
                        " FROM leases l WHERE l.product = ? ORDER BY l.id",
                    {SqlText(product)}, rows, error);
    leases.clear();
    for (const SqlRow& row : rows) leases.push_back(LeaseOf(row));
    return status;
}

std::optional<std::vector<SerialLease>> SqlLedger::ListLeases(const std::string& product,
                                                              std::string& error) {
    std::vector<SerialLease> leases;
    if (!Transact(
            false, [&](std::string& failure) { return ReadLeases(product, leases, failure); },
            error))
        return std::nullopt;
    return leases;
}

std::optional<std::vector<LedgerConflict>> SqlLedger::ListConflicts(const std::string& product,
                                                                    std::string& error) {
    std::vector<LedgerConflict> conflicts;
    const bool done = Transact(
        false,
        [&](std::string& failure) {
            std::vector<SqlRow> rows;
            const std::string sql =
                "SELECT id, seen_at, kind, product, lease_id, programmer_path, usb_serial, "
                "shift_start, shift_value, detail FROM conflicts" +
                std::string(product.empty() ? "" : " WHERE product = ?") + " ORDER BY id";
            const SqlStatus status = Query(
                sql,
                product.empty() ? std::vector<SqlParam>{} : std::vector<SqlParam>{SqlText(product)},
                rows, failure);
            conflicts.clear();
            for (const SqlRow& row : rows) {
                LedgerConflict conflict;
                conflict.id = Int(row[0]);
                conflict.seenAt = Int(row[1]);
                conflict.kind = OutcomeOf(Text(row[2])).value_or(ReconcileOutcome::OutsideLeases);
                conflict.product = Text(row[3]);
                conflict.leaseId = Int(row[4]);
                conflict.programmer.path = Text(row[5]);
                conflict.programmer.usbSerial = Text(row[6]);
                conflict.shiftStart = static_cast<std::int32_t>(Int(row[7]));
                conflict.shiftValue = static_cast<std::int32_t>(Int(row[8]));
                conflict.detail = Text(row[9]);
                conflicts.push_back(conflict);
            }
            return status;
        },
        error);
    if (!done) return std::nullopt;
    return conflicts;
}

std::optional<std::vector<ProductTotals>> SqlLedger::Totals(const std::string& product,
                                                            std::string& error) {
    std::vector<ProductTotals> totals;
    const bool done = Transact(
        false,
        [&](std::string& failure) {
            totals.clear();
            std::vector<SqlRow> products;
            SqlStatus status = product.empty() ? Query(std::string("SELECT ") + kProductColumns +
                                                           " FROM products ORDER BY name",
                                                       {}, products, failure)
                                               : Query(std::string("SELECT ") + kProductColumns +
                                                           " FROM products WHERE name = ?",
                                                       {SqlText(product)}, products, failure);
            if (status != SqlStatus::Ok) return status;
            if (!product.empty() && products.empty()) {
                failure = Format("%s has no product '%s'", Where().c_str(), product.c_str());
                return SqlStatus::Failed;
            }
            std::vector<SerialLease> leases;
            if ((status = ReadLeases(product, leases, failure)) != SqlStatus::Ok) return status;
            std::vector<SqlRow> conflicts;
            if ((status = Query("SELECT product, COUNT(*) FROM conflicts GROUP BY product", {},
                                conflicts, failure)) != SqlStatus::Ok)
                return status;
            for (const SqlRow& row : products) {
                std::int64_t nextValue = 0;
                const SerialProduct series = ProductOf(row, &nextValue);
                std::int64_t conflictCount = 0;
                for (const SqlRow& counted : conflicts)
                    if (Text(counted[0]) == series.name) conflictCount = Int(counted[1]);
                totals.push_back(TotalsOf(series, nextValue, leases, conflictCount));
            }
            return status;
        },
        error);
    if (!done) return std::nullopt;
    return totals;
}
