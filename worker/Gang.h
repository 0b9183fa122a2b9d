#pragma once
#include <cstddef>
#include <exception>
#include <functional>

// A gang: the same work on several programmers at once, one thread per programmer. Each
// member brings its own link and its own port, so members share nothing but what the
// work shares on purpose (a loaded image, only read); one member's failure, exception or
// hang neither stops nor disturbs the others.
//
// `work(i)` runs on member i's own thread; `finished(i, failure)` follows it on that
// thread, one call at a time across the gang, in the order the members end, so that a
// face can log and show each programmer's result as it comes. `failure` is the exception
// that ended work(i), or null. A member whose thread cannot be started finishes at once
// with that failure. Returns when every member has finished; then rethrows the first
// exception that left `finished`, if any.
void RunGang(std::size_t members, const std::function<void(std::size_t)>& work,
             const std::function<void(std::size_t, std::exception_ptr)>& finished);

// The same over a list of sessions (anything indexable), each handed to the work whole.
template <class Sessions, class Work, class Finished>
requires requires(Sessions& sessions) { sessions[sessions.size() - 1]; }
void RunGang(Sessions& sessions, Work work, Finished finished) {
    RunGang(
        sessions.size(), [&](std::size_t i) { work(sessions[i]); },
        [&](std::size_t i, std::exception_ptr failure) { finished(sessions[i], failure); });
}
