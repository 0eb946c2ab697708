#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera/GenTLLib.h"
#include "support/Platform.h"
#include "testbed/Environment.h"
#include "testbed/Folders.h"

namespace {

using Pieces = std::vector<std::wstring>;

TEST(SplitStringTest, KeepsEmptyPieces) {
    struct Case {
        std::wstring text;
        Pieces pieces;
    };
    const Case cases[] = {
        {L"", {}},
        {L"a", {L"a"}},
        {L"a;", {L"a", L""}},
        {L";a", {L"", L"a"}},
        {L"a;;b", {L"a", L"", L"b"}},
        {L";", {L"", L""}},
        {L"C:\\a;;C:\\b;", {L"C:\\a", L"", L"C:\\b", L""}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitString(c.text, L";"), c.pieces) << c.text;
}

TEST(SplitStringTest, MultiCharacterSeparator) { EXPECT_EQ(SplitString(L"a::b", L"::"), (Pieces{L"a", L"b"})); }

// Removes every spelling of the producer path variable for the test; the
// environment is put back when the fixture goes.
class ProducerPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& name : testbed::EnvironmentNamesLike(Variable())) m_environment.Unset(name);
        m_exeDir = platform::GetExecutableDirectory() + platform::PathSeparator();
    }

    static std::string Variable() { return platform::WideToAnsi(ProducerPathVariableName()); }
    void Set(const std::string& name, const std::string& value) { m_environment.Set(name, value); }

    testbed::ScopedEnvironment m_environment;
    std::wstring m_exeDir;
};

TEST_F(ProducerPathTest, VariableNameFollowsWordSize) {
    EXPECT_STREQ(ProducerPathVariableName(), sizeof(void*) == 8 ? L"GENICAM_GENTL64_PATH" : L"GENICAM_GENTL32_PATH");
}

TEST_F(ProducerPathTest, UnsetVariableSearchesNothingNotEvenTheProgramFolder) {
    EXPECT_TRUE(GetProducerDirectories().empty());

    // Something of the wanted name right beside the program is still not found.
    const std::wstring name = L"camera-test-beside-program.cti";
    const std::filesystem::path beside =
        std::filesystem::path(platform::ToNativePath(m_exeDir)) / platform::ToNativePath(name);
    std::ofstream(beside).put('x');
    EXPECT_TRUE(FindProducerFiles({name}).empty());
    Set(Variable(), "");
    const Pieces found = FindProducerFiles({name});
    std::filesystem::remove(beside);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], m_exeDir + platform::PathSeparator() + name);  // the folder keeps its separator
}

TEST_F(ProducerPathTest, EmptyValueSearchesOnlyTheProgramFolder) {
    Set(Variable(), "");
    EXPECT_EQ(GetProducerDirectories(), (Pieces{m_exeDir}));
}

TEST_F(ProducerPathTest, DoubledAndTrailingSeparatorsGiveEmptyFolders) {
    Set(Variable(), "/a;;/b;");
    EXPECT_EQ(GetProducerDirectories(), (Pieces{L"/a", L"", L"/b", L"", m_exeDir}));
    if (platform::SplitPathList(L"a:b").size() == 2) {
        Set(Variable(), "/a::/b:");
        EXPECT_EQ(GetProducerDirectories(), (Pieces{L"/a", L"", L"/b", L"", m_exeDir}));
    }
}

TEST_F(ProducerPathTest, SemicolonListsAreAcceptedToo) {
    if (platform::SplitPathList(L"a:b").size() == 1)
        GTEST_SKIP() << "this system splits on \";\" alone (a drive's \":\" belongs to its folder)";
    Set(Variable(), "/a;/b:/c");
    EXPECT_EQ(GetProducerDirectories(), (Pieces{L"/a", L"/b", L"/c", m_exeDir}));
}

TEST_F(ProducerPathTest, NameMatchedWithoutRegardToCase) {
    std::string lower = Variable();
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Set(lower, "/x");
    EXPECT_EQ(GetProducerDirectories(), (Pieces{L"/x", m_exeDir}));
}

class SearchProducerFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_root / "one");
        std::filesystem::create_directories(m_root / "two");
    }
    void Touch(const std::filesystem::path& path) { std::ofstream(path).put('x'); }
    std::wstring Dir(const char* name) { return platform::FromNativePath((m_root / name).string()); }
    static std::wstring Sep() { return std::wstring(1, platform::PathSeparator()); }

    testbed::TempFolder m_folder;
    const std::filesystem::path m_root = m_folder.Path();
};

TEST_F(SearchProducerFilesTest, FirstFolderWinsAndNamesKeepTheirOrder) {
    Touch(m_root / "two" / "a.cti");
    Touch(m_root / "one" / "b.cti");
    Touch(m_root / "two" / "b.cti");
    const Pieces found = SearchProducerFiles({Dir("one"), Dir("two")}, {L"a.cti", L"b.cti", L"c.cti"});
    EXPECT_EQ(found, (Pieces{Dir("two") + Sep() + L"a.cti", Dir("one") + Sep() + L"b.cti"}));
}

TEST_F(SearchProducerFilesTest, CandidateIsFolderSeparatorNameUnchanged) {
    Touch(m_root / "one" / "a.cti");
    const Pieces found = SearchProducerFiles({Dir("one") + Sep()}, {L"a.cti"});
    EXPECT_EQ(found, (Pieces{Dir("one") + Sep() + Sep() + L"a.cti"}));
}

TEST_F(SearchProducerFilesTest, AFolderOfThatNameCounts) {
    std::filesystem::create_directories(m_root / "one" / "a.cti");
    EXPECT_EQ(SearchProducerFiles({Dir("one")}, {L"a.cti"}), (Pieces{Dir("one") + Sep() + L"a.cti"}));
}

TEST_F(SearchProducerFilesTest, EmptyFolderMeansTheRoot) {
    // Separator + name: the root holds no such file, so nothing is found; what
    // the root (of the current drive) holds is.
    EXPECT_TRUE(SearchProducerFiles({L""}, {L"camera-test-not-in-root.cti"}).empty());
    const std::filesystem::directory_iterator first(std::filesystem::current_path().root_path());
    ASSERT_NE(first, std::filesystem::directory_iterator());
    const std::wstring inRoot = platform::FromNativePath(first->path().filename().string());
    EXPECT_EQ(SearchProducerFiles({L""}, {inRoot}), (Pieces{Sep() + inRoot}));
}

TEST_F(SearchProducerFilesTest, NothingFoundGivesAnEmptyList) {
    EXPECT_TRUE(SearchProducerFiles({Dir("one"), Dir("two")}, {L"x.cti"}).empty());
    EXPECT_TRUE(SearchProducerFiles({}, {L"x.cti"}).empty());
    EXPECT_TRUE(SearchProducerFiles({Dir("one")}, {}).empty());
}

}  // namespace
