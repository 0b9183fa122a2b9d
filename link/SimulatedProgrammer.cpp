#include "link/SimulatedProgrammer.h"

#include <algorithm>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"

namespace {

constexpr std::uint32_t kFirmwareAreaEnd = kFirmwareAreaAddress + kFirmwareAreaSize;
static_assert(kFirmwareAreaEnd == kSimFlashAddress + kSimFlashSize);
constexpr std::uint32_t kFirmwareVersionOffset = kFirmwareVersionAddress - kFirmwareAreaAddress;

constexpr std::uint8_t kStatusDone = 0;
constexpr std::uint8_t kStatusRefused = 1;

// Whether [address, address + length) lies inside [base, base + size), without overflow.
bool RangeInside(std::uint32_t address, std::uint64_t length, std::uint32_t base,
                 std::uint32_t size) {
    return address >= base && std::uint64_t{address} - base + length <= size;
}

}  // namespace

SimulatedProgrammer::SimulatedProgrammer(const SimulatorConfig& config)
    : config_(config), storage_(kStorageSize, 0xFF), flash_(kSimFlashSize, 0xFF) {
    // An installed firmware of the right form: stack at the top of SRAM, reset handler
    // inside the area, and the version word where identification reads it.
    std::uint8_t* area = flash_.data() + (kFirmwareAreaAddress - kSimFlashAddress);
    WriteLe32(area, kSimSramAddress + kSimSramSize);
    WriteLe32(area + 4, kFirmwareAreaAddress + 0x101);
    WriteLe32(area + kFirmwareVersionOffset, config_.firmwareVersion);
}

void SimulatedProgrammer::AddFault(const Fault& fault) { faults_.push_back(fault); }

std::uint32_t SimulatedProgrammer::FirmwareWord() const {
    return ReadLe32(flash_.data() + (kFirmwareVersionAddress - kSimFlashAddress));
}

SimulatedProgrammer::Response SimulatedProgrammer::Handle(const std::uint8_t* request,
                                                          std::size_t length) {
    requests_.emplace_back(request, request + length);

    // The device sees a whole report; fields beyond what was sent read as zero.
    std::uint8_t frame[kReportSize] = {};
    const std::size_t received = std::min(length, kReportSize);
    std::copy(request, request + received, frame);
    const std::uint8_t code = frame[1];
    const std::uint32_t address = ReadLe32(&frame[2]);
    const std::uint32_t count = ReadLe32(&frame[6]);
    const std::uint8_t* data = &frame[kReportDataOffset];
    const std::size_t dataReceived =
        received > kReportDataOffset ? received - kReportDataOffset : 0;

    const int occurrence = ++commandCounts_[code];
    std::optional<FaultKind> fault;
    for (const Fault& f : faults_) {
        if (static_cast<std::uint8_t>(f.command) == code && f.occurrence == occurrence) {
            fault = f.kind;
            break;
        }
    }

    Response response;
    response.answerAfterUs = AnswerDelayUs(code, count);
    if (fault == FaultKind::Write) {
        response.writeFails = true;
        return response;
    }
    if (fault == FaultKind::Unplug) {
        response.writeFails = true;
        response.unplug = true;
        return response;
    }
    if (fault == FaultKind::Hang) {
        response.hang = true;
        return response;
    }

    std::vector<std::uint8_t>& answer = response.answer;
    answer.assign(kReportSize, 0);
    std::uint8_t* out = &answer[1];
    if (fault == FaultKind::Status) {
        out[0] = kStatusRefused;
        return response;
    }

    const bool newer = IsNewerKind();
    auto status = [&](bool done) { out[0] = done ? kStatusDone : kStatusRefused; };
    auto word = [&](std::uint32_t value) { WriteLe32(out, value); };

    switch (code) {
        case static_cast<std::uint8_t>(Command::EraseStorage): {
            const bool fits = RangeInside(address, count, 0, kStorageSize);
            if (fits) std::fill_n(storage_.begin() + address, count, 0xFF);
            status(fits);
            break;
        }
        case static_cast<std::uint8_t>(Command::WriteStorage): {
            const bool fits = count <= std::min(kMaxWriteData, dataReceived) &&
                              RangeInside(address, count, 0, kStorageSize);
            // Flash can only clear bits: a write over unerased bytes keeps their zeros.
            if (fits) {
                for (std::uint32_t i = 0; i < count; ++i) storage_[address + i] &= data[i];
            }
            status(fits);
            break;
        }
        case static_cast<std::uint8_t>(Command::ReadStorage): {
            const std::uint32_t n = std::min<std::uint32_t>(count, kMaxReadData);
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint64_t at = std::uint64_t{address} + i;
                out[i] = at < kStorageSize ? storage_[at] : 0;
            }
            break;
        }
        case static_cast<std::uint8_t>(Command::StorageCrc):
            // A range beyond the storage has no checksum; the answer carries no status.
            if (RangeInside(address, count, 0, kStorageSize)) {
                word(WordCrc32(storage_.data() + address, count / 4));
            }
            break;
        case static_cast<std::uint8_t>(Command::QueryVersion):
            word(config_.programmerVersion);
            break;
        case static_cast<std::uint8_t>(Command::ReadProgrammerWord):
            if (newer) {
                for (std::uint32_t i = 0; i < 4; ++i) {
                    const std::uint64_t at = std::uint64_t{address} + i;
                    out[i] = at >= kSimFlashAddress && at < kFirmwareAreaEnd
                                 ? flash_[at - kSimFlashAddress]
                                 : 0;
                }
            }
            break;
        case static_cast<std::uint8_t>(Command::EraseFirmware): {
            const bool done = newer && address == kFirmwareAreaAddress && count % 4 == 0 &&
                              count <= kFirmwareAreaSize;
            if (done) {
                std::fill_n(flash_.begin() + (kFirmwareAreaAddress - kSimFlashAddress), count,
                            0xFF);
                firmwareEraseLength_ = count;
            }
            status(done);
            break;
        }
        case static_cast<std::uint8_t>(Command::WriteFirmware):
            status(newer && WriteFirmwareBlock(address, count, data, dataReceived));
            break;
        case static_cast<std::uint8_t>(Command::FirmwareCrc):
            if (newer && RangeInside(address, count, kSimFlashAddress, kSimFlashSize)) {
                word(WordCrc32(flash_.data() + (address - kSimFlashAddress), count / 4));
            }
            break;
        default:
            out[0] = kStatusRefused;
            break;
    }

    if (fault == FaultKind::Crc) word(ReadLe32(out) + 1);
    if (fault == FaultKind::Read) response.readFails = true;  // done, but the answer is lost
    return response;
}

