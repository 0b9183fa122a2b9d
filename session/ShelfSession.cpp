#include "session/ShelfSession.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <mutex>

#include "common/NumberText.h"
#include "job/IdentifyProgrammer.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "link/DevicePaths.h"
#include "remote/JobFileWriter.h"
#include "remote/RemoteJobFile.h"
#include "session/JobLease.h"
#include "session/MainDialogTexts.h"
#include "worker/Gang.h"

namespace {

// Rows of the job description a tile takes its facts from.
constexpr std::size_t kNameRow = 0;
constexpr std::size_t kSeriesRow = 1;
constexpr std::size_t kCodeShiftRow = 8;

// What the ledger made of a programmer's stored block, as its tile shows it: the block
// beside the code shift, or what disagrees; neither for a job without a leased block.
struct TileSighting {
    std::string block;
    std::string problem;
};
TileSighting SightingOfTile(const SerialSource& serials, const ProgrammerLink& link) {
    std::string error;
    const std::optional<StoredJobSighting> sighting = SightStoredJob(serials, link, error);
    if (!sighting) {
        if (error.empty()) return {};
        return {{}, ShownText(SessionText{kMsgSerialsNotLeased, {}, error})};
    }
    const Reconciliation& seen = sighting->seen;
    if (IsConflict(seen.outcome))
        return {{}, ShownText(SessionText{kMsgSerialConflict, {}, seen.detail})};
    if (seen.outcome != ReconcileOutcome::Matched || !seen.lease) return {};
    return {LeaseBlockText(*seen.lease, sighting->shiftStep), {}};
}

}  // namespace

const char* TileStateText(TileState state) {
    switch (state) {
        case TileState::Idle:
            return N_("Ожидает");
        case TileState::Storing:
            return N_("Запись");
        case TileState::Verifying:
            return N_("Проверка");
        case TileState::BackingUp:
            return N_("Чтение задания");
        case TileState::HoldsJob:
            return N_("Задание записано");
        case TileState::Differs:
            return N_("Задание отличается");
        case TileState::Failed:
            return N_("Ошибка");
        case TileState::Removed:
            return N_("Отключён");
    }
    return "";
}

// One programmer of the shelf: its own link (a view of the backend that shows it alone),
// image and port. Its workers report here; what the tile shows is posted to the UI thread.
class ShelfSession::Member final : public IdentifyPort,
                                   public UploadPort,
                                   public VerifyPort,
                                   public ReadBackPort {
public:
    Member(ShelfSession& shelf, HidBackend& backend, std::size_t index, std::string path)
        : shelf_(shelf),
          index(index),
          path(std::move(path)),
          only_(OnlyDevicePaths(backend, {this->path})),
          link(*only_) {}

    ShelfSession& shelf_;
    const std::size_t index;
    const std::string path;

private:
    std::unique_ptr<HidBackend> only_;

public:
    ProgrammerLink link;
    ImageWorkspace workspace;
    // Of the running action (its worker only).
    JobSettings settings;
    JobDescription rows;
    std::optional<JobComparison> comparison;
    std::optional<int> fixedSeries;  // an older programmer serves one series
    OperationRecord record;
    std::atomic<bool> removed{false};
    std::atomic<std::uint32_t> progress{0};
    std::atomic<bool> progressPosted{false};

    ProgrammerLink& Link() override { return link; }
    ImageWorkspace& Workspace() override { return workspace; }
    void SetProgressRange(std::uint32_t maximum) override {
        progress.store(0);
        shelf_.UpdateTile(*this, [maximum](ShelfTile& tile) {
            tile.progressMaximum = maximum;
            tile.progress = 0;
        });
    }
    void SetProgressPosition(std::uint32_t position) override {
        // Once a block: only the newest position is shown.
        progress.store(position);
        if (progressPosted.exchange(true)) return;
        shelf_.PostToUi([this] {
            progressPosted.store(false);
            tiles().progress = progress.load();
            shelf_.view_.ShowTile(index, tiles());
        });
    }
    // The outcome carries the message; the tile says it.
    void ShowMessage(MessageIcon, std::string_view) override {}
    void HideLockChip() override {}
    void SetSeriesList(bool enabled, int selectedIndex) override {
        fixedSeries = enabled ? std::nullopt : std::optional<int>(selectedIndex);
    }
    void ShowJobDescription(const JobDescription& shown) override { rows = shown; }
    void SetProgramEnabled(bool) override {}
    JobSettings CurrentJobSettings() override { return settings; }
    void ShowJobComparison(const JobComparison& shown) override { comparison = shown; }

    ShelfTile& tiles() { return shelf_.tiles_[index]; }
};

