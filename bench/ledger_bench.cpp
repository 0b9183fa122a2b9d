// The serial ledger's cost: one lease at a time, and 8 stations leasing at once, each with
// its own connection. SQLite in a temporary file; PostgreSQL at the database that
// MARRO_BENCH_POSTGRES names (a postgresql:// URI), skipped with a note without it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ledger/SerialLedger.h"
#include "tests/support/TempFolder.h"

#if MARRO_SERIAL_LEDGER
namespace {

std::string SqliteBenchLedger() {
    static const TempFolder folder("marro-ledger-bench");
    return (folder / "serials.sqlite").string();
}

std::string PostgresBenchLedger() {
    const char* uri = std::getenv("MARRO_BENCH_POSTGRES");
    return uri != nullptr ? uri : "";
}

// Each iteration leases 100 values; every thread is a station with its own connection.
void LeaseBlocks(benchmark::State& state, const std::string& where) {
    if (where.empty()) {
        state.SkipWithError("MARRO_BENCH_POSTGRES names no PostgreSQL database");
        return;
    }
    std::string error;
    auto ledger = OpenSerialLedger(where, error);
    SerialProduct product;
    product.name = "bench";
    product.lastValue = 0x7FFFFFFF;
    SerialProduct stored;
    if (!ledger || !ledger->EnsureProduct(product, stored, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    LeaseHolder holder;
    holder.station = "bench-" + std::to_string(state.thread_index());
    for (auto _ : state) {
        if (!ledger->TakeLease("bench", 100, holder, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());  // leases
}

void BM_LeaseSqlite(benchmark::State& state) { LeaseBlocks(state, SqliteBenchLedger()); }
void BM_LeasePostgres(benchmark::State& state) { LeaseBlocks(state, PostgresBenchLedger()); }

BENCHMARK(BM_LeaseSqlite)->UseRealTime();
BENCHMARK(BM_LeaseSqlite)->Threads(8)->UseRealTime();
BENCHMARK(BM_LeasePostgres)->UseRealTime();
BENCHMARK(BM_LeasePostgres)->Threads(8)->UseRealTime();

}  // namespace
#endif
