// SIGTERM, SIGINT, SIGHUP and SIGQUIT become close requests of the window, so a session
// ending or a Ctrl-C goes through the same guard as the close button: the
// process is never ended while a camera's flash is being written. A Windows
// window program gets no such signals: its close requests arrive as WM_CLOSE,
// which reaches the same guard, so the Windows bridge installs nothing
// (SignalBridgeWindows.cpp).
#pragma once

#include <QObject>

#include <memory>

#include "support/Platform.h"

class QSocketNotifier;

class CCloseSignalBridge : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; the previous ones come back when the bridge goes.
    // Only one bridge exists at a time.
    explicit CCloseSignalBridge(QObject* parent = nullptr);
    ~CCloseSignalBridge() override;
    CCloseSignalBridge(const CCloseSignalBridge&) = delete;
    CCloseSignalBridge& operator=(const CCloseSignalBridge&) = delete;

signals:
    // Delivered by the event loop; signals that arrive together come as one.
    void CloseRequested(int signalNumber);

private:
    static void __OnSignal(int signalNumber);
    void __OnReadable();

    std::unique_ptr<platform::StopRequestHandler> m_handler;
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};
