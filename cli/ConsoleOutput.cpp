#include "cli/ConsoleOutput.h"

#include "cli/ExitCodes.h"

namespace {

void PutLine(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

const char* IconName(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error: return "error";
        case MessageIcon::Exclamation: return "exclamation";
        case MessageIcon::Question: return "question";
    }
    return "error";
}

}  // namespace

nlohmann::json DescriptionJson(const JobDescription& rows) {
    nlohmann::json array = nlohmann::json::array();
    for (const JobDescriptionRow& row : rows) {
        array.push_back({{"label", row.label}, {"value", row.value}});
    }
    return array;
}

ConsoleOutput::ConsoleOutput(bool json, std::FILE* out, std::FILE* err)
    : json_(json), out_(out), err_(err) {}

void ConsoleOutput::Field(std::string_view key, const nlohmann::json& value,
                          std::string_view text) {
    if (json_) {
        doc_[std::string(key)] = value;
        return;
    }
    std::string line(key);
    line += '\t';
    line += text;
    PutLine(out_, line);
}

void ConsoleOutput::LineField(std::string_view key, const nlohmann::json& value,
                              std::string_view line) {
    if (json_) {
        doc_[std::string(key)] = value;
        return;
    }
    PutLine(out_, line);
}

void ConsoleOutput::JsonField(std::string_view key, const nlohmann::json& value) {
    if (json_) doc_[std::string(key)] = value;
}

void ConsoleOutput::Line(std::string_view text) {
    if (!json_) PutLine(out_, text);
}

void ConsoleOutput::Message(MessageIcon icon, std::string_view text) {
    if (json_) {
        doc_["messages"].push_back({{"icon", IconName(icon)}, {"text", std::string(text)}});
        doc_["message"] = std::string(text);
        return;
    }
    // Failures go where failures belong; notices and success are the command's result.
    PutLine(icon == MessageIcon::Error ? err_ : out_, text);
}

void ConsoleOutput::Note(std::string_view text) {
    if (json_) {
        doc_["notes"].push_back(std::string(text));
        return;
    }
    PutLine(err_, text);
}

void ConsoleOutput::Description(const JobDescription& rows) {
    if (json_) {
        doc_["job"] = DescriptionJson(rows);
        return;
    }
    for (const JobDescriptionRow& row : rows) {
        PutLine(out_, row.label + '\t' + row.value);
    }
}

void ConsoleOutput::Outcome(const WorkerOutcome& outcome) {
    if (!json_) {
        if (!outcome.ok() && !outcome.detail.empty()) PutLine(err_, outcome.detail);
        return;
    }
    doc_["outcome"] = {{"kind", OutcomeKindName(outcome.kind)},
                       {"code", outcome.code},
                       {"message", outcome.message},
                       {"detail", outcome.detail}};
}

void ConsoleOutput::Finish(int exitCode) {
    if (finished_) return;
    finished_ = true;
    if (!json_) return;
    doc_["exitCode"] = exitCode;
    // File names and device answers need not be valid UTF-8; never let that lose the
    // whole result.
    PutLine(out_, doc_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}
