#include "cli/Arguments.h"

#include <cctype>

#include "cli/ExitCodes.h"
#include "common/NumberText.h"
#include "image/FileLoading.h"

std::optional<std::uint32_t> ParseHexDigits(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    return ParseHexNumber(text);
}

std::uint32_t ParseStartAddress(std::string_view text) {
    const std::optional<std::uint32_t> address = ParseHexDigits(text);
    if (!address) {
        throw CliFailure(ExitCode::Usage, kMsgAddressRange,
                         "--address takes 1 to 8 hexadecimal digits, got '" + std::string(text) + "'");
    }
    return *address;
}
