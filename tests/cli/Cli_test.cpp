// marrowdyne-cli as a user runs it: the built program against its simulated programmer,
// with its output, its files and its exit codes.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "link/VersionText.h"
#include "job/JobHeader.h"
#include "cli/DeviceSession.h"
#include "cli/ExitCodes.h"
#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "image/FileLoading.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "job/IdentifyProgrammer.h"
#include "link/SimulatedProgrammer.h"
#include "remote/GenerateRemoteJobFile.h"
#include "tests/engine/TestFirmware.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "update/UpdateProgrammerFirmware.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kSample = std::string(MARRO_SOURCE_DIR) + "/samples/blink-f103.hex";

// One Intel HEX record with its checksum.
std::string Record(std::uint8_t type, std::uint16_t address,
                   const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(data.size()),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address), type};
    body.insert(body.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : body) sum = static_cast<std::uint8_t>(sum + b);
    body.push_back(static_cast<std::uint8_t>(0x100 - sum));
    std::string line = ":";
    for (std::uint8_t b : body) line += Format("%02X", b);
    return line + "\r\n";
}

// 19 bytes at 0x08000000: not a whole number of words, so the checksum needs padding.
const std::vector<std::uint8_t> kImage = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                          0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                                          0x0E, 0x0F, 0xAA, 0xBB, 0xCC};

std::string ImageHex() {
    return Record(4, 0, {0x08, 0x00}) +
           Record(0, 0x0000, std::vector<std::uint8_t>(kImage.begin(), kImage.begin() + 16)) +
           Record(0, 0x0010, std::vector<std::uint8_t>(kImage.begin() + 16, kImage.end())) +
           Record(1, 0, {});
}

std::uint32_t PaddedCrc(std::vector<std::uint8_t> bytes) {
    while (bytes.size() % 4 != 0) bytes.push_back(0xFF);
    return WordCrc32(bytes.data(), bytes.size() / 4);
}

// The requests of a trace, as their command bytes.
std::vector<int> TracedCommands(const fs::path& trace) {
    std::vector<int> commands;
    for (const std::string& line : Lines(ReadText(trace))) {
        if (line.rfind("> ", 0) == 0) commands.push_back(std::stoi(line.substr(5, 2), nullptr, 16));
    }
    return commands;
}

int Code(ExitCode code) { return static_cast<int>(code); }

Launch StdoutTo(const std::string& path) {
    Launch launch;
    launch.stdoutPath = path;
    return launch;
}

Launch StdoutClosed() {
    Launch launch;
    launch.closeStdout = true;
    return launch;
}

Launch StdoutPipeClosed() {
    Launch launch;
    launch.stdoutPipeClosed = true;
    return launch;
}

Launch FilesUpTo(std::uintmax_t bytes) {
    Launch launch;
    launch.fileSizeLimit = bytes;
    return launch;
}

Launch InLocale(const std::string& lang) {
    Launch launch;
    launch.lang = lang;
    return launch;
}

Launch KilledAfter(int seconds) {
    Launch launch;
    launch.timeLimitSeconds = seconds;
    return launch;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The default serial ledger of every run is this test's own.
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    // Runs the program, its output captured unless `launch` sends it elsewhere.
    Ran Cli(const std::vector<std::string>& args, Launch launch = {}) {
        std::vector<std::string> all = {MARRO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        if (launch.stdoutPath == "/dev/null") launch.stdoutPath = Path(".stdout");
        launch.stderrPath = Path(".stderr");
        const Ran run = RunProgram(all, launch);
        if (!run.trouble.empty()) ADD_FAILURE() << run.trouble;
        return run;
    }

    // Starts a run in the background, its output thrown away; Reap waits for it.
    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> all = {MARRO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::string why;
        const pid_t pid = StartProgram(all, {}, why);
        EXPECT_GT(pid, 0) << why;
        return pid;
    }
    static int Reap(pid_t pid) {
        bool killed = false;
        const int code = WaitProgram(pid, 120, killed);
        EXPECT_FALSE(killed) << "still running after 120 s: killed";
        return code;
    }

    // The names in this test's folder other than the captured output.
    std::vector<std::string> Listing(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name != ".stdout" && name != ".stderr") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The simulated programmer, its memory kept in this test's folder.
    std::vector<std::string> Sim(std::vector<std::string> args) {
        std::vector<std::string> all = {"--simulate", "--sim-state", Path("memory.bin").string()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    const TempFolder folder_{"marrowdyne-cli"};
    const fs::path dir_ = folder_.Path();
};

TEST_F(CliTest, InspectShowsStartLengthAndPaddedChecksumAndDumpsTheImage) {
    WriteBytes(Path("fw.hex"), ImageHex());
    const std::uint32_t crc = PaddedCrc(kImage);

    Ran run = Cli({"inspect", Path("fw.hex").string(), "--dump", Path("fw.bin").string()});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "start\t0x08000000\nlength\t19\n" + Format("crc\t0x%08x\n", crc));
    EXPECT_EQ(ReadBytes(Path("fw.bin")), kImage);

    run = Cli({"--json", "inspect", Path("fw.hex").string()});
    ASSERT_EQ(run.code, 0);
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["start"], 0x08000000);
    EXPECT_EQ(doc["length"], 19);
    EXPECT_EQ(doc["crc"], crc);
    EXPECT_EQ(doc["result"], "HexOk");
    EXPECT_EQ(doc["exitCode"], 0);

#ifdef MARRO_TEST_FIRMWARE_DIR
    // The built firmware's S-records and ELF files give the images objcopy makes of them.
    const fs::path firmware(MARRO_TEST_FIRMWARE_DIR);
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* name : {"blink", "offset"}) {
        files.emplace_back(std::string(name) + ".srec", "SrecOk");
        files.emplace_back(std::string(name) + ".elf", "ElfOk");
    }
    for (const auto& [name, result] : files) {
        run = Cli({"--json", "inspect", (firmware / name).string(), "--dump",
                   Path("image.bin").string()});
        ASSERT_EQ(run.code, 0) << name << ": " << run.err;
        EXPECT_EQ(json::parse(run.out)["result"], result) << name;
        const fs::path image = firmware / fs::path(name).replace_extension(".bin");
        EXPECT_EQ(ReadBytes(Path("image.bin")), ReadBytes(image)) << name;
    }
#endif
}

TEST_F(CliTest, InspectTakesARawStartAddressOfUpToEightDigits) {
    WriteBytes(Path("fw.bin"), std::string("\x01\x02\x03\x04\x05", 5));
    Ran run = Cli({"--json", "inspect", Path("fw.bin").string(), "--address", "8004000"});
    ASSERT_EQ(run.code, 0) << run.err;
    json doc = json::parse(run.out);
    EXPECT_EQ(doc["start"], 0x08004000);
    EXPECT_EQ(doc["length"], 5);
    EXPECT_EQ(doc["result"], "BinOk");

    for (const char* bad : {"123456789", "80G0000", ""}) {
        run = Cli({"inspect", Path("fw.bin").string(), "--address", bad});
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << bad;
        EXPECT_TRUE(Contains(run.err, kMsgAddressRange)) << bad << ": " << run.err;
    }
}

TEST_F(CliTest, RefusedFilesShowTheMessageWithTheResultName) {
    std::string broken = ImageHex();
    broken[broken.find("\r\n") - 1] ^= 1;  // the first record's checksum
    WriteBytes(Path("broken.hex"), broken);
    Ran run = Cli({"inspect", Path("broken.hex").string()});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(Contains(run.err, kMsgLoadFailed)) << run.err;
    EXPECT_TRUE(Contains(run.err, "HexBadChecksum")) << run.err;
    EXPECT_EQ(run.out, "");

    run = Cli({"--json", "inspect", Path("broken.hex").string()});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    json doc = json::parse(run.out);
    EXPECT_EQ(doc["result"], "HexBadChecksum");
    EXPECT_EQ(doc["message"], kMsgLoadFailed);
    EXPECT_EQ(doc["exitCode"], Code(ExitCode::FileRefused));

    run = Cli({"--json", "inspect", Path("missing.hex").string()});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_EQ(json::parse(run.out)["result"], "HexOpenFailed");

    WriteBytes(Path("notes.txt"), "text");
    run = Cli({"--simulate", "program", Path("notes.txt").string()});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(Contains(run.err, kMsgUnsupportedType)) << run.err;
    EXPECT_TRUE(Contains(run.err, AcceptedFormatsNote())) << run.err;

    // The upload's own refusal has the exclamation icon of a notice, and still is one.
    WriteBytes(Path("big.bin"), std::string(kMaxJobImageLength + 1, '\x5A'));
    run = Cli({"--simulate", "program", Path("big.bin").string(), "--series", "STM32F1XX"});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(Contains(run.err, std::string(kImageTooLargeText) + "\n")) << run.err;
    EXPECT_EQ(run.out, "path\tsim:programmer-0\nserial\tSIM0000\n");
}

