#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>

#include <fstream>

#include "DialogFixture.h"
#include "dialog/HistoryDlg.h"

// Pictures of the window for a person to look at, with the demo's cameras:
// <build>/screenshots/flashwright-start.png, flashwright-during-run.png,
// flashwright-after-run.png, flashwright-menu.png and flashwright-history.png. Under xvfb-run with QT_QPA_PLATFORM=xcb they show
// what a user sees; headless they are rendered off screen.
namespace apptest {
namespace {

class ScreenshotTest : public DialogFixture {
protected:
    static json DemoDescription() {
        std::ifstream in(FLASHWRIGHT_DEMO_DESCRIPTION);
        return json::parse(in);
    }

    void Save(const QString& name, QWidget* widget = nullptr) {
        ASSERT_TRUE(QDir().mkpath(FLASHWRIGHT_SCREENSHOT_DIR));
        const QString path = QString(FLASHWRIGHT_SCREENSHOT_DIR) + "/" + name;
        const QImage image = (widget != nullptr ? widget : dialog.get())->grab().toImage();
        ASSERT_FALSE(image.isNull());
        ASSERT_TRUE(image.save(path)) << path.toStdString();
    }
};

TEST_F(ScreenshotTest, WindowBeforeDuringAndAfterARunOfTheDemoCameras) {
    // The program's own run timing: the demo cameras reboot in 4 to 6 s.
    Start(DemoDescription(), RunTiming{});
    dialog->activateWindow();
    ASSERT_EQ(List()->GetItemCount(), 5);
    Button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    ASSERT_EQ(SelectedRows().size(), 4u);
    Save("flashwright-start.png");

    bool during = false;
    QTimer sampler;
    sampler.setInterval(5);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (during || !dialog->IsRefreshTimerActive()) return;
        int burning = 0;
        for (const int row : SelectedRows())
            if (Cell(row, CFlashwrightDlg::kColumnStatus) == "Burning" &&
                Cell(row, CFlashwrightDlg::kColumnTime) != "0.000 S")
                ++burning;
        if (burning >= 2) {
            during = true;
            Save("flashwright-during-run.png");
        }
    });
    sampler.start();
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    sampler.stop();
    EXPECT_TRUE(during);
    EXPECT_TRUE(dialog->NeedsReenumeration());
    Save("flashwright-after-run.png");

    // The context menu with "Upgrade History..." beside About, and the history
    // it opens, holding the run just made.
    std::unique_ptr<QMenu> menu(dialog->CreateSystemMenu(dialog.get()));
    menu->popup(dialog->mapToGlobal(QPoint(300, 200)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    Save("flashwright-menu.png", menu.get());
    menu->close();
    int historyRows = -1;
    QTimer::singleShot(0, [&] {
        auto* history = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget());
        if (history == nullptr) return;
        if (QTest::qWaitForWindowExposed(history)) Save("flashwright-history.png", history);
        historyRows = history->GetTable()->rowCount();
        history->close();
    });
    dialog->ShowHistory();
    EXPECT_GE(historyRows, 4);
}

}  // namespace
}  // namespace apptest
