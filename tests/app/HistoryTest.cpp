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

    std::vector<HistoryRecord> ReadAll(std::size_t& skipped) const {
        std::vector<HistoryRecord> records;
        std::wstring error;
        EXPECT_TRUE(ReadHistory(Path(), HistoryQuery{}, records, skipped, error)) << platform::WideToAnsi(error);
        return records;
    }

    static HistoryRecord Record(const std::string& started,
                                const std::vector<std::pair<std::string, std::string>>& cameras) {
        HistoryRecord record;
        record.started = started;
        record.ended = started;
        record.frontEnd = "dialog";
        for (const auto& [serial, deviceId] : cameras) {
            HistoryCamera camera;
            camera.serial = serial;
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
void ExpectWhole(const HistoryRecord& record, int cameras) {
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
    for (const HistoryRecord& record : records) {
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
    for (const HistoryRecord& record : before) ExpectWhole(record, kCameras);

    // A run after the crash is recorded whole, on its own line.
    std::wstring error;
    ASSERT_TRUE(AppendHistoryRecord(Path(), Record("2999-01-01T00:00:00.000Z", {{"Z9", "SIM-Z9"}}), error));
    std::size_t skippedAfter = 0;
    const auto after = ReadAll(skippedAfter);
    EXPECT_EQ(skippedAfter, skipped);
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.front().cameras[0].serial, "Z9");
}

TEST_F(HistoryTest, DamagedLinesAreSkippedAndTheNextRecordStartsOnItsOwnLine) {
    fs::create_directories(m_path.parent_path());
    std::wstring error;
    ASSERT_TRUE(AppendHistoryRecord(Path(), Record("2026-01-01T10:00:00.000Z", {{"A1", "SIM-A1"}}), error));
    // What a power cut in the middle of a write leaves: a cut line without its newline.
    const std::string whole = HistoryRecordToJson(Record("2026-01-02T10:00:00.000Z", {{"B2", "SIM-B2"}}));
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
        std::vector<HistoryRecord> found;
        ASSERT_TRUE(ReadHistory(Path(), c.query, found, skipped, error));
        ASSERT_EQ(found.size(), c.started.size()) << c.query.serial << c.query.since;
        for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].started, c.started[i]);
        if (!found.empty()) {
            EXPECT_EQ(found[0].cameras.size(), c.camerasInNewest);
        }
    }
}

TEST_F(HistoryTest, RecordsKeepEveryFieldAndUnknownValuesStayUnknown) {
    HistoryRecord record = Record("2026-05-06T07:08:09.010Z", {{"A1", "SIM-A1"}});
    HistoryCamera& camera = record.cameras[0];
    camera.model = "ORV-2C";
    camera.versionBefore = "V01.03.001.002:V01.05";
    camera.versionAfter = "V01.03.002.001:V01.06";
    camera.statusCode = 0;
    camera.status = "Success";
    camera.burnSeconds = 12.3456;
    camera.back = true;
    camera.verified = true;
    camera.parametersSaved = true;
    camera.parametersRestored = false;
    camera.parameterCopy = "/state/flashwright/parameter-backups/A1_20260506.ini";
    camera.failureText = "{-1010}{CU3VDevice::__EnterUpgradeMode:line[558]}{\"quoted\"}";
    HistoryRecord read;
    ASSERT_TRUE(HistoryRecordFromJson(HistoryRecordToJson(record), read));
    const HistoryCamera& back = read.cameras.at(0);
    EXPECT_EQ(read.started, record.started);
    EXPECT_EQ(read.frontEnd, "dialog");
    EXPECT_EQ(back.versionAfter, camera.versionAfter);
    EXPECT_DOUBLE_EQ(back.burnSeconds, 12.346);
    EXPECT_EQ(back.verified, std::optional<bool>(true));
    EXPECT_EQ(back.parametersRestored, std::optional<bool>(false));
    EXPECT_EQ(back.parameterCopy, camera.parameterCopy);
    EXPECT_EQ(back.failureText, camera.failureText);

    HistoryRecord unknown;
    ASSERT_TRUE(HistoryRecordFromJson(HistoryRecordToJson(Record("2026-05-06T07:08:09.010Z", {{"A1", ""}})), unknown));
    EXPECT_FALSE(unknown.cameras.at(0).verified.has_value());
    EXPECT_FALSE(unknown.cameras.at(0).parametersSaved.has_value());
    // A record is one line, whatever the texts hold.
    EXPECT_EQ(HistoryRecordToJson(record).find('\n'), std::string::npos);
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
