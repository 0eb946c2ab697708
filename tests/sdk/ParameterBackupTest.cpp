#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "camera/DeviceManager.h"
#include "package/PackageConfig.h"
#include "package/TempFiles.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Library.h"
#include "testbed/Process.h"

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Calls(const SimulatedCameras& sim, const std::string& deviceId = "") {
    return sim.Calls({.deviceId = deviceId, .source = "sdk"});
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) files.push_back(entry.path());
    return files;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(ParameterBackup, ExportPassSavesEveryCameraAndKeepsADatedCopy) {
    SimulatedCameras sim(Description({Camera("SN1"), Camera("SN2", "ORV-2M")}));
    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager)) << platform::WideToAnsi(manager.GetErrorText());

    EXPECT_EQ(Calls(sim), (Strings{"ZvIAPI_100", "ZvIAPI_200", "ZvIAPI_201", "ZvIAPI_301", "ZvIAPI_301", "ZvIAPI_412",
                                   "ZvIAPI_421", "ZvIAPI_700", "ZvIAPI_412", "ZvIAPI_421", "ZvIAPI_700", "ZvIAPI_302",
                                   "ZvIAPI_302", "ZvIAPI_101"}));
    EXPECT_EQ(Calls(sim, "SIM-SN1"), (Strings{"ZvIAPI_301", "ZvIAPI_412", "ZvIAPI_421", "ZvIAPI_700", "ZvIAPI_302"}));
    for (const json& event : sim.Events()) {
        if (event["call"] == "ZvIAPI_301") {
            EXPECT_EQ(event["reserved"], 0);
            EXPECT_EQ(event["access_mode"], 4);
        }
        if (event["call"] == "ZvIAPI_412") {
            EXPECT_EQ(event["value"], 1);
        }
    }
    for (const char* identity : {"SN1", "SN2"}) {
        const fs::path file = sim.ProgramTempFolder() / (std::string(identity) + ".ini");
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_GT(fs::file_size(file), 0u);
    }
    EXPECT_TRUE(manager.GetDeviceList().empty());

    // Every export leaves its own dated copy, so a second export does not replace the first.
    ASSERT_TRUE(ExportUserParams(manager));
    std::vector<fs::path> copies = FilesIn(sim.BackupFolder());
    ASSERT_EQ(copies.size(), 4u);
    int sn1Copies = 0;
    for (const fs::path& copy : copies) {
        if (copy.filename().string().rfind("SN1_", 0) == 0) ++sn1Copies;
        EXPECT_EQ(copy.extension(), ".ini");
    }
    EXPECT_EQ(sn1Copies, 2);
    // Where the system keeps access in mode bits; a Windows folder's access list is tested with the platform layer.
    if ((fs::status(sim.Root()).permissions() & fs::perms::others_all) != fs::perms::others_all) {
        EXPECT_EQ(fs::status(sim.BackupFolder()).permissions() & fs::perms::all, fs::perms::owner_all);
    }
}

TEST(ParameterBackup, ImportPassLoadsTheFileThenStoresItInTheCamera) {
    SimulatedCameras sim(Description({Camera("SN1")}));
    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager));
    const std::size_t exportEvents = sim.Events().size();
    ASSERT_TRUE(ImportUserParams(manager)) << platform::WideToAnsi(manager.GetErrorText());

    Strings imported;
    std::vector<json> events = sim.Events();
    for (std::size_t i = exportEvents; i < events.size(); ++i) {
        const json& e = events[i];
        std::string call = e["call"];
        if (call == "ZvIAPI_412") call += "=" + std::to_string(e["value"].get<long long>());
        if (call == "ZvIAPI_421") call += ":" + e["feature"].get<std::string>();
        imported.push_back(call);
        EXPECT_EQ(e["result"], 0) << e.dump();
    }
    EXPECT_EQ(imported,
              (Strings{"ZvIAPI_100", "ZvIAPI_200", "ZvIAPI_201", "ZvIAPI_301", "ZvIAPI_701", "ZvIAPI_412=1",
                       "ZvIAPI_421:0x70001b5a", "ZvIAPI_412=0", "ZvIAPI_421:0x70001b59", "ZvIAPI_302", "ZvIAPI_101"}));
}

