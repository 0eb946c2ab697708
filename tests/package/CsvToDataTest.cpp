#include <gtest/gtest.h>

#include <boost/crc.hpp>

#include <cstring>
#include <filesystem>
#include <limits>

#include "PackageEnvironment.h"
#include "package/CsvToData.h"
#include "support/Platform.h"

namespace {

struct Compiled {
    int code = -1;
    bool hasImage = false;
    std::vector<std::uint8_t> image;
};

class CsvToDataTest : public ::testing::Test {
protected:
    // Compiles the table from a file, and, where the outcome cannot depend on
    // the file (the path has an extension, the output can be created), checks
    // that compiling the same text in memory gives the same code and image.
    Compiled Compile(const std::string& table, const std::string& name = "table.csv", bool outputBlocked = false) {
        const std::filesystem::path path = m_folder.Write(name, table);
        const Compiled fromFile = CompilePath(path);
        if (std::filesystem::path(name).has_extension() && !outputBlocked) {
            CCSVOrTXTToData compiler;
            const int code = compiler.ConvertText(reinterpret_cast<const std::uint8_t*>(table.data()), table.size());
            EXPECT_EQ(code, fromFile.code) << name;
            EXPECT_EQ(compiler.HasImage(), fromFile.hasImage) << name;
            if (compiler.HasImage()) {
                EXPECT_EQ(std::vector<std::uint8_t>(compiler.GetImage(), compiler.GetImage() + compiler.GetImageSize()),
                          fromFile.image)
                    << name;
            }
        }
        return fromFile;
    }
    Compiled CompilePath(const std::filesystem::path& path) {
        CCSVOrTXTToData compiler;
        Compiled result;
        result.code = compiler.Convert(platform::FromNativePath(path.string()));
        result.hasImage = compiler.HasImage();
        if (compiler.HasImage())
            result.image.assign(compiler.GetImage(), compiler.GetImage() + compiler.GetImageSize());
        return result;
    }
    // Nothing but the tables themselves may remain: the .bin output is transient.
    void ExpectNoBinLeft() {
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
            EXPECT_NE(entry.path().extension(), ".bin") << entry.path();
    }

    testbed::TempFolder m_folder;
};

std::vector<std::uint8_t> CheckValue(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t stored[4];
    StoreCheckValue(stored, CalcCRC16(bytes.data(), bytes.size()));
    return {stored, stored + 4};
}

const char* const kSbrmTable =
    "0x380000,,,\n"
    "0,72,,\n"
    "1,68,SBRM,\n"
    "2,4,0x00010000, ui32U3VVersion;\n"
    "2,8,0x0000000000000003, ui64U3VCPCapability;\n"
    "2,8,0x0000000000000000, ui64U3VCPConfiguration;\n"
    "2,4,0x00000400, ui32MaximumCommandTransferLength;\n"
    "2,4,0x00000400, ui32MaximumAcknowledgeTransferLength;\n"
    "2,4,0x00000001, ui32NumberofStreamChannels;\n"
    "2,8,0x0000000000020000, ui64SIRMAddress;\n"
    "2,4,0x30, ui32SIRMLength;\n"
    "2,8,0x0000000000021000, ui64EIRMAddress;\n"
    "2,4,0x0000000C, ui32EIRMLength;\n"
    "2,8,0, ui64IIDC2Address;\n"
    "2,4,0x00000008, ui32CurrentSpeed;\n"
    "1,0x55aa,,\n";

}  // namespace