TEST_F(CliTest, BundledSampleIsAnImageForTheF103AtFlashStart) {
    Ran run = Cli({"--json", "inspect", kSample, "--dump", Path("sample.bin").string()});
    ASSERT_EQ(run.code, 0) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["start"], 0x08000000);
    const std::vector<std::uint8_t> image = ReadBytes(Path("sample.bin"));
    ASSERT_EQ(image.size(), doc["length"].get<std::size_t>());
    ASSERT_GE(image.size(), 0x130u);  // the whole vector table of the F103
    EXPECT_LE(image.size(), 4096u);
    const auto word = [&](std::size_t i) { return ReadLe32(image.data() + 4 * i); };
    EXPECT_EQ(word(0) & 0xFFF00000u, 0x20000000u);  // the stack in SRAM
    const std::uint32_t reset = word(1);
    EXPECT_EQ(reset & 1, 1u);       // Thumb
    EXPECT_GE(reset, 0x08000130u);  // after the table, inside the image
    EXPECT_LT(reset, 0x08000000u + image.size());
}

TEST_F(CliTest, ProgramStoresTheJobAndInfoReadsItBackInTheNextRun) {
    Ran run = Cli(
        Sim({"program", kSample, "--series", "STM32F1XX", "--full-erase", "--count-limit", "5"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string(kUploadDoneText) + "\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "名称\tblink-f103.hex\n")) << run.out;

    run = Cli(Sim({"info"}));
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 5u + 9u) << run.out;
    EXPECT_EQ(lines[0], "path\tsim:programmer-0");
    EXPECT_EQ(lines[1], "serial\tSIM0000");
    EXPECT_EQ(lines[2], "Version:10.02");
    EXPECT_EQ(lines[3], "Frimware:2.10");
    EXPECT_TRUE(std::regex_match(lines[4], std::regex("SN:[0-9A-F]{8}"))) << lines[4];
    EXPECT_EQ(lines[5], "名称\tblink-f103.hex");
    EXPECT_EQ(lines[6], "类型\tSTM32F1XX");
    EXPECT_EQ(lines[7], "设置\t|校验数据|擦除全片|编程次数");
    EXPECT_EQ(lines[8], "次数\t5");
    EXPECT_EQ(lines[9], "已编\t0");
    EXPECT_EQ(lines[10], "地址\t0x08000000");
    EXPECT_EQ(lines[11], "长度\t372");
    EXPECT_EQ(lines[13], "选项\t---");

    run = Cli(Sim({"--json", "info"}));
    ASSERT_EQ(run.code, 0);
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["programmerVersion"], 0x1002);
    EXPECT_EQ(doc["firmwareVersion"], 0x0210);
    EXPECT_EQ(doc["deviceId"], Format("%08X", doc["connectionCode"].get<std::uint32_t>()));
    EXPECT_EQ(doc["job"][1]["label"], "类型");
    EXPECT_EQ(doc["job"][1]["value"], "STM32F1XX");
}

TEST_F(CliTest, ProgrammerFailuresEndWithTheStepMessageAndTheirExitCode) {
    struct Case {
        std::vector<std::string> fault;
        std::string message;
        ExitCode code;
        std::string lang = {};  // the run's LANG, the other locale variables unset
    };
    const Case cases[] = {
        // The sample's twelve image blocks are an upload's first WriteStorages, then come
        // the name and the header.
        {{"--sim-fault", "WriteStorage:status@14"}, "Ошибка    :09", ExitCode::CommandRefused},
        {{"--sim-fault", "WriteStorage:status@3"}, "Ошибка    :15", ExitCode::CommandRefused},
        {{"--sim-fault", "WriteStorage:write@13"}, "Ошибка    :10", ExitCode::LinkFailed},
        {{"--sim-fault", "StorageCrc:crc"},
         std::string(kVerifyMismatchText),
         ExitCode::VerifyMismatch},
        {{"--sim-fault", "StorageCrc:hang", "--sim-timeout-ms", "200"},
         "Ошибка    :17",
         ExitCode::LinkFailed},
        // Empty memory: identification reads both header places and the name first.
        {{"--sim-fault", "ReadStorage:read@4"}, "数据上传失败 错误码:19", ExitCode::ReadBackFailed},
        {{"--sim-fault", "QueryVersion:read"}, "版本信息读取失败 错误码:02", ExitCode::LinkFailed},
        // English from the catalogue, asked for or named by the locale; --lang wins.
        {{"--lang", "en", "--sim-fault", "WriteStorage:status@14"},
         "Error    :09",
         ExitCode::CommandRefused},
        {{"--sim-fault", "QueryVersion:read"},
         "Version read failed, error code:02",
         ExitCode::LinkFailed,
         "en_US.UTF-8"},
        {{"--lang", "original", "--sim-fault", "WriteStorage:status@3"},
         "Ошибка    :15",
         ExitCode::CommandRefused,
         "en_US.UTF-8"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--simulate"};
        args.insert(args.end(), c.fault.begin(), c.fault.end());
        args.insert(args.end(), {"program", kSample, "--series", "STM32F1XX"});
        const Ran run = Cli(args, InLocale(c.lang));
        const std::string& message = c.message;
        EXPECT_EQ(run.code, Code(c.code)) << c.fault[1] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, message + "\n")) << c.fault[1] << ": " << run.err;
        EXPECT_FALSE(Contains(run.out, std::string(kUploadDoneText))) << c.fault[1];
    }

    const Ran run = Cli({"--simulate", "--sim-fault", "WriteStorage:status@14", "--json", "program",
                         kSample, "--series", "STM32F1XX"});
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["outcome"]["kind"], "Refused");
    EXPECT_EQ(doc["outcome"]["code"], 9);
    EXPECT_EQ(doc["outcome"]["message"], "Ошибка    :09");
    EXPECT_EQ(doc["exitCode"], Code(ExitCode::CommandRefused));
}

TEST_F(CliTest, TraceHasOneLinePerReportInBothDirections) {
    const Ran run = Cli({"--simulate", "--trace", Path("trace.txt").string(), "info"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> lines = Lines(ReadText(Path("trace.txt")));
    ASSERT_GE(lines.size(), 8u);  // version, firmware word, two header places, name
    ASSERT_EQ(lines.size() % 2, 0u);
    const std::regex report("[<>]( [0-9a-f]{2}){65}");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], report)) << i << ": " << lines[i];
        EXPECT_EQ(lines[i][0], i % 2 == 0 ? '>' : '<') << i;
    }
    // The version query: report ID 0, command 0x20, address 0 and length 0; its answer
    // carries the version word 0x1002.
    EXPECT_EQ(lines[0].substr(0, 31), "> 00 20 00 00 00 00 00 00 00 00");
    EXPECT_EQ(lines[1].substr(0, 14), "< 00 02 10 00 ");
}

