#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One embedded resource copied into memory.
class CSourceFile {
public:
    CSourceFile() = default;
    virtual ~CSourceFile() = default;
    CSourceFile(const CSourceFile&) = delete;
    CSourceFile& operator=(const CSourceFile&) = delete;

    const std::uint8_t* GetData() const { return m_data.get(); }
    std::uint32_t GetSize() const { return m_size; }

    // Replaces the content with a copy of the bytes; false when memory runs out.
    bool Assign(const std::uint8_t* data, std::uint32_t size);

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::uint32_t m_size = 0;
};

// Copies the resource of that type (matched without regard to case) and id into
// the CSourceFile. False for a negative id, an empty type, or a resource that is
// missing or empty.
bool GetResourceData(const std::wstring& type, int id, CSourceFile& source);

// The bytes of a resource where they lie, without a copy. Embedded resources
// live as long as the program; owner keeps a test's replacement bytes alive.
struct ResourceBytes {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::shared_ptr<const void> owner;
};

// Same rules as GetResourceData.
bool FindResourceBytes(const std::wstring& type, int id, ResourceBytes& bytes);

namespace package::testing {
// Makes GetResourceData answer with these bytes for (type, id) until cleared, so
// tests can feed the burn plan files the shipped package does not have. An
// empty byte list stands for an empty resource.
void OverrideResource(const std::wstring& type, int id, const std::string& bytes);
void ClearResourceOverrides();
}  // namespace package::testing
