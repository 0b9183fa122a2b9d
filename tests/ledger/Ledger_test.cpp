// The serial ledger against both real stores: every case runs on a SQLite file and on a
// PostgreSQL database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "LedgerStores.h"
#include "ledger/SerialLedger.h"
#include "tests/support/ProgramRun.h"

namespace {

SerialProduct Board(std::int64_t first = 1000, std::int64_t last = 0x7FFFFFFF,
                    std::int64_t step = 1) {
    SerialProduct product;
    product.name = "board-a";
    product.shiftAddress = 0x08004000;
    product.shiftFormat = 3;
    product.shiftStep = step;
    product.firstValue = first;
    product.lastValue = last;
    return product;
}

JobHeader HeaderShowing(std::int32_t start, std::int32_t value, std::uint32_t programmed,
                        std::int32_t step = 1) {
    JobHeader header;
    header.shiftEnabled = 1;
    header.shiftAddress = 0x08004000;
    header.shiftStart = start;
    header.shiftValue = value;
    header.shiftStep = step;
    header.programmedCount = programmed;
    return header;
}

// The blocks are disjoint and follow each other from `first` without a gap.
void ExpectConsecutive(std::vector<SerialLease> leases, std::int64_t first, std::int64_t step) {
    std::sort(leases.begin(), leases.end(), [](const SerialLease& a, const SerialLease& b) {
        return a.firstValue < b.firstValue;
    });
    std::int64_t next = first;
    for (const SerialLease& lease : leases) {
        EXPECT_EQ(lease.firstValue, next) << "lease " << lease.id;
        next = lease.firstValue + lease.count * step;
    }
}

class Ledger : public ::testing::TestWithParam<Store> {
protected:
    void SetUp() override {
        std::string why;
        where_ = NewLedger(GetParam(), why);
        ASSERT_FALSE(where_.empty()) << why;
        ledger_ = Open();
        ASSERT_TRUE(ledger_);
    }

    std::unique_ptr<SerialLedger> Open() {
        std::string error;
        auto ledger = OpenSerialLedger(where_, error);
        EXPECT_TRUE(ledger) << error;
        return ledger;
    }

    void Ensure(const SerialProduct& product) {
        SerialProduct stored;
        std::string error;
        ASSERT_TRUE(ledger_->EnsureProduct(product, stored, error)) << error;
    }

    SerialLease Take(std::int64_t count, const std::string& usbSerial = "") {
        LeaseHolder holder;
        holder.station = "line-1";
        holder.programmerPath = "/dev/hidraw3";
        holder.usbSerial = usbSerial;
        holder.jobName = "blink-f103.hex";
        holder.imageChecksum = 0xC0FFEE01;
        std::string error;
        const auto lease = ledger_->TakeLease("board-a", count, holder, error);
        EXPECT_TRUE(lease) << error;
        return lease.value_or(SerialLease{});
    }

    ProductTotals TotalsOfBoard() {
        std::string error;
        const auto totals = ledger_->Totals("board-a", error);
        EXPECT_TRUE(totals && totals->size() == 1) << error;
        return totals && !totals->empty() ? totals->front() : ProductTotals{};
    }