TEST_F(CliTest, OlderProgrammerServesOnlyItsOwnSeries) {
    Ran run = Cli(Sim({"--sim-version", "0102", "--trace", Path("trace.txt").string(), "program",
                       kSample, "--series", "STM32F4XX"}));
    EXPECT_EQ(run.code, Code(ExitCode::SeriesMismatch));
    EXPECT_TRUE(Contains(run.err, "STM32F1XX")) << run.err;
    for (int command : TracedCommands(Path("trace.txt"))) {
        EXPECT_TRUE(command == 0x20 || command == 0x13) << "sent command " << command;
    }

    run = Cli(Sim({"--sim-version", "0102", "program", kSample}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "类型\tSTM32F1XX\n")) << run.out;

    // The older kind has no firmware word and no code-shift row.
    run = Cli(Sim({"--sim-version", "0102", "info"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Version:1.02\n"));
    EXPECT_FALSE(Contains(run.out, "Frimware"));
    EXPECT_FALSE(Contains(run.out, "选项"));
    EXPECT_EQ(Lines(run.out).size(), 4u + 8u) << run.out;

    // The kept programmer stays what it was; a different version option is not applied
    // silently.
    run = Cli(Sim({"--sim-version", "1002", "info"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Version:1.02\n"));
    EXPECT_TRUE(Contains(run.err, "--sim-version is not applied")) << run.err;
}

// The job of a kept simulated programmer: its header and its stored image.
struct KeptJob {
    JobHeader header;
    std::vector<std::uint8_t> image;
};

KeptJob ReadKeptJob(const fs::path& state, std::size_t length) {
    SimulatedProgrammer kept;
    std::string error;
    EXPECT_TRUE(kept.LoadState(state, error)) << error;
    const std::uint8_t* storage = kept.Storage();
    return {JobHeader::Decode(storage + kJobAreaAddress),
            std::vector<std::uint8_t>(storage, storage + length)};
}

// The production log's lines, each a whole JSON object.
std::vector<json> LogLines(const std::string& text) {
    std::vector<json> lines;
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "the log ends inside a line";
    for (const std::string& line : Lines(text)) {
        try {
            lines.push_back(json::parse(line));
        } catch (const json::exception& broken) {
            ADD_FAILURE() << "not a whole line: " << line << " (" << broken.what() << ")";
        }
    }
    return lines;
}

TEST_F(CliTest, GangStoresTheJobEverywhereWhileFaultsEndOnlyTheirOwnProgrammer) {
    ASSERT_EQ(Cli({"inspect", kSample, "--dump", Path("image.bin").string()}).code, 0);
    const std::vector<std::uint8_t> image = ReadBytes(Path("image.bin"));
    // programmer-1's checksum is off (exit 8), programmer-2 refuses its third image block
    // (exit 7): the exit code is that of the first in path order, not the smaller.
    const std::vector<std::string> gang = {"--simulate",  "4",
                                           "--sim-state", Path("shelf").string(),
                                           "--log",       Path("log.jsonl").string(),
                                           "--sim-fault", "1:StorageCrc:crc",
                                           "--sim-fault", "2:WriteStorage:status@5"};
    std::vector<std::string> args = gang;
    args.insert(args.end(), {"program", kSample, "--all", "--series", "STM32F1XX"});
    Ran run = Cli(args);
    EXPECT_EQ(run.code, Code(ExitCode::VerifyMismatch)) << run.err;

    struct Expected {
        std::string result;
        std::string message;
        ExitCode code;
    };
    const Expected expected[] = {
        {"Success", std::string(kUploadDoneText), ExitCode::Success},
        {"VerifyMismatch", std::string(kVerifyMismatchText), ExitCode::VerifyMismatch},
        {"CommandRefused", "Ошибка    :15", ExitCode::CommandRefused},
        {"Success", std::string(kUploadDoneText), ExitCode::Success},
    };
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u + 1u) << run.out;
    EXPECT_EQ(lines[4],
              "4 programmers: 2 succeeded, 2 failed (first in path order: "
              "sim:programmer-1, exit code 8)");
    const std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        const std::string path = Format("sim:programmer-%zu", k);
        const Expected& e = expected[k];
        // One line each, in the order they finished: find this programmer's.
        const auto line = std::find_if(lines.begin(), lines.end() - 1, [&](const std::string& l) {
            return l.rfind(path + '\t', 0) == 0;
        });
        ASSERT_NE(line, lines.end() - 1) << path << "\n" << run.out;
        EXPECT_TRUE(
            std::regex_match(*line, std::regex(path + Format("\tSIM%04zu\tSN:[0-9A-F]{8}\t", k) +
                                               e.result + "\t" + e.message + "(\t.+)?")))
            << *line;
        const auto entry = std::find_if(logged.begin(), logged.end(),
                                        [&](const json& l) { return l["path"] == path; });
        ASSERT_NE(entry, logged.end()) << path;
        EXPECT_EQ((*entry)["operation"], "program");
        EXPECT_EQ((*entry)["serial"], Format("SIM%04zu", k));
        EXPECT_EQ((*entry)["result"], e.result);
        EXPECT_EQ((*entry)["message"], e.message);
        EXPECT_EQ((*entry)["exitCode"], Code(e.code));
        EXPECT_EQ((*entry)["jobName"], "blink-f103.hex");
        EXPECT_EQ((*entry)["start"], 0x08000000);
        EXPECT_EQ((*entry)["length"], image.size());
        EXPECT_EQ((*entry)["wordCrc32"], PaddedCrc(image));
        EXPECT_EQ((*entry)["programmerVersion"], 0x1002);

        // What each programmer holds is its own doing: the others' faults changed nothing,
        // and a failed one holds no job rather than a header over an image it never checked.
        const KeptJob kept =
            ReadKeptJob(Path("shelf") / Format("programmer-%zu.bin", k), image.size());
        if (e.code != ExitCode::Success) {
            EXPECT_EQ(kept.header.marker, 0xFF) << path;
        } else {
            EXPECT_EQ(kept.header.marker, kJobMarker) << path;
            EXPECT_EQ(kept.header.jobLength, image.size()) << path;
            EXPECT_EQ(kept.header.series, 1) << path;
        }
        if (k == 2) {
            EXPECT_NE(kept.image, image) << path << " got the blocks after the refused one";
        } else {
            EXPECT_EQ(kept.image, image) << path;
        }
    }

    // JSON: one object per programmer, in path order.
    args = gang;
    args.insert(args.end(), {"--json", "program", kSample, "--all", "--series", "STM32F1XX"});
    run = Cli(args);
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["exitCode"], Code(ExitCode::VerifyMismatch));
    EXPECT_EQ(doc["succeeded"], 2);
    ASSERT_EQ(doc["programmers"].size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        const json& one = doc["programmers"][k];
        EXPECT_EQ(one["path"], Format("sim:programmer-%zu", k));
        EXPECT_EQ(one["exitCode"], Code(expected[k].code));
        EXPECT_EQ(one["message"], expected[k].message);
        EXPECT_TRUE(
            std::regex_match(one["deviceId"].get<std::string>(), std::regex("[0-9A-F]{8}")));
    }
    EXPECT_EQ(doc["programmers"][2]["outcome"]["code"], 15);

    // Without the faults, verify asks each one and writes nothing: the two that failed
    // hold no job.
    run = Cli({"--simulate", "4", "--sim-state", Path("shelf").string(), "--json", "verify",
               kSample, "--all"});
    EXPECT_EQ(run.code, Code(ExitCode::VerifyMismatch)) << run.err;
    const json verified = json::parse(run.out);
    ASSERT_EQ(verified["programmers"].size(), 4u) << run.out;
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(verified["programmers"][k]["exitCode"],
                  Code(k == 1 || k == 2 ? ExitCode::VerifyMismatch : ExitCode::Success))
            << verified["programmers"][k];
    }
}

TEST_F(CliTest, LogLinesStayWholeUnderConcurrentGangsAndWhenKilled) {
    const std::string log = Path("log.jsonl").string();
    // Two gangs of eight at once: sixteen threads in two processes append to one log.
    const std::vector<std::string> gang = {"--simulate", "8",        "--sim-latency-us", "200",
                                           "--log",      log,        "program",          kSample,
                                           "--all",      "--series", "STM32F1XX"};
    const pid_t first = Start(gang);
    const pid_t second = Start(gang);
    EXPECT_EQ(Reap(first), 0);
    EXPECT_EQ(Reap(second), 0);
    std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), 16u);
    for (std::size_t k = 0; k < 8; ++k) {
        const std::string path = Format("sim:programmer-%zu", k);
        EXPECT_EQ(std::count_if(
                      logged.begin(), logged.end(),
                      [&](const json& l) { return l["path"] == path && l["result"] == "Success"; }),
                  2)
            << path;
    }

    // A gang whose last programmer never answers, killed once the others are logged:
    // their lines are on disk whole, and nothing is half written.
    fs::remove(Path("log.jsonl"));
    const pid_t hung =
        Start({"--simulate", "4", "--sim-fault", "3:WriteStorage:hang@3", "--sim-timeout-ms",
               "60000", "--log", log, "program", kSample, "--all", "--series", "STM32F1XX"});
    for (int i = 0; i < 2000 && Lines(ReadText(Path("log.jsonl"))).size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(hung, SIGKILL);
    EXPECT_EQ(Reap(hung), 128 + SIGKILL);
    logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), 3u);
    for (const json& line : logged) {
        EXPECT_NE(line["path"], "sim:programmer-3");
        EXPECT_EQ(line["exitCode"], 0);
        EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    }
}

TEST_F(CliTest, SignalStopsEveryProgrammerBetweenExchangesLoggedAndSaved) {
    // 16 KiB at 2 ms an exchange: each upload takes over a second.
    std::string image(16384, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 256);
    WriteBytes(Path("big.bin"), image);
    const std::pair<int, ExitCode> cases[] = {{SIGINT, ExitCode::Interrupted},
                                              {SIGTERM, ExitCode::Terminated}};
    for (const auto& [signal, code] : cases) {
        const fs::path shelf = Path(Format("shelf-%d", signal));
        const fs::path log = Path(Format("log-%d.jsonl", signal));
        const pid_t run = Start({"--simulate", "3", "--sim-latency-us", "2000", "--sim-state",
                                 shelf.string(), "--log", log.string(), "program",
                                 Path("big.bin").string(), "--all", "--series", "STM32F1XX"});
        // The folder is made once the run is under way.
        for (int i = 0; i < 2000 && !fs::exists(shelf); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        kill(run, signal);
        EXPECT_EQ(Reap(run), Code(code)) << signal;

        const std::vector<json> logged = LogLines(ReadText(log));
        ASSERT_EQ(logged.size(), 3u) << signal;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string path = Format("sim:programmer-%zu", k);
            EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                                    [&](const json& l) { return l["path"] == path; }),
                      1)
                << path;
        }
        for (const json& line : logged) {
            EXPECT_EQ(line["result"], "Interrupted") << line;
            EXPECT_EQ(line["exitCode"], Code(code)) << line;
            // What each one holds agrees: stopped before its image was whole, none holds
            // the job.
            const Ran verified =
                Cli({"--simulate", "3", "--sim-state", shelf.string(), "--device",
                     line["path"].get<std::string>(), "verify", Path("big.bin").string()});
            EXPECT_EQ(verified.code, Code(ExitCode::VerifyMismatch)) << line << verified.err;
        }
    }
}

