// flashwright-cli keeps the cameras' user parameters safe across whole runs,
// checked with real processes: a camera without a backup is not flashed, a
// failed restore is reported and recorded, a second process is refused, a
// broken pipe or SIGQUIT does not end a run, and a killed run is recovered.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SimulatedCameras.h"

namespace {

using camtest::Camera;
using camtest::Description;
using camtest::json;
using camtest::SimulatedCameras;
namespace fs = std::filesystem;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

CliResult RunCli(const SimulatedCameras& sim, const std::string& arguments) {
    const fs::path errFile = sim.StateFolder() / "cli-stderr.txt";
    const std::string command =
        (camtest::BinDir() / "flashwright-cli").string() + " " + arguments + " 2> " + errFile.string();
    CliResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(errFile);
    return result;
}

// flashwright-cli started in the background; standard output goes to a pipe
// the test may close, standard error to a file.
class BackgroundCli {
public:
    BackgroundCli(const SimulatedCameras& sim, std::vector<std::string> arguments) {
        m_errFile = sim.StateFolder() / ("background-stderr-" + std::to_string(++s_count) + ".txt");
        int fds[2];
        if (::pipe(fds) != 0) return;
        const std::string program = (camtest::BinDir() / "flashwright-cli").string();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            const int err = ::open(m_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (std::string& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_readEnd = fds[0];
    }
    ~BackgroundCli() {
        if (m_pid > 0 && !m_waited) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        CloseOutput();
    }
    pid_t Pid() const { return m_pid; }
    void CloseOutput() {
        if (m_readEnd >= 0) ::close(m_readEnd);
        m_readEnd = -1;
    }
    // The raw wait status.
    int Wait() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_waited = true;
        return status;
    }
    std::string Err() const { return ReadText(m_errFile); }

private:
    static inline int s_count = 0;
    pid_t m_pid = -1;
    int m_readEnd = -1;
    bool m_waited = false;
    fs::path m_errFile;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

fs::path TempFolder(const SimulatedCameras& sim) { return sim.StateFolder() / "runtime" / "U3TempFileDirectory"; }
fs::path RecordFile(const SimulatedCameras& sim) {
    return sim.StateFolder() / "xdg-state" / "flashwright" / "unfinished-run.json";
}

json WithFaults(json camera, json faults) {
    camera["faults"] = std::move(faults);
    return camera;
}

json ResultOf(const json& results, const std::string& serial) {
    for (const json& result : results)
        if (result["serial"] == serial) return result;
    return json();
}

TEST(ParameterSafetyCliTest, CameraWithoutABackupIsNotFlashedUnlessTheUserAllowsIt) {
    SimulatedCameras sim(Description({Camera("A1"), WithFaults(Camera("B2"), {{"sdk_export_fails", 700}}),
                                      WithFaults(Camera("C3"), {{"sdk_open", true}}),
                                      WithFaults(Camera("D4"), {{"sdk_class_code", 5}})}));
    const CliResult result = RunCli(sim, "upgrade --all --json");
    ASSERT_EQ(result.status, 1) << result.err;
    const json results = json::parse(result.out);
    ASSERT_EQ(results.size(), 4u) << result.out;
    const struct {
        const char* serial;
        const char* status;
        json saved;
        json restored;
    } expected[] = {
        {"A1", "Success", true, true},
        {"B2", "User parameters not saved", false, nullptr},
        {"C3", "User parameters not saved", false, nullptr},
        {"D4", "Success", nullptr, nullptr},  // not listed by the SDK: upgraded, no backup
    };
    for (const auto& row : expected) {
        const json camera = ResultOf(results, row.serial);
        EXPECT_EQ(camera["status"], row.status) << row.serial;
        EXPECT_EQ(camera["parameters_saved"], row.saved) << row.serial;
        EXPECT_EQ(camera["parameters_restored"], row.restored) << row.serial;
        const bool held = std::string(row.status) == "User parameters not saved";
        EXPECT_EQ(sim.Events("SIM-" + std::string(row.serial), "DPEnterUpgradeMode").size(), held ? 0u : 1u)
            << row.serial;
    }
    EXPECT_NE(result.err.find("B2: the user parameters could not be saved (ordinal 700 failed"), std::string::npos)
        << result.err;

    // With consent the camera is upgraded; its row says the parameters were not saved.
    const CliResult allowed = RunCli(sim, "upgrade B2 --allow-parameter-loss");
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(allowed.out.find("B2  Success"), std::string::npos) << allowed.out;
    EXPECT_NE(allowed.out.find("not saved: reset to factory values"), std::string::npos) << allowed.out;
    EXPECT_EQ(sim.Events("SIM-B2", "DPEnterUpgradeMode").size(), 1u);
}

TEST(ParameterSafetyCliTest, FailedRestoreIsReportedRecordedAndRecoverable) {
    SimulatedCameras sim(Description({Camera("A1"), WithFaults(Camera("B2"), {{"sdk_import_fails", 701}})}));
    const CliResult result = RunCli(sim, "upgrade --all --json");
    ASSERT_EQ(result.status, 1) << result.err;
    const json results = json::parse(result.out);
    EXPECT_EQ(ResultOf(results, "A1")["parameters_restored"], true);
    EXPECT_EQ(ResultOf(results, "B2")["parameters_restored"], false);
    EXPECT_NE(result.err.find("the user parameters of B2 were saved but not restored (ordinal 701 failed"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("flashwright-cli params restore B2 --from "), std::string::npos) << result.err;

    // The record names B2 only, with its copy; every camera command mentions it.
    const json record = json::parse(ReadText(RecordFile(sim)));
    ASSERT_EQ(record["cameras"].size(), 1u) << record.dump();
    EXPECT_EQ(record["cameras"][0]["serial"], "B2");
    const std::string copy = record["cameras"][0]["copy"];
    EXPECT_TRUE(fs::is_regular_file(copy)) << copy;
    const CliResult listed = RunCli(sim, "list");
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.err.find("params restore --unfinished"), std::string::npos) << listed.err;

    // Still failing: the record stays. Once the camera takes its file, the record goes.
    EXPECT_EQ(RunCli(sim, "params restore --unfinished").status, 1);
    EXPECT_TRUE(fs::exists(RecordFile(sim)));
    sim.WriteDescription(Description({Camera("A1"), Camera("B2")}));
    const CliResult restored = RunCli(sim, "params restore --unfinished");
    EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
    EXPECT_EQ(restored.out, "B2: restored from " + copy + "\n");
    EXPECT_FALSE(fs::exists(RecordFile(sim)));
    const std::vector<json> loads = sim.Events("SIM-B2", "ZvIAPI_701");
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.back()["path"], copy);
    EXPECT_EQ(loads.back()["result"], 0);
}

TEST(ParameterSafetyCliTest, SecondProcessIsRefusedAndTouchesNothingOfTheRunningOne) {
    // A reboot long enough for the refused commands below to run while the
    // watcher waits.
    json camera = Camera("A1");
    camera["reboot_seconds"] = 4;
    SimulatedCameras sim(Description({camera}));
    BackgroundCli run(sim, {"upgrade", "--all"});
    // The workers are done and the watcher waits: Config.ini and A1.ini are in use.
    ASSERT_TRUE(WaitFor([&] { return !sim.Events("SIM-A1", "DPLeaveUpgradeMode").empty(); })) << run.Err();
    const fs::path parameters = TempFolder(sim) / "A1.ini";
    ASSERT_TRUE(fs::exists(TempFolder(sim) / "Config.ini"));
    const std::string savedParameters = ReadText(parameters);
    ASSERT_FALSE(savedParameters.empty());
    // The running run's watcher keeps polling the bus; a process of its own
    // would open a producer (TLOpen) or call the SDK.
    const auto ownStarts = [&] {
        std::size_t count = 0;
        for (const json& event : sim.Events())
            if (event["call"] == "TLOpen" || event["source"] != "producer") ++count;
        return count;
    };
    const std::size_t startsBefore = ownStarts();

    for (const char* command : {"list", "params export", "package plan ORV-2C", "package models", "upgrade --all",
                                "params restore A1"}) {
        const CliResult refused = RunCli(sim, command);
        EXPECT_EQ(refused.status, 1) << command;
        EXPECT_NE(refused.err.find("another Flashwright process is running: process " + std::to_string(run.Pid()) +
                                   " (flashwright-cli upgrade)"),
                  std::string::npos)
            << command << ": " << refused.err;
    }
    EXPECT_EQ(ownStarts(), startsBefore) << "a refused process made no camera call";
    EXPECT_EQ(ReadText(parameters), savedParameters);
    EXPECT_TRUE(fs::exists(TempFolder(sim) / "Config.ini"));

    const int status = run.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << run.Err();
    EXPECT_FALSE(fs::exists(TempFolder(sim))) << "the tool removes its temporary folder when it ends";
}

TEST(ParameterSafetyCliTest, BrokenPipeAndQuitRequestDoNotEndARun) {
    SimulatedCameras sim(Description({Camera("A1")}));
    BackgroundCli run(sim, {"upgrade", "--all"});
    run.CloseOutput();  // as `| head -1` does once it has its line
    ASSERT_TRUE(WaitFor([&] { return !sim.Events("SIM-A1", "DPEnterUpgradeMode").empty(); })) << run.Err();
    ASSERT_EQ(::kill(run.Pid(), SIGQUIT), 0);
    const int status = run.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_NE(run.Err().find("Upgrading is proceeding, please close later!"), std::string::npos) << run.Err();
    EXPECT_EQ(sim.Events("SIM-A1", "DPLeaveUpgradeMode").size(), 1u);
    const std::vector<json> loads = sim.Events("SIM-A1", "ZvIAPI_701");
    ASSERT_EQ(loads.size(), 1u) << "the parameters went back";
    EXPECT_EQ(loads[0]["result"], 0);
    EXPECT_FALSE(fs::exists(TempFolder(sim)));
    EXPECT_FALSE(fs::exists(RecordFile(sim)));
}

TEST(ParameterSafetyCliTest, RunKilledDuringTheRebootWaitIsRecoveredFromTheRecord) {
    json slow = Camera("A1");
    slow["reboot_seconds"] = 1;
    SimulatedCameras sim(Description({slow}));
    {
        BackgroundCli run(sim, {"upgrade", "--all"});
        ASSERT_TRUE(WaitFor([&] { return !sim.Events("SIM-A1", "DPLeaveUpgradeMode").empty(); })) << run.Err();
        ASSERT_EQ(::kill(run.Pid(), SIGKILL), 0);  // as a power loss would
        run.Wait();
    }
    const json record = json::parse(ReadText(RecordFile(sim)));
    ASSERT_EQ(record["cameras"].size(), 1u);
    const std::string copy = record["cameras"][0]["copy"];

    // The next start says so; an export pass does not make it forget the record.
    CliResult exported;
    ASSERT_TRUE(WaitFor([&] {
        exported = RunCli(sim, "params export");
        return exported.status != 2;  // until the camera is back from its reboot
    }));
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.err.find("an earlier upgrade run did not restore the user parameters of 1 camera(s) (A1)"),
              std::string::npos)
        << exported.err;
    const CliResult restored = RunCli(sim, "params restore --unfinished");
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(restored.out, "A1: restored from " + copy + "\n");
    EXPECT_FALSE(fs::exists(RecordFile(sim)));
    EXPECT_EQ(RunCli(sim, "list").err, "");
}

TEST(ParameterSafetyCliTest, RefusedTemporaryFolderStopsBeforeAnyCameraCall) {
    SimulatedCameras sim(Description({Camera("A1")}));
    fs::create_directories(sim.StateFolder() / "elsewhere");
    fs::create_directory_symlink(sim.StateFolder() / "elsewhere", TempFolder(sim));
    for (const char* command : {"upgrade --all", "list", "package plan ORV-2C"}) {
        const CliResult refused = RunCli(sim, command);
        EXPECT_EQ(refused.status, 1) << command;
        EXPECT_NE(refused.err.find(TempFolder(sim).string() + " cannot be used: it is a symbolic link"),
                  std::string::npos)
            << command << ": " << refused.err;
    }
    EXPECT_TRUE(sim.Events().empty());
    EXPECT_TRUE(fs::is_empty(sim.StateFolder() / "elsewhere"));
}

TEST(ParameterSafetyCliTest, CameraTextInTablesHasItsControlCharactersEscaped) {
    json camera = Camera("A1");
    camera["serial"] = "A1\x1b[2J";
    SimulatedCameras sim(Description({camera}));
    const CliResult listed = RunCli(sim, "list");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos);
    EXPECT_NE(listed.out.find("A1\\x1b[2J"), std::string::npos) << listed.out;
}

}  // namespace