TEST(ParameterBackup, CamerasThatCannotTakePartAreSkippedQuietly) {
    json otherClass = Camera("SN2");
    otherClass["faults"] = {{"sdk_class_code", 5}};
    json unopened = Camera("SN3");
    unopened["faults"] = {{"sdk_open", true}};
    json exportFails = Camera("SN4");
    exportFails["faults"] = {{"sdk_export_fails", 412}};
    SimulatedCameras sim(Description({Camera("SN1"), otherClass, unopened, exportFails}));

    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager));
    EXPECT_EQ(Calls(sim, "SIM-SN1"), (Strings{"ZvIAPI_301", "ZvIAPI_412", "ZvIAPI_421", "ZvIAPI_700", "ZvIAPI_302"}));
    EXPECT_EQ(Calls(sim, "SIM-SN2"), Strings{}) << "another class code gets no record";
    EXPECT_EQ(Calls(sim, "SIM-SN3"), Strings{"ZvIAPI_301"}) << "an unopened camera is neither exported nor closed";
    EXPECT_EQ(Calls(sim, "SIM-SN4"), (Strings{"ZvIAPI_301", "ZvIAPI_412", "ZvIAPI_302"}));
    EXPECT_TRUE(manager.GetErrorText().empty());
    EXPECT_TRUE(fs::exists(sim.ProgramTempFolder() / "SN1.ini"));
    for (const char* absent : {"SN2.ini", "SN3.ini", "SN4.ini"})
        EXPECT_FALSE(fs::exists(sim.ProgramTempFolder() / absent));
    EXPECT_EQ(FilesIn(sim.BackupFolder()).size(), 1u);

    // The import pass skips them the same way.
    ASSERT_TRUE(ImportUserParams(manager));
    EXPECT_EQ(Calls(sim, "SIM-SN3"), (Strings{"ZvIAPI_301", "ZvIAPI_301"}));
}

