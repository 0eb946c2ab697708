#include "run/RunRefresh.h"

#include "camera/U3VDevice.h"
#include "run/AppText.h"

bool IsStillWriting(std::int32_t statusCode) {
    return statusCode == StatusCode::kNone || statusCode == StatusCode::kStarting || statusCode == StatusCode::kBurning;
}

CameraRefresh RefreshCamera(CU3VDevice& camera) {
    CameraRefresh refresh;
    CBurnTime& burnTime = camera.GetBurnTime();
    refresh.running = camera.IsRunning();
    if (refresh.running) burnTime.AddElapsedSeconds(burnTime.Lap());
    camera.GetStatus(refresh.statusCode, refresh.statusText);
    refresh.progress = camera.GetBurnProgress().Read();
    refresh.burnSeconds = burnTime.GetElapsedSeconds();
    refresh.finished = !IsStillWriting(refresh.statusCode);
    refresh.failed = refresh.finished && refresh.statusCode != StatusCode::kSuccess;
    const bool restarting = refresh.finished && !refresh.failed && camera.HasWrittenFlash();
    refresh.rowText = restarting ? std::wstring(AppText::kRowRestarting) : refresh.statusText;
    return refresh;
}
