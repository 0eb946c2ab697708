// Appends upgrade-history records in a loop, as many runs would, for the tests
// that kill it mid-append or run two of it at once.
// Usage: history_writer PATH TAG COUNT CAMERAS
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/History.h"
#include "support/Platform.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: history_writer PATH TAG COUNT CAMERAS\n");
        return 64;
    }
    const std::wstring path = platform::AnsiToWide(argv[1]);
    const std::string tag = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const long cameras = std::strtol(argv[4], nullptr, 10);
    for (long i = 0; count <= 0 || i < count; ++i) {
        RunReport record;
        record.state = ERunState::kCompleted;
        record.started = HistoryTimestamp();
        record.ended = record.started;
        record.frontEnd = tag + "#" + std::to_string(i);
        for (long c = 0; c < cameras; ++c) {
            CameraReport camera;
            camera.selected = true;
            camera.name = tag + "-" + std::to_string(c);
            camera.model = "ORV-2C";
            camera.failureText = std::string(200, static_cast<char>('a' + c % 26));
            record.cameras.push_back(camera);
        }
        std::wstring error;
        if (!AppendHistoryRecord(path, record, error)) {
            std::fprintf(stderr, "%s\n", platform::WideToAnsi(error).c_str());
            return 1;
        }
    }
    return 0;
}
