// The upgrade history file: whole records under concurrent appends and after
// a writer is killed mid-append, and the queries of the history command.
#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "run/History.h"
#include "support/Platform.h"
#include "testbed/Environment.h"
#include "testbed/Files.h"
#include "testbed/Folders.h"
#include "testbed/Process.h"

namespace apptest {

using testbed::ScopedEnvironment;
namespace {

namespace fs = std::filesystem;

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override { m_path = m_folder.Path() / "state" / "flashwright" / "history.jsonl"; }

    std::wstring Path() const { return platform::FromNativePath(m_path.string()); }

    std::unique_ptr<testbed::ChildProcess> StartWriter(const std::string& tag, int count, int cameras) {
        auto writer = std::make_unique<testbed::ChildProcess>(
            testbed::BuiltProgram("history_writer"),
            std::vector<std::string>{m_path.string(), tag, std::to_string(count), std::to_string(cameras)});
        EXPECT_TRUE(writer->Started()) << writer->Wait().startError;
        return writer;
    }

    std::vector<RunReport> ReadAll(std::size_t& skipped) const {
        std::vector<RunReport> records;
        std::wstring error;
        EXPECT_TRUE(ReadHistory(Path(), HistoryQuery{}, records, skipped, error)) << platform::WideToAnsi(error);
        return records;
    }

    static RunReport Record(const std::string& started,
                            const std::vector<std::pair<std::string, std::string>>& cameras) {
        RunReport record;
        record.state = ERunState::kCompleted;
        record.started = started;
        record.ended = started;
        record.frontEnd = "dialog";
        for (const auto& [serial, deviceId] : cameras) {
            CameraReport camera;
            camera.selected = true;
            camera.name = serial;
            camera.deviceId = deviceId;
            record.cameras.push_back(camera);
        }
        return record;
    }

