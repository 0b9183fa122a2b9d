#pragma once
#include <cstddef>
#include <string_view>

// The characters of a UTF-8 text, as an edit control counts what the user typed.
inline std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}