    std::string where_;
    std::unique_ptr<SerialLedger> ledger_;
};

// A gang of 8 programmers gets 8 disjoint blocks; the next day's gang, through a ledger
// opened anew, continues after them.
TEST_P(Ledger, leases_are_disjoint_and_continue_after_the_last) {
    Ensure(Board(1000));
    std::vector<SerialLease> gang;
    for (int i = 0; i < 8; ++i) gang.push_back(Take(100, "SN" + std::to_string(i)));
    ExpectConsecutive(gang, 1000, 1);

    ledger_ = Open();
    ASSERT_TRUE(ledger_);
    Ensure(Board(1000));
    EXPECT_EQ(Take(100).firstValue, 1800);

    std::string error;
    const auto leases = ledger_->ListLeases("board-a", error);
    ASSERT_TRUE(leases) << error;
    ASSERT_EQ(leases->size(), 9u);
    const SerialLease& first = leases->front();
    EXPECT_EQ(first.id, gang.front().id);
    EXPECT_EQ(first.holder.usbSerial, "SN0");
    EXPECT_EQ(first.holder.programmerPath, "/dev/hidraw3");
    EXPECT_EQ(first.holder.imageChecksum, 0xC0FFEE01u);
    EXPECT_EQ(first.state, LeaseState::Leased);
    const ProductTotals totals = TotalsOfBoard();
    EXPECT_EQ(totals.handedOut, 900);
    EXPECT_EQ(totals.left, 0x7FFFFFFF - 1900 + 1);
}

TEST_P(Ledger, a_product_with_other_settings_is_refused_naming_the_difference) {
    Ensure(Board(1000, 99999, 1));
    struct Case {
        const char* change;
        void (*apply)(SerialProduct&);
        const char* named;
    } cases[] = {
        {"address", [](SerialProduct& p) { p.shiftAddress = 0x08008000; },
         "address 0x08008000, not 0x08004000"},
        {"width", [](SerialProduct& p) { p.shiftFormat = 2; }, "width 3 bytes, not 4"},
        {"byte order", [](SerialProduct& p) { p.shiftFormat = 7; }, "format 0x07, not 0x03"},
        {"step", [](SerialProduct& p) { p.shiftStep = 2; }, "step 2, not 1"},
        {"first value", [](SerialProduct& p) { p.firstValue = 0; }, "first value 0, not 1000"},
        {"last value", [](SerialProduct& p) { p.lastValue = 5000; }, "last value 5000, not 99999"},
    };
    for (const Case& c : cases) {
        SerialProduct wanted = Board(1000, 99999, 1);
        c.apply(wanted);
        SerialProduct stored;
        std::string error;
        EXPECT_FALSE(ledger_->EnsureProduct(wanted, stored, error)) << c.change;
        EXPECT_NE(error.find(c.named), std::string::npos) << c.change << ": " << error;
    }
    SerialProduct stored;
    std::string error;
    EXPECT_TRUE(ledger_->EnsureProduct(Board(1000, 99999, 1), stored, error)) << error;
    EXPECT_EQ(stored, Board(1000, 99999, 1));
}

// With a step of 5, 1000..1999 holds 200 values.
TEST_P(Ledger, a_block_that_does_not_fit_is_refused_with_the_numbers_left) {
    Ensure(Board(1000, 1999, 5));
    EXPECT_EQ(Take(150).firstValue, 1000);
    std::string error;
    EXPECT_FALSE(ledger_->TakeLease("board-a", 60, LeaseHolder{}, error));
    EXPECT_NE(error.find("50 values left (1750 to 1995)"), std::string::npos) << error;
    EXPECT_EQ(Take(50).firstValue, 1750);
    EXPECT_FALSE(ledger_->TakeLease("board-a", 1, LeaseHolder{}, error));
    EXPECT_NE(error.find("no values left"), std::string::npos) << error;
    EXPECT_EQ(TotalsOfBoard().left, 0);
}

TEST_P(Ledger, void_values_are_never_handed_out_again) {
    Ensure(Board(1000));
    const SerialLease failed = Take(100);
    std::string error;
    ASSERT_TRUE(ledger_->MarkVoid(failed.id, error)) << error;
    EXPECT_FALSE(ledger_->MarkStored(failed.id, error));
    const SerialLease next = Take(100);
    EXPECT_EQ(next.firstValue, 1100);
    ASSERT_TRUE(ledger_->MarkStored(next.id, error)) << error;
    const ProductTotals totals = TotalsOfBoard();
    EXPECT_EQ(totals.voided, 100);
    EXPECT_EQ(totals.handedOut, 100);
}

TEST_P(Ledger, reconciles_what_each_programmer_shows) {
    Ensure(Board(1000));
    const SerialLease lease = Take(100, "SN-A");
    Take(100, "SN-B");
    std::string error;
    struct Case {
        const char* what;
        JobHeader header;
        SeenProgrammer seen;
        ReconcileOutcome outcome;
        std::int64_t used;  // recorded on the lease afterwards
    } cases[] = {
        {"37 of 100 used",
         HeaderShowing(1000, 1037, 37),
         {"/dev/hidraw3", "SN-A"},
         ReconcileOutcome::Matched,
         37},
        {"a clone that ran past its block",
         HeaderShowing(1000, 1101, 101),
         {"/dev/hidraw4", "SN-A"},
         ReconcileOutcome::OutsideLeases,
         37},
        {"a start that begins no lease",
         HeaderShowing(1050, 1060, 10),
         {"/dev/hidraw4", "SN-C"},
         ReconcileOutcome::OutsideLeases,
         37},
        {"another step",
         HeaderShowing(1000, 1040, 20, 2),
         {"/dev/hidraw3", "SN-A"},
         ReconcileOutcome::OutsideLeases,
         37},
        {"the same block in a second programmer",
         HeaderShowing(1000, 1040, 40),
         {"/dev/hidraw5", "SN-Z"},
         ReconcileOutcome::TwoProgrammers,
         37},
        {"a programmer without a USB serial",
         HeaderShowing(1000, 1040, 40),
         {"/dev/hidraw6", ""},
         ReconcileOutcome::Matched,
         40},
    };
    for (const Case& c : cases) {
        const auto result = ledger_->Reconcile(c.header, c.seen, error);
        ASSERT_TRUE(result) << c.what << ": " << error;
        EXPECT_EQ(result->outcome, c.outcome) << c.what << ": " << result->detail;
        EXPECT_EQ(result->product, "board-a") << c.what;
        const auto leases = ledger_->ListLeases("board-a", error);
        ASSERT_TRUE(leases) << error;
        EXPECT_EQ(leases->front().used, c.used) << c.what;
    }
    const auto leases = ledger_->ListLeases("", error);
    ASSERT_TRUE(leases) << error;
    EXPECT_EQ(leases->front().id, lease.id);
    EXPECT_EQ(leases->front().state, LeaseState::Stored);  // a header proves it was stored
    EXPECT_EQ(leases->front().programmedCount, 40);
    EXPECT_EQ(leases->front().seenUsbSerial, "SN-A");

    const auto conflicts = ledger_->ListConflicts("board-a", error);
    ASSERT_TRUE(conflicts) << error;
    ASSERT_EQ(conflicts->size(), 4u);
    EXPECT_EQ(conflicts->back().kind, ReconcileOutcome::TwoProgrammers);
    EXPECT_EQ(conflicts->back().leaseId, lease.id);
    EXPECT_EQ(conflicts->back().programmer.usbSerial, "SN-Z");
    const ProductTotals totals = TotalsOfBoard();
    EXPECT_EQ(totals.used, 40);
    EXPECT_EQ(totals.conflicts, 4);

    // Nothing of the ledger's at this address, or code shift off: no conflict either.
    JobHeader elsewhere = HeaderShowing(1000, 1001, 1);
    elsewhere.shiftAddress = 0x08010000;
    auto result = ledger_->Reconcile(elsewhere, {"/dev/hidraw3", "SN-A"}, error);
    ASSERT_TRUE(result) << error;
    EXPECT_EQ(result->outcome, ReconcileOutcome::NoProduct);
    JobHeader off = HeaderShowing(1000, 1001, 1);
    off.shiftEnabled = 0;
    result = ledger_->Reconcile(off, {"/dev/hidraw3", "SN-A"}, error);
    ASSERT_TRUE(result) << error;
    EXPECT_EQ(result->outcome, ReconcileOutcome::NoCodeShift);
    EXPECT_EQ(TotalsOfBoard().conflicts, 4);
}

TEST_P(Ledger, a_ledger_of_a_newer_schema_is_refused) {
    ledger_.reset();
    std::string why;
    ASSERT_TRUE(RunSql(GetParam(), where_,
                       "UPDATE ledger_meta SET value = '2' WHERE key = 'schema_version'", why))
        << why;
    std::string error;
    EXPECT_FALSE(OpenSerialLedger(where_, error));
    EXPECT_NE(error.find("written by a newer tool (schema version 2"), std::string::npos) << error;
}

// A station process, its output in a file of its own.
struct Station {
    pid_t pid = -1;
    std::string output;
};

Station StartStation(const std::string& where, const std::string& leases,
                     const std::string& startFile, int number) {
    Station station;
    Launch launch;
    launch.stdoutPath = TemporaryFolder() + "/station-" + std::to_string(number) + "-" +
                        std::to_string(std::rand());
    station.output = launch.stdoutPath.string();
    launch.stderrPath = station.output + ".err";
    std::string why;
    station.pid = StartProgram({MARRO_LEDGER_STATION, where, "board-a", "10", leases, startFile},
                               launch, why);
    return station;
}

// The leases a station reported: lease id to first value.
std::map<std::int64_t, std::int64_t> Reported(const Station& station) {
    std::map<std::int64_t, std::int64_t> reported;
    std::ifstream in(station.output);
    std::int64_t id = 0, first = 0, count = 0;
    while (in >> id >> first >> count) reported[id] = first;
    return reported;
}

TEST_P(Ledger, four_stations_at_once_take_one_hundred_disjoint_blocks) {
    Ensure(Board(0));
    const std::string go = TemporaryFolder() + "/go-" + std::to_string(std::rand());
    std::vector<Station> stations;
    for (int i = 0; i < 4; ++i) stations.push_back(StartStation(where_, "25", go, i));
    for (const Station& station : stations) ASSERT_GT(station.pid, 0);
    std::ofstream(go).put('\n');
    std::map<std::int64_t, std::int64_t> reported;
    for (const Station& station : stations) {
        int status = 0;
        ASSERT_EQ(waitpid(station.pid, &status, 0), station.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "station " << station.pid;
        const auto own = Reported(station);
        EXPECT_EQ(own.size(), 25u);
        reported.insert(own.begin(), own.end());
    }
    std::string error;
    const auto leases = ledger_->ListLeases("board-a", error);
    ASSERT_TRUE(leases) << error;
    ASSERT_EQ(leases->size(), 100u);
    ASSERT_EQ(reported.size(), 100u);
    for (const SerialLease& lease : *leases) {
        ASSERT_TRUE(reported.count(lease.id)) << "lease " << lease.id << " reported by no station";
        EXPECT_EQ(reported[lease.id], lease.firstValue);
    }
    ExpectConsecutive(*leases, 0, 1);
    EXPECT_EQ(TotalsOfBoard().handedOut, 1000);
}

// A station killed at any moment, inside its lease transaction or not, leaves whole leases
// only: the product's next value is right after the last lease, and every lease the station
// was told of is there.
TEST_P(Ledger, a_station_killed_while_leasing_leaves_whole_leases) {
    Ensure(Board(0));
    const std::string go = TemporaryFolder() + "/go-" + std::to_string(std::rand());
    std::ofstream(go).put('\n');
    std::minstd_rand random(20240519);
    for (int round = 0; round < 6; ++round) {
        const Station station = StartStation(where_, "forever", go, round);
        ASSERT_GT(station.pid, 0);
        // Wait for its first lease, then kill it a moment later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Reported(station).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ASSERT_EQ(kill(station.pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(station.pid, &status, 0), station.pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the station ended by itself in round " << round;

        // A database server may still end the killed station's last transaction (commit
        // it or roll it back) after the station is gone: read once what it holds is settled.
        std::string error;
        std::optional<std::vector<SerialLease>> leases;
        for (int look = 0; look < 50; ++look) {
            leases = ledger_->ListLeases("board-a", error);
            ASSERT_TRUE(leases) << error;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const auto again = ledger_->ListLeases("board-a", error);
            ASSERT_TRUE(again) << error;
            if (again->size() == leases->size()) break;
        }
        ASSERT_FALSE(leases->empty());
        std::map<std::int64_t, std::int64_t> recorded;
        for (const SerialLease& lease : *leases) {
            EXPECT_EQ(lease.count, 10);
            recorded[lease.id] = lease.firstValue;
        }
        for (const auto& [id, first] : Reported(station)) {
            ASSERT_TRUE(recorded.count(id)) << "reported lease " << id << " is lost";
            EXPECT_EQ(recorded[id], first);
        }
        ExpectConsecutive(*leases, 0, 1);
        EXPECT_EQ(TotalsOfBoard().left,
                  0x7FFFFFFF - static_cast<std::int64_t>(leases->size()) * 10 + 1)
            << "round " << round;
    }
    std::string error;
    const auto leases = ledger_->ListLeases("board-a", error);
    ASSERT_TRUE(leases) << error;
    EXPECT_EQ(Take(10).firstValue, static_cast<std::int64_t>(leases->size()) * 10);
}

INSTANTIATE_TEST_SUITE_P(Stores, Ledger, ::testing::Values(Store::Sqlite, Store::Postgres),
                         [](const ::testing::TestParamInfo<Store>& info) {
                             return std::string(NameOf(info.param));
                         });

}  // namespace
