#pragma once
#include <optional>
#include <string>
#include <string_view>

// The language of the system's texts. They are written in Russian and Chinese; one
// catalogue (text domain "marrowdyne", compiled by msgfmt) gives them in English. Every face chooses
// the language once at start, before it shows any text, and shows each text through Tr.

enum class TextLanguage { Original, English };

// Marks a text kept in a constant for the catalogue; it is translated where it is shown.
#define N_(text) text

// English when the locale of messages the environment names (LC_ALL, else LC_MESSAGES,
// else LANG, the first that is set and not empty) starts with "en"; else the original.
TextLanguage LanguageOfEnvironment();

// The value of a --lang option: "en" or "original"; nullopt for anything else.
std::optional<TextLanguage> ParseTextLanguage(std::string_view value);

// Makes Tr answer in `language`. English needs the catalogue, read the first time English
// is chosen: installed, it lies in share/locale/en/LC_MESSAGES beside the program's bin
// folder; in the build tree, in the build's share/locale. Returns false with `problem` set
// when English cannot be had (no catalogue, or one that cannot be read: a truncated or
// damaged file is refused whole); the texts then stay the original ones.
bool ChooseLanguage(TextLanguage language, std::string& problem);

TextLanguage ChosenLanguage();

// The text in the chosen language: the msgid itself for the original language, and
// whenever the catalogue has no translation. A printf format keeps its conversions, so
// the compiler checks the arguments against the msgid.
#if defined(__GNUC__)
__attribute__((format_arg(1)))
#endif
const char*
Tr(const char* msgid);
std::string Tr(std::string_view msgid);
