#include "common/Translation.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "common/MessageCatalogue.h"
#include "common/PathText.h"
#include "common/ProgramLocation.h"

namespace {

std::atomic<bool> english{false};

// The English catalogue, read when English is first chosen and kept to the end of the
// program: Tr hands out its texts, also to threads that still run while it exits, so it
// is never replaced or freed.
std::mutex catalogueReading;
std::atomic<const MessageCatalogue*> catalogue{nullptr};

const std::filesystem::path kCatalogueFile =
    std::filesystem::path("en") / "LC_MESSAGES" / "marrowdyne.mo";

// The nearest share/locale holding the English catalogue, from the program's folder up:
// <prefix>/bin finds <prefix>/share/locale, a program of the build tree (one or two
// folders below the build folder) the build's own.
std::filesystem::path CatalogueRoot() {
    std::filesystem::path folder = ProgramDirectory();
    for (int level = 0; level < 4 && !folder.empty(); ++level) {
        const std::filesystem::path root = folder / "share" / "locale";
        std::error_code error;
        if (std::filesystem::is_regular_file(root / kCatalogueFile, error)) return root;
        if (!folder.has_relative_path()) break;
        folder = folder.parent_path();
    }
    return {};
}

bool HaveCatalogue(std::string& problem) {
    const std::lock_guard<std::mutex> lock(catalogueReading);
    if (catalogue.load() != nullptr) return true;
    const std::filesystem::path root = CatalogueRoot();
    if (root.empty()) {
        problem = "English is not available: no share/locale/en/LC_MESSAGES/marrowdyne.mo near " +
                  Utf8OfPath(ProgramDirectory());
        return false;
    }
    auto read = std::make_unique<MessageCatalogue>();
    std::string why;
    if (!ReadMessageCatalogue(root / kCatalogueFile, *read, why)) {
        problem = "English is not available: " + why;
        return false;
    }
    catalogue = read.release();
    return true;
}

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
    if (!HaveCatalogue(problem)) return false;
    english = true;
    return true;
}

TextLanguage ChosenLanguage() { return english ? TextLanguage::English : TextLanguage::Original; }

const char* Tr(const char* msgid) {
    // The original language never asks the catalogue, so no other language creeps in.
    if (english && msgid != nullptr && *msgid != '\0') {
        if (const char* translation = catalogue.load()->Find(msgid)) return translation;
    }
    return msgid;
}

std::string Tr(std::string_view msgid) {
    if (!english || msgid.empty()) return std::string(msgid);
    const char* const translation = catalogue.load()->Find(msgid);
    return translation != nullptr ? std::string(translation) : std::string(msgid);
}
