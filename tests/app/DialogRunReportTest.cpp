// The window renders the run's report: a box the operator leaves open does not
// hold the run, a camera held back for lack of a backup or flashed without one
// says so, and the history holds every camera of the run.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <chrono>

#include "DialogFixture.h"
#include "dialog/AboutDlg.h"
#include "run/History.h"
#include "sdk/UnfinishedRun.h"

namespace apptest {
namespace {

using testbed::WithFaults;

class DialogRunReportTest : public DialogFixture {
protected:
    void TearDown() override {
        CFlashwrightDlg::SetQuestionHandler({});
        DialogFixture::TearDown();
    }

    // The boxes and windows of the program on screen now.
    static std::vector<QWidget*> OpenBoxes() {
        std::vector<QWidget*> boxes;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && (qobject_cast<QMessageBox*>(widget) || qobject_cast<CAboutDlg*>(widget) ||
                                        qobject_cast<QMenu*>(widget)))
                boxes.push_back(widget);
        return boxes;
    }

    std::vector<RunReport> History() {
        std::vector<RunReport> records;
        std::size_t skipped = 0;
        std::wstring error;
        EXPECT_TRUE(ReadHistory(HistoryFilePath(), HistoryQuery{}, records, skipped, error));
        return records;
    }
};

TEST_F(DialogRunReportTest, ABoxLeftOpenDuringARunDoesNotHoldIt) {
    // Real boxes, as a person gets them.
    CFlashwrightDlg::SetMessageBoxHandler({});
    sim = std::make_unique<SimulatedCameras>(
        Description({Camera("R0001", "ORV-2C", 6e5), Camera("R0002", "ORV-2M", 6e5)}));
    ASSERT_TRUE(SetLiveParameter("R0001", testbed::kUserParameter, 55));
    ASSERT_NO_FATAL_FAILURE(OpenDialog());
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();

    // While the cameras write, the operator opens About (F1) and asks to
    // close; both boxes stay on screen, nobody presses OK.
    std::size_t boxesDuringTheRun = 0;
    QTimer::singleShot(200, dialog.get(), [&] {
        QTest::keyClick(dialog.get(), Qt::Key_F1);
        dialog->close();
    });
    // Should the run hang behind a box, the boxes are closed after a while so
    // the test can end and say so.
    bool boxesClosedByForce = false;
    QTimer guard;
    guard.setInterval(100);
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(&guard, &QTimer::timeout, [&] {
        boxesDuringTheRun = std::max(boxesDuringTheRun, OpenBoxes().size());
        if (std::chrono::steady_clock::now() - started < std::chrono::seconds(60)) return;
        boxesClosedByForce = true;
        for (QWidget* box : OpenBoxes()) box->close();
    });
    guard.start();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    guard.stop();

    EXPECT_FALSE(boxesClosedByForce) << "the run waited for the boxes to be closed";
    EXPECT_EQ(boxesDuringTheRun, 2u);
    // The run went on to its end behind them: the cameras are back, their
    // parameters restored, the record of unfinished runs closed.
    const std::vector<QWidget*> boxes = OpenBoxes();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(PhaseLabel()->text().endsWith(": 2 of 2 cameras upgraded, 0 failed"))
        << PhaseLabel()->text().toStdString();
    EXPECT_EQ(sim->LiveParameter("SIM-R0001", testbed::kUserParameter), 55);
    std::vector<UnfinishedRunEntry> unfinished;
    std::wstring error;
    ASSERT_TRUE(ReadUnfinishedRun(unfinished, error));
    EXPECT_TRUE(unfinished.empty());
    // The refusal is the one the close request got, captioned with the program's name.
    bool refusalShown = false;
    for (QWidget* box : boxes) {
        if (auto* message = qobject_cast<QMessageBox*>(box)) {
            refusalShown = message->text() == "Upgrading is proceeding, please close later!";
            EXPECT_EQ(message->windowTitle(), QString::fromStdWString(platform::GetExecutableStem()));
        }
        box->close();
    }
    EXPECT_TRUE(refusalShown);
    EXPECT_TRUE(dialog->isVisible());

    // The window's menu, opened and left open during the next run, does not hold it either.
    Button(CFlashwrightDlg::IDC_UPDATE_DEVICES)->click();
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    bool menuOpenDuringTheRun = false;
    QTimer::singleShot(200, dialog.get(), [&] {
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(20, 20), dialog->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(dialog.get(), &request);
        menuOpenDuringTheRun = OpenBoxes().size() == 1;
    });
    guard.start();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    guard.stop();
    EXPECT_FALSE(boxesClosedByForce) << "the run waited for the menu to be closed";
    EXPECT_TRUE(menuOpenDuringTheRun);
    EXPECT_TRUE(PhaseLabel()->text().endsWith(": 2 of 2 cameras upgraded, 0 failed"))
        << PhaseLabel()->text().toStdString();
    for (QWidget* box : OpenBoxes()) box->close();
}

TEST_F(DialogRunReportTest, CamerasWithoutABackupAreHeldBackOrFlashedAsTheOperatorAnswersAndAllAreRecorded) {
    ScopedEnvironment state;
    testbed::TempFolder folder;
    state.Set("XDG_STATE_HOME", folder.Path().string());
    std::vector<QString> questions;
    bool answer = false;
    CFlashwrightDlg::SetQuestionHandler([&](const QString&, const QString& text) {
        questions.push_back(text);
        return answer;
    });
    ASSERT_NO_FATAL_FAILURE(
        Start(Description({Camera("K0001"), WithFaults(Camera("K0002"), {{"sdk_export_fails", 700}}),
                           WithFaults(Camera("K0003"), {{"sdk_class_code", 5}})})));
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();

    // One question, naming the camera without a backup; "No" holds it back.
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains("\nK0002\n")) << questions[0].toStdString();
    EXPECT_FALSE(questions[0].contains("K0003")) << "the SDK does not list it: there is nothing to save";
    EXPECT_TRUE(sim->Events({.deviceId = "SIM-K0002", .call = "DPEnterUpgradeMode"}).empty());
    EXPECT_EQ(sim->Events({.deviceId = "SIM-K0003", .call = "DPEnterUpgradeMode"}).size(), 1u);
    const int held = 1;
    EXPECT_EQ(Cell(held, CFlashwrightDlg::kColumnSerialNumber), "K0002");
    EXPECT_EQ(Cell(held, CFlashwrightDlg::kColumnStatus), "User parameters not saved");
    EXPECT_EQ(List()->GetItemTextColor(held, CFlashwrightDlg::kColumnStatus), QColor(Qt::red));
    EXPECT_EQ(Cell(0, CFlashwrightDlg::kColumnStatus), "Success");
    EXPECT_EQ(Cell(2, CFlashwrightDlg::kColumnStatus), "Success");
    EXPECT_TRUE(PhaseLabel()->text().endsWith(": 2 of 3 cameras upgraded, 0 failed, 1 held back"))
        << PhaseLabel()->text().toStdString();