// A full disk: a small tmpfs where mounting one is allowed, else a file-size limit, which
// fails the write the same way (EFBIG for ENOSPC).
TEST_F(CliTest, LogOnAFullDiskKeepsOnlyWholeLinesAndEndsAnUnterminatedOne) {
    const fs::path disk = Path("disk");
    fs::create_directory(disk);
    struct Mounted {
        fs::path at;
        bool done = false;
        ~Mounted() {
            if (done) umount(at.c_str());
        }
    } tmpfs{disk};
    tmpfs.done = geteuid() == 0 && mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8k") == 0;
    const fs::path log = disk / "log.jsonl";
    // Whole lines up to 92 bytes short of the 8 KiB: the next line fits only in part.
    std::string earlier;
    while (earlier.size() < 8100) earlier += "{\"earlier\":\"" + std::string(85, 'x') + "\"}\n";
    WriteBytes(log, earlier);
    const Launch fullDisk = tmpfs.done ? Launch{} : FilesUpTo(8192);
    Ran run = Cli({"--simulate", "2", "--log", log.string(), "program", kSample, "--all",
                   "--series", "STM32F1XX"},
                  fullDisk);
    EXPECT_EQ(run.code, Code(ExitCode::OutputLost))
        << (tmpfs.done ? "tmpfs: " : "limit: ") << run.err;
    EXPECT_TRUE(Contains(run.err, "--log " + log.string())) << run.err;
    EXPECT_TRUE(ReadText(log) == earlier) << "a partial line stayed in the log";

    // A line that an earlier run left without its end is ended before the next record.
    WriteBytes(Path("cut.jsonl"), "{\"earlier\":1}");
    run = Cli({"--simulate", "--log", Path("cut.jsonl").string(), "info"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::vector<json> lines = LogLines(ReadText(Path("cut.jsonl")));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["earlier"], 1);
    EXPECT_EQ(lines[1]["operation"], "info");
}

TEST_F(CliTest, CommandsForOneProgrammerNeverGuessOnAShelf) {
    WriteBytes(Path("fw.bin"), std::string(64, '\x11'));
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"--simulate", "3", "info"}, kMsgSeveralAttached},
        {{"--simulate", "3", "program", kSample, "--series", "STM32F1XX"}, kMsgSeveralAttached},
        {{"--simulate", "3", "update-firmware", "--yes"}, kMsgSeveralAttached},
        {{"--simulate", "3", "--device", "sim:programmer-0", "--device", "sim:programmer-2",
          "update-firmware", "--yes"},
         "'update-firmware' talks to one programmer: give --device once."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--trace", Path("trace.txt").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Ran run = Cli(args);
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << c.args.back() << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.says + "\n")) << run.err;
        EXPECT_TRUE(TracedCommands(Path("trace.txt")).empty()) << "a programmer was talked to";
    }
    const Ran run = Cli({"--simulate", "3", "info"});
    for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(Contains(run.err, Format("sim:programmer-%d\tserial SIM%04d\n", k, k)))
            << run.err;
    }

    // Named, one programmer of the shelf is talked to, and its result says which.
    const Ran one = Cli({"--simulate", "3", "--device", "sim:programmer-1", "info"});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(Lines(one.out)[0], "path\tsim:programmer-1");
    EXPECT_EQ(Lines(one.out)[1], "serial\tSIM0001");
}

TEST_F(CliTest, ProgramKeepsTheStoredSeriesAndAsksForOneWhenThereIsNone) {
    // An erased programmer has no series to keep: refused before anything is written.
    Ran run = Cli(Sim({"--trace", Path("trace.txt").string(), "program", kSample}));
    EXPECT_EQ(run.code, Code(ExitCode::Usage));
    EXPECT_TRUE(Contains(run.err, "give --series")) << run.err;
    for (int command : TracedCommands(Path("trace.txt"))) {
        EXPECT_TRUE(command == 0x20 || command == 0x33 || command == 0x13)
            << "sent command " << command;
    }

    ASSERT_EQ(Cli(Sim({"program", kSample, "--series", "STM32F4XX"})).code, 0);
    run = Cli(Sim({"program", kSample}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "类型\tSTM32F4XX\n")) << run.out;

    // A stored job whose series is none of the list: nothing to keep either.
    {
        SimulatedProgrammer kept;  // holds the state until it goes
        std::string error;
        ASSERT_TRUE(kept.LoadState(Path("memory.bin"), error)) << error;
        kept.Storage()[kJobAreaAddress + 2] = 9;
        ASSERT_TRUE(kept.SaveState(Path("memory.bin"), error)) << error;
    }
    run = Cli(Sim({"program", kSample}));
    EXPECT_EQ(run.code, Code(ExitCode::Usage));
    EXPECT_TRUE(Contains(run.err, "no known series (9): give --series")) << run.err;
}

TEST_F(CliTest, RemoteJobFileIsMadeWithoutProgrammerAndUploadedWithOne) {
    fs::create_directory(Path("out"));
    Ran run =
        Cli({"make-remote", kSample, "--code", "1234abcd", "--output-dir", Path("out").string(),
             "--shift", "--shift-address", "08004004", "--shift-start", "7"});
    ASSERT_EQ(run.code, 0) << run.err;
    const fs::path file = Path("out") / "blink-f103.qvz";
    EXPECT_TRUE(Contains(run.out, Format(kMsgRemoteGenerated, file.c_str()) + "\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "名称\tblink-f103.qvz\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, "选项")) << "no programmer, no code-shift row";
    ASSERT_EQ(fs::file_size(file), 372u + 68u);

    const json hex = json::parse(Cli({"--json", "inspect", kSample}).out);
    run = Cli({"--json", "inspect", file.string()});
    ASSERT_EQ(run.code, 0) << run.err;
    json doc = json::parse(run.out);
    EXPECT_EQ(doc["result"], "QvzOk");
    EXPECT_EQ(doc["targetCode"], 0x1234ABCD);
    EXPECT_EQ(doc["start"], hex["start"]);
    EXPECT_EQ(doc["length"], hex["length"]);
    EXPECT_EQ(doc["crc"], hex["crc"]);

    run = Cli(Sim({"program", file.string()}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "名称\tblink-f103.qvz\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "选项\t地址:0x8004004 起始:7 数值:7 步进:1\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, std::string(kUploadDoneText)));

    // The file brings its own settings.
    run = Cli(Sim({"program", file.string(), "--read-protect"}));
    EXPECT_EQ(run.code, Code(ExitCode::Usage));

    std::string bytes = ReadText(file);
    bytes[100] ^= 0x01;
    WriteBytes(Path("damaged.qvz"), bytes);
    run = Cli(Sim({"program", Path("damaged.qvz").string()}));
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(Contains(run.err, kMsgFileDamaged)) << run.err;
    EXPECT_TRUE(Contains(run.err, "QvzDamaged")) << run.err;
}

TEST_F(CliTest, RemoteFileArgumentsAreCheckedBeforeAnythingIsMade) {
    fs::create_directory(Path("out"));
    const std::string out = Path("out").string();
    for (const char* code : {"1234ABC", "1234ABCDE", "1234ABCG", "0x123456"}) {
        const Ran run = Cli({"make-remote", kSample, "--code", code, "--output-dir", out});
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << code;
        EXPECT_TRUE(Contains(run.err, kMsgBadDeviceId)) << code << ": " << run.err;
    }
    Ran run = Cli({"make-remote", kSample, "--code", "00000000", "--output-dir", out});
    EXPECT_EQ(run.code, Code(ExitCode::NothingMade));

    run = Cli({"make-remote", kSample, "--code", "1234ABCD", "--output-dir", out, "--shift-address",
               "08004002"});
    EXPECT_EQ(run.code, Code(ExitCode::Usage));
    EXPECT_TRUE(Contains(run.err, kMsgShiftAddressAlign)) << run.err;
    run = Cli({"make-remote", kSample, "--code", "1234ABCD", "--output-dir", out, "--shift-address",
               "123456789"});
    EXPECT_EQ(run.code, Code(ExitCode::Usage));
    EXPECT_TRUE(Contains(run.err, kMsgShiftAddressRange)) << run.err;
    EXPECT_TRUE(fs::is_empty(Path("out")));

    WriteBytes(Path("job.qvz"), std::string(100, '\0'));
    run = Cli({"make-remote", Path("job.qvz").string(), "--code", "1234ABCD", "--output-dir", out});
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(fs::is_empty(Path("out")));

    run = Cli(
        {"make-remote", kSample, "--code", "1234ABCD", "--output-dir", Path("missing").string()});
    EXPECT_EQ(run.code, Code(ExitCode::RemoteFileFailed));
    EXPECT_TRUE(Contains(run.err, kMsgGenerateFailed01)) << run.err;
}

TEST_F(CliTest, RefusedSimStateOrLogIsNeitherBlockedOnNorWrittenOver) {
    WriteBytes(Path("fw.hex"), ImageHex());
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    struct Case {
        const char* option;
        fs::path file;
        std::string reason;
    };
    const Case cases[] = {
        {"--sim-state", Path("fw.hex"), "not a simulator state file"},  // a mistyped option value
        {"--sim-state", Path("pipe"), "not a regular file"},  // opening it would wait for a writer
        {"--log", Path("pipe"), "is a FIFO, not a regular file"},  // ... for a reader
    };
    for (const Case& c : cases) {
        const Ran run =
            Cli({"--simulate", c.option, c.file.string(), "program", kSample}, KilledAfter(10));
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << c.option << ' ' << c.file;
        EXPECT_TRUE(Contains(run.err, c.reason)) << c.file << ": " << run.err;
    }
    EXPECT_TRUE(ReadText(Path("fw.hex")) == ImageHex()) << "fw.hex was written over";
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"fw.hex", "pipe"}));
}

