#pragma once
// What the session tests run the sessions with: a dispatcher whose UI thread is the
// test's own, and a main dialog's view that records what it is told.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "session/MainDialogView.h"
#include "tests/support/QueueDispatcher.h"

struct Said {
    MessageIcon icon = MessageIcon::Error;
    std::string text;  // a session text's msgid (and detail), or the shown text
    bool question = false;
    QuestionCaption caption = QuestionCaption::System;
    bool defaultNo = false;
};

// Controls as a window would hold them, starting as the window's.
class RecordingView : public MainDialogView {
public:
    RecordingView() {
        enabled[DialogControl::Program] = false;
        enabled[DialogControl::RemoteFile] = false;
        enabled[DialogControl::CountEdit] = false;
        checked[DialogControl::Verify] = true;
        checked[DialogControl::SectorErase] = true;
    }

    void ShowProgrammers(const std::vector<ProgrammerEntry>& shown, int chosen,
                         bool named) override {
        programmers = shown;
        chosenProgrammer = chosen;
        programmersNamed = named;
    }
    void SelectSeries(int index) override { series = index; }
    void SetControlEnabled(DialogControl control, bool on) override { enabled[control] = on; }
    void SetControlChecked(DialogControl control, bool on) override { checked[control] = on; }
    void SetCountText(const std::string& text) override { countText = text; }
    void HideLockChip() override {}
    JobSettings ReadSettings() override {
        JobSettings settings;
        settings.seriesIndex = series;
        settings.readProtect = checked[DialogControl::ReadProtect];
        settings.verify = checked[DialogControl::Verify];
        settings.runAfter = checked[DialogControl::RunAfter];
        settings.fullErase = checked[DialogControl::FullErase];
        settings.countLimit = checked[DialogControl::CountLimit];
        settings.lockChip = checked[DialogControl::LockChip];
        settings.countLimitText = countText;
        return settings;
    }
    void ShowJobDescription(const JobDescription& rows) override { job = rows; }
    void ShowPath(const std::string& shownPath) override { path = shownPath; }
    void SetProgressRange(std::uint32_t maximum) override { progressMaximum = maximum; }
    void SetProgressPosition(std::uint32_t position) override { progress = position; }
    void ShowMessage(MessageIcon icon, std::string_view text) override {
        said.push_back({icon, std::string(text)});
    }
    void ShowText(MessageIcon icon, const SessionText& text) override {
        std::string shown = text.msgid;
        if (!text.argument.empty()) shown += " [" + text.argument + "]";
        if (text.detail) shown += "\n" + *text.detail;
        said.push_back({icon, shown});
    }
    bool AskQuestion(QuestionCaption caption, const char* msgid, bool defaultNo) override {
        said.push_back({MessageIcon::Question, msgid, true, caption, defaultNo});
        return answer;
    }
    std::optional<std::uint32_t> AskStartAddress() override { return startAddress; }
    std::uint32_t AskRemoteCode() override { return remoteCode; }
    bool FirmwareBeingStored() override { return firmwareStoring; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Said& s : said) texts.push_back(s.text);
        return texts;
    }

    std::vector<ProgrammerEntry> programmers;
    int chosenProgrammer = -1;
    bool programmersNamed = false;
    int series = 0;
    std::map<DialogControl, bool> enabled;
    std::map<DialogControl, bool> checked;
    std::string countText = "0";
    JobDescription job;
    std::string path;
    std::uint32_t progressMaximum = 0;
    std::uint32_t progress = 0;
    std::vector<Said> said;
    bool answer = true;
    std::optional<std::uint32_t> startAddress = 0x08000000;
    std::uint32_t remoteCode = 0;
    bool firmwareStoring = false;
};
