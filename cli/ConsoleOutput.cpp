#include "cli/ConsoleOutput.h"

#include <cerrno>
#include <cstring>

#include "cli/ExitCodes.h"
#include "common/StreamText.h"

namespace {

const char* IconName(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return "error";
        case MessageIcon::Exclamation:
            return "exclamation";
        case MessageIcon::Question:
            return "question";
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
    Release(out_);
    std::string line(key);
    line += '\t';
    line += text;
    Put(out_, line);
}

void ConsoleOutput::LineField(std::string_view key, const nlohmann::json& value,
                              std::string_view line) {
    if (json_) {
        doc_[std::string(key)] = value;
        return;
    }
    Release(out_);
    Put(out_, line);
}

void ConsoleOutput::JsonField(std::string_view key, const nlohmann::json& value) {
    if (json_) doc_[std::string(key)] = value;
}

void ConsoleOutput::Line(std::string_view text) {
    if (json_) return;
    Release(out_);
    Put(out_, text);
}

void ConsoleOutput::Message(MessageIcon icon, std::string_view text) {
    lastMessage_ = std::string(text);
    if (json_) {
        doc_["messages"].push_back({{"icon", IconName(icon)}, {"text", std::string(text)}});
        doc_["message"] = std::string(text);
        return;
    }
    Release(out_);
    // Failures go where failures belong; notices and success are the command's result,
    // unless the worker ends refused (see Outcome).
    if (icon == MessageIcon::Error) {
        Put(err_, text);
    } else {
        heldNotice_ = std::string(text);
    }
}

void ConsoleOutput::Note(std::string_view text) {
    if (json_) {
        doc_["notes"].push_back(std::string(text));
        return;
    }
    Release(out_);
    Put(err_, text);
}

void ConsoleOutput::Description(const JobDescription& rows) {
    if (json_) {
        doc_["job"] = DescriptionJson(rows);
        return;
    }
    Release(out_);
    for (const JobDescriptionRow& row : rows) {
        Put(out_, row.label + '\t' + row.value);
    }
}

void ConsoleOutput::Outcome(const WorkerOutcome& outcome) {
    lastOutcome_ = outcome;
    if (!json_) {
        Release(outcome.ok() ? out_ : err_);
        if (!outcome.ok() && !outcome.detail.empty()) Put(err_, outcome.detail);
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
    Release(out_);  // a notice still held goes with the results
    deferred_ = false;
    for (const auto& [stream, text] : std::exchange(held_, {})) Put(stream, text);
    if (!json_) return;
    doc_["exitCode"] = exitCode;
    // File names and device answers need not be valid UTF-8; never let that lose the
    // whole result.
    Put(out_, doc_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

bool ConsoleOutput::Delivered() {
    if (out_ == nullptr || err_ == nullptr) return true;
    Release(out_);
    // The progress bar and the questions write to standard error directly; what they lost
    // is only seen in the stream's error flag.
    for (std::FILE* stream : {out_, err_}) {
        int& lost = stream == out_ ? outLost_ : errLost_;
        errno = 0;
        if ((std::fflush(stream) != 0 || std::ferror(stream) != 0) && lost == 0) {
            lost = errno != 0 ? errno : EIO;
        }
    }
    if (outLost_ != 0) {
        Put(err_, std::string("Standard output could not be written: ") + std::strerror(outLost_) +
                      "; the results are lost.");
    }
    return outLost_ == 0 && errLost_ == 0;
}

void ConsoleOutput::Put(std::FILE* stream, std::string_view text) {
    if (deferred_) {
        held_.emplace_back(stream, std::string(text));
        return;
    }
    Write(stream, text);
}

void ConsoleOutput::Write(std::FILE* stream, std::string_view text) {
    if (stream == nullptr) return;  // an output that only collects (a gang's member)
    int& lost = stream == out_ ? outLost_ : errLost_;
    if (lost != 0) return;  // what follows a lost line would only mislead
    errno = 0;
    std::string line(text);
    line += '\n';
    const bool written = WriteStreamText(stream, line) && std::fflush(stream) == 0;
    if (!written) lost = errno != 0 ? errno : EIO;
}

void ConsoleOutput::Release(std::FILE* stream) {
    if (!heldNotice_) return;
    const std::string text = std::move(*heldNotice_);
    heldNotice_.reset();
    Put(stream, text);
}
