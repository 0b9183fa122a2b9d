#include "session/MainDialogSession.h"

#include <algorithm>
#include <chrono>

#include "common/NumberText.h"
#include "common/ProgramLocation.h"
#include "image/FileLoading.h"
#include "loading/LoadFirmwareFile.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "link/HidReport.h"
#include "job/IdentifyProgrammer.h"
#include "remote/GenerateRemoteJobFile.h"
#include "remote/RemoteJobFile.h"

namespace {

// The job list's row of the code shift, which a leased block extends.
constexpr std::size_t kCodeShiftRow = 8;

// The controls a loaded remote job file's own settings take over.
constexpr DialogControl kSettingControls[] = {
    DialogControl::SeriesList, DialogControl::ReadProtect, DialogControl::Verify,
    DialogControl::RunAfter,   DialogControl::FullErase,   DialogControl::SectorErase,
    DialogControl::CountLimit, DialogControl::CountEdit,   DialogControl::LockChip};

}  // namespace

MainDialogSession::MainDialogSession(HidBackend& backend, MainDialogView& view,
                                     UiDispatcher& dispatcher)
    : backend_(backend), view_(view), link_(backend), workers_(dispatcher) {}

MainDialogSession::~MainDialogSession() {
    Shutdown();
    FinishWorkers(-1);
}

void MainDialogSession::Start() {
    if (workers_.Closed() || lent_) return;
    if (OpenProgrammer()) ProgrammerOpened();
}

// Opens the programmer when none is open. One that another program holds is only said
// to be in use; the next arrival opens it once it is free.
bool MainDialogSession::OpenProgrammer() {
    FindResult found;
    if (link_.Open(&found)) return true;
    if (found.refusal == Refusal::InUse) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kProgrammerInUseText, {}, {}});
    }
    return false;
}

// A programmer was opened (start, arrival, choice or in place of one removed): show it
// and identify it.
void MainDialogSession::ProgrammerOpened() {
    ListProgrammers();
    activeLease_.reset();
    const bool reconcile = !serials.product.empty();
    workers_.Start([this, reconcile] {
        IdentifyPort& port = *this;
        if (IdentifyProgrammer(port).ok() && reconcile) ReconcileStoredJob();
    });
}

// List 1000 while a programmer is open: the single entry of the device's name when it is
// the only one, otherwise every attached programmer by its serial number and path; the
// open one chosen.
void MainDialogSession::ListProgrammers() {
    if (!link_.IsOpen() && !choicePending_) {
        listed_ = 0;
        view_.ShowProgrammers({}, -1, false);
        return;
    }
    const std::string open = link_.IsOpen() ? link_.DevicePath() : std::string();
    std::vector<HidDeviceInfo> attached = AttachedProgrammers(backend_);
    const auto isOpen = [&open](const HidDeviceInfo& info) { return info.path == open; };
    if (attached.empty()) choicePending_ = false;  // nothing left to choose from
    if (!open.empty() && std::none_of(attached.begin(), attached.end(), isOpen)) {
        // The one in use is listed even when the enumeration no longer shows it.
        HidDeviceInfo inUse;
        inUse.path = open;
        attached.insert(attached.begin(), inUse);
    }
    std::vector<ProgrammerEntry> entries;
    for (const HidDeviceInfo& info : attached) entries.push_back({info.path, info.serial});
    const auto chosen = std::find_if(attached.begin(), attached.end(), isOpen);
    // One programmer in use is the single entry; a choice names each one.
    const bool named = attached.size() > 1 || open.empty();
    listed_ = entries.size();
    view_.ShowProgrammers(
        entries, chosen == attached.end() ? -1 : static_cast<int>(chosen - attached.begin()),
        named);
}

// The dialog without a programmer: no device, no job, the series list free.
void MainDialogSession::ShowNoProgrammer() {
    activeLease_.reset();
    listed_ = 0;
    view_.ShowProgrammers({}, -1, false);
    view_.ShowJobDescription({});
    seriesListEnabled_ = true;
    view_.SetControlEnabled(DialogControl::SeriesList, true);
}

void MainDialogSession::ReadProtectClicked() {
    view_.SetControlChecked(DialogControl::LockChip, false);
}

void MainDialogSession::LockChipClicked(bool checked) {
    if (!checked) return;
    if (view_.AskQuestion(QuestionCaption::Application, kMsgLockChipQuestion, false)) {
        view_.SetControlChecked(DialogControl::ReadProtect, false);
    } else {
        view_.SetControlChecked(DialogControl::LockChip, false);
    }
}

