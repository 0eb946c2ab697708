#include "package/CsvToData.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <vector>

#include "support/Platform.h"

namespace package::detail {

// One table read line by line as a text-mode reader on Windows sees it: a CR
// right before the line feed belongs to the line end. The table is a file, or
// text already in memory.
class CsvRowReader {
public:
    explicit CsvRowReader(const std::filesystem::path& path)
        : m_stream(path, std::ios::in | std::ios::binary), m_fromFile(true) {}
    explicit CsvRowReader(std::string_view text) : m_text(text) {}

    bool IsOpen() const { return !m_fromFile || m_stream.is_open(); }

    bool Next(std::string& row) {
        bool hadLineFeed = false;
        if (m_fromFile) {
            if (!std::getline(m_stream, row)) return false;
            hadLineFeed = !m_stream.eof();
        } else {
            if (m_position >= m_text.size()) return false;
            const std::size_t lineFeed = m_text.find('\n', m_position);
            hadLineFeed = lineFeed != std::string_view::npos;
            const std::size_t end = hadLineFeed ? lineFeed : m_text.size();
            row.assign(m_text.data() + m_position, end - m_position);
            m_position = hadLineFeed ? lineFeed + 1 : end;
        }
        if (hadLineFeed && !row.empty() && row.back() == '\r') row.pop_back();
        return true;
    }

    void Rewind() {
        if (m_fromFile) {
            m_stream.clear();
            m_stream.seekg(0);
        }
        m_position = 0;
    }

private:
    std::ifstream m_stream;
    std::string_view m_text;
    std::size_t m_position = 0;
    bool m_fromFile = false;
};

// Where the compiled blocks go: the .bin file beside a table file, or memory
// for a table compiled from memory. Every file write is checked: a short write
// must not come back as a silently shorter image.
class ImageOutput {
public:
    ImageOutput() = default;
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;
    ~ImageOutput() { Close(); }

    bool Create(const std::filesystem::path& path) {
        m_file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
        return m_file.is_open();
    }
    bool Write(const std::uint8_t* data, std::uint64_t size) {
        if (size == 0) return true;
        if (m_inMemory) {
            try {
                m_memory.insert(m_memory.end(), data, data + size);
            } catch (const std::exception&) {
                return false;
            }
        } else if (!m_file.is_open() ||
                   !m_file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size))) {
            return false;
        }
        m_written += size;
        return true;
    }
    bool Close() {
        if (!m_file.is_open()) return true;
        m_file.close();
        return !m_file.fail();
    }
    std::uint64_t Written() const { return m_written; }

    void KeepInMemory() { m_inMemory = true; }
    const std::vector<std::uint8_t>& Memory() const { return m_memory; }

private:
    std::ofstream m_file;
    std::uint64_t m_written = 0;
    bool m_inMemory = false;
    std::vector<std::uint8_t> m_memory;
};

}  // namespace package::detail

namespace {

constexpr std::uint64_t kTerminatorMark = 0x55AA;
constexpr std::string_view kCrcFieldMark = "ui32CRCCode";

// Field n (1-based) of a row: the text between comma n-1 and comma n.
std::string_view Field(std::string_view row, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const std::size_t comma = row.find(',', start);
        if (comma == std::string_view::npos) return {};
        start = comma + 1;
    }
    const std::size_t end = row.find(',', start);
    return row.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

struct RowHead {
    std::uint64_t kind;
    std::uint64_t width;
};

RowHead ReadHead(std::string_view row) { return {StrToUInt64(Field(row, 1)), StrToUInt64(Field(row, 2))}; }

// Little-endian; bytes beyond the value's eight are zero.
void StoreLittleEndian(std::uint8_t* destination, std::uint64_t value, std::uint64_t width) {
    for (std::uint64_t i = 0; i < width; ++i) destination[i] = i < 8 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0;
}

void StoreUInt32(std::uint8_t* destination, std::uint32_t value) { StoreLittleEndian(destination, value, 4); }

// Whether [position, position + width) lies inside a buffer of size bytes.
bool Fits(std::uint64_t position, std::uint64_t width, std::uint64_t size) {
    return position <= size && width <= size - position;
}

// The output path: the table path up to the dot of its extension, then ".bin".
// Only the file-name part is searched, so a dot in a folder name never sends the
// output somewhere else.
bool MakeBinPath(const std::wstring& tablePath, std::filesystem::path& binPath) {
    const wchar_t separators[] = {L'/', platform::PathSeparator(), L'\0'};
    const std::size_t slash = tablePath.find_last_of(separators);
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    const std::size_t dot = tablePath.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < nameStart) return false;
    binPath = platform::FileSystemPath(tablePath.substr(0, dot) + L".bin");
    return true;
}

