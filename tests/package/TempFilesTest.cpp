#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <vector>

#include "PackageEnvironment.h"
#include "package/Resources.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

using TempFilesTest = PackageEnvironment;

std::filesystem::path NativePath(const std::wstring& path) { return platform::ToNativePath(path); }

unsigned Permissions(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST_F(TempFilesTest, FolderIsPrivateAndLivesInTheRuntimeDirectory) {
    EXPECT_EQ(NativePath(package::GetTempDirectoryPath()), TempDir());
    EXPECT_FALSE(fs::exists(TempDir()));

    CUserParamFile file(L"X148");
    EXPECT_EQ(NativePath(file.GetFolderPath()), TempDir());
    EXPECT_EQ(NativePath(file.GetFilePath()), TempDir() / "X148.ini");
    ASSERT_TRUE(fs::is_directory(TempDir()));
    EXPECT_EQ(Permissions(TempDir()), 0700u);

    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(package::GetTempDirectoryPath(), L"/tmp/U3TempFileDirectory-" + std::to_wstring(::geteuid()));
    ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(package::GetTempDirectoryPath(), L"/tmp/U3TempFileDirectory-" + std::to_wstring(::geteuid()));
}

TEST_F(TempFilesTest, CsvFileIsDeletedWithItsObjectParamFileStays) {
    const std::uint8_t bytes[] = {'a', ',', 'b'};
    fs::path csvPath, iniPath;
    {
        CCsvFile csv(L"X148");
        CUserParamFile ini(L"X148");
        csvPath = NativePath(csv.GetFilePath());
        iniPath = NativePath(ini.GetFilePath());
        EXPECT_EQ(csvPath, TempDir() / "X148.csv");
        ASSERT_TRUE(csv.WriteData(bytes, sizeof bytes));
        ASSERT_TRUE(ini.WriteData(bytes, sizeof bytes));
        EXPECT_EQ(ReadBytes(csvPath), std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
    }
    EXPECT_FALSE(fs::exists(csvPath));
    EXPECT_TRUE(fs::exists(iniPath));
}

TEST_F(TempFilesTest, WriteDataNeedsBytesAndTruncates) {
    CUserParamFile file(L"data");
    const std::uint8_t longer[] = {1, 2, 3, 4};
    const std::uint8_t shorter[] = {9};
    EXPECT_FALSE(file.WriteData(longer, 0));
    EXPECT_FALSE(file.WriteData(nullptr, 4));
    EXPECT_FALSE(fs::exists(NativePath(file.GetFilePath())));
    ASSERT_TRUE(file.WriteData(longer, sizeof longer));
    ASSERT_TRUE(file.WriteData(shorter, sizeof shorter));
    EXPECT_EQ(ReadBytes(NativePath(file.GetFilePath())), std::vector<std::uint8_t>{9});
    file.RemoveFile();
    EXPECT_FALSE(fs::exists(NativePath(file.GetFilePath())));

    CFileManage bare;
    EXPECT_TRUE(bare.GetFilePath().empty());
    EXPECT_FALSE(bare.WriteData(longer, sizeof longer));
}

TEST_F(TempFilesTest, ExistingFolderIsKeptButNarrowedToTheOwner) {
    fs::create_directory(TempDir());
    fs::permissions(TempDir(), fs::perms::all);
    m_runtime.Write("U3TempFileDirectory/kept.ini", "kept");
    CUserParamFile file(L"new");
    const std::uint8_t byte = 1;
    EXPECT_TRUE(file.WriteData(&byte, 1));
    EXPECT_EQ(Permissions(TempDir()), 0700u);
    EXPECT_TRUE(fs::exists(TempDir() / "kept.ini"));
}

TEST_F(TempFilesTest, LinkOrFileInPlaceOfTheFolderIsRefused) {
    const std::uint8_t byte = 1;
    // A link to a folder someone else prepared: nothing may be written through it.
    fs::create_directory(m_scratch.Path() / "elsewhere");
    fs::create_directory_symlink(m_scratch.Path() / "elsewhere", TempDir());
    EXPECT_FALSE(package::EnsureTempDirectory());
    {
        CUserParamFile file(L"Config");
        EXPECT_FALSE(file.WriteData(&byte, 1));
    }
    EXPECT_TRUE(fs::is_empty(m_scratch.Path() / "elsewhere"));
    package::RemoveTempDirectory();
    EXPECT_TRUE(fs::exists(m_scratch.Path() / "elsewhere"));

    fs::remove(TempDir());
    m_runtime.Write("U3TempFileDirectory", "a file");
    CUserParamFile file(L"Config");
    EXPECT_FALSE(file.WriteData(&byte, 1));
}

TEST_F(TempFilesTest, FolderOwnedBySomeoneElseIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    fs::create_directory(TempDir());
    ASSERT_EQ(::chown(TempDir().c_str(), 65534, 65534), 0);
    const std::uint8_t byte = 1;
    CUserParamFile file(L"Config");
    EXPECT_FALSE(file.WriteData(&byte, 1));
    EXPECT_FALSE(fs::exists(TempDir() / "Config.ini"));
}

TEST_F(TempFilesTest, NamesFromOutsideTextStayInsideTheFolder) {
    const struct {
        const wchar_t* name;
        const wchar_t* safe;
    } cases[] = {
        {L"../../etc/passwd", L"______etc_passwd"},
        {L"..", L"__"},
        {L"a\\b/c", L"a_b_c"},
        {L"line\nfeed\x7F\x01", L"line_feed__"},
        {L"a...b", L"a___b"},
        {L"cam.1:USB3 #2", L"cam.1:USB3 #2"},
        {L".hidden", L".hidden"},
        {L"\u4E2D\u6587", L"\u4E2D\u6587"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(package::MakeSafeFileName(c.name), c.safe) << platform::WideToAnsi(c.name);
        CUserParamFile file(c.name);
        EXPECT_EQ(NativePath(file.GetFilePath()).parent_path(), TempDir()) << platform::WideToAnsi(c.name);
        const std::uint8_t byte = 1;
        EXPECT_TRUE(file.WriteData(&byte, 1)) << platform::WideToAnsi(c.name);
    }
    EXPECT_FALSE(fs::exists(m_runtime.Path() / "etc"));
}

TEST_F(TempFilesTest, RemoveTempDirDeletesContentButNotWhatLinksPointTo) {
    const fs::path outside = m_scratch.Write("outside.txt", "precious");
    CUserParamFile file(L"Config");
    const std::uint8_t byte = 1;
    ASSERT_TRUE(file.WriteData(&byte, 1));
    fs::create_directory(TempDir() / "sub");
    fs::create_symlink(outside, TempDir() / "sub" / "link");
    file.RemoveTempDir();
    EXPECT_FALSE(fs::exists(TempDir()));
    EXPECT_EQ(ReadBytes(outside).size(), 8u);
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

TEST(UniqueFileNameTest, KeepsSafeShortNamesAndHashesTheRest) {
    const std::wstring longName(200, L'x');
    const struct {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"ZV21A0001", true},
        {L"CAM-A141", true},
        {L"CAM/1", false},
        {L"CAM\\1", false},
        {L"a..b", false},
        {L"Config", false},
        {L"config", false},
        {L"tab\there", false},
        {longName, false},
        {L"", false},
        {L"x-0123456789abcdef", false},
    };
    std::set<std::wstring> names;
    for (const auto& c : cases) {
        const std::wstring file = package::MakeUniqueFileName(c.name, L".ini");
        names.insert(file);
        EXPECT_LE(platform::WideToAnsi(file).size(), 255u);
        EXPECT_EQ(file.find(L'/'), std::wstring::npos);
        if (c.plain)
            EXPECT_EQ(file, c.name + L".ini");
        else
            EXPECT_NE(file, c.name + L".ini") << platform::WideToAnsi(c.name);
    }
    EXPECT_EQ(names.size(), std::size(cases)) << "no two names share a file";
    // Names the safe-name rule alone would merge stay apart.
    EXPECT_NE(package::MakeUniqueFileName(L"CAM/1", L".ini"), package::MakeUniqueFileName(L"CAM_1", L".ini"));
    EXPECT_EQ(package::MakeUniqueFileName(L"CAM/1", L".ini"), package::MakeUniqueFileName(L"CAM/1", L".ini"));
}