TEST_F(CliTest, SimStateThatCannotBeSavedIsAFailureOfItsOwn) {
    // A folder that is a file: no temporary file can be made there, even by root.
    WriteBytes(Path("folder"), "a file");
    const Ran run = Cli({"--simulate", "--sim-state", (Path("folder") / "memory.bin").string(),
                         "program", kSample, "--series", "STM32F1XX"});
    EXPECT_EQ(run.code, Code(ExitCode::SimStateNotSaved)) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string(kUploadDoneText) + "\n")) << run.out;
    EXPECT_TRUE(Contains(run.err, "memory was not saved")) << run.err;
    EXPECT_FALSE(Contains(run.err, "internal error")) << run.err;
    EXPECT_EQ(ReadText(Path("folder")), "a file");
}

TEST_F(CliTest, ASimStateServesOneRunAtATimeAndKeepsTheFirstRunsJobWhole) {
    WriteBytes(Path("fw.hex"), ImageHex());
    struct Case {
        std::vector<std::string> simulator;
        fs::path heldLast;  // what the first run takes last before it programs
        std::vector<std::string> which;
    };
    const Case cases[] = {
        {{"--simulate", "--sim-state", Path("memory.bin").string()}, Path("memory.bin.lock"), {}},
        {{"--simulate", "2", "--sim-state", Path("shelf").string()},
         Path("shelf") / "programmer-1.bin.lock",
         {"--all"}},
    };
    for (const Case& c : cases) {
        const auto run = [&c](std::vector<std::string> args) {
            std::vector<std::string> all = c.simulator;
            all.insert(all.end(), args.begin(), args.end());
            all.insert(all.end(), c.which.begin(), c.which.end());
            return all;
        };
        const pid_t first =
            Start(run({"--sim-latency-us", "20000", "program", kSample, "--series", "STM32F1XX"}));
        for (int i = 0; i < 1000 && !fs::exists(c.heldLast); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const Ran second = Cli(run({"program", Path("fw.hex").string(), "--series", "STM32F1XX"}));
        EXPECT_EQ(second.code, Code(ExitCode::InUse)) << c.heldLast << ": " << second.err;
        EXPECT_TRUE(Contains(second.err, kProgrammerInUseText)) << second.err;
        EXPECT_TRUE(Contains(second.err, "): Resource temporarily unavailable")) << second.err;
        EXPECT_EQ(Reap(first), 0) << c.heldLast;
        // The state holds the first run's job, and is free again.
        const Ran verify = Cli(run({"verify", kSample}));
        EXPECT_EQ(verify.code, 0) << c.heldLast << ": " << verify.out << verify.err;
        EXPECT_FALSE(fs::exists(c.heldLast));
    }
}

TEST_F(CliTest, LostOutputIsAFailure) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        Launch launch;
        ExitCode code;
        std::string says;
    };
    const Case cases[] = {
        {"standard output full",
         {"inspect", kSample},
         StdoutTo("/dev/full"),
         ExitCode::OutputLost,
         "Standard output could not be written"},
        {"standard output closed",
         {"inspect", kSample},
         StdoutClosed(),
         ExitCode::OutputLost,
         "Standard output could not be written"},
        {"JSON to a full output",
         {"--json", "inspect", kSample},
         StdoutTo("/dev/full"),
         ExitCode::OutputLost,
         "Standard output could not be written"},
        // The first programmer's line meets the closed pipe; the others are mid-upload.
        {"gang into a closed pipe",
         {"--simulate", "4", "--sim-latency-us", "1000", "--sim-state", Path("shelf").string(),
          "program", kSample, "--all", "--series", "STM32F1XX"},
         StdoutPipeClosed(),
         ExitCode::OutputLost,
         "Standard output could not be written"},
        {"trace to a full device",
         {"--simulate", "--trace", "/dev/full", "info"},
         {},
         ExitCode::OutputLost,
         "--trace /dev/full"},
        // A device is written into, never replaced by a file.
        {"dump to a full device",
         {"inspect", kSample, "--dump", "/dev/full"},
         {},
         ExitCode::FileRefused,
         "Cannot write the image to /dev/full"},
    };
    for (const Case& c : cases) {
        const Ran run = Cli(c.args, c.launch);
        EXPECT_EQ(run.code, Code(c.code)) << c.what << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.says)) << c.what << ": " << run.err;
    }
    struct stat full {};
    ASSERT_EQ(stat("/dev/full", &full), 0);
    EXPECT_TRUE(S_ISCHR(full.st_mode));
    // A lost console left no programmer with half a job.
    const Ran verified =
        Cli({"--simulate", "4", "--sim-state", Path("shelf").string(), "verify", kSample, "--all"});
    EXPECT_EQ(verified.code, 0) << verified.out;
}

TEST_F(CliTest, OutputFileThatCannotBeWrittenWholeLeavesTheEarlierOne) {
    const std::string bigImage(8192, '\x3C');
    const Launch fullDisk = FilesUpTo(4096);
    fs::create_directory(Path("out"));
    WriteBytes(Path("fw.bin"), "\x01\x02\x03\x04");
    ASSERT_EQ(Cli({"make-remote", Path("fw.bin").string(), "--code", "1234ABCD", "--output-dir",
                   Path("out").string()})
                  .code,
              0);
    const std::string earlierRemote = ReadText(Path("out") / "fw.qvz");
    WriteBytes(Path("fw.bin"), bigImage);
    WriteBytes(Path("dump.bin"), "earlier dump");
    WriteBytes(Path("trace.txt"), "earlier trace");

    struct Case {
        std::vector<std::string> args;
        ExitCode code;
        std::string says;
    };
    const Case cases[] = {
        {{"inspect", Path("fw.bin").string(), "--dump", Path("dump.bin").string()},
         ExitCode::FileRefused,
         "Cannot write the image to"},
        {{"make-remote", Path("fw.bin").string(), "--code", "1234ABCD", "--output-dir",
          Path("out").string()},
         ExitCode::RemoteFileFailed,
         kMsgGenerateFailed01},
        {{"--simulate", "--trace", Path("trace.txt").string(), "program", kSample, "--series",
          "STM32F1XX"},
         ExitCode::OutputLost,
         "the trace is lost"},
    };
    for (const Case& c : cases) {
        const Ran run = Cli(c.args, fullDisk);
        EXPECT_EQ(run.code, Code(c.code)) << c.args[0] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.says)) << c.args[0] << ": " << run.err;
    }
    EXPECT_TRUE(ReadText(Path("dump.bin")) == "earlier dump") << "dump.bin was written over";
    EXPECT_TRUE(ReadText(Path("out") / "fw.qvz") == earlierRemote) << "fw.qvz was written over";
    EXPECT_TRUE(ReadText(Path("trace.txt")) == "earlier trace") << "trace.txt was written over";
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"dump.bin", "fw.bin", "out", "trace.txt"}));
    EXPECT_EQ(Listing(Path("out")), std::vector<std::string>{"fw.qvz"});
}

