#include "dialog/FlashwrightApp.h"

int main(int argc, char** argv) {
    CFlashwrightApp app;
    return app.Run(argc, argv);
}