TEST(CheckValue, ModbusCrcStoredHighByteFirst) {
    const char* text = "123456789";
    EXPECT_EQ(CalcCRC16(text, 9), 0x4B37);
    std::uint8_t stored[4] = {1, 2, 3, 4};
    StoreCheckValue(stored, CalcCRC16(text, 9));
    EXPECT_EQ(std::vector<std::uint8_t>(stored, stored + 4), Bytes({0x4B, 0x37, 0x00, 0x00}));
    StoreCheckValue(stored, CalcCRC16(nullptr, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(stored, stored + 4), Bytes({0xFF, 0xFF, 0x00, 0x00}));
}

// The eight-bytes-a-step check value against the plain bitwise definition (a
// well-kept library's), over every short length and a firmware-sized block at
// every alignment of its tail.
TEST(CheckValue, AgreesWithTheBitwiseDefinitionAtEveryLength) {
    std::vector<std::uint8_t> bytes(235984 + 8);
    std::uint32_t seed = 12345;
    for (std::uint8_t& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    auto reference = [&](std::size_t offset, std::size_t length) {
        boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> crc;
        crc.process_bytes(bytes.data() + offset, length);
        return crc.checksum();
    };
    for (std::size_t length = 0; length < 64; ++length)
        for (std::size_t offset = 0; offset < 3; ++offset)
            EXPECT_EQ(CalcCRC16(bytes.data() + offset, length), reference(offset, length)) << offset << "+" << length;
    for (std::size_t tail = 0; tail < 8; ++tail)
        EXPECT_EQ(CalcCRC16(bytes.data(), bytes.size() - tail), reference(0, bytes.size() - tail)) << tail;
}

TEST(NumberRule, FieldsParseAsTheTablesExpect) {
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        const char* field;
        std::uint64_t value;
    } cases[] = {
        {"0x0101000f", 0x0101000F},
        {"010", 10},
        {"0X10", 0},
        {" 0x10", 0},
        {"52, ui32SIRequiredLeaderSize;", 52},
        {"0x55aa", 0x55AA},
        {"21930", 21930},
        {"", 0},
        {"abc", 0},
        {"0x", 0},
        {"0xg1", 0},
        {"\t 12", 12},
        {"+7", 7},
        {"-1", max},
        {"-0x1", 0},
        {"18446744073709551615", max},
        {"99999999999999999999999", max},
        {"0x1FFFFFFFFFFFFFFFF", max},
        {"0x0x5", 0},
        {"12abc", 12},
    };
    for (const auto& c : cases) EXPECT_EQ(StrToUInt64(c.field), c.value) << '"' << c.field << '"';
}

TEST_F(CsvToDataTest, SbrmWorkedExampleCompilesByteForByte) {
    const Compiled result = Compile(kSbrmTable, "X148.csv");
    ASSERT_EQ(result.code, kCsvSuccess);
    ASSERT_TRUE(result.hasImage);
    const std::vector<std::uint8_t> expected = Bytes({
        0xD6, 0x38, 0x00, 0x00,                          // check value of bytes 4..71
        0x00, 0x00, 0x01, 0x00,                          // U3V version
        0x03, 0,    0,    0,    0,    0,    0,    0,     // capability
        0,    0,    0,    0,    0,    0,    0,    0,     // configuration
        0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00,  // transfer lengths
        0x01, 0x00, 0x00, 0x00,                          // stream channels
        0x00, 0x00, 0x02, 0x00, 0,    0,    0,    0,     // SIRM address
        0x30, 0x00, 0x00, 0x00,                          // SIRM length
        0x00, 0x10, 0x02, 0x00, 0,    0,    0,    0,     // EIRM address
        0x0C, 0x00, 0x00, 0x00,                          // EIRM length
        0,    0,    0,    0,    0,    0,    0,    0,     // IIDC2 address
        0x08, 0x00, 0x00, 0x00,                          // current speed
    });
    EXPECT_EQ(result.image, expected);
    ExpectNoBinLeft();
}

TEST_F(CsvToDataTest, SegmentWorkedExampleCompilesByteForByte) {
    const Compiled result = Compile("2,4,0,ui32CRCCode\n2,2,0x1234,a\n2,4,0,ui32CRCCode\n2,1,7,b\n1,0x55aa\n");
    ASSERT_EQ(result.code, kCsvSuccess);
    EXPECT_EQ(result.image, Bytes({0x7D, 0x97, 0x00, 0x00, 0x34, 0x12, 0x82, 0xFE, 0x00, 0x00, 0x07}));
    ExpectNoBinLeft();
}

TEST_F(CsvToDataTest, CrLfLineEndsCompileLikeLineFeeds) {
    std::string crlf;
    for (const char* p = kSbrmTable; *p != '\0'; ++p) {
        if (*p == '\n') crlf += '\r';
        crlf += *p;
    }
    const Compiled withCr = Compile(crlf, "crlf.csv");
    const Compiled withLf = Compile(kSbrmTable, "lf.csv");
    ASSERT_EQ(withCr.code, kCsvSuccess);
    EXPECT_EQ(withCr.image, withLf.image);
}

TEST_F(CsvToDataTest, BlockLayoutRowsBehaveAsDocumented) {
    // Block of 24: section of 16, kind 2 truncated to its width, kind 3 pair,
    // kind 4 of exactly its width (no terminator byte) and "0" leaving zeros.
    const Compiled result = Compile(
        "0x1000,,,\n"
        "0,24,,\n"
        "1,16,LABEL,\n"
        "2,2,0x123456, three bytes into two;\n"
        "3,8,0x11223344,0x55667788, pair;\n"
        "4,3,abc,text;\n"
        "4,3,0,empty;\n"
        "1,21930,,\n"
        ",,,,,\n"
        ",,,,,\n");
    ASSERT_EQ(result.code, kCsvSuccess);
    std::vector<std::uint8_t> section =
        Bytes({0x56, 0x34, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 'a', 'b', 'c', 0, 0, 0});
    std::vector<std::uint8_t> expected = CheckValue(section);
    expected.insert(expected.end(), section.begin(), section.end());
    expected.insert(expected.end(), 4, 0xFF);
    EXPECT_EQ(result.image, expected);
}

TEST_F(CsvToDataTest, UnterminatedBlockIsLeftOutAndBlocksConcatenate) {
    const Compiled result = Compile(
        "0x0,,,\n"
        "0,8,,\n1,2,A,\n2,2,0xBEEF,\n1,0x55aa,,\n"
        "0,8,,\n1,2,B,\n2,2,0x1111,\n"  // never terminated
        "0,6,,\n1,2,C,\n2,2,0xCAFE,\n1,0x55aa,,\n");
    ASSERT_EQ(result.code, kCsvSuccess);
    std::vector<std::uint8_t> expected = CheckValue(Bytes({0xEF, 0xBE}));
    for (int v : {0xEF, 0xBE, 0xFF, 0xFF}) expected.push_back(static_cast<std::uint8_t>(v));
    const std::vector<std::uint8_t> third = CheckValue(Bytes({0xFE, 0xCA}));
    expected.insert(expected.end(), third.begin(), third.end());
    for (int v : {0xFE, 0xCA}) expected.push_back(static_cast<std::uint8_t>(v));
    EXPECT_EQ(result.image, expected);
}

TEST_F(CsvToDataTest, TableWithoutBlocksCompilesToAnEmptyImage) {
    const Compiled result = Compile("0x0,,,\n,,,,,\n");
    EXPECT_EQ(result.code, kCsvSuccess);
    EXPECT_TRUE(result.hasImage);
    EXPECT_TRUE(result.image.empty());
}

TEST_F(CsvToDataTest, SegmentLayoutIsChosenByTheFirstRow) {
    // "0x2" selects the segment layout and its first row is data; without a CRC
    // field the whole image is one segment; a text "0" is the character 0.
    const Compiled result = Compile("0x2,4,0,first\n2,2,0x0201,x\n4,2,0,text\n1,3,ignored\n1,0x55aa,,\n");
    ASSERT_EQ(result.code, kCsvSuccess);
    // Size = 4 + 2 + 2 + 3 (the kind-1 row counts toward the total, writes nothing).
    // The segment ends with the last data row; the kind-1 row's bytes stay zero.
    std::vector<std::uint8_t> expected = CheckValue(Bytes({0x01, 0x02, '0', 0}));
    for (int v : {0x01, 0x02, int{'0'}, 0, 0, 0, 0}) expected.push_back(static_cast<std::uint8_t>(v));
    EXPECT_EQ(result.image, expected);
}

TEST_F(CsvToDataTest, FailureCodesOneToSix) {
    const struct {
        const char* name;
        const char* table;
        int code;
    } cases[] = {
        {"empty.csv", "", kCsvBadRow},
        {"badkind.csv", "0x0,,,\n0,8,,\n1,4,X,\n5,1,1,\n1,0x55aa,,\n", kCsvBadRow},
        {"segempty.csv", "2,4,0,ui32CRCCode\n\n1,0x55aa\n", kCsvBadRow},
        {"segkind0.csv", "2,4,0,ui32CRCCode\n0,4,,\n1,0x55aa\n", kCsvBadRow},
        {"text.csv", "0x0,,,\n0,16,,\n1,4,X,\n4,4,abcde,\n1,0x55aa,,\n", kCsvTextTooLong},
        {"pair.csv", "0x0,,,\n0,16,,\n1,8,X,\n3,4,1,2,\n1,0x55aa,,\n", kCsvBadPairWidth},
        {"segpair.csv", "2,4,0,ui32CRCCode\n3,7,1,2\n1,0x55aa\n", kCsvBadPairWidth},
        {"noterm.csv", "2,4,0,ui32CRCCode\n2,2,1,a\n", kCsvBadTable},
        {"zero.csv", "2,0,0,a\n1,0x55aa\n", kCsvBadTable},
        {"noextension", "0x0,,,\n", kCsvBadTable},
    };
    for (const auto& c : cases) {
        const Compiled result = Compile(c.table, c.name);
        EXPECT_EQ(result.code, c.code) << c.name;
        EXPECT_FALSE(result.hasImage) << c.name;
    }
    EXPECT_EQ(CompilePath(m_folder.Path() / "missing.csv").code, kCsvOpenFailed);
    std::filesystem::create_directory(m_folder.Path() / "folder.csv");
    EXPECT_EQ(CompilePath(m_folder.Path() / "folder.csv").code, kCsvOpenFailed);

    CCSVOrTXTToData header;
    const std::uint8_t byte = 1;
    EXPECT_EQ(header.AddFileHeader(nullptr, 4), kCsvNoMemory);
    EXPECT_EQ(header.AddFileHeader(&byte, 0), kCsvNoMemory);
    EXPECT_FALSE(header.HasImage());
    ExpectNoBinLeft();
}

TEST_F(CsvToDataTest, OutputThatCannotBeCreatedFailsWithCodeOne) {
    std::filesystem::create_directory(m_folder.Path() / "blocked.bin");
    EXPECT_EQ(Compile(kSbrmTable, "blocked.csv", true).code, kCsvOpenFailed);
    EXPECT_TRUE(std::filesystem::is_directory(m_folder.Path() / "blocked.bin"));
}

TEST_F(CsvToDataTest, DotInFolderNameNeverRedirectsTheOutput) {
    std::filesystem::create_directory(m_folder.Path() / "dir.d");
    const std::filesystem::path table = m_folder.Write("dir.d/table", "0x0,,,\n");
    EXPECT_EQ(CompilePath(table).code, kCsvBadTable);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path() / "dir.bin"));
}