    testbed::TempFolder m_folder;
    fs::path m_path;
};

// A record of the writer is whole when every camera it lists is there with
// its full text.
void ExpectWhole(const RunReport& record, int cameras) {
    ASSERT_EQ(record.cameras.size(), static_cast<std::size_t>(cameras)) << record.frontEnd;
    for (int c = 0; c < cameras; ++c) EXPECT_EQ(record.cameras[c].failureText.size(), 200u);
}

TEST_F(HistoryTest, TwoProcessesAppendingAtOnceBothLeaveWholeRecords) {
    constexpr int kRecords = 150, kCameras = 64;  // records of about 20 KB
    const auto first = StartWriter("first", kRecords, kCameras);
    const auto second = StartWriter("second", kRecords, kCameras);
    EXPECT_EQ(first->Wait().exitCode, 0) << first->Wait().err;
    EXPECT_EQ(second->Wait().exitCode, 0) << second->Wait().err;

    std::size_t skipped = 0;
    const auto records = ReadAll(skipped);
    EXPECT_EQ(skipped, 0u);
    ASSERT_EQ(records.size(), 2u * kRecords);
    std::map<std::string, int> perWriter;
    for (const RunReport& record : records) {
        ExpectWhole(record, kCameras);
        ++perWriter[record.frontEnd.substr(0, record.frontEnd.find('#'))];
    }
    EXPECT_EQ(perWriter["first"], kRecords);
    EXPECT_EQ(perWriter["second"], kRecords);
    // Where the system keeps access in mode bits (a Windows file's access list is tested with the platform layer).
    if ((fs::status(m_path.parent_path()).permissions() & fs::perms::others_all) != fs::perms::others_all) {
        EXPECT_EQ(fs::status(m_path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST_F(HistoryTest, AWriterKilledMidAppendLeavesEveryOtherRecordReadable) {
    constexpr int kCameras = 2000;  // records of about 500 KB: a kill lands inside a write
    std::mt19937 random(12345);
    int kills = 0;
    for (int round = 0; round < 6; ++round) {
        const auto writer = StartWriter("killed" + std::to_string(round), 0, kCameras);
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + random() % 80));
        ASSERT_TRUE(writer->Kill());
        ASSERT_EQ(writer->Wait().signal, testbed::kKilledSignal);
        ++kills;
    }
    std::size_t skipped = 0;
    const auto before = ReadAll(skipped);
    EXPECT_LE(skipped, static_cast<std::size_t>(kills));
    for (const RunReport& record : before) ExpectWhole(record, kCameras);

    // A run after the crash is recorded whole, on its own line.
    std::wstring error;
    ASSERT_TRUE(AppendHistoryRecord(Path(), Record("2999-01-01T00:00:00.000Z", {{"Z9", "SIM-Z9"}}), error));
    std::size_t skippedAfter = 0;
    const auto after = ReadAll(skippedAfter);
    EXPECT_EQ(skippedAfter, skipped);
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.front().cameras[0].name, "Z9");
}

TEST_F(HistoryTest, DamagedLinesAreSkippedAndTheNextRecordStartsOnItsOwnLine) {
    fs::create_directories(m_path.parent_path());
    std::wstring error;
    ASSERT_TRUE(AppendHistoryRecord(Path(), Record("2026-01-01T10:00:00.000Z", {{"A1", "SIM-A1"}}), error));
    // What a power cut in the middle of a write leaves: a cut line without its newline.
    const std::string whole = RunReportToJson(Record("2026-01-02T10:00:00.000Z", {{"B2", "SIM-B2"}}));
    std::ofstream(m_path, std::ios::app) << "not a record\n" << whole.substr(0, whole.size() / 2);
    ASSERT_TRUE(
        AppendHistoryRecord(Path(), Record("2026-01-03T10:00:00.000Z", {{"A1", "SIM-A1"}, {"C3", "SIM-C3"}}), error));

    std::size_t skipped = 0;
    const auto records = ReadAll(skipped);
    EXPECT_EQ(skipped, 2u);
    std::ifstream file(m_path);
    ASSERT_EQ(records.size(), 2u) << std::string(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(records[0].started, "2026-01-03T10:00:00.000Z");
    EXPECT_EQ(records[1].started, "2026-01-01T10:00:00.000Z");

    // Queries: one camera by serial or device id, and runs since a time.
    const struct {
        HistoryQuery query;
        std::vector<std::string> started;
        std::size_t camerasInNewest;
    } cases[] = {
        {{"A1", ""}, {"2026-01-03T10:00:00.000Z", "2026-01-01T10:00:00.000Z"}, 1},
        {{"SIM-C3", ""}, {"2026-01-03T10:00:00.000Z"}, 1},
        {{"", "2026-01-02T00:00:00.000Z"}, {"2026-01-03T10:00:00.000Z"}, 2},
        {{"B2", ""}, {}, 0},
    };
    for (const auto& c : cases) {
        std::vector<RunReport> found;
        ASSERT_TRUE(ReadHistory(Path(), c.query, found, skipped, error));
        ASSERT_EQ(found.size(), c.started.size()) << c.query.serial << c.query.since;
        for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].started, c.started[i]);
        if (!found.empty()) {
            EXPECT_EQ(found[0].cameras.size(), c.camerasInNewest);
        }
    }
}

TEST_F(HistoryTest, RecordsKeepEveryFieldAndUnknownValuesStayUnknown) {
    RunReport record = Record("2026-05-06T07:08:09.010Z", {{"A1", "SIM-A1"}, {"B2", "SIM-B2"}});
    CameraReport& camera = record.cameras[0];
    camera.model = "ORV-2C";
    camera.versionBefore = "V01.03.001.002:V01.05";
    camera.targetVersion = "V01.03.002.001:V01.06";
    camera.versionAfter = "V01.03.002.001:V01.06";
    camera.ran = true;
    camera.wroteFlash = true;
    camera.statusCode = 0;
    camera.status = "Success";
    camera.seconds = 12.3456;
    camera.back = true;
    camera.totalSeconds = 20.5;
    camera.verified = true;
    camera.parametersSaved = true;
    camera.parametersRestored = false;
    camera.parametersText = "ordinal 700 failed with status -10";
    camera.parameterCopy = "/state/flashwright/parameter-backups/A1_20260506.ini";
    camera.failureText = "{-1010}{CU3VDevice::__EnterUpgradeMode:line[558]}{\"quoted\"}";
    record.cameras[1].outcome = ECameraOutcome::kHeldBack;
    record.Decide();
    RunReport read;
    ASSERT_TRUE(RunReportFromJson(RunReportToJson(record), read));
    ASSERT_EQ(read.cameras.size(), 2u);
    const CameraReport& back = read.cameras[0];
    EXPECT_EQ(read.started, record.started);
    EXPECT_EQ(read.frontEnd, "dialog");
    EXPECT_EQ(read.state, ERunState::kCompleted);
    EXPECT_EQ(back.outcome, ECameraOutcome::kParametersNotRestored);
    EXPECT_EQ(back.FirmwareVersion(), camera.versionAfter);
    EXPECT_DOUBLE_EQ(back.seconds, 12.346);
    EXPECT_EQ(back.totalSeconds, std::optional<double>(20.5));
    EXPECT_EQ(back.verified, std::optional<bool>(true));
    EXPECT_EQ(back.parametersRestored, std::optional<bool>(false));
    EXPECT_EQ(back.parametersText, camera.parametersText);
    EXPECT_EQ(back.parameterCopy, camera.parameterCopy);
    EXPECT_EQ(back.failureText, camera.failureText);
    // The held-back camera is in the record, with what it did not have.
    EXPECT_EQ(read.cameras[1].outcome, ECameraOutcome::kHeldBack);
    EXPECT_EQ(read.cameras[1].ResultText(), "User parameters not saved");
    EXPECT_FALSE(read.cameras[1].back.has_value());
    EXPECT_FALSE(read.cameras[1].verified.has_value());
    EXPECT_FALSE(read.cameras[1].parametersSaved.has_value());
    // A record is one line, whatever the texts hold.
    EXPECT_EQ(RunReportToJson(record).find('\n'), std::string::npos);
}

TEST_F(HistoryTest, TheLastLineOfARunCountsAndARunWhoseProcessEndedReadsAsInterrupted) {
    // The program's lock lives in these folders.
    testbed::IsolatedFolders folders;

    // A process that has ended, as a killed run's.
    testbed::ChildProcess gone(testbed::BuiltProgram("history_writer"), {"-"});
    const auto gonePid = static_cast<std::uint32_t>(gone.Id());
    gone.Wait();

    std::wstring error;
    RunReport completed = Record("2026-03-01T10:00:00.000Z", {{"A1", "SIM-A1"}});
    completed.runId = "run-1";
    completed.processId = gonePid;
    completed.state = ERunState::kRunning;
    ASSERT_TRUE(AppendHistoryRecord(Path(), completed, error));
    RunReport killed = Record("2026-03-02T10:00:00.000Z", {{"B2", "SIM-B2"}});
    killed.runId = "run-2";
    killed.processId = gonePid;
    killed.state = ERunState::kRunning;
    killed.cameras[0].ran = true;  // planned, never decided
    ASSERT_TRUE(AppendHistoryRecord(Path(), killed, error));
    completed.state = ERunState::kCompleted;
    completed.ended = "2026-03-01T10:00:30.000Z";
    ASSERT_TRUE(AppendHistoryRecord(Path(), completed, error));

    std::size_t skipped = 0;
    auto records = ReadAll(skipped);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].runId, "run-2");
    EXPECT_EQ(records[0].state, ERunState::kInterrupted);
    EXPECT_EQ(records[0].cameras[0].ResultText(), "Interrupted");
    EXPECT_EQ(records[0].Summary().interrupted, 1);
    EXPECT_EQ(records[1].runId, "run-1");
    EXPECT_EQ(records[1].state, ERunState::kCompleted);
    EXPECT_EQ(records[1].ended, "2026-03-01T10:00:30.000Z");
    EXPECT_NE(HistoryCsv(records).find(",interrupted,"), std::string::npos) << HistoryCsv(records);

    // While the run's own process holds the program's lock, it is running.
    std::wstring refusal;
    const auto lock = platform::InstanceLock::Acquire(L"history test", refusal);
    ASSERT_TRUE(lock) << platform::WideToAnsi(refusal);
    RunReport running = Record("2026-03-03T10:00:00.000Z", {{"C3", "SIM-C3"}});
    running.runId = "run-3";
    running.processId = platform::CurrentProcessId();
    running.state = ERunState::kRunning;
    ASSERT_TRUE(AppendHistoryRecord(Path(), running, error));
    records = ReadAll(skipped);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].state, ERunState::kRunning);
}

