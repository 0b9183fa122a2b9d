// The Linux device path as users run it: hidapi-hidraw and libudev, unmodified, finding,
// opening and talking to a programmer that umockdev emulates (sysfs, /dev/hidrawN, the
// kernel's hidraw rules), the simulated programmer answering behind the node. The
// command-line tool runs as a child process under the same preload.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli/ExitCodes.h"
#include "common/LittleEndian.h"
#include "job/JobHeader.h"
#include "link/HidapiBackend.h"
#include "link/ProgrammerLink.h"
#include "link/SimulatedProgrammer.h"
#include "tests/emulated/EmulatedHidraw.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kSample = std::string(MARRO_SOURCE_DIR) + "/samples/blink-f103.hex";
const std::string kUdevRule = "packaging/60-marrowdyne.rules";

int Code(ExitCode code) { return static_cast<int>(code); }

// The job header's six time bytes follow marker, name size, series, options and four
// 32-bit fields; they hold the clock of the upload, so two uploads differ only there.
constexpr std::size_t kJobTimeOffset = 20;
constexpr std::size_t kJobTimeSize = 6;

// A --trace file as lines of bytes, with the job header's time bytes blanked wherever the
// header is written or read back, and in the request after a read-back, which carries
// them on in bytes it does not use.
std::vector<std::vector<std::string>> TraceWithoutJobTime(const fs::path& path) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(ReadText(path));
    bool headerAnswerNext = false;
    bool leftOverNext = false;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> bytes;
        std::istringstream words(line);
        for (std::string word; words >> word;) bytes.push_back(word);
        if (bytes.size() < 11) {
            lines.push_back(bytes);
            continue;
        }
        // bytes[0] is the direction; report byte k is bytes[k + 1].
        auto byte = [&](std::size_t k) {
            return static_cast<std::uint8_t>(std::stoi(bytes[k + 1], nullptr, 16));
        };
        std::size_t blankFrom = 0;
        if (bytes[0] == ">") {
            const std::uint8_t address[4] = {byte(2), byte(3), byte(4), byte(5)};
            const bool header = ReadLe32(address) == kJobAreaAddress;
            if (std::exchange(leftOverNext, false)) blankFrom = 1 + kJobTimeOffset;
            headerAnswerNext = header && byte(1) == static_cast<std::uint8_t>(Command::ReadStorage);
            if (header && byte(1) == static_cast<std::uint8_t>(Command::WriteStorage)) {
                blankFrom = kReportDataOffset + kJobTimeOffset;
            }
        } else if (std::exchange(headerAnswerNext, false)) {
            blankFrom = 1 + kJobTimeOffset;
            leftOverNext = true;
        }
        if (blankFrom != 0) {
            for (std::size_t k = blankFrom; k < blankFrom + kJobTimeSize; ++k) bytes[k + 1] = "..";
        }
        lines.push_back(bytes);
    }
    return lines;
}

// Where two traces part, as both lines; empty when they are the same.
std::string FirstDifference(const std::vector<std::vector<std::string>>& a,
                            const std::vector<std::vector<std::string>>& b) {
    auto text = [](const std::vector<std::vector<std::string>>& lines, std::size_t i) {
        std::string line = i < lines.size() ? "" : "(none)";
        for (std::size_t k = 0; i < lines.size() && k < lines[i].size(); ++k)
            line += lines[i][k] + ' ';
        return line;
    };
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size() || i >= b.size() || a[i] != b[i]) {
            return "line " + std::to_string(i + 1) + ":\n  " + text(a, i) + "\n  " + text(b, i);
        }
    }
    return a.empty() ? "no reports" : "";
}

class EmulatedPath : public ::testing::Test {
protected:
    fs::path Path(const std::string& name) const { return dir_ / name; }

    // A marrowdyne-cli running in this environment (the preload and the test bed's
    // folder), its output in files of its own.
    struct Running {
        pid_t pid = -1;
        Launch launch;
    };

    // Starts marrowdyne-cli. As an ordinary user would, when `asUser`: a root process
    // keeps its power to open any node, so it gives that up first.
    Running Start(std::vector<std::string> args, bool asUser = false) {
        std::vector<std::string> all;
        if (asUser && geteuid() == 0) {
            all = {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                   "--bounding-set=-dac_override,-dac_read_search", "--"};
        }
        all.push_back(MARRO_CLI_PATH);
        all.insert(all.end(), args.begin(), args.end());
        const std::string run = std::to_string(runs_++);
        Running running;
        running.launch.stdoutPath = Path(".stdout" + run);
        running.launch.stderrPath = Path(".stderr" + run);
        std::string why;
        running.pid = StartProgram(all, running.launch, why);
        if (running.pid < 0) ADD_FAILURE() << why;
        return running;
    }