TEST(ParameterBackup, FailuresOfTheSdkAreReportedWithItsDescription) {
    struct Case {
        const char* name;
        json sdkFaults;
        bool exportPass;
        std::wstring expectedText;
        Strings expectedCalls;
    } cases[] = {
        {"open fails",
         {{"init", -14}},
         true,
         L"{-14}{CAPIDeviceManager::InitEnvironment:line[32]}{Access to the camera was denied}",
         {"ZvIAPI_100"}},
        {"listing fails",
         {{"list", -12}},
         false,
         L"{-12}{CAPIDeviceManager::UpdateDeviceList:line[188]}{The camera did not respond}",
         {"ZvIAPI_100", "ZvIAPI_200", "ZvIAPI_101"}},
        {"entries fail, no description",
         {{"info", -1}, {"describe", false}},
         true,
         L"{-1}{CAPIDeviceManager::UpdateDeviceList:line[188]}{Interface call failed}",
         {"ZvIAPI_100", "ZvIAPI_200", "ZvIAPI_201", "ZvIAPI_101"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json description = Description({Camera("SN1")});
        description["sdk"] = c.sdkFaults;
        SimulatedCameras sim(description);
        CAPIDeviceManager manager;
        const bool ok = c.exportPass ? ExportUserParams(manager) : ImportUserParams(manager);
        EXPECT_FALSE(ok);
        EXPECT_EQ(manager.GetErrorText(), c.expectedText);
        EXPECT_EQ(Calls(sim), c.expectedCalls);
        EXPECT_TRUE(manager.GetDeviceList().empty());
    }
}

TEST(ParameterBackup, NoCameraAttachedIsASuccessfulEmptyListing) {
    SimulatedCameras sim(Description({}));
    CAPIDeviceManager manager;
    EXPECT_TRUE(ExportUserParams(manager)) << platform::WideToAnsi(manager.GetErrorText());
    EXPECT_EQ(Calls(sim), (Strings{"ZvIAPI_100", "ZvIAPI_200", "ZvIAPI_201", "ZvIAPI_101"}));
    EXPECT_TRUE(ImportUserParams(manager));
}

// Windows finds a library by its bare name beside the running program first,
// and the test program lies beside the simulated SDK.
bool SystemFindsTheSdkByName() {
    try {
        const testbed::LoadedLibrary sdk(platform::ToNativePath(platform::LibraryFileName(L"ZvIAPI")));
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

TEST(ParameterBackup, MissingLibraryOrEntryPointIsAFailureText) {
    SimulatedCameras sim(Description({Camera("SN1")}));
    if (!SystemFindsTheSdkByName()) {
        CAPIDeviceManager manager(platform::FromNativePath(sim.Root().string()));
        EXPECT_FALSE(ExportUserParams(manager));
        const std::wstring text = manager.GetErrorText();
        EXPECT_EQ(text.rfind(L"{-1}{CAPIDeviceManager::InitEnvironment:line[32]}{", 0), 0u)
            << platform::WideToAnsi(text);
        EXPECT_NE(text.find(platform::LibraryFileName(L"ZvIAPI")), std::wstring::npos);
    }
    {
        const fs::path partial = testbed::BinDir() / "partial-sdk";
        CAPIDeviceManager manager(platform::FromNativePath(partial.string()));
        EXPECT_FALSE(ExportUserParams(manager));
        EXPECT_EQ(manager.GetErrorText(),
                  L"{-1}{CAPIDeviceManager::UpdateDeviceList:line[188]}{Interface call failed}");
    }
}

TEST(ParameterBackup, AnIdentityCannotPlaceItsFileOutsideTheTemporaryFolder) {
    json hostile = Camera("SN1");
    hostile["sdk_identity"] = "../../escaped/..\\x\x01y";
    SimulatedCameras sim(Description({hostile}));
    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager));
    const std::vector<fs::path> files = FilesIn(sim.ProgramTempFolder());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].parent_path(), sim.ProgramTempFolder());
    EXPECT_FALSE(fs::exists(sim.Root() / "escaped"));
    EXPECT_FALSE(fs::exists(sim.Root() / "runtime" / "escaped"));
    ASSERT_TRUE(ImportUserParams(manager));
    EXPECT_EQ(Calls(sim, "SIM-SN1").back(), "ZvIAPI_302");
    for (const json& e : sim.Events()) {
        if (e["call"] == "ZvIAPI_701") {
            EXPECT_EQ(e["result"], 0) << "the import finds the file the export wrote";
        }
    }
}

namespace {

// Standard output and error together, as a person at the terminal sees them.
testbed::ProcessResult RunCli(const std::string& arguments) {
    testbed::ProcessOptions options;
    options.errorIntoOutput = true;
    return testbed::RunCli(arguments, options);
}

}  // namespace