namespace {

// The tile's job facts from a description of the stored job; none for an erased one.
void TakeDescription(ShelfTile& tile, const JobDescription& rows) {
    if (rows.size() <= kSeriesRow) {
        tile.jobName.clear();
        tile.series.clear();
        tile.codeShift.clear();
        tile.imageCrc.reset();
        return;
    }
    tile.jobName = rows[kNameRow].value;
    tile.series = rows[kSeriesRow].value;
    tile.codeShift = rows.size() > kCodeShiftRow ? rows[kCodeShiftRow].value : std::string();
}

}  // namespace

ShelfSession::ShelfSession(HidBackend& backend, MainDialogSession& main, ShelfView& view,
                           UiDispatcher& dispatcher)
    : backend_(backend), main_(main), view_(view), dispatcher_(dispatcher), workers_(dispatcher) {
    main_.AttachShelf(this);
}

ShelfSession::~ShelfSession() {
    Shutdown();
    FinishWorkers(-1);
    alive_->store(false);
    main_.AttachShelf(nullptr);
}

void ShelfSession::Start() {
    if (opensForSeveral_ && AttachedProgrammers(backend_).size() > 1) {
        Show();
    } else {
        main_.Start();
    }
}

bool ShelfSession::Show() {
    if (shown_ || closed_.load()) return shown_;
    if (main_.UploadRunning()) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgChoiceWhileStoring, {}, {}});
        return false;
    }
    main_.LendProgrammers();
    shown_ = true;
    left_ = false;
    view_.ShowShelf(true);
    const std::vector<HidDeviceInfo> attached = AttachedProgrammers(backend_);
    std::vector<Member*> opened;
    for (const auto& member : members_) {
        const bool present = std::any_of(attached.begin(), attached.end(), [&](const auto& info) {
            return SameDevicePath(info.path, member->path);
        });
        if (!present) {
            member->removed.store(true);
            tiles_[member->index].state = TileState::Removed;
        }
    }
    for (const HidDeviceInfo& info : attached) {
        const auto known = std::find_if(members_.begin(), members_.end(), [&](const auto& member) {
            return SameDevicePath(member->path, info.path);
        });
        Member& member = known == members_.end() ? AddMember(info.path, info.serial) : **known;
        OpenMember(member);
        if (member.link.IsOpen()) opened.push_back(&member);
    }
    ShowAll();
    Identify(opened);
    return true;
}

bool ShelfSession::Leave() {
    if (!shown_) return true;
    if (running_.load()) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgChoiceWhileStoring, {}, {}});
        return false;
    }
    FinishWorkers(kCloseWaitMs);
    for (const auto& member : members_) member->link.Close();
    shown_ = false;
    left_ = true;
    view_.ShowShelf(false);
    main_.TakeProgrammersBack();
    return true;
}

ShelfSession::Member& ShelfSession::AddMember(const std::string& path, const std::string& serial) {
    members_.push_back(std::make_unique<Member>(*this, backend_, members_.size(), path));
    ShelfTile tile;
    tile.path = path;
    tile.serial = serial;
    tiles_.push_back(tile);
    return *members_.back();
}

