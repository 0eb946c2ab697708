// What the window tells the operator during and after a run: the bar behind
// a writing camera's status, the line under the list going through the run's
// phases, the rows of cameras that restart, never came back or came back with
// firmware other than the release's, and the summary that stays.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTimer>

#include <map>
#include <set>

#include "DialogFixture.h"

namespace apptest {
namespace {

using Phase = CFlashwrightDlg::RunPhase;

class DialogRunPhasesTest : public DialogFixture {};

TEST_F(DialogRunPhasesTest, RunWithALostAndAnUnverifiedCameraShowsEveryPhaseInOrderAndEndsWithASummary) {
    // Row 0 comes back as it should, row 1 never comes back, row 2 comes back
    // running firmware other than the release's.
    json good = Camera("B0001", "ORV-2C", 8e5);
    json lost = Camera("B0002", "ORV-2C", 8e5);
    lost["faults"] = {{"returns", false}};
    json other = Camera("B0003", "ORV-2C", 8e5);
    other["after_upgrade"]["firmware_version"] = "V01.03.001.999:V01.06";
    ASSERT_NO_FATAL_FAILURE(Start(Description({good, lost, other})));
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();

    std::vector<std::pair<Phase, QString>> phases;
    Phase current = Phase::kIdle;
    QObject::connect(dialog.get(), &CFlashwrightDlg::RunPhaseChanged, [&](Phase phase, const QString& text) {
        phases.emplace_back(phase, text);
        current = phase;
    });
    // Each row's bar while it wrote, and what the rows and the line said while
    // the lost camera was awaited.
    std::map<int, std::vector<int>> bars;
    std::vector<QString> restartLines, lostRowStatus, lostRowTime;
    std::set<QString> statusesDuringTheRun;
    QTimer sampler;
    sampler.setInterval(5);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        for (int row = 0; row < 3; ++row) {
            const int bar = List()->GetItemProgress(row, CFlashwrightDlg::kColumnStatus);
            if (bar >= 0) bars[row].push_back(bar);
        }
        if (current == Phase::kWriting || current == Phase::kRestarting)
            for (int row = 0; row < 3; ++row) statusesDuringTheRun.insert(Cell(row, CFlashwrightDlg::kColumnStatus));
        if (current == Phase::kRestarting) {
            restartLines.push_back(PhaseLabel()->text());
            lostRowStatus.push_back(Cell(1, CFlashwrightDlg::kColumnStatus));
            lostRowTime.push_back(Cell(1, CFlashwrightDlg::kColumnTime));
        }
    });
    sampler.start();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    sampler.stop();

    // The phases, each once and in order.
    std::vector<Phase> order;
    for (const auto& [phase, text] : phases) order.push_back(phase);
    ASSERT_EQ(order, (std::vector<Phase>{Phase::kWriting, Phase::kRestarting, Phase::kRestoring, Phase::kSummary}));
    EXPECT_EQ(phases[0].second, "Writing: 0 of 3 cameras done");
    EXPECT_EQ(phases[2].second, "Restoring user parameters...");

    // Every camera's bar rose and was seen part way.
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        ASSERT_FALSE(bars[row].empty());
        EXPECT_TRUE(std::is_sorted(bars[row].begin(), bars[row].end()));
        EXPECT_TRUE(std::any_of(bars[row].begin(), bars[row].end(), [](int bar) { return bar > 0 && bar < 100; }));
    }

    // The wait: the line counts the lost camera down to the bound; its row says
    // it is restarting and keeps the burn time.
    ASSERT_FALSE(restartLines.empty());
    EXPECT_TRUE(restartLines.back().startsWith("Waiting for 1 camera to restart: "))
        << restartLines.back().toStdString();
    int lastSecondsLeft = 100;
    for (const QString& line : restartLines) {
        const int secondsLeft = line.section(": ", 1).section(' ', 0, 0).toInt();
        EXPECT_LE(secondsLeft, lastSecondsLeft) << line.toStdString();
        lastSecondsLeft = secondsLeft;
    }
    EXPECT_LE(lastSecondsLeft, 1);
    const QString lostTimeWhenWritten = lostRowTime.front();
    EXPECT_TRUE(lostTimeWhenWritten.endsWith(" S") && lostTimeWhenWritten.section(' ', 0, 0).toDouble() > 0.5)
        << lostTimeWhenWritten.toStdString();
    for (std::size_t i = 0; i < lostRowStatus.size(); ++i) {
        EXPECT_EQ(lostRowStatus[i], "Restarting...");
        EXPECT_EQ(lostRowTime[i], lostTimeWhenWritten);
    }

    // No camera was called a success before it was back with the release and
    // its parameters: a written camera restarts, then it is back.
    EXPECT_EQ(statusesDuringTheRun.count("Success"), 0u);
    EXPECT_EQ(statusesDuringTheRun.count("Restarting..."), 1u);

    // After the run: the lost camera says so and keeps its identity, the
    // others' firmware cells say whether they run the release, and the summary
    // counts each kind.
    EXPECT_EQ(Cell(0, CFlashwrightDlg::kColumnStatus), "Success");
    EXPECT_EQ(Cell(0, CFlashwrightDlg::kColumnFirmwareVersion), QString::fromUtf8("V01.03.002.001:V01.06 \u2714"));
    EXPECT_EQ(Cell(1, CFlashwrightDlg::kColumnStatus), "Not back");
    EXPECT_EQ(List()->GetItemTextColor(1, CFlashwrightDlg::kColumnStatus), QColor(Qt::red));
    EXPECT_EQ(Cell(1, CFlashwrightDlg::kColumnTime), lostTimeWhenWritten);
    EXPECT_EQ(Cell(1, CFlashwrightDlg::kColumnSerialNumber), "B0002");
    EXPECT_EQ(Cell(1, CFlashwrightDlg::kColumnGuid), "GB00020000000000");
    EXPECT_EQ(Cell(1, CFlashwrightDlg::kColumnFirmwareVersion), "V01.03.001.002:V01.05");
    EXPECT_EQ(Cell(2, CFlashwrightDlg::kColumnStatus), "Not verified");
    EXPECT_EQ(List()->GetItemTextColor(2, CFlashwrightDlg::kColumnStatus), QColor(Qt::red));
    EXPECT_EQ(Cell(2, CFlashwrightDlg::kColumnFirmwareVersion),
              "Not verified: V01.03.001.999:V01.06 (expected V01.03.002.001:V01.06)");
    EXPECT_EQ(List()->GetItemTextColor(2, CFlashwrightDlg::kColumnFirmwareVersion), QColor(Qt::red));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(List()->GetItemProgress(row, CFlashwrightDlg::kColumnStatus), -1);

    const QString summary = PhaseLabel()->text();
    EXPECT_TRUE(summary.startsWith("Finished in ")) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith(": 1 of 3 cameras upgraded, 0 failed, 1 not back, 1 not verified"))
        << summary.toStdString();
    // It stays until the next command.
    QTest::qWait(50);
    EXPECT_EQ(PhaseLabel()->text(), summary);
    Button(CFlashwrightDlg::IDC_UPDATE_DEVICES)->click();
    EXPECT_TRUE(PhaseLabel()->text().isEmpty());
    EXPECT_EQ(current, Phase::kIdle);
}

}  // namespace
}  // namespace apptest
