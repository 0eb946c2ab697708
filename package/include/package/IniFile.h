#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads values of profile (INI) files with the Windows profile rules: section
// and key names match without regard to case, blanks around a value are
// dropped, ";" starts a comment line, and the first matching entry wins.
// Keeps no state; make a local object per use.
class CINIFileBase {
public:
    CINIFileBase() = default;
    virtual ~CINIFileBase() = default;

    // False when no file is at the path, or the value is missing, empty or the
    // text "Not Found". At most 259 characters of a value are returned.
    bool ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& path,
                    std::wstring& value) const;

    // Decimal (a 0x prefix is honoured, as Windows does); false when no file is
    // at the path or the value is missing or reads as -1.
    bool ReadInt(const std::wstring& path, const std::wstring& key, const std::wstring& section,
                 std::int32_t& value) const;

    // A base-16 value ("0x" optional) from the run's package configuration
    // (package::GetPackageConfigPath); saturates at the 32-bit limits.
    bool ReadHex(const std::wstring& key, const std::wstring& section, std::int32_t& value) const;
};

namespace package {

// A profile file read and parsed once, for a reader that asks it many
// questions (the burn list asks about forty). Answers exactly as the reads
// above and below would for the file as it was when loaded.
class CProfileFile {
public:
    // False when no file is at the path (every answer is then the fallback).
    bool Load(const std::wstring& path);

    std::wstring GetString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                           std::size_t bufferChars) const;
    // The CINIFileBase rules on the loaded file.
    bool ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value) const;
    bool ReadInt(const std::wstring& section, const std::wstring& key, std::int32_t& value) const;
    bool ReadHex(const std::wstring& section, const std::wstring& key, std::int32_t& value) const;

    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };

private:
    std::vector<Entry> m_entries;  // as parsed, where the parsing is ours
    std::wstring m_path;           // where the system's profile reader does it
    bool m_exists = false;
};

// What the profile reader answers for one entry: the value, or the default
// when the file, section or key is missing or the value is empty. Values are
// cut to bufferChars - 1 characters.
std::wstring GetProfileString(const std::wstring& section, const std::wstring& key, const std::wstring& fallback,
                              std::size_t bufferChars, const std::wstring& path);
std::int32_t GetProfileInt(const std::wstring& section, const std::wstring& key, std::int32_t fallback,
                           const std::wstring& path);

// The two number conversions of the profile rules, on their own.
std::int32_t ParseProfileInteger(const std::wstring& text);
std::int32_t ParseHexLong(const std::wstring& text);

}  // namespace package