// Opens the member's programmer, which a tile says when it cannot be had.
void ShelfSession::OpenMember(Member& member) {
    ShelfTile& tile = tiles_[member.index];
    if (member.link.IsOpen()) return;
    FindResult found;
    member.removed.store(false);
    tile.message.clear();
    if (member.link.Open(&found)) {
        tile.state = TileState::Idle;
        tile.serial = member.link.SerialNumber();
        return;
    }
    tile.state = TileState::Failed;
    tile.message = found.refusal == Refusal::InUse ? Tr(kProgrammerInUseText)
                   : found.refusedReason.empty()   ? member.path
                                                   : found.refusedReason;
}

// Every opened programmer is identified as a connection is, all at once; its tile shows
// the stored job.
void ShelfSession::Identify(std::vector<Member*> members) {
    if (members.empty()) return;
    // With a product named, what each stored block has used is recorded, as the single
    // programmer's window does at its connection.
    const SerialSource serials = main_.serials;
    StartWorker([this, members, serials] {
        RunGang(
            members.size(),
            [&](std::size_t k) {
                Member& member = *members[k];
                member.rows.clear();
                const WorkerOutcome outcome = IdentifyProgrammer(member);
                const JobDescription rows = member.rows;
                const TileSighting sighting = outcome.ok() && !serials.product.empty()
                                                  ? SightingOfTile(serials, member.link)
                                                  : TileSighting{};
                UpdateTile(member, [outcome, rows, sighting](ShelfTile& tile) {
                    TakeDescription(tile, rows);
                    if (!outcome.ok()) {
                        tile.state = TileState::Failed;
                        tile.message = outcome.message;
                        return;
                    }
                    if (!sighting.block.empty() && !tile.codeShift.empty())
                        tile.codeShift += " (" + sighting.block + ")";
                    if (!sighting.problem.empty()) tile.message = sighting.problem;
                });
            },
            [](std::size_t, std::exception_ptr) {});
    });
}

void ShelfSession::DeviceChanged(const DeviceEvent& event) {
    if (closed_.load()) return;
    if (!shown_) {
        main_.DeviceChanged(event);
        const std::size_t attached = AttachedProgrammers(backend_).size();
        if (attached <= 1) left_ = false;
        if (event.kind == DeviceEvent::Kind::Arrival && attached > 1 && !left_ &&
            opensForSeveral_) {
            Show();
        }
        return;
    }
    const auto known = std::find_if(members_.begin(), members_.end(), [&](const auto& member) {
        return SameDevicePath(member->path, event.path);
    });
    if (event.kind == DeviceEvent::Kind::Removal) {
        if (known == members_.end()) return;
        Member& member = **known;
        // Its worker fails at its next exchange with that step's message; the others go on.
        member.removed.store(true);
        member.link.OnRemoval(event.path);
        ShelfTile& tile = tiles_[member.index];
        tile.state = TileState::Removed;
        view_.ShowTile(member.index, tile);
        return;
    }
    for (const HidDeviceInfo& info : AttachedProgrammers(backend_)) {
        if (!SameDevicePath(info.path, event.path)) continue;
        const bool added = known == members_.end();
        Member& member = added ? AddMember(info.path, info.serial) : **known;
        OpenMember(member);
        if (added) {
            ShowAll();
        } else {
            view_.ShowTile(member.index, tiles_[member.index]);
        }
        if (member.link.IsOpen()) Identify({&member});
        return;
    }
}

void ShelfSession::SetTicked(std::size_t tile, bool ticked) {
    if (tile >= tiles_.size()) return;
    tiles_[tile].ticked = ticked;
    view_.ShowTile(tile, tiles_[tile]);
}

std::vector<ShelfSession::Member*> ShelfSession::Ticked() {
    std::vector<Member*> chosen;
    for (const auto& member : members_) {
        if (tiles_[member->index].ticked && member->link.IsOpen() && !member->removed.load()) {
            chosen.push_back(member.get());
        }
    }
    return chosen;
}

