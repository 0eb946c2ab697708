// flashwright-cli list / upgrade against the simulated producer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Process.h"
#include "camera/GenTLLib.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;

using testbed::ProcessResult;
using testbed::RunCli;

std::filesystem::path RunConfigFile() {
    return std::filesystem::path(platform::ToNativePath(package::GetTempDirectoryPath())) / "Config.ini";
}

// The producer's last events are the release: the transport layer (refused by
// the simulator when it never opened), then the library.
void ExpectProducerReleased(const SimulatedCameras& sim, bool transportLayerOpened = true) {
    std::vector<json> calls;
    for (const json& e : sim.Events())
        if (e.value("source", "") == "producer") calls.push_back(e);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back()["call"], "GCCloseLib");
    EXPECT_EQ(calls.back()["result"], 0);
    EXPECT_EQ(calls[calls.size() - 2]["call"], "TLClose");
    EXPECT_EQ(calls[calls.size() - 2]["result"], transportLayerOpened ? 0 : -1006);  // GC_ERR_INVALID_HANDLE
}

TEST(CameraCliTest, ListShowsIdentityTargetAndState) {
    json unsupported = Camera("B2", "ORV-9X");
    json unopened = Camera("C3", "ORV-2M");
    unopened["faults"] = {{"open", -1005}};
    json held = Camera("D4", "ORV-2M");
    held["faults"] = {{"open", -1004}};
    json current = Camera("E5", "ORV-2M-L");
    current["firmware_version"] = "V01.03.002.001:V01.06";
    json tooNew = Camera("F6", "ORV-2C");
    tooNew["firmware_version"] = "V01.04.001.002:V01.05";  // the version rule wants major 03
    json oldFlash = Camera("G7", "ORV-2C");
    oldFlash["faults"] = {{"vendor_read", -1010}};
    SimulatedCameras sim(
        Description({Camera("A1", "ORV-2C-L"), unsupported, unopened, held, current, tooNew, oldFlash}));
    const ProcessResult result = RunCli("list --json");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json list = json::parse(result.out);
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[0], (json{{"device_id", "SIM-A1"},
                             {"model", "ORV-2C-L"},
                             {"serial", "A1"},
                             {"guid", "GA10000000000000"},
                             {"device_version", "1.1_2.1_2.0"},
                             {"firmware_version", "V01.03.001.002:V01.05"},
                             {"factory_version", "V01.00.000.001"},
                             {"xml_version", "1.0.3"},
                             {"opened", true},
                             {"eligible", true},
                             {"status_code", -1},
                             {"status", ""},
                             {"target_version", "V01.03.002.001:V01.06"},
                             {"state", "upgradable"}}));
    const struct {
        std::size_t row;
        const char* state;
        int statusCode;
        const char* target;
    } expected[] = {
        {1, "unsupported", 28, ""},
        {2, "not opened", 2, "V01.03.002.001:V01.06"},
        {3, "in use", 2, "V01.03.002.001:V01.06"},
        {4, "up to date", -1, "V01.03.002.001:V01.06"},
        {5, "incompatible", 13, "V01.03.002.001:V01.06"},
        {6, "incompatible", 29, "V01.03.002.001:V01.06"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(list[e.row].dump());
        EXPECT_EQ(list[e.row]["state"], e.state);
        EXPECT_EQ(list[e.row]["status_code"], e.statusCode);
        EXPECT_EQ(list[e.row]["target_version"], e.target);
    }
    EXPECT_EQ(list[1]["eligible"], false);
    EXPECT_EQ(list[2]["opened"], false);
    EXPECT_EQ(list[2]["status"], "Open device error");
    // Listing writes nothing.
    for (const char* call : {"DPEnterUpgradeMode", "DPWriteUpgradeFile"})
        for (const char* id : {"SIM-A1", "SIM-F6", "SIM-G7"})
            EXPECT_TRUE(sim.Events({.deviceId = id, .call = call}).empty()) << id << call;
    ExpectProducerReleased(sim);

    // The table names a camera that cannot be opened by the serial number the
    // producer lists; -v adds the error records' texts.
    const ProcessResult table = RunCli("list -v");
    ASSERT_EQ(table.exitCode, 0);
    EXPECT_NE(table.out.find("ORV-2C-L  A1"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("ORV-2M    C3"), std::string::npos) << table.out;
    EXPECT_NE(table.err.find("D4: {-1004}{CU3VDevice::OpenDevice:line[251]}"), std::string::npos) << table.err;
    EXPECT_EQ(RunCli("list").err, "");
}

TEST(CameraCliTest, ProducerFailureExitsWithTheManagersText) {
    SimulatedCameras sim(Description({Camera("A1")}));
    // Unset: no folder is searched, not even the one the tool lies in.
    testbed::ProcessOptions options;
    options.environment = {{platform::WideToAnsi(ProducerPathVariableName()), std::nullopt}};
    const ProcessResult missing = RunCli("list", options);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("Load TL library error!"), std::string::npos) << missing.err;
}

TEST(CameraCliTest, ProducerThatCannotOpenExitsWithTheManagersText) {
    json description = Description({Camera("A1")});
    description["producer"] = {{"tl_open", -1001}};
    SimulatedCameras sim(description);
    const ProcessResult result = RunCli("upgrade --all");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("{-1001}{CDeviceManager::InitEnvironment:line[405]}"), std::string::npos) << result.err;
    ExpectProducerReleased(sim, false);
}

