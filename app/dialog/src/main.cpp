#include <iostream>

#include "dialog/CommandLine.h"
#include "dialog/FlashwrightApp.h"

int main(int argc, char** argv) {
    // --help and --version are answered before any window or display exists.
    if (const auto status = AnswerInformationOption(argc, argv, std::cout)) return *status;
    CFlashwrightApp app;
    return app.Run(argc, argv);
}