void ShelfSession::StoreIntoAll() {
    if (!shown_ || running_.load() || closed_.load()) return;
    const ImageWorkspace& loaded = main_.Workspace();
    const UploadKind kind = UploadKindOf(loaded.fileName);
    if (kind == UploadKind::None) return;
    const JobSettings settings = main_.SettingsOfControls();
    if (kind == UploadKind::Job && settings.seriesIndex < 0) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgSeriesNotSelected, {}, {}});
        return;
    }
    // Each programmer gets a block of its own from the ledger, or the same values when
    // code shift is off; never the same serial numbers in two programmers.
    const SerialSource serials = main_.serials;
    const bool leasing = kind == UploadKind::Job && !serials.product.empty();
    const bool shiftOn =
        kind == UploadKind::Job
            ? (settings.shift.shiftEnabled & 1) != 0
            : (JobHeader::Decode(JobHeaderBytesOfRecord(loaded.image.imageBuffer).data())
                   .shiftEnabled &
               1) != 0;
    std::int32_t count = 0;
    if (leasing) {
        count = ParseSignedDecimal(settings.countLimitText);
        if (count < 1) {
            view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgSerialCountNeeded, {}, {}});
            return;
        }
    } else if (shiftOn) {
        view_.ShowText(MessageIcon::Exclamation, SessionText{kMsgShelfSharedSerials, {}, {}});
        return;
    }
    const JobFacts job =
        LoadedJobFacts(loaded, kind == UploadKind::RemoteJob ? FileKind::RemoteJob : FileKind::Hex);
    RunAction(
        Action::Store, Ticked(),
        [this, kind, settings, job, leasing, serials, count](Member& member) {
            member.workspace.CopyLoaded(main_.Workspace());
            member.record.job = job;
            member.settings = settings;
            // An older programmer serves its own series only, as its series list is fixed.
            if (kind == UploadKind::Job && member.fixedSeries)
                member.settings.seriesIndex = *member.fixedSeries;
            std::optional<JobLease> lease;
            if (leasing) {
                std::string error;
                lease =
                    LeaseJob(serials, settings.shift, count, member.link, member.workspace, error);
                if (!lease) {
                    return Ending{ExitCode::LedgerFailed, Tr(kMsgSerialsNotLeased), error,
                                  TileState::Failed};
                }
                ApplyLease(member.settings, lease->product, lease->lease);
                member.record.lease = LeaseFacts{lease->lease.product, lease->lease.firstValue,
                                                 lease->lease.count, 0};
            }
            const WorkerOutcome outcome =
                kind == UploadKind::Job ? UploadJob(member) : UploadRemoteJob(member);
            std::string settleError;
            if (lease && !SettleJobLease(*lease, outcome.ok(), settleError) && outcome.ok()) {
                return Ending{ExitCode::LedgerFailed, Tr(kMsgSerialsNotLeased), settleError,
                              TileState::Failed};
            }
            const JobDescription rows = member.rows;
            const std::string block =
                lease ? LeaseBlockText(lease->lease, lease->product.shiftStep) : std::string();
            const bool stored = outcome.ok() || outcome.kind == OutcomeKind::ReadBackFailed;
            UpdateTile(member, [rows, block, stored, job](ShelfTile& tile) {
                if (!rows.empty()) TakeDescription(tile, rows);
                if (!block.empty() && !tile.codeShift.empty()) tile.codeShift += " (" + block + ")";
                tile.imageCrc = stored ? job.wordCrc32 : std::nullopt;
            });
            return Ending{ExitCodeOf(outcome.kind), outcome.message, outcome.detail,
                          outcome.ok() ? TileState::HoldsJob : TileState::Failed};
        });
}

