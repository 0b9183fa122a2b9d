#include "session/LaunchOptions.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "common/NumberText.h"
#include "common/PathText.h"

namespace {

constexpr std::size_t kMaxProgrammers = 64;
constexpr std::uint32_t kMaxLatencyUs = 1000000;

// The options that take a value; --simulate takes one only when a count follows.
enum class Option { Help, Simulate, Version, Firmware, State, Fault, Latency, Lang, Screenshot };

struct OptionName {
    std::string_view name;
    Option option;
};

constexpr OptionName kOptions[] = {
    {"-h", Option::Help},
    {"-?", Option::Help},
    {"--help", Option::Help},
    {"--help-all", Option::Help},
    {"--simulate", Option::Simulate},
    {"--sim-version", Option::Version},
    {"--sim-firmware-version", Option::Firmware},
    {"--sim-state", Option::State},
    {"--sim-fault", Option::Fault},
    {"--sim-latency-us", Option::Latency},
    {"--lang", Option::Lang},
    {"--screenshot", Option::Screenshot},
};

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// 1 to 8 hexadecimal digits, with or without 0x.
std::optional<std::uint32_t> StrictHex(std::string_view text) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    return ParseHexNumber(text);
}

std::optional<std::uint32_t> Decimal(std::string_view text, std::uint32_t low, std::uint32_t high) {
    if (!AllDigits(text)) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<LaunchOptions> ParseLaunchOptions(const std::vector<std::string>& arguments,
                                                std::string& error) {
    LaunchOptions options;
    bool simOptions = false;
    std::vector<std::string> faults;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::optional<std::string> inlineValue;  // --option=value
        if (argument.starts_with("--")) {
            if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
                inlineValue = std::string(argument.substr(equals + 1));
                argument = argument.substr(0, equals);
            }
        }
        const OptionName* known = nullptr;
        for (const OptionName& entry : kOptions) {
            if (entry.name == argument) known = &entry;
        }
        if (known == nullptr) {
            if (argument.starts_with("-") && argument.size() > 1) {
                error = "Unknown option '" + std::string(argument) + "'.";
            } else {
                error = "Unexpected argument: " + std::string(argument);
            }
            return std::nullopt;
        }
        if (known->option == Option::Help) {
            options.showHelp = true;
            continue;
        }
        if (known->option == Option::Simulate) {
            options.simulate = true;
            // A count only when one follows: "--simulate --lang en" simulates one.
            std::optional<std::string> count = inlineValue;
            if (!count && i + 1 < arguments.size() && AllDigits(arguments[i + 1]))
                count = arguments[++i];
            if (count) {
                const auto value = Decimal(*count, 1, kMaxProgrammers);
                if (!value) {
                    error = "--simulate: not a number of programmers from 1 to 64: " + *count;
                    return std::nullopt;
                }
                options.simulator.count = *value;
            }
            continue;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = "Missing value after '" + std::string(argument) + "'.";
            return std::nullopt;
        }
        switch (known->option) {
            case Option::Version:
            case Option::Firmware: {
                const auto word = StrictHex(value);
                if (!word) {
                    error = std::string(argument) + ": not a hexadecimal word: " + value;
                    return std::nullopt;
                }
                (known->option == Option::Version ? options.simulator.programmerVersion
                                                  : options.simulator.firmwareVersion) = *word;
                simOptions = true;
                break;
            }
            case Option::State:
                options.simulator.state = PathFromUtf8(value);
                simOptions = true;
                break;
            case Option::Fault:
                faults.push_back(value);
                simOptions = true;
                break;
            case Option::Latency: {
                const auto latency = Decimal(value, 0, kMaxLatencyUs);
                if (!latency) {
                    error = "--sim-latency-us: not a number of microseconds from 0 to 1000000: " +
                            value;
                    return std::nullopt;
                }
                options.simulator.latencyUs = *latency;
                simOptions = true;
                break;
            }
            case Option::Lang: {
                const auto language = ParseTextLanguage(value);
                if (!language) {
                    error = "--lang: not en or original: " + value;
                    return std::nullopt;
                }
                options.language = *language;
                break;
            }
            case Option::Screenshot:
                options.screenshotDir = value;
                // The pictures are taken of the simulated programmer.
                options.simulate = true;
                break;
            case Option::Help:
            case Option::Simulate:
                break;
        }
    }
    if (simOptions && !options.simulate) {
        error = "The --sim-* options need --simulate.";
        return std::nullopt;
    }
    // Aims are checked against the count, wherever on the line the count came.
    for (const std::string& text : faults) {
        std::string reason;
        const auto fault = ParseAimedFault(text, options.simulator.count, reason);
        if (!fault) {
            error = "--sim-fault " + text + ": " + reason;
            return std::nullopt;
        }
        options.simulator.faults.push_back(*fault);
    }
    return options;
}

std::string LaunchOptionsHelp() {
    return "Usage: marrowdyne [options]\n"
           "Offline programmer tool\n"
           "\n"
           "Options:\n"
           "  -h, --help                  Displays help on commandline options.\n"
           "  --simulate [N]              Run against N simulated programmers (1 when not\n"
           "                              given).\n"
           "  --sim-version <HEX>         Version word of the simulated programmers.\n"
           "  --sim-firmware-version <HEX>\n"
           "                              Firmware word of the simulated programmers.\n"
           "  --sim-state <FILE|DIR>      Keep the simulated programmer's memory in FILE (with\n"
           "                              several, a folder holding one file each).\n"
           "  --sim-fault <FAULT>         Inject a fault, [K:]COMMAND:KIND[@N]; K aims it at\n"
           "                              sim:programmer-K alone; repeatable.\n"
           "  --sim-latency-us <U>        Every exchange with a simulated programmer takes U\n"
           "                              microseconds.\n"
           "  --lang <LANG>               Language of the texts: en (English) or original\n"
           "                              (Russian and Chinese); default from the locale.\n";
}