TEST_F(CliTest, FirmwareUpdateAsksOnlyWhenTheVersionIsAlreadyInstalled) {
    // Installed 2.10 is older than the carried 2.20: nothing to ask.
    Ran run = Cli(Sim({"update-firmware"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, std::string(kMsgFirmwareUpdated) + "\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "Frimware:2.20\n")) << run.out;

    // Now 2.20 is installed: without a terminal and without --yes nothing is sent.
    run = Cli(Sim({"--trace", Path("trace.txt").string(), "update-firmware"}));
    EXPECT_EQ(run.code, Code(ExitCode::Declined));
    EXPECT_TRUE(Contains(run.err, "--yes")) << run.err;
    const std::vector<int> sent = TracedCommands(Path("trace.txt"));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), 0);

    run = Cli(Sim({"update-firmware", "--yes"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, kMsgFirmwareUpdated));

    run = Cli({"--simulate", "--sim-fault", "FirmwareCrc:crc", "update-firmware"});
    EXPECT_EQ(run.code, Code(ExitCode::VerifyMismatch));
    EXPECT_TRUE(Contains(run.err, kMsgFirmwareUpdateFailed[8])) << run.err;

    run = Cli({"--simulate", "--sim-version", "0102", "update-firmware", "--yes"});
    EXPECT_EQ(run.code, Code(ExitCode::NotSupported));
}

TEST_F(CliTest, FirmwareFromAFileIsCheckedFirstAndStoredExactly) {
    // A file that fails a check is refused before the programmer is even opened.
    std::vector<std::uint8_t> broken = MakeFirmwareImage(0x400, 0x0215);
    WriteLe32(&broken[4], 0x08000101);  // linked for 0x08000000
    WriteBytes(Path("broken.bin"), std::string(broken.begin(), broken.end()));
    Ran run = Cli(Sim({"--trace", Path("trace.txt").string(), "update-firmware", "--file",
                       Path("broken.bin").string()}));
    EXPECT_EQ(run.code, Code(ExitCode::FileRefused));
    EXPECT_TRUE(Contains(run.err, "broken.bin")) << run.err;
    EXPECT_TRUE(Contains(run.err, "reset vector 0x08000101")) << run.err;
    EXPECT_TRUE(TracedCommands(Path("trace.txt")).empty());

    // Version 2.15 over the simulator's 2.10: no question, and the programmer holds the file.
    const std::vector<std::uint8_t> image = MakeFirmwareImage(0x400, 0x0215);
    WriteBytes(Path("fw.bin"), std::string(image.begin(), image.end()));
    run = Cli(Sim({"update-firmware", "--file", Path("fw.bin").string()}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Frimware:2.15\n")) << run.out;
    {
        SimulatedProgrammer kept;  // holds the state until it goes
        std::string error;
        ASSERT_TRUE(kept.LoadState(Path("memory.bin"), error)) << error;
        const std::uint8_t* area = kept.Flash() + (kFirmwareAreaAddress - kSimFlashAddress);
        EXPECT_EQ(std::vector<std::uint8_t>(area, area + image.size()), image);
    }

    // The same file again is a needless update: asked, so refused without a terminal.
    run = Cli(Sim({"--trace", Path("again.txt").string(), "update-firmware", "--file",
                   Path("fw.bin").string()}));
    EXPECT_EQ(run.code, Code(ExitCode::Declined)) << run.err;
    const std::vector<int> sent = TracedCommands(Path("again.txt"));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), 0);
}

TEST_F(CliTest, MissingOrInaccessibleProgrammerIsSaidPlainly) {
    Ran run = Cli({"--simulate", "list"});
    ASSERT_EQ(run.code, 0);
    EXPECT_TRUE(Contains(run.out, "sim:programmer-0")) << run.out;

    run = Cli({"--simulate", "--device", "sim:elsewhere", "info"});
    EXPECT_EQ(run.code, Code(ExitCode::NoProgrammer));
    EXPECT_TRUE(Contains(run.err, "sim:elsewhere")) << run.err;
    run = Cli({"--simulate", "--device", "sim:elsewhere", "list"});
    EXPECT_EQ(run.code, Code(ExitCode::NoProgrammer));
    run = Cli({"--simulate", "--device", "SIM:PROGRAMMER-0", "info"});
    EXPECT_EQ(run.code, 0) << run.err;

    run = Cli({"--simulate", "--sim-deny-open", "Permission denied", "--log",
               Path("log.jsonl").string(), "program", kSample});
    EXPECT_EQ(run.code, Code(ExitCode::NotAccessible));
    EXPECT_TRUE(Contains(run.err, "sim:programmer-0")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Permission denied")) << run.err;
    EXPECT_TRUE(Contains(run.err, "packaging/60-marrowdyne.rules")) << run.err;
    // A programmer that refuses to open is logged, alone or first of a gang.
    run = Cli({"--simulate", "2", "--sim-deny-open", "Permission denied", "--log",
               Path("log.jsonl").string(), "info", "--all"});
    EXPECT_EQ(run.code, Code(ExitCode::NotAccessible));
    const std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), 3u);
    for (const json& line : {logged[0], logged[1]}) {
        EXPECT_EQ(line["path"], "sim:programmer-0") << line;
        EXPECT_EQ(line["exitCode"], Code(ExitCode::NotAccessible)) << line;
        EXPECT_EQ(line["deviceId"], nullptr) << line;
    }
    EXPECT_EQ(logged[2]["path"], "sim:programmer-1");
}

TEST_F(CliTest, BadUsageHasItsOwnExitCode) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"inspect"},
        {"--sim-version", "0102", "info"},  // a simulator option without --simulate
        {"--simulate", "--sim-fault", "WriteStorage:melt", "info"},
        {"--simulate", "--sim-version", "10000000A", "info"},
        {"--simulate", "program", kSample, "--read-protect", "--lock-chip"},
        {"--simulate", "program", kSample, "--series", "STM32F9XX"},
        {"--simulate", "program", kSample, "--shift-width", "5"},
        {"--simulate", "read-job", "job.txt"},
        {"--simulate", "read-job", "job.qvz"},  // for which programmer?
        {"--simulate", "read-job", "job.qvz", "--code", "1234ABC"},
        {"--simulate", "read-job", "job.hex", "--code", "1234ABCD"},  // a HEX file is for none
        {"--simulate", "--device", "sim:programmer-0", "clone", "--from", "sim:programmer-0",
         "--to", "sim:b"},
    };
    for (const std::vector<std::string>& args : cases) {
        const Ran run = Cli(args);
        std::string shown;
        for (const std::string& arg : args) shown += arg + ' ';
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << shown << run.err;
    }
    EXPECT_EQ(Cli({"--help"}).code, 0);
    EXPECT_TRUE(Contains(Cli({"--help"}).out, "Exit codes:"));
}

std::string AsText(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST_F(CliTest, VerifySaysWhetherTheProgrammerHoldsTheFileAndWhatDiffers) {
    WriteBytes(Path("fw.hex"), ImageHex());
    Ran run = Cli(Sim({"verify", Path("fw.hex").string()}));
    EXPECT_EQ(run.code, Code(ExitCode::VerifyMismatch));
    EXPECT_TRUE(Contains(run.err, std::string(kNoStoredJobText) + "\n")) << run.err;

    ASSERT_EQ(Cli(Sim({"program", Path("fw.hex").string(), "--series", "STM32F1XX"})).code, 0);
    fs::create_directory(Path("out"));
    ASSERT_EQ(Cli({"make-remote", Path("fw.hex").string(), "--code", "1234ABCD", "--output-dir",
                   Path("out").string()})
                  .code,
              0);
    WriteBytes(Path("same.bin"), AsText(kImage));
    std::vector<std::uint8_t> changed = kImage;
    changed[5] ^= 0x10;
    WriteBytes(Path("changed.bin"), AsText(changed));
    std::vector<std::uint8_t> longer = kImage;
    longer.insert(longer.end(), {0xFF, 1, 2, 3, 4});
    WriteBytes(Path("longer.bin"), AsText(longer));

    struct Case {
        std::vector<std::string> file;
        std::vector<std::string> differs;
    };
    const Case cases[] = {
        {{Path("fw.hex").string()}, {}},
        {{(Path("out") / "fw.qvz").string()}, {}},  // judged by the job its record carries
        {{Path("same.bin").string()}, {}},          // padded to whole words as it was stored
        {{Path("same.bin").string(), "--address", "08004000"}, {"start"}},
        {{Path("changed.bin").string()}, {"content"}},
        {{Path("longer.bin").string()}, {"length", "content"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--json", "--trace", Path("trace.txt").string(), "verify"};
        args.insert(args.end(), c.file.begin(), c.file.end());
        run = Cli(Sim(args));
        const std::string what = c.file.back();
        const json doc = json::parse(run.out);
        EXPECT_EQ(run.code, Code(c.differs.empty() ? ExitCode::Success : ExitCode::VerifyMismatch))
            << what;
        EXPECT_EQ(doc["differs"], json(c.differs)) << what;
        EXPECT_EQ(doc["held"], c.differs.empty()) << what;
        EXPECT_EQ(doc["programmer"]["start"], 0x08000000) << what;
        EXPECT_EQ(doc["programmer"]["length"], 20) << what;
        EXPECT_EQ(doc["programmer"]["crc"], PaddedCrc(kImage)) << what;
        // Nothing but reads: identification, the header and the checksum.
        for (int command : TracedCommands(Path("trace.txt"))) {
            EXPECT_TRUE(command == 0x20 || command == 0x33 || command == 0x13 || command == 0x14)
                << what << " sent command " << command;
        }
    }

    run = Cli(Sim({"verify", Path("same.bin").string(), "--address", "08004000"}));
    EXPECT_EQ(run.code, Code(ExitCode::VerifyMismatch));
    EXPECT_TRUE(Contains(run.err, std::string(kVerifyMismatchText) + "\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "start: the programmer's 0x08000000, the file's 0x08004000"))
        << run.err;
    run = Cli(Sim({"verify", Path("fw.hex").string()}));
    EXPECT_TRUE(Contains(run.out, std::string(kJobHeldText) + "\n")) << run.out;
}

TEST_F(CliTest, ReadJobBacksUpTheJobForAnotherProgrammer) {
    WriteBytes(Path("fw.hex"), ImageHex());
    ASSERT_EQ(Cli(Sim({"program", Path("fw.hex").string(), "--series", "STM32F4XX", "--count-limit",
                       "5"}))
                  .code,
              0);
    std::vector<std::uint8_t> stored = kImage;
    stored.push_back(0xFF);  // as the upload padded it

    const std::vector<std::string> extensions = {"hex", "bin", "qvz", "srec", "elf"};
    for (const std::string& extension : extensions) {
        const fs::path backup = Path("backup." + extension);
        std::vector<std::string> args = {"--log", Path("log.jsonl").string(), "read-job",
                                         backup.string()};
        if (extension == "qvz") args.insert(args.end(), {"--code", "1234ABCD"});
        Ran run = Cli(Sim(args));
        ASSERT_EQ(run.code, 0) << extension << ": " << run.err;
        EXPECT_TRUE(Contains(run.out, "名称\tfw.hex\n")) << run.out;
        EXPECT_TRUE(Contains(run.out, std::string(kJobReadText) + "\n")) << run.out;

        const json inspected = json::parse(Cli({"--json", "inspect", backup.string()}).out);
        EXPECT_EQ(inspected["start"], 0x08000000) << extension;
        EXPECT_EQ(inspected["length"], 20) << extension;
        EXPECT_EQ(inspected["crc"], PaddedCrc(kImage)) << extension;
        if (extension == "bin") {
            EXPECT_EQ(ReadBytes(backup), stored);
        }

        // Into a second programmer, which then holds the original file's job.
        const std::string second = Path("second-" + extension + ".bin").string();
        // An erased programmer keeps no series; a remote job file brings its own.
        std::vector<std::string> program = {"--simulate", "--sim-state", second, "program",
                                            backup.string()};
        if (extension != "qvz") program.insert(program.end(), {"--series", "STM32F4XX"});
        run = Cli(program);
        ASSERT_EQ(run.code, 0) << extension << ": " << run.err;
        run = Cli({"--simulate", "--sim-state", second, "verify", Path("fw.hex").string()});
        EXPECT_EQ(run.code, 0) << extension << ": " << run.err;
        if (extension == "qvz") {
            // The remote job file carries the stored settings along.
            run = Cli({"--simulate", "--sim-state", second, "info"});
            EXPECT_TRUE(Contains(run.out, "类型\tSTM32F4XX\n")) << run.out;
            EXPECT_TRUE(Contains(run.out, "次数\t5\n")) << run.out;
        }
    }
    // Each read names the job it read back, checked by its checksum.
    const std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), extensions.size());
    for (const json& line : logged) {
        EXPECT_EQ(line["operation"], "read-job");
        EXPECT_EQ(line["jobName"], "fw.hex");
        EXPECT_EQ(line["length"], 20);
        EXPECT_EQ(line["wordCrc32"], PaddedCrc(kImage));
    }
}

TEST_F(CliTest, ReadJobWritesNoFileWithoutAVerifiedJob) {
    ASSERT_EQ(Cli(Sim({"program", kSample, "--series", "STM32F1XX"})).code, 0);
    WriteBytes(Path("backup.hex"), "earlier backup");
    // A whole job, then an upload over it cut in its image blocks: the job before is gone
    // and no header claims the half image, so nothing takes it for a job.
    const std::string cut = Path("cut.bin").string();
    ASSERT_EQ(
        Cli({"--simulate", "--sim-state", cut, "program", kSample, "--series", "STM32F1XX"}).code,
        0);
    Ran cutRun = Cli({"--simulate", "--sim-state", cut, "--sim-fault", "WriteStorage:write@5",
                      "program", kSample, "--series", "STM32F1XX"});
    ASSERT_EQ(cutRun.code, Code(ExitCode::LinkFailed)) << cutRun.err;
    EXPECT_TRUE(Contains(cutRun.err, "Ошибка    :13\n" + std::string(kNoStoredJobText) + "\n"))
        << cutRun.err;
    cutRun = Cli({"--simulate", "--sim-state", cut, "info"});
    EXPECT_EQ(cutRun.code, 0) << cutRun.err;
    EXPECT_TRUE(Contains(cutRun.out, std::string(kNoStoredJobText) + "\t\n")) << cutRun.out;
    EXPECT_FALSE(Contains(cutRun.out, "名称")) << cutRun.out;
    struct Case {
        std::vector<std::string> options;
        ExitCode code;
        std::string message;
    };
    // Identification reads the header and the name (ReadStorage 1 and 2), read-job the
    // header, the name and then the image (3, 4, 5...).
    const Case cases[] = {
        {{"--sim-state", Path("erased.bin").string()},
         ExitCode::NoStoredJob,
         std::string(kNoStoredJobText)},
        {{"--sim-state", cut}, ExitCode::NoStoredJob, std::string(kNoStoredJobText)},
        {{"--sim-fault", "ReadStorage:status@5"},
         ExitCode::VerifyMismatch,
         std::string(kVerifyMismatchText)},
        {{"--sim-fault", "StorageCrc:crc"},
         ExitCode::VerifyMismatch,
         std::string(kVerifyMismatchText)},
        {{"--sim-fault", "ReadStorage:hang@6", "--sim-timeout-ms", "200"},
         ExitCode::LinkFailed,
         std::string(kStoredJobReadFailed02)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--simulate"};
        if (c.options[0] != "--sim-state")
            args.insert(args.end(), {"--sim-state", Path("memory.bin").string()});
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"read-job", Path("backup.hex").string()});
        const Ran run = Cli(args);
        EXPECT_EQ(run.code, Code(c.code)) << c.options[1] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.message + "\n")) << c.options[1] << ": " << run.err;
        EXPECT_FALSE(Contains(run.out, std::string(kJobReadText))) << c.options[1];
        EXPECT_EQ(ReadText(Path("backup.hex")), "earlier backup") << c.options[1];
    }
    EXPECT_EQ(Listing(dir_),
              (std::vector<std::string>{"backup.hex", "cut.bin", "erased.bin", "memory.bin"}));
}