    // "Yes" flashes it, and its row says what that cost.
    answer = true;
    Button(CFlashwrightDlg::IDC_UPDATE_DEVICES)->click();
    ClickCheckbox(held);
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(sim->Events({.deviceId = "SIM-K0002", .call = "DPEnterUpgradeMode"}).size(), 1u);
    EXPECT_EQ(Cell(held, CFlashwrightDlg::kColumnStatus), "Success, user parameters reset to factory values");

    // Both runs are in the history with every camera, the held-back one included.
    const std::vector<RunReport> records = History();
    ASSERT_EQ(records.size(), 2u);
    ASSERT_EQ(records[1].cameras.size(), 3u);
    EXPECT_EQ(records[1].Summary().heldBack, 1);
    EXPECT_EQ(records[1].cameras[1].name, "K0002");
    EXPECT_EQ(records[1].cameras[1].outcome, ECameraOutcome::kHeldBack);
    ASSERT_EQ(records[0].cameras.size(), 1u);
    EXPECT_EQ(records[0].cameras[0].outcome, ECameraOutcome::kUpgraded);
    EXPECT_TRUE(records[0].cameras[0].parameterLossAccepted);
    EXPECT_EQ(records[0].cameras[0].parametersSaved, std::optional<bool>(false));
}

}  // namespace
}  // namespace apptest
