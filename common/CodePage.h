#pragma once
#include <string>
#include <string_view>

// Job names travel to the programmer in the PC's OEM code page and come back as bytes.
// The engine holds text as UTF-8; these convert at that border. Characters a page
// cannot hold become '?'. ASCII passes unchanged through every page.

struct CodePages {
    std::string oem;   // converter name, for example "CP866"
    std::string ansi;  // for example "CP1251"
};

// The Windows code pages that match a POSIX locale name ("ru_RU.UTF-8" gives CP866 and
// CP1251); CP437 and CP1252 when the name gives no language we know (C, POSIX, empty).
CodePages CodePagesForLocale(std::string_view localeName);

// The pages of this user: on Windows the system's OEM and ANSI pages, elsewhere the
// pages of the locale named by LC_ALL, LC_CTYPE or LANG.
const CodePages& UserCodePages();

std::string EncodeOem(std::string_view utf8);
std::string DecodeOem(std::string_view bytes);
std::string DecodeAnsi(std::string_view bytes);

// The same with a page named explicitly (a converter name as in CodePages).
std::string EncodeToPage(std::string_view utf8, const std::string& page);
std::string DecodeFromPage(std::string_view bytes, const std::string& page);
