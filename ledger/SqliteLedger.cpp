#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "common/PathText.h"
#include "common/TextFormat.h"
#include "ledger/SqlLedger.h"

namespace {

// How long one statement waits for another station's write lock before it is told busy
// (and its transaction is tried again).
constexpr int kBusyTimeoutMs = 5000;

bool IsBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// The embedded store: one file, in WAL mode so readers do not wait for a station's lease,
// written with BEGIN IMMEDIATE so a lease takes the write lock before it reads the product.
class SqliteConnection : public SqlConnection {
public:
    SqliteConnection(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    ~SqliteConnection() override { sqlite3_close_v2(db_); }

    std::string Where() const override { return "the ledger '" + path_ + "'"; }

    SqlStatus Begin(bool write, std::string& error) override {
        return Run(write ? "BEGIN IMMEDIATE" : "BEGIN", {}, nullptr, error);
    }
    SqlStatus Commit(std::string& error) override { return Run("COMMIT", {}, nullptr, error); }
    void Rollback() override {
        if (sqlite3_get_autocommit(db_) == 0)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    SqlStatus Run(const std::string& sql, const std::vector<SqlParam>& params,
                  std::vector<SqlRow>* rows, std::string& error) override {
        sqlite3_stmt* statement = nullptr;
        int code =
            sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (code != SQLITE_OK) return Failure(code, sql, error);
        for (std::size_t i = 0; i < params.size() && code == SQLITE_OK; ++i) {
            const int index = static_cast<int>(i) + 1;
            code = params[i].isText ? sqlite3_bind_text(statement, index, params[i].text.c_str(),
                                                        static_cast<int>(params[i].text.size()),
                                                        SQLITE_TRANSIENT)
                                    : sqlite3_bind_int64(statement, index, params[i].number);
        }
        while (code == SQLITE_OK || code == SQLITE_ROW) {
            code = sqlite3_step(statement);
            if (code != SQLITE_ROW || rows == nullptr) continue;
            SqlRow row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const unsigned char* text = sqlite3_column_text(statement, column);
                if (text == nullptr) {
                    row.emplace_back();
                } else {
                    row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                                 sqlite3_column_bytes(statement, column)));
                }
            }
            rows->push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        if (code == SQLITE_DONE) return SqlStatus::Ok;
        return Failure(code, sql, error);
    }

    const char* IdColumn() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
    const char* RowLock() const override { return ""; }     // BEGIN IMMEDIATE holds the file
    const char* SchemaLock() const override { return ""; }  // likewise

private:
    SqlStatus Failure(int code, const std::string& sql, std::string& error) {
        error = Format("%s: %s (%s)", Where().c_str(), sqlite3_errmsg(db_), sql.c_str());
        if (IsBusy(code)) return SqlStatus::Busy;
        // A constraint met because another station wrote first (a product created at the
        // same moment) is decided again from the start.
        if ((code & 0xFF) == SQLITE_CONSTRAINT && sql.rfind("INSERT INTO products", 0) == 0)
            return SqlStatus::Busy;
        return SqlStatus::Failed;
    }

    sqlite3* db_;
    std::string path_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqliteConnection(const std::string& path, std::string& error) {
    const std::filesystem::path file = PathFromUtf8(path);
    if (file.has_parent_path()) {
        std::error_code failure;
        std::filesystem::create_directories(file.parent_path(), failure);
        if (failure) {
            error = Format("cannot create the folder of the ledger '%s': %s", path.c_str(),
                           failure.message().c_str());
            return nullptr;
        }
    }
    sqlite3* db = nullptr;
    const int code =
        sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        error = Format("cannot open the ledger '%s': %s", path.c_str(),
                       db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code));
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    auto connection = std::make_unique<SqliteConnection>(db, path);
    // WAL lets reports read while a station leases; FULL syncs each commit, so a lease that
    // was answered survives a power cut before the job is written. Switching to WAL needs a
    // moment alone with the file: stations opening it together wait for each other.
    std::vector<SqlRow> rows;
    SqlStatus status = SqlStatus::Busy;
    for (int attempt = 0; attempt < 200 && status == SqlStatus::Busy; ++attempt) {
        rows.clear();
        status = connection->Run("PRAGMA journal_mode=WAL", {}, &rows, error);
        if (status == SqlStatus::Busy) sqlite3_sleep(25);
    }
    if (status != SqlStatus::Ok) return nullptr;
    if (rows.empty() || !rows[0][0] || *rows[0][0] != "wal") {
        error = Format("the ledger '%s' cannot be put in WAL mode (it stays in '%s')", path.c_str(),
                       rows.empty() || !rows[0][0] ? "?" : rows[0][0]->c_str());
        return nullptr;
    }
    if (connection->Run("PRAGMA synchronous=FULL", {}, nullptr, error) != SqlStatus::Ok ||
        connection->Run("PRAGMA foreign_keys=ON", {}, nullptr, error) != SqlStatus::Ok)
        return nullptr;
    return connection;
}
