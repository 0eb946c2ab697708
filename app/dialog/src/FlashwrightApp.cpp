#include "dialog/FlashwrightApp.h"

#include <QApplication>

#include <memory>

#include "dialog/FlashwrightDlg.h"
#include "support/Platform.h"

void CFlashwrightApp::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int CFlashwrightApp::Run(int argc, char** argv) {
    QApplication application(argc, argv);
    // Lets the desktop match the window with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("flashwright"));
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