std::unique_ptr<std::uint8_t[]> AllocateBytes(std::uint64_t size) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
}

}  // namespace

const char* DescribeCsvConvertResult(int code) {
    switch (code) {
        case kCsvSuccess: return "success";
        case kCsvOpenFailed: return "the table cannot be opened, or its .bin output cannot be written";
        case kCsvBadRow: return "the table has no row, or a row that its layout does not accept";
        case kCsvTextTooLong: return "a text row is longer than its width";
        case kCsvBadPairWidth: return "a kind-3 row has a width other than 8";
        case kCsvNoMemory: return "no bytes, or more memory than a table may take";
        case kCsvBadTable: return "the table path has no extension, or a segment table has no terminator or no bytes";
        default: return "unknown result";
    }
}

namespace {

// Slicing-by-8 tables of the reflected CRC-16/MODBUS: table[0] is the usual
// byte table, table[k][b] the CRC of byte b followed by k zero bytes. The
// firmware image (about 230 KB) is checked once per plan; eight bytes a step
// keep that well under a millisecond.
struct Crc16Tables {
    std::uint16_t table[8][256];
    Crc16Tables() {
        for (unsigned b = 0; b < 256; ++b) {
            std::uint16_t crc = static_cast<std::uint16_t>(b);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
            table[0][b] = crc;
        }
        for (unsigned b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k)
                table[k][b] = static_cast<std::uint16_t>((table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF]);
    }
};

const Crc16Tables& CrcTables() {
    static const Crc16Tables tables;
    return tables;
}

}  // namespace

std::uint16_t CalcCRC16(const void* data, std::uint64_t length) {
    std::uint16_t crc = 0xFFFF;
    if (data == nullptr || length == 0) return crc;
    const auto& t = CrcTables().table;
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (; length >= 8; length -= 8, p += 8) {
        crc = static_cast<std::uint16_t>(t[7][(p[0] ^ crc) & 0xFF] ^ t[6][(p[1] ^ (crc >> 8)) & 0xFF] ^ t[5][p[2]] ^
                                         t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; length > 0; --length, ++p) crc = static_cast<std::uint16_t>((crc >> 8) ^ t[0][(crc ^ *p) & 0xFF]);
    return crc;
}

void StoreCheckValue(std::uint8_t* destination, std::uint16_t crc) {
    destination[0] = static_cast<std::uint8_t>(crc >> 8);
    destination[1] = static_cast<std::uint8_t>(crc & 0xFF);
    destination[2] = 0;
    destination[3] = 0;
}

std::uint64_t StrToUInt64(std::string_view field) {
    // The prefix test looks at the raw field, before any blank or sign.
    const unsigned base = field.size() > 2 && field[0] == '0' && field[1] == 'x' ? 16 : 10;
    auto digitValue = [base](char c) -> int {
        int v = 99;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z')
            v = c - 'A' + 10;
        return static_cast<unsigned>(v) < base ? v : -1;
    };

    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    if (base == 16 && i + 2 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X') &&
        digitValue(field[i + 2]) >= 0)
        i += 2;

    std::uint64_t value = 0;
    bool anyDigit = false;
    bool overflow = false;
    for (; i < field.size(); ++i) {
        const int digit = digitValue(field[i]);
        if (digit < 0) break;
        anyDigit = true;
        if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base)
            overflow = true;
        else
            value = value * base + static_cast<unsigned>(digit);
    }
    if (!anyDigit) return 0;
    if (overflow) return std::numeric_limits<std::uint64_t>::max();
    return negative ? ~value + 1 : value;
}

void CCSVOrTXTToData::__ReleaseImage() {
    m_image.reset();
    m_imageSize = 0;
    m_hasImage = false;
}

int CCSVOrTXTToData::Convert(const std::wstring& tablePath) {
    __ReleaseImage();
    const std::filesystem::path path = platform::FileSystemPath(tablePath);

    // A folder opens for reading on Linux but is no table.
    if (platform::IsDirectory(tablePath)) return kCsvOpenFailed;
    RowReader table(path);
    if (!table.IsOpen()) return kCsvOpenFailed;

    std::string row;
    if (!table.Next(row)) return kCsvBadRow;
    const bool segmentLayout = StrToUInt64(Field(row, 1)) == 2;
    table.Rewind();

    std::uint64_t segmentTotal = 0;
    if (segmentLayout) {
        const int code = __GetSegmentTableLength(table, segmentTotal);
        if (code != kCsvSuccess) return code;
    }

    std::filesystem::path binPath;
    if (!MakeBinPath(tablePath, binPath)) return kCsvBadTable;
    ImageOutput output;
    if (!output.Create(binPath)) return kCsvOpenFailed;

    int code =
        segmentLayout ? __CompileSegmentLayout(table, segmentTotal, output) : __CompileBlockLayout(table, output);
    if (!output.Close() && code == kCsvSuccess) code = kCsvOpenFailed;
    if (code == kCsvSuccess) __LoadImageFile(binPath, output.Written());
    std::error_code ignored;
    std::filesystem::remove(binPath, ignored);
    return code;
}

