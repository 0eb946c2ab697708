#include <elf.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "System.h"
#include "testbed/Files.h"

namespace testbed::system {

namespace {

template <typename T>
T ReadAt(const std::vector<std::uint8_t>& image, std::size_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) throw std::runtime_error("truncated ELF file");
    T value;
    std::memcpy(&value, image.data() + offset, sizeof value);
    return value;
}

}  // namespace

// The defined global and weak symbols of the dynamic symbol table: what a loader can find.
std::set<std::string> ExportedEntryPoints(const std::filesystem::path& file) {
    const std::vector<std::uint8_t> image = ReadBytes(file);
    if (image.size() < SELFMAG || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0 || image[EI_CLASS] != ELFCLASS64)
        throw std::runtime_error("not a 64-bit ELF file: " + file.string());
    const auto header = ReadAt<Elf64_Ehdr>(image, 0);
    std::set<std::string> names;
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        const auto section = ReadAt<Elf64_Shdr>(image, header.e_shoff + i * sizeof(Elf64_Shdr));
        if (section.sh_type != SHT_DYNSYM) continue;
        const auto strings = ReadAt<Elf64_Shdr>(image, header.e_shoff + section.sh_link * sizeof(Elf64_Shdr));
        for (std::size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size; offset += sizeof(Elf64_Sym)) {
            const auto symbol = ReadAt<Elf64_Sym>(image, section.sh_offset + offset);
            const int binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
            const std::size_t name = strings.sh_offset + symbol.st_name;
            if (name >= image.size()) throw std::runtime_error("symbol name outside the file");
            names.insert(
                std::string(reinterpret_cast<const char*>(image.data() + name),
                            ::strnlen(reinterpret_cast<const char*>(image.data() + name), image.size() - name)));
        }
    }
    return names;
}

// A shared object has no numbered exports: every entry point is found by its name.
std::string NumberedEntryPoint(unsigned, const char* name) { return name; }

}  // namespace testbed::system
