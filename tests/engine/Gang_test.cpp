#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "worker/Gang.h"

namespace {

// The members work at the same time, one that throws ends alone, and each finishes
// exactly once, one finish at a time.
TEST(Gang, MembersWorkTogetherAndFailAlone) {
    constexpr std::size_t kMembers = 4;
    std::mutex mutex;
    std::condition_variable allStarted;
    std::size_t started = 0;
    std::vector<bool> metTheOthers(kMembers, false);
    std::vector<int> finishes(kMembers, 0);
    std::vector<bool> failed(kMembers, false);
    std::atomic<int> finishing{0};
    bool overlapped = false;

    RunGang(
        kMembers,
        [&](std::size_t i) {
            std::unique_lock lock(mutex);
            ++started;
            allStarted.notify_all();
            // Only members on threads of their own all get here before any leaves.
            metTheOthers[i] = allStarted.wait_for(lock, std::chrono::seconds(10),
                                                  [&] { return started == kMembers; });
            if (i == 1) throw std::runtime_error("programmer 1 broke");
        },
        [&](std::size_t i, std::exception_ptr failure) {
            if (finishing.fetch_add(1) != 0) overlapped = true;
            ++finishes[i];
            failed[i] = failure != nullptr;
            finishing.fetch_sub(1);
        });

    EXPECT_EQ(metTheOthers, std::vector<bool>(kMembers, true));
    EXPECT_EQ(finishes, std::vector<int>(kMembers, 1));
    EXPECT_EQ(failed, (std::vector<bool>{false, true, false, false}));
    EXPECT_FALSE(overlapped);
}

}  // namespace