TEST(CameraCliTest, UpgradeReportsEachCameraAndItsExitStatus) {
    json failing = Camera("B2");
    // The first region is written, the second fails: the camera reboots with
    // its old firmware, and the run waits for it like for the others.
    failing["faults"] = {{"write_fails_at", "0x12f0000"}};
    SimulatedCameras sim(Description({Camera("A1"), failing, Camera("C3", "ORV-9X")}));

    const ProcessResult result = RunCli("upgrade A1 B2 --json");
    ASSERT_EQ(result.exitCode, 1) << result.err;
    const json runs = json::parse(result.out);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0]["device_id"], "SIM-A1");
    EXPECT_EQ(runs[0]["serial"], "A1");
    EXPECT_EQ(runs[0]["status_code"], 0);
    EXPECT_EQ(runs[0]["status"], "Success");
    EXPECT_GE(runs[0]["seconds"].get<double>(), 0.0);
    EXPECT_EQ(runs[1]["status_code"], 22);
    EXPECT_EQ(runs[1]["status"], "Burning the firmware failed");
    EXPECT_EQ(runs[1]["outcome"], "failed");
    EXPECT_EQ(runs[1]["back"], true);
    EXPECT_EQ(runs[1]["firmware_version"], "V01.03.001.002:V01.05");
    EXPECT_FALSE(std::filesystem::exists(RunConfigFile()));
    ExpectProducerReleased(sim);

    // An unsupported camera is never eligible; only the ones asked for are started.
    EXPECT_EQ(RunCli("upgrade C3").exitCode, 2);
    EXPECT_EQ(RunCli("upgrade NO-SUCH").exitCode, 2);
    EXPECT_TRUE(sim.Events({.deviceId = "SIM-C3", .call = "DPEnterUpgradeMode"}).empty());

    // A1 came back with the release; asked again, it upgrades alone and cleanly.
    ProcessResult again;
    for (int attempt = 0; attempt < 100; ++attempt) {
        again = RunCli("upgrade A1 --reinstall --json");
        if (again.exitCode != 2) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(json::parse(again.out).size(), 1u);
    EXPECT_EQ(sim.Events({.deviceId = "SIM-A1", .call = "DPEnterUpgradeMode"}).size(), 2u);
}

// --reboot-timeout bounds the wait for a camera that never comes back; the
// run ends as soon as the others are back when every camera returns.
TEST(CameraCliTest, RebootTimeoutBoundsTheWaitForACameraThatNeverReturns) {
    json lost = Camera("B2");
    lost["faults"] = {{"returns", false}};
    SimulatedCameras sim(Description({Camera("A1"), lost}));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = RunCli("upgrade --all --json --reboot-timeout 1.5");
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(result.exitCode, 1) << result.err;
    const json runs = json::parse(result.out);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0]["back"], true);
    EXPECT_EQ(runs[1]["status"], "Success");
    EXPECT_EQ(runs[1]["back"], false);
    EXPECT_EQ(runs[1]["outcome"], "not-back");
    EXPECT_EQ(runs[1]["result"], "Not back");
    EXPECT_GE(took, std::chrono::milliseconds(1500));
    EXPECT_LT(took, std::chrono::seconds(8)) << "the default bound is 21 s";

    for (const char* bad : {"0", "-3", "soon"}) {
        const ProcessResult refused = RunCli(std::string("upgrade --all --reboot-timeout ") + bad);
        EXPECT_NE(refused.exitCode, 0) << bad;
        EXPECT_NE(refused.err.find("--reboot-timeout"), std::string::npos) << bad << ": " << refused.err;
    }
}

TEST(CameraCliTest, EveryNameIsMatchedBeforeAnythingIsExportedOrWritten) {
    json unopened = Camera("D4");
    unopened["faults"] = {{"open", -1005}};
    SimulatedCameras sim(Description({Camera("A1"), Camera("B2"), Camera("C3", "ORV-9X"), unopened}));
    const ProcessResult result = RunCli("upgrade A1 B2O C3 SIM-D4");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    for (const char* reason : {"B2O: no attached camera has this serial number or device id",
                               "C3: the package does not serve the model ORV-9X",
                               "SIM-D4: the camera could not be opened (Open device error)"})
        EXPECT_NE(result.err.find(reason), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("A1:"), std::string::npos) << result.err;
    // No upgrade mode, no flash, and the SDK never opened a camera to export.
    for (const json& event : sim.Events()) {
        EXPECT_NE(event["call"], "DPEnterUpgradeMode");
        EXPECT_NE(event["call"], "DPWriteUpgradeFile");
        EXPECT_NE(event["source"], "sdk") << event.dump();
    }
    EXPECT_FALSE(std::filesystem::exists(sim.ProgramStateFolder() / "history.jsonl"));

    // A device id stands for its camera where a serial does.
    const ProcessResult byId = RunCli("upgrade SIM-A1 --json");
    ASSERT_EQ(byId.exitCode, 0) << byId.err;
    EXPECT_EQ(json::parse(byId.out)[0]["serial"], "A1");
}

}  // namespace
