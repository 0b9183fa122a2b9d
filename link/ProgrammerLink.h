#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Translation.h"
#include "link/HidBackend.h"
#include "link/HidReport.h"

// Why a programmer that is present was not opened.
enum class Refusal {
    None,
    AccessDenied,  // the system refused this user the device (its access rights)
    OpenFailed,    // opening it failed otherwise (it vanished, a query of it failed)
    Unsuitable,    // its output report is longer than the 65-byte report
    InUse,         // another program has it open
};

// Said when the programmer is held by another program; nothing is sent to it.
inline constexpr const char* kProgrammerInUseText = N_("Программатор занят другой программой");

// What a programmer search found.
struct FindResult {
    std::unique_ptr<HidDevice> device;  // the opened programmer, or nullptr
    std::string path;                   // its interface path
    std::string serial;                 // its USB serial number, when it names one
    // The first programmer that is present but was not opened: its path, why, and the
    // reason in the platform's words.
    std::string refusedPath;
    Refusal refusal = Refusal::None;
    std::string refusedReason;
};

// Searches the present HID interfaces for the programmer and opens the first match in
// enumeration order; every other device opened on the way is closed again. Inactive
// interfaces are skipped. Never throws.
FindResult FindProgrammer(HidBackend& backend);

// Every attached programmer: the active interfaces with the programmer's ids, in
// enumeration order. Where the platform names the ids only after opening, each device is
// opened to ask and closed again, and one that cannot be opened is not listed. Never throws.
std::vector<HidDeviceInfo> AttachedProgrammers(HidBackend& backend);

// Bounds of one exchange's read. Every answer may take answerMs; an erase or a checksum
// may take longer in proportion to the length of its range, so that a healthy programmer
// at its slowest is never cut off and one that never answers still ends the worker soon.
struct LinkTimeouts {
    int answerMs = 3000;
    int eraseMsPerKiB = 40;    // EraseStorage, EraseFirmware: flash erased page by page
    int checksumMsPerKiB = 4;  // StorageCrc, FirmwareCrc: the programmer reads it all
};

// The time-out of the answer to `request`: answerMs, plus for an erase or a checksum its
// allowance per KiB times the request's length in KiB (rounded up). At most INT_MAX.
int AnswerTimeoutMs(const LinkTimeouts& timeouts, const HidReport& request);

enum class ExchangeResult { Ok, WriteFailed, ReadFailed };

// The job that identification found stored in the programmer.
struct StoredJob {
    // The 45 header bytes as read back (from the first place, or from the second when the
    // first held no header); empty until identified. Valid only with the marker 0xAA.
    std::vector<std::uint8_t> header;
    std::string name;
};

// Observes every report written ('>') and read ('<'), in full.
using ReportTrace =
    std::function<void(char direction, const std::uint8_t* bytes, std::size_t size)>;

// The open connection to the programmer and what identification learnt about it.
// Opening, arrival and removal run on the owner's thread; exchanges on workers, at most
// one worker at a time, which the link enforces (Session).
class ProgrammerLink {
public:
    explicit ProgrammerLink(HidBackend& backend);
    ~ProgrammerLink();
    ProgrammerLink(const ProgrammerLink&) = delete;
    ProgrammerLink& operator=(const ProgrammerLink&) = delete;

    // Searches and opens the programmer when none is open; on success a new connection
    // code is made. Returns true when a programmer is open afterwards because of this
    // call. `result` (optional) receives why nothing was opened.
    bool Open(FindResult* result = nullptr);

    // Opens the programmer at `path` (as AttachedProgrammers names it) in place of the
    // open one: a new connection code, and programmerVersion is 0 until it is identified.
    // A worker still on the one before fails its next exchange. When it cannot be opened,
    // nothing changes and false is returned; `result` (optional) says why.
    bool OpenInstead(const std::string& path, FindResult* result = nullptr);

