// Windows: close requests from outside reach the window as WM_CLOSE and go
// through the dialog's close guard; there are no signals to bridge.
#include "dialog/SignalBridge.h"

CCloseSignalBridge::CCloseSignalBridge(QObject* parent) : QObject(parent) {}

CCloseSignalBridge::~CCloseSignalBridge() = default;

void CCloseSignalBridge::__OnSignal(int) {}

void CCloseSignalBridge::__OnReadable() {}
