#include "common/Translation.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/PathText.h"
#include "common/ProgramLocation.h"

#ifdef MARRO_HAVE_GETTEXT
#include <libintl.h>
#endif

namespace {

constexpr const char* kTextDomain = "marrowdyne";

std::atomic<bool> english{false};

#ifdef MARRO_HAVE_GETTEXT
// The nearest share/locale holding the English catalogue, from the program's folder up:
// <prefix>/bin finds <prefix>/share/locale, a program of the build tree (one or two
// folders below the build folder) the build's own.
std::filesystem::path CatalogueRoot() {
    std::filesystem::path folder = ProgramDirectory();
    for (int level = 0; level < 4 && !folder.empty(); ++level) {
        const std::filesystem::path root = folder / "share" / "locale";
        std::error_code error;
        if (std::filesystem::is_regular_file(root / "en" / "LC_MESSAGES" / "marrowdyne.mo",
                                             error)) {
            return root;
        }
        if (!folder.has_relative_path()) break;
        folder = folder.parent_path();
    }
    return {};
}
#endif

}  // namespace

TextLanguage LanguageOfEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::strncmp(value, "en", 2) == 0 ? TextLanguage::English : TextLanguage::Original;
    }
    return TextLanguage::Original;
}

std::optional<TextLanguage> ParseTextLanguage(std::string_view value) {
    if (value == "en") return TextLanguage::English;
    if (value == "original") return TextLanguage::Original;
    return std::nullopt;
}

bool ChooseLanguage(TextLanguage language, std::string& problem) {
    english = false;
    if (language == TextLanguage::Original) return true;
#ifdef MARRO_HAVE_GETTEXT
    const std::filesystem::path root = CatalogueRoot();
    if (root.empty()) {
        problem = "English is not available: no share/locale/en/LC_MESSAGES/marrowdyne.mo near " +
                  Utf8OfPath(ProgramDirectory());
        return false;
    }
    // gettext translates nothing in the C locale, and the locale the environment names
    // may not be generated on this system; C.UTF-8 always is. LANGUAGE then picks the
    // catalogue, whatever locale the messages category has.
    const char* current = std::setlocale(LC_MESSAGES, nullptr);
    if (current == nullptr || std::strcmp(current, "C") == 0 ||
        std::strcmp(current, "POSIX") == 0) {
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    }
    setenv("LANGUAGE", "en", 1);
    if (bindtextdomain(kTextDomain, root.c_str()) == nullptr ||
        bind_textdomain_codeset(kTextDomain, "UTF-8") == nullptr) {
        problem =
            "English is not available: the catalogue in " + Utf8OfPath(root) + " cannot be bound";
        return false;
    }
    english = true;
    return true;
#else
    problem = "English is not available in this build; the texts stay as they are";
    return false;
#endif
}

bool BuildHasEnglish() {
#ifdef MARRO_HAVE_GETTEXT
    return true;
#else
    return false;
#endif
}

TextLanguage ChosenLanguage() { return english ? TextLanguage::English : TextLanguage::Original; }

const char* Tr(const char* msgid) {
#ifdef MARRO_HAVE_GETTEXT
    // The original language never asks the catalogue, so no other language creeps in.
    if (english && msgid != nullptr && *msgid != '\0') return dgettext(kTextDomain, msgid);
#endif
    return msgid;
}

std::string Tr(std::string_view msgid) {
    if (!english) return std::string(msgid);
    const std::string text(msgid);
    return Tr(text.c_str());
}