void MainDialogSession::CountLimitClicked(bool checked) {
    view_.SetControlEnabled(DialogControl::CountEdit, checked);
}

bool MainDialogSession::FirmwareUpdateOffered() const {
    return IsNewerKind(link_.programmerVersion());
}

void MainDialogSession::OpenFile(const ChosenFile& file) {
    LoadRequest request;
    request.path = file.path;
    request.fileName = file.fileName;
    request.extension =
        file.dropped ? ExtensionOfName(file.fileName) : ExtensionOfChosenFile(file.fileName);
    request.askStartAddress = [this] { return view_.AskStartAddress(); };
    const LoadOutcome outcome = LoadFirmwareFile(workspace_, request);
    switch (outcome.status) {
        case LoadStatus::Loaded:
            break;
        case LoadStatus::Cancelled:
            return;
        case LoadStatus::Busy:
            // The image under a running upload or generation does not change.
            view_.ShowMessage(MessageIcon::Exclamation, outcome.message);
            return;
        case LoadStatus::Unsupported:
            // The system's text names only .hex and .bin: a second line names them all.
            view_.ShowMessage(MessageIcon::Error, outcome.message + "\n" + AcceptedFormatsNote());
            return;
        default:
            view_.ShowMessage(MessageIcon::Error, outcome.message);
            return;
    }
    // A loaded remote job file holds a scrambled record, not an image to pack.
    remoteFileOffered_ = outcome.kind != FileKind::RemoteJob;
    view_.SetControlEnabled(DialogControl::RemoteFile, remoteFileOffered_);
    view_.ShowPath(file.shownPath);
    ShowSettingsOfLoadedFile(outcome.kind == FileKind::RemoteJob);
    // While the shelf has the programmers it stores the file, not Program.
    view_.SetControlEnabled(DialogControl::Program, !choicePending_ && !lent_);
}

// A remote job file carries its own settings and is stored with them: while one is
// loaded the controls show them and cannot be changed; the user's own come back with
// the next file of another kind.
void MainDialogSession::ShowSettingsOfLoadedFile(bool remoteJob) {
    const auto show = [this](const JobSettings& settings) {
        view_.SelectSeries(settings.seriesIndex);
        view_.SetControlChecked(DialogControl::ReadProtect, settings.readProtect);
        view_.SetControlChecked(DialogControl::Verify, settings.verify);
        view_.SetControlChecked(DialogControl::RunAfter, settings.runAfter);
        view_.SetControlChecked(DialogControl::FullErase, settings.fullErase);
        view_.SetControlChecked(DialogControl::SectorErase, !settings.fullErase);
        view_.SetControlChecked(DialogControl::CountLimit, settings.countLimit);
        view_.SetControlChecked(DialogControl::LockChip, settings.lockChip);
        view_.SetCountText(settings.countLimitText);
    };
    if (remoteJob) {
        if (!userSettings_) userSettings_ = UserSettings{SettingsOfControls(), seriesListEnabled_};
        const JobHeader job =
            JobHeader::Decode(JobHeaderBytesOfRecord(workspace_.image.imageBuffer).data());
        JobSettings own;
        own.seriesIndex = job.series < kSeriesCount ? job.series : -1;
        own.readProtect = job.options & OptReadProtect;
        own.verify = job.options & OptVerify;
        own.runAfter = job.options & OptRunAfter;
        own.fullErase = job.options & OptFullErase;
        own.countLimit = job.options & OptCountLimit;
        own.lockChip = job.options & OptLockChip;
        own.countLimitText = std::to_string(job.countLimit);
        show(own);
        for (DialogControl control : kSettingControls) view_.SetControlEnabled(control, false);
        return;
    }
    if (!userSettings_) return;
    const JobSettings& own = userSettings_->settings;
    show(own);
    for (DialogControl control : kSettingControls) view_.SetControlEnabled(control, true);
    seriesListEnabled_ = userSettings_->seriesListEnabled;
    view_.SetControlEnabled(DialogControl::SeriesList, seriesListEnabled_);
    view_.SetControlEnabled(DialogControl::CountEdit, own.countLimit);
    userSettings_.reset();
}

