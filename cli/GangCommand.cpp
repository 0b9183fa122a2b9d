#include "cli/GangCommand.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/Interruption.h"
#include "common/TextFormat.h"
#include "link/DevicePaths.h"
#include "worker/Gang.h"

Station::Station(std::string path)
    : path_(std::move(path)), output_(true, nullptr, nullptr), port_(output_, workspace_) {}

void Station::Open(Environment& environment) {
    session_ = std::make_unique<DeviceSession>(environment, port_, path_, record_);
}

void RegisterAll(CLI::App& command, bool& all) {
    command.add_flag("--all", all,
                     "Work on every attached programmer at once (one line each as it finishes, "
                     "then a summary)");
}

bool GangChosen(const Environment& environment, bool all) {
    return all || environment.options().devices.size() > 1;
}

bool PathOrderLess(const std::string& a, const std::string& b) {
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Whole numbers compare by value: fewer significant digits is less.
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && digit(a[endA])) ++endA;
            while (endB < b.size() && digit(b[endB])) ++endB;
            std::size_t startA = i;
            std::size_t startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            const std::string_view numberA(a.data() + startA, endA - startA);
            const std::string_view numberB(b.data() + startB, endB - startB);
            if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
            if (numberA != numberB) return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

namespace {

// The chosen programmers in path order, each once.
std::vector<std::string> ChosenPaths(Environment& environment, bool all) {
    std::vector<std::string> paths;
    if (all) {
        for (const HidDeviceInfo& info : AttachedProgrammers(environment.Backend())) {
            paths.push_back(info.path);
        }
        if (paths.empty()) {
            throw CliFailure(ExitCode::NoProgrammer, "No programmer found (USB HID 0484:1001).",
                             "Connect the programmers, or see 'marrowdyne-cli list'.");
        }
    } else {
        paths = environment.options().devices;
    }
    std::sort(paths.begin(), paths.end(), PathOrderLess);
    std::vector<std::string> unique;
    for (const std::string& path : paths) {
        const bool seen = std::any_of(unique.begin(), unique.end(), [&](const std::string& known) {
            return SameDevicePath(known, path);
        });
        if (!seen) unique.push_back(path);
    }
    return unique;
}

// How one programmer of the gang ended.
struct Ending {
    ExitCode code = ExitCode::Success;
    std::string message;
    std::string detail;
};

Ending EndingOf(Station& station, std::exception_ptr failure) {
    Ending ending;
    const std::optional<WorkerOutcome>& outcome = station.Output().LastOutcome();
    if (!failure) {
        ending.message =
            station.Summary().empty() ? station.Output().LastMessage() : station.Summary();
        if (outcome) ending.detail = outcome->detail;
        return ending;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const CliFailure& refused) {
        ending.code = refused.code();
        ending.message = refused.what();
        ending.detail = refused.detail();
        if (ending.detail.empty() && outcome && !outcome->ok()) ending.detail = outcome->detail;
    } catch (const std::exception& broken) {
        ending.code = ExitCode::Internal;
        ending.message = std::string("internal error: ") + broken.what();
    } catch (...) {
        ending.code = ExitCode::Internal;
        ending.message = "internal error";
    }
    // A programmer that had not succeeded when the stop came was stopped by it; the
    // detail still names the request it ended at.
    if (InterruptionCode() != ExitCode::Success) {
        ending.code = InterruptionCode();
        ending.message = std::string(InterruptionText()) + " before this programmer was done";
    }
    return ending;
}

}  // namespace

void RunOnGang(Environment& environment, bool all, const std::function<void(Station&)>& work) {
    ConsoleOutput& output = environment.Output();
    environment.TraceWithPaths();
    const std::vector<std::string> paths = ChosenPaths(environment, all);
    environment.OpenLog();

    std::vector<std::unique_ptr<Station>> stations;
    for (const std::string& path : paths) stations.push_back(std::make_unique<Station>(path));
    std::vector<Ending> endings(stations.size());
    std::vector<nlohmann::json> objects(stations.size());

    // Logged first, then shown: a programmer reported done is in the log.
    const auto finish = [&](std::size_t i, std::exception_ptr failure) {
        Station& station = *stations[i];
        const Ending ending = EndingOf(station, failure);
        endings[i] = ending;
        station.Record().operation = environment.Operation();
        if (station.Record().path.empty()) station.Record().path = station.Path();
        environment.Log(station.Record(), ending.code, ending.message, ending.detail);

        const OperationRecord& record = station.Record();
        const std::string deviceId =
            record.connectionCode ? Format("%08X", *record.connectionCode) : std::string();
        std::string line = station.Path() + '\t' + (record.serial.empty() ? "-" : record.serial) +
                           '\t' + (deviceId.empty() ? "-" : "SN:" + deviceId) + '\t' +
                           ExitCodeName(ending.code) + '\t' + ending.message;
        if (ending.code != ExitCode::Success && !ending.detail.empty())
            line += '\t' + ending.detail;
        output.Line(line);
        // A member's own notes are in its JSON object; a serial conflict is said in text too.
        if (!record.serialConflict.empty() && !output.json()) {
            output.Note(station.Path() + ": serial conflict: " + record.serialConflict);
        }

        nlohmann::json object = station.Output().Document();
        object["path"] = station.Path();
        object["serial"] =
            record.serial.empty() ? nlohmann::json(nullptr) : nlohmann::json(record.serial);
        object["deviceId"] = deviceId.empty() ? nlohmann::json(nullptr) : nlohmann::json(deviceId);
        object["result"] = ExitCodeName(ending.code);
        object["message"] = ending.message;
        object["detail"] = ending.detail;
        object["exitCode"] = ToInt(ending.code);
        objects[i] = std::move(object);
    };

    // Opened one after another in path order; the work then runs on all at once.
    std::vector<std::size_t> opened;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        try {
            if (InterruptionCode() != ExitCode::Success) {
                throw CliFailure(InterruptionCode(), InterruptionText(), "not opened");
            }
            stations[i]->Open(environment);
            opened.push_back(i);
        } catch (...) {
            finish(i, std::current_exception());
        }
    }
    RunGang(
        opened.size(),
        [&](std::size_t k) {
            Station& station = *stations[opened[k]];
            station.Session().Identify();
            work(station);
        },
        [&](std::size_t k, std::exception_ptr failure) { finish(opened[k], failure); });

    std::size_t failed = 0;
    const Ending* first = nullptr;
    const std::string* firstPath = nullptr;
    for (std::size_t i = 0; i < endings.size(); ++i) {
        if (endings[i].code == ExitCode::Success) continue;
        ++failed;
        if (first == nullptr) {
            first = &endings[i];
            firstPath = &stations[i]->Path();
        }
    }
    output.JsonField("programmers", objects);
    output.JsonField("succeeded", endings.size() - failed);
    output.JsonField("failed", failed);
    std::string summary = Format("%zu programmers: %zu succeeded, %zu failed", endings.size(),
                                 endings.size() - failed, failed);
    if (first != nullptr) {
        summary += Format(" (first in path order: %s, exit code %d)", firstPath->c_str(),
                          ToInt(first->code));
    }
    output.Line(summary);
    if (first != nullptr) throw CliFailure(first->code, summary, {}, true);
}
