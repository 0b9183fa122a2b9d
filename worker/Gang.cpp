#include "worker/Gang.h"

#include <mutex>
#include <thread>
#include <vector>

void RunGang(std::size_t members, const std::function<void(std::size_t)>& work,
             const std::function<void(std::size_t, std::exception_ptr)>& finished) {
    std::mutex finishing;
    std::exception_ptr finishFailure;
    const auto finish = [&](std::size_t i, std::exception_ptr failure) {
        std::lock_guard lock(finishing);
        try {
            finished(i, failure);
        } catch (...) {
            if (!finishFailure) finishFailure = std::current_exception();
        }
    };
    const auto run = [&](std::size_t i) {
        std::exception_ptr failure;
        try {
            work(i);
        } catch (...) {
            failure = std::current_exception();
        }
        finish(i, failure);
    };

    std::vector<std::thread> threads;
    threads.reserve(members);
    for (std::size_t i = 0; i < members; ++i) {
        try {
            threads.emplace_back(run, i);
        } catch (...) {
            finish(i, std::current_exception());
        }
    }
    for (std::thread& thread : threads) thread.join();
    if (finishFailure) std::rethrow_exception(finishFailure);
}
