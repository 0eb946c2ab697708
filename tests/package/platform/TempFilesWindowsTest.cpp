// The temporary folder on Windows: hidden, at the root of the program's drive,
// for the current user alone.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <fstream>
#include <thread>
#include <vector>

#include "../PackageEnvironment.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

using TempFilesTest = PackageEnvironment;

fs::path NativePath(const std::wstring& path) { return platform::FileSystemPath(path); }

std::wstring AccessList(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return L"<unreadable>";
    wchar_t* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr);
    std::wstring sddl = text != nullptr ? text : L"";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return sddl;
}

}  // namespace

TEST_F(TempFilesTest, FolderIsHiddenPrivateAndAtTheRootOfTheProgramsDrive) {
    const std::wstring program = platform::GetExecutablePath();
    const std::wstring expected = program.substr(0, program.find(L'\\')) + L"\\U3TempFileDirectory";
    EXPECT_EQ(package::GetTempDirectoryPath(), expected);
    EXPECT_FALSE(fs::exists(TempDir()));

    CUserParamFile file(L"X148");
    EXPECT_EQ(file.GetFolderPath(), expected);
    EXPECT_EQ(file.GetFilePath(), expected + L"\\X148.ini");
    ASSERT_TRUE(fs::is_directory(TempDir()));
    const DWORD attributes = ::GetFileAttributesW(expected.c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    // The current user has full control, inherited by the files; everyone else
    // (the system account aside, which Wine always reports) has no entry.
    const std::wstring acl = AccessList(expected);
    EXPECT_NE(acl.find(L"(A;OICI;FA;;;S-1-5-21-"), std::wstring::npos) << platform::WideToUtf8(acl);
    for (const wchar_t* other : {L";WD)", L";BU)", L";AU)", L";BA)"})
        EXPECT_EQ(acl.find(other), std::wstring::npos) << platform::WideToUtf8(acl);
}

TEST_F(TempFilesTest, CsvFileIsDeletedWithItsObjectParamFileStays) {
    const std::uint8_t bytes[] = {'a', ',', 'b'};
    fs::path csvPath, iniPath;
    {
        CCsvFile csv(L"X148");
        CUserParamFile ini(L"X148");
        csvPath = NativePath(csv.GetFilePath());
        iniPath = NativePath(ini.GetFilePath());
        ASSERT_TRUE(csv.WriteData(bytes, sizeof bytes));
        const std::uint8_t longer[] = {1, 2, 3, 4, 5};
        ASSERT_TRUE(ini.WriteData(longer, sizeof longer));
        ASSERT_TRUE(ini.WriteData(bytes, sizeof bytes));  // truncates
        EXPECT_EQ(ReadBytes(csvPath), std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
        EXPECT_EQ(ReadBytes(iniPath), std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
    }
    EXPECT_FALSE(fs::exists(csvPath));
    EXPECT_TRUE(fs::exists(iniPath));
}

TEST_F(TempFilesTest, NamesWithCharactersWindowsReservesStayOneFileInTheFolder) {
    const struct {
        const wchar_t* name;
        const wchar_t* safe;
    } cases[] = {
        {L"..\\..\\Windows\\win.ini", L"______Windows_win.ini"},
        {L"cam.1:USB3 #2", L"cam.1_USB3 #2"},  // ":" would name a stream of the file "cam.1"
        {L"a<b>c\"d|e?f*g", L"a_b_c_d_e_f_g"},
        {L"\u4E2D\u6587", L"\u4E2D\u6587"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(package::MakeSafeFileName(c.name), c.safe) << platform::WideToUtf8(c.name);
        CUserParamFile file(c.name);
        EXPECT_EQ(NativePath(file.GetFilePath()).parent_path(), TempDir()) << platform::WideToUtf8(c.name);
        const std::uint8_t byte = 1;
        EXPECT_TRUE(file.WriteData(&byte, 1)) << platform::WideToUtf8(c.name);
        EXPECT_TRUE(fs::is_regular_file(NativePath(file.GetFilePath()))) << platform::WideToUtf8(c.name);
    }
}

TEST_F(TempFilesTest, FileInPlaceOfTheFolderIsRefused) {
    { std::ofstream(TempDir()) << "not a folder"; }
    CUserParamFile file(L"X148");
    const std::uint8_t byte = 1;
    EXPECT_FALSE(file.WriteData(&byte, 1));
    file.RemoveTempDir();  // never deletes what is not our folder
    EXPECT_TRUE(fs::is_regular_file(TempDir()));
    fs::remove(TempDir());
}

TEST_F(TempFilesTest, RemoveTempDirDeletesTheFolderWithItsContent) {
    CUserParamFile file(L"Config");
    const std::uint8_t byte = 1;
    ASSERT_TRUE(file.WriteData(&byte, 1));
    fs::create_directory(TempDir() / "sub");
    std::ofstream(TempDir() / "sub" / "inner.txt") << "x";
    file.RemoveTempDir();
    EXPECT_FALSE(fs::exists(TempDir()));
}

TEST_F(TempFilesTest, ManyThreadsMayCreateTheFolderAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> written(8, 0);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &written] {
            CCsvFile file(L"camera" + std::to_wstring(i));
            const std::uint8_t byte = static_cast<std::uint8_t>(i);
            written[static_cast<std::size_t>(i)] = file.WriteData(&byte, 1) ? 1 : 0;
        });
    }
    for (auto& t : threads) t.join();
    for (int ok : written) EXPECT_EQ(ok, 1);
    EXPECT_TRUE(fs::is_empty(TempDir()));
}
