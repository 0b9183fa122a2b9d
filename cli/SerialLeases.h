#pragma once
#include <optional>
#include <string>

#include "image/FirmwareImage.h"
#include "job/JobHeader.h"
#include "link/ProgrammerLink.h"

// The header fields of the job that a loaded remote job record carries (bytes 2..44).
JobHeader HeaderOfRecord(const ImageWorkspace& workspace);

// The header of the job the identification found stored; nullopt when it holds none.
std::optional<JobHeader> StoredHeader(const ProgrammerLink& link);

// Code shift into several programmers without a product of the serial ledger would give
// each of them the same serial numbers: refused before anything is written (usage).
void RefuseSharedSerials(bool shiftOn, const char* what);
