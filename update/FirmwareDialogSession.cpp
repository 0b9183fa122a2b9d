#include "update/FirmwareDialogSession.h"

#include <string>

#include "link/VersionText.h"
#include "update/FirmwareForm.h"

FirmwareDialogSession::FirmwareDialogSession(ProgrammerLink& link, FirmwareDialogView& view,
                                             UiDispatcher& dispatcher)
    : link_(link), view_(view), workers_(dispatcher) {}

FirmwareDialogSession::~FirmwareDialogSession() {
    workers_.Close();
    workers_.Finish(-1);
}

void FirmwareDialogSession::Start() {
    view_.ShowVersionLine(FirmwareVersionText(link_.firmwareVersion()));
}

void FirmwareDialogSession::ChooseFile(const std::filesystem::path& path,
                                       const std::string& shownPath) {
    if (updating_) return;  // the worker reads the chosen image until it ends
    std::vector<std::uint8_t> image;
    const FirmwareCheck check = ReadProgrammerFirmwareFile(path, image);
    if (!check.ok()) {
        view_.ShowMessage(MessageIcon::Error, check.problem);
        return;
    }
    chosenImage_ = std::move(image);
    const std::uint32_t version = ProgrammerFirmware{chosenImage_, false}.VersionWord();
    view_.ShowChosenFirmware(shownPath, FirmwareVersionText(version));
}

void FirmwareDialogSession::Update() {
    // The worker disables the button only once it runs; a second click before that must
    // not start a second update.
    if (updating_ || workers_.Closed()) return;
    updating_ = true;
    view_.SetFileChoiceEnabled(false);
    const ProgrammerFirmware firmware = chosenImage_.empty()
                                            ? CarriedProgrammerFirmware()
                                            : ProgrammerFirmware{chosenImage_, false};
    workers_.Start([this, firmware] {
        const bool succeeded = UpdateProgrammerFirmware(*this, firmware).ok();
        workers_.OnUiThread([this, succeeded] {
            updating_ = false;
            view_.SetFileChoiceEnabled(true);
            view_.UpdateFinished(succeeded);
        });
    });
}

bool FirmwareDialogSession::AskYesNo(std::string_view caption, std::string_view text) {
    return workers_.OnUiThread([&] { return view_.AskYesNo(caption, text); });
}

void FirmwareDialogSession::SetUpdateEnabled(bool enabled) {
    workers_.OnUiThread([&] { view_.SetUpdateEnabled(enabled); });
}

void FirmwareDialogSession::ShowFirmwareVersion(std::uint32_t firmwareVersion) {
    workers_.OnUiThread([&] { view_.ShowVersionLine(FirmwareVersionText(firmwareVersion)); });
}

void FirmwareDialogSession::SetProgressRange(std::uint32_t maximum) {
    workers_.OnUiThread([&] { view_.SetProgressRange(maximum); });
}

void FirmwareDialogSession::SetProgressPosition(std::uint32_t position) {
    workers_.OnUiThread([&] { view_.SetProgressPosition(position); });
}

void FirmwareDialogSession::ShowMessage(MessageIcon icon, std::string_view text) {
    workers_.OnUiThread([&] { view_.ShowMessage(icon, text); });
}
