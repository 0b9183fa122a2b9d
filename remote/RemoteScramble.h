#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// The byte transform of remote job files. Every byte is transformed by its position
// modulo 128 through three fixed tables; bytes from 4 on are first XORed with the low
// byte of the target code, so a file only makes sense for the programmer it names.

inline constexpr std::size_t kScrambleTableSize = 128;
using ScrambleTable = std::array<std::uint8_t, kScrambleTableSize>;

extern const ScrambleTable ScrambleSbox;     // AES S-box, entries 0..127
extern const ScrambleTable ScrambleInvSbox;  // AES inverse S-box, entries 0..127
extern const ScrambleTable ScrambleAddend;   // key material of our own, see the definition

// Scrambles the `length` bytes of a plain record in place; bytes 0..3 are its target
// code. A record shorter than 4 bytes is only table-transformed. Never fails.
void ScrambleRemoteRecord(std::uint8_t* record, std::size_t length);

// The exact inverse, in place.
void DescrambleRemoteRecord(std::uint8_t* record, std::size_t length);

// The same from `scrambled` into `plain`; the two may be the same buffer, but must not
// overlap otherwise.
void DescrambleRemoteRecord(const std::uint8_t* scrambled, std::uint8_t* plain, std::size_t length);

// One byte of a scrambled record, taken back to plain: `position` is its offset in the
// record, `key` the low byte of the target code (0 for positions 0..3).
std::uint8_t DescrambleByte(std::uint8_t scrambled, std::size_t position, std::uint8_t key);