TEST_F(CsvToDataTest, EmptyRowsAfterTheTerminatorMatterOnlyInSegmentLayout) {
    const Compiled block = Compile(std::string(kSbrmTable) + ",,,,,\n,,,,,\n");
    EXPECT_EQ(block.code, kCsvSuccess);
    EXPECT_EQ(block.image.size(), 72u);
    EXPECT_EQ(Compile("2,4,0,ui32CRCCode\n2,2,1,a\n1,0x55aa\n,,,,,\n").code, kCsvBadRow);
}

// Inputs whose outcome is ours to choose: each must fail cleanly (or compile)
// without touching memory outside the block or image.
TEST_F(CsvToDataTest, MalformedTablesFailWithoutLeavingTheirBuffers) {
    const struct {
        const char* table;
        int code;
    } cases[] = {
        {"0x0,,,\n2,4,1,before any block\n", kCsvBadRow},
        {"0x0,,,\n1,0x55aa,,\n", kCsvBadRow},
        {"0x0,,,\n0,8,,\n1,5,too long,\n", kCsvBadRow},
        {"0x0,,,\n0,8,,\n1,4,X,\n2,4,1,\n2,1,1,past the end\n", kCsvBadRow},
        {"0x0,,,\n0,8,,\n1,4,X,\n4,8,abc,\n", kCsvBadRow},
        {"0x0,,,\n0,2,,\n1,0x55aa,,\n", kCsvBadRow},
        {"0x0,,,\n0,0xFFFFFFFFFFFF,,\n", kCsvNoMemory},
        {"2,4,0,ui32CRCCode\n2,4,1,a\n1,0x55aa\n2,4,1,after the terminator\n", kCsvBadRow},
        {"2,2,1,a\n1,0x55aa\n", kCsvBadRow},  // segment shorter than its check value
        {"2,4,0,ui32CRCCode\n4,2,abc,\n1,0x55aa\n", kCsvTextTooLong},
        {"2,0xFFFFFFFFFFFF,1,a\n1,0x55aa\n", kCsvNoMemory},
    };
    for (const auto& c : cases) EXPECT_EQ(Compile(c.table).code, c.code) << c.table;

    // A text row without a text field (found by fuzzing: no copy from nowhere).
    EXPECT_EQ(Compile("0x0,,,\n0,8,,\n1,4,X,\n4\n4,4\n1,0x55aa,,\n").code, kCsvSuccess);
    EXPECT_EQ(Compile("2,4,0,ui32CRCCode\n4,2\n1,0x55aa\n").code, kCsvSuccess);

    // A kind-2 width above 8 is zero-extended.
    const Compiled wide = Compile("0x0,,,\n0,16,,\n1,12,X,\n2,12,0xFFFFFFFFFFFFFFFF,\n1,0x55aa,,\n");
    ASSERT_EQ(wide.code, kCsvSuccess);
    std::vector<std::uint8_t> section(12, 0);
    std::fill(section.begin(), section.begin() + 8, 0xFF);
    std::vector<std::uint8_t> expected = CheckValue(section);
    expected.insert(expected.end(), section.begin(), section.end());
    EXPECT_EQ(wide.image, expected);
    ExpectNoBinLeft();
}

TEST(FileHeader, LengthCheckValueThenBytes) {
    const std::uint8_t firmware[] = {'C', 'Y', 0x1C, 0xB0, 0x01};
    CCSVOrTXTToData header;
    ASSERT_EQ(header.AddFileHeader(firmware, sizeof firmware), kCsvSuccess);
    ASSERT_EQ(header.GetImageSize(), sizeof firmware + 8);
    const std::vector<std::uint8_t> image(header.GetImage(), header.GetImage() + header.GetImageSize());
    std::vector<std::uint8_t> expected = Bytes({5, 0, 0, 0});
    const std::vector<std::uint8_t> check = CheckValue({firmware, firmware + sizeof firmware});
    expected.insert(expected.end(), check.begin(), check.end());
    expected.insert(expected.end(), firmware, firmware + sizeof firmware);
    EXPECT_EQ(image, expected);
}