void MainDialogSession::Program() {
    if (lent_) return;
    const UploadKind kind = UploadKindOf(workspace_.fileName);
    if (kind == UploadKind::None) return;
    // The job's series comes from the list, which selects none on an erased programmer.
    const JobSettings settings = SettingsOfControls();
    if (kind == UploadKind::Job && settings.seriesIndex < 0) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgSeriesNotSelected, {}, {}});
        return;
    }
    // With a product of the serial ledger each job gets a block of its own, as large as
    // the run limit that keeps the programmer inside it.
    std::optional<LeaseOrder> order;
    if (kind == UploadKind::Job && !serials.product.empty()) {
        const std::int32_t count = ParseSignedDecimal(settings.countLimitText);
        if (count < 1) {
            view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgSerialCountNeeded, {}, {}});
            return;
        }
        order = LeaseOrder{serials, shift, count};
    }
    // Disabled here, before the worker runs, so a second click cannot start a second
    // upload; and the image is held from the click on. A block shown from before is no
    // block of this upload: only a lease the worker takes is written.
    view_.SetControlEnabled(DialogControl::Program, false);
    activeLease_.reset();
    uploadTouchedProgram_.store(false);
    uploadCutShort_.store(false);
    uploadRunning_.store(true);
    auto use = std::make_shared<ImageWorkspace::ImageUse>(workspace_);
    workers_.Start([this, kind, use, order] {
        UploadPort& port = *this;
        std::optional<JobLease> lease;
        const auto offerProgram = [this] {
            workers_.OnUiThread(
                [this] { view_.SetControlEnabled(DialogControl::Program, !choicePending_); });
        };
        if (order && !TakeLease(*order, lease)) {
            offerProgram();
            uploadRunning_.store(false);
            return;
        }
        const WorkerOutcome outcome =
            kind == UploadKind::Job ? UploadJob(port) : UploadRemoteJob(port);
        if (lease) SettleLease(*lease, outcome.ok());
        // A verified job, or one refused before anything was sent, is not cut short.
        uploadCutShort_.store(!outcome.ok() && outcome.kind != OutcomeKind::ReadBackFailed &&
                              outcome.kind != OutcomeKind::InputRefused);
        // An upload refused before it began leaves the button to us.
        if (!uploadTouchedProgram_.load()) offerProgram();
        uploadRunning_.store(false);
    });
}

// On the upload's worker: a lease of the order's size for the open programmer, recorded
// before anything is written; the settings the upload reads then carry its block. Says
// why when there is none.
bool MainDialogSession::TakeLease(const LeaseOrder& order, std::optional<JobLease>& taken) {
    std::string error;
    taken = LeaseJob(order.source, order.shift, order.count, link_, workspace_, error);
    if (!taken) {
        Say(MessageIcon::Error, SessionText{kMsgSerialsNotLeased, {}, error});
        return false;
    }
    workers_.OnUiThread([this, product = taken->product, lease = taken->lease] {
        activeLease_ = ShownLease{product, lease};
    });
    return true;
}

// After the upload: a ledger that cannot record how it ended is said.
void MainDialogSession::SettleLease(JobLease& taken, bool stored) {
    std::string error;
    if (!SettleJobLease(taken, stored, error)) {
        Say(MessageIcon::Error, SessionText{kMsgSerialsNotLeased, {}, error});
    }
}

// On the identification's worker, with a product named: what the stored header's block
// has used is recorded, and a block the ledger does not know is said.
void MainDialogSession::ReconcileStoredJob() {
    std::string error;
    const std::optional<StoredJobSighting> sighting = SightStoredJob(serials, link_, error);
    if (!sighting) {
        if (!error.empty()) Say(MessageIcon::Error, SessionText{kMsgSerialsNotLeased, {}, error});
        return;
    }
    const Reconciliation& seen = sighting->seen;
    if (IsConflict(seen.outcome)) {
        Say(MessageIcon::Exclamation, SessionText{kMsgSerialConflict, {}, seen.detail});
        return;
    }
    if (seen.outcome != ReconcileOutcome::Matched || !seen.lease) return;
    SerialProduct product;
    product.shiftStep = sighting->shiftStep;
    workers_.OnUiThread([this, product, lease = *seen.lease] {
        activeLease_ = ShownLease{product, lease};
    });
    const StoredJob stored = link_.storedJob();
    ShowJobDescription(DescribeJob(stored.name, stored.header.data(), link_.programmerVersion()));
}

