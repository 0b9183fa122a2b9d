#include "cli/Arguments.h"

#include <cctype>

#include "cli/ExitCodes.h"
#include "common/NumberText.h"
#include "image/FileLoading.h"
#include "remote/GenerateRemoteJobFile.h"

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
        throw CliFailure(
            ExitCode::Usage, Tr(kMsgAddressRange),
            "--address takes 1 to 8 hexadecimal digits, got '" + std::string(text) + "'");
    }
    return *address;
}

std::uint32_t ParseDeviceId(std::string_view text, std::string_view option) {
    // The device-ID dialog takes exactly eight characters.
    const std::optional<std::uint32_t> code =
        text.size() == 8 ? ParseHexDigits(text) : std::nullopt;
    if (!code) {
        throw CliFailure(ExitCode::Usage, Tr(kMsgBadDeviceId),
                         std::string(option) + " takes exactly 8 hexadecimal digits, got '" +
                             std::string(text) + "'");
    }
    return *code;
}
