#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace package::detail {
class CsvRowReader;
class ImageOutput;
}  // namespace package::detail

// Result codes of the register-table compiler.
enum ECsvConvertResult : int {
    kCsvSuccess = 0,
    kCsvOpenFailed = 1,    // table cannot be opened, or the .bin output cannot be created or written
    kCsvBadRow = 2,        // no row, a row the layout does not accept, or a row it cannot place
    kCsvTextTooLong = 3,   // a text row longer than its width
    kCsvBadPairWidth = 4,  // a kind-3 row whose width is not 8
    kCsvNoMemory = 5,      // no bytes / zero length for a header, or more memory than a table may take
    kCsvBadTable = 6,      // path without an extension; segment table without terminator or bytes
};

// A short text for one of the codes above, for messages.
const char* DescribeCsvConvertResult(int code);

// CRC-16/MODBUS (reflected 0x8005, initial 0xFFFF, no final XOR).
std::uint16_t CalcCRC16(const void* data, std::uint64_t length);

// The four-byte check value: CRC high byte, low byte, 0, 0.
void StoreCheckValue(std::uint8_t* destination, std::uint16_t crc);

// Number rule of the tables: base 16 only for a field longer than two characters
// that starts with "0x" (lower-case), otherwise base 10; strtoull semantics
// (leading blanks, sign, stops at the first non-digit, 0 without digits,
// saturates on overflow).
std::uint64_t StrToUInt64(std::string_view field);

// The largest block, segment image or compiled image a table may ask for. Real
// tables are a few kilobytes; the cap keeps a hostile table from exhausting memory.
inline constexpr std::uint64_t kCsvMaxImageBytes = 16ull * 1024 * 1024;
// The largest table file taken for compiling: a table that yields the largest
// image is far smaller, so a bigger file is refused before it is read.
inline constexpr std::uint64_t kCsvMaxTableBytes = 4 * kCsvMaxImageBytes;

// Compiles one register table (CSV) into the byte image burned at its flash
// address, or gives a firmware image its 8-byte header. One object serves one
// conversion and owns the image.
class CCSVOrTXTToData {
public:
    CCSVOrTXTToData() = default;
    virtual ~CCSVOrTXTToData() = default;
    CCSVOrTXTToData(const CCSVOrTXTToData&) = delete;
    CCSVOrTXTToData& operator=(const CCSVOrTXTToData&) = delete;

    // Compiles the table; the image goes through a ".bin" file beside it, which
    // is deleted again. Returns an ECsvConvertResult code.
    int Convert(const std::wstring& tablePath);

    // Compiles a table held in memory (the same rules, the same codes), with
    // no file at all: the image is built in memory.
    int ConvertText(const std::uint8_t* text, std::size_t size);

    // Image = length (32-bit LE), check value of the bytes, the bytes.
    int AddFileHeader(const std::uint8_t* data, std::uint32_t length);

    bool HasImage() const { return m_hasImage; }
    const std::uint8_t* GetImage() const { return m_image.get(); }
    std::uint32_t GetImageSize() const { return m_imageSize; }
    // Hands the image over (GetImageSize() bytes; read the size first) and leaves the object empty.
    std::unique_ptr<std::uint8_t[]> TakeImage();

private:
    using RowReader = package::detail::CsvRowReader;
    using ImageOutput = package::detail::ImageOutput;

    int __CompileBlockLayout(RowReader& table, ImageOutput& output);
    int __GetSegmentTableLength(RowReader& table, std::uint64_t& total);
    int __CompileSegmentLayout(RowReader& table, std::uint64_t total, ImageOutput& output);
    void __ReleaseImage();
    bool __LoadImageFile(const std::filesystem::path& binPath, std::uint64_t expectedSize);

    std::unique_ptr<std::uint8_t[]> m_image;
    std::uint32_t m_imageSize = 0;
    bool m_hasImage = false;
};