void ShelfSession::VerifyAll() {
    if (!shown_ || running_.load() || closed_.load()) return;
    const ImageWorkspace& loaded = main_.Workspace();
    const UploadKind kind = UploadKindOf(loaded.fileName);
    if (kind == UploadKind::None) return;
    const JobFacts job =
        LoadedJobFacts(loaded, kind == UploadKind::RemoteJob ? FileKind::RemoteJob : FileKind::Hex);
    RunAction(Action::Verify, Ticked(), [this, job](Member& member) {
        member.workspace.CopyLoaded(main_.Workspace());
        member.record.job = job;
        member.comparison.reset();
        const WorkerOutcome outcome = VerifyJob(member);
        const std::optional<JobComparison> comparison = member.comparison;
        UpdateTile(member, [comparison](ShelfTile& tile) {
            if (comparison && comparison->state == StoredJobState::Stored) {
                tile.imageCrc = comparison->stored.crc;
            }
        });
        const TileState state = outcome.ok()                                  ? TileState::HoldsJob
                                : outcome.kind == OutcomeKind::VerifyMismatch ? TileState::Differs
                                                                              : TileState::Failed;
        return Ending{ExitCodeOf(outcome.kind), outcome.message, outcome.detail, state};
    });
}

void ShelfSession::BackUp(std::size_t tile, const std::filesystem::path& file,
                          const std::string& shown) {
    if (!shown_ || running_.load() || closed_.load() || tile >= members_.size()) return;
    Member& member = *members_[tile];
    if (!member.link.IsOpen() || member.removed.load()) return;
    const FileKind kind = FileKindOf(ExtensionOfChosenFile(file.filename().string()));
    auto out = std::make_shared<OutputFile>();
    std::string error;
    if (kind == FileKind::Unsupported || !out->Create(file, error)) {
        view_.ShowText(MessageIcon::Error,
                       SessionText{kMsgBackupNotWritten, shown,
                                   error.empty() ? std::optional<std::string>(AcceptedFormatsNote())
                                                 : std::optional<std::string>(error)});
        return;
    }
    RunAction(Action::BackUp, {&member}, [kind, out, shown](Member& member) {
        member.record.job = StoredJobFacts(member.link);
        const WorkerOutcome outcome = ReadStoredJob(member);
        if (!outcome.ok()) {
            return Ending{ExitCodeOf(outcome.kind), outcome.message, outcome.detail,
                          TileState::Failed};
        }
        // The job as read back and checked, its checksum included.
        member.record.job = LoadedJobFacts(member.workspace, FileKind::RemoteJob);
        std::string error;
        // A remote job file of the back-up is for this programmer itself.
        if (!WriteJobFile(member.workspace, kind, member.link.connectionCode(), *out, error)) {
            std::string message = Tr(kMsgBackupNotWritten);
            message.replace(message.find("%1"), 2, shown);
            return Ending{ExitCode::FileRefused, message, error, TileState::Failed};
        }
        const std::optional<std::uint32_t> crc = member.record.job->wordCrc32;
        const JobDescription rows = member.rows;
        member.shelf_.UpdateTile(member, [rows, crc](ShelfTile& tile) {
            TakeDescription(tile, rows);
            tile.imageCrc = crc;
        });
        return Ending{ExitCode::Success, outcome.message, {}, TileState::HoldsJob};
    });
}

bool ShelfSession::ChooseLogFile(const std::filesystem::path& file, const std::string& shown) {
    if (running_.load()) return false;
    auto log = std::make_unique<ProductionLogFile>();
    std::string error;
    if (!log->Open(file, error)) {
        view_.ShowText(MessageIcon::Error, SessionText{kMsgLogNotOpened, shown, error});
        return false;
    }
    logFile_ = std::move(log);
    return true;
}

