#pragma once

// The application object: runs the main dialog modally and returns the
// process's exit status, which is 0 in every case.
class CFlashwrightApp {
public:
    int Run(int argc, char** argv);

    // Dispatches pending window events; installed as the message-pump hook so
    // waits on the user-interface thread keep the window alive.
    static void PumpEvents();
};