int CCSVOrTXTToData::ConvertText(const std::uint8_t* text, std::size_t size) {
    __ReleaseImage();
    const std::string_view view(reinterpret_cast<const char*>(text), text == nullptr ? 0 : size);
    RowReader table(view);

    std::string row;
    if (!table.Next(row)) return kCsvBadRow;
    const bool segmentLayout = StrToUInt64(Field(row, 1)) == 2;
    table.Rewind();

    std::uint64_t segmentTotal = 0;
    if (segmentLayout) {
        const int code = __GetSegmentTableLength(table, segmentTotal);
        if (code != kCsvSuccess) return code;
    }

    ImageOutput output;
    output.KeepInMemory();
    const int code =
        segmentLayout ? __CompileSegmentLayout(table, segmentTotal, output) : __CompileBlockLayout(table, output);
    if (code != kCsvSuccess) return code;
    const std::vector<std::uint8_t>& image = output.Memory();
    if (image.size() > std::numeric_limits<std::uint32_t>::max()) return kCsvNoMemory;
    m_image = AllocateBytes(image.size());
    if (!m_image) return kCsvNoMemory;
    if (!image.empty()) std::memcpy(m_image.get(), image.data(), image.size());
    m_imageSize = static_cast<std::uint32_t>(image.size());
    m_hasImage = true;
    return kCsvSuccess;
}

std::unique_ptr<std::uint8_t[]> CCSVOrTXTToData::TakeImage() {
    std::unique_ptr<std::uint8_t[]> image = std::move(m_image);
    __ReleaseImage();
    return image;
}

int CCSVOrTXTToData::__CompileBlockLayout(RowReader& table, ImageOutput& output) {
    std::string row;
    table.Next(row);  // the address row

    std::unique_ptr<std::uint8_t[]> block;
    std::uint64_t blockSize = 0;
    std::uint64_t position = 0;
    std::uint64_t sectionLength = 0;

    while (table.Next(row)) {
        const RowHead head = ReadHead(row);
        switch (head.kind) {
            case 0:
                // A block that was never terminated is dropped here.
                block.reset();
                if (head.width > kCsvMaxImageBytes) return kCsvNoMemory;
                block = AllocateBytes(head.width);
                if (!block) return kCsvNoMemory;
                std::memset(block.get(), 0xFF, head.width);
                blockSize = head.width;
                position = 4;
                break;
            case 1:
                if (!block) return kCsvBadRow;
                if (head.width == kTerminatorMark) {
                    if (!Fits(4, sectionLength, blockSize)) return kCsvBadRow;
                    StoreCheckValue(block.get(), CalcCRC16(block.get() + 4, sectionLength));
                    if (output.Written() + blockSize > kCsvMaxImageBytes) return kCsvNoMemory;
                    if (!output.Write(block.get(), blockSize)) return kCsvOpenFailed;
                } else {
                    if (!Fits(4, head.width, blockSize)) return kCsvBadRow;
                    sectionLength = head.width;
                    std::memset(block.get(), 0, sectionLength + 4);
                }
                break;
            case 2:
                if (!block || !Fits(position, head.width, blockSize)) return kCsvBadRow;
                StoreLittleEndian(block.get() + position, StrToUInt64(Field(row, 3)), head.width);
                position += head.width;
                break;
            case 3:
                if (head.width != 8) return kCsvBadPairWidth;
                if (!block || !Fits(position, 8, blockSize)) return kCsvBadRow;
                StoreUInt32(block.get() + position, static_cast<std::uint32_t>(StrToUInt64(Field(row, 3))));
                StoreUInt32(block.get() + position + 4, static_cast<std::uint32_t>(StrToUInt64(Field(row, 4))));
                position += 8;
                break;
            case 4: {
                if (!block) return kCsvBadRow;
                const std::string_view text = Field(row, 3);
                if (text.size() > head.width) return kCsvTextTooLong;
                if (!Fits(position, head.width, blockSize)) return kCsvBadRow;
                // "0" stands for no text: the field keeps the zeros of its section.
                if (!text.empty() && text != "0") std::memcpy(block.get() + position, text.data(), text.size());
                position += head.width;
                break;
            }
            default: return kCsvBadRow;
        }
    }
    return kCsvSuccess;
}

