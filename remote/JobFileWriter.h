#pragma once
#include <cstdint>
#include <string>

#include "common/OutputFile.h"
#include "image/FileLoading.h"
#include "image/FirmwareImage.h"

// Writes the job that the workspace holds as a plain remote job record (as a job read
// back from the programmer is held) into `file`, which the caller created, and commits
// it: Intel HEX or Motorola S-record (S3) at the job's start address, the raw image, or a remote
// job file addressed to `targetCode` with the record's header fields, as `kind` says. A remote job
// file is assembled in the workspace's scramble buffer. Returns false and says why in
// `detail` (also for FileKind::Elf and Unsupported); the target then stays as it was. Never
// throws but for lack of memory.
bool WriteJobFile(ImageWorkspace& workspace, FileKind kind, std::uint32_t targetCode,
                  OutputFile& file, std::string& detail);