TEST_F(HistoryTest, LinesOfTheFirstFormatAreReadWithTheReportsNames) {
    fs::create_directories(m_path.parent_path());
    std::ofstream(m_path)
        << R"({"started":"2026-01-01T10:00:00.000Z","ended":"2026-01-01T10:00:40.000Z","front_end":"dialog",)"
        << R"("cameras":[{"serial":"A1","model":"ORV-2C","device_id":"SIM-A1","version_before":"V1",)"
        << R"("version_after":"","status_code":0,"status":"Success","burn_seconds":1.5,"back":false,)"
        << R"("verified":null,"parameters_saved":true,"parameters_restored":true,"parameter_copy":"",)"
        << R"("failure_text":""},{"serial":"C3","model":"ORV-2C","device_id":"SIM-C3","version_before":"V1",)"
        << R"("version_after":"V1","status_code":23,"status":"Burning the FPGA failed","burn_seconds":0.5,)"
        << R"("back":true,"verified":false,"parameters_saved":true,"parameters_restored":true,)"
        << R"("parameter_copy":"","failure_text":"Failed"}]})"
        << "\n";
    std::size_t skipped = 0;
    const auto records = ReadAll(skipped);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].cameras.size(), 2u);
    EXPECT_EQ(records[0].state, ERunState::kCompleted);
    const CameraReport& a1 = records[0].cameras[0];
    EXPECT_EQ(a1.outcome, ECameraOutcome::kNotBack);
    EXPECT_EQ(a1.ResultText(), "Not back");
    EXPECT_DOUBLE_EQ(a1.seconds, 1.5);
    const CameraReport& c3 = records[0].cameras[1];
    EXPECT_EQ(c3.outcome, ECameraOutcome::kFailed);
    EXPECT_EQ(c3.ResultText(), "Burning the FPGA failed");
    EXPECT_FALSE(c3.back.has_value());  // it did not write, so it did not restart
}

TEST(HistoryFileTest, LivesInTheStateFolderOrUnderHome) {
    ScopedEnvironment environment;
    if (platform::PathSeparator() == L'\\') {
        // Windows keeps per-user state under the local application data folder.
        environment.SetOnlySpelling("LOCALAPPDATA", "C:\\Users\\operator\\AppData\\Local");
        EXPECT_EQ(HistoryFilePath(), L"C:\\Users\\operator\\AppData\\Local\\flashwright\\history.jsonl");
        environment.Unset("LOCALAPPDATA");
        EXPECT_EQ(HistoryFilePath(), L"");
        return;
    }
    environment.Set("XDG_STATE_HOME", "/somewhere/state");
    EXPECT_EQ(HistoryFilePath(), L"/somewhere/state/flashwright/history.jsonl");
    environment.Set("XDG_STATE_HOME", "relative/is/ignored");
    environment.Set("HOME", "/home/operator");
    EXPECT_EQ(HistoryFilePath(), L"/home/operator/.local/state/flashwright/history.jsonl");
    environment.Unset("XDG_STATE_HOME");
    environment.Unset("HOME");
    EXPECT_EQ(HistoryFilePath(), L"");
}

}  // namespace
}  // namespace apptest
