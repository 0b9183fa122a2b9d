#include "LedgerStores.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/support/TempFolder.h"

namespace {

// The run's own folder, removed when the run ends.
const TempFolder runFolder("marro-ledger");

// A PostgreSQL server of the run's own, started at the first test that needs it: its data
// and its socket in a temporary folder, no TCP port. PostgreSQL refuses to run as root, so
// as root the server runs as nobody.
class PostgresServer : public ::testing::Environment {
public:
    bool Start(std::string& why) {
        if (started_) return true;
        if (!failure_.empty()) {
            why = failure_;
            return false;
        }
        made_ = std::make_unique<TempFolder>("marro-pg");
        folder_ = made_->Path().string();
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
                return Fail("the server's folder cannot be given to the user nobody", why);
            prefix_ = "runuser -u nobody -- ";
        }
        const std::string bin = MARRO_POSTGRES_BIN;
        const std::string log = folder_ + "/setup.log";
        if (!Run(bin + "/initdb -D " + folder_ +
                     "/data -U marrowdyne --auth=trust -E UTF8 "
                     "--no-sync",
                 log))
            return Fail("initdb failed: " + ReadText(log), why);
        if (!Run(bin + "/pg_ctl -D " + folder_ + "/data -w -t 60 -l " + folder_ +
                     "/server.log -o \"-k " + folder_ + " -c listen_addresses= -F\" start",
                 log)) {
            return Fail("pg_ctl start failed: " + ReadText(log) + ReadText(folder_ + "/server.log"),
                        why);
        }
        started_ = true;
        return true;
    }

    std::string Uri(const std::string& database) const {
        return "postgresql:///" + database + "?host=" + folder_ + "&user=marrowdyne";
    }

    void TearDown() override {
        if (started_)
            Run(std::string(MARRO_POSTGRES_BIN) + "/pg_ctl -D " + folder_ +
                    "/data -m immediate -w stop",
                folder_ + "/stop.log");
        started_ = false;
        made_.reset();
    }

private:
    bool Run(const std::string& command, const std::string& log) const {
        const std::string line =
            prefix_ + "sh -c 'cd " + folder_ + " && " + command + "' >" + log + " 2>&1";
        return std::system(line.c_str()) == 0;
    }
    bool Fail(const std::string& what, std::string& why) {
        failure_ = "the test's PostgreSQL server cannot be started: " + what;
        why = failure_;
        return false;
    }

    bool started_ = false;
    std::string failure_;
    std::unique_ptr<TempFolder> made_;
    std::string folder_;
    std::string prefix_;
};
PostgresServer* server =
    static_cast<PostgresServer*>(::testing::AddGlobalTestEnvironment(new PostgresServer));

bool RunPostgres(const std::string& uri, const std::string& sql, std::string& why) {
    PGconn* connection = PQconnectdb(uri.c_str());
    bool done = PQstatus(connection) == CONNECTION_OK;
    if (done) {
        PGresult* result = PQexec(connection, sql.c_str());
        done =
            PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        PQclear(result);
    }
    if (!done) why = PQerrorMessage(connection);
    PQfinish(connection);
    return done;
}

}  // namespace

const char* NameOf(Store store) { return store == Store::Sqlite ? "SQLite" : "PostgreSQL"; }

std::string TemporaryFolder() { return runFolder.Path().string(); }

std::string NewLedger(Store store, std::string& why) {
    static int made = 0;
    const std::string name = "ledger" + std::to_string(++made);
    if (store == Store::Sqlite) return TemporaryFolder() + "/" + name + "/serials.sqlite";
    if (!server->Start(why)) return {};
    if (!RunPostgres(server->Uri("postgres"), "CREATE DATABASE " + name, why)) return {};
    return server->Uri(name);
}

bool RunSql(Store store, const std::string& where, const std::string& sql, std::string& why) {
    if (store == Store::Postgres) return RunPostgres(where, sql, why);
    sqlite3* db = nullptr;
    char* message = nullptr;
    const bool done = sqlite3_open(where.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!done) why = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    sqlite3_close(db);
    return done;
}