    Ran Wait(const Running& running) {
        Ran ran;
        if (running.pid < 0) return ran;
        bool killed = false;
        ran.code = WaitProgram(running.pid, 120, killed);
        EXPECT_FALSE(killed) << "still running after 120 s: killed";
        ran.out = ReadText(running.launch.stdoutPath);
        ran.err = ReadText(running.launch.stderrPath);
        return ran;
    }

    Ran Cli(std::vector<std::string> args, bool asUser = false) {
        return Wait(Start(std::move(args), asUser));
    }

    const TempFolder folder_{"marrowdyne-emulated"};
    const fs::path dir_ = folder_.Path();
    int runs_ = 0;
};

TEST_F(EmulatedPath, AProgrammerAmongOtherDevicesIsListedIdentifiedAndProgrammed) {
    EmulatedHidraw system;
    SimulatedProgrammer programmer;
    const std::string keyboard = system.Plug({.vendorId = 0x046D,
                                              .productId = 0xC31C,
                                              .manufacturer = "Logitech",
                                              .product = "USB Keyboard",
                                              .inputBytes = 8,
                                              .outputBytes = 1},
                                             nullptr);
    const std::string node = system.Plug({}, &programmer);

    Ran run = Cli({"list"});
    ASSERT_EQ(run.code, 0) << run.err;
    // hidapi names the USB serial number, and so does every result.
    EXPECT_EQ(run.out, node + "\tOffline programmer (emulated)\t0001\n");

    run = Cli({"info"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(
        Contains(run.out, "path\t" + node + "\nserial\t0001\nVersion:10.02\nFrimware:2.10\nSN:"))
        << run.out;

    // The same job through the simulated backend and through hidraw: the same reports
    // both ways, answers included, apart from the clock in the header.
    run = Cli(
        {"--trace", Path("hidraw.trace").string(), "program", kSample, "--series", "STM32F1XX"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Успешно\u2000")) << run.out;
    const Ran simulated = Cli({"--simulate", "--trace", Path("simulated.trace").string(), "program",
                               kSample, "--series", "STM32F1XX"});
    ASSERT_EQ(simulated.code, 0) << simulated.err;
    EXPECT_EQ(FirstDifference(TraceWithoutJobTime(Path("hidraw.trace")),
                              TraceWithoutJobTime(Path("simulated.trace"))),
              "");
    EXPECT_EQ(programmer.Storage()[kJobAreaAddress], kJobMarker);

    // The keyboard's ids ruled it out without opening it.
    EXPECT_EQ(system.Openings(keyboard), 0);
}

TEST_F(EmulatedPath, AProgrammerThatCannotBeUsedIsRefusedWithItsCause) {
    struct Case {
        const char* what;
        HidrawDeviceTraits traits;
        void (*spoil)(EmulatedHidraw&, const std::string& node);
        ExitCode code;
        std::string said;
        bool udevAdvice;
    };
    const Case cases[] = {
        {"access rights",
         {},
         [](EmulatedHidraw& s, const std::string& n) { s.DenyAccess(n); },
         ExitCode::NotAccessible,
         "open('/dev/hidraw0'): Permission denied",
         true},
        {"gone while being opened",
         {},
         [](EmulatedHidraw& s, const std::string& n) { s.FailOpeningQuery(n, ENODEV); },
         ExitCode::NotAccessible,
         "ioctl('/dev/hidraw0', HIDIOCGRDESCSIZE): No such device",
         false},
        {"output report too long",
         {.outputBytes = 65},
         [](EmulatedHidraw&, const std::string&) {},
         ExitCode::Unsuitable,
         "/dev/hidraw0 is not a programmer this tool can talk to: output report of 66 bytes",
         false},
    };
    for (const Case& c : cases) {
        EmulatedHidraw system;
        SimulatedProgrammer programmer;
        const std::string node = system.Plug(c.traits, &programmer);
        c.spoil(system, node);
        const Ran run = Cli({"info"}, true);
        EXPECT_EQ(run.code, Code(c.code)) << c.what << "\n" << run.err;
        EXPECT_TRUE(Contains(run.err, c.said)) << c.what << "\n" << run.err;
        EXPECT_EQ(Contains(run.err, kUdevRule), c.udevAdvice) << c.what << "\n" << run.err;
        EXPECT_TRUE(programmer.Requests().empty()) << c.what;
    }
}

TEST_F(EmulatedPath, AProgrammerInUseIsRefusedToASecondProgramBeforeItSendsAnything) {
    EmulatedHidraw system;
    // Slow enough that the first upload is still running when the second program starts.
    SimulatedProgrammer programmer({.exchangeLatencyUs = 20000});
    const std::string node = system.Plug({}, &programmer);
    const std::string other = Path("other.hex").string();
    fs::copy_file(kSample, other);

    const Running first = Start(
        {"--trace", Path("first.trace").string(), "program", kSample, "--series", "STM32F1XX"});
    // The first holds the node from its first opening, before hidapi's own.
    for (int i = 0; i < 400 && system.Openings(node) < 2; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_GE(system.Openings(node), 2);
    const Ran second = Cli({"program", other, "--series", "STM32F1XX"});
    const Ran done = Wait(first);

    EXPECT_EQ(second.code, Code(ExitCode::InUse)) << second.err;
    EXPECT_TRUE(Contains(second.err, kProgrammerInUseText)) << second.err;
    EXPECT_TRUE(Contains(second.err, "flock('" + node + "'): Resource temporarily unavailable"))
        << second.err;
    ASSERT_EQ(done.code, 0) << done.err;
    // Every request the programmer got is one the first program wrote.
    std::vector<std::vector<std::uint8_t>> written;
    std::istringstream trace(ReadText(Path("first.trace")));
    for (std::string line; std::getline(trace, line);) {
        if (line.empty() || line[0] != '>') continue;
        std::vector<std::uint8_t> bytes;
        std::istringstream words(line.substr(1));
        for (std::string word; words >> word;)
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(word, nullptr, 16)));
        written.push_back(bytes);
    }
    EXPECT_EQ(programmer.Requests().size(), written.size());
    EXPECT_TRUE(programmer.Requests() == written);

    // Free again, and holding the first program's job, whole.
    const Ran verify = Cli({"verify", kSample});
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
}

TEST_F(EmulatedPath, ARemovalDuringAnUploadEndsItWithTheMessageOfItsStep) {
    EmulatedHidraw system;
    SimulatedProgrammer programmer;
    // Header, name, then the third image block: the programmer is pulled out.
    programmer.AddFault({Command::WriteStorage, FaultKind::Unplug, 5});
    const std::string node = system.Plug({}, &programmer);

    Ran run = Cli({"program", kSample, "--series", "STM32F1XX"});
    EXPECT_EQ(run.code, Code(ExitCode::LinkFailed)) << run.err;
    // The write fails at once; a missed removal would wait for the answer instead (:14).
    EXPECT_TRUE(Contains(run.err, "Ошибка    :13")) << run.err;
    EXPECT_FALSE(system.IsPlugged(node));

    run = Cli({"info"});
    EXPECT_EQ(run.code, Code(ExitCode::NoProgrammer)) << run.err;
}

// A tool killed in the middle of an upload (kill -9: no handler runs) leaves the header
// unwritten: the programmer holds no job rather than a header over half an image.
TEST_F(EmulatedPath, AnUploadKilledMidwayLeavesNoJob) {
    EmulatedHidraw system;
    SimulatedProgrammer programmer;
    system.Plug({}, &programmer);
    ASSERT_EQ(Cli({"program", kSample, "--series", "STM32F1XX"}).code, 0);

    // The fifth image block is never answered: the tool waits there until it is killed.
    // Faults count over the programmer's life, and the first upload wrote 14 times.
    programmer.AddFault({Command::WriteStorage, FaultKind::Hang, 14 + 5});
    const Running running = Start({"program", kSample, "--series", "STM32F4XX"});
    ASSERT_GT(running.pid, 0);
    std::this_thread::sleep_for(1s);  // well within the answer time-out of 3 s
    kill(running.pid, SIGKILL);
    const Ran killed = Wait(running);
    ASSERT_EQ(killed.code, 128 + SIGKILL) << killed.err;

    Ran run = Cli({"info"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "В программаторе нет задания")) << run.out;
    run = Cli({"read-job", Path("backup.hex").string()});
    EXPECT_EQ(run.code, Code(ExitCode::NoStoredJob)) << run.err;
    EXPECT_FALSE(fs::exists(Path("backup.hex")));
}

TEST_F(EmulatedPath, AnAnswerTooLateTimesOutAndIsNotTakenForTheNextOne) {
    EmulatedHidraw system;
    SimulatedProgrammer programmer;
    programmer.AddFault({Command::QueryVersion, FaultKind::Hang, 1});
    system.SetLateAnswer(1500ms);
    const std::string node = system.Plug({}, &programmer);

    HidapiBackend backend;
    ProgrammerLink link(backend);
    link.SetTimeouts({.answerMs = 200});
    ASSERT_TRUE(link.Open());
    auto session = link.Acquire();
    HidReport report;
    report.SetRequest(Command::QueryVersion, 0, 0);
    // A read that ignored its time-out would get the late answer.
    EXPECT_EQ(session.Exchange(report), ExchangeResult::ReadFailed);
    EXPECT_EQ(session.LastError(), "read: no answer within 200 ms");

    for (int i = 0; i < 200 && system.ReportsWaiting(node) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(system.ReportsWaiting(node), 1u);
    report.SetRequest(Command::QueryVersion, 0, 0);
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok) << session.LastError();
    EXPECT_EQ(report.AnswerWord(), programmer.ProgrammerVersion());
}

}  // namespace
