#pragma once
#ifdef _WIN32
#include <string>
#include <string_view>

// UTF-8, the system's texts on every platform, and UTF-16, the text of the Windows calls;
// malformed input becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
#endif
