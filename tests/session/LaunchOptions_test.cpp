// The desktop programs' command line: nothing by default, the simulator's options only
// with --simulate, and every malformed value refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/LaunchOptions.h"

namespace {

std::optional<LaunchOptions> Parse(std::vector<std::string> arguments, std::string& error) {
    arguments.insert(arguments.begin(), "marrowdyne");
    return ParseLaunchOptions(arguments, error);
}

TEST(LaunchOptions, WithoutOptionsTheRealProgrammerIsUsed) {
    std::string error;
    const auto options = Parse({}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->simulate);
    EXPECT_FALSE(options->showHelp);
    EXPECT_TRUE(options->simulator.faults.empty());
    EXPECT_TRUE(options->screenshotDir.empty());
    EXPECT_TRUE(options->simulator.state.empty());
}

TEST(LaunchOptions, SimulatorOptions) {
    std::string error;
    const auto options = Parse({"--simulate", "--sim-version", "0102", "--sim-firmware-version",
                                "0x220", "--sim-state", "/tmp/state.bin", "--sim-fault",
                                "WriteStorage:status@100", "--sim-fault", "StorageCrc:crc"},
                               error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->simulate);
    EXPECT_EQ(options->simulator.count, 1u);
    EXPECT_EQ(options->simulator.programmerVersion, 0x0102u);
    EXPECT_EQ(options->simulator.firmwareVersion, 0x0220u);
    EXPECT_EQ(options->simulator.state, std::filesystem::path("/tmp/state.bin"));
    ASSERT_EQ(options->simulator.faults.size(), 2u);
    EXPECT_FALSE(options->simulator.faults[0].programmer);
    EXPECT_EQ(options->simulator.faults[0].fault.command, Command::WriteStorage);
    EXPECT_EQ(options->simulator.faults[0].fault.kind, FaultKind::Status);
    EXPECT_EQ(options->simulator.faults[0].fault.occurrence, 100);
    EXPECT_EQ(options->simulator.faults[1].fault.command, Command::StorageCrc);
    EXPECT_EQ(options->simulator.faults[1].fault.kind, FaultKind::Crc);
    EXPECT_EQ(options->simulator.faults[1].fault.occurrence, 1);
    // Unset words keep the simulator's own defaults.
    const auto plain = Parse({"--simulate"}, error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->simulator.programmerVersion);
    EXPECT_FALSE(plain->simulator.firmwareVersion);
}

// A shelf: the count after --simulate (or with =), and a fault aimed at one of them,
// checked against the count wherever it stands on the line.
TEST(LaunchOptions, SeveralProgrammersWithAnAimedFault) {
    std::string error;
    auto options = Parse(
        {"--sim-fault", "2:WriteStorage:status", "--simulate", "3", "--sim-latency-us", "1000"},
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->simulator.count, 3u);
    EXPECT_EQ(options->simulator.latencyUs, 1000u);
    ASSERT_EQ(options->simulator.faults.size(), 1u);
    EXPECT_EQ(options->simulator.faults[0].programmer, std::optional<std::size_t>(2));
    options = Parse({"--simulate=2", "--lang", "en"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->simulator.count, 2u);
    // A count is taken only when one follows.
    options = Parse({"--simulate", "--lang", "en"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->simulator.count, 1u);
}

TEST(LaunchOptions, ScreenshotsRunOnTheSimulator) {
    std::string error;
    const auto options = Parse({"--screenshot", "/tmp/pictures"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->simulate);
    EXPECT_EQ(options->screenshotDir, "/tmp/pictures");
    // It is not offered in the help.
    EXPECT_EQ(LaunchOptionsHelp().find("screenshot"), std::string::npos);
    EXPECT_NE(LaunchOptionsHelp().find("--sim-fault"), std::string::npos);
}

TEST(LaunchOptions, Refusals) {
    const struct {
        std::vector<std::string> arguments;
        std::string reasonPart;
    } cases[] = {
        {{"--sim-version", "1002"}, "--simulate"},
        {{"--sim-latency-us", "10"}, "--simulate"},
        {{"--simulate", "--sim-version", "12zz"}, "--sim-version"},
        {{"--simulate", "--sim-version", "123456789"}, "--sim-version"},
        {{"--simulate", "--sim-version", ""}, "--sim-version"},
        {{"--simulate", "--sim-version", "0x"}, "--sim-version"},
        {{"--simulate", "--sim-firmware-version", "-1"}, "--sim-firmware-version"},
        {{"--simulate", "--sim-fault", "Nonsense:status"}, "Nonsense"},
        {{"--simulate", "--sim-fault", "WriteStorage:melt"}, "WriteStorage"},
        {{"--simulate", "2", "--sim-fault", "2:WriteStorage:status"}, "programmer 2"},
        {{"--simulate", "0"}, "--simulate"},
        {{"--simulate", "65"}, "--simulate"},
        {{"--simulate", "--sim-latency-us", "1000001"}, "--sim-latency-us"},
        {{"--simulate", "--sim-latency-us", "-5"}, "--sim-latency-us"},
        {{"--frobnicate"}, "frobnicate"},
        {{"--simulate", "--sim-state"}, "sim-state"},
        {{"firmware.hex"}, "firmware.hex"},
        {{"--lang", "fr"}, "--lang"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.arguments, error)) << c.arguments.front();
        EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
    }
}

TEST(LaunchOptions, LanguageFromTheOptionOverTheLocale) {
    std::string error;
    // The tests run under LC_ALL=C.UTF-8: the original texts.
    EXPECT_EQ(Parse({}, error)->language, TextLanguage::Original);
    EXPECT_EQ(Parse({"--lang", "en"}, error)->language, TextLanguage::English);
    EXPECT_EQ(Parse({"--lang=original"}, error)->language, TextLanguage::Original);
}

TEST(LaunchOptions, Help) {
    std::string error;
    for (const char* option : {"--help", "-h", "-?"}) {
        const auto options = Parse({option}, error);
        ASSERT_TRUE(options) << option;
        EXPECT_TRUE(options->showHelp);
    }
}

}  // namespace
