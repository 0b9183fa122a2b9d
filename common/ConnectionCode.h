#pragma once
#include <cstdint>

// The pseudo-random generator behind connection codes: a 32-bit linear congruential
// state; each draw yields bits 16..30 of the new state (0..32767).
class ConnectionCodeGenerator {
public:
    explicit ConnectionCodeGenerator(std::uint32_t seed) : state_(seed) {}
    void Seed(std::uint32_t seed) { state_ = seed; }
    int Draw() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    std::uint32_t state_;
};

// The code made each time the programmer is opened, from a seed (the calendar time in
// seconds, low 32 bits). Bits 15 and 31 are always 0. Never fails.
std::uint32_t NewConnectionCode(std::uint32_t seed);

// The same, seeded with the current calendar time.
std::uint32_t NewConnectionCode();