void ShelfSession::RunAction(Action action, std::vector<Member*> chosen,
                             std::function<Ending(Member&)> work) {
    if (chosen.empty()) return;
    // An identification still running ends first: its programmer's facts are the action's.
    FinishWorkers(-1);
    running_.store(true);
    action_.store(action);
    // The loaded file stays as it is until every programmer has its copy back.
    imageHeld_ = std::make_unique<ImageWorkspace::ImageUse>(main_.Workspace());
    view_.SetShelfRunning(true);
    const TileState busy = action == Action::Store    ? TileState::Storing
                           : action == Action::Verify ? TileState::Verifying
                                                      : TileState::BackingUp;
    static constexpr const char* kOperations[] = {"", "program", "verify", "read-job"};
    for (Member* member : chosen) {
        ShelfTile& tile = tiles_[member->index];
        tile.state = busy;
        tile.message.clear();
        tile.progress = 0;
        tile.progressMaximum = 0;
        view_.ShowTile(member->index, tile);
        member->record = OperationRecord{};
        member->record.operation = kOperations[static_cast<int>(action)];
        member->record.Take(member->link, member->link.programmerVersion() != 0);
    }
    StartWorker([this, action, chosen, work = std::move(work)] {
        std::vector<Ending> endings(chosen.size());
        RunGang(
            chosen.size(), [&](std::size_t k) { endings[k] = work(*chosen[k]); },
            [&](std::size_t k, std::exception_ptr failure) {
                if (failure) {
                    endings[k] =
                        Ending{ExitCode::Internal, "internal error", {}, TileState::Failed};
                    try {
                        std::rethrow_exception(failure);
                    } catch (const std::exception& e) {
                        endings[k].message += std::string(": ") + e.what();
                    } catch (...) {}
                }
                Finish(*chosen[k], action, endings[k]);
            });
        PostToUi([this] {
            imageHeld_.reset();
            running_.store(false);
            action_.store(Action::None);
            view_.SetShelfRunning(false);
        });
    });
}

// On the member's thread, one member at a time, in the order they end: logged first, then shown, so a
// programmer shown done is in the log.
void ShelfSession::Finish(Member& member, Action action, const Ending& ending) {
    const std::string time = ProductionLogTime();
    const std::string line =
        ProductionLogLine(member.record, ending.code, ending.message, ending.detail, time);
    if (logFile_) logFile_->Append(line, member.record.path);
    ShelfLogLine shown{time, member.record.serial, ExitCodeName(ending.code), ending.message, line};
    PostToUi([this, &member, action, ending, shown] {
        ShelfTile& tile = tiles_[member.index];
        // A removal said before or after the failure it caused marks the tile alike.
        tile.state = member.removed.load() ? TileState::Removed : ending.state;
        tile.message = ending.message;
        if (ending.code != ExitCode::Success) {
            ++counters_.failed;
        } else if (action == Action::Store) {
            ++counters_.stored;
        } else if (action == Action::Verify) {
            ++counters_.verified;
        }
        view_.ShowTile(member.index, tile);
        view_.ShowCounters(counters_);
        view_.AddLogLine(shown);
    });
}

void ShelfSession::UpdateTile(Member& member, const std::function<void(ShelfTile&)>& change) {
    PostToUi([this, &member, change] {
        change(tiles_[member.index]);
        view_.ShowTile(member.index, tiles_[member.index]);
    });
}

void ShelfSession::ShowAll() {
    view_.ShowTiles(tiles_);
    view_.ShowCounters(counters_);
}

void ShelfSession::PostToUi(std::function<void()> f) {
    auto run = [this, alive = alive_, f = std::move(f)] {
        if (alive->load() && !closed_.load()) f();
    };
    if (dispatcher_.OnUiThread()) {
        run();
    } else {
        dispatcher_.Post(std::move(run));
    }
}

bool ShelfSession::Storing() const { return running_.load() && action_.load() == Action::Store; }

void ShelfSession::Shutdown() {
    if (closed_.exchange(true)) return;
    for (const auto& member : members_) member->link.Close();
    FinishWorkers(kCloseWaitMs);
}

void ShelfSession::StartWorker(std::function<void()> body) { workers_.Start(std::move(body)); }

bool ShelfSession::FinishWorkers(int timeoutMs) {
    const bool done = workers_.Finish(timeoutMs);
    // What the last of them posted is shown before the caller looks.
    if (done && !closed_.load()) dispatcher_.ServePending(0);
    return done;
}
