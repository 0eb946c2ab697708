#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "PackageEnvironment.h"
#include "package/PackageConfig.h"
#include "package/Sha1.h"
#include "package/UpgradeFile.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public PackageEnvironment {
protected:
    // Runs flashwright-cli with the test's runtime folder (inherited environment).
    CliRun Cli(const std::string& arguments) {
        const char* binDir = std::getenv("FLASHWRIGHT_BIN_DIR");
        EXPECT_NE(binDir, nullptr);
        const fs::path errFile = m_scratch.Path() / "stderr.txt";
        const std::string command = std::string("'") + (binDir ? binDir : ".") + "/flashwright-cli' " + arguments +
                                    " 2>'" + errFile.string() + "'";
        CliRun run;
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
        const int raw = ::pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const auto err = ReadBytes(errFile);
        run.err.assign(err.begin(), err.end());
        return run;
    }
    std::string Table(const std::string& name, const std::string& text) { return m_scratch.Write(name, text).string(); }
};

}  // namespace

TEST_F(CliTest, ModelsAreListedAsStartUpReadsThem) {
    const CliRun run = Cli("package models");
    EXPECT_EQ(run.status, 0) << run.err;
    // Each model with the firmware version a camera reports once upgraded.
    EXPECT_EQ(run.out,
              "ORV-2C    V01.03.002.001:V01.06\n"
              "ORV-2C-L  V01.03.002.001:V01.06\n"
              "ORV-2M    V01.03.002.001:V01.06\n"
              "ORV-2M-L  V01.03.002.001:V01.06\n");
    EXPECT_FALSE(fs::exists(TempDir() / "Config.ini"));
}

TEST_F(CliTest, CompilePrintsHexOrWritesTheImage) {
    const std::string table =
        Table("seg.csv", "2,4,0,ui32CRCCode\n2,2,0x1234,a\n2,4,0,ui32CRCCode\n2,1,7,b\n1,0x55aa\n");
    m_scratch.Write("seg.bin", "the user's own file");
    CliRun run = Cli("package compile '" + table + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "7d970000341282fe000007\n");
    EXPECT_EQ(ReadBytes(m_scratch.Path() / "seg.bin").size(), 19u) << "a file beside the table is never touched";

    const fs::path image = m_scratch.Path() / "out.img";
    run = Cli("package compile '" + table + "' -o '" + image.string() + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(image), Bytes({0x7D, 0x97, 0, 0, 0x34, 0x12, 0x82, 0xFE, 0, 0, 0x07}));
    EXPECT_TRUE(fs::is_empty(TempDir()));
}

TEST_F(CliTest, CompileFailuresExitWithTheCompilerCode) {
    const struct {
        const char* table;
        int status;
    } cases[] = {
        {"", 2},
        {"0x0,,,\n0,16,,\n1,4,X,\n7,1,1,\n1,0x55aa,,\n", 2},
        {"0x0,,,\n0,16,,\n1,4,X,\n4,2,abc,\n1,0x55aa,,\n", 3},
        {"0x0,,,\n0,16,,\n1,8,X,\n3,4,1,2,\n1,0x55aa,,\n", 4},
        {"0x0,,,\n0,0xFFFFFFFFFFFF,,\n", 5},
        {"2,4,0,ui32CRCCode\n2,2,1,a\n", 6},
    };
    for (const auto& c : cases) {
        const CliRun run = Cli("package compile '" + Table("t.csv", c.table) + "'");
        EXPECT_EQ(run.status, c.status) << c.table;
        EXPECT_TRUE(run.out.empty()) << c.table;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("code " + std::to_string(c.status)), std::string::npos) << run.err;
    }
    const CliRun missing = Cli("package compile '" + (m_scratch.Path() / "missing.csv").string() + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST_F(CliTest, PlanListsRegionsAndWritesThemAsTheWorkerBuildsThem) {
    const fs::path out = m_scratch.Path() / "regions";
    CliRun run = Cli("package plan ORV-2C-L --device-id CAM7 --json -o '" + out.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto listed = nlohmann::json::parse(run.out);
    ASSERT_EQ(listed.size(), 11u);
    EXPECT_FALSE(fs::exists(TempDir() / "Config.ini")) << "the run's file goes when the plan is done";

    // The same plan, built in this process.
    std::wstring config;
    ASSERT_EQ(package::WriteRunPackageConfig(config), package::ERunConfigResult::kWritten);
    CUpgradeFile plan;
    ASSERT_TRUE(plan.LoadBurnList(L"ORV-2C-L", "CAM8"));
    ASSERT_TRUE(plan.PrepareBurnFiles());
    std::vector<CRegion*> regions;
    plan.GetRegions(regions);
    ASSERT_EQ(regions.size(), 11u);
    for (std::size_t i = 0; i < regions.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%02zu-0x%x.bin", i, regions[i]->GetAddress());
        const std::vector<std::uint8_t> bytes(regions[i]->GetData(), regions[i]->GetData() + regions[i]->GetSize());
        EXPECT_EQ(ReadBytes(out / name), bytes) << name;
        const auto digest = package::ComputeSha1(bytes.data(), bytes.size());
        char address[16];
        std::snprintf(address, sizeof address, "0x%x", regions[i]->GetAddress());
        EXPECT_EQ(listed[i]["address"], address);
        EXPECT_EQ(listed[i]["type"], regions[i]->GetFileType());
        EXPECT_EQ(listed[i]["size"], regions[i]->GetSize());
        EXPECT_EQ(listed[i]["sha1"], package::ToHex(digest.data(), digest.size()));
    }

    run = Cli("package plan ORV-2C");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 11);
    EXPECT_EQ(run.out.rfind("00  0x1200000  0 Binary ", 0), 0u) << run.out;
}

TEST_F(CliTest, UnknownModelFailsWithStatusOne) {
    for (const char* model : {"ORV-9", "orv-2c"}) {
        const CliRun run = Cli(std::string("package plan ") + model);
        EXPECT_EQ(run.status, 1) << model;
        EXPECT_NE(run.err.find("not in the upgrade package"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}
