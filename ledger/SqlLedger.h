#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ledger/SerialLedger.h"

// The ledger over SQL, written once for both stores: a store gives a connection that runs
// statements (with "?" for each parameter) and transactions, and says how its dialect
// differs in the few places it does.

struct SqlParam {
    bool isText = false;
    std::int64_t number = 0;
    std::string text;
};
SqlParam SqlInt(std::int64_t number);
SqlParam SqlText(std::string text);

using SqlRow = std::vector<std::optional<std::string>>;  // a NULL is nullopt

// Busy: another station holds what is needed, or the store broke the transaction off to
// let another go first; the whole transaction is tried again.
enum class SqlStatus { Ok, Busy, Failed };

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual std::string Where() const = 0;
    // A transaction that will write (SQLite takes the write lock at once), or only read.
    virtual SqlStatus Begin(bool write, std::string& error) = 0;
    virtual SqlStatus Commit(std::string& error) = 0;
    virtual void Rollback() = 0;
    // Runs one statement; the rows it answers go to `rows` when given.
    virtual SqlStatus Run(const std::string& sql, const std::vector<SqlParam>& params,
                          std::vector<SqlRow>* rows, std::string& error) = 0;

    // The dialect: the column type of a generated id; what follows a SELECT that locks the
    // rows it reads until the transaction ends (empty where the write transaction holds the
    // whole store); a statement that keeps two first uses from creating the schema at once.
    virtual const char* IdColumn() const = 0;
    virtual const char* RowLock() const = 0;
    virtual const char* SchemaLock() const = 0;
};

// The stores' connections; nullptr with `error` when they cannot be had.
std::unique_ptr<SqlConnection> OpenSqliteConnection(const std::string& path, std::string& error);
std::unique_ptr<SqlConnection> OpenPostgresConnection(const std::string& uri, std::string& error);

class SqlLedger : public SerialLedger {
public:
    static constexpr int kSchemaVersion = 1;

    // Creates the schema on first use and refuses a ledger of a newer schema.
    static std::unique_ptr<SqlLedger> Open(std::unique_ptr<SqlConnection> connection,
                                           std::string& error);

    std::string Where() const override;
    bool EnsureProduct(const SerialProduct& wanted, SerialProduct& stored,
                       std::string& error) override;
    std::optional<SerialLease> TakeLease(const std::string& product, std::int64_t count,
                                         const LeaseHolder& holder, std::string& error) override;
    bool MarkStored(std::int64_t leaseId, std::string& error) override;
    bool MarkVoid(std::int64_t leaseId, std::string& error) override;
    std::optional<Reconciliation> Reconcile(const JobHeader& header, const SeenProgrammer& seen,
                                            std::string& error) override;
    std::optional<std::vector<SerialProduct>> ListProducts(std::string& error) override;
    std::optional<std::vector<SerialLease>> ListLeases(const std::string& product,
                                                       std::string& error) override;
    std::optional<std::vector<LedgerConflict>> ListConflicts(const std::string& product,
                                                             std::string& error) override;
    std::optional<std::vector<ProductTotals>> Totals(const std::string& product,
                                                     std::string& error) override;

private:
    explicit SqlLedger(std::unique_ptr<SqlConnection> connection);

    template <class Body>
    bool Transact(bool write, Body body, std::string& error);
    SqlStatus Query(const std::string& sql, const std::vector<SqlParam>& params,
                    std::vector<SqlRow>& rows, std::string& error);
    SqlStatus Exec(const std::string& sql, const std::vector<SqlParam>& params, std::string& error);
    SqlStatus CreateSchema(std::string& error);
    SqlStatus ReadLeases(const std::string& product, std::vector<SerialLease>& leases,
                         std::string& error);
    SqlStatus SetState(std::int64_t leaseId, LeaseState state, std::string& error);

    std::mutex mutex_;  // one statement at a time on the connection
    std::unique_ptr<SqlConnection> connection_;
};
