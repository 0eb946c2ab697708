// The refresh both front ends make of a run's cameras while the workers write
// (the dialog's Time and Status columns, flashwright-cli's progress lines).
#pragma once

#include <cstdint>
#include <string>

#include "camera/BurnProgress.h"

class CU3VDevice;

// One camera as a front end shows it at one refresh.
struct CameraRefresh {
    std::int32_t statusCode = -1;
    std::wstring statusText;  // read with the code, so the two always match
    CBurnProgress::Snapshot progress;
    double burnSeconds = 0;
    bool running = false;   // its worker thread still runs
    bool finished = false;  // the worker set its final status (not none, starting or burning)
    bool failed = false;    // finished with another status than success
    // What the camera's row shows while the run goes on: the status, but for
    // a camera whose worker succeeded after writing flash, "Restarting...": it
    // reboots as it leaves upgrade mode, and is neither back nor verified yet.
    std::wstring rowText;
};

// Adds the lap since the previous refresh to the camera's burn time while its
// worker runs, then reads status, progress and burn time. The burn time is the
// sum of the laps measured here: the last part of a run, after the final
// refresh, is not added, so a front end must refresh at a steady pace.
CameraRefresh RefreshCamera(CU3VDevice& camera);

// The worker has not set its final status yet: not started, starting or burning.
bool IsStillWriting(std::int32_t statusCode);
