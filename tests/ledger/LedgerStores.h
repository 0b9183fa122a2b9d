#pragma once
#include <string>

// The ledger's real stores as the tests use them: each test gets a ledger of its own, a
// file in the run's temporary folder or a database of the run's own PostgreSQL server.
enum class Store { Sqlite, Postgres };

const char* NameOf(Store store);
std::string TemporaryFolder();

// Where a new, empty ledger is (what OpenSerialLedger takes); empty with `why` when the
// store cannot be had (the PostgreSQL server did not start).
std::string NewLedger(Store store, std::string& why);

// Runs `sql` on the ledger at `where` beside the tool, as a newer tool or a person would.
bool RunSql(Store store, const std::string& where, const std::string& sql, std::string& why);
