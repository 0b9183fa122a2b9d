#include "cli/SerialLeases.h"

#include "cli/ExitCodes.h"
#include "remote/RemoteJobFile.h"

JobHeader HeaderOfRecord(const ImageWorkspace& workspace) {
    return JobHeader::Decode(JobHeaderBytesOfRecord(workspace.image.imageBuffer).data());
}

std::optional<JobHeader> StoredHeader(const ProgrammerLink& link) {
    const StoredJob stored = link.storedJob();
    if (stored.header.size() != kJobHeaderSize || stored.header[0] != kJobMarker) return std::nullopt;
    return JobHeader::Decode(stored.header.data());
}

void RefuseSharedSerials(bool shiftOn, const char* what) {
    if (!shiftOn) return;
    throw CliFailure(ExitCode::Usage,
                     std::string(what) +
                         " would write the same serial numbers (code shift) into several "
                         "programmers. Give --product NAME --serials N: each programmer then "
                         "gets a block of N values of its own from the serial ledger, and stops "
                         "after N parts. Nothing was written.");
}
