#include "remote/JobFileWriter.h"

#include <cstring>
#include <vector>

#include "common/LittleEndian.h"
#include "image/ElfWriter.h"
#include "image/HexWriter.h"
#include "remote/RemoteJobFile.h"

namespace {

bool WriteAndCommit(OutputFile& file, const void* bytes, std::size_t size, std::string& detail) {
    if (file.Write(bytes, size, detail) && file.Commit(detail)) return true;
    file.Discard();
    return false;
}

}  // namespace

bool WriteJobFile(ImageWorkspace& workspace, FileKind kind, std::uint32_t targetCode,
                  OutputFile& file, std::string& detail) {
    const std::uint8_t* record = workspace.image.imageBuffer;
    const std::uint32_t start = ReadLe32(record + kRemoteJobStartOffset);
    const std::uint32_t length = ReadLe32(record + kRemoteLengthOffset);
    const std::uint8_t* image = record + kRemotePrefixSize;
    switch (kind) {
        case FileKind::Hex: {
            const std::string text = HexTextOf(image, length, start);
            return WriteAndCommit(file, text.data(), text.size(), detail);
        }
        case FileKind::Srec: {
            const std::string text = SrecTextOf(image, length, start);
            return WriteAndCommit(file, text.data(), text.size(), detail);
        }
        case FileKind::RawBinary:
            return WriteAndCommit(file, image, length, detail);
        case FileKind::RemoteJob: {
            const std::size_t recordLength = kRemotePrefixSize + length;
            std::uint8_t* bytes = workspace.scrambleBuffer();
            std::memcpy(bytes, record, recordLength);
            WriteLe32(bytes + kRemoteTargetCodeOffset, targetCode);
            const std::size_t fileLength = SealRemoteJobFile(bytes, recordLength);
            return WriteAndCommit(file, bytes, fileLength, detail);
        }
        case FileKind::Elf: {
            std::vector<std::uint8_t> elf;
            if (!ElfFileOf(image, length, start, elf, detail)) break;
            return WriteAndCommit(file, elf.data(), elf.size(), detail);
        }
        case FileKind::Unsupported:
            file.Discard();
            detail = std::string("the file type is none of those ") + AcceptedFormatsNote();
            return false;
    }
    file.Discard();
    return false;
}