void MainDialogSession::MakeRemoteFile() {
    // The menu item may still show enabled from before a remote job file was loaded.
    if (!remoteFileOffered_) return;
    const std::uint32_t code = view_.AskRemoteCode();
    if (code == 0) return;
    remoteCode_.store(code);
    auto use = std::make_shared<ImageWorkspace::ImageUse>(workspace_);
    workers_.Start([this, use] {
        // Generations share the scramble buffer: one after the other.
        std::lock_guard<std::mutex> one(generationMutex_);
        RemoteGenerationPort& port = *this;
        GenerateRemoteJobFile(port);
    });
}

void MainDialogSession::DeviceChanged(const DeviceEvent& event) {
    if (workers_.Closed() || lent_) return;
    if (event.kind == DeviceEvent::Kind::Arrival) {
        // While the operator is to choose, an arrival is one more to choose from.
        if (!choicePending_ && OpenProgrammer()) {
            ProgrammerOpened();
        } else if (link_.IsOpen() || choicePending_) {
            // Another programmer is listed; the dialog stays with the one it has.
            ListProgrammers();
        }
        return;
    }
    if (link_.OnRemoval(event.path)) {
        ShowNoProgrammer();
        // Never a silent switch: the job was meant for the one removed, so the others are
        // listed, none chosen, and Program waits until the operator chooses one.
        if (!AttachedProgrammers(backend_).empty()) {
            choicePending_ = true;
            ListProgrammers();
            UpdateProgramButton();
        }
    } else if (link_.IsOpen() || choicePending_) {
        ListProgrammers();
    }
}

// Program is offered for a loaded file, unless the chosen programmer was removed and no
// other has been chosen yet.
void MainDialogSession::UpdateProgramButton() {
    view_.SetControlEnabled(DialogControl::Program, !workspace_.fileName.empty() &&
                                                        !choicePending_ && !uploadRunning_.load());
}

void MainDialogSession::ChooseProgrammer(const std::string& path) {
    if (workers_.Closed() || lent_ || (!link_.IsOpen() && !choicePending_)) return;
    if (path.empty() || (link_.IsOpen() && path == link_.DevicePath())) return;
    // The job being written stays with its programmer; so does the dialog.
    if (uploadRunning_.load()) {
        ListProgrammers();
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgChoiceWhileStoring, {}, {}});
        return;
    }
    FindResult found;
    if (!link_.OpenInstead(path, &found)) {
        ListProgrammers();
        if (found.refusal == Refusal::InUse) {
            view_.ShowText(MessageIcon::Exclamation, SessionText{kProgrammerInUseText, {}, {}});
            return;
        }
        const std::string why = found.refusedReason.empty() ? path : found.refusedReason;
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgChoiceNotOpened, why, {}});
        return;
    }
    // Nothing of the programmer before stays shown while this one is identified.
    ShowNoProgrammer();
    choicePending_ = false;
    UpdateProgramButton();
    ProgrammerOpened();
}

void MainDialogSession::LendProgrammers() {
    if (lent_ || workers_.Closed()) return;
    // The identification of the one in use ends first, so nothing it says follows.
    FinishWorkers(kCloseWaitMs);
    lent_ = true;
    choicePending_ = false;
    link_.Close();
    ShowNoProgrammer();
    view_.SetControlEnabled(DialogControl::Program, false);
}

void MainDialogSession::TakeProgrammersBack() {
    if (!lent_ || workers_.Closed()) return;
    lent_ = false;
    UpdateProgramButton();
    Start();
}

void MainDialogSession::Say(MessageIcon icon, SessionText text) {
    workers_.OnUiThread([this, icon, &text] {
        if (!workers_.Closed()) view_.ShowText(icon, text);
    });
}

void MainDialogSession::SetProgressRange(std::uint32_t maximum) {
    workers_.OnUiThread([this, maximum] {
        view_.SetProgressRange(maximum);
        view_.SetProgressPosition(0);
    });
}

void MainDialogSession::SetProgressPosition(std::uint32_t position) {
    // Once a block: not waited for, and only the newest position is shown.
    progressPosition_.store(position);
    if (workers_.Dispatcher().OnUiThread()) {
        view_.SetProgressPosition(position);
        return;
    }
    if (workers_.Closed() || progressPosted_.exchange(true)) return;
    workers_.Dispatcher().Post([this] {
        progressPosted_.store(false);
        if (!workers_.Closed()) view_.SetProgressPosition(progressPosition_.load());
    });
}