// One simulated programmer only: it is both source and first target here.
TEST_F(CliTest, CloneStoresTheJobWithItsNameInEveryTargetThatTakesIt) {
    WriteBytes(Path("fw.hex"), ImageHex());
    ASSERT_EQ(Cli(Sim({"program", Path("fw.hex").string(), "--series", "STM32F4XX"})).code, 0);
    Ran run = Cli(Sim({"--json", "--log", Path("log.jsonl").string(), "clone", "--from",
                       "sim:programmer-0", "--to", "sim:missing", "--to", "sim:programmer-0"}));
    EXPECT_EQ(run.code, Code(ExitCode::NoProgrammer)) << run.err;
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc["targets"].size(), 2u) << run.out;
    EXPECT_EQ(doc["targets"][0]["exitCode"], Code(ExitCode::NoProgrammer));
    EXPECT_EQ(doc["targets"][1]["exitCode"], 0);
    EXPECT_EQ(doc["targets"][1]["message"], std::string(kUploadDoneText));
    // The source read and every target, the missing one too, each with the job's checksum.
    const std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    const std::tuple<std::string, std::string, ExitCode> expected[] = {
        {"clone-from", "sim:programmer-0", ExitCode::Success},
        {"clone-to", "sim:missing", ExitCode::NoProgrammer},
        {"clone-to", "sim:programmer-0", ExitCode::Success}};
    ASSERT_EQ(logged.size(), std::size(expected));
    for (std::size_t k = 0; k < logged.size(); ++k) {
        const auto& [operation, path, code] = expected[k];
        EXPECT_EQ(logged[k]["operation"], operation) << logged[k];
        EXPECT_EQ(logged[k]["path"], path) << logged[k];
        EXPECT_EQ(logged[k]["exitCode"], Code(code)) << logged[k];
        EXPECT_EQ(logged[k]["jobName"], "fw.hex") << logged[k];
        EXPECT_EQ(logged[k]["wordCrc32"], PaddedCrc(kImage)) << logged[k];
    }

    run = Cli(Sim({"info"}));
    EXPECT_TRUE(Contains(run.out, "名称\tfw.hex\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "类型\tSTM32F4XX\n")) << run.out;
    EXPECT_EQ(Cli(Sim({"verify", Path("fw.hex").string()})).code, 0);

    // From an erased programmer nothing is sent to any target.
    run = Cli({"--simulate", "--trace", Path("trace.txt").string(), "clone", "--from",
               "sim:programmer-0", "--to", "sim:programmer-0"});
    EXPECT_EQ(run.code, Code(ExitCode::NoStoredJob)) << run.err;
    for (int command : TracedCommands(Path("trace.txt"))) {
        EXPECT_TRUE(command != 0x11 && command != 0x12) << "sent command " << command;
    }
}

// The programmers' kept memories, to show that a refused run changed none of them.
std::vector<std::string> ShelfMemories(const fs::path& shelf, int count) {
    std::vector<std::string> memories;
    for (int k = 0; k < count; ++k)
        memories.push_back(ReadText(shelf / Format("programmer-%d.bin", k)));
    return memories;
}

TEST_F(CliTest, SameSerialsInSeveralProgrammersAreRefusedUnlessAskedFor) {
    const std::string shelf = Path("shelf").string();
    const std::vector<std::string> four = {"--simulate", "4", "--sim-state", shelf};
    const auto on = [&](std::vector<std::string> args) {
        args.insert(args.begin(), four.begin(), four.end());
        return args;
    };
    ASSERT_EQ(Cli(on({"program", kSample, "--all", "--series", "STM32F1XX"})).code, 0);
    // programmer-0 alone counts serials from 1000; its backup carries its counters.
    ASSERT_EQ(Cli(on({"--device", "sim:programmer-0", "program", kSample, "--shift",
                      "--shift-start", "1000"}))
                  .code,
              0);
    ASSERT_EQ(Cli(on({"--device", "sim:programmer-0", "read-job", Path("backup.qvz").string(),
                      "--code", "1A2B3C4D"}))
                  .code,
              0);
    const std::vector<std::string> before = ShelfMemories(shelf, 4);

    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"program", kSample, "--all", "--shift", "--shift-start", "1000"},
         "--product NAME --serials N"},
        {{"--device", "sim:programmer-1", "--device", "sim:programmer-2", "program", kSample,
          "--shift"},
         "--product NAME --serials N"},
        {{"program", Path("backup.qvz").string(), "--all"}, "remote job file has code shift on"},
        {{"clone", "--from", "sim:programmer-0", "--to", "sim:programmer-1"}, "--same-serials"},
    };
    for (const Case& c : cases) {
        const Ran run = Cli(on(c.args));
        EXPECT_EQ(run.code, Code(ExitCode::Usage)) << c.args[0] << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
        EXPECT_TRUE(Contains(run.err, "Nothing was written.")) << run.err;
        EXPECT_EQ(ShelfMemories(shelf, 4), before) << c.args[0] << " changed a programmer";
    }

    // One programmer takes the backup back, and a replacement takes its counters on purpose.
    EXPECT_EQ(
        Cli(on({"--device", "sim:programmer-3", "program", Path("backup.qvz").string()})).code, 0);
    const Ran run = Cli(
        on({"clone", "--from", "sim:programmer-0", "--to", "sim:programmer-1", "--same-serials"}));
    ASSERT_EQ(run.code, 0) << run.err;
    for (int k : {1, 3}) {
        const JobHeader header =
            ReadKeptJob(Path("shelf") / Format("programmer-%d.bin", k), 0).header;
        EXPECT_EQ(header.shiftEnabled, 1) << k;
        EXPECT_EQ(header.shiftStart, 1000) << k;
        EXPECT_EQ(header.shiftValue, 1000) << k;
    }

    // With a product, the same backup and the same clone give every target a block of its
    // own; a job that brings its own header needs the product to exist.
    const std::vector<std::string> lease = {"--product", "Q", "--serials", "10"};
    const auto leased = [&](std::vector<std::string> args) {
        args.insert(args.end(), lease.begin(), lease.end());
        return on(args);
    };
    EXPECT_EQ(Cli(leased({"program", Path("backup.qvz").string(), "--all"})).code,
              Code(ExitCode::LedgerFailed));
    EXPECT_EQ(ShelfMemories(shelf, 4)[2], before[2]);
    ASSERT_EQ(
        Cli(leased({"--device", "sim:programmer-2", "program", kSample, "--shift-start", "5000"}))
            .code,
        0);
    ASSERT_EQ(Cli(leased({"program", Path("backup.qvz").string(), "--all"})).code, 0);
    ASSERT_EQ(Cli(leased({"clone", "--from", "sim:programmer-0", "--to", "sim:programmer-1"})).code,
              0);
    std::vector<std::int32_t> starts;
    for (int k = 0; k < 4; ++k) {
        const JobHeader header =
            ReadKeptJob(Path("shelf") / Format("programmer-%d.bin", k), 0).header;
        EXPECT_EQ(header.shiftValue, header.shiftStart) << k;
        EXPECT_EQ(header.countLimit, 10) << k;
        starts.push_back(header.shiftStart);
    }
    // The .qvz went to all four (5010..5040, in the order they were served), then
    // programmer-0's job to programmer-1.
    EXPECT_EQ(starts[1], 5050);
    std::sort(starts.begin(), starts.end());
    EXPECT_EQ(std::adjacent_find(starts.begin(), starts.end()), starts.end()) << "blocks overlap";
    for (std::int32_t start : starts)
        EXPECT_TRUE(start >= 5010 && start <= 5050 && start % 10 == 0) << start;
}