std::uint64_t SimulatedProgrammer::AnswerDelayUs(std::uint8_t code, std::uint32_t count) const {
    std::uint64_t perKiB = 0;
    switch (static_cast<Command>(code)) {
        case Command::EraseStorage:
        case Command::EraseFirmware:
            perKiB = config_.eraseUsPerKiB;
            break;
        case Command::StorageCrc:
        case Command::FirmwareCrc:
            perKiB = config_.checksumUsPerKiB;
            break;
        default:
            break;
    }
    return config_.exchangeLatencyUs + std::uint64_t{count} * perKiB / 1024;
}

bool SimulatedProgrammer::WriteFirmwareBlock(std::uint32_t address, std::uint32_t count,
                                             const std::uint8_t* data, std::size_t dataReceived) {
    if (address < kFirmwareAreaAddress || count > std::min(kMaxWriteData, dataReceived)) {
        return false;
    }
    const std::uint32_t offset = address - kFirmwareAreaAddress;
    if (offset >= firmwareEraseLength_) return false;  // nothing of it lies in the erased range

    if (offset == 0) {
        // The programmer starts only an image of the right form; it refuses anything else
        // before it touches the area.
        if (count < 8 || firmwareEraseLength_ < 8) return false;
        const std::uint32_t stack = ReadLe32(data);
        const std::uint32_t reset = ReadLe32(data + 4);
        const std::uint32_t entry = reset & ~1u;
        const bool stackOk = stack >= kSimSramAddress && stack - kSimSramAddress <= kSimSramSize;
        const bool resetOk = (reset & 1u) != 0 && entry >= kFirmwareAreaAddress &&
                             entry - kFirmwareAreaAddress < firmwareEraseLength_;
        if (!stackOk || !resetOk) return false;
    }
    std::uint8_t* area = flash_.data() + (kFirmwareAreaAddress - kSimFlashAddress);
    const std::uint32_t n = std::min(count, firmwareEraseLength_ - offset);
    for (std::uint32_t i = 0; i < n; ++i) area[offset + i] &= data[i];
    return true;
}