TEST(ParameterBackup, CommandLinePassesReportEachCameraAndLeaveNoFileBehind) {
    json importFails = Camera("SN2");
    importFails["faults"] = {{"sdk_import_fails", 701}};
    SimulatedCameras sim(Description({Camera("SN1"), importFails}));
    testbed::ProcessResult exported = RunCli("params export");
    EXPECT_EQ(exported.exitCode, 0) << exported.out;
    EXPECT_NE(exported.out.find("SN1: saved (copy "), std::string::npos) << exported.out;
    // The tool removes its temporary folder when it ends, so a later import can
    // never load a stale file of an earlier export.
    EXPECT_FALSE(fs::exists(sim.ProgramTempFolder()));
    testbed::ProcessResult imported = RunCli("params import");
    EXPECT_EQ(imported.exitCode, 1) << imported.out;
    EXPECT_NE(imported.out.find("SN1: NOT restored: no parameter file"), std::string::npos) << imported.out;
    EXPECT_EQ(Calls(sim, "SIM-SN1"), (Strings{"ZvIAPI_301", "ZvIAPI_412", "ZvIAPI_421", "ZvIAPI_700", "ZvIAPI_302",
                                              "ZvIAPI_301", "ZvIAPI_302"}))
        << "no file: nothing is loaded into the camera";

    // params restore loads the latest dated copy; a failed load is reported per camera.
    testbed::ProcessResult restored = RunCli("params restore SN1 SN2 SN9");
    EXPECT_EQ(restored.exitCode, 1) << restored.out;
    EXPECT_NE(restored.out.find("SN1: restored from " + (sim.BackupFolder() / "SN1_").string()), std::string::npos)
        << restored.out;
    EXPECT_NE(restored.out.find("SN2: NOT restored: ordinal 701 failed"), std::string::npos) << restored.out;
    EXPECT_NE(restored.out.find("SN9: NOT restored: the SDK does not list"), std::string::npos) << restored.out;

    json none = Description({});
    sim.WriteDescription(none);
    for (const char* command : {"params export", "params import", "params restore SN1"}) {
        testbed::ProcessResult empty = RunCli(command);
        EXPECT_EQ(empty.exitCode, 2) << command << ": " << empty.out;
        EXPECT_NE(empty.out.find("no camera is attached"), std::string::npos) << empty.out;
    }

    json broken = Description({Camera("SN1")});
    broken["sdk"] = {{"init", -14}};
    sim.WriteDescription(broken);
    testbed::ProcessResult failed = RunCli("params import");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("{-14}{CAPIDeviceManager::InitEnvironment:line[32]}"), std::string::npos) << failed.out;

    // An unusable temporary folder: exit 1 naming the folder and the reason, and no SDK call at all.
    sim.WriteDescription(Description({Camera("SN1")}));
    const std::size_t eventsBefore = sim.Events().size();
    fs::create_directories(sim.Root() / "elsewhere");
    if (!testbed::MakeDirectoryLink(sim.Root() / "elsewhere", sim.ProgramTempFolder()))
        GTEST_SKIP() << "this system cannot make folder links";
    for (const char* command : {"params export", "params import"}) {
        testbed::ProcessResult refused = RunCli(command);
        EXPECT_EQ(refused.exitCode, 1) << command;
        EXPECT_NE(refused.out.find(sim.ProgramTempFolder().string() + " cannot be used: it is a symbolic link"),
                  std::string::npos)
            << refused.out;
    }
    EXPECT_EQ(sim.Events().size(), eventsBefore);
}

TEST(ParameterBackup, ParametersChangedBeforeAnUpgradeAreBackAfterTheImport) {
    constexpr std::uint32_t kExposure = 0x30001770;
    SimulatedCameras sim(Description({Camera("SN1")}));
    ASSERT_TRUE(testbed::SetLiveParameter("SN1", kExposure, 5555));
    const std::int64_t factory = 10000;
    ASSERT_EQ(sim.LiveParameter("SIM-SN1", kExposure), 5555);

    CAPIDeviceManager parameters;
    ASSERT_TRUE(ExportUserParams(parameters)) << platform::WideToAnsi(parameters.GetErrorText());

    {
        CDeviceManager cameras;
        ASSERT_TRUE(cameras.InitEnvironment(L"ZvU3VTL.cti")) << platform::WideToAnsi(cameras.GetErrorText());
        ASSERT_TRUE(LoadPackageConfig(cameras.ModelList()));
        cameras.UpdateDeviceList();
        std::wstring configPath;
        ASSERT_EQ(package::WriteRunPackageConfig(configPath), package::ERunConfigResult::kWritten);
        ASSERT_EQ(cameras.GetDeviceList().size(), 1u);
        CU3VDevice* camera = cameras.GetDeviceList()[0];
        camera->StartUpgrade();
        camera->GetThread()->Join();
        ASSERT_EQ(camera->GetStatusCode(), 0) << platform::WideToAnsi(camera->GetStatusText());
        cameras.ReleaseEnvironment();
    }
    // The upgrade reboots the camera with factory parameters; the import
    // needs it back on the bus.
    EXPECT_EQ(sim.LiveParameter("SIM-SN1", kExposure), factory);
    ASSERT_TRUE(sim.WaitPastReboot("SIM-SN1"));

    ASSERT_TRUE(ImportUserParams(parameters)) << platform::WideToAnsi(parameters.GetErrorText());
    EXPECT_EQ(sim.LiveParameter("SIM-SN1", kExposure), 5555);
}