    // A HID interface arrived: a full search, only when no programmer is open. Returns
    // true when a programmer was opened (then identify it).
    bool OnArrival();

    // A HID interface was removed: when `path` equals devicePath ignoring case and a
    // programmer is open, closes it, programmerVersion and connectionCode become 0, and
    // returns true (then empty the device and job lists and enable the series list).
    bool OnRemoval(std::string_view path);

    // Closes the programmer (the window closes). A worker inside an exchange keeps the
    // device until that exchange ends; its next exchange fails.
    void Close();

    bool IsOpen() const;
    std::string DevicePath() const;
    // The USB serial number of the open programmer; empty when it names none.
    std::string SerialNumber() const;

    std::uint32_t programmerVersion() const { return programmerVersion_.load(); }
    std::uint32_t firmwareVersion() const { return firmwareVersion_.load(); }
    std::uint32_t connectionCode() const { return connectionCode_.load(); }
    void SetProgrammerVersion(std::uint32_t v) { programmerVersion_.store(v); }
    void SetFirmwareVersion(std::uint32_t v) { firmwareVersion_.store(v); }
    StoredJob storedJob() const;
    void SetStoredJob(StoredJob job);

    // Connection codes: the calendar time seeds them unless a test sets a generator.
    void SetConnectionCodeSource(std::function<std::uint32_t()> source);

    void SetTimeouts(const LinkTimeouts& timeouts);
    LinkTimeouts Timeouts() const;
    void SetTrace(ReportTrace trace);
    // Once `*stop` is set, every exchange fails at once, before its request is written:
    // a face stops its workers between two exchanges by setting a flag (a signal's only
    // safe act). nullptr: never stopped.
    void SetStopFlag(const std::atomic<bool>* stop) { stop_.store(stop); }

    // A worker's exclusive use of the link for its whole sequence of exchanges.
    class Session {
    public:
        ~Session();
        Session(Session&&) noexcept;
        Session& operator=(Session&&) = delete;
        Session(const Session&) = delete;

        // Writes the request (output report length bytes), then reads the answer into
        // the same buffer. Fails at once when no programmer is open or it was removed
        // since the session began; a read that gets no answer in time fails as a read.
        ExchangeResult Exchange(HidReport& report);

        // What the last failure was ("write: ...", "read: time-out after 3000 ms").
        const std::string& LastError() const { return lastError_; }

        // Whether this session's exchanges reach a programmer that is not the simulated
        // one. Fixed when the session begins: another device opened later is never
        // reached by it.
        bool ReachesHardware() const { return reachesHardware_; }

    private:
        friend class ProgrammerLink;
        Session(ProgrammerLink& link, std::unique_lock<std::mutex> hold, std::uint64_t generation,
                bool reachesHardware);
        ProgrammerLink* link_;
        std::unique_lock<std::mutex> hold_;
        std::uint64_t generation_;
        bool reachesHardware_;
        std::string lastError_;
    };

    // Waits until no other worker uses the link, then hands it over.
    Session Acquire();

private:
    void Install(FindResult& found);

    HidBackend& backend_;
    mutable std::mutex
        stateMutex_;  // guards device_, devicePath_, serialNumber_, storedJob_, generation_
    std::shared_ptr<HidDevice> device_;
    std::string devicePath_;
    std::string serialNumber_;
    StoredJob storedJob_;
    std::uint64_t generation_ = 0;
    std::mutex workerMutex_;  // one worker on the link at a time
    // A read that timed out may still get its answer later; it must not be taken for the
    // answer of the next request.
    std::atomic<bool> lateAnswerPossible_{false};
    std::atomic<const std::atomic<bool>*> stop_{nullptr};
    std::atomic<std::uint32_t> programmerVersion_{0};
    std::atomic<std::uint32_t> firmwareVersion_{0};
    std::atomic<std::uint32_t> connectionCode_{0};
    std::function<std::uint32_t()> codeSource_;
    LinkTimeouts timeouts_;
    ReportTrace trace_;
};
