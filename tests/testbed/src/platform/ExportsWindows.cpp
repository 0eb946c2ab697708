#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "System.h"
#include "testbed/Files.h"

namespace testbed::system {

namespace {

class PeFile {
public:
    explicit PeFile(const std::filesystem::path& file) : m_image(ReadBytes(file)), m_name(file.string()) {
        const auto dos = Read<IMAGE_DOS_HEADER>(0);
        if (dos.e_magic != IMAGE_DOS_SIGNATURE) Fail("no DOS header");
        const auto nt = Read<IMAGE_NT_HEADERS64>(static_cast<std::size_t>(dos.e_lfanew));
        if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            Fail("not a 64-bit PE file");
        m_exports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        const std::size_t first = static_cast<std::size_t>(dos.e_lfanew) +
                                  offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
        for (std::size_t i = 0; i < nt.FileHeader.NumberOfSections; ++i)
            m_sections.push_back(Read<IMAGE_SECTION_HEADER>(first + i * sizeof(IMAGE_SECTION_HEADER)));
    }

    const IMAGE_DATA_DIRECTORY& Exports() const { return m_exports; }

    template <typename T>
    T Read(std::size_t offset) const {
        if (offset > m_image.size() || m_image.size() - offset < sizeof(T)) Fail("truncated");
        T value;
        std::memcpy(&value, m_image.data() + offset, sizeof value);
        return value;
    }
    template <typename T>
    T ReadRva(DWORD rva) const {
        return Read<T>(Offset(rva));
    }
    std::string StringAt(DWORD rva) const {
        const std::size_t offset = Offset(rva);
        const auto* text = reinterpret_cast<const char*>(m_image.data() + offset);
        const std::size_t length = ::strnlen(text, m_image.size() - offset);
        if (length == m_image.size() - offset) Fail("unterminated name");
        return std::string(text, length);
    }

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("bad PE file " + m_name + ": " + what);
    }

private:
    // Where an address of the loaded image lies in the file.
    std::size_t Offset(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& section : m_sections) {
            const DWORD size = std::max<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size)
                return section.PointerToRawData + (rva - section.VirtualAddress);
        }
        Fail("address outside every section");
    }

    std::vector<std::uint8_t> m_image;
    std::string m_name;
    IMAGE_DATA_DIRECTORY m_exports{};
    std::vector<IMAGE_SECTION_HEADER> m_sections;
};

}  // namespace

// Every used slot of the export address table: by its name when the name table
// has one for it, else by its number.
std::set<std::string> ExportedEntryPoints(const std::filesystem::path& file) {
    const PeFile pe(file);
    std::set<std::string> entryPoints;
    if (pe.Exports().VirtualAddress == 0) return entryPoints;
    const auto directory = pe.ReadRva<IMAGE_EXPORT_DIRECTORY>(pe.Exports().VirtualAddress);
    std::map<DWORD, std::string> names;  // by index into the address table
    for (DWORD i = 0; i < directory.NumberOfNames; ++i) {
        const auto name = pe.ReadRva<DWORD>(directory.AddressOfNames + i * sizeof(DWORD));
        const auto index = pe.ReadRva<WORD>(directory.AddressOfNameOrdinals + i * sizeof(WORD));
        if (index >= directory.NumberOfFunctions) pe.Fail("a name for no entry point");
        names[index] = pe.StringAt(name);
    }
    for (DWORD i = 0; i < directory.NumberOfFunctions; ++i) {
        if (pe.ReadRva<DWORD>(directory.AddressOfFunctions + i * sizeof(DWORD)) == 0) continue;  // unused number
        const auto named = names.find(i);
        entryPoints.insert(named != names.end() ? named->second : NumberedEntryPoint(directory.Base + i, nullptr));
    }
    return entryPoints;
}

std::string NumberedEntryPoint(unsigned ordinal, const char*) { return "#" + std::to_string(ordinal); }

}  // namespace testbed::system