int CCSVOrTXTToData::__GetSegmentTableLength(RowReader& table, std::uint64_t& total) {
    total = 0;
    bool terminated = false;
    bool tooLarge = false;
    std::string row;
    while (table.Next(row)) {
        const std::uint64_t width = StrToUInt64(Field(row, 2));
        if (width == kTerminatorMark) {
            terminated = true;
            break;
        }
        if (width > kCsvMaxImageBytes - total)
            tooLarge = true;
        else
            total += width;
    }
    table.Rewind();
    if (!terminated) return kCsvBadTable;
    if (tooLarge) return kCsvNoMemory;
    if (total == 0) return kCsvBadTable;
    return kCsvSuccess;
}

int CCSVOrTXTToData::__CompileSegmentLayout(RowReader& table, std::uint64_t total, ImageOutput& output) {
    std::unique_ptr<std::uint8_t[]> image = AllocateBytes(total);
    if (!image) return kCsvNoMemory;
    std::memset(image.get(), 0, total);

    std::uint64_t position = 0;
    std::uint64_t segmentLength = 0;
    bool crcFieldSeen = false;

    // Stores the check value of the open segment in its first four bytes.
    auto seal = [&]() {
        if (segmentLength < 4) return false;
        std::uint8_t* segment = image.get() + (position - segmentLength);
        StoreCheckValue(segment, CalcCRC16(segment + 4, segmentLength - 4));
        return true;
    };

    std::string row;
    while (table.Next(row)) {
        const RowHead head = ReadHead(row);
        switch (head.kind) {
            case 2: {
                const std::uint64_t value = StrToUInt64(Field(row, 3));
                if (head.width == 4 && value == 0 && Field(row, 4) == kCrcFieldMark) {
                    if (crcFieldSeen) {
                        if (!seal()) return kCsvBadRow;
                        segmentLength = 0;
                    }
                    crcFieldSeen = true;
                }
                if (!Fits(position, head.width, total)) return kCsvBadRow;
                StoreLittleEndian(image.get() + position, value, head.width);
                position += head.width;
                segmentLength += head.width;
                break;
            }
            case 3:
                if (head.width != 8) return kCsvBadPairWidth;
                if (!Fits(position, 8, total)) return kCsvBadRow;
                StoreUInt32(image.get() + position, static_cast<std::uint32_t>(StrToUInt64(Field(row, 3))));
                StoreUInt32(image.get() + position + 4, static_cast<std::uint32_t>(StrToUInt64(Field(row, 4))));
                position += 8;
                segmentLength += 8;
                break;
            case 4: {
                const std::string_view text = Field(row, 3);
                if (text.size() > head.width) return kCsvTextTooLong;
                if (!Fits(position, head.width, total)) return kCsvBadRow;
                if (!text.empty()) std::memcpy(image.get() + position, text.data(), text.size());
                position += head.width;
                segmentLength += head.width;
                break;
            }
            case 1:
                if (head.width == kTerminatorMark) {
                    if (!seal()) return kCsvBadRow;
                    if (output.Written() + total > kCsvMaxImageBytes) return kCsvNoMemory;
                    if (!output.Write(image.get(), total)) return kCsvOpenFailed;
                }
                break;
            default: return kCsvBadRow;
        }
    }
    return kCsvSuccess;
}

bool CCSVOrTXTToData::__LoadImageFile(const std::filesystem::path& binPath, std::uint64_t expectedSize) {
    std::ifstream file(binPath, std::ios::in | std::ios::binary);
    if (!file.is_open()) return false;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    bool ok = size >= 0 && static_cast<std::uint64_t>(size) == expectedSize &&
              static_cast<std::uint64_t>(size) <= std::numeric_limits<std::uint32_t>::max() &&
              static_cast<bool>(file.seekg(0, std::ios::beg));
    std::unique_ptr<std::uint8_t[]> image;
    if (ok) {
        image = AllocateBytes(static_cast<std::uint64_t>(size));
        ok = image != nullptr && file.read(reinterpret_cast<char*>(image.get()), static_cast<std::streamsize>(size));
    }
    if (!ok) return false;
    m_image = std::move(image);
    m_imageSize = static_cast<std::uint32_t>(size);
    m_hasImage = true;
    return true;
}

int CCSVOrTXTToData::AddFileHeader(const std::uint8_t* data, std::uint32_t length) {
    __ReleaseImage();
    if (data == nullptr || length == 0 || length > std::numeric_limits<std::uint32_t>::max() - 8) return kCsvNoMemory;
    std::unique_ptr<std::uint8_t[]> image = AllocateBytes(std::uint64_t{length} + 8);
    if (!image) return kCsvNoMemory;
    std::memcpy(image.get() + 8, data, length);
    StoreCheckValue(image.get() + 4, CalcCRC16(data, length));
    StoreUInt32(image.get(), length);
    m_image = std::move(image);
    m_imageSize = length + 8;
    m_hasImage = true;
    return kCsvSuccess;
}