void MainDialogSession::ShowMessage(MessageIcon icon, std::string_view text) {
    workers_.OnUiThread([this, icon, text] {
        if (!workers_.Closed()) view_.ShowMessage(icon, text);
    });
}

void MainDialogSession::HideLockChip() {
    workers_.OnUiThread([this] { view_.HideLockChip(); });
}

void MainDialogSession::SetSeriesList(bool enabled, int selectedIndex) {
    workers_.OnUiThread([this, enabled, selectedIndex] {
        // A loaded remote job file's series stays shown; identification's choice is the
        // user's own, back with the next file.
        if (userSettings_) {
            userSettings_->seriesListEnabled = enabled;
            userSettings_->settings.seriesIndex = selectedIndex;
            return;
        }
        seriesListEnabled_ = enabled;
        view_.SetControlEnabled(DialogControl::SeriesList, enabled);
        view_.SelectSeries(selectedIndex >= 0 && selectedIndex < kSeriesCount ? selectedIndex : -1);
    });
}

void MainDialogSession::ShowJobDescription(const JobDescription& shownRows) {
    workers_.OnUiThread([this, &shownRows] {
        // The options row of a job with a leased block names the block and its use.
        JobDescription rows = shownRows;
        if (activeLease_ && rows.size() > kCodeShiftRow &&
            rows[kCodeShiftRow].value != kRowNotApplicable) {
            rows[kCodeShiftRow].value +=
                " (" + LeaseBlockText(activeLease_->lease, activeLease_->product.shiftStep) + ")";
        }
        view_.ShowJobDescription(rows);
    });
}

void MainDialogSession::SetProgramEnabled(bool enabled) {
    uploadTouchedProgram_.store(true);
    workers_.OnUiThread([this, enabled] {
        view_.SetControlEnabled(DialogControl::Program, enabled && !choicePending_);
    });
}

JobSettings MainDialogSession::CurrentJobSettings() {
    return workers_.OnUiThread([this] {
        JobSettings settings = SettingsOfControls();
        if (activeLease_ && uploadRunning_.load()) {
            ApplyLease(settings, activeLease_->product, activeLease_->lease);
        }
        return settings;
    });
}

JobSettings MainDialogSession::SettingsOfControls() const {
    JobSettings settings = view_.ReadSettings();
    settings.shift = shift;
    return settings;
}

std::vector<std::filesystem::path> MainDialogSession::OutputDirectories() {
    std::vector<std::filesystem::path> directories;
    if (auto own = ProgramDirectory(); !own.empty()) directories.push_back(own);
    // The loaded file cannot change while the generation holds the image.
    if (auto loaded = workspace_.filePath.parent_path(); !loaded.empty()) {
        directories.push_back(loaded);
    }
    return directories;
}

bool MainDialogSession::WorkersRunning() { return workers_.Running(); }

bool MainDialogSession::FinishWorkers(int timeoutMs) { return workers_.Finish(timeoutMs); }

// Closing: no port call blocks or shows anything any more, the link is closed so the next
// exchange fails at once, and the workers get a little time to end.
void MainDialogSession::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    workers_.Close();
    link_.Close();
    // The shelf's links too, before anything waits: no worker finishes behind the close.
    if (shelf_) shelf_->Shutdown();
    FinishWorkers(kCloseWaitMs);
}

MainDialogSession::StoringWork MainDialogSession::Storing() const {
    if (uploadRunning_.load() || (shelf_ && shelf_->Storing())) return StoringWork::Job;
    if (view_.FirmwareBeingStored()) return StoringWork::Firmware;
    return StoringWork::None;
}

bool MainDialogSession::EscapeCloses() const { return Storing() == StoringWork::None; }

// A store cut short leaves a job header that claims the whole image, and the programmer
// shows it as a normal job; so the user decides, and the default is to stay.
bool MainDialogSession::MayClose() {
    if (Storing() == StoringWork::None) return true;
    return view_.AskQuestion(QuestionCaption::System, kMsgCloseWhileStoring, true);
}

void MainDialogSession::Close() {
    const StoringWork cut = Storing();
    const bool shelfStoring = shelf_ && shelf_->Storing();
    Shutdown();
    // Said once the link is closed, so the worker can no longer finish behind the note.
    if (cut == StoringWork::Job &&
        (uploadRunning_.load() || uploadCutShort_.load() || shelfStoring)) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgJobIncomplete, {}, {}});
    } else if (cut == StoringWork::Firmware) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgFirmwareIncomplete, {}, {}});
    }
}