// Rewrites the counters of a kept programmer's stored header, as its own programming of
// parts would have left them.
void SetKeptCounters(const fs::path& state, std::int32_t shiftStart, std::int32_t shiftValue,
                     std::uint32_t programmed) {
    SimulatedProgrammer kept;
    std::string error;
    ASSERT_TRUE(kept.LoadState(state, error)) << error;
    JobHeader header = JobHeader::Decode(kept.Storage() + kJobAreaAddress);
    header.shiftStart = shiftStart;
    header.shiftValue = shiftValue;
    header.programmedCount = programmed;
    const auto bytes = header.Encode();
    std::copy(bytes.begin(), bytes.end(), kept.Storage() + kJobAreaAddress);
    ASSERT_TRUE(kept.SaveState(state, error)) << error;
}

TEST_F(CliTest, LeasedBlocksGiveEveryProgrammerSerialsOfItsOwnAndTheReportAgrees) {
    const fs::path shelf = Path("shelf");
    const std::string ledger = (Path("data") / "marrowdyne" / "serials.sqlite").string();
    const auto on = [&](std::vector<std::string> args) {
        const std::vector<std::string> four = {"--simulate",   "4",     "--sim-state",
                                               shelf.string(), "--log", Path("log.jsonl").string()};
        args.insert(args.begin(), four.begin(), four.end());
        return args;
    };
    const auto starts = [&] {
        std::vector<std::int32_t> found;
        for (int k = 0; k < 4; ++k) {
            const JobHeader h = ReadKeptJob(shelf / Format("programmer-%d.bin", k), 0).header;
            EXPECT_EQ(h.shiftEnabled, 1) << k;
            EXPECT_EQ(h.shiftValue, h.shiftStart) << k;
            EXPECT_EQ(h.shiftAddress, 0x0800FFF0u) << k;
            EXPECT_EQ(h.shiftFormat, 5) << k;
            EXPECT_TRUE((h.options & OptCountLimit) != 0) << k;
            EXPECT_EQ(h.countLimit, 100) << k;
            found.push_back(h.shiftStart);
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    // The first use makes the product from the code-shift options, in the default ledger.
    Ran run = Cli(on({"program", kSample, "--all", "--series", "STM32F1XX", "--shift",
                      "--shift-start", "1000", "--shift-address", "0800FFF0", "--shift-width", "2",
                      "--shift-order", "high", "--product", "P", "--serials", "100"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(Lines(run.out)[0], "ledger\t" + ledger);
    EXPECT_EQ(starts(), (std::vector<std::int32_t>{1000, 1100, 1200, 1300}));
    // Later runs keep the product's settings and go on after its blocks.
    run = Cli(on(
        {"--ledger", ledger, "program", kSample, "--all", "--product", "P", "--serials", "100"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(starts(), (std::vector<std::int32_t>{1400, 1500, 1600, 1700}));
    // Each log line names its programmer's block.
    const std::vector<json> logged = LogLines(ReadText(Path("log.jsonl")));
    ASSERT_EQ(logged.size(), 8u);
    for (const json& line : logged) {
        const int k = line["path"].get<std::string>().back() - '0';
        ASSERT_TRUE(line["lease"].is_object()) << line;
        EXPECT_EQ(line["lease"]["product"], "P");
        EXPECT_EQ(line["lease"]["count"], 100);
        if (&line >= &logged[4]) {
            EXPECT_EQ(line["lease"]["firstValue"],
                      ReadKeptJob(shelf / Format("programmer-%d.bin", k), 0).header.shiftStart);
        }
    }

    // Other settings for the product, or a block it cannot fill: refused, nothing written.
    const std::vector<std::string> before = ShelfMemories(shelf, 4);
    const std::vector<std::string> refused[] = {
        {"program", kSample, "--all", "--product", "P", "--serials", "100", "--shift-step", "2"},
        {"program", kSample, "--all", "--product", "P", "--serials", "70000"},
    };
    for (const std::vector<std::string>& args : refused) {
        run = Cli(on(args));
        EXPECT_EQ(run.code, Code(ExitCode::LedgerFailed)) << run.err;
        EXPECT_EQ(ShelfMemories(shelf, 4), before) << args.back();
    }
    EXPECT_TRUE(Contains(run.out, "values left")) << run.out;

    // programmer-1 programmed 37 parts; programmer-2's job was changed outside the ledger.
    const JobHeader one = ReadKeptJob(shelf / "programmer-1.bin", 0).header;
    SetKeptCounters(shelf / "programmer-1.bin", one.shiftStart, one.shiftStart + 37, 37);
    SetKeptCounters(shelf / "programmer-2.bin", 50000, 50000, 0);
    run = Cli(on({"--json", "info", "--all"}));
    ASSERT_EQ(run.code, 0) << run.err;
    const json shown = json::parse(run.out);
    EXPECT_EQ(shown["programmers"][1]["lease"]["used"], 37) << shown;
    EXPECT_FALSE(shown["programmers"][2].contains("lease")) << shown;
    run = Cli(on({"--device", "sim:programmer-2", "info"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "Serial conflict")) << run.err;
    EXPECT_FALSE(LogLines(ReadText(Path("log.jsonl"))).back()["serialConflict"].is_null());

    // A failed upload voids its block; the totals agree with what the headers show.
    run = Cli(on({"--sim-fault", "3:WriteStorage:status@5", "--device", "sim:programmer-3",
                  "program", kSample, "--product", "P", "--serials", "100"}));
    EXPECT_EQ(run.code, Code(ExitCode::CommandRefused)) << run.err;
    run = Cli({"--json", "serials", "report", "--product", "P"});
    ASSERT_EQ(run.code, 0) << run.err;
    const json report = json::parse(run.out);
    ASSERT_EQ(report["products"].size(), 1u) << report;
    const json& totals = report["products"][0];
    EXPECT_EQ(totals["handedOut"], 800);
    EXPECT_EQ(totals["used"], 37);
    EXPECT_EQ(totals["void"], 100);
    EXPECT_EQ(totals["left"], 0xFFFF - 1900 + 1);
    EXPECT_GE(totals["conflicts"], 1);
    ASSERT_EQ(report["leases"].size(), 9u);
    for (const json& lease : report["leases"]) {
        const bool seen = lease["firstValue"] == one.shiftStart;
        EXPECT_EQ(lease["used"], seen ? 37 : 0) << lease;
        EXPECT_EQ(lease["state"], lease["firstValue"] == 1800 ? "void" : "stored") << lease;
    }
    run = Cli({"serials", "report", "--csv"});
    EXPECT_EQ(Lines(run.out).size(), 1u + 9u) << run.out;
    run = Cli({"serials", "products"});
    EXPECT_EQ(run.out, "ledger\t" + ledger +
                           "\nproduct\tP\taddress 0x0800FFF0\twidth 2\torder high\tstep 1\tvalues "
                           "1000 to 65535\n");
}

}  // namespace
