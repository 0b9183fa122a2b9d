#include <libpq-fe.h>

#include <cstring>

#include "common/TextFormat.h"
#include "ledger/SqlLedger.h"

namespace {

// Ends a libpq message without its line end.
std::string Trimmed(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// SQLSTATEs after which the transaction is tried again: the server broke it off in favour
// of another (serialization failure, deadlock), or another station created the same row
// first (the schema or a product at the same moment).
bool IsRetried(const char* state) {
    if (state == nullptr) return false;
    return std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0 ||
           std::strcmp(state, "23505") == 0 || std::strcmp(state, "42P07") == 0 ||
           std::strcmp(state, "55P03") == 0;
}

// "?" placeholders in PostgreSQL's numbered form; the ledger's statements have no "?" in
// their literals.
std::string Numbered(const std::string& sql) {
    std::string out;
    int index = 0;
    for (char c : sql) {
        if (c == '?') {
            out += '$' + std::to_string(++index);
        } else {
            out += c;
        }
    }
    return out;
}

// The store of a line of stations: a lease locks its product's row (SELECT ... FOR UPDATE)
// until it commits, so the stations take their blocks one after the other.
class PostgresConnection : public SqlConnection {
public:
    explicit PostgresConnection(PGconn* connection) : connection_(connection) {
        const char* host = PQhost(connection_);
        where_ = Format("the ledger database '%s' on %s", PQdb(connection_),
                        host != nullptr && *host != '\0' ? host : "the local server");
    }
    ~PostgresConnection() override { PQfinish(connection_); }

    std::string Where() const override { return where_; }

    SqlStatus Begin(bool write, std::string& error) override {
        return Run(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, nullptr,
                   error);
    }
    SqlStatus Commit(std::string& error) override { return Run("COMMIT", {}, nullptr, error); }
    void Rollback() override { PQclear(PQexec(connection_, "ROLLBACK")); }

    SqlStatus Run(const std::string& sql, const std::vector<SqlParam>& params,
                  std::vector<SqlRow>* rows, std::string& error) override {
        std::vector<std::string> texts;
        texts.reserve(params.size());
        for (const SqlParam& param : params)
            texts.push_back(param.isText ? param.text : std::to_string(param.number));
        std::vector<const char*> values;
        for (const std::string& text : texts) values.push_back(text.c_str());
        PGresult* result =
            PQexecParams(connection_, Numbered(sql).c_str(), static_cast<int>(values.size()),
                         nullptr, values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            if (rows != nullptr) {
                for (int r = 0; r < PQntuples(result); ++r) {
                    SqlRow row;
                    for (int c = 0; c < PQnfields(result); ++c) {
                        if (PQgetisnull(result, r, c)) {
                            row.emplace_back();
                        } else {
                            row.emplace_back(
                                std::string(PQgetvalue(result, r, c), PQgetlength(result, r, c)));
                        }
                    }
                    rows->push_back(std::move(row));
                }
            }
            PQclear(result);
            return SqlStatus::Ok;
        }
        const bool retried = IsRetried(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        error = Format(
            "%s: %s (%s)", where_.c_str(),
            Trimmed(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection_))
                .c_str(),
            sql.c_str());
        PQclear(result);
        return retried ? SqlStatus::Busy : SqlStatus::Failed;
    }

    const char* IdColumn() const override { return "BIGSERIAL PRIMARY KEY"; }
    const char* RowLock() const override { return " FOR UPDATE"; }
    // Held to the end of the schema's transaction; the number is the ledger's own.
    const char* SchemaLock() const override { return "SELECT pg_advisory_xact_lock(1296843847)"; }

private:
    PGconn* connection_;
    std::string where_;
};

// The server's notices ("relation already exists, skipping") are not the tool's to print.
void IgnoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<SqlConnection> OpenPostgresConnection(const std::string& uri, std::string& error) {
    PGconn* connection = PQconnectdb(uri.c_str());
    if (connection == nullptr) {
        error = "cannot connect to the ledger database: libpq has no memory";
        return nullptr;
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        error = "cannot connect to the ledger database: " + Trimmed(PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
    return std::make_unique<PostgresConnection>(connection);
}
