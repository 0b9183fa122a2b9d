#pragma once
#include <cstdio>
#include <string_view>

// Writes UTF-8 text on a stream so that its reader sees the characters: on a Windows
// console as UTF-16 (WriteConsoleW), since the C runtime's byte writes reach the console
// mangled whatever its code page; on a file or a pipe, and on other platforms, as the
// UTF-8 bytes themselves. Returns false when the stream did not take all of it (errno
// set).
bool WriteStreamText(std::FILE* stream, std::string_view utf8);

// Whether the stream is a Windows console; always false on other platforms.
bool IsConsoleStream(std::FILE* stream);