TEST(ParameterBackup, EveryIdentityGetsAFileOfItsOwn) {
    // Identities the safe-name rule would merge, one naming another file of the
    // folder, and one too long for a file name.
    const std::vector<std::string> identities = {"CAM/1", "CAM_1", "Config", std::string(250, 'L'),
                                                 "CAM_1-0123456789abcdef"};
    std::vector<json> cameras;
    for (std::size_t i = 0; i < identities.size(); ++i) {
        json camera = Camera("SN" + std::to_string(i));
        camera["sdk_identity"] = identities[i];
        cameras.push_back(camera);
    }
    SimulatedCameras sim(Description(cameras));
    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager)) << platform::WideToAnsi(manager.GetErrorText());
    ASSERT_EQ(manager.GetCameraParameters().size(), identities.size());
    std::set<std::wstring> files;
    for (const CameraParameters& camera : manager.GetCameraParameters()) {
        ASSERT_TRUE(camera.exported && camera.exported->succeeded) << camera.identity;
        files.insert(camera.file);
        const fs::path file = platform::ToNativePath(camera.file);
        EXPECT_LE(file.filename().string().size(), 255u);
        EXPECT_EQ(file.parent_path(), sim.ProgramTempFolder());
        // The file holds this camera's parameters, not another's.
        std::ifstream in(file);
        EXPECT_EQ(json::parse(in)["serial"], camera.serial) << camera.identity;
    }
    EXPECT_EQ(files.size(), identities.size());
    const std::string configName =
        fs::path(platform::ToNativePath(manager.FindBySerial("SN2")->file)).filename().string();
    EXPECT_EQ(configName.rfind("Config-", 0), 0u) << configName;
    EXPECT_EQ(configName.size(), std::string("Config-0123456789abcdef.ini").size()) << configName;

    // Each camera's import loads its own file, and the latest copy is found by identity.
    ASSERT_TRUE(ImportUserParams(manager));
    for (const json& event : sim.Events()) {
        if (event["call"] != "ZvIAPI_701") continue;
        EXPECT_EQ(event["result"], 0);
        const CameraParameters* camera = manager.FindBySerial(event["device_id"].get<std::string>().substr(4));
        ASSERT_NE(camera, nullptr);
        EXPECT_EQ(event["path"], platform::ToNativePath(camera->file));
    }
    for (const CameraParameters& camera : manager.GetCameraParameters())
        EXPECT_EQ(FindLatestPersistentCopy(camera.identity), camera.persistentCopy) << camera.identity;
}

TEST(ParameterBackup, BackupFolderThatIsALinkIsRefusedAndLeftAlone) {
    SimulatedCameras sim(Description({Camera("SN1")}));
    const fs::path target = sim.Root() / "someone-elses";
    fs::create_directories(target);
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(sim.BackupFolder().parent_path());
    if (!testbed::MakeDirectoryLink(target, sim.BackupFolder())) GTEST_SKIP() << "this system cannot make folder links";
    CAPIDeviceManager manager;
    ASSERT_TRUE(ExportUserParams(manager));
    const CameraParameters* camera = manager.FindBySerial("SN1");
    ASSERT_NE(camera, nullptr);
    EXPECT_TRUE(camera->exported->succeeded);
    EXPECT_TRUE(camera->persistentCopy.empty());
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_all | fs::perms::group_read |
                                                                     fs::perms::group_exec | fs::perms::others_read |
                                                                     fs::perms::others_exec);
}
