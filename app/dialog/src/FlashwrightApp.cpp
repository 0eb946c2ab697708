#include "dialog/FlashwrightApp.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>

#include "dialog/FlashwrightDlg.h"
#include "support/Platform.h"

void CFlashwrightApp::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int CFlashwrightApp::Run(int argc, char** argv) {
    QApplication application(argc, argv);
    // Lets the desktop match the window with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("flashwright"));
    platform::IgnoreBrokenPipe();
    // One Flashwright per user: a second one touches nothing and ends.
    std::wstring refusal;
    const std::unique_ptr<platform::InstanceLock> lock = platform::InstanceLock::Acquire(L"flashwright", refusal);
    if (!lock) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromStdWString(platform::GetExecutableStem()),
                        QString::fromStdWString(refusal), QMessageBox::Ok);
        box.exec();
        return 1;
    }
    platform::SetMessagePumpHook(&CFlashwrightApp::PumpEvents);
    {
        auto dialog = std::make_unique<CFlashwrightDlg>();
        // A start-up failure ends the process inside, with status 0.
        dialog->OnInitDialog();
        dialog->exec();
    }
    platform::SetMessagePumpHook(nullptr);
    return 0;
}
