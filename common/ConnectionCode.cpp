#include "common/ConnectionCode.h"

#include <ctime>

std::uint32_t NewConnectionCode(std::uint32_t seed) {
    ConnectionCodeGenerator generator(seed);
    const auto a = static_cast<std::uint32_t>(generator.Draw());
    const auto b = static_cast<std::uint32_t>(generator.Draw());
    generator.Seed((a << 16) | b);
    const auto c = static_cast<std::uint32_t>(generator.Draw());
    const auto d = static_cast<std::uint32_t>(generator.Draw());
    return (c << 16) | d;
}

std::uint32_t NewConnectionCode() {
    return NewConnectionCode(static_cast<std::uint32_t>(std::time(nullptr)));
}
