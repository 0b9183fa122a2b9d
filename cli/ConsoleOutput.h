#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "job/JobDescription.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// Where a command's results go: lines on standard output, or one JSON object that is
// printed when the command ends. Explanations of the tool itself go to standard error
// (or into the object's "notes").
class ConsoleOutput {
public:
    ConsoleOutput(bool json, std::FILE* out = stdout, std::FILE* err = stderr);

    bool json() const { return json_; }

    // A result value: "key<TAB>text" on standard output, or the field `key` = value.
    void Field(std::string_view key, const nlohmann::json& value, std::string_view text);
    // A result value whose text form is a line of its own ("Version:10.02").
    void LineField(std::string_view key, const nlohmann::json& value, std::string_view line);
    // A result value of JSON only (the text form shows it otherwise, or not at all).
    void JsonField(std::string_view key, const nlohmann::json& value);
    // A line of text output only (JSON carries the same facts as fields).
    void Line(std::string_view text);

    // One of the system's own texts, as a worker or a refusal shows it.
    void Message(MessageIcon icon, std::string_view text);
    // The tool's own explanation (what to do next, why something was not done).
    void Note(std::string_view text);
    // A job description: "label<TAB>value" rows, or the array "job".
    void Description(const JobDescription& rows);
    // How a worker ended: kind, code, message and detail.
    void Outcome(const WorkerOutcome& outcome);

    // Holds back every line until Finish, so that nothing is reported before the
    // production log has the operation on disk.
    void DeferUntilFinish() { deferred_ = true; }

    // Ends the command: prints what was held back, and the JSON object (with the exit
    // code) in JSON mode.
    void Finish(int exitCode);
    // Whether everything printed reached both streams. When something was lost, says so
    // on standard error (as far as that still takes it) and returns false.
    bool Delivered();

    std::FILE* err() const { return err_; }

    // What was reported so far: the JSON object as it stands (JSON mode), the last
    // system message and the last worker's outcome.
    const nlohmann::json& Document() const { return doc_; }
    const std::string& LastMessage() const { return lastMessage_; }
    const std::optional<WorkerOutcome>& LastOutcome() const { return lastOutcome_; }

private:
    void Put(std::FILE* stream, std::string_view text);
    void Write(std::FILE* stream, std::string_view text);
    // Prints a notice held back until it is known where it belongs.
    void Release(std::FILE* stream);

    bool json_;
    std::FILE* out_;
    std::FILE* err_;
    nlohmann::json doc_ = nlohmann::json::object();
    bool finished_ = false;
    // A worker's last notice waits for its outcome: a refusal of input carries the
    // exclamation icon like a success, but belongs with the failures.
    std::optional<std::string> heldNotice_;
    int outLost_ = 0;  // errno of the first lost write to out_, 0 while none
    int errLost_ = 0;
    bool deferred_ = false;
    std::vector<std::pair<std::FILE*, std::string>> held_;  // lines held back until Finish
    std::string lastMessage_;
    std::optional<WorkerOutcome> lastOutcome_;
};

// The job description as JSON: [{"label":..., "value":...}, ...].
nlohmann::json DescriptionJson(const JobDescription& rows);
