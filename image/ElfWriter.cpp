#include "image/ElfWriter.h"

#include <gelf.h>
#include <libelf.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

#include "common/TextFormat.h"

namespace {

// Section names: index 0 is the empty name.
constexpr char kSectionNames[] = "\0.data\0.shstrtab";
constexpr std::size_t kDataName = 1;
constexpr std::size_t kNamesName = 7;

struct ScratchFile {
    std::FILE* file = std::tmpfile();
    ~ScratchFile() {
        if (file) std::fclose(file);
    }
};

struct ElfCloser {
    Elf* elf;
    ~ElfCloser() { elf_end(elf); }
};

bool Failed(std::string& detail, const char* call) {
    detail = Format("%s: %s", call, elf_errmsg(-1));
    return false;
}

// A new section holding `size` bytes at `bytes` (which libelf reads only when it writes
// the file); its header, for the caller to fill in beyond name and alignment, or nullptr
// with `detail` set.
Elf32_Shdr* AddSection(Elf* elf, std::size_t name, const void* bytes, std::size_t size,
                       std::size_t align, std::string& detail) {
    Elf_Scn* const section = elf_newscn(elf);
    if (section == nullptr) return Failed(detail, "elf_newscn"), nullptr;
    Elf_Data* const data = elf_newdata(section);
    if (data == nullptr) return Failed(detail, "elf_newdata"), nullptr;
    data->d_buf = const_cast<void*>(bytes);
    data->d_size = size;
    data->d_type = ELF_T_BYTE;
    data->d_align = align;
    data->d_version = EV_CURRENT;
    Elf32_Shdr* const header = elf32_getshdr(section);
    if (header == nullptr) return Failed(detail, "elf32_getshdr"), nullptr;
    header->sh_name = static_cast<Elf32_Word>(name);
    header->sh_addralign = static_cast<Elf32_Word>(align);
    return header;
}

}  // namespace

bool ElfFileOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start,
               std::vector<std::uint8_t>& file, std::string& detail) {
    static std::once_flag versionSet;
    std::call_once(versionSet, [] { elf_version(EV_CURRENT); });
    // libelf writes to a file descriptor: a scratch file, read back whole.
    const ScratchFile scratch;
    if (scratch.file == nullptr) {
        detail = Format("tmpfile: %s", std::strerror(errno));
        return false;
    }
    {
        Elf* const elf = elf_begin(fileno(scratch.file), ELF_C_WRITE, nullptr);
        if (elf == nullptr) return Failed(detail, "elf_begin");
        const ElfCloser closer{elf};
        Elf32_Ehdr* const header = elf32_newehdr(elf);
        if (header == nullptr) return Failed(detail, "elf32_newehdr");
        header->e_ident[EI_DATA] = ELFDATA2LSB;
        header->e_type = ET_EXEC;
        header->e_machine = EM_ARM;
        header->e_version = EV_CURRENT;
        header->e_entry = start;
        header->e_flags = EF_ARM_EABI_VER5;
        Elf32_Phdr* const segment = elf32_newphdr(elf, 1);
        if (segment == nullptr) return Failed(detail, "elf32_newphdr");

        Elf32_Shdr* const sectionHeader = AddSection(elf, kDataName, bytes, length, 4, detail);
        if (sectionHeader == nullptr) return false;
        sectionHeader->sh_type = SHT_PROGBITS;
        sectionHeader->sh_flags = SHF_ALLOC | SHF_WRITE | SHF_EXECINSTR;
        sectionHeader->sh_addr = start;

        Elf32_Shdr* const namesHeader =
            AddSection(elf, kNamesName, kSectionNames, sizeof kSectionNames, 1, detail);
        if (namesHeader == nullptr) return false;
        namesHeader->sh_type = SHT_STRTAB;
        // libelf put the null section before the first: the names are section 2.
        header->e_shstrndx = 2;

        // The layout first: the segment covers the section where libelf placed it.
        if (elf_update(elf, ELF_C_NULL) < 0) return Failed(detail, "elf_update");
        segment->p_type = PT_LOAD;
        segment->p_offset = sectionHeader->sh_offset;
        segment->p_vaddr = start;
        segment->p_paddr = start;
        segment->p_filesz = static_cast<Elf32_Word>(length);
        segment->p_memsz = static_cast<Elf32_Word>(length);
        segment->p_flags = PF_R | PF_W | PF_X;
        segment->p_align = 4;
        elf_flagphdr(elf, ELF_C_SET, ELF_F_DIRTY);
        if (elf_update(elf, ELF_C_WRITE) < 0) return Failed(detail, "elf_update");
    }
    struct stat status {};
    if (fstat(fileno(scratch.file), &status) != 0) {
        detail = Format("fstat: %s", std::strerror(errno));
        return false;
    }
    file.resize(static_cast<std::size_t>(status.st_size));
    std::rewind(scratch.file);
    if (std::fread(file.data(), 1, file.size(), scratch.file) != file.size()) {
        detail = "the ELF file made could not be read back";
        return false;
    }
    return true;
}
