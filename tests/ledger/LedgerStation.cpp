// One station of a line, for the ledger's tests: opens the ledger, waits until the test's
// start file exists (so all stations lease at once), then takes leases of one product and
// writes "ID FIRST COUNT" per lease as soon as the ledger answered it.
//   marrowdyne_ledger_station WHERE PRODUCT COUNT LEASES|forever START-FILE
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "ledger/SerialLedger.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s WHERE PRODUCT COUNT LEASES|forever START-FILE\n", argv[0]);
        return 2;
    }
    const std::string product = argv[2];
    const std::int64_t count = std::strtoll(argv[3], nullptr, 10);
    const bool forever = std::string(argv[4]) == "forever";
    const long leases = forever ? 0 : std::strtol(argv[4], nullptr, 10);
    std::string error;
    auto ledger = OpenSerialLedger(argv[1], error);
    if (!ledger) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    while (!std::filesystem::exists(argv[5]))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    LeaseHolder holder;
    holder.station = "station-" + std::to_string(::getpid());
    for (long taken = 0; forever || taken < leases; ++taken) {
        const auto lease = ledger->TakeLease(product, count, holder, error);
        if (!lease) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%" PRId64 " %" PRId64 " %" PRId64 "\n", lease->id, lease->firstValue,
                    lease->count);
        std::fflush(stdout);
    }
    return 0;
}
