#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QTest>

#include <csignal>
#include <memory>

#include "DialogWidgets.h"
#include "dialog/AboutDlg.h"
#include "dialog/DialogUnits.h"
#include "dialog/FlashwrightDlg.h"
#include "widgets/XListCtrl.h"

namespace {

// Closes the next modal window once the event loop runs, and reports its title.
class ModalCloser {
public:
    ModalCloser() {
        QTimer::singleShot(0, [this] { Close(); });
    }
    QString title;
    QString text;

private:
    void Close() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            QTimer::singleShot(10, [this] { Close(); });
            return;
        }
        title = modal->windowTitle();
        if (auto* about = qobject_cast<CAboutDlg*>(modal)) text = about->GetVersionLabel()->text();
        modal->close();
    }
};

class DialogShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = std::make_unique<CFlashwrightDlg>();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    QPushButton* Button(int id) const { return dialogwidgets::Button(*dialog, id); }

    std::unique_ptr<CFlashwrightDlg> dialog;
};

TEST(DialogUnitsTest, ConvertsWithQuarterWidthAndEighthHeight) {
    const CDialogUnits units(7, 15);
    EXPECT_EQ(units.X(4), 7);
    EXPECT_EQ(units.X(555), 971);  // 555·7/4 = 971.25
    EXPECT_EQ(units.Y(8), 15);
    EXPECT_EQ(units.Y(236), 443);  // 236·15/8 = 442.5, rounded up
    EXPECT_EQ(units.Rect(14, 18, 110, 18), QRect(25, 34, 193, 34));
}

TEST_F(DialogShellTest, LaysOutTheTemplateInDialogUnitsOfItsFont) {
    const CDialogUnits units(dialog->font());
    // The template, with the run's status line under the group.
    EXPECT_EQ(dialog->size(), units.Size(555, 246));
    EXPECT_EQ(dialog->windowTitle(), "Flashwright");
    EXPECT_FALSE(dialog->windowIcon().isNull());

    const struct {
        int id;
        const char* text;
        int x;
    } buttons[] = {{CFlashwrightDlg::IDC_UPDATE_DEVICES, "Update Devices", 14},
                   {CFlashwrightDlg::IDC_SELECT_ALL, "Select All", 152},
                   {CFlashwrightDlg::IDC_SELECT_NONE, "Select None", 290},
                   {CFlashwrightDlg::IDC_BEGIN_UPGRADE, "Begin Upgrade", 428}};
    for (const auto& b : buttons) {
        QPushButton* button = Button(b.id);
        ASSERT_NE(button, nullptr) << b.text;
        EXPECT_EQ(button->text(), b.text);
        EXPECT_EQ(button->geometry(), units.Rect(b.x, 18, 110, 18)) << b.text;
        EXPECT_FALSE(button->autoDefault()) << b.text;
        EXPECT_FALSE(button->isDefault()) << b.text;
    }
    EXPECT_EQ(dialogwidgets::DeviceList(*dialog)->geometry(), units.Rect(14, 45, 525, 178));
    auto* group = dialog->findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Select  Devices");
    EXPECT_EQ(group->geometry(), units.Rect(7, 7, 541, 222));
    EXPECT_EQ(dialogwidgets::PhaseLabel(*dialog)->geometry(), units.Rect(9, 232, 537, 10));
    EXPECT_TRUE(dialogwidgets::PhaseLabel(*dialog)->text().isEmpty());

    // Tab order: the four buttons in template order, then the list; the first
    // takes the focus when the dialog opens.
    EXPECT_EQ(QApplication::focusWidget(), Button(CFlashwrightDlg::IDC_UPDATE_DEVICES));
    QWidget* expected[] = {Button(CFlashwrightDlg::IDC_SELECT_ALL), Button(CFlashwrightDlg::IDC_SELECT_NONE),
                           Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE), dialogwidgets::DeviceList(*dialog)};
    QWidget* current = Button(CFlashwrightDlg::IDC_UPDATE_DEVICES);
    for (QWidget* next : expected) {
        current = current->nextInFocusChain();
        while (current->focusPolicy() == Qt::NoFocus) current = current->nextInFocusChain();
        EXPECT_EQ(current, next);
    }
}

TEST_F(DialogShellTest, HasTheNineColumnsWithGridLinesAndFullRowSelection) {
    CXListCtrl* list = dialogwidgets::DeviceList(*dialog);
    EXPECT_EQ(list->GetExtendedStyle(), 0x21u);
    const char* headings[] = {"Device Model",    "SN",          "GUID",   "Device Version", "Firmware Version",
                              "Factory Version", "XML Version", "Status", "Time(s)"};
    const int widths[] = {125, 90, 90, 110, 190, 100, 60, 100, 50};
    ASSERT_EQ(list->GetColumnCount(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(list->GetColumnText(i), headings[i]);
        EXPECT_EQ(list->horizontalHeader()->sectionSize(i), widths[i]) << headings[i];
    }
    EXPECT_EQ(list->GetItemCount(), 0);
}

TEST_F(DialogShellTest, AboutBoxFromTheContextMenuAndFromF1) {
    std::unique_ptr<QMenu> menu(dialog->CreateSystemMenu(dialog.get()));
    QAction* about = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == "About Flashwright(&A)...") about = action;
    ASSERT_NE(about, nullptr);
    {
        ModalCloser closer;
        about->trigger();
        EXPECT_EQ(closer.title, "About Flashwright");
        EXPECT_EQ(closer.text, "Flashwright, 1, 0, 2106, 9211");
    }
    {
        ModalCloser closer;
        QTest::keyClick(dialogwidgets::DeviceList(*dialog), Qt::Key_F1);
        EXPECT_EQ(closer.title, "About Flashwright");
    }
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogShellTest, EscapeAndSpaceAreSwallowedEnterPressesTheFocusedButton) {
    QPushButton* selectAll = Button(CFlashwrightDlg::IDC_SELECT_ALL);
    QSignalSpy clicks(selectAll, &QPushButton::clicked);
    selectAll->setFocus();

    QTest::keyClick(selectAll, Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(selectAll, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 0);

    QTest::keyClick(selectAll, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    QTest::keyClick(selectAll, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks.count(), 2);

    // Enter on the list presses no button.
    QSignalSpy updates(Button(CFlashwrightDlg::IDC_UPDATE_DEVICES), &QPushButton::clicked);
    dialogwidgets::DeviceList(*dialog)->setFocus();
    QTest::keyClick(dialogwidgets::DeviceList(*dialog), Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(updates.count(), 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogShellTest, TerminationSignalsCloseTheIdleDialog) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        if (!dialog->isVisible()) {
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        }
        ASSERT_EQ(std::raise(signalNumber), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 5000)) << signalNumber;
    }
}

}  // namespace
