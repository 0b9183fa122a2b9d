#include "ledger/SerialLedger.h"

#include <cstdlib>
#include <filesystem>

#include "common/PathText.h"

#if MARRO_SERIAL_LEDGER
#include "ledger/SqlLedger.h"
#endif

bool IsConflict(ReconcileOutcome outcome) {
    return outcome == ReconcileOutcome::OutsideLeases ||
           outcome == ReconcileOutcome::TwoProgrammers;
}

const char* NameOf(ReconcileOutcome outcome) {
    switch (outcome) {
        case ReconcileOutcome::Matched:
            return "matched";
        case ReconcileOutcome::NoCodeShift:
            return "no-code-shift";
        case ReconcileOutcome::NoProduct:
            return "no-product";
        case ReconcileOutcome::OutsideLeases:
            return "outside-leases";
        case ReconcileOutcome::TwoProgrammers:
            return "two-programmers";
    }
    return "?";
}

const char* NameOf(LeaseState state) {
    switch (state) {
        case LeaseState::Leased:
            return "leased";
        case LeaseState::Stored:
            return "stored";
        case LeaseState::Void:
            return "void";
    }
    return "?";
}

bool IsPostgresLocation(const std::string& where) {
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<SerialLedger> OpenSerialLedger(const std::string& where, std::string& error) {
#if MARRO_SERIAL_LEDGER
    std::unique_ptr<SqlConnection> connection;
    if (IsPostgresLocation(where)) {
        connection = OpenPostgresConnection(where, error);
    } else if (where.empty()) {
        error = "no ledger file given";
    } else {
        connection = OpenSqliteConnection(where, error);
    }
    if (!connection) return nullptr;
    return SqlLedger::Open(std::move(connection), error);
#else
    error = "this build has no serial ledger (SQLite and PostgreSQL are not built for Windows): '" +
            where + "' cannot be used";
    return nullptr;
#endif
}

std::string DefaultLedgerPath() {
    std::filesystem::path data;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    // The XDG base directory rules ignore a relative XDG_DATA_HOME.
    if (xdg != nullptr && *xdg != '\0' && PathFromUtf8(xdg).is_absolute()) {
        data = PathFromUtf8(xdg);
    } else if (home != nullptr && *home != '\0') {
        data = PathFromUtf8(home) / ".local" / "share";
    } else {
        return {};
    }
    return Utf8OfPath(data / "marrowdyne" / "serials.sqlite");
}
