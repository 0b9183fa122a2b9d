#include "common/CodePage.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

#ifndef _WIN32
// Converts with iconv; an input sequence the target cannot hold (or that is not valid
// in the source) is replaced by a single '?' and the conversion goes on.
std::string Convert(std::string_view input, const char* to, const char* from,
                    std::size_t invalidStep) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::string fallback(input);
        for (char& c : fallback) {
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        }
        return fallback;
    }
    std::string output;
    output.resize(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            const std::size_t used = static_cast<std::size_t>(out - output.data());
            output.resize(output.size() * 2);
            out = output.data() + used;
            outLeft = output.size() - used;
            continue;
        }
        // EILSEQ or EINVAL: skip the offending input and mark it.
        std::size_t skip = 1;
        if (invalidStep == 0) {  // UTF-8 input: skip the whole character
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
        }
        in += skip;
        inLeft -= skip;
        if (outLeft == 0) {
            const std::size_t used = static_cast<std::size_t>(out - output.data());
            output.resize(output.size() * 2);
            out = output.data() + used;
            outLeft = output.size() - used;
        }
        *out++ = '?';
        --outLeft;
    }
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    iconv_close(cd);
    output.resize(static_cast<std::size_t>(out - output.data()));
    return output;
}
#endif

struct LanguagePages {
    const char* language;
    const char* oem;
    const char* ansi;
};

// Language (and for Chinese the territory) to the Windows OEM and ANSI pages.
constexpr LanguagePages kLanguagePages[] = {
    {"zh_TW", "CP950", "CP950"}, {"zh_HK", "CP950", "CP950"}, {"zh", "CP936", "CP936"},
    {"ja", "CP932", "CP932"},    {"ko", "CP949", "CP949"},    {"th", "CP874", "CP874"},
    {"vi", "CP1258", "CP1258"},  {"ru", "CP866", "CP1251"},   {"uk", "CP866", "CP1251"},
    {"be", "CP866", "CP1251"},   {"bg", "CP866", "CP1251"},   {"kk", "CP866", "CP1251"},
    {"pl", "CP852", "CP1250"},   {"cs", "CP852", "CP1250"},   {"sk", "CP852", "CP1250"},
    {"hu", "CP852", "CP1250"},   {"hr", "CP852", "CP1250"},   {"sl", "CP852", "CP1250"},
    {"ro", "CP852", "CP1250"},   {"el", "CP737", "CP1253"},   {"tr", "CP857", "CP1254"},
    {"he", "CP862", "CP1255"},   {"lt", "CP775", "CP1257"},   {"lv", "CP775", "CP1257"},
    {"et", "CP775", "CP1257"},   {"en", "CP437", "CP1252"},   {"de", "CP850", "CP1252"},
    {"fr", "CP850", "CP1252"},   {"es", "CP850", "CP1252"},   {"it", "CP850", "CP1252"},
    {"pt", "CP850", "CP1252"},   {"nl", "CP850", "CP1252"},   {"sv", "CP850", "CP1252"},
    {"da", "CP850", "CP1252"},   {"fi", "CP850", "CP1252"},   {"nb", "CP850", "CP1252"},
    {"no", "CP850", "CP1252"},   {"is", "CP850", "CP1252"},   {"ca", "CP850", "CP1252"},
};

}  // namespace

CodePages CodePagesForLocale(std::string_view localeName) {
    for (const auto& entry : kLanguagePages) {
        const std::string_view language = entry.language;
        if (localeName.substr(0, language.size()) != language) continue;
        // "en" must not match "eo", and "zh" stands for every Chinese locale not listed.
        const char next = localeName.size() > language.size() ? localeName[language.size()] : '\0';
        if (next == '\0' || next == '_' || next == '.' || next == '@') {
            return {entry.oem, entry.ansi};
        }
    }
    return {"CP437", "CP1252"};
}

const CodePages& UserCodePages() {
#ifdef _WIN32
    static const CodePages pages{"CP" + std::to_string(GetOEMCP()),
                                 "CP" + std::to_string(GetACP())};
#else
    static const CodePages pages = [] {
        for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* value = std::getenv(variable);
            if (value != nullptr && *value != '\0') return CodePagesForLocale(value);
        }
        return CodePagesForLocale("");
    }();
#endif
    return pages;
}

#ifdef _WIN32
namespace {

unsigned PageNumber(const std::string& page) {
    return static_cast<unsigned>(std::strtoul(page.c_str() + 2, nullptr, 10));
}

std::wstring Widen(std::string_view text, unsigned page) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    }
    return wide;
}

std::string Narrow(const std::wstring& wide, unsigned page) {
    if (wide.empty()) return {};
    const char* defaultChar = page == CP_UTF8 ? nullptr : "?";
    // No best fit: a character the page lacks becomes '?', as everywhere else, rather
    // than a look-alike that would read back as another name.
    const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, defaultChar, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()), narrow.data(),
                            size, defaultChar, nullptr);
    }
    return narrow;
}

}  // namespace

std::string EncodeToPage(std::string_view utf8, const std::string& page) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Narrow(Widen(utf8, CP_UTF8), PageNumber(page));
}

std::string DecodeFromPage(std::string_view bytes, const std::string& page) {
    if (IsAscii(bytes)) return std::string(bytes);
    return Narrow(Widen(bytes, PageNumber(page)), CP_UTF8);
}
#else
std::string EncodeToPage(std::string_view utf8, const std::string& page) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Convert(utf8, page.c_str(), "UTF-8", 0);
}

std::string DecodeFromPage(std::string_view bytes, const std::string& page) {
    if (IsAscii(bytes)) return std::string(bytes);
    return Convert(bytes, "UTF-8", page.c_str(), 1);
}
#endif

std::string EncodeOem(std::string_view utf8) { return EncodeToPage(utf8, UserCodePages().oem); }
std::string DecodeOem(std::string_view bytes) { return DecodeFromPage(bytes, UserCodePages().oem); }
std::string DecodeAnsi(std::string_view bytes) {
    return DecodeFromPage(bytes, UserCodePages().ansi);
}
